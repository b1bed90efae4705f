// The container's pieces on their own: records, the PE section lookup, time
// and code page conversion, and the name rules for Windows and extraction.
#include <gtest/gtest.h>

#include <cstring>

#include "stubkit/codepage.h"
#include "stubkit/embedded_stub.h"
#include "stubkit/file_times.h"
#include "stubkit/installer_file.h"
#include "stubkit/pack_plan.h"
#include "stubkit/pe_sections.h"
#include "test_support.h"

namespace stubkit {
namespace {
using namespace testing;

TEST(FileTable, RecordBytesAreLittleEndianInFieldOrderAndParseBack)
{
    FileRecord first{0xCADBBE3D, 3, 0x0102030405060708, 0x1112131415161718, 0x2122232425262728, "abc.txt"};
    FileRecord empty, longest;
    empty.name = "folder with space\\empty";
    longest.file_size = 0x7FFFFFFF;
    longest.name = std::string(255, 'n');
    const Bytes expected = {0x3D, 0xBE, 0xDB, 0xCA, 3,    0,    0,    0,    0x08, 0x07, 0x06, 0x05, 0x04, 0x03,
                            0x02, 0x01, 0x18, 0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11, 0x28, 0x27, 0x26, 0x25,
                            0x24, 0x23, 0x22, 0x21, 7,    'a',  'b',  'c',  '.',  't',  'x',  't'};
    EXPECT_EQ(SerializeFileTable({first}), expected);
    const Bytes table = SerializeFileTable({first, empty, longest});
    const std::vector<FileRecord> parsed = ParseFileTable(table.data(), table.size(), 3);
    ASSERT_EQ(parsed.size(), 3u);
    EXPECT_EQ(SerializeFileTable(parsed), table);
    // Every cut inside the last record, and counts beyond the records.
    for (std::size_t cut = table.size() - 255 - 33; cut < table.size(); ++cut)
        EXPECT_THROW(ParseFileTable(table.data(), cut, 3), FormatError) << "cut at " << cut;
    EXPECT_THROW(ParseFileTable(table.data(), table.size(), 4), FormatError);
    EXPECT_THROW(ParseFileTable(table.data(), table.size(), 0xFFFFFFFF), FormatError);
    EXPECT_EQ(ParseFileTable(table.data(), table.size(), 2).size(), 2u);
}

TEST(ConfigRecord, FoundInTheRealStubsSectionAndByItsMarkersAndEmbeddedStubIsTheBuiltOne)
{
    Bytes stub = ReadFile(RealStubPath());
    EXPECT_TRUE(Bytes(kEmbeddedStub, kEmbeddedStub + kEmbeddedStubSize) == stub);
    const std::optional<std::size_t> offset = FindConfigRecord(stub);
    ASSERT_TRUE(offset);
    EXPECT_EQ(std::memcmp(&stub[*offset], CONFIG_MARKER_STUB_SIZE, sizeof CONFIG_MARKER_STUB_SIZE), 0);
    stub[0] = 'X';   // the PE signature broken: found by the markers
    EXPECT_EQ(FindConfigRecord(stub), offset);
}

TEST(PeSections, GarbageAndCutImagesNeverReadOutOfBounds)
{
    const Bytes stub = ReadFile(RealStubPath());
    for (std::size_t cut = 0; cut < 1024; cut += 7)
        FindPeSection(stub.data(), cut, ".stubcfg");
    for (std::uint32_t seed = 0; seed < 200; ++seed) {
        Bytes bytes = stub;
        const Bytes noise = NoiseBytes(16, seed);
        for (std::size_t i = 0; i < 8; ++i)
            bytes[(noise[2 * i] | noise[2 * i + 1] << 8) % 1024] = noise[i];
        const auto section = FindPeSection(bytes.data(), bytes.size(), ".stubcfg");
        EXPECT_TRUE(!section || section->file_offset + section->file_size <= bytes.size()) << seed;
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

TEST(Codepage, ConvertsOrRefusesAndFoldsCaseLikeWindows)
{
    const struct { int codepage; std::string utf8; std::optional<std::string> ansi; } cases[] = {
        {1252, "caf\xC3\xA9", "caf\xE9"}, {1252, "\xE2\x82\xAC", "\x80"}, {1252, "\xD0\x96", std::nullopt},
        {1251, "\xD0\x96", "\xC6"},       {1252, "bad \xC3", std::nullopt}, {932, "\xE3\x82\xBD", "\x83\x5C"}};
    for (const auto& c : cases) {
        EXPECT_EQ(Codepage(c.codepage).FromUtf8(c.utf8), c.ansi) << c.codepage << " " << c.utf8;
        EXPECT_TRUE(!c.ansi || Codepage(c.codepage).ToUtf8(*c.ansi) == c.utf8) << c.codepage;
    }
    EXPECT_THROW(Codepage(99999), std::invalid_argument);
    EXPECT_EQ(FoldCaseUtf8("Pod\\Readme.TXT"), FoldCaseUtf8("pod\\README.txt"));
    EXPECT_EQ(FoldCaseUtf8("\xC3\xA9t\xC3\xA9"), FoldCaseUtf8("\xC3\x89T\xC3\x89"));
    EXPECT_NE(FoldCaseUtf8("a.txt"), FoldCaseUtf8("b.txt"));
}

TEST(Names, WindowsRulesAndExtractionStaysInsideTheFolder)
{
    for (const char* name : {"readme.txt", "with space.txt", "CONSOLE.txt", "COM0", ".hidden"})
        EXPECT_EQ(WindowsNameProblem(name), "") << name;
    for (const char* name : {"con", "Nul.txt", "COM1", "lpt9.log", "aux .txt", "dot.", "blank ", "a<b", "a:b", "q?",
                             "star*", "pipe|", "quote\"", "tab\t", "..", ""})
        EXPECT_NE(WindowsNameProblem(name), "") << name;
    EXPECT_EQ(SafeExtractPath("a.txt", "/out").path, fs::path("/out/a.txt"));
    EXPECT_EQ(SafeExtractPath("d e\\f g\\h", "/out").path, fs::path("/out/d e/f g/h"));
    EXPECT_EQ(SafeExtractPath("d e\\f g\\h", "/out").refusal, "");
    for (const std::string& name : std::vector<std::string>{"..\\evil", "a\\..\\..\\evil", "\\root", "C:\\evil", "C:evil", "a/../../evil",
                                   "/etc/passwd", "a\\\\b", ".", "", "a\\", std::string("ok\0..\\x", 7)})
        EXPECT_NE(SafeExtractPath(name, "/out").refusal, "") << name;
}

}  // namespace
}  // namespace stubkit
