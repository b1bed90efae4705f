#include <gtest/gtest.h>

#include <string>

#include "payload/crc32.h"

namespace {

uint32_t CrcOf(const std::string& text)
{
    return UpdateCrc(CrcInitial, reinterpret_cast<const unsigned char*>(text.data()),
                     static_cast<uint32_t>(text.size()));
}

TEST(CrcTest, RegisterIsTheComplementOfTheUsualCrc32)
{
    BuildCrcTable();
    struct Case { const char* text; uint32_t usual_crc32; };
    for (Case c : {Case{"", 0x00000000u}, Case{"abc", 0x352441C2u},
                   Case{"123456789", 0xCBF43926u},
                   Case{"The quick brown fox jumps over the lazy dog", 0x414FA339u}}) {
        EXPECT_EQ(CrcOf(c.text), ~c.usual_crc32) << c.text;
    }
}

TEST(CrcTest, RunningRegisterSpansPieces)
{
    BuildCrcTable();
    std::string text = "stubkit payload bytes split anywhere";
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        uint32_t crc = CrcOf(text.substr(0, cut));
        crc = UpdateCrc(crc, reinterpret_cast<const unsigned char*>(text.data()) + cut,
                        static_cast<uint32_t>(text.size() - cut));
        EXPECT_EQ(crc, CrcOf(text)) << "cut at " << cut;
    }
}

}  // namespace
