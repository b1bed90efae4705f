// Decoder cases built bit by bit, each aimed at one way a decoder goes wrong.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "payload/stream_decoder.h"
#include "tests/codec/decode_harness.h"
#include "tests/codec/stream_writer.h"

namespace codec_test {
namespace {

constexpr uint32_t kWindow = DecoderWindowSize;

std::vector<int> Lengths(size_t size, const std::map<int, int>& nonzero)
{
    std::vector<int> lengths(size, 0);
    for (auto [symbol, length] : nonzero)
        lengths[symbol] = length;
    return lengths;
}

// Complete codes over whole alphabets: 2 x 8 + 508 x 9 bits, 19 x 5 + 26 x 6 bits.
std::vector<int> EverySymbol()
{
    std::vector<int> lengths(510, 9);
    lengths[0] = lengths[1] = 8;
    return lengths;
}

std::vector<int> EveryPosition()
{
    std::vector<int> lengths(45, 6);
    for (int i = 0; i < 19; ++i)
        lengths[i] = 5;
    return lengths;
}

// 1, 2, ..., 15, 16, 16 bits over `symbols` in order: a complete code whose
// longest codes pass every level of the overflow tree.
std::vector<int> Skewed(size_t size, const std::vector<int>& symbols)
{
    std::vector<int> lengths(size, 0);
    for (size_t i = 0; i < symbols.size(); ++i)
        lengths[symbols[i]] = std::min<int>(static_cast<int>(i) + 1, 16);
    return lengths;
}

BlockTables EveryCode()
{
    BlockTables tables;
    tables.length_code_lengths = EveryLengthCode();
    tables.symbol_lengths = EverySymbol();
    tables.position_lengths = EveryPosition();
    return tables;
}

// Literals 0-3 with lengths 2, 1, 3, 3: codes 10, 0, 110, 111.
BlockTables FourLiterals()
{
    BlockTables tables;
    tables.length_code_lengths = EveryLengthCode();
    tables.symbol_lengths = Lengths(510, {{0, 2}, {1, 1}, {2, 3}, {3, 3}});
    return tables;
}

// Writes a stream and, beside it, the output the byte-by-byte definition gives.
struct Script {
    StreamWriter writer;
    std::vector<uint8_t> expected;

    void Literal(uint8_t byte)
    {
        writer.Literal(byte);
        expected.push_back(byte);
    }
    void Match(int length, uint32_t position)
    {
        writer.Match(length, position);
        for (int i = 0; i < length; ++i) {
            int64_t from = static_cast<int64_t>(expected.size()) - position - 1;
            expected.push_back(from < 0 ? ' ' : expected[from]);
        }
    }
    // Runs of `byte` up to `size` bytes of output, as one literal and matches.
    void Fill(uint8_t byte, size_t size)
    {
        Literal(byte);
        while (expected.size() < size)
            Match(static_cast<int>(std::min<size_t>(256, size - expected.size())), 0);
    }
    std::vector<uint8_t> Stream() const { return writer.Bytes(); }
    uint32_t Total() const { return static_cast<uint32_t>(expected.size()); }
};

TEST(DecoderTest, CanonicalCodesFollowLengthThenSymbolOrder)
{
    StreamWriter writer;
    writer.Block(6, FourLiterals());
    writer.PutBits("10 0 110 111 0 10");
    EXPECT_EQ(Decode(writer.Bytes(), 6).output, (std::vector<uint8_t>{0, 1, 2, 3, 1, 0}));
}

TEST(DecoderTest, LongExtraBitsTakeTheFirstSixteenAsLowHalf)
{
    // Position code 38 has 18 extra bits: 0000000000000001 then 11 means
    // 3 * 65536 + 1, so the copy starts at the 'B' of byte 0. Read the other way
    // round (1 * 4 + 3) it would land among the 'A's.
    Script script;
    script.writer.Block(2819, EveryCode());
    script.Literal('B');
    script.Fill('A', 720898);
    script.writer.MatchHead(3, 38);
    script.writer.PutBits("0000000000000001 11");
    std::vector<uint8_t> output = Decode(script.Stream(), 720901).output;
    ASSERT_EQ(output.size(), 720901u);
    EXPECT_EQ(std::string(output.end() - 3, output.end()), "BAA");
}

struct CopyCase {
    const char* name;
    std::vector<std::pair<int, uint32_t>> matches;   // length, position; after "xyz"
};

class DecoderCopyTest : public testing::TestWithParam<CopyCase> {};

TEST_P(DecoderCopyTest, MatchesCopyByteByByte)
{
    Script script;
    script.writer.Block(static_cast<uint16_t>(3 + GetParam().matches.size()), EveryCode());
    for (char c : std::string("xyz"))
        script.Literal(c);
    for (auto [length, position] : GetParam().matches)
        script.Match(length, position);
    EXPECT_EQ(Decode(script.Stream(), script.Total()).output, script.expected);
}

INSTANTIATE_TEST_SUITE_P(Copies, DecoderCopyTest, testing::Values(
    CopyCase{"DistanceOneRepeatsLastByte", {{256, 0}}},
    CopyCase{"OverlapRepeatsPattern", {{7, 1}, {20, 4}}},
    CopyCase{"ReachBeforeFirstByteCopiesSpaces", {{4, 4}, {10, 100}}},
    CopyCase{"LongestDistanceInsideOutput", {{3, 2}, {5, 5}, {9, 9}}},
    CopyCase{"EveryShortPositionCode", {{3, 0}, {3, 1}, {3, 2}, {3, 3}, {3, 4}, {3, 5},
                                       {3, 6}, {3, 7}, {3, 8}, {3, 11}, {3, 12}, {3, 15}}}),
    [](const auto& info) { return info.param.name; });

TEST(DecoderTest, PositionCode44WrapsAroundTheWindow)
{
    struct Case { uint32_t extra; const char* expected; };
    for (Case c : {Case{0, "abbbb"}, Case{1, "ababa"}, Case{5, "ab   "}}) {
        StreamWriter writer;
        writer.Block(3, EveryCode());
        writer.Literal('a');
        writer.Literal('b');
        writer.MatchWithCode(3, 44, c.extra);
        std::vector<uint8_t> output = Decode(writer.Bytes(), 5).output;
        EXPECT_EQ(std::string(output.begin(), output.end()), c.expected) << "extra " << c.extra;
    }
}

TEST(DecoderTest, MatchCrossingWindowEndIsSplitAndContinuesAtStart)
{
    Script script;
    script.writer.Block(16640, EveryCode());
    for (int byte = 0; byte < 256; ++byte)
        script.Literal(static_cast<uint8_t>(byte));
    while (script.expected.size() < kWindow - 5)
        script.Match(static_cast<int>(std::min<size_t>(256, kWindow - 5 - script.expected.size())),
                     255);
    script.Match(10, 254);
    Decoded decoded = Decode(script.Stream(), script.Total());
    EXPECT_EQ(decoded.chunk_sizes, (std::vector<size_t>{kWindow, 5}));
    EXPECT_TRUE(decoded.output == script.expected);
}

TEST(DecoderTest, ExactWindowMultiplesEndWithoutAPartialWrite)
{
    for (size_t windows : {1, 2}) {
        Script script;
        script.writer.Block(static_cast<uint16_t>(1 + windows * kWindow / 256), EveryCode());
        script.Fill('w', windows * kWindow);
        Decoded decoded = Decode(script.Stream(), script.Total());
        EXPECT_EQ(decoded.chunk_sizes, std::vector<size_t>(windows, kWindow));
        EXPECT_TRUE(decoded.output == script.expected);
    }
}

TEST(DecoderTest, SingleSymbolAlphabetsReadNoBits)
{
    // Three single-symbol forms back to back: if a symbol consumed bits, the
    // following block headers would be misread.
    StreamWriter writer;
    BlockTables only_q;
    only_q.single_symbol = 'Q';
    writer.Block(3, only_q);
    BlockTables one_length_code;
    one_length_code.single_length_code = 10;   // every literal 8 bits
    one_length_code.symbol_lengths = Lengths(510, {});
    for (int byte = 0; byte < 256; ++byte)
        one_length_code.symbol_lengths[byte] = 8;
    writer.Block(1, one_length_code);
    writer.Literal('r');
    BlockTables one_position;
    one_position.length_code_lengths = EveryLengthCode();
    one_position.symbol_lengths = Lengths(510, {{'Z', 1}, {256, 1}});
    one_position.single_position = 0;
    writer.Block(2, one_position);
    writer.Literal('Z');
    writer.Match(3, 0);
    only_q.single_symbol = 'E';
    writer.Block(1, only_q);
    std::vector<uint8_t> output = Decode(writer.Bytes(), 9).output;
    EXPECT_EQ(std::string(output.begin(), output.end()), "QQQrZZZZE");
}

TEST(DecoderTest, CodesLongerThanTheDirectTablesWalkTheTree)
{
    std::vector<int> literals, positions, length_codes = {0};
    for (int i = 0; i < 16; ++i)
        literals.push_back('a' + i);
    literals.push_back(256);   // a match of length 3, with the longest code
    for (int i = 0; i < 17; ++i)
        positions.push_back(i);
    for (int code = 3; code <= 18; ++code)
        length_codes.push_back(code);
    BlockTables tables;
    tables.length_code_lengths = Skewed(19, length_codes);
    tables.symbol_lengths = Skewed(510, literals);
    tables.position_lengths = Skewed(45, positions);
    Script script;
    script.writer.Block(16 + 17, tables);
    for (int i = 0; i < 16; ++i)
        script.Literal(static_cast<uint8_t>('a' + i));
    uint32_t first_position[] = {0, 1, 2, 3, 4, 6, 8, 12, 16, 24, 32, 48, 64, 96, 128, 192, 256};
    for (uint32_t position : first_position)
        script.Match(3, position);
    EXPECT_EQ(Decode(script.Stream(), script.Total()).output, script.expected);
}

TEST(DecoderTest, EndBlockBeforeTotalStopsAndWritesWhatWasMade)
{
    StreamWriter writer;
    writer.Block(2, FourLiterals());
    writer.PutBits("0 110");
    writer.EndBlock();
    Decoded decoded = Decode(writer.Bytes(), 100);
    EXPECT_EQ(decoded.output, (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(decoded.chunk_sizes, std::vector<size_t>{2});
}

TEST(DecoderTest, TotalReachedMidBlockReadsNoFurther)
{
    // The reader keeps 16 bits in view, so after the last symbol it has fetched
    // exactly the bytes holding those bits and the next 16.
    StreamWriter writer;
    writer.Block(10, FourLiterals());
    writer.PutBits("0 10 111");
    size_t used_bits = writer.BitCount();
    writer.PutBits("110 110 110 110 110 110 110");
    Decoded decoded = Decode(writer.Bytes(), 3);
    EXPECT_EQ(decoded.output, (std::vector<uint8_t>{1, 0, 3}));
    EXPECT_EQ(decoded.fetches, (used_bits + 16 + 7) / 8);
}

TEST(DecoderTest, ZeroTotalFetchesTwoBytesAndWritesNothing)
{
    StreamWriter writer;
    writer.Block(1, FourLiterals());
    writer.PutBits("0");
    Decoded decoded = Decode(writer.Bytes(), 0);
    EXPECT_EQ(decoded.fetches, 2u);
    EXPECT_TRUE(decoded.chunk_sizes.empty());
}

TEST(DecoderTest, CutStreamContinuesAsZeroBitsAndEndsAtNextHeader)
{
    // Four symbols announced, two present: the missing two read as the all-zero
    // code (literal 1), then the next header reads as 0.
    StreamWriter writer;
    writer.Block(4, FourLiterals());
    writer.PutBits("111 10");
    Decoded decoded = Decode(writer.Bytes(), 1000);
    EXPECT_EQ(decoded.output, (std::vector<uint8_t>{3, 0, 1, 1}));
}

TEST(DecoderTest, MatchPastTotalIsCopiedAndWrittenInFull)
{
    StreamWriter writer;
    writer.Block(2, EveryCode());
    writer.Literal('m');
    writer.Match(10, 0);
    EXPECT_EQ(Decode(writer.Bytes(), 5).output, std::vector<uint8_t>(11, 'm'));
}

// Malformed tables: decoding must stay inside its tables and end. Under the
// sanitizers (and the fuzzer) an out-of-bounds write fails loudly.
struct MalformedCase {
    const char* name;
    std::string bits;   // after a block count of 0xFFFF
};

class DecoderMalformedTest : public testing::TestWithParam<MalformedCase> {};

TEST_P(DecoderMalformedTest, EndsWithinBounds)
{
    BitWriter writer;
    writer.Put(0xFFFF, 16);
    writer.PutBits(GetParam().bits);
    const uint32_t total = 1 << 20;
    Decoded decoded = Decode(writer.Bytes(), total);
    EXPECT_LT(decoded.output.size(), total + 257u);
}

std::string Repeat(const std::string& bits, int times)
{
    std::string result;
    for (int i = 0; i < times; ++i)
        result += bits;
    return result;
}

INSTANTIATE_TEST_SUITE_P(Tables, DecoderMalformedTest, testing::Values(
    MalformedCase{"LengthCodeCountAboveAlphabet", "11111" + Repeat("001", 31)},
    MalformedCase{"SymbolCountAboveAlphabet", "00000 00011 111111111 " + Repeat("1", 600)},
    MalformedCase{"PositionCountAboveAlphabet",
                  "00000 00011 000000000 000000001 11111111111111" + Repeat("010", 200)},
    MalformedCase{"ZeroRunPastEnd", "00011 010 010 010 11 000000000 00010" + Repeat("1", 200)},
    MalformedCase{"LengthsAboveSixteen", "10011" + Repeat("1111111111111111111", 19)},
    MalformedCase{"OverfullCode", "10011" + Repeat("001", 3) + "00" + Repeat("001", 16) +
                                  Repeat("0", 300)},
    MalformedCase{"SingleSymbolsOutOfRange",
                  "00000 11111 000000000 111111111 00000000000000 11111111111111"},
    MalformedCase{"EveryLiteralSixteenBits",
                  "10011" + Repeat("000", 3) + "00" + Repeat("000", 15) + "1111111110 111111110" +
                  Repeat("1", 510) + Repeat("01", 4000)}),
    [](const auto& info) { return info.param.name; });

TEST(DecoderTest, RandomBytesAlwaysEnd)
{
    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> stream(1 + random() % 2000);
        for (uint8_t& byte : stream)
            byte = static_cast<uint8_t>(random());
        const uint32_t total = 1 << 18;
        EXPECT_LT(Decode(stream, total).output.size(), total + 257u) << "round " << round;
    }
}

}  // namespace
}  // namespace codec_test
