// Test-side writer of raw streams, bit by bit, so decoder cases can be built
// exactly as the format lays them out, independent of the encoder.
#ifndef STUBKIT_TESTS_CODEC_STREAM_WRITER_H
#define STUBKIT_TESTS_CODEC_STREAM_WRITER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace codec_test {

class BitWriter {
public:
    // Appends the low n bits of value, most significant first.
    void Put(uint32_t value, int n);
    // Appends bits written as text, e.g. "10 110"; spaces are ignored.
    void PutBits(const std::string& bits);
    // Every bit so far, the last byte padded with zeros.
    std::vector<uint8_t> Bytes() const;
    size_t BitCount() const { return bit_count_; }

private:
    std::vector<uint8_t> bytes_;
    size_t bit_count_ = 0;
};

// One block's three tables. An empty length vector selects the single-symbol
// form with the given symbol.
struct BlockTables {
    std::vector<int> length_code_lengths;   // 19 entries, or empty
    int single_length_code = 0;
    std::vector<int> symbol_lengths;        // 510 entries, or empty
    int single_symbol = 0;
    std::vector<int> position_lengths;      // 45 entries, or empty
    int single_position = 0;
};

// A complete 19-symbol length-code alphabet: thirteen 4-bit and six 5-bit codes.
std::vector<int> EveryLengthCode();

// Canonical codes for the given lengths (value right-aligned, 0 for no code).
std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths);

class StreamWriter : public BitWriter {
public:
    void Block(uint16_t symbol_count, const BlockTables& tables);
    void EndBlock() { Put(0, 16); }
    void Literal(uint8_t byte) { PutSymbol(byte); }
    // A match of length 3..256 at `position` (copy distance position + 1).
    void Match(int length, uint32_t position);
    // A match written with an explicit position code and extra-bit value.
    void MatchWithCode(int length, int position_code, uint32_t extra);
    // The length symbol and position code only; the caller writes extra bits.
    void MatchHead(int length, int position_code);

private:
    void PutSymbol(int symbol);
    void PutShortLengths(const std::vector<int>& lengths, int width, bool zero_run_field);
    void PutSymbolLengths(const std::vector<int>& lengths);
    void PutCode(const std::vector<int>& lengths, const std::vector<uint32_t>& codes, int symbol);

    BlockTables tables_;
    std::vector<uint32_t> length_codes_, symbol_codes_, position_codes_;
};

}  // namespace codec_test

#endif
