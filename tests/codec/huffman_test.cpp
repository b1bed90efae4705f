#include <gtest/gtest.h>

#include <queue>

#include "stubkit/block_coder.h"
#include "stubkit/huffman.h"

namespace stubkit {
namespace {

// Kraft sum scaled by 2^16: exactly 65536 for a complete code.
uint64_t KraftSum(const std::vector<uint8_t>& lengths)
{
    uint64_t sum = 0;
    for (uint8_t length : lengths)
        if (length > 0)
            sum += uint64_t{1} << (16 - length);
    return sum;
}

uint64_t CodedBits(const std::vector<uint32_t>& frequencies, const std::vector<uint8_t>& lengths)
{
    uint64_t bits = 0;
    for (size_t i = 0; i < frequencies.size(); ++i)
        bits += uint64_t{frequencies[i]} * lengths[i];
    return bits;
}

// Plain Huffman cost (no length limit): the sum of all merged weights.
uint64_t UnlimitedHuffmanBits(const std::vector<uint32_t>& frequencies)
{
    std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<>> queue;
    for (uint32_t f : frequencies)
        if (f > 0)
            queue.push(f);
    uint64_t bits = 0;
    while (queue.size() > 1) {
        uint64_t a = queue.top(); queue.pop();
        uint64_t b = queue.top(); queue.pop();
        bits += a + b;
        queue.push(a + b);
    }
    return bits;
}

struct LengthCase {
    const char* name;
    std::vector<uint32_t> frequencies;
    bool limit_binds;   // plain Huffman would exceed 16 bits
};

std::vector<uint32_t> Fibonacci(int count)
{
    std::vector<uint32_t> values = {1, 1};
    while (static_cast<int>(values.size()) < count)
        values.push_back(values[values.size() - 1] + values[values.size() - 2]);
    return values;
}

std::vector<uint32_t> WithZeros()
{
    std::vector<uint32_t> values(510, 0);
    for (int i = 0; i < 510; i += 7)
        values[i] = 1000 / (1 + i % 13);
    return values;
}

std::vector<uint32_t> Geometric(int count)
{
    std::vector<uint32_t> values;
    for (int i = 0; i < count; ++i)
        values.push_back(1u << (i % 30));
    return values;
}

class LimitedLengthsTest : public testing::TestWithParam<LengthCase> {};

TEST_P(LimitedLengthsTest, CompleteWithinSixteenBitsAndOptimalWhenUnbound)
{
    const LengthCase& c = GetParam();
    std::vector<uint8_t> lengths = LimitedCodeLengths(c.frequencies);
    ASSERT_EQ(lengths.size(), c.frequencies.size());
    for (size_t i = 0; i < lengths.size(); ++i) {
        EXPECT_LE(lengths[i], 16) << "symbol " << i;
        EXPECT_EQ(lengths[i] == 0, c.frequencies[i] == 0) << "symbol " << i;
    }
    EXPECT_EQ(KraftSum(lengths), 65536u);
    uint64_t unlimited = UnlimitedHuffmanBits(c.frequencies);
    if (c.limit_binds)
        EXPECT_GT(CodedBits(c.frequencies, lengths), unlimited);
    else
        EXPECT_EQ(CodedBits(c.frequencies, lengths), unlimited);
}

INSTANTIATE_TEST_SUITE_P(Frequencies, LimitedLengthsTest, testing::Values(
    LengthCase{"TwoSymbols", {5, 0, 9}, false},
    LengthCase{"Uniform510", std::vector<uint32_t>(510, 3), false},
    LengthCase{"SparseWithZeros", WithZeros(), false},
    LengthCase{"Fibonacci30", Fibonacci(30), true},
    LengthCase{"GeometricFullAlphabet", Geometric(510), true}),
    [](const auto& info) { return info.param.name; });

TEST(LimitedLengthsTest, SingleSymbolGetsOneBit)
{
    EXPECT_EQ(LimitedCodeLengths({0, 0, 7, 0}), (std::vector<uint8_t>{0, 0, 1, 0}));
    EXPECT_EQ(LimitedCodeLengths({0, 0}), (std::vector<uint8_t>{0, 0}));
}

TEST(CanonicalCodesTest, ShorterFirstThenSymbolOrder)
{
    EXPECT_EQ(CanonicalCodes({2, 1, 3, 3}), (std::vector<uint16_t>{0b10, 0b0, 0b110, 0b111}));
    EXPECT_EQ(CanonicalCodes({3, 0, 3, 2, 2, 3, 3}),
              (std::vector<uint16_t>{0b100, 0, 0b101, 0b00, 0b01, 0b110, 0b111}));
}

TEST(PositionCodeTest, CodesCoverPositionsWithTheirExtraBits)
{
    // Every position lies in its code's range, and the ranges tile 0..2^22-1.
    uint32_t expected_base = 0;
    for (int code = 0; code < 44; ++code) {
        ASSERT_EQ(PositionBase(code), expected_base) << "code " << code;
        uint32_t last = expected_base + (1u << PositionExtraBits(code)) - 1;
        EXPECT_EQ(PositionCode(expected_base), code);
        EXPECT_EQ(PositionCode(last), code);
        expected_base = last + 1;
    }
    EXPECT_EQ(expected_base, 1u << 22);
}

}  // namespace
}  // namespace stubkit
