#include "stubkit/encoder/encoder.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "stubkit/encoder/block_coder.h"
#include "stubkit/encoder/match_finder.h"

namespace stubkit {
namespace {

// Input is parsed a segment at a time; blocks are cut from the symbols of
// several segments once enough have gathered for the splitter to choose.
constexpr size_t kSegmentSize = 1 << 18;
constexpr size_t kFlushSymbols = 4 * kMaxBlockSymbols;

struct LevelSettings {
    bool binary_tree;
    int search_depth;
    uint32_t nice_length;
    bool lazy;
    int optimal_passes;       // 0: greedy/lazy parse
    int split_effort;
    int hash_bits;
    int hash_bytes;
};

LevelSettings SettingsFor(int level)
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
    };
    if (level < kFastestLevel || level > kBestLevel)
        throw std::invalid_argument("compression level must be 1 to 9");
    return kLevels[level - 1];
}

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
    static constexpr int kMaxCodeLengthPrice = 16;
};

}  // namespace

struct StreamEncoder::State {
    LevelSettings settings;
    Output output;
    InputWindow input{2 * kSegmentSize + kMaxMatch};
    std::unique_ptr<MatchFinder> finder;
    std::vector<Symbol> pending;
    BitWriter bits;
    Histogram recent;
    bool have_recent = false;
    bool finished = false;

    // Per segment work space of the optimal parser.
    std::vector<uint32_t> match_start;
    std::vector<Match> matches;
    std::vector<float> cost;
    std::vector<Symbol> arrival;
    std::vector<Symbol> parsed;

    void EncodeSegment(size_t size);
    void ParseLazy(size_t size);
    void ParseOptimal(size_t size);
    void GatherMatches(size_t size);
    void ShortestPath(const uint8_t* bytes, size_t size, const Prices& prices);
    void FlushBlocks(bool final);
    void Emit();
};

StreamEncoder::StreamEncoder(int level, Output output) : state_(std::make_unique<State>())
{
    state_->settings = SettingsFor(level);
    state_->output = std::move(output);
    const LevelSettings& settings = state_->settings;
    if (settings.binary_tree)
        state_->finder = std::make_unique<BinaryTreeFinder>(settings.search_depth, kMaxMatch);
    else
        state_->finder = std::make_unique<HashChainFinder>(
            settings.search_depth, settings.nice_length, settings.hash_bits, settings.hash_bytes);
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
    state.FlushBlocks(true);
    state.bits.AlignToByte();
    state.Emit();
    state.finished = true;
}

void StreamEncoder::State::EncodeSegment(size_t size)
{
    if (settings.optimal_passes > 0)
        ParseOptimal(size);
    else
        ParseLazy(size);
    if (pending.size() >= kFlushSymbols)
        FlushBlocks(false);
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

// Collects the matches at every position of the segment, clipped to its end.
// After a match of at least the nice length the positions it covers are only
// inserted, since the parse takes such a match whole.
void StreamEncoder::State::GatherMatches(size_t size)
{
    match_start.assign(size + 1, 0);
    matches.clear();
    Match found[kMaxMatch + 1];
    size_t i = 0;
    while (i < size) {
        match_start[i] = static_cast<uint32_t>(matches.size());
        uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(kMaxMatch, input.Lookahead()));
        int count = finder->FindAndAdvance(input, limit, found);
        uint32_t room = static_cast<uint32_t>(size - i);
        uint32_t longest = 0;
        for (int k = 0; k < count; ++k) {
            uint32_t length = std::min(found[k].length, room);
            if (length < kMinMatch || length <= longest)
                continue;
            matches.push_back({length, found[k].distance});
            longest = length;
        }
        ++i;
        if (longest >= settings.nice_length) {
            for (uint32_t skip = 1; skip < longest; ++skip, ++i) {
                match_start[i] = static_cast<uint32_t>(matches.size());
                limit = static_cast<uint32_t>(std::min<uint64_t>(kMaxMatch, input.Lookahead()));
                finder->SkipAndAdvance(input, limit);
            }
        }
    }
    match_start[size] = static_cast<uint32_t>(matches.size());
}

// Cheapest way through the segment under the given prices: cost[i] is the
// cost of the first i bytes, arrival[i] the last symbol on that path.
void StreamEncoder::State::ShortestPath(const uint8_t* bytes, size_t size, const Prices& prices)
{
    cost.assign(size + 1, INFINITY);
    arrival.assign(size + 1, Symbol{0, 0});
    cost[0] = 0;
    for (size_t i = 0; i < size; ++i) {
        float here = cost[i];
        float literal = here + prices.symbol[bytes[i]];
        if (literal < cost[i + 1]) {
            cost[i + 1] = literal;
            arrival[i + 1] = Symbol::Literal(bytes[i]);
        }
        uint32_t shorter = kMinMatch - 1;
        for (uint32_t k = match_start[i]; k < match_start[i + 1]; ++k) {
            const Match& match = matches[k];
            float distance_price = here + prices.position[PositionCode(match.distance - 1)];
            for (uint32_t length = shorter + 1; length <= match.length; ++length) {
                float total = distance_price + prices.symbol[length + 253];
                if (total < cost[i + length]) {
                    cost[i + length] = total;
                    arrival[i + length] = Symbol::Match(length, match.distance);
                }
            }
            shorter = match.length;
        }
    }
    parsed.clear();
    for (size_t i = size; i > 0; i -= arrival[i].Length())
        parsed.push_back(arrival[i]);
    std::reverse(parsed.begin(), parsed.end());
}

// Optimal parse: shortest paths under prices from the previous output, then
// again under the prices of the path just found.
void StreamEncoder::State::ParseOptimal(size_t size)
{
    // The window only slides when input is appended, so the bytes stay put.
    const uint8_t* bytes = input.At(input.Position());
    GatherMatches(size);
    Prices prices;
    if (have_recent)
        prices.From(recent);
    else
        prices.Defaults();
    for (int pass = 0; pass < settings.optimal_passes; ++pass) {
        ShortestPath(bytes, size, prices);
        Histogram histogram;
        histogram.Add(parsed.data(), parsed.size());
        prices.From(histogram);
        recent = histogram;
        have_recent = true;
    }
    pending.insert(pending.end(), parsed.begin(), parsed.end());
}

void StreamEncoder::State::FlushBlocks(bool final)
{
    std::vector<size_t> ends = SplitBlocks(pending.data(), pending.size(), settings.split_effort);
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

std::vector<std::uint8_t> EncodeBuffer(const std::uint8_t* bytes, std::size_t size, int level)
{
    std::vector<std::uint8_t> stream;
    StreamEncoder encoder(level, [&](const std::uint8_t* piece, std::size_t length) {
        stream.insert(stream.end(), piece, piece + length);
    });
    encoder.Write(bytes, size);
    encoder.Finish();
    return stream;
}

}  // namespace stubkit
