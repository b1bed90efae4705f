#include "stubkit/encoder/encoder.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "stubkit/encoder/block_coder.h"
#include "stubkit/encoder/level_settings.h"
#include "stubkit/encoder/match_finder.h"
#include "stubkit/encoder/segment_search.h"

namespace stubkit {
namespace {

// Input is parsed a segment at a time; blocks are cut from the symbols of
// several segments once enough have gathered for the splitter to choose.
constexpr size_t kSegmentSize = kConcurrentSpan;
constexpr size_t kFlushSymbols = 4 * kMaxBlockSymbols;

}  // namespace

LevelSettings SettingsForLevel(int level)
{
    static const LevelSettings kLevels[] = {
        {false, 4, 32, false, 0, 2, 16, 4},         // 1
        {false, 8, 64, true, 0, 4, 18, 4},          // 2
        {false, 32, 128, true, 0, 4, 20, 3},        // 3
        {false, 64, 128, true, 0, 8, 20, 3},        // 4
        {true, 12, 64, false, 1, 8, 20, 3},         // 5
        {true, 24, 96, false, 1, 8, 20, 3},         // 6
        {true, 48, 128, false, 2, 8, 20, 3},        // 7
        {true, 96, 192, false, 2, 12, 20, 3},       // 8
        {true, 192, 256, false, 3, 32, 20, 3},      // 9
        {true, 192, 256, false, 3, 32, 20, 3, 2, 2048, 64},     // 10
        {true, 256, 256, false, 3, 32, 20, 3, 4, 1024, 128},    // 11
        {true, 512, 256, false, 3, 32, 20, 3, 8, 512, 256, 2},  // 12
    };
    if (level < kFastestLevel || level > kUltraLevel)
        throw std::invalid_argument("compression level must be 1 to " + std::to_string(kUltraLevel));
    return kLevels[level - 1];
}

namespace {

// Bit costs of every symbol under the statistics of recent output. Unseen
// symbols count as a quarter occurrence (at most 16 bits): expensive, but not
// so much that the parse can never start using them. Smoother or sharper
// prices both measured worse.
struct Prices {
    float symbol[kSymbolCount];
    float position[kPositionCount];

    void From(const Histogram& histogram)
    {
        Fill(histogram.symbols, kSymbolCount, symbol);
        Fill(histogram.positions, kPositionCount, position);
        for (int code = 0; code < kPositionCount; ++code)
            position[code] += PositionExtraBits(code);
    }
    void Defaults()
    {
        Histogram histogram;
        for (int byte = 0; byte < 256; ++byte)
            histogram.symbols[byte] = 8;
        for (int length = 3; length <= 256; ++length)
            histogram.symbols[length + 253] = 1 + 64 / (length * length);
        for (int code = 0; code < kPositionCount; ++code)
            histogram.positions[code] = 4;
        From(histogram);
    }
    // The code lengths of a planned block; a symbol without a code costs
    // `unused` bits, about what a first use would take once its length is in
    // the table.
    void From(const BlockCode& code, float unused)
    {
        FillLengths(code.symbol_lengths, code.single_symbol, unused, symbol);
        FillLengths(code.position_lengths, code.single_position, unused, position);
        for (int code_number = 0; code_number < kPositionCount; ++code_number)
            position[code_number] += PositionExtraBits(code_number);
    }
    float Match(uint32_t length, uint32_t distance) const
    {
        return symbol[length + 253] + position[PositionCode(distance - 1)];
    }

private:
    static void Fill(const uint32_t* counts, int size, float* prices)
    {
        double total = 0;
        for (int i = 0; i < size; ++i)
            total += counts[i] + 0.25;
        for (int i = 0; i < size; ++i)
            prices[i] = static_cast<float>(
                std::min(std::log2(total / (counts[i] + 0.25)), double{kMaxCodeLengthPrice}));
    }
    static void FillLengths(const std::vector<uint8_t>& lengths, int single, float unused, float* prices)
    {
        for (size_t i = 0; i < lengths.size(); ++i)
            prices[i] = lengths[i] != 0 ? lengths[i] : static_cast<int>(i) == single ? 0.0f : unused;
    }
    static constexpr int kMaxCodeLengthPrice = 16;
};

// Prices in force from `start` (a byte offset in the segment) on.
struct PricedRange {
    size_t start;
    const Prices* prices;
};

// Runs main_work on this thread while jobs 0 .. jobs - 1 run on `threads`
// threads in all, this one included once main_work is done.
void RunAlongside(int threads, int jobs, const std::function<void(int)>& job,
                  const std::function<void()>& main_work)
{
    std::atomic<int> next_job{0};
    auto take_jobs = [&] {
        for (int taken; (taken = next_job++) < jobs;)
            job(taken);
    };
    std::mutex failure_lock;
    std::exception_ptr failure;
    std::vector<std::thread> helpers;
    try {
        for (int helper = 1; helper < std::min(threads, jobs + 1); ++helper) {
            helpers.emplace_back([&] {
                try {
                    take_jobs();
                } catch (...) {
                    std::lock_guard<std::mutex> lock(failure_lock);
                    failure = std::current_exception();
                }
            });
        }
        main_work();
        take_jobs();
    } catch (...) {
        // The helpers use this frame: they finish their job and stop first.
        next_job = jobs;
        for (std::thread& helper : helpers)
            helper.join();
        throw;
    }
    for (std::thread& helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

}  // namespace

struct StreamEncoder::State {
    LevelSettings settings;
    Output output;
    int threads = 1;
    InputWindow input{2 * kSegmentSize + kMaxMatch};
    std::unique_ptr<MatchFinder> finder;        // levels that parse lazily
    std::unique_ptr<BinaryTreeFinder> tree;     // levels that parse optimally
    std::vector<Symbol> pending;
    BitWriter bits;
    Histogram recent;
    bool have_recent = false;
    bool finished = false;

    // The optimal levels search one segment while the one before it is parsed.
    std::unique_ptr<SegmentSearch[]> searches;   // two, at those levels only
    int searched = 0;              // searches[searched] waits for its parse
    bool parse_waiting = false;

    // Per segment work space of the optimal parser.
    std::vector<float> cost;
    std::vector<uint32_t> arrival;   // packed, see PackArrival
    std::vector<Symbol> parsed;
    std::vector<size_t> parsed_ends;   // levels 10-12: the blocks of pending, once parsed

    void EncodeSegment(size_t size);
    void SearchSegment(size_t size);
    void ParseWaitingSegment();
    void FlushIfFull();
    void ParseLazy(size_t size);
    void ParseOptimal(SegmentSearch& search);
    void GatherMatches(SegmentSearch& search);
    void ShortestPath(SegmentSearch& search, const uint8_t* bytes, const std::vector<PricedRange>& ranges);
    void ParseByBlocks(SegmentSearch& search, const uint8_t* bytes);
    uint64_t SplitWithParsed(size_t carried, std::vector<size_t>* ends);
    size_t SplitStep(size_t symbols) const
    {
        return settings.split_points == 0 ? settings.split_step
                                          : std::max(settings.split_step, symbols / settings.split_points);
    }
    void FlushBlocks(bool final, std::vector<size_t> ends = {});
    void Emit();
};

StreamEncoder::StreamEncoder(int level, Output output, int threads)
    : StreamEncoder(SettingsForLevel(level), std::move(output), threads) {}

StreamEncoder::StreamEncoder(const LevelSettings& settings_row, Output output, int threads)
    : state_(std::make_unique<State>())
{
    state_->settings = settings_row;
    state_->output = std::move(output);
    if (threads < 1 || threads > kMaxThreads)
        throw std::invalid_argument("thread count must be 1 to " + std::to_string(kMaxThreads));
    state_->threads = threads;
    const LevelSettings& settings = state_->settings;
    if (settings.optimal_passes > 0) {
        state_->tree = std::make_unique<BinaryTreeFinder>(settings.search_depth, kMaxMatch);
        state_->searches = std::make_unique<SegmentSearch[]>(2);
    } else {
        state_->finder = std::make_unique<HashChainFinder>(
            settings.search_depth, settings.nice_length, settings.hash_bits, settings.hash_bytes);
    }
}

StreamEncoder::~StreamEncoder() = default;

void StreamEncoder::Write(const std::uint8_t* bytes, std::size_t size)
{
    State& state = *state_;
    if (state.finished)
        throw std::logic_error("StreamEncoder::Write after Finish");
    while (size > 0) {
        size_t taken = state.input.Append(bytes, size);
        bytes += taken;
        size -= taken;
        if (state.input.End() > UINT32_MAX)
            throw std::length_error("stream input is limited to 4 GiB - 1 bytes");
        while (state.input.Lookahead() >= kSegmentSize + kMaxMatch)
            state.EncodeSegment(kSegmentSize);
    }
}

void StreamEncoder::Finish()
{
    State& state = *state_;
    if (state.finished)
        return;
    while (state.input.Lookahead() > 0)
        state.EncodeSegment(std::min(kSegmentSize, state.input.Lookahead()));
    state.ParseWaitingSegment();
    state.FlushBlocks(true);
    state.bits.AlignToByte();
    state.Emit();
    state.finished = true;
}

void StreamEncoder::State::EncodeSegment(size_t size)
{
    if (tree) {
        SearchSegment(size);
        return;
    }
    ParseLazy(size);
    FlushIfFull();
}

void StreamEncoder::State::FlushIfFull()
{
    if (pending.size() >= kFlushSymbols)
        FlushBlocks(false);
}

// Searches the next `size` bytes on every thread while this one first parses
// the segment searched before. The parse depends on the one before it (its
// prices and the pending blocks), the search only on the input, so both
// orders give the same stream.
void StreamEncoder::State::SearchSegment(size_t size)
{
    SegmentSearch& search = searches[1 - searched];
    search.Plan(input, input.Position(), size);
    // More parts than threads: the thread that parses takes the ones left.
    const int parts = threads == 1 ? 1 : std::min(2 * threads, SegmentSearch::kGroups);
    RunAlongside(
        threads, parts, [&](int part) { search.SearchPart(*tree, input, part, parts); },
        [&] { ParseWaitingSegment(); });
    input.Advance(size);
    searched = 1 - searched;
    parse_waiting = true;
}

void StreamEncoder::State::ParseWaitingSegment()
{
    if (!parse_waiting)
        return;
    parse_waiting = false;
    ParseOptimal(searches[searched]);
    if (settings.block_passes > 0)
        FlushBlocks(false, std::move(parsed_ends));
    else
        FlushIfFull();
}

// Greedy or one-step lazy parse: a match is taken unless the next position
// starts a longer one. Short matches far away cost more than their literals.
void StreamEncoder::State::ParseLazy(size_t size)
{
    const uint64_t end = input.Position() + size;
    Match found[kMaxMatch + 1];
    auto limit = [&] { return static_cast<uint32_t>(std::min<uint64_t>(kMaxMatch, input.Lookahead())); };
    auto best_at_current = [&](Match* best) {
        uint64_t position = input.Position();
        int count = finder->FindAndAdvance(input, limit(), found);
        *best = {0, 0};
        for (int i = count - 1; i >= 0; --i) {
            uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(found[i].length, end - position));
            // A short match pays a length code, a position code and up to 21
            // extra bits: far away, that costs more than its literals.
            bool worth = length >= 5 || (length == 4 && found[i].distance <= (1u << 17)) ||
                         (length == 3 && found[i].distance <= (1u << 12));
            if (length >= kMinMatch && worth) {
                *best = {length, found[i].distance};
                break;
            }
        }
    };
    // The finder always stands one byte past `position` once `current` is known.
    uint64_t position = input.Position();
    Match current;
    bool have_current = false;
    while (position < end) {
        if (!have_current)
            best_at_current(&current);
        have_current = false;
        if (current.length < kMinMatch) {
            pending.push_back(Symbol::Literal(*input.At(position)));
            ++position;
            continue;
        }
        uint32_t already_searched = 1;
        if (settings.lazy && current.length < settings.nice_length && position + 1 < end) {
            Match next;
            best_at_current(&next);
            if (next.length > current.length) {
                pending.push_back(Symbol::Literal(*input.At(position)));
                ++position;
                current = next;
                have_current = true;
                continue;
            }
            already_searched = 2;
        }
        pending.push_back(Symbol::Match(current.length, current.distance));
        for (uint32_t i = already_searched; i < current.length; ++i)
            finder->SkipAndAdvance(input, limit());
        position += current.length;
    }
}

// Prepares the matches of every position for the parse: clipped to the
// segment's end, and none at the positions that a match of at least the nice
// length covers, since the parse takes such a match whole.
void StreamEncoder::State::GatherMatches(SegmentSearch& search)
{
    search.Index();
    const size_t size = search.Size();
    size_t i = 0;
    while (i < size) {
        int count = 0;
        uint32_t* found = search.MatchesAt(i, &count);
        uint32_t room = static_cast<uint32_t>(size - i);
        uint32_t longest = 0;
        int kept = 0;
        for (int k = 0; k < count; ++k) {
            uint32_t length = std::min(PackedLength(found[k]), room);
            if (length < kMinMatch || length <= longest)
                continue;
            found[kept++] = PackMatch(length, PackedDistance(found[k]));
            longest = length;
        }
        search.SetCount(i, kept);
        ++i;
        if (longest >= settings.nice_length) {
            for (uint32_t skip = 1; skip < longest; ++skip, ++i)
                search.SetCount(i, 0);
        }
    }
}

namespace {

// How the cheapest path arrives at a position: length 1 is a literal, else a
// match of that length from `distance` back.
inline uint32_t PackArrival(uint32_t length, uint32_t distance) { return distance << 9 | length; }
inline uint32_t ArrivalLength(uint32_t arrival) { return arrival & 511; }
inline uint32_t ArrivalDistance(uint32_t arrival) { return arrival >> 9; }

// Offers the match lengths first..last from one distance to the positions
// they reach: cost[length] and arrival[length] are those of the position
// `length` bytes on. Each position is offered one price, so doing four
// lengths at a time decides exactly as one at a time does.
void OfferLengths(const float* length_prices, float distance_price, uint32_t first, uint32_t last,
                  uint32_t distance, float* cost, uint32_t* arrival)
{
    uint32_t length = first;
#if defined(__SSE2__)
    const __m128 base = _mm_set1_ps(distance_price);
    const __m128i step = _mm_set1_epi32(4);
    __m128i packed = _mm_add_epi32(_mm_set1_epi32(static_cast<int>(PackArrival(first, distance))),
                                   _mm_setr_epi32(0, 1, 2, 3));
    for (; length + 3 <= last; length += 4) {
        __m128 total = _mm_add_ps(base, _mm_loadu_ps(length_prices + length));
        __m128 old_cost = _mm_loadu_ps(cost + length);
        __m128 better = _mm_cmplt_ps(total, old_cost);
        __m128i keep = _mm_castps_si128(better);
        _mm_storeu_ps(cost + length, _mm_or_ps(_mm_and_ps(better, total), _mm_andnot_ps(better, old_cost)));
        __m128i old_arrival = _mm_loadu_si128(reinterpret_cast<const __m128i*>(arrival + length));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(arrival + length),
                         _mm_or_si128(_mm_and_si128(keep, packed), _mm_andnot_si128(keep, old_arrival)));
        packed = _mm_add_epi32(packed, step);
    }
#endif
    for (; length <= last; ++length) {
        float total = distance_price + length_prices[length];
        if (total < cost[length]) {
            cost[length] = total;
            arrival[length] = PackArrival(length, distance);
        }
    }
}

}  // namespace

// Cheapest way through the segment under the given prices: cost[i] is the
// cost of the first i bytes, arrival[i] the last symbol on that path.
void StreamEncoder::State::ShortestPath(SegmentSearch& search, const uint8_t* bytes,
                                        const std::vector<PricedRange>& ranges)
{
    const size_t size = search.Size();
    cost.assign(size + 1, INFINITY);
    arrival.assign(size + 1, PackArrival(1, 0));
    cost[0] = 0;
    size_t next_range = 1;
    const Prices* prices = ranges[0].prices;
    for (size_t i = 0; i < size; ++i) {
        if (next_range < ranges.size() && ranges[next_range].start == i)
            prices = ranges[next_range++].prices;
        // Prices by match length rather than by symbol.
        const float* length_prices = prices->symbol + 253;
        float here = cost[i];
        float literal = here + prices->symbol[bytes[i]];
        if (literal < cost[i + 1]) {
            cost[i + 1] = literal;
            arrival[i + 1] = PackArrival(1, 0);
        }
        uint32_t shorter = kMinMatch - 1;
        int count = 0;
        const uint32_t* matches = search.MatchesAt(i, &count);
        for (int k = 0; k < count; ++k) {
            uint32_t length = PackedLength(matches[k]), distance = PackedDistance(matches[k]);
            float distance_price = here + prices->position[PositionCode(distance - 1)];
            OfferLengths(length_prices, distance_price, shorter + 1, length, distance, &cost[i], &arrival[i]);
            shorter = length;
        }
    }
    parsed.clear();
    for (size_t i = size; i > 0; i -= ArrivalLength(arrival[i])) {
        uint32_t length = ArrivalLength(arrival[i]);
        parsed.push_back(length == 1 ? Symbol::Literal(bytes[i - 1])
                                     : Symbol::Match(length, ArrivalDistance(arrival[i])));
    }
    std::reverse(parsed.begin(), parsed.end());
}

// Optimal parse: shortest paths under prices from the previous output, then
// again under the prices of the path just found.
void StreamEncoder::State::ParseOptimal(SegmentSearch& search)
{
    // The window keeps a full window of history behind the segment searched
    // now, so the bytes of the one before it are still there.
    const uint8_t* bytes = input.At(search.Start());
    GatherMatches(search);
    Prices prices;
    if (have_recent)
        prices.From(recent);
    else
        prices.Defaults();
    for (int pass = 0; pass < settings.optimal_passes; ++pass) {
        ShortestPath(search, bytes, {{0, &prices}});
        Histogram histogram;
        histogram.Add(parsed.data(), parsed.size());
        prices.From(histogram);
        recent = histogram;
        have_recent = true;
    }
    if (settings.block_passes > 0)
        ParseByBlocks(search, bytes);
    pending.insert(pending.end(), parsed.begin(), parsed.end());
}

// Splits pending (its first `carried` symbols) followed by the parse into
// blocks; returns their coded size. Leaves the parse's symbols in pending.
uint64_t StreamEncoder::State::SplitWithParsed(size_t carried, std::vector<size_t>* ends)
{
    pending.resize(carried);
    pending.insert(pending.end(), parsed.begin(), parsed.end());
    *ends = SplitBlocksExhaustive(pending.data(), pending.size(), SplitStep(pending.size()));
    return BlocksBits(pending.data(), *ends);
}

// Parses the segment again under the code lengths of the blocks its symbols
// fell into, as long as that makes the blocks smaller: the parse then pays
// for each symbol what its block will charge (the last block, still open,
// charges by its symbols' frequencies). The symbols still pending from
// the segment before are part of the blocks but keep their parse.
void StreamEncoder::State::ParseByBlocks(SegmentSearch& search, const uint8_t* bytes)
{
    const size_t carried = pending.size();
    std::vector<size_t> ends;
    uint64_t best_bits = SplitWithParsed(carried, &ends);
    std::vector<Symbol> best = parsed;
    parsed_ends = ends;
    std::vector<Prices> block_prices;
    std::vector<PricedRange> ranges;
    for (int pass = 0, fruitless = 0; pass < settings.block_passes && fruitless < settings.pass_patience; ++pass) {
        block_prices.clear();
        ranges.clear();
        block_prices.reserve(ends.size());
        size_t begin = 0, offset = 0, symbol = carried;
        for (size_t end : ends) {
            if (end <= carried) {
                begin = end;
                continue;
            }
            Histogram histogram;
            histogram.Add(pending.data() + begin, end - begin);
            block_prices.emplace_back();
            if (end == pending.size()) {
                // The last block stays open: the next segment's symbols join
                // it or cut it, and its code changes. Priced by its code
                // lengths, every further pass fitted the segment's tail more
                // tightly to a code it would not get, and more passes gave
                // larger streams.
                block_prices.back().From(histogram);
            } else {
                const float unused =
                    std::min(18.0f, settings.unused_extra_bits + std::log2(static_cast<float>(end - begin)));
                block_prices.back().From(PlanBlock(histogram), unused);
            }
            ranges.push_back({offset, &block_prices.back()});
            for (; symbol < end; ++symbol)
                offset += pending[symbol].Length();
            begin = end;
        }
        ShortestPath(search, bytes, ranges);
        uint64_t bits = SplitWithParsed(carried, &ends);
        if (bits >= best_bits) {
            ++fruitless;
            continue;
        }
        fruitless = 0;
        best_bits = bits;
        best = parsed;
        parsed_ends = ends;
    }
    pending.resize(carried);
    parsed.swap(best);
    // The next segment starts from the prices of the block it continues.
    const size_t last_begin = parsed_ends.size() > 1 ? parsed_ends[parsed_ends.size() - 2] : 0;
    pending.insert(pending.end(), parsed.begin(), parsed.end());
    recent = Histogram();
    recent.Add(pending.data() + last_begin, pending.size() - last_begin);
    pending.resize(carried);
}

void StreamEncoder::State::FlushBlocks(bool final, std::vector<size_t> ends)
{
    if (ends.empty())
        ends = settings.split_step > 0 ? SplitBlocksExhaustive(pending.data(), pending.size(), SplitStep(pending.size()))
                                       : SplitBlocks(pending.data(), pending.size(), settings.split_effort);
    // The last block may still grow with the next segment's symbols.
    if (!final && ends.size() > 1)
        ends.pop_back();
    size_t begin = 0;
    for (size_t end : ends) {
        Histogram histogram;
        histogram.Add(pending.data() + begin, end - begin);
        WriteBlock(bits, pending.data() + begin, end - begin, PlanBlock(histogram));
        begin = end;
    }
    pending.erase(pending.begin(), pending.begin() + begin);
    Emit();
}

void StreamEncoder::State::Emit()
{
    std::vector<uint8_t> bytes = bits.TakeBytes();
    if (!bytes.empty())
        output(bytes.data(), bytes.size());
}

std::vector<std::uint8_t> EncodeBuffer(const std::uint8_t* bytes, std::size_t size, int level, int threads)
{
    std::vector<std::uint8_t> stream;
    StreamEncoder encoder(level, [&](const std::uint8_t* piece, std::size_t length) {
        stream.insert(stream.end(), piece, piece + length);
    }, threads);
    encoder.Write(bytes, size);
    encoder.Finish();
    return stream;
}

}  // namespace stubkit
