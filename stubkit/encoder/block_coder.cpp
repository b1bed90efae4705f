#include "stubkit/encoder/block_coder.h"

#include <algorithm>

#include "stubkit/encoder/huffman.h"

namespace stubkit {
namespace {

int UsedSymbols(const uint32_t* frequencies, int size, int* last_used)
{
    int used = 0;
    for (int symbol = 0; symbol < size; ++symbol) {
        if (frequencies[symbol] > 0) {
            ++used;
            *last_used = symbol;
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

int CountField(const uint8_t* lengths, int size)
{
    int count = size;
    while (count > 0 && lengths[count - 1] == 0)
        --count;
    return count;
}
int CountField(const std::vector<uint8_t>& lengths)
{
    return CountField(lengths.data(), static_cast<int>(lengths.size()));
}

// The length-code alphabet's zero-run field covers up to three zero lengths
// right after the third length.
int LengthCodeZeroRun(const uint8_t* lengths, int count)
{
    int run = 0;
    while (run < 3 && 3 + run < count && lengths[3 + run] == 0)
        ++run;
    return run;
}

uint64_t ShortTableBits(const uint8_t* lengths, int size, int width, bool zero_run_field)
{
    int count = CountField(lengths, size);
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
            int run = LengthCodeZeroRun(lengths.data(), count);
            out.Put(run, 2);
            i += run;
        }
    }
}

// Writes the tokens of the literal/length code lengths; returns their number
// (at most one per length).
int TokenizeLengths(const uint8_t* lengths, LengthToken* tokens)
{
    int written = 0;
    int count = CountField(lengths, kSymbolCount);
    for (int i = 0; i < count;) {
        if (lengths[i] != 0) {
            tokens[written++] = {static_cast<uint8_t>(lengths[i] + 2), 0, 0};
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
                tokens[written++] = {2, static_cast<uint16_t>(take - 20), 9};
                run -= take;
            } else if (run >= 3) {
                int take = std::min(run, 18);
                tokens[written++] = {1, static_cast<uint16_t>(take - 3), 4};
                run -= take;
            } else {
                tokens[written++] = {0, 0, 0};
                run -= 1;
            }
        }
    }
    return written;
}

using CodeLengthsFunction = void (*)(const uint32_t* frequencies, int count, uint8_t* lengths, int max_length);
constexpr CodeLengthsFunction kExactLengths = LimitedCodeLengths;

// Plans a length-code or position alphabet: the single-symbol form when at most
// one symbol is used, else a length-limited code. Returns its table's bits.
uint64_t PlanShortAlphabet(const uint32_t* counts, int size, int width, bool zero_run_field,
                           int* single, uint8_t* lengths, CodeLengthsFunction code_lengths)
{
    int last = 0;
    if (UsedSymbols(counts, size, &last) <= 1) {
        *single = last;
        std::fill(lengths, lengths + size, 0);
        return 2 * width;
    }
    code_lengths(counts, size, lengths, kMaxCodeLength);
    return ShortTableBits(lengths, size, width, zero_run_field);
}

// Code lengths of the three alphabets and the header's size, in fixed space:
// the splitter prices thousands of candidate blocks this way.
struct BlockLengths {
    uint8_t symbol[kSymbolCount];
    uint8_t position[kPositionCount];
    uint8_t length_code[kLengthCodeCount];
    LengthToken tokens[kSymbolCount];
    int token_count = 0;
    int single_symbol = -1, single_position = -1, single_length_code = -1;
    uint64_t header_bits = 0;
};

void PlanLengths(const Histogram& histogram, BlockLengths& plan, CodeLengthsFunction code_lengths = kExactLengths)
{
    int last = 0;
    uint64_t bits = 16;

    // Literal/length alphabet, and through it the length-code alphabet.
    if (UsedSymbols(histogram.symbols, kSymbolCount, &last) <= 1) {
        plan.single_symbol = last;
        plan.single_length_code = 0;
        std::fill(plan.symbol, plan.symbol + kSymbolCount, 0);
        std::fill(plan.length_code, plan.length_code + kLengthCodeCount, 0);
        bits += 5 + 5 + 9 + 9;
    } else {
        code_lengths(histogram.symbols, kSymbolCount, plan.symbol, kMaxCodeLength);
        plan.token_count = TokenizeLengths(plan.symbol, plan.tokens);
        uint32_t token_counts[kLengthCodeCount] = {};
        for (int i = 0; i < plan.token_count; ++i)
            ++token_counts[plan.tokens[i].code];
        bits += PlanShortAlphabet(token_counts, kLengthCodeCount, 5, true, &plan.single_length_code,
                                  plan.length_code, code_lengths);
        bits += 9;
        for (int i = 0; i < plan.token_count; ++i)
            bits += plan.length_code[plan.tokens[i].code] + plan.tokens[i].extra_bits;
    }

    // Position alphabet.
    bits += PlanShortAlphabet(histogram.positions, kPositionCount, 14, false, &plan.single_position,
                              plan.position, code_lengths);
    plan.header_bits = bits;
}

uint64_t DataBits(const Histogram& histogram, const uint8_t* symbol_lengths, const uint8_t* position_lengths)
{
    uint64_t bits = histogram.extra_bits;
    for (int symbol = 0; symbol < kSymbolCount; ++symbol)
        bits += uint64_t{histogram.symbols[symbol]} * symbol_lengths[symbol];
    for (int position = 0; position < kPositionCount; ++position)
        bits += uint64_t{histogram.positions[position]} * position_lengths[position];
    return bits;
}

}  // namespace

BlockCode PlanBlock(const Histogram& histogram)
{
    BlockLengths plan;
    PlanLengths(histogram, plan);
    BlockCode code;
    code.symbol_lengths.assign(plan.symbol, plan.symbol + kSymbolCount);
    code.position_lengths.assign(plan.position, plan.position + kPositionCount);
    code.single_symbol = plan.single_symbol;
    code.single_position = plan.single_position;
    code.single_length_code = plan.single_length_code;
    code.header_bits = plan.header_bits;
    if (plan.single_symbol < 0) {
        code.symbol_codes = CanonicalCodes(code.symbol_lengths);
        code.tokens.assign(plan.tokens, plan.tokens + plan.token_count);
        code.length_code_lengths.assign(plan.length_code, plan.length_code + kLengthCodeCount);
        if (plan.single_length_code < 0)
            code.length_code_codes = CanonicalCodes(code.length_code_lengths);
    } else {
        code.length_code_lengths.assign(kLengthCodeCount, 0);
    }
    if (plan.single_position < 0)
        code.position_codes = CanonicalCodes(code.position_lengths);
    return code;
}

uint64_t BlockBits(const Histogram& histogram, const BlockCode& code)
{
    return code.header_bits + DataBits(histogram, code.symbol_lengths.data(), code.position_lengths.data());
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

// quick: priced with QuickCodeLengths, for choosing among candidate blocks.
uint64_t PlannedBits(const Histogram& histogram, bool quick = false)
{
    BlockLengths plan;
    PlanLengths(histogram, plan, quick ? QuickCodeLengths : kExactLengths);
    return plan.header_bits + DataBits(histogram, plan.symbol, plan.position);
}

// A range longer than a block can hold is never chosen whole.
constexpr uint64_t kUnusableBits = UINT64_MAX / 4;

uint64_t RangeBits(const Symbol* symbols, size_t begin, size_t end)
{
    if (end - begin > kMaxBlockSymbols)
        return kUnusableBits;
    Histogram histogram;
    histogram.Add(symbols + begin, end - begin);
    return PlannedBits(histogram);
}

void AddHistogram(Histogram& sum, const Histogram& part)
{
    for (int i = 0; i < kSymbolCount; ++i)
        sum.symbols[i] += part.symbols[i];
    for (int i = 0; i < kPositionCount; ++i)
        sum.positions[i] += part.positions[i];
    sum.extra_bits += part.extra_bits;
}

void SubtractHistogram(Histogram& sum, const Histogram& part)
{
    for (int i = 0; i < kSymbolCount; ++i)
        sum.symbols[i] -= part.symbols[i];
    for (int i = 0; i < kPositionCount; ++i)
        sum.positions[i] -= part.positions[i];
    sum.extra_bits -= part.extra_bits;
}

// Splits [begin, end) where the two halves cost less than the whole, trying a
// few evenly spaced cut points, and recurses into both sides. The statistics
// of both sides of every cut come from one pass over the range: the left
// side grows by the piece before the cut, the right side is what remains.
void SplitRange(const Symbol* symbols, size_t begin, size_t end, uint64_t whole_bits, int effort,
                std::vector<size_t>& ends)
{
    const size_t kMinBlock = 1024;
    if (end - begin >= 2 * kMinBlock) {
        int cuts = effort;
        uint64_t best_bits = whole_bits, best_left = 0, best_right = 0;
        size_t best_cut = 0;
        Histogram left_histogram, right_histogram;
        right_histogram.Add(symbols + begin, end - begin);
        size_t previous_cut = begin;
        for (int k = 1; k < cuts; ++k) {
            size_t cut = begin + (end - begin) * k / cuts;
            Histogram piece;
            piece.Add(symbols + previous_cut, cut - previous_cut);
            AddHistogram(left_histogram, piece);
            SubtractHistogram(right_histogram, piece);
            previous_cut = cut;
            uint64_t left = cut - begin > kMaxBlockSymbols ? kUnusableBits : PlannedBits(left_histogram);
            uint64_t right = end - cut > kMaxBlockSymbols ? kUnusableBits : PlannedBits(right_histogram);
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

namespace {

// Moves the boundary between the blocks [begin, middle) and [middle, end) to
// the cheapest place within `reach` of it, trying every `grain` symbols.
size_t BestBoundary(const Symbol* symbols, size_t begin, size_t middle, size_t end, size_t reach, size_t grain)
{
    const size_t low = std::max({begin + 1, middle > reach ? middle - reach : 0,
                                 end > kMaxBlockSymbols ? end - kMaxBlockSymbols : 0});
    const size_t high = std::min({end - 1, middle + reach, begin + kMaxBlockSymbols});
    if (low > high)
        return middle;
    Histogram left, right;
    left.Add(symbols + begin, low - begin);
    right.Add(symbols + low, end - low);
    uint64_t best_bits = PlannedBits(left, true) + PlannedBits(right, true);
    size_t best = low;
    for (size_t cut = low; cut + grain <= high;) {
        Histogram piece;
        piece.Add(symbols + cut, grain);
        AddHistogram(left, piece);
        SubtractHistogram(right, piece);
        cut += grain;
        uint64_t bits = PlannedBits(left, true) + PlannedBits(right, true);
        if (bits < best_bits) {
            best_bits = bits;
            best = cut;
        }
    }
    return best;
}

}  // namespace

std::vector<size_t> SplitBlocksExhaustive(const Symbol* symbols, size_t count, size_t step)
{
    std::vector<size_t> ends;
    if (count == 0)
        return ends;
    step = std::clamp<size_t>(step, 16, kMaxBlockSymbols);
    std::vector<size_t> grid;
    for (size_t at = 0; at < count; at += step)
        grid.push_back(at);
    grid.push_back(count);
    // prefix[k]: the statistics of the symbols before grid[k].
    std::vector<Histogram> prefix(grid.size());
    for (size_t k = 1; k < grid.size(); ++k) {
        prefix[k] = prefix[k - 1];
        prefix[k].Add(symbols + grid[k - 1], grid[k] - grid[k - 1]);
    }
    // best[j]: the cheapest blocks for the symbols before grid[j], the last
    // of them starting at grid[from[j]].
    std::vector<uint64_t> best(grid.size(), UINT64_MAX);
    std::vector<size_t> from(grid.size(), 0);
    best[0] = 0;
    Histogram range;
    for (size_t j = 1; j < grid.size(); ++j) {
        for (size_t i = j; i-- > 0 && grid[j] - grid[i] <= kMaxBlockSymbols;) {
            range = prefix[j];
            SubtractHistogram(range, prefix[i]);
            uint64_t bits = best[i] + PlannedBits(range, true);
            if (bits < best[j]) {
                best[j] = bits;
                from[j] = i;
            }
        }
    }
    for (size_t j = grid.size() - 1; j > 0; j = from[j])
        ends.push_back(grid[j]);
    std::reverse(ends.begin(), ends.end());
    const size_t grain = std::max<size_t>(step / 32, 1);
    for (size_t k = 0; k + 1 < ends.size(); ++k)
        ends[k] = BestBoundary(symbols, k == 0 ? 0 : ends[k - 1], ends[k], ends[k + 1], step, grain);
    return ends;
}

uint64_t BlocksBits(const Symbol* symbols, const std::vector<size_t>& ends)
{
    uint64_t bits = 0;
    size_t begin = 0;
    for (size_t end : ends) {
        bits += RangeBits(symbols, begin, end);
        begin = end;
    }
    return bits;
}

}  // namespace stubkit
