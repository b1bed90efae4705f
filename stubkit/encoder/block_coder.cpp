#include "stubkit/encoder/block_coder.h"

#include <algorithm>

#include "stubkit/encoder/huffman.h"

namespace stubkit {
namespace {

int UsedSymbols(const std::vector<uint32_t>& frequencies, int* last_used)
{
    int used = 0;
    for (size_t symbol = 0; symbol < frequencies.size(); ++symbol) {
        if (frequencies[symbol] > 0) {
            ++used;
            *last_used = static_cast<int>(symbol);
        }
    }
    return used;
}

// Lengths of the small alphabets: 3 bits below 7, else 111, one 1 per unit
// above 7, and a closing 0.
int ShortLengthBits(int length) { return length < 7 ? 3 : length - 3; }

void PutShortLength(BitWriter& out, int length)
{
    if (length < 7) {
        out.Put(length, 3);
        return;
    }
    out.Put(7, 3);
    out.Put((1u << (length - 7)) - 1, length - 7);
    out.Put(0, 1);
}

int CountField(const std::vector<uint8_t>& lengths)
{
    int count = static_cast<int>(lengths.size());
    while (count > 0 && lengths[count - 1] == 0)
        --count;
    return count;
}

// The length-code alphabet's zero-run field covers up to three zero lengths
// right after the third length.
int LengthCodeZeroRun(const std::vector<uint8_t>& lengths, int count)
{
    int run = 0;
    while (run < 3 && 3 + run < count && lengths[3 + run] == 0)
        ++run;
    return run;
}

uint64_t ShortTableBits(const std::vector<uint8_t>& lengths, int width, bool zero_run_field)
{
    int count = CountField(lengths);
    uint64_t bits = width;
    for (int i = 0; i < count; ++i) {
        bits += ShortLengthBits(lengths[i]);
        if (zero_run_field && i == 2) {
            bits += 2;
            i += LengthCodeZeroRun(lengths, count);
        }
    }
    return bits;
}

void PutShortTable(BitWriter& out, const std::vector<uint8_t>& lengths, int single, int width,
                   bool zero_run_field)
{
    if (single >= 0) {
        out.Put(0, width);
        out.Put(single, width);
        return;
    }
    int count = CountField(lengths);
    out.Put(count, width);
    for (int i = 0; i < count; ++i) {
        PutShortLength(out, lengths[i]);
        if (zero_run_field && i == 2) {
            int run = LengthCodeZeroRun(lengths, count);
            out.Put(run, 2);
            i += run;
        }
    }
}

std::vector<LengthToken> TokenizeLengths(const std::vector<uint8_t>& lengths)
{
    std::vector<LengthToken> tokens;
    int count = CountField(lengths);
    for (int i = 0; i < count;) {
        if (lengths[i] != 0) {
            tokens.push_back({static_cast<uint8_t>(lengths[i] + 2), 0, 0});
            ++i;
            continue;
        }
        int run = 0;
        while (i + run < count && lengths[i + run] == 0)
            ++run;
        i += run;
        while (run > 0) {
            if (run >= 20) {
                int take = std::min(run, 531);
                tokens.push_back({2, static_cast<uint16_t>(take - 20), 9});
                run -= take;
            } else if (run >= 3) {
                int take = std::min(run, 18);
                tokens.push_back({1, static_cast<uint16_t>(take - 3), 4});
                run -= take;
            } else {
                tokens.push_back({0, 0, 0});
                run -= 1;
            }
        }
    }
    return tokens;
}

// Plans a length-code or position alphabet: the single-symbol form when at most
// one symbol is used, else a length-limited code. Returns its table's bits.
uint64_t PlanShortAlphabet(const std::vector<uint32_t>& counts, int width, bool zero_run_field,
                           int* single, std::vector<uint8_t>* lengths,
                           std::vector<uint16_t>* codes)
{
    int last = 0;
    if (UsedSymbols(counts, &last) <= 1) {
        *single = last;
        lengths->assign(counts.size(), 0);
        return 2 * width;
    }
    *lengths = LimitedCodeLengths(counts);
    *codes = CanonicalCodes(*lengths);
    return ShortTableBits(*lengths, width, zero_run_field);
}

}  // namespace

BlockCode PlanBlock(const Histogram& histogram)
{
    BlockCode code;
    std::vector<uint32_t> symbols(histogram.symbols, histogram.symbols + kSymbolCount);
    std::vector<uint32_t> positions(histogram.positions, histogram.positions + kPositionCount);
    int last = 0;
    uint64_t bits = 16;

    // Literal/length alphabet, and through it the length-code alphabet.
    if (UsedSymbols(symbols, &last) <= 1) {
        code.single_symbol = last;
        code.single_length_code = 0;
        code.symbol_lengths.assign(kSymbolCount, 0);
        bits += 5 + 5 + 9 + 9;
    } else {
        code.symbol_lengths = LimitedCodeLengths(symbols);
        code.symbol_codes = CanonicalCodes(code.symbol_lengths);
        code.tokens = TokenizeLengths(code.symbol_lengths);
        std::vector<uint32_t> token_counts(kLengthCodeCount, 0);
        for (const LengthToken& token : code.tokens)
            ++token_counts[token.code];
        bits += PlanShortAlphabet(token_counts, 5, true, &code.single_length_code,
                                  &code.length_code_lengths, &code.length_code_codes);
        bits += 9;
        for (const LengthToken& token : code.tokens)
            bits += code.length_code_lengths[token.code] + token.extra_bits;
    }

    // Position alphabet.
    bits += PlanShortAlphabet(positions, 14, false, &code.single_position,
                              &code.position_lengths, &code.position_codes);
    code.header_bits = bits;
    return code;
}

uint64_t BlockBits(const Histogram& histogram, const BlockCode& code)
{
    uint64_t bits = code.header_bits + histogram.extra_bits;
    for (int symbol = 0; symbol < kSymbolCount; ++symbol)
        bits += uint64_t{histogram.symbols[symbol]} * code.symbol_lengths[symbol];
    for (int position = 0; position < kPositionCount; ++position)
        bits += uint64_t{histogram.positions[position]} * code.position_lengths[position];
    return bits;
}

void WriteBlock(BitWriter& out, const Symbol* symbols, size_t count, const BlockCode& code)
{
    out.Put(static_cast<uint32_t>(count), 16);
    PutShortTable(out, code.length_code_lengths, code.single_length_code, 5, true);
    if (code.single_symbol >= 0) {
        out.Put(0, 9);
        out.Put(code.single_symbol, 9);
    } else {
        out.Put(CountField(code.symbol_lengths), 9);
        for (const LengthToken& token : code.tokens) {
            if (code.single_length_code < 0)
                out.Put(code.length_code_codes[token.code], code.length_code_lengths[token.code]);
            out.Put(token.extra, token.extra_bits);
        }
    }
    PutShortTable(out, code.position_lengths, code.single_position, 14, false);

    for (size_t i = 0; i < count; ++i) {
        const Symbol& symbol = symbols[i];
        if (code.single_symbol < 0)
            out.Put(code.symbol_codes[symbol.code], code.symbol_lengths[symbol.code]);
        if (!symbol.IsMatch())
            continue;
        uint32_t position = symbol.distance - 1;
        int position_code = PositionCode(position);
        if (code.single_position < 0)
            out.Put(code.position_codes[position_code], code.position_lengths[position_code]);
        // Extra bits wider than 16 go low half first.
        int extra_bits = PositionExtraBits(position_code);
        uint32_t extra = position - PositionBase(position_code);
        if (extra_bits > 16) {
            out.Put(extra & 0xFFFF, 16);
            out.Put(extra >> 16, extra_bits - 16);
        } else {
            out.Put(extra, extra_bits);
        }
    }
}

namespace {

uint64_t RangeBits(const Symbol* symbols, size_t begin, size_t end)
{
    if (end - begin > kMaxBlockSymbols)
        return UINT64_MAX / 4;
    Histogram histogram;
    histogram.Add(symbols + begin, end - begin);
    return BlockBits(histogram, PlanBlock(histogram));
}

// Splits [begin, end) where the two halves cost less than the whole, trying a
// few evenly spaced cut points, and recurses into both sides.
void SplitRange(const Symbol* symbols, size_t begin, size_t end, uint64_t whole_bits, int effort,
                std::vector<size_t>& ends)
{
    const size_t kMinBlock = 1024;
    if (end - begin >= 2 * kMinBlock) {
        int cuts = effort;
        uint64_t best_bits = whole_bits, best_left = 0, best_right = 0;
        size_t best_cut = 0;
        for (int k = 1; k < cuts; ++k) {
            size_t cut = begin + (end - begin) * k / cuts;
            uint64_t left = RangeBits(symbols, begin, cut);
            uint64_t right = RangeBits(symbols, cut, end);
            if (left + right < best_bits) {
                best_bits = left + right;
                best_cut = cut;
                best_left = left;
                best_right = right;
            }
        }
        if (best_cut != 0) {
            SplitRange(symbols, begin, best_cut, best_left, effort, ends);
            SplitRange(symbols, best_cut, end, best_right, effort, ends);
            return;
        }
    }
    if (end - begin > kMaxBlockSymbols) {
        // Only reachable for tiny minimum sizes; keep the limit regardless.
        size_t cut = begin + kMaxBlockSymbols;
        ends.push_back(cut);
        SplitRange(symbols, cut, end, RangeBits(symbols, cut, end), effort, ends);
        return;
    }
    ends.push_back(end);
}

}  // namespace

std::vector<size_t> SplitBlocks(const Symbol* symbols, size_t count, int effort)
{
    std::vector<size_t> ends;
    if (count == 0)
        return ends;
    SplitRange(symbols, 0, count, RangeBits(symbols, 0, count), std::max(effort, 2), ends);
    return ends;
}

}  // namespace stubkit
