// Block layer of the stream: symbols, their statistics, the three code tables
// of a block and the bits that carry them.
#ifndef STUBKIT_BLOCK_CODER_H
#define STUBKIT_BLOCK_CODER_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace stubkit {

constexpr int kSymbolCount = 510;        // 0-255 literals, 256-509 lengths 3-256
constexpr int kPositionCount = 45;
constexpr int kLengthCodeCount = 19;
constexpr size_t kMaxBlockSymbols = 65535;

// Appends bits most significant first.
class BitWriter {
public:
    void Put(uint32_t value, int count)
    {
        buffer_ = (buffer_ << count) | (value & ((uint64_t{1} << count) - 1));
        pending_ += count;
        while (pending_ >= 8) {
            pending_ -= 8;
            bytes_.push_back(static_cast<uint8_t>(buffer_ >> pending_));
        }
    }
    // Pads the last byte with zero bits.
    void AlignToByte()
    {
        if (pending_ > 0)
            Put(0, 8 - pending_);
    }
    // Hands out the complete bytes written so far.
    std::vector<uint8_t> TakeBytes()
    {
        std::vector<uint8_t> taken;
        taken.swap(bytes_);
        return taken;
    }

private:
    std::vector<uint8_t> bytes_;
    uint64_t buffer_ = 0;
    int pending_ = 0;
};

// A literal (code < 256, distance 0) or a match (code = length + 253).
struct Symbol {
    uint16_t code;
    uint32_t distance;

    static Symbol Literal(uint8_t byte) { return {byte, 0}; }
    static Symbol Match(uint32_t length, uint32_t distance)
    {
        return {static_cast<uint16_t>(length + 253), distance};
    }
    bool IsMatch() const { return code >= 256; }
    uint32_t Length() const { return IsMatch() ? code - 253u : 1u; }
};

// Position codes: 0-3 are positions themselves; code j >= 4 covers
// (2 + j mod 2) * 2^(j/2 - 1) plus j/2 - 1 extra bits.
inline int PositionCode(uint32_t position)
{
    if (position <= 3)
        return static_cast<int>(position);
    int bit_length = 32 - __builtin_clz(position);
    return 2 * (bit_length - 1) + ((position >> (bit_length - 2)) & 1);
}
inline int PositionExtraBits(int code) { return code <= 3 ? 0 : code / 2 - 1; }
inline uint32_t PositionBase(int code)
{
    return code <= 3 ? static_cast<uint32_t>(code) : (2u + (code & 1)) << (code / 2 - 1);
}

struct Histogram {
    uint32_t symbols[kSymbolCount] = {};
    uint32_t positions[kPositionCount] = {};
    uint64_t extra_bits = 0;

    void Add(const Symbol& symbol)
    {
        ++symbols[symbol.code];
        if (symbol.IsMatch()) {
            int code = PositionCode(symbol.distance - 1);
            ++positions[code];
            extra_bits += PositionExtraBits(code);
        }
    }
    void Add(const Symbol* symbols, size_t count)
    {
        for (size_t i = 0; i < count; ++i)
            Add(symbols[i]);
    }
};

// One token of the literal/length code lengths as the length-code alphabet
// codes them.
struct LengthToken {
    uint8_t code;         // 0: one zero, 1: 3-18 zeros, 2: 20-531 zeros, 3-18: lengths 1-16
    uint16_t extra;
    uint8_t extra_bits;
};

// The three code tables of one block and what they cost.
struct BlockCode {
    std::vector<uint8_t> symbol_lengths, position_lengths, length_code_lengths;
    std::vector<uint16_t> symbol_codes, position_codes, length_code_codes;
    std::vector<LengthToken> tokens;
    int single_symbol = -1, single_position = -1, single_length_code = -1;
    uint64_t header_bits = 0;
};

BlockCode PlanBlock(const Histogram& histogram);
// Exact size in bits of a block with these statistics and code.
uint64_t BlockBits(const Histogram& histogram, const BlockCode& code);
// Writes one block: symbol count, tables, symbols (count <= kMaxBlockSymbols).
void WriteBlock(BitWriter& out, const Symbol* symbols, size_t count, const BlockCode& code);

// Block boundaries for a run of symbols, chosen by coded size; each block has
// at most kMaxBlockSymbols symbols. Returns the block ends.
std::vector<size_t> SplitBlocks(const Symbol* symbols, size_t count, int effort);

// The same by dynamic programming: the cheapest sequence of blocks whose
// boundaries lie on a grid of `step` symbols (the end included), each
// boundary then moved to the cheapest place within a step of it, on a grid
// of step / 32. Slower than SplitBlocks, smaller for the same symbols.
std::vector<size_t> SplitBlocksExhaustive(const Symbol* symbols, size_t count, size_t step);

// Exact size in bits of the blocks ending at `ends`.
uint64_t BlocksBits(const Symbol* symbols, const std::vector<size_t>& ends);

}  // namespace stubkit

#endif
