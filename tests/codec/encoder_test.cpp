// The encoder against the installer's decoder, and the code tables it plans.
#include <gtest/gtest.h>

#include <fstream>
#include <queue>
#include <random>

#include "stubkit/block_coder.h"
#include "stubkit/huffman.h"
#include "stubkit/stream_encoder.h"
#include "tests/codec/codec_test.h"

namespace stubkit {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Random(size_t size, uint32_t seed)
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
    static const std::string kWords[] = {"installer ", "payload ", "window ", "stream ", "the ",
                                         "of ", "and ", "block\n", "symbol ", "code ", "table, ",
                                         "folder ", "shortcut ", "uninstall. ", "registry "};
    std::mt19937 random(seed);
    Bytes bytes;
    while (bytes.size() < size) {
        const std::string& word = kWords[random() % 15];
        bytes.insert(bytes.end(), word.begin(), word.end());
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

// Encodes, decodes with the installer's decoder and returns the stream's size.
size_t RoundTrip(const Bytes& input, int level)
{
    Bytes stream = EncodeBuffer(input.data(), input.size(), level);
    codec_test::Decoded decoded = codec_test::Decode(stream, static_cast<uint32_t>(input.size()));
    EXPECT_TRUE(decoded.output == input)
        << "level " << level << ": " << decoded.output.size() << " of " << input.size() << " bytes";
    // Nothing is read beyond the stream but the two bytes of lookahead.
    EXPECT_LE(decoded.fetches, stream.size() + 2) << "level " << level;
    return stream.size();
}

struct RoundTripCase {
    const char* name;
    Bytes (*make)();
    std::vector<int> levels = {1, 2, 3, 4, 5, 6, 7, 8, 9};
};

class RoundTripTest : public testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTripTest, DecodesToTheInput)
{
    Bytes input = GetParam().make();
    for (int level : GetParam().levels)
        RoundTrip(input, level);
}

INSTANTIATE_TEST_SUITE_P(Inputs, RoundTripTest, testing::Values(
    RoundTripCase{"Empty", [] { return Bytes(); }},
    RoundTripCase{"OneByte", [] { return Bytes{'a'}; }},
    RoundTripCase{"TwoBytes", [] { return Bytes{' ', ' '}; }},
    RoundTripCase{"ThreeSpaces", [] { return Bytes(3, ' '); }},
    RoundTripCase{"AroundTwoFiftySix", [] { return Concat({Bytes(255, 'x'), Bytes{'y'}, Bytes(257, 'x')}); }},
    RoundTripCase{"TextSeveralBlocks", [] { return Text(600000, 1); }},
    RoundTripCase{"RandomAcrossSymbolLimit", [] { return Random(200000, 2); }},
    RoundTripCase{"LongRuns", [] {
        return Concat({Bytes(1 << 20, 0), Bytes(70000, 0xFF), Text(1000, 3), Bytes(300000, 0)}); }},
    RoundTripCase{"WindowsBinary", WindowsBinary, {1, 5, 9}}),
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
        if (level >= 5) {
            EXPECT_LT(size + 90000, input.size()) << "level " << level;
        }
    }
}

TEST(EncoderTest, PieceSizesDoNotChangeTheStream)
{
    Bytes input = Concat({Text(700000, 7), Random(50000, 8), Text(300000, 9)});
    for (int level : {2, 7}) {
        Bytes pieces;
        StreamEncoder encoder(level, [&](const uint8_t* bytes, size_t size) {
            pieces.insert(pieces.end(), bytes, bytes + size);
        });
        std::mt19937 random(level);
        for (size_t done = 0, size = 0; done < input.size(); done += size) {
            size = std::min<size_t>(input.size() - done, random() % 70000);
            encoder.Write(input.data() + done, size);
        }
        encoder.Finish();
        EXPECT_TRUE(pieces == EncodeBuffer(input.data(), input.size(), level)) << "level " << level;
    }
}

TEST(EncoderTest, HigherLevelsCompressBetter)
{
    Bytes input = Concat({Text(400000, 10), WindowsBinary()});
    auto size = [&](int level) { return EncodeBuffer(input.data(), input.size(), level).size(); };
    size_t fastest = size(1), middle = size(5), best = size(9);
    EXPECT_LT(middle, fastest);
    EXPECT_LT(best, middle);
}

TEST(EncoderTest, RejectsLevelsOutsideOneToNine)
{
    for (int level : {0, 10, -1})
        EXPECT_THROW(StreamEncoder(level, [](const uint8_t*, size_t) {}), std::invalid_argument);
}

// Kraft sum scaled by 2^16 (65536 for a complete code); lengths must be 16 at most.
uint64_t KraftSum(const std::vector<uint8_t>& lengths)
{
    uint64_t sum = 0;
    for (uint8_t length : lengths) {
        EXPECT_LE(length, 16);
        if (length > 0 && length <= 16)
            sum += uint64_t{1} << (16 - length);
    }
    return sum;
}

TEST(BlockPlanTest, TablesAreCompleteCodesWithinSixteenBits)
{
    // Skewed enough that plain Huffman would need more than 16 bits.
    Histogram histogram;
    uint32_t weight = 1;
    for (int symbol = 0; symbol < kSymbolCount; ++symbol) {
        histogram.symbols[symbol] = weight;
        weight = symbol < 28 ? weight * 2 : 1 + symbol % 5;
    }
    for (int code = 0; code < 44; ++code)
        histogram.positions[code] = 1u << (code % 25);
    BlockCode code = PlanBlock(histogram);
    for (const auto* lengths : {&code.symbol_lengths, &code.position_lengths, &code.length_code_lengths})
        EXPECT_EQ(KraftSum(*lengths), 65536u);
    EXPECT_EQ(code.position_lengths[44], 0) << "position code 44 must stay unused";
}

// Plain Huffman cost without a length limit: the sum of all merged weights.
uint64_t UnlimitedHuffmanBits(const std::vector<uint32_t>& frequencies)
{
    std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<>> queue;
    for (uint32_t frequency : frequencies)
        if (frequency > 0)
            queue.push(frequency);
    uint64_t bits = 0;
    while (queue.size() > 1) {
        uint64_t merged = queue.top();
        queue.pop();
        merged += queue.top();
        queue.pop();
        bits += merged;
        queue.push(merged);
    }
    return bits;
}

TEST(LimitedLengthsTest, OptimalCompleteCodesWhereTheLimitDoesNotBind)
{
    std::vector<uint32_t> sparse(510, 0);
    for (int i = 0; i < 510; i += 7)
        sparse[i] = 1000 / (1 + i % 13);
    for (const std::vector<uint32_t>& frequencies : {std::vector<uint32_t>{5, 0, 9}, sparse}) {
        std::vector<uint8_t> lengths = LimitedCodeLengths(frequencies);
        ASSERT_EQ(lengths.size(), frequencies.size());
        uint64_t bits = 0;
        for (size_t i = 0; i < lengths.size(); ++i) {
            EXPECT_EQ(lengths[i] == 0, frequencies[i] == 0) << "symbol " << i;
            bits += uint64_t{frequencies[i]} * lengths[i];
        }
        EXPECT_EQ(KraftSum(lengths), 65536u);
        EXPECT_EQ(bits, UnlimitedHuffmanBits(frequencies));
    }
}

TEST(PositionCodeTest, CodesTileThePositionsWithTheirExtraBits)
{
    uint32_t base = 0;
    for (int code = 0; code < 44; ++code) {
        ASSERT_EQ(PositionBase(code), base) << "code " << code;
        uint32_t last = base + (1u << PositionExtraBits(code)) - 1;
        EXPECT_EQ(PositionCode(base), code);
        EXPECT_EQ(PositionCode(last), code);
        base = last + 1;
    }
    EXPECT_EQ(base, 1u << 22);
}

}  // namespace
}  // namespace stubkit
