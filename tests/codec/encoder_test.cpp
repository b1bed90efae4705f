// The encoder against the installer's decoder, and the code tables it plans.
#include <gtest/gtest.h>

#include <fstream>
#include <numeric>
#include <random>

#include "stubkit/encoder/block_coder.h"
#include "stubkit/encoder/encoder.h"
#include "stubkit/encoder/huffman.h"
#include "stubkit/encoder/level_settings.h"
#include "stubkit/encoder/segment_search.h"
#include "tests/codec/codec_test.h"

namespace stubkit {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Random(size_t size, uint32_t seed)
{
    Bytes bytes(size);
    std::generate(bytes.begin(), bytes.end(), std::mt19937(seed));
    return bytes;
}

// Word salad: compressible, with matches at every distance.
Bytes Text(size_t size, uint32_t seed)
{
    const std::string words = "installer payload window stream the of and block\nsymbol code table, folder ";
    std::mt19937 random(seed);
    Bytes bytes;
    for (size_t start = 0; bytes.size() < size; start = random() % words.size())
        bytes.insert(bytes.end(), words.begin() + start, words.begin() + words.find(' ', start) + 1);
    bytes.resize(size);
    return bytes;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A real Windows DLL when the Wine package is installed.
Bytes WindowsBinary()
{
    std::ifstream file("/usr/lib/i386-linux-gnu/wine/i386-windows/comctl32.dll", std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

// Encodes, decodes with the installer's decoder and returns the stream's size.
size_t RoundTrip(const Bytes& input, int level)
{
    Bytes stream = EncodeBuffer(input.data(), input.size(), level);
    codec_test::Decoded decoded = codec_test::Decode(stream, static_cast<uint32_t>(input.size()));
    EXPECT_TRUE(decoded.output == input)
        << "level " << level << ": " << decoded.output.size() << " of " << input.size() << " bytes";
    EXPECT_LE(decoded.fetches, stream.size() + 2) << "level " << level;   // no reading past the lookahead
    return stream.size();
}

struct RoundTripCase {
    const char* name;
    Bytes input;
    std::vector<int> levels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
};
class RoundTripTest : public testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTripTest, DecodesToTheInput)
{
    for (int level : GetParam().levels)
        RoundTrip(GetParam().input, level);
}

INSTANTIATE_TEST_SUITE_P(Inputs, RoundTripTest, testing::Values(
    RoundTripCase{"Empty", Bytes()},
    RoundTripCase{"OneByte", Bytes{'a'}},
    RoundTripCase{"TwoBytes", Bytes{' ', ' '}},
    RoundTripCase{"ThreeSpaces", Bytes(3, ' ')},
    RoundTripCase{"AroundTwoFiftySix", Concat({Bytes(255, 'x'), Bytes{'y'}, Bytes(257, 'x')})},
    RoundTripCase{"TextSeveralBlocks", Text(600000, 1)},
    RoundTripCase{"RandomAcrossSymbolLimit", Random(200000, 2)},
    RoundTripCase{"LongRuns", Concat({Bytes(1 << 20, 0), Bytes(70000, 0xFF), Text(1000, 3), Bytes(300000, 0)})},
    RoundTripCase{"WindowsBinary", WindowsBinary(), {1, 5, 9, 10}}),
    [](const auto& info) { return info.param.name; });

TEST(EncoderTest, FindsRepeatsAcrossTheWholeWindow)
{
    // A random block repeated at the longest distance the stream allows can
    // only shrink through that match. The 9 MiB input also crosses two window
    // ends in the decoder.
    Bytes block = Random(100000, 4);
    Bytes input = Concat({block, Random((1 << 22) - 100001, 5), block, Random(5 << 20, 6), block});
    for (int level : {1, 5, 9}) {
        size_t size = RoundTrip(input, level);
        EXPECT_TRUE(level < 5 || size + 90000 < input.size()) << "level " << level << ": " << size;
    }
}

TEST(EncoderTest, PieceSizesDoNotChangeTheStream)
{
    Bytes input = Concat({Text(700000, 7), Random(50000, 8), Text(300000, 9)});
    for (int level : {2, 7}) {
        Bytes pieces;
        StreamEncoder encoder(level, [&](const uint8_t* bytes, size_t n) { pieces.insert(pieces.end(), bytes, bytes + n); });
        std::mt19937 random(level);
        for (size_t done = 0, size = 0; done < input.size(); done += size) {
            size = std::min<size_t>(input.size() - done, random() % 70000);
            encoder.Write(input.data() + done, size);
        }
        encoder.Finish();
        EXPECT_TRUE(pieces == EncodeBuffer(input.data(), input.size(), level)) << "level " << level;
    }
}

// A segment whose positions have far more matches than a search group's
// budget: prefixes of one string planted before it, the newest shortest, so
// the search meets ever longer matches at every position of its end. The
// planted part fills whole segments; the string is the last one alone.
Bytes FullSearchGroup(size_t planted_size = 300)
{
    Bytes target = Random(planted_size, 14);
    for (uint8_t& byte : target)
        byte = 'a' + byte % 2;
    Bytes planted;
    for (size_t length = planted_size; length >= kMinMatch; --length) {
        planted.insert(planted.end(), target.begin(), target.begin() + length);
        planted.push_back('c');
    }
    Bytes filler = Random(kConcurrentSpan - planted.size() % kConcurrentSpan, 15);
    for (uint8_t& byte : filler)
        byte = 'd' + byte % 20;
    return Concat({filler, planted, target});
}

TEST(EncoderTest, PlantedPrefixesOverfillASearchGroup)
{
    // Without this the thread test below would not see a full group.
    Bytes input = FullSearchGroup();
    InputWindow window(2 * kConcurrentSpan + kMaxMatch);
    window.Append(input.data(), input.size());
    BinaryTreeFinder finder(SettingsForLevel(kBestLevel).search_depth, kMaxMatch);
    SegmentSearch search;
    size_t matches = 0, positions = 0;
    for (uint64_t start = 0; start < input.size(); start += kConcurrentSpan) {
        positions = std::min<size_t>(kConcurrentSpan, input.size() - start);
        search.Plan(window, start, positions);
        search.SearchPart(finder, window, 0, 1);
    }
    search.Index();
    for (size_t offset = 0; offset < positions; ++offset) {
        int count = 0;
        search.MatchesAt(offset, &count);
        matches += count;
    }
    // Past its budget a group keeps one match per position; a group that held
    // every match would have far more.
    EXPECT_LT(matches, (SegmentSearch::kMatchesPerPosition + 1) * positions);
    EXPECT_GT(matches, positions);
}

TEST(EncoderTest, ThreadCountDoesNotChangeTheStream)
{
    // Several segments, with repeats reaching back across their boundaries
    // and a long run, so threads search buckets of every kind side by side;
    // and a segment that fills a search group's budget.
    Bytes text = Text(400000, 11);
    const Bytes inputs[] = {Concat({text, Random(300000, 12), Bytes(100000, 0), text, Random(1000, 13), text}),
                            FullSearchGroup()};
    for (const Bytes& input : inputs) {
        for (int level : {5, 9, kUltraLevel}) {
            if (level == kUltraLevel && input.size() > 1000000)
                continue;   // its search is -9's; its parse runs on one thread
            Bytes one = EncodeBuffer(input.data(), input.size(), level, 1);
            for (int threads : {2, 3})
                EXPECT_TRUE(EncodeBuffer(input.data(), input.size(), level, threads) == one)
                    << "level " << level << ", " << threads << " threads, " << input.size() << " bytes";
            EXPECT_TRUE(codec_test::Decode(one, static_cast<uint32_t>(input.size())).output == input)
                << "level " << level;
        }
    }
}

TEST(EncoderTest, HigherLevelsCompressBetter)
{
    Bytes input = Concat({Text(400000, 10), WindowsBinary()});
    auto size = [&](int level, size_t length) { return EncodeBuffer(input.data(), length, level).size(); };
    size_t fastest = size(1, input.size()), middle = size(5, input.size()), best = size(9, input.size());
    EXPECT_TRUE(best < middle && middle < fastest) << fastest << ", " << middle << ", " << best << " bytes";
    // Past -9, on text whose statistics drift: there a parse fitted to the
    // code of a block still open made -12 larger than -11.
    Bytes text = Text(1500000, 21);
    auto text_size = [&](int level) { return EncodeBuffer(text.data(), text.size(), level).size(); };
    size_t ultra = text_size(kUltraLevel), eleven = text_size(kUltraLevel - 1), nine = text_size(kBestLevel);
    EXPECT_TRUE(ultra < eleven && eleven < nine) << nine << ", " << eleven << ", " << ultra << " bytes";
}

TEST(EncoderTest, PlannedTablesAreCompleteCodesWithinSixteenBits)
{
    // Skewed enough that plain Huffman would need more than 16 bits.
    Histogram histogram;
    for (int symbol = 0; symbol < kSymbolCount; ++symbol)
        histogram.symbols[symbol] = symbol < 29 ? 1u << symbol : 1 + symbol % 5;
    for (int code = 0; code < 44; ++code)
        histogram.positions[code] = 1u << (code % 25);
    BlockCode code = PlanBlock(histogram);
    for (const std::vector<uint8_t>* lengths : {&code.symbol_lengths, &code.position_lengths, &code.length_code_lengths}) {
        ASSERT_LE(*std::max_element(lengths->begin(), lengths->end()), 16);
        EXPECT_EQ(std::accumulate(lengths->begin(), lengths->end(), 0u,   // 2^16 for a complete code
                                  [](uint32_t sum, uint8_t length) { return sum + (length ? 65536u >> length : 0); }),
                  65536u);
    }
    EXPECT_EQ(code.position_lengths[44], 0) << "position code 44 must stay unused";
}

TEST(EncoderTest, CodeLengthsAreOptimalWhereTheLimitDoesNotBind)
{
    // Plain Huffman: 1+2 -> 3, 3+3 -> 6, 6+6 -> 12, 10+12.
    EXPECT_EQ(LimitedCodeLengths({10, 1, 0, 3, 6, 2}), (std::vector<uint8_t>{1, 4, 0, 3, 2, 4}));
    EXPECT_EQ(LimitedCodeLengths({5, 0, 9}), (std::vector<uint8_t>{1, 0, 1}));
    // The quick lengths cost the same, within the limit too (the last table
    // needs more than 16 bits unlimited).
    std::mt19937 random(16);
    std::vector<std::vector<uint32_t>> tables = {{10, 1, 0, 3, 6, 2}, {0, 7}};
    for (int size : {2, 45, 510})
        tables.push_back(std::vector<uint32_t>(size, 0)), std::generate(tables.back().begin(), tables.back().end(), [&] { return random() % 3 ? random() % 5000 : 0; });
    for (int symbol = 0; symbol < 40; ++symbol)
        tables.back().push_back(uint32_t{1} << (symbol % 28));
    for (const std::vector<uint32_t>& frequencies : tables) {
        std::vector<uint8_t> quick(frequencies.size()), exact = LimitedCodeLengths(frequencies);
        QuickCodeLengths(frequencies.data(), static_cast<int>(frequencies.size()), quick.data());
        uint64_t quick_bits = 0, exact_bits = 0;
        for (size_t i = 0; i < frequencies.size(); ++i) {
            quick_bits += uint64_t{frequencies[i]} * quick[i];
            exact_bits += uint64_t{frequencies[i]} * exact[i];
        }
        EXPECT_EQ(quick_bits, exact_bits) << frequencies.size() << " symbols";
        EXPECT_LE(*std::max_element(quick.begin(), quick.end()), 16);
    }
}

TEST(EncoderTest, ExhaustiveSplitIsNoWorseAndKeepsTheBlockLimit)
{
    // Text literals, noise literals, then long runs of one match: the
    // statistics change twice, and the last stretch is longer than a block.
    std::vector<Symbol> symbols;
    for (uint8_t byte : Text(30000, 17))
        symbols.push_back(Symbol::Literal(byte));
    for (uint8_t byte : Random(20000, 18))
        symbols.push_back(Symbol::Literal(byte));
    symbols.insert(symbols.end(), 100000, Symbol::Match(256, 1));
    std::vector<size_t> quick = SplitBlocks(symbols.data(), symbols.size(), 32);
    for (size_t step : {size_t{512}, size_t{4096}}) {
        std::vector<size_t> ends = SplitBlocksExhaustive(symbols.data(), symbols.size(), step);
        ASSERT_FALSE(ends.empty());
        EXPECT_EQ(ends.back(), symbols.size());
        for (size_t k = 0; k < ends.size(); ++k)
            EXPECT_LE(ends[k] - (k == 0 ? 0 : ends[k - 1]), kMaxBlockSymbols) << "block " << k;
        EXPECT_LE(BlocksBits(symbols.data(), ends), BlocksBits(symbols.data(), quick)) << "grid " << step;
    }
}

}  // namespace
}  // namespace stubkit
