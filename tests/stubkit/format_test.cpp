// The container's pieces on their own: records, the PE section lookup, time
// and code page conversion, and the name rules for Windows and extraction.
#include <gtest/gtest.h>

#include <cstring>

#include "stubkit/codepage.h"
#include "stubkit/embedded_stub.h"
#include "stubkit/file_times.h"
#include "stubkit/installer_file.h"
#include "stubkit/operations.h"
#include "stubkit/pack_plan.h"
#include "stubkit/pe_sections.h"
#include "test_support.h"

namespace stubkit {
namespace {

using testing::NoiseBytes;
using testing::ReadFile;
using testing::RealStubPath;

std::vector<FileRecord> SampleRecords()
{
    FileRecord first;
    first.crc_value = 0xCADBBE3D;
    first.file_size = 3;
    first.creation_time = 0x0102030405060708;
    first.access_time = 0x1112131415161718;
    first.write_time = 0x2122232425262728;
    first.name = "abc.txt";
    FileRecord empty;
    empty.name = "folder with space\\empty";
    FileRecord longest;
    longest.file_size = 0x7FFFFFFF;
    longest.name = std::string(255, 'n');
    return {first, empty, longest};
}

TEST(FileTable, RecordBytesAreLittleEndianInFieldOrder)
{
    const std::vector<std::uint8_t> table = SerializeFileTable({SampleRecords()[0]});
    const std::vector<std::uint8_t> expected = {
        0x3D, 0xBE, 0xDB, 0xCA, 3, 0, 0, 0,
        0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,
        0x18, 0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11,
        0x28, 0x27, 0x26, 0x25, 0x24, 0x23, 0x22, 0x21,
        7, 'a', 'b', 'c', '.', 't', 'x', 't'};
    EXPECT_EQ(table, expected);
}

TEST(FileTable, ParsesWhatItSerializes)
{
    const std::vector<FileRecord> records = SampleRecords();
    const std::vector<std::uint8_t> table = SerializeFileTable(records);
    const std::vector<FileRecord> parsed = ParseFileTable(table.data(), table.size(), 3);
    ASSERT_EQ(parsed.size(), 3u);
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(parsed[i].name, records[i].name);
        EXPECT_EQ(parsed[i].crc_value, records[i].crc_value);
        EXPECT_EQ(parsed[i].file_size, records[i].file_size);
        EXPECT_EQ(parsed[i].write_time, records[i].write_time);
    }
}

TEST(FileTable, RejectsCountsAndNamesThatOverrunTheTable)
{
    const std::vector<std::uint8_t> table = SerializeFileTable(SampleRecords());
    // Every cut inside the last record, and a count beyond the records.
    for (std::size_t cut = table.size() - 255 - 33; cut < table.size(); ++cut)
        EXPECT_THROW(ParseFileTable(table.data(), cut, 3), FormatError) << "cut at " << cut;
    EXPECT_THROW(ParseFileTable(table.data(), table.size(), 4), FormatError);
    EXPECT_THROW(ParseFileTable(table.data(), table.size(), 0xFFFFFFFF), FormatError);
    EXPECT_NO_THROW(ParseFileTable(table.data(), table.size(), 2));
}

TEST(ConfigRecord, FoundInTheRealStubsSectionAndByItsMarkers)
{
    std::vector<std::uint8_t> stub = ReadFile(RealStubPath());
    const std::optional<std::size_t> offset = FindConfigRecord(stub);
    ASSERT_TRUE(offset);
    EXPECT_EQ(std::memcmp(&stub[*offset], CONFIG_MARKER_STUB_SIZE, sizeof CONFIG_MARKER_STUB_SIZE), 0);
    // A stub without the section: the PE signature broken, the markers remain.
    stub[0] = 'X';
    EXPECT_EQ(FindConfigRecord(stub), offset);
}

TEST(EmbeddedStub, IsTheStubTheWindowsTreeBuilt)
{
    const std::vector<std::uint8_t> built = ReadFile(RealStubPath());
    EXPECT_TRUE(std::vector<std::uint8_t>(kEmbeddedStub, kEmbeddedStub + kEmbeddedStubSize) == built);
}

TEST(PeSections, GarbageAndCutImagesNeverReadOutOfBounds)
{
    const std::vector<std::uint8_t> stub = ReadFile(RealStubPath());
    for (std::size_t cut = 0; cut < 1024; cut += 7)
        FindPeSection(stub.data(), cut, ".stubcfg");
    for (std::uint32_t seed = 0; seed < 200; ++seed) {
        std::vector<std::uint8_t> bytes = stub;
        const std::vector<std::uint8_t> noise = NoiseBytes(16, seed);
        for (std::size_t i = 0; i < 8; ++i)
            bytes[(noise[2 * i] | noise[2 * i + 1] << 8) % 1024] = noise[i];
        const auto section = FindPeSection(bytes.data(), bytes.size(), ".stubcfg");
        if (section) {
            EXPECT_LE(section->file_offset + section->file_size, bytes.size());
        }
    }
}

TEST(FileTimes, ConvertBetweenUnixAndFiletime)
{
    EXPECT_EQ(FiletimeFromUnix(0, 0), 116444736000000000u);
    EXPECT_EQ(FiletimeFromUnix(1, 999999999), 116444736000000000u + 19999999);
    const timespec back = UnixFromFiletime(116444736000000000u + 15);
    EXPECT_EQ(back.tv_sec, 0);
    EXPECT_EQ(back.tv_nsec, 1500);
    EXPECT_EQ(FormatFiletime(FiletimeFromUnix(951782400, 123456700)), "2000-02-29 00:00:00.1234567 UTC");
    EXPECT_EQ(FiletimeFromUnix(-11644473601, 0), 0u);   // before 1601 has no FILETIME
}

struct CodepageCase {
    int codepage;
    std::string utf8;
    std::optional<std::string> ansi;
};

void PrintTo(const CodepageCase& c, std::ostream* out)
{
    *out << "code page " << c.codepage << ", " << c.utf8.size() << " UTF-8 bytes";
}

class CodepageConversion : public ::testing::TestWithParam<CodepageCase> {};

TEST_P(CodepageConversion, ConvertsOrRefuses)
{
    const CodepageCase& c = GetParam();
    const Codepage codepage(c.codepage);
    EXPECT_EQ(codepage.FromUtf8(c.utf8), c.ansi);
    if (c.ansi) {
        EXPECT_EQ(codepage.ToUtf8(*c.ansi), c.utf8);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CodepageConversion,
    ::testing::Values(CodepageCase{1252, "caf\xC3\xA9", std::string("caf\xE9")},
                      CodepageCase{1252, "\xE2\x82\xAC", std::string("\x80")},
                      CodepageCase{1252, "\xD0\x96", std::nullopt},          // Cyrillic
                      CodepageCase{1251, "\xD0\x96", std::string("\xC6")},
                      CodepageCase{1252, "bad \xC3", std::nullopt},           // cut UTF-8
                      CodepageCase{932, "\xE3\x82\xBD", std::string("\x83\x5C")}));

TEST(Codepage, UnknownNumberIsRefused)
{
    EXPECT_THROW(Codepage(99999), std::invalid_argument);
}

TEST(FoldCase, MatchesWindowsCaseInsensitiveNames)
{
    EXPECT_EQ(FoldCaseUtf8("Pod\\Readme.TXT"), FoldCaseUtf8("pod\\README.txt"));
    EXPECT_EQ(FoldCaseUtf8("\xC3\xA9t\xC3\xA9"), FoldCaseUtf8("\xC3\x89T\xC3\x89"));
    EXPECT_NE(FoldCaseUtf8("a.txt"), FoldCaseUtf8("b.txt"));
}

struct NameCase {
    std::string name;
    bool allowed;
};

void PrintTo(const NameCase& c, std::ostream* out)
{
    *out << "'" << c.name << "'";
}

class WindowsNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(WindowsNames, FollowWindowsRules)
{
    EXPECT_EQ(WindowsNameProblem(GetParam().name).empty(), GetParam().allowed) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowsNames,
    ::testing::Values(NameCase{"readme.txt", true}, NameCase{"with space.txt", true},
                      NameCase{"CONSOLE.txt", true}, NameCase{"COM0", true}, NameCase{".hidden", true},
                      NameCase{"con", false}, NameCase{"Nul.txt", false}, NameCase{"COM1", false},
                      NameCase{"lpt9.log", false}, NameCase{"aux .txt", false}, NameCase{"dot.", false},
                      NameCase{"blank ", false}, NameCase{"a<b", false}, NameCase{"a:b", false},
                      NameCase{"q?", false}, NameCase{"star*", false}, NameCase{"pipe|", false},
                      NameCase{"quote\"", false}, NameCase{"tab\t", false}, NameCase{"..", false},
                      NameCase{"", false}));

struct ExtractNameCase {
    std::string name;
    std::string expected;   // relative to the folder; empty when refused
};

void PrintTo(const ExtractNameCase& c, std::ostream* out)
{
    *out << "'" << c.name << "'";
}

class ExtractNames : public ::testing::TestWithParam<ExtractNameCase> {};

TEST_P(ExtractNames, StayInsideTheFolder)
{
    const ExtractPath path = SafeExtractPath(GetParam().name, "/out");
    if (GetParam().expected.empty()) {
        EXPECT_FALSE(path.refusal.empty()) << GetParam().name;
    } else {
        EXPECT_TRUE(path.refusal.empty()) << path.refusal;
        EXPECT_EQ(path.path, std::filesystem::path("/out") / GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractNames,
    ::testing::Values(ExtractNameCase{"a.txt", "a.txt"}, ExtractNameCase{"d e\\f g\\h", "d e/f g/h"},
                      ExtractNameCase{"..\\evil", ""}, ExtractNameCase{"a\\..\\..\\evil", ""},
                      ExtractNameCase{"\\root", ""}, ExtractNameCase{"C:\\evil", ""},
                      ExtractNameCase{"C:evil", ""}, ExtractNameCase{"a/../../evil", ""},
                      ExtractNameCase{"/etc/passwd", ""}, ExtractNameCase{"a\\\\b", ""},
                      ExtractNameCase{".", ""}, ExtractNameCase{"", ""}, ExtractNameCase{"a\\", ""},
                      ExtractNameCase{std::string("ok\0..\\x", 7), ""}));

}  // namespace
}  // namespace stubkit
