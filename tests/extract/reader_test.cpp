// ReadBytes keeps its contract whether served from its buffer or one ReadFile
// per call: n bytes from the current position, fewer at the end, then 0.
#include <gtest/gtest.h>

#include <windows.h>

#include "payload/payload_reader.h"
#include "test_installer.h"

namespace {

using namespace testinstaller;

struct ReadPlan {
    const char* label;
    size_t fileSize;
    std::vector<int> reads;   // sizes asked, in order
};

void PrintTo(const ReadPlan& plan, std::ostream* out) { *out << plan.label; }

class ReadBytesContract : public ::testing::TestWithParam<std::tuple<ReadPlan, bool>> {};

TEST_P(ReadBytesContract, DeliversTheFileInOrderAndZeroAtItsEnd)
{
    ScratchFolder scratch;
    const Bytes contents = SampleContents(std::get<0>(GetParam()).fileSize, 21);
    WriteFileBytes(scratch.path + "\\input.bin", contents);
    ASSERT_TRUE(OpenInstallerFile((scratch.path + "\\input.bin").c_str()));
    ReadBytesUnbuffered = std::get<1>(GetParam());
    size_t position = 0;
    for (int asked : std::get<0>(GetParam()).reads) {
        Bytes buffer(asked + 1, '\xEE');
        const int got = ReadBytes(reinterpret_cast<unsigned char*>(&buffer[0]), asked);
        ASSERT_EQ(got, static_cast<int>(std::min<size_t>(asked, contents.size() - position))) << "at " << position;
        EXPECT_EQ(buffer.substr(0, got), contents.substr(position, got));
        EXPECT_EQ(buffer[asked], '\xEE') << "wrote past the bytes asked for";
        position += got;
    }
    unsigned char byte = 0;
    EXPECT_EQ(ReadBytes(&byte, 1), 0);
    EXPECT_EQ(ReadBytes(&byte, 1), 0);
    CloseHandle(InstallerFile);
    InstallerFile = INVALID_HANDLE_VALUE;
    ReadBytesUnbuffered = false;
}

INSTANTIATE_TEST_SUITE_P(
    Plans, ReadBytesContract,
    ::testing::Combine(
        ::testing::Values(
            ReadPlan{"byte by byte across two refills", 2 * ReadBufferSize + 3,
                     std::vector<int>(2 * ReadBufferSize + 3, 1)},
            ReadPlan{"large reads around single bytes", 300000, {1, 4, 65530, 1, 70000, 3, 131072, 1, 40000}},
            ReadPlan{"a read running past the end", 1000, {10, 5000, 1}},
            ReadPlan{"an empty file", 0, {1, 4, 100}},
            ReadPlan{"reads of nothing", 100, {0, 1, 0, 99}}),
        ::testing::Bool()));

TEST(ReadU32, ReadsLittleEndianAndLeavesMissingBytesZero)
{
    ScratchFolder scratch;
    WriteFileBytes(scratch.path + "\\u32.bin", "\x78\x56\x34\x12\xAB\xCD");
    ASSERT_TRUE(OpenInstallerFile((scratch.path + "\\u32.bin").c_str()));
    EXPECT_EQ(ReadU32(), 0x12345678u);
    EXPECT_EQ(ReadU32(), 0xCDABu);
    EXPECT_EQ(ReadU32(), 0u);
    CloseHandle(InstallerFile);
    InstallerFile = INVALID_HANDLE_VALUE;
}

}  // namespace
