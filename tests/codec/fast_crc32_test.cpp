#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "payload/crc32.h"
#include "stubkit/fast_crc32.h"

namespace {

TEST(FastCrcTest, MatchesTheTableCrcAtEveryLengthAndAlignment)
{
    BuildCrcTable();
    std::mt19937 random(7);
    std::vector<uint8_t> bytes(300);
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(random());
    for (size_t start = 0; start < 9; ++start) {
        for (size_t length = 0; start + length <= bytes.size(); length += 1 + length / 8) {
            uint32_t seed = random();
            EXPECT_EQ(stubkit::UpdateCrcFast(seed, bytes.data() + start, length),
                      UpdateCrc(seed, bytes.data() + start, static_cast<uint32_t>(length)))
                << "start " << start << " length " << length;
        }
    }
}

}  // namespace
