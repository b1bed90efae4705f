// The installer's extraction rules as `test` and `extract` apply them, on
// payloads made in memory: which records are reached, which bytes count.
#include <gtest/gtest.h>

#include "payload/crc32.h"
#include "stubkit/payload_run.h"
#include "stubkit/stream_encoder.h"

namespace stubkit {
namespace {

struct SinkCase {
    const char* name;
    std::vector<std::string> files;   // contents in table order
    std::string stream;               // what the stream decodes to
    std::uint32_t total_size;
    bool success;
    std::size_t files_reached;
    std::uint32_t bytes_remaining;
    int damaged_file;                 // -1: none
};

void PrintTo(const SinkCase& c, std::ostream* out)
{
    *out << c.name;
}

class RecordingOutput : public FileOutput {
public:
    void Open(std::size_t index, const FileRecord&) override { opened.push_back(index); }
    void Write(const std::uint8_t*, std::size_t) override {}
    void Close(std::size_t, const FileRecord&) override {}
    void Abandon(std::size_t) override {}
    std::vector<std::size_t> opened;
};

class ExtractionRules : public ::testing::TestWithParam<SinkCase> {};

TEST_P(ExtractionRules, FollowTheInstallersSink)
{
    const SinkCase& c = GetParam();
    BuildCrcTable();
    InstallerImage image;
    for (const std::string& contents : c.files) {
        FileRecord record;
        record.name = "f" + std::to_string(image.records.size());
        record.file_size = static_cast<std::uint32_t>(contents.size());
        record.crc_value = UpdateCrc(CrcInitial, reinterpret_cast<const unsigned char*>(contents.data()),
                                     record.file_size);
        image.records.push_back(record);
    }
    image.header.file_count = static_cast<std::uint32_t>(image.records.size());
    image.header.total_size = c.total_size;
    const std::vector<std::uint8_t> stream =
        EncodeBuffer(reinterpret_cast<const std::uint8_t*>(c.stream.data()), c.stream.size(), 1);
    RecordingOutput output;
    const PayloadVerdict verdict = RunPayloadInMemory(image, stream.data(), stream.size(), &output);
    EXPECT_EQ(verdict.success, c.success);
    EXPECT_EQ(verdict.files_reached, c.files_reached);
    EXPECT_EQ(output.opened.size(), c.files_reached);
    EXPECT_EQ(verdict.bytes_remaining, c.bytes_remaining);
    EXPECT_EQ(verdict.damaged_file.has_value(), c.damaged_file >= 0);
    if (verdict.damaged_file && c.damaged_file >= 0) {
        EXPECT_EQ(*verdict.damaged_file, static_cast<std::size_t>(c.damaged_file));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractionRules,
    ::testing::Values(
        SinkCase{"EmptyFileBetweenTwoIsReached", {"abc", "", "de"}, "abcde", 5, true, 3, 0, -1},
        SinkCase{"EmptyFileAfterTheLastByteIsNotReached", {"abc", ""}, "abc", 3, true, 1, 0, -1},
        SinkCase{"NothingToDecodeReachesNothing", {"", ""}, "", 0, true, 0, 0, -1},
        SinkCase{"BytesBeyondTheLastRecordAreDropped", {"abc"}, "abcxyz", 6, false, 1, 3, -1},
        SinkCase{"ShortTotalLeavesTheLastFileShort", {"abc", "defg"}, "abcdefg", 5, false, 2, 0, 1},
        // The CRC is compared when the sink moves on, and a failure ends the run.
        SinkCase{"FailureStopsBeforeTheNextFile", {"abc", "def"}, "abXdef", 6, false, 1, 3, 0},
        SinkCase{"LastFileIsCheckedAtTheEnd", {"abc", "def", "ghi"}, "abcdefghX", 9, false, 3, 0, 2}),
    [](const ::testing::TestParamInfo<SinkCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace stubkit
