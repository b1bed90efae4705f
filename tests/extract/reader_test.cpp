// ReadBytes keeps its contract whether it serves bytes from its buffer or
// issues one ReadFile per call: n bytes from the current position, fewer at
// the end of the file, then 0; ReadU32 leaves missing bytes 0.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "payload/payload_reader.h"
#include "probe_run.h"
#include "test_installer.h"

namespace {

struct ReadPlan {
    const char* label;
    size_t fileSize;
    std::vector<int> reads;   // sizes asked, in order
};

void PrintTo(const ReadPlan& plan, std::ostream* out) { *out << plan.label; }

class ReadBytesContract : public ::testing::TestWithParam<std::tuple<ReadPlan, bool>> {
protected:
    void SetUp() override
    {
        contents_ = testinstaller::SampleContents(std::get<0>(GetParam()).fileSize, 21);
        path_ = scratch_.Path() + "\\input.bin";
        proberun::WriteFileBytes(path_, std::vector<uint8_t>(contents_.begin(), contents_.end()));
        ASSERT_TRUE(OpenInstallerFile(path_.c_str()));
        ReadBytesUnbuffered = std::get<1>(GetParam());
    }
    void TearDown() override
    {
        CloseHandle(InstallerFile);
        InstallerFile = INVALID_HANDLE_VALUE;
        ReadBytesUnbuffered = false;
    }
    proberun::ScratchFolder scratch_;
    std::string path_;
    std::string contents_;
};

TEST_P(ReadBytesContract, DeliversTheFileInOrderAndZeroAtItsEnd)
{
    size_t position = 0;
    for (int asked : std::get<0>(GetParam()).reads) {
        std::vector<unsigned char> buffer(asked + 1, 0xEE);
        const int got = ReadBytes(buffer.data(), asked);
        const size_t expected = std::min<size_t>(asked, contents_.size() - position);
        ASSERT_EQ(got, static_cast<int>(expected)) << "asked " << asked << " at " << position;
        EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + got), contents_.substr(position, got));
        EXPECT_EQ(buffer[asked], 0xEE) << "wrote past the bytes asked for";
        position += got;
    }
    unsigned char byte = 0;
    EXPECT_EQ(ReadBytes(&byte, 1), 0);
    EXPECT_EQ(ReadBytes(&byte, 1), 0);
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
    proberun::ScratchFolder scratch;
    const std::string path = scratch.Path() + "\\u32.bin";
    proberun::WriteFileBytes(path, {0x78, 0x56, 0x34, 0x12, 0xAB, 0xCD});
    ASSERT_TRUE(OpenInstallerFile(path.c_str()));
    EXPECT_EQ(ReadU32(), 0x12345678u);
    EXPECT_EQ(ReadU32(), 0xCDABu);
    EXPECT_EQ(ReadU32(), 0u);
    CloseHandle(InstallerFile);
    InstallerFile = INVALID_HANDLE_VALUE;
}

}  // namespace
