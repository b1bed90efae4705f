// Damaged installers: cut anywhere, bytes flipped, header counts bent, an
// unpatched stub. Each is judged without a crash or a hang, and a file that
// passes must really give back the product, as the installer would.
#include <gtest/gtest.h>

#include <cstring>

#include "stubkit/operations.h"
#include "stubkit/payload_run.h"
#include "test_support.h"

namespace stubkit {
namespace {
namespace fs = std::filesystem;

using testing::ConfigText;
using testing::NoiseBytes;
using testing::ReadFile;
using testing::RealStubPath;
using testing::RunTool;
using testing::ScratchFolder;
using testing::WriteFile;

class CollectingOutput : public FileOutput {
public:
    void Open(std::size_t, const FileRecord&) override { files.emplace_back(); }
    void Write(const std::uint8_t* bytes, std::size_t size) override
    {
        files.back().insert(files.back().end(), bytes, bytes + size);
    }
    void Close(std::size_t, const FileRecord&) override {}
    void Abandon(std::size_t) override {}

    std::vector<std::vector<std::uint8_t>> files;
};

struct Judgement {
    bool passed = false;
    bool refused_head = false;   // rejected before decoding
    std::string message;
    std::vector<std::vector<std::uint8_t>> files;
};

Judgement Judge(const fs::path& path)
{
    Judgement judgement;
    try {
        const InstallerImage image = ReadInstallerImage(path);
        CollectingOutput output;
        const PayloadVerdict verdict = RunPayload(image, &output);
        judgement.passed = verdict.success && HeaderInconsistency(image).empty();
        judgement.files = std::move(output.files);
        judgement.message = verdict.damaged_file ? "crc " + image.records[*verdict.damaged_file].name
                                                 : HeaderInconsistency(image);
    } catch (const FormatError& error) {
        judgement.refused_head = true;
        judgement.message = error.what();
    }
    return judgement;
}

// Three files, the last one not empty, so that every count matters.
class DamagedInstaller : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        scratch_ = new ScratchFolder;
        contents_ = {NoiseBytes(3000, 1), std::vector<std::uint8_t>(20000, 'a'), NoiseBytes(9000, 2)};
        const char* names[] = {"a.bin", "b\\b.txt", "c.bin"};
        for (std::size_t i = 0; i < contents_.size(); ++i)
            WriteFile(scratch_->Path() / "product" / (i == 1 ? std::string("b/b.txt") : names[i]), contents_[i]);
        WriteFile(scratch_->Path() / "product.toml", ConfigText("product"));
        BuildOptions options;
        options.config = scratch_->Path() / "product.toml";
        options.output = scratch_->Path() / "good.exe";
        options.level = 1;
        BuildInstaller(options, [](const std::string&) {});
        good_ = ReadFile(options.output);
        image_ = new InstallerImage(ReadInstallerImage(options.output));
    }
    static void TearDownTestSuite()
    {
        delete image_;
        delete scratch_;
    }

    fs::path WriteVariant(const std::vector<std::uint8_t>& bytes)
    {
        const fs::path path = scratch_->Path() / "variant.exe";
        WriteFile(path, bytes);
        return path;
    }

    // A pass is only honest if every file came out as packed.
    void ExpectHonest(const Judgement& judgement, const std::string& what)
    {
        if (!judgement.passed)
            return;
        ASSERT_EQ(judgement.files.size(), contents_.size()) << what;
        for (std::size_t i = 0; i < contents_.size(); ++i)
            EXPECT_TRUE(judgement.files[i] == contents_[i]) << what << ": file " << i;
    }

    std::size_t PayloadOffset() const { return image_->stub_size; }
    std::size_t StreamOffset() const { return static_cast<std::size_t>(image_->stream_offset); }

    static ScratchFolder* scratch_;
    static std::vector<std::vector<std::uint8_t>> contents_;
    static std::vector<std::uint8_t> good_;
    static InstallerImage* image_;
};

ScratchFolder* DamagedInstaller::scratch_;
std::vector<std::vector<std::uint8_t>> DamagedInstaller::contents_;
std::vector<std::uint8_t> DamagedInstaller::good_;
InstallerImage* DamagedInstaller::image_;

TEST_F(DamagedInstaller, TheUndamagedOnePasses)
{
    const Judgement judgement = Judge(WriteVariant(good_));
    EXPECT_TRUE(judgement.passed) << judgement.message;
    ExpectHonest(judgement, "good");
}

TEST_F(DamagedInstaller, CutAnywhereFailsUnlessNothingUsedWasLost)
{
    std::vector<std::size_t> cuts;
    for (std::size_t cut = 0; cut < PayloadOffset(); cut += 499)
        cuts.push_back(cut);
    for (std::size_t cut = PayloadOffset() + 1; cut < StreamOffset(); ++cut)
        cuts.push_back(cut);
    for (std::size_t cut = StreamOffset(); cut < good_.size(); cut += 37)
        cuts.push_back(cut);
    for (std::size_t cut : cuts) {
        const std::vector<std::uint8_t> bytes(good_.begin(), good_.begin() + static_cast<long>(cut));
        const Judgement judgement = Judge(WriteVariant(bytes));
        if (cut < good_.size() - 8) {
            EXPECT_FALSE(judgement.passed) << "cut at " << cut;
        }
        ExpectHonest(judgement, "cut at " + std::to_string(cut));
    }
}

TEST_F(DamagedInstaller, EndingRightAfterTheStubInstallsNothingAndSucceeds)
{
    const std::vector<std::uint8_t> bytes(good_.begin(), good_.begin() + static_cast<long>(PayloadOffset()));
    const Judgement judgement = Judge(WriteVariant(bytes));
    EXPECT_TRUE(judgement.passed) << judgement.message;
    EXPECT_TRUE(judgement.files.empty());
}

TEST_F(DamagedInstaller, BytesAfterTheStreamChangeNothing)
{
    std::vector<std::uint8_t> bytes = good_;
    const std::vector<std::uint8_t> tail = NoiseBytes(5000, 3);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    const Judgement judgement = Judge(WriteVariant(bytes));
    EXPECT_TRUE(judgement.passed) << judgement.message;
    ExpectHonest(judgement, "appended");
}

TEST_F(DamagedInstaller, FlippedBytesNeverPassWithWrongContents)
{
    std::vector<std::size_t> positions;
    for (std::size_t at = PayloadOffset(); at < StreamOffset(); ++at)
        positions.push_back(at);
    for (std::size_t at = StreamOffset(); at < good_.size(); at += 13)
        positions.push_back(at);
    int failures_in_stream = 0;
    for (std::size_t at : positions) {
        for (std::uint8_t mask : {0x01, 0x80, 0xFF}) {
            std::vector<std::uint8_t> bytes = good_;
            bytes[at] ^= mask;
            const Judgement judgement = Judge(WriteVariant(bytes));
            ExpectHonest(judgement, "flip " + std::to_string(mask) + " at " + std::to_string(at));
            failures_in_stream += at >= StreamOffset() && !judgement.passed;
        }
    }
    // Most flips in the stream must be caught; a few land in unused bits.
    EXPECT_GT(failures_in_stream, static_cast<int>(positions.size()));
}

struct HeaderBend {
    const char* name;
    std::size_t field;   // 0 file_count, 1 total_size, 2 table_size
    std::int64_t delta;  // added, or the value itself when absolute
    bool absolute;
    const char* expected;
};

void PrintTo(const HeaderBend& bend, std::ostream* out)
{
    *out << bend.name;
}

class BogusHeader : public DamagedInstaller, public ::testing::WithParamInterface<HeaderBend> {};

TEST_P(BogusHeader, IsRejected)
{
    const HeaderBend& bend = GetParam();
    std::vector<std::uint8_t> bytes = good_;
    std::uint8_t* field = &bytes[PayloadOffset() + 4 * bend.field];
    std::uint32_t value;
    std::memcpy(&value, field, 4);
    value = bend.absolute ? static_cast<std::uint32_t>(bend.delta) : static_cast<std::uint32_t>(value + bend.delta);
    std::memcpy(field, &value, 4);
    const Judgement judgement = Judge(WriteVariant(bytes));
    EXPECT_FALSE(judgement.passed);
    EXPECT_NE(judgement.message.find(bend.expected), std::string::npos) << judgement.message;
}

INSTANTIATE_TEST_SUITE_P(
    Bends, BogusHeader,
    ::testing::Values(HeaderBend{"OneFileMore", 0, 1, false, "cannot hold"},
                      HeaderBend{"OneFileLess", 0, -1, false, ""},
                      HeaderBend{"HugeFileCount", 0, 0xFFFFFFFF, true, "cannot hold"},
                      HeaderBend{"NoFiles", 0, 0, true, "total_size"},
                      HeaderBend{"TotalOneMore", 1, 1, false, ""},
                      HeaderBend{"TotalOneLess", 1, -1, false, ""},
                      HeaderBend{"TotalZero", 1, 0, true, "total_size 0"},
                      HeaderBend{"TotalHuge", 1, 0xFFFFFFFF, true, ""},
                      HeaderBend{"TableOneMore", 2, 1, false, ""},
                      HeaderBend{"TableOneLess", 2, -1, false, "runs past the table's end"},
                      HeaderBend{"TableOverCapacity", 2, 131073, true, "exceeds the installer's limit"},
                      HeaderBend{"TableHuge", 2, 0xFFFFFFFF, true, "exceeds the installer's limit"}),
    [](const ::testing::TestParamInfo<HeaderBend>& info) { return std::string(info.param.name); });

TEST_F(DamagedInstaller, UnpatchedStubIsAnUnconfiguredFile)
{
    const Judgement judgement = Judge(RealStubPath());
    EXPECT_TRUE(judgement.refused_head);
    EXPECT_NE(judgement.message.find("unconfigured installation file"), std::string::npos) << judgement.message;
    const testing::ToolRun run = RunTool({"test", RealStubPath().string()});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.output.find("unconfigured installation file"), std::string::npos) << run.output;
}

TEST_F(DamagedInstaller, ToolNamesTheFileThatFailsItsCrc)
{
    std::vector<std::uint8_t> bytes = good_;
    // The second record's crc_value: right after the first record.
    const std::size_t second_record = PayloadOffset() + 12 + 33 + image_->records[0].name.size();
    bytes[second_record] ^= 0x01;
    const fs::path path = WriteVariant(bytes);
    for (const char* command : {"test", "extract"}) {
        std::vector<std::string> arguments = {command, path.string()};
        if (std::string(command) == "extract")
            arguments.push_back((scratch_->Path() / "out").string());
        const testing::ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.exit_code, 1) << command;
        EXPECT_NE(run.output.find("file 'b\\b.txt' fails its CRC check"), std::string::npos) << run.output;
    }
}

}  // namespace
}  // namespace stubkit
