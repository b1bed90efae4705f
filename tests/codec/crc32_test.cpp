// The payload CRC register (no final inversion), its sliced steps and the host tool's form.
#include <gtest/gtest.h>

#include <random>

#include "payload/crc32.h"
#include "stubkit/crc/fast_crc32.h"

namespace {

TEST(CrcTest, RegisterIsTheComplementOfTheUsualCrc32AndRunsAcrossPieces)
{
    BuildCrcTable();
    for (auto [text, usual_crc32] : {std::pair<std::string, uint32_t>{"", 0}, {"abc", 0x352441C2u},
                                     {"123456789", 0xCBF43926u}}) {
        auto bytes = reinterpret_cast<const unsigned char*>(text.data());
        for (uint32_t cut = 0; cut <= text.size(); ++cut)
            EXPECT_EQ(UpdateCrc(UpdateCrc(CrcInitial, bytes, cut), bytes + cut, text.size() - cut), ~usual_crc32)
                << text << " cut at " << cut;
    }
}

// The eight-bytes-per-step path against the plain one-byte table loop, at
// every alignment and across the step boundaries.
TEST(CrcTest, SlicedStepsMatchTheByteTableAtEveryLengthAndAlignment)
{
    BuildCrcTable();
    std::mt19937 random(7);
    std::vector<uint8_t> bytes(300);
    std::generate(bytes.begin(), bytes.end(), std::ref(random));
    for (size_t start = 0; start < 9; ++start) {
        for (size_t length = 0; start + length <= bytes.size(); length += 1 + length / 8) {
            uint32_t seed = random();
            uint32_t expected = seed;
            for (size_t i = start; i < start + length; ++i)
                expected = crc_table[(expected ^ bytes[i]) & 0xFF] ^ (expected >> 8);
            EXPECT_EQ(UpdateCrc(seed, bytes.data() + start, static_cast<uint32_t>(length)), expected)
                << "start " << start << " length " << length;
            EXPECT_EQ(stubkit::UpdateCrcFast(seed, bytes.data() + start, length), expected);
        }
    }
}

}  // namespace
