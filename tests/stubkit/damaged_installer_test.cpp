// Damaged installers: cut anywhere, bytes flipped, header counts bent, an
// unpatched stub. Each is judged without a crash or a hang, and a file that
// passes must really give back the product, as the installer would. Then the
// installer's extraction rules on payloads made in memory.
#include <gtest/gtest.h>

#include <cstring>

#include "payload/crc32.h"
#include "stubkit/payload_run.h"
#include "stubkit/stream_encoder.h"
#include "test_support.h"

namespace stubkit {
namespace {
using namespace testing;

struct CollectingOutput : FileOutput {
    void Open(std::size_t, const FileRecord&) override { files.emplace_back(); }
    void Write(const std::uint8_t* bytes, std::size_t size) override { files.back().insert(files.back().end(), bytes, bytes + size); }
    void Close(std::size_t, const FileRecord&) override {}
    void Abandon(std::size_t) override {}
    std::vector<Bytes> files;
};

struct Judgement {
    bool passed = false;
    std::string message;
    std::vector<Bytes> files;
};

Judgement Judge(const fs::path& path)
{
    Judgement judgement;
    try {
        const InstallerImage image = ReadInstallerImage(path);
        CollectingOutput output;
        const PayloadVerdict verdict = RunPayload(image, &output);
        judgement = {verdict.success && HeaderInconsistency(image).empty(),
                     verdict.damaged_file ? "crc " + image.records[*verdict.damaged_file].name : HeaderInconsistency(image), output.files};
    } catch (const FormatError& error) {
        judgement = {false, error.what(), {}};
    }
    return judgement;
}

// Three files, the last one not empty, so that every count matters.
const std::vector<Bytes> kContents = {NoiseBytes(3000, 1), Bytes(20000, 'a'), NoiseBytes(9000, 2)};

class DamagedInstaller : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        for (std::size_t i = 0; i < kContents.size(); ++i)
            WriteFile(scratch_ / ("product/" + std::string(i == 0 ? "a.bin" : i == 1 ? "b/b.txt" : "c.bin")), kContents[i]);
        WriteFile(scratch_ / "product.toml", ConfigText("product"));
        good_ = ReadFile(Build(scratch_, "good.exe"));
        image_ = ReadInstallerImage(scratch_ / "good.exe");
    }
    // Judges BYTES; a pass is only honest if every file came out as packed.
    Judgement JudgeHonestly(const Bytes& bytes, const std::string& what)
    {
        WriteFile(scratch_ / "variant.exe", bytes);
        Judgement judgement = Judge(scratch_ / "variant.exe");
        EXPECT_TRUE(!judgement.passed || judgement.files == kContents) << what;
        return judgement;
    }
    Bytes Cut(std::size_t size) const { return Bytes(good_.begin(), good_.begin() + static_cast<long>(size)); }

    static inline ScratchFolder scratch_;
    static inline Bytes good_;
    static inline InstallerImage image_;
    const std::size_t payload_ = image_.stub_size, stream_ = static_cast<std::size_t>(image_.stream_offset);
};

TEST_F(DamagedInstaller, HarmlessVariantsPass)
{
    EXPECT_TRUE(JudgeHonestly(good_, "good").passed);
    Bytes appended = good_;
    const Bytes tail = NoiseBytes(5000, 3);
    appended.insert(appended.end(), tail.begin(), tail.end());
    EXPECT_TRUE(JudgeHonestly(appended, "bytes after the stream").passed);
    WriteFile(scratch_ / "variant.exe", Cut(payload_));   // ending right after the stub installs nothing and succeeds
    const Judgement stub_only = Judge(scratch_ / "variant.exe");
    EXPECT_TRUE(stub_only.passed && stub_only.files.empty()) << stub_only.message;
}

TEST_F(DamagedInstaller, CutAnywhereFailsUnlessNothingUsedWasLost)
{
    for (std::size_t cut = 0; cut < good_.size(); cut = cut + 499 < payload_ ? cut + 499 : cut < payload_ ? payload_ + 1 : cut + (cut < stream_ ? 1 : 37)) {
        const Judgement judgement = JudgeHonestly(Cut(cut), "cut at " + std::to_string(cut));
        EXPECT_TRUE(!judgement.passed || cut >= good_.size() - 8) << "cut at " << cut;
    }
}

TEST_F(DamagedInstaller, FlippedBytesNeverPassWithWrongContents)
{
    int positions = 0, failures_in_stream = 0;
    for (std::size_t at = payload_; at < good_.size(); at += at < stream_ ? 1 : 13, ++positions)
        for (std::uint8_t mask : {0x01, 0x80, 0xFF}) {
            Bytes bytes = good_;
            bytes[at] ^= mask;
            failures_in_stream += at >= stream_ && !JudgeHonestly(bytes, "flip " + std::to_string(mask) + " at " + std::to_string(at)).passed;
        }
    EXPECT_GT(failures_in_stream, positions);   // most flips in the stream are caught; a few land in unused bits
}

struct HeaderBend {
    const char* name;
    std::size_t field;   // 0 file_count, 1 total_size, 2 table_size
    std::int64_t delta;  // added, or the value itself when absolute
    bool absolute;
    const char* expected;
};

class BogusHeader : public DamagedInstaller, public ::testing::WithParamInterface<HeaderBend> {};

TEST_P(BogusHeader, IsRejected)
{
    const HeaderBend& bend = GetParam();
    Bytes bytes = good_;
    std::uint32_t value;
    std::memcpy(&value, &bytes[payload_ + 4 * bend.field], 4);
    value = static_cast<std::uint32_t>(bend.absolute ? bend.delta : value + bend.delta);
    std::memcpy(&bytes[payload_ + 4 * bend.field], &value, 4);
    const Judgement judgement = JudgeHonestly(bytes, bend.name);
    EXPECT_FALSE(judgement.passed);
    EXPECT_NE(judgement.message.find(bend.expected), std::string::npos) << judgement.message;
}

INSTANTIATE_TEST_SUITE_P(
    Bends, BogusHeader,
    ::testing::Values(HeaderBend{"OneFileMore", 0, 1, false, "cannot hold"}, HeaderBend{"OneFileLess", 0, -1, false, ""},
                      HeaderBend{"HugeFileCount", 0, 0xFFFFFFFF, true, "cannot hold"}, HeaderBend{"NoFiles", 0, 0, true, "total_size"},
                      HeaderBend{"TotalOneMore", 1, 1, false, ""}, HeaderBend{"TotalOneLess", 1, -1, false, ""},
                      HeaderBend{"TotalZero", 1, 0, true, "total_size 0"}, HeaderBend{"TotalHuge", 1, 0xFFFFFFFF, true, ""},
                      HeaderBend{"TableOneMore", 2, 1, false, ""}, HeaderBend{"TableOneLess", 2, -1, false, "runs past the table's end"},
                      HeaderBend{"TableOverCapacity", 2, 131073, true, "exceeds the installer's limit"},
                      HeaderBend{"TableHuge", 2, 0xFFFFFFFF, true, "exceeds the installer's limit"}),
    [](const ::testing::TestParamInfo<HeaderBend>& info) { return std::string(info.param.name); });

TEST_F(DamagedInstaller, ToolRejectsAnUnpatchedStubAndNamesTheFileThatFailsItsCrc)
{
    const ToolRun run = RunTool({"test", RealStubPath().string()});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.output.find("unconfigured installation file"), std::string::npos) << run.output;
    Bytes bytes = good_;
    bytes[payload_ + 12 + 33 + image_.records[0].name.size()] ^= 0x01;   // the second record's crc_value
    WriteFile(scratch_ / "variant.exe", bytes);
    for (const std::string& out : std::vector<std::string>{"", (scratch_ / "out").string()}) {   // `test`, then `extract`
        const ToolRun run = out.empty() ? RunTool({"test", (scratch_ / "variant.exe").string()})
                                        : RunTool({"extract", (scratch_ / "variant.exe").string(), out});
        EXPECT_EQ(run.exit_code, 1) << out;
        EXPECT_NE(run.output.find("file 'b\\b.txt' fails its CRC check"), std::string::npos) << run.output;
    }
}

struct SinkCase {
    const char* name;
    std::vector<std::string> files;   // contents in table order
    std::string stream;               // what the stream decodes to
    std::uint32_t total_size;
    bool success;
    std::size_t files_reached;
    std::uint32_t bytes_remaining;
    std::optional<std::size_t> damaged_file;
};

class ExtractionRules : public ::testing::TestWithParam<SinkCase> {};

TEST_P(ExtractionRules, FollowTheInstallersSink)
{
    const SinkCase& c = GetParam();
    BuildCrcTable();
    InstallerImage image;
    for (const std::string& contents : c.files) {
        const auto size = static_cast<std::uint32_t>(contents.size());
        image.records.push_back({UpdateCrc(CrcInitial, reinterpret_cast<const unsigned char*>(contents.data()), size), size, 0, 0, 0, ""});
    }
    image.header.file_count = static_cast<std::uint32_t>(image.records.size());
    image.header.total_size = c.total_size;
    const Bytes stream = EncodeBuffer(reinterpret_cast<const std::uint8_t*>(c.stream.data()), c.stream.size(), 1);
    CollectingOutput output;
    const PayloadVerdict verdict = RunPayloadInMemory(image, stream.data(), stream.size(), &output);
    EXPECT_EQ(verdict.success, c.success);
    EXPECT_EQ(verdict.files_reached, c.files_reached);
    EXPECT_EQ(output.files.size(), c.files_reached);
    EXPECT_EQ(verdict.bytes_remaining, c.bytes_remaining);
    EXPECT_EQ(verdict.damaged_file, c.damaged_file);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractionRules,
    ::testing::Values(SinkCase{"EmptyFileBetweenTwoIsReached", {"abc", "", "de"}, "abcde", 5, true, 3, 0, {}},
                      SinkCase{"EmptyFileAfterTheLastByteIsNotReached", {"abc", ""}, "abc", 3, true, 1, 0, {}},
                      SinkCase{"NothingToDecodeReachesNothing", {"", ""}, "", 0, true, 0, 0, {}},
                      SinkCase{"BytesBeyondTheLastRecordAreDropped", {"abc"}, "abcxyz", 6, false, 1, 3, {}},
                      SinkCase{"ShortTotalLeavesTheLastFileShort", {"abc", "defg"}, "abcdefg", 5, false, 2, 0, 1},
                      // The CRC is compared when the sink moves on, and a failure ends the run.
                      SinkCase{"FailureStopsBeforeTheNextFile", {"abc", "def"}, "abXdef", 6, false, 1, 3, 0},
                      SinkCase{"LastFileIsCheckedAtTheEnd", {"abc", "def", "ghi"}, "abcdefghX", 9, false, 3, 0, 2}),
    [](const ::testing::TestParamInfo<SinkCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace stubkit
