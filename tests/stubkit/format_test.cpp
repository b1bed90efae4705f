// The container's pieces on their own: records, the stub's record, time and
// code page conversion, and the name rules for Windows and extraction.
#include <gtest/gtest.h>

#include <cstring>

#include "stubkit/codepage.h"
#include "stubkit/embedded_stub.h"
#include "stubkit/file_times.h"
#include "stubkit/pack_plan.h"
#include "test_support.h"

namespace stubkit {
namespace {
using namespace testing;

TEST(FileTable, RecordBytesAreLittleEndianInFieldOrderParseBackAndOverrunsAreRejected)
{
    const FileRecord first{0xCADBBE3D, 3, 0x0102030405060708, 0x1112131415161718, 0x2122232425262728, "abc.txt"};
    const FileRecord empty{CrcInitial, 0, 0, 0, 0, "folder with space\\empty"}, longest{0, 0x7FFFFFFF, 0, 0, 0, std::string(255, 'n')};
    const Bytes expected = {0x3D, 0xBE, 0xDB, 0xCA, 3, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1, 0x18, 0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11,
                            0x28, 0x27, 0x26, 0x25, 0x24, 0x23, 0x22, 0x21, 7, 'a', 'b', 'c', '.', 't', 'x', 't'};
    EXPECT_EQ(SerializeFileTable({first}), expected);
    const Bytes table = SerializeFileTable({first, empty, longest});
    EXPECT_EQ(SerializeFileTable(ParseFileTable(table.data(), table.size(), 3)), table);
    for (std::size_t cut = table.size() - 255 - 33; cut < table.size(); ++cut)   // every cut inside the last record
        EXPECT_THROW(ParseFileTable(table.data(), cut, 3), FormatError) << "cut at " << cut;
    EXPECT_THROW(ParseFileTable(table.data(), table.size(), 4), FormatError);
    EXPECT_THROW(ParseFileTable(table.data(), table.size(), 0xFFFFFFFF), FormatError);
    EXPECT_EQ(ParseFileTable(table.data(), table.size(), 2).size(), 2u);
}

TEST(ConfigRecord, FoundInTheRealStubsSectionAndByItsMarkersAndTheEmbeddedStubIsTheBuiltOne)
{
    Bytes stub = ReadFile(RealStubPath());
    EXPECT_TRUE(Bytes(kEmbeddedStub, kEmbeddedStub + kEmbeddedStubSize) == stub);
    const std::optional<std::size_t> offset = FindConfigRecord(stub);
    ASSERT_TRUE(offset);
    EXPECT_EQ(std::memcmp(&stub[*offset], CONFIG_MARKER_STUB_SIZE, sizeof CONFIG_MARKER_STUB_SIZE), 0);
    stub[0] = 'X';   // the PE signature broken: found by the markers
    EXPECT_EQ(FindConfigRecord(stub), offset);
}

TEST(FileTimes, ConvertBetweenUnixAndFiletime)
{
    EXPECT_EQ(FiletimeFromUnix(0, 0), 116444736000000000u);
    EXPECT_EQ(FiletimeFromUnix(1, 999999999), 116444736000000000u + 19999999);
    EXPECT_EQ(UnixFromFiletime(116444736000000000u + 15).tv_sec, 0);
    EXPECT_EQ(UnixFromFiletime(116444736000000000u + 15).tv_nsec, 1500);
    EXPECT_EQ(FormatFiletime(FiletimeFromUnix(951782400, 123456700)), "2000-02-29 00:00:00.1234567 UTC");
    EXPECT_EQ(FiletimeFromUnix(-11644473601, 0), 0u);   // before 1601 has no FILETIME
}

TEST(Codepage, ConvertsOrRefusesAndFoldsCaseLikeWindows)
{
    const struct { int codepage; std::string utf8; std::optional<std::string> ansi; } cases[] = {
        {1252, "caf\xC3\xA9", "caf\xE9"}, {1252, "\xE2\x82\xAC", "\x80"}, {1252, "\xD0\x96", std::nullopt},
        {1251, "\xD0\x96", "\xC6"}, {1252, "bad \xC3", std::nullopt}, {932, "\xE3\x82\xBD", "\x83\x5C"}};
    for (const auto& c : cases) {
        EXPECT_EQ(Codepage(c.codepage).FromUtf8(c.utf8), c.ansi) << c.codepage << " " << c.utf8;
        EXPECT_TRUE(!c.ansi || Codepage(c.codepage).ToUtf8(*c.ansi) == c.utf8) << c.codepage;
    }
    EXPECT_THROW(Codepage(99999), std::invalid_argument);
    EXPECT_EQ(FoldCaseUtf8("Pod\\Readme.TXT"), FoldCaseUtf8("pod\\README.txt"));
    EXPECT_EQ(FoldCaseUtf8("\xC3\xA9t\xC3\xA9"), FoldCaseUtf8("\xC3\x89T\xC3\x89"));
    EXPECT_NE(FoldCaseUtf8("a.txt"), FoldCaseUtf8("b.txt"));
}

TEST(Names, FollowWindowsRulesAndExtractionStaysInsideTheFolder)
{
    for (const char* name : {"readme.txt", "with space.txt", "CONSOLE.txt", "COM0", ".hidden"})
        EXPECT_EQ(WindowsNameProblem(name), "") << name;
    for (const char* name : {"con", "Nul.txt", "COM1", "lpt9.log", "aux .txt", "dot.", "blank ", "a<b", "a:b", "q?", "star*",
                             "pipe|", "quote\"", "tab\t", "..", ""})
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
