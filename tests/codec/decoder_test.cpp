// Decoder cases written bit by bit, each aimed at one way a decoder goes wrong.
#include <gtest/gtest.h>

#include "tests/codec/codec_test.h"

namespace codec_test {
namespace {

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// A complete code: the first `shorter` symbols of `length` bits, the rest one bit longer.
std::vector<uint8_t> Complete(size_t size, size_t shorter, uint8_t length)
{
    std::vector<uint8_t> lengths(size, length + 1);
    std::fill_n(lengths.begin(), shorter, length);
    return lengths;
}

BlockTables EveryCode() { return {{Complete(19, 13, 4)}, {Complete(510, 2, 8)}, {Complete(45, 19, 5)}}; }

struct BitsCase {
    const char* name;
    uint16_t count;
    std::string bits;   // a '|' after the last bit the decoder needs
    uint32_t total;
    std::vector<uint8_t> expected;
};

class DecoderBitsTest : public testing::TestWithParam<BitsCase> {};
// Literals 0-3 with lengths 2, 1, 3, 3: codes 10, 0, 110, 111.
TEST_P(DecoderBitsTest, DecodesInOneWriteAndReadsAtMostTwoBytesAhead)
{
    StreamWriter w;
    w.Block(GetParam().count, {{Complete(19, 13, 4)}, {{2, 1, 3, 3}}, {}});
    w.PutBits(GetParam().bits);
    Decoded decoded = Decode(w.bytes, GetParam().total);
    EXPECT_EQ(decoded.output, GetParam().expected);
    EXPECT_EQ(decoded.chunk_sizes, std::vector<size_t>(1, GetParam().expected.size()));
    if (w.mark > 0) {
        EXPECT_EQ(decoded.fetches, (w.mark + 16 + 7) / 8);
    }
    Decoded none = Decode(w.bytes, 0);   // total 0: only the first 16 bits, nothing written
    EXPECT_EQ(none.fetches, 2u);
    EXPECT_TRUE(none.chunk_sizes.empty());
}

INSTANTIATE_TEST_SUITE_P(Bits, DecoderBitsTest, testing::Values(
    BitsCase{"CanonicalCodesFollowLengthThenSymbolOrder", 6, "10 0 110 111 0 10", 6, {0, 1, 2, 3, 1, 0}},
    BitsCase{"EndBlockBeforeTotalStops", 2, "0 110 0000000000000000|", 100, {1, 2}},
    BitsCase{"TotalReachedMidBlockReadsNoFurther", 10, "0 10 111| 110 110 110 110 110 110", 3, {1, 0, 3}},
    BitsCase{"CutStreamGoesOnAsZeroBitsAndEndsAtNextHeader", 4, "111 10", 1000, {3, 0, 1, 1}}),
    [](const auto& info) { return info.param.name; });

struct CopyCase {
    const char* name;
    std::vector<std::pair<int, uint32_t>> matches;   // length, position; after "xyz"
    uint32_t total_short_by = 0;
};

class DecoderCopyTest : public testing::TestWithParam<CopyCase> {};
TEST_P(DecoderCopyTest, MatchesCopyByteByByte)
{
    StreamWriter w;
    w.Block(static_cast<uint16_t>(3 + GetParam().matches.size()), EveryCode());
    for (char c : std::string("xyz"))
        w.Literal(c);
    for (auto [length, position] : GetParam().matches)
        w.Match(length, position);
    EXPECT_EQ(Decode(w.bytes, w.expected.size() - GetParam().total_short_by).output, w.expected);
}

INSTANTIATE_TEST_SUITE_P(Copies, DecoderCopyTest, testing::Values(
    CopyCase{"DistanceOneRepeatsLastByte", {{256, 0}}},
    CopyCase{"OverlapRepeatsPattern", {{7, 1}, {20, 4}}},
    CopyCase{"ReachBeforeFirstByteCopiesSpaces", {{4, 4}, {10, 100}}},
    CopyCase{"LongestDistanceInsideOutput", {{3, 2}, {5, 5}, {9, 9}}},
    CopyCase{"EveryShortPositionCode", {{3, 0}, {3, 1}, {3, 2}, {3, 3}, {3, 4}, {3, 5},
                                       {3, 6}, {3, 7}, {3, 8}, {3, 11}, {3, 12}, {3, 15}}},
    CopyCase{"PositionCode44WrapsAroundTheWindow", {{3, 1u << 22}, {3, (1u << 22) + 1}, {3, (1u << 22) + 9}}},
    CopyCase{"MatchPastTotalIsCopiedAndWrittenInFull", {{10, 0}}, 6}),
    [](const auto& info) { return info.param.name; });

TEST(DecoderTest, LongExtraBitsTakeTheFirstSixteenAsLowHalf)
{
    // Code 38 with 18 extra bits, 0000000000000001 then 11: position 2^19 + 3 * 65536 + 1
    // reaches the 'B' of byte 0; read the other way round it lands among the 'A's.
    StreamWriter w;
    w.Block(2819, EveryCode());
    w.Literal('B');
    w.Literal('A');
    w.Fill(720898, 0);
    w.Match(3, (1 << 19) + (3 << 16) + 1);
    EXPECT_EQ(Text(Decode(w.bytes, 720901).output).substr(720898), "BAA");
}

TEST(DecoderTest, OutputLeavesInWindowSizedChunks)
{
    // Exactly one window ends without an empty write; a match crossing the
    // window end is split there and goes on at the window's start.
    for (bool cross : {false, true}) {
        StreamWriter w;
        w.Block(cross ? 16640 : 16639, EveryCode());
        for (int byte = 0; byte < 256; ++byte)
            w.Literal(static_cast<uint8_t>(byte));
        w.Fill(cross ? DecoderWindowSize - 5 : DecoderWindowSize, 255);
        if (cross)
            w.Match(10, 254);
        Decoded decoded = Decode(w.bytes, w.expected.size());
        EXPECT_EQ(decoded.chunk_sizes, (cross ? std::vector<size_t>{DecoderWindowSize, 5}
                                              : std::vector<size_t>{DecoderWindowSize}));
        EXPECT_TRUE(decoded.output == w.expected) << "crossing " << cross;
    }
}

TEST(DecoderTest, AMatchEndingExactlyAtTheWindowsEndIsFollowedFromTheWindowsStart)
{
    // The window goes out whole once the match fills its last byte; the
    // literal after it lands at the window's start, and the match after that
    // reaches back across the boundary.
    StreamWriter w;
    const size_t fills = (DecoderWindowSize - 7 - 256 + 255) / 256;
    w.Block(static_cast<uint16_t>(256 + fills + 3), EveryCode());
    for (int byte = 0; byte < 256; ++byte)
        w.Literal(static_cast<uint8_t>(byte));
    w.Fill(DecoderWindowSize - 7, 255);
    w.Match(7, 300);
    ASSERT_EQ(w.expected.size(), DecoderWindowSize);
    w.Literal('!');
    w.Match(5, 3);
    Decoded decoded = Decode(w.bytes, w.expected.size());
    EXPECT_EQ(decoded.chunk_sizes, (std::vector<size_t>{DecoderWindowSize, 6}));
    EXPECT_TRUE(decoded.output == w.expected);
}

TEST(DecoderTest, SingleSymbolAlphabetsReadNoBits)
{
    // Single-symbol forms back to back: a symbol that took bits would misplace
    // the next block header.
    StreamWriter w;
    w.Block(3, {{}, {{}, 'Q'}, {}});
    w.Block(1, {{{}, 10}, {std::vector<uint8_t>(256, 8)}, {}});   // length code 10: 8 bits
    w.Literal('r');
    std::vector<uint8_t> z_and_match(257, 0);
    z_and_match['Z'] = z_and_match[256] = 1;
    w.Block(2, {{Complete(19, 13, 4)}, {z_and_match}, {}});
    w.Literal('Z');
    w.Match(3, 0);
    w.Block(1, {{}, {{}, 'E'}, {}});
    EXPECT_EQ(Text(Decode(w.bytes, 9).output), "QQQrZZZZE");
}

TEST(DecoderTest, CodesLongerThanTheDirectTablesWalkTheTree)
{
    // Lengths 1, 2, ..., 15, 16, 16 over 17 symbols: the longest codes pass
    // every level of the overflow trees of all three alphabets.
    std::vector<uint8_t> literals(257, 0), positions(17), length_codes(19, 0);
    for (int i = 0; i < 17; ++i)
        literals[i < 16 ? 'a' + i : 256] = positions[i] = length_codes[i == 0 ? 0 : i + 2] = std::min(i + 1, 16);
    StreamWriter w;
    w.Block(16 + 17, {{length_codes}, {literals}, {positions}});
    for (int i = 0; i < 16; ++i)
        w.Literal(static_cast<uint8_t>('a' + i));
    for (int code = 0; code < 17; ++code)
        w.Match(3, stubkit::PositionBase(code));
    EXPECT_EQ(Decode(w.bytes, w.expected.size()).output, w.expected);
}

TEST(DecoderTest, SymbolCountAboveTheAlphabetStillEnds)
{
    // 511 literal/length lengths announced, each from the single length code 3.
    // (Other malformed tables are the fuzzer's, whose sanitizers see stray writes.)
    StreamWriter w;
    w.PutBits("1111111111111111 00000 00011 111111111" + std::string(600, '1'));
    EXPECT_LT(Decode(w.bytes, 1 << 20).output.size(), (1u << 20) + 257);
}

}  // namespace
}  // namespace codec_test
