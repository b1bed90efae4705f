// Round trips through the encoder and the installer's decoder.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <random>
#include <string>

#include "stubkit/block_coder.h"
#include "stubkit/stream_encoder.h"
#include "tests/codec/decode_harness.h"

namespace stubkit {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes RandomBytes(size_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(random());
    return bytes;
}

// Word salad: compressible, with matches at every distance.
Bytes Text(size_t size, uint32_t seed)
{
    static const char* kWords[] = {"installer ", "payload ", "window ", "stream ", "the ",
                                   "of ", "and ", "block\n", "symbol ", "code ", "table, ",
                                   "folder ", "shortcut ", "uninstall. ", "registry "};
    std::mt19937 random(seed);
    Bytes bytes;
    while (bytes.size() < size) {
        const char* word = kWords[random() % 15];
        bytes.insert(bytes.end(), word, word + strlen(word));
        if (random() % 50 == 0)
            bytes.push_back(static_cast<uint8_t>('0' + random() % 10));
    }
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

void ExpectRoundTrip(const Bytes& input, int level)
{
    Bytes stream = EncodeBuffer(input.data(), input.size(), level);
    codec_test::Decoded decoded =
        codec_test::Decode(stream, static_cast<uint32_t>(input.size()));
    ASSERT_EQ(decoded.output.size(), input.size()) << "level " << level;
    EXPECT_TRUE(decoded.output == input) << "level " << level;
    // Nothing is read beyond the stream but the two bytes of lookahead.
    EXPECT_LE(decoded.fetches, stream.size() + 2) << "level " << level;
}

struct RoundTripCase {
    const char* name;
    Bytes (*make)();
    std::vector<int> levels;
};

const std::vector<int> kEveryLevel = {1, 2, 3, 4, 5, 6, 7, 8, 9};

void PrintTo(const RoundTripCase& c, std::ostream* out) { *out << c.name; }

class RoundTripTest : public testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTripTest, DecodesToTheInput)
{
    Bytes input = GetParam().make();
    for (int level : GetParam().levels)
        ExpectRoundTrip(input, level);
}

INSTANTIATE_TEST_SUITE_P(Inputs, RoundTripTest, testing::Values(
    RoundTripCase{"Empty", [] { return Bytes(); }, kEveryLevel},
    RoundTripCase{"OneByte", [] { return Bytes{'a'}; }, kEveryLevel},
    RoundTripCase{"TwoBytes", [] { return Bytes{' ', ' '}; }, kEveryLevel},
    RoundTripCase{"ThreeSpaces", [] { return Bytes(3, ' '); }, kEveryLevel},
    RoundTripCase{"AroundTwoFiftySix",
                  [] { return Concat({Bytes(255, 'x'), Bytes{'y'}, Bytes(257, 'x')}); }, kEveryLevel},
    RoundTripCase{"EveryByteValue", [] {
        Bytes bytes;
        for (int round = 0; round < 3; ++round)
            for (int value = 0; value < 256; ++value)
                bytes.push_back(static_cast<uint8_t>(value * (round + 1)));
        return bytes; }, kEveryLevel},
    RoundTripCase{"TextSeveralBlocks", [] { return Text(600000, 1); }, kEveryLevel},
    RoundTripCase{"RandomAcrossSymbolLimit", [] { return RandomBytes(200000, 2); }, kEveryLevel},
    RoundTripCase{"LongRuns", [] {
        return Concat({Bytes(1 << 20, 0), Bytes(70000, 0xFF), Text(1000, 3), Bytes(300000, 0)}); },
        kEveryLevel},
    RoundTripCase{"WindowsBinary", [] { return WindowsBinary(); }, {1, 5, 9}}),
    [](const auto& info) { return info.param.name; });

TEST(EncoderTest, FindsRepeatsAcrossTheWholeWindow)
{
    // A random block repeated at the longest distance the stream allows can
    // only shrink through that match. The 9 MiB input also crosses two window
    // ends in the decoder.
    Bytes block = RandomBytes(100000, 4);
    Bytes input = Concat({block, RandomBytes((1 << 22) - 100001, 5), block,
                          RandomBytes(5 << 20, 6), block});
    for (int level : {1, 5, 9}) {
        Bytes stream = EncodeBuffer(input.data(), input.size(), level);
        codec_test::Decoded decoded =
            codec_test::Decode(stream, static_cast<uint32_t>(input.size()));
        EXPECT_TRUE(decoded.output == input) << "level " << level;
        if (level >= 5) {
            EXPECT_LT(stream.size() + 90000, input.size()) << "level " << level;
        }
    }
}

TEST(EncoderTest, PieceSizesDoNotChangeTheStream)
{
    Bytes input = Concat({Text(700000, 7), RandomBytes(50000, 8), Text(300000, 9)});
    for (int level : {2, 7}) {
        Bytes whole = EncodeBuffer(input.data(), input.size(), level);
        Bytes pieces;
        StreamEncoder encoder(level, [&](const uint8_t* bytes, size_t size) {
            pieces.insert(pieces.end(), bytes, bytes + size);
        });
        std::mt19937 random(level);
        for (size_t done = 0; done < input.size();) {
            size_t size = std::min<size_t>(input.size() - done, random() % 70000);
            encoder.Write(input.data() + done, size);
            done += size;
        }
        encoder.Finish();
        EXPECT_TRUE(pieces == whole) << "level " << level;
    }
}

TEST(EncoderTest, HigherLevelsCompressBetter)
{
    Bytes input = Concat({Text(400000, 10), WindowsBinary()});
    size_t fastest = EncodeBuffer(input.data(), input.size(), 1).size();
    size_t middle = EncodeBuffer(input.data(), input.size(), 5).size();
    size_t best = EncodeBuffer(input.data(), input.size(), 9).size();
    EXPECT_LT(middle, fastest);
    EXPECT_LT(best, middle);
}

TEST(EncoderTest, RejectsLevelsOutsideOneToNine)
{
    for (int level : {0, 10, -1})
        EXPECT_THROW(StreamEncoder(level, [](const uint8_t*, size_t) {}), std::invalid_argument);
}

TEST(BlockPlanTest, TablesAreCompleteCodesWithinSixteenBits)
{
    // A literal/length histogram skewed enough that plain Huffman would need
    // more than 16 bits, with many matches and positions.
    Histogram histogram;
    uint32_t weight = 1;
    for (int symbol = 0; symbol < kSymbolCount; ++symbol) {
        histogram.symbols[symbol] = weight;
        weight = symbol < 28 ? weight * 2 : 1 + symbol % 5;
    }
    for (int code = 0; code < 44; ++code)
        histogram.positions[code] = 1u << (code % 25);
    BlockCode code = PlanBlock(histogram);
    for (const std::vector<uint8_t>* lengths :
         {&code.symbol_lengths, &code.position_lengths, &code.length_code_lengths}) {
        uint64_t kraft = 0;
        for (uint8_t length : *lengths) {
            EXPECT_LE(length, 16);
            if (length > 0)
                kraft += uint64_t{1} << (16 - length);
        }
        EXPECT_EQ(kraft, 65536u);
    }
    EXPECT_EQ(code.position_lengths[44], 0) << "position code 44 must stay unused";
}

}  // namespace
}  // namespace stubkit
