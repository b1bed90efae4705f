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

struct Judgement { bool passed = false; std::string message; std::vector<Bytes> files; };

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
    // Judges BYTES as the installer would; a pass is only honest if every file came out as packed.
    Judgement Judge(const Bytes& bytes, const std::string& what)
    {
        WriteFile(scratch_ / "variant.exe", bytes);
        Judgement judgement;
        try {
            const InstallerImage image = ReadInstallerImage(scratch_ / "variant.exe");
            CollectingOutput output;
            const PayloadVerdict verdict = RunPayload(image, &output);
            judgement = {verdict.success && HeaderInconsistency(image).empty(),
                         verdict.damaged_file ? "crc " + image.records[*verdict.damaged_file].name : HeaderInconsistency(image), output.files};
        } catch (const FormatError& error) {
            judgement = {false, error.what(), {}};
        }
        EXPECT_TRUE(!judgement.passed || judgement.files == kContents || (what == "stub only" && judgement.files.empty())) << what;
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
    Bytes appended = good_;
    const Bytes tail = NoiseBytes(5000, 3);
    appended.insert(appended.end(), tail.begin(), tail.end());
    EXPECT_TRUE(Judge(good_, "good").passed);
    EXPECT_TRUE(Judge(appended, "bytes after the stream").passed);
    EXPECT_TRUE(Judge(Cut(payload_), "stub only").passed);   // ending right after the stub installs nothing and succeeds
}

TEST_F(DamagedInstaller, CutAnywhereFailsUnlessNothingUsedWasLost)
{
    // Every 499th byte of the stub, every byte of header and table after the stub's end, every 37th of the stream.
    for (std::size_t cut = 0; cut < good_.size(); cut = cut + 499 < payload_ ? cut + 499 : cut < payload_ ? payload_ + 1 : cut + (cut < stream_ ? 1 : 37)) {
        const Judgement judgement = Judge(Cut(cut), "cut at " + std::to_string(cut));
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
            failures_in_stream += at >= stream_ && !Judge(bytes, "flip " + std::to_string(mask) + " at " + std::to_string(at)).passed;
        }
    EXPECT_GT(failures_in_stream, positions);   // most flips in the stream are caught; a few land in unused bits
}

// DELTA is added to FIELD (0 file_count, 1 total_size, 2 table_size), or is its value when ABSOLUTE.
struct HeaderBend { const char* name; std::size_t field; std::int64_t delta; bool absolute; const char* expected; };

class BogusHeader : public DamagedInstaller, public ::testing::WithParamInterface<HeaderBend> {};

TEST_P(BogusHeader, IsRejected)
{
    const HeaderBend& bend = GetParam();
    Bytes bytes = good_;
    std::uint32_t value;
    std::memcpy(&value, &bytes[payload_ + 4 * bend.field], 4);
    value = static_cast<std::uint32_t>(bend.absolute ? bend.delta : value + bend.delta);
    std::memcpy(&bytes[payload_ + 4 * bend.field], &value, 4);
    const Judgement judgement = Judge(bytes, bend.name);
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
    Bytes bytes = good_;
    bytes[payload_ + 12 + 33 + image_.records[0].name.size()] ^= 0x01;   // the second record's crc_value
    WriteFile(scratch_ / "variant.exe", bytes);
    const std::string variant = (scratch_ / "variant.exe").string();
    const std::pair<std::vector<std::string>, std::string> runs[] = {
        {{"test", RealStubPath().string()}, "unconfigured installation file"},
        {{"test", variant}, "file 'b\\b.txt' fails its CRC check"},
        {{"extract", variant, (scratch_ / "out").string()}, "file 'b\\b.txt' fails its CRC check"}};
    for (const auto& [arguments, expected] : runs) {
        const auto [code, output] = RunTool(arguments);
        EXPECT_EQ(code, 1) << arguments[0];
        EXPECT_NE(output.find(expected), std::string::npos) << output;
    }
}

struct SinkCase {   // FILES: contents in table order; STREAM: what the stream decodes to
    const char* name; std::vector<std::string> files; std::string stream; std::uint32_t total_size, bytes_remaining; bool success;
    std::size_t files_reached; std::optional<std::size_t> damaged_file;
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
    EXPECT_EQ(std::make_tuple(verdict.success, verdict.files_reached, output.files.size(), verdict.bytes_remaining, verdict.damaged_file),
              std::make_tuple(c.success, c.files_reached, c.files_reached, c.bytes_remaining, c.damaged_file));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractionRules,
    ::testing::Values(SinkCase{"EmptyFileBetweenTwoIsReached", {"abc", "", "de"}, "abcde", 5, 0, true, 3, {}},
                      SinkCase{"EmptyFileAfterTheLastByteIsNotReached", {"abc", ""}, "abc", 3, 0, true, 1, {}},
                      SinkCase{"NothingToDecodeReachesNothing", {"", ""}, "", 0, 0, true, 0, {}},
                      SinkCase{"BytesBeyondTheLastRecordAreDropped", {"abc"}, "abcxyz", 6, 3, false, 1, {}},
                      SinkCase{"ShortTotalLeavesTheLastFileShort", {"abc", "defg"}, "abcdefg", 5, 0, false, 2, 1},
                      // The CRC is compared when the sink moves on, and a failure ends the run.
                      SinkCase{"FailureStopsBeforeTheNextFile", {"abc", "def"}, "abXdef", 6, 3, false, 1, 0},
                      SinkCase{"LastFileIsCheckedAtTheEnd", {"abc", "def", "ghi"}, "abcdefghX", 9, 0, false, 3, 2}),
    [](const ::testing::TestParamInfo<SinkCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace stubkit
