// Every check of `build`: a config or product folder breaking one rule is rejected with a message naming the field
// or file, and nothing is written; the same input just inside the limit passes; warnings do not fail a build. Then
// the pieces on their own: records, time and code page conversion, Windows and extraction names.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <csignal>
#include <cstring>
#include <sstream>
#include "stubkit/files/codepage.h"
#include "stubkit/container/record_rules.h"
#include "stubkit/pack/embedded_stub.h"
#include "stubkit/files/file_times.h"
#include "stubkit/files/name_pattern.h"
#include "stubkit/pack/pack_plan.h"
#include "stubkit/pack/text_rules.h"
#include "stubkit/files/progress.h"
#include "test_support.h"

namespace stubkit {
namespace {
using namespace testing;
using Setup = std::function<void(const fs::path& product)>;

struct Case {
    std::string name, config;   // CONFIG: the whole config text; "prod" is the product folder
    Setup setup = nullptr;      // extra files beside readme.txt and bin/app.exe
    std::string error = "";     // parts of the error, '|' between them; empty: the build succeeds
    std::string warning = "";   // part of the only warning; "none": no warning; empty: not checked
    int codepage = kDefaultCodepage;
    std::function<Bytes(Bytes)> stub = nullptr;   // makes the stub from the real one; null: the built-in stub
    std::string output = "setup.exe";             // relative to the scratch folder
    Setup after = nullptr;                        // checks on the scratch folder after the build
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::string S(std::size_t count, char c) { return std::string(count, c); }
std::string Config(const std::string& extra, const std::string& title = "Test Product") { return ConfigText("prod", extra, title); }
std::string Row(const std::string& table, const std::string& link, const std::string& target = "readme.txt")
{
    return "[[" + table + "]]\nlink = \"" + link + "\"\ntarget = \"" + target + "\"\n";
}
std::string Rows(const std::string& table, int count) { return count ? Row(table, std::to_string(count) + ".lnk") + Rows(table, count - 1) : ""; }
Setup AddFile(const std::string& relative) { return [=](const fs::path& product) { WriteFile(product / fs::u8path(relative), "x"); }; }
// COUNT sparse files of SIZE bytes, named by their number padded with 'n' to NAME_LENGTH.
Setup AddFiles(int count, std::uint64_t size, std::size_t name_length = 1)
{
    return [=](const fs::path& product) {
        for (int i = 0; i < count; ++i) {
            std::string name = std::to_string(i);
            name.resize(std::max(name_length, name.size()), 'n');
            WriteFile(product / name, "");
            fs::resize_file(product / name, size);
        }
    };
}

// Beside readme.txt and bin/app.exe (records of 43 and 44 bytes), 72,004
// records of 233 bytes (200-byte names, which fit under the proposed folder)
// and one of 197 fill a file table of exactly the installer's capacity;
// `extra` lengthens that last name.
Setup TableAtCapacityPlus(std::size_t extra)
{
    static_assert(kFileTableCapacity == 43 + 44 + 72004 * 233 + 197, "the table no longer fills the capacity");
    return [=](const fs::path& product) {
        AddFiles(72004, 0, 200)(product);
        WriteFile(product / ("last" + S(160 + extra, 'n')), "");
    };
}

class BuildRules : public ::testing::TestWithParam<Case> {};
TEST_P(BuildRules, RejectNamingTheFieldOrWarnWithoutFailing)
{
    const Case& c = GetParam();
    ScratchFolder scratch;
    WriteFile(scratch / "prod/readme.txt", "Read me.\n");
    WriteFile(scratch / "prod/bin/app.exe", "MZ");
    if (c.setup)
        c.setup(scratch / "prod");
    WriteFile(scratch / "product.toml", c.config);
    if (c.stub && !fs::exists(scratch / "other-stub.exe"))   // a setup may have put something else there
        WriteFile(scratch / "other-stub.exe", c.stub(ReadFile(RealStubPath())));
    std::string message;
    std::vector<std::string> warnings;
    try {
        Build(scratch, c.output, 1, [&](const std::string& w) { warnings.push_back(w); }, c.stub ? scratch / "other-stub.exe" : "", c.codepage);
    } catch (const std::exception& error) {
        message = error.what();
    }
    EXPECT_TRUE(c.output != "setup.exe" || fs::exists(scratch / "setup.exe") == c.error.empty());
    for (const fs::directory_entry& entry : fs::directory_iterator(scratch.path))
        EXPECT_NE(entry.path().filename().string().rfind(".setup.exe.partial", 0), 0u) << entry.path();
    if (c.after)
        c.after(scratch.path);
    EXPECT_EQ(message.empty(), c.error.empty()) << message;
    std::istringstream parts(c.error);   // a part after '!' must not be there: a problem is reported once
    for (std::string part; std::getline(parts, part, '|');)
        EXPECT_EQ(message.find(part.substr(part[0] == '!')) == std::string::npos, part[0] == '!') << part << " in: " << message;
    EXPECT_TRUE(c.warning.empty() || (c.warning == "none" ? warnings.empty()
                                                        : warnings.size() == 1 && warnings[0].find(c.warning) != std::string::npos))
        << ::testing::PrintToString(warnings);
}

const std::string k260 = S(260, 'f'), kShiftJisSo = "\xE3\x82\xBD";   // 0x83 0x5C in code page 932: a backslash byte
const std::string kHyo = "\xE8\xA1\xA8";   // U+8868, 0x95 0x5C in code page 932

INSTANTIATE_TEST_SUITE_P(
    Cases, BuildRules,
    ::testing::Values(
        Case{"TitleOf207Fits", Config("", S(207, 't'))},
        Case{"TitleOver207", Config("", S(208, 't')), nullptr, "title: 208 characters"},
        Case{"EmptyTitle", Config("", ""), nullptr, "title: must not be empty"},
        Case{"TitleWithBackslash", Config("default_folder = \"k\"\nprogram_group = \"k\"", "a\\\\b"), nullptr, "title: must not contain a backslash"},
        Case{"DefaultFolderOf259LeavesNoRoomForTheFiles", Config("default_folder = \"" + S(259, 'f') + "\""), nullptr,
             "file 'readme.txt' does not fit under 'C:\\Program Files\\" + S(259, 'f') + "\\'"},
        Case{"EachFieldOver259", Config("default_folder = \"" + k260 + "\"\nprogram_group = \"" + k260 + "\"\nrun_after_install = \"" + k260 +
             "\"\n" + Row("desktop", k260, k260)), nullptr, "default_folder: 260 characters|program_group: 260 characters|"
             "run_after_install: 260 characters|desktop[0].link: 260 characters|desktop[0].target: 260 characters"},
        Case{"EveryProblemAtOnceAndOnlyOnce", Config(Row("desktop", "", "") + Row("start_menu", "a.lnk"), S(300, 't')), AddFile("con"),
             "title: 300 characters|!default_folder|!program_group|!start_menu[0]|desktop[0].link: must not be empty|'con' is a reserved device name"},
        Case{"DefaultedFieldNamesWhereItsFaultCameFrom", Config("", "What?"), nullptr,
             "default_folder (the title, as it is not given): 'What?'|contains the character '?'|!title:"},
        Case{"GroupAndLinkOf259Fit", Config("program_group = \"" + S(200, 'g') + "\"\n" + Row("start_menu", S(58, 'l')))},
        Case{"GroupAndLinkOver259", Config("program_group = \"" + S(200, 'g') + "\"\n" + Row("start_menu", S(59, 'l'))), nullptr,
             "start_menu[0].link: program_group, a backslash and the link take 260"},
        Case{"SixteenRowsFit", Config(Rows("start_menu", 16) + Rows("desktop", 16))},
        Case{"SeventeenRows", Config(Rows("desktop", 17)), nullptr, "desktop: 17 shortcuts"},
        Case{"EmptyLink", Config(Row("start_menu", "")), nullptr, "start_menu[0].link: must not be empty"},
        Case{"LinkWithFolder", Config(Row("desktop", "sub\\\\x.lnk")), nullptr, "desktop[0].link: 'sub\\x.lnk' must be a plain file name"},
        Case{"TitleOutsideCodepage", Config("", "a\xD0\x96" "ar"), nullptr, "title: U+0416 '\xD0\x96' at 2 in 'a\xD0\x96" "ar' is not in code page 1252|!default_folder"},
        Case{"TitleInsideOtherCodepage", Config("", "\xD0\x96" "ar"), nullptr, "", "", 1251},
        Case{"FileNameOutsideCodepage", Config(""), AddFile("\xD0\x96.txt"), "file '\xD0\x96.txt'"},
        Case{"DoubleByteNameWithBackslashByte", Config(""), AddFile("bin/" + kHyo + ".txt"),
             "file 'bin\\" + kHyo + ".txt': U+8868 '" + kHyo + "' at 5 in 'bin\\" + kHyo + ".txt' is 95 5C in code page 932, bytes that hold a backslash", "", 932},
        Case{"DoubleByteLinkWithBackslashByte", Config(Row("desktop", kShiftJisSo + ".lnk")), nullptr,
             "desktop[0].link: U+30BD '" + kShiftJisSo + "' at 1 in '" + kShiftJisSo + ".lnk' is 83 5C in code page 932", "", 932},
        Case{"HanCharacterOutsideTheCodepage", Config(""), AddFile(kHyo + ".txt"), "U+8868 '" + kHyo + "' at 1 in '" + kHyo + ".txt' is not in code page 1252"},
        Case{"NameOf255BytesFitsTheTableButNotTheProposedFolder", Config(""), AddFile(S(200, 'a') + "/" + S(54, 'b')),
             "does not fit under 'C:\\Program Files\\Test Product\\': the path takes 285 characters"},
        Case{"NameOver255Bytes", Config(""), AddFile(S(200, 'a') + "/" + S(55, 'b')), "the name takes 256 bytes"},
        Case{"FileTableAtCapacityFits", Config(""), TableAtCapacityPlus(0)},
        Case{"FileTableOneBytePastCapacity", Config(""), TableAtCapacityPlus(1),
             "the file table takes 16777217 bytes for 72007 files; the installer's file table holds at most 16777216 bytes"},
        Case{"StubAtCapacityFits", Config(""), nullptr, "", "", kDefaultCodepage,
             [](Bytes stub) { stub.resize(kStubSizeLimit, 0); return stub; }},
        Case{"StubOneBytePastCapacity", Config(""), nullptr, ": 16777217 bytes; the installer reads at most 16777216", "", kDefaultCodepage,
             [](Bytes stub) { stub.resize(kStubSizeLimit + 1, 0); return stub; }},
        Case{"StubWithoutRecord", Config(""), nullptr, "no configuration record found", "", kDefaultCodepage,
             [](Bytes stub) { stub.resize(0x400); return stub; }},
        Case{"StubAlreadyConfigured", Config(""), nullptr, "already configured (StubSize is 123)", "", kDefaultCodepage,
             [](Bytes stub) { std::memcpy(&stub[*FindConfigRecord(stub)], "123", 4); return stub; }},
        Case{"FileOf2To31Bytes", Config(""), AddFiles(1, std::uint64_t{1} << 31), "file '0': 2147483648 bytes"},
        Case{"TotalOf2To32Bytes", Config(""), AddFiles(3, (std::uint64_t{1} << 31) - 1), "; the installer takes less than 2^32"},
        Case{"NamesWindowsCannotHold", Config(""),
             [](const fs::path& product) { for (auto name : {"sub/Aux.txt", "dir./x.txt", "x.txt ", "what?.txt"}) WriteFile(product / name, ""); },
             "'Aux.txt' is a reserved device name|'dir.' ends in a dot|'x.txt ' ends in a dot or a blank|contains the character '?'"},
        Case{"NamesEqualButForCase", Config(""), AddFile("README.TXT"), "but for letter case"},
        Case{"UninstallerNamesAtTheTop", Config(""), [](const fs::path& product) { for (auto name : {"Davirado.EXE", "davirado.dat"}) WriteFile(product / name, ""); },
             "file 'Davirado.EXE': the installer writes its own 'davirado.exe'|file 'davirado.dat': the installer writes its own 'davirado.dat'"},
        Case{"UninstallerNamesInAFolderFit", Config(""), [](const fs::path& product) { for (auto name : {"bin/davirado.exe", "davirado.dat.txt"}) WriteFile(product / name, ""); }},
        Case{"EmptyProgramGroupWithStartMenuRows", Config("program_group = \"\"\n" + Row("start_menu", "a.lnk")), nullptr,
             "program_group: must not be empty when there are start_menu shortcuts"},
        Case{"EmptyProgramGroupWithOnlyDesktopRowsFits", Config("program_group = \"\"\n" + Row("desktop", "a.lnk"))},
        Case{"UnknownKeysAllWithTheNearestKnownOne", Config("colour = \"blue\"\ntitel = \"x\"\n" + Row("desktop", "a.lnk") + "targte = \"a\""), nullptr,
             "product.toml:3: unknown key 'colour'|!colour' (did|product.toml:4: unknown key 'titel' (did you mean 'title'?)|"
             "product.toml:8: unknown key 'targte' in [[desktop]] row 0 (did you mean 'target'?)"},
        Case{"UnknownKeyWithNulShownWhole", Config("\"co\\u0000lour\" = 1"), nullptr, "unknown key 'co\\x00lour'"},
        Case{"KeyGivenTwiceNamed", Config("\"program_group\" = \"a\"\n\"program_group\" = \"b\""), nullptr,
             "product.toml:4: '\"program_group\"' is defined twice"},
        Case{"NulAndControlCharactersInFields", Config("default_folder = \"a\\u0000b\"\n" + Row("desktop", "a\\u001b[2J.lnk"), "T\\u009bx"), nullptr,
             "title: contains the control character U+009B|default_folder: contains a NUL character|desktop[0].link: contains the control character U+001B"},
        Case{"TitleWithSlashFits", Config("default_folder = \"k\"\nprogram_group = \"k\"", "AC/DC")},
        Case{"SlashInTheTitleIsAFolderOfTheDefaultFolder", Config("", "TCP/IP Monitor"), nullptr, "", "none", kDefaultCodepage, nullptr,
             "setup.exe", [](const fs::path& scratch) {
                 const InstallerConfig record = ReadInstallerImage(scratch / "setup.exe").config;
                 EXPECT_EQ(SlotText(record.DefaultFolder) + "|" + SlotText(record.Title), "TCP\\IP Monitor|TCP/IP Monitor"); }},
        Case{"GroupTwoFoldersDeep", Config("program_group = \"Acme/Reader\"\n" + Row("start_menu", "a.lnk")), nullptr,
             "program_group: 'Acme\\Reader' is more than one folder deep"},
        Case{"TitleWithSlashAsTheGroupOfStartMenuRows", Config(Row("start_menu", "a.lnk"), "TCP/IP Monitor"), nullptr,
             "program_group: 'TCP\\IP Monitor' is more than one folder deep"},
        Case{"NamesOnlyWindowsRefuses", Config(""), [](const fs::path& product) {
                 for (auto name : {"COM\xC2\xB9", "sub/lpt\xC2\xB3.txt", "longfilename.txt", "LONGFI~1.TXT"}) WriteFile(product / name, ""); },
             "file 'COM\xC2\xB9': 'COM\xC2\xB9' is a reserved device name|'lpt\xC2\xB3.txt' is a reserved device name|"
             "'LONGFI~1.TXT' has the form of a generated 8.3 short name"},
        Case{"TargetsClimbingOrRooted", Config(Row("desktop", "a.lnk", "../x.exe") + Row("desktop", "b.lnk", "/abs.exe")), nullptr,
             "desktop[0].target: '..\\x.exe': '..' climbs to the folder above|desktop[1].target: '\\abs.exe': '' has an empty name"},
        Case{"FolderWithSlashFollowsWindowsRules", Config("default_folder = \"a/con\""), nullptr, "default_folder: 'a/con': 'con' is a reserved device name"},
        Case{"OemCodepage", Config(""), nullptr, "code page 437 is not a Windows ANSI code page; use one of 874, 932", "", 437},
        Case{"LinksEqualButForCase", Config(Row("start_menu", "App.lnk") + Row("start_menu", "APP.LNK")), nullptr,
             "start_menu[1].link: 'APP.LNK' is the link of start_menu[0] but for letter case"},
        Case{"EmptyTarget", Config(Row("desktop", "a.lnk", "")), nullptr, "desktop[0].target: must not be empty"},
        Case{"EmptyTablesAreNoRows", Config("start_menu = []\ndesktop = []")},
        Case{"NameWithBackslashOnLinux", Config(""), AddFile("sub/a\\b.txt"), "file 'sub\\a\\b.txt': the name holds a backslash"},
        Case{"LinkToFileInsideIsPacked", Config(Row("desktop", "x.lnk", "bin/tool.exe")),
             [](const fs::path& product) { fs::create_symlink("app.exe", product / "bin/tool.exe"); }, "", "none"},
        Case{"LinkLeadingOutside", Config(""), [](const fs::path& product) {
                 WriteFile(product.parent_path() / "secret.txt", "x"); fs::create_symlink("../secret.txt", product / "s.txt"); },
             "file 's.txt': a symbolic link to|outside the product folder; --follow-symlinks"},
        Case{"FifoSkippedUnopened", Config(""), [](const fs::path& product) { ASSERT_EQ(mkfifo((product / "pipe").c_str(), 0600), 0); },
             "", "skipped 'pipe' (a FIFO)"},
        Case{"DanglingLinkSkipped", Config(""), [](const fs::path& product) { fs::create_symlink("nowhere", product / "gone"); },
             "", "skipped 'gone' (a dangling symbolic link)"},
        Case{"FolderLinkSkipped", Config(""), [](const fs::path& product) { fs::create_directory_symlink("bin", product / "bin2"); },
             "", "skipped 'bin2' (a link to a folder, not followed)"},
        Case{"FifoAsStub", Config(""), [](const fs::path& product) { ASSERT_EQ(mkfifo((product.parent_path() / "other-stub.exe").c_str(), 0600), 0); },
             "stub: '|other-stub.exe' is a FIFO, not a regular file", "", kDefaultCodepage, [](Bytes stub) { return stub; }},
        Case{"OutputIsTheConfig", Config(""), nullptr, "output '", "", kDefaultCodepage, nullptr, "product.toml",
             [](const fs::path& scratch) { EXPECT_EQ(ReadFile(scratch / "product.toml").at(0), 't'); }},
        Case{"OutputInsideTheProduct", Config(""), nullptr, "lies inside the product folder", "", kDefaultCodepage, nullptr, "prod/sub/setup.exe"},
        Case{"OutputIsAPackedFileThroughALink", Config(""), [](const fs::path& product) { fs::create_symlink(product / "readme.txt", product.parent_path() / "link.exe"); },
             "is the input '|readme.txt' (or a link to it)", "", kDefaultCodepage, nullptr, "link.exe"},
        Case{"TemporaryFileIsNewNotAnExistingLink", Config(""), [](const fs::path& product) {
                 WriteFile(product.parent_path() / "victim", "keep"); fs::create_symlink("victim", product.parent_path() / "setup.exe.partial"); },
             "", "", kDefaultCodepage, nullptr, "setup.exe", [](const fs::path& scratch) { EXPECT_EQ(ReadFile(scratch / "victim"), Bytes({'k', 'e', 'e', 'p'})); }},
        Case{"UnknownRowKey", Config(Row("desktop", "a.lnk") + "icon = \"x\""), nullptr, "unknown key 'icon' in [[desktop]] row 0"},
        Case{"WrongType", Config("program_group = 5"), nullptr, "product.toml:3: program_group: must be a text"},
        Case{"MissingTarget", Config("[[desktop]]\nlink = \"a.lnk\""), nullptr, "product.toml:3: desktop[0].target: missing"},
        Case{"MissingSource", "title = \"x\"\n", nullptr, "product.toml: source: missing"},
        Case{"SourceIsNoFolder", ConfigText("nowhere"), nullptr, "does not exist or is not a folder"},
        Case{"BrokenToml", Config("title2 = "), nullptr, "product.toml:3"},
        Case{"TargetsNamingPackedFilesDoNotWarn", Config("run_after_install = \"bin/app.exe /quiet\"\n" +
             Row("start_menu", "App.lnk", "BIN\\\\App.exe") + Row("start_menu", "Uninstall.lnk", "davirado.exe")), nullptr, "", "none"},
        Case{"TargetNamingNothingWarns", Config(Row("desktop", "App.lnk", "bin\\\\ap.exe")), nullptr, "",
             "desktop[0].target: 'bin\\ap.exe' names no packed file"},
        Case{"LinkWithoutLnkExtensionWarns", Config(Row("desktop", "App", "bin/app.exe")), nullptr, "", "desktop[0].link: 'App' does not end in .lnk"},
        // A packed program without arguments is the whole command.
        Case{"RunAfterWithoutArgumentsIsThePackedProgram", Config("run_after_install = \"bin/app.exe\""), nullptr, "", "none"},
        Case{"RunAfterNamingNoPackedProgram", Config("run_after_install = \"setup.exe\""), nullptr,
             "run_after_install: 'setup.exe' does not start with a packed program"},
        Case{"RunAfterClimbingOut", Config("run_after_install = \"../../windows/system32/cmd.exe /c x\""), nullptr,
             "run_after_install: '../../windows/system32/cmd.exe /c x' does not start with a packed program"},
        Case{"AbsoluteTargetIsRefused", Config(Row("desktop", "N.lnk", "C:/Windows/notepad.exe")), nullptr,
             "desktop[0].target: 'C:\\Windows\\notepad.exe'"},
        Case{"EmptyFolderWarns", Config(""), [](const fs::path& product) { fs::create_directories(product / "logs/old"); }, "",
             "empty folder 'logs\\old' left out"},
        Case{"FoldersDifferingInCaseWarn", Config(""), AddFile("Bin/readme.txt"), "", "folders 'Bin' and 'bin' differ only in letter case"},
        // The proposed InstallDir, C:\Program Files\ddd...\, takes 118 characters.
        Case{"PathOf259UnderTheProposedFolderBuilds", Config("default_folder = \"" + S(100, 'd') + "\""), AddFile(S(137, 'p') + ".txt")},
        Case{"PathOf260UnderTheProposedFolderIsRefused", Config("default_folder = \"" + S(100, 'd') + "\""), AddFile(S(138, 'p') + ".txt"),
             "does not fit under 'C:\\Program Files\\" + S(100, 'd') + "\\'|takes 260 characters, at most 259"},
        Case{"FolderOver247UnderTheProposedFolderIsRefused", Config("default_folder = \"" + S(100, 'd') + "\""),
             AddFile(S(130, 'f') + "/a"), "its folder takes 248 characters"}),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(Records, FileRecordsAreLittleEndianInFieldOrderAndTheStubsRecordIsFoundAndEmbedded)
{
    const FileRecord first{0xCADBBE3D, 3, 0x0102030405060708, 0x1112131415161718, 0x2122232425262728, "abc.txt"};
    const FileRecord empty{CrcInitial, 0, 0, 0, 0, "folder with space\\empty"}, longest{0, 0x7FFFFFFF, 0, 0, 0, std::string(255, 'n')};
    const Bytes expected = {0x3D, 0xBE, 0xDB, 0xCA, 3, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1, 0x18, 0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11,
                            0x28, 0x27, 0x26, 0x25, 0x24, 0x23, 0x22, 0x21, 7, 'a', 'b', 'c', '.', 't', 'x', 't'};
    EXPECT_EQ(SerializeFileTable({first}), expected);
    const Bytes table = SerializeFileTable({first, empty, longest});
    EXPECT_EQ(SerializeFileTable(ParseFileTable(table.data(), table.size(), 3)), table);
    EXPECT_THROW(ParseFileTable(table.data(), table.size() - 1, 3), FormatError);   // a name that runs past the table
    // The stub's record: found in its section, and by its markers when the PE signature is broken.
    Bytes stub = ReadFile(RealStubPath());
    EXPECT_TRUE(Bytes(kEmbeddedStub, kEmbeddedStub + kEmbeddedStubSize) == stub);
    const std::optional<std::size_t> offset = FindConfigRecord(stub);
    ASSERT_TRUE(offset);
    EXPECT_EQ(std::memcmp(&stub[*offset], CONFIG_MARKER_STUB_SIZE, sizeof CONFIG_MARKER_STUB_SIZE), 0);
    stub[0] = 'X';
    EXPECT_EQ(FindConfigRecord(stub), offset);
    // A StubSize slot of 32 digits and no NUL: the tool reads the 31 bytes the installer reads.
    InstallerConfig config{};
    std::memcpy(config.StubSize, "00000000000000000000000000049152", StubSizeSlotSize);
    EXPECT_EQ(std::stoi(StubSizeTextAsRead(config)), ConfiguredStubSize(&config));
}

TEST(Conversions, TimesCodePagesAndLetterCaseMatchWindows)
{
    EXPECT_EQ(FiletimeFromUnix(0, 0), 116444736000000000u);
    EXPECT_EQ(FiletimeFromUnix(1, 999999999), 116444736000000000u + 19999999);
    EXPECT_EQ(UnixFromFiletime(116444736000000000u + 15).tv_sec, 0);
    EXPECT_EQ(UnixFromFiletime(116444736000000000u + 15).tv_nsec, 1500);
    EXPECT_EQ(FormatFiletime(FiletimeFromUnix(951782400, 123456700)), "2000-02-29 00:00:00.1234567 UTC");
    EXPECT_EQ(FiletimeFromUnix(-11644473601, 0), 0u);   // before 1601 has no FILETIME
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
    for (const char* name : {"readme.txt", "with space.txt", "CONSOLE.txt", "COM10", "LPT", "NULL.txt", "x.con", " nul", "CONIN", ".hidden"})
        EXPECT_EQ(WindowsNameProblem(name), "") << name;
    for (const char* name : {"con", "Nul.txt", "COM0", "COM1", "lpt0.a.b", "lpt9.log", "aux .txt", "prn  .x", "conin$", "CONOUT$.log",
                             "dot.", "blank ", "a<b", "a:b", "q?", "star*", "pipe|", "quote\"", "tab\t", "..", ""})
        EXPECT_NE(WindowsNameProblem(name), "") << name;
    EXPECT_EQ(SafeExtractPath("a.txt", "/out").path, fs::path("/out/a.txt"));
    EXPECT_EQ(SafeExtractPath("d e\\f g\\h", "/out").path, fs::path("/out/d e/f g/h"));
    EXPECT_EQ(SafeExtractPath("d e\\f g\\h", "/out").refusal, "");
    for (const std::string& name : std::vector<std::string>{"..\\evil", "a\\..\\..\\evil", "\\root", "C:\\evil", "C:evil", "a/../../evil",
                                                            "/etc/passwd", "a\\\\b", ".", "", "a\\", std::string("ok\0..\\x", 7)})
        EXPECT_NE(SafeExtractPath(name, "/out").refusal, "") << name;
}

// Progress in a log: a line once both a further tenth of the work is done and
// 10 s have passed since the last line (or the start); a bar, or nothing, else.
TEST(Progress, LinesComeAtEveryTenthOrEveryTenSecondsWhicheverIsLater)
{
    // STEPS: (seconds since the start, percent done); the percents of the lines written.
    const struct { const char* name; std::vector<std::pair<int, int>> steps; std::string lines; ProgressStyle style = ProgressStyle::Lines; } cases[] = {
        {"ShortJobWritesNothing", {{1, 50}, {2, 100}}, ""},
        {"SlowJobWaitsForTheNextTenth", {{5, 10}, {10, 15}, {20, 19}, {21, 20}, {22, 40}, {31, 41}, {45, 100}}, "15 20 41 100 "},
        {"FastSlicesWaitForTenSeconds", {{9, 90}, {10, 95}, {11, 100}}, "95 "},
        {"QuietWritesNothing", {{10, 50}, {30, 100}}, "", ProgressStyle::None},
        // A bar redraws at most every 100 ms, but the end is drawn however soon it follows.
        {"BarDrawsTheEndWithinTheRedrawInterval", {{1, 50}, {1, 100}}, "50 100 ", ProgressStyle::Bar}};
    for (const auto& c : cases) {
        auto now = std::chrono::steady_clock::time_point{};
        std::FILE* out = std::tmpfile();
        {
            ProgressBar bar("packing", 1000, c.style, out, [&now] { return now; });
            for (const auto& [seconds, percent] : c.steps) {
                now = std::chrono::steady_clock::time_point{} + std::chrono::seconds(seconds);
                bar.Update(static_cast<std::uint64_t>(percent) * 10);
            }
        }
        std::rewind(out);
        std::string lines;
        char line[400];
        while (std::fgets(line, sizeof line, out)) {
            if (c.style == ProgressStyle::Bar) {   // "\rpacking [###...] 50%  ..." per draw, on one line
                for (const char* at = std::strchr(line, ']'); at; at = std::strchr(at + 1, ']'))
                    lines += std::to_string(std::atoi(at + 1)) + " ";
                continue;
            }
            EXPECT_EQ(std::string(line).rfind("stubkit: packing: ", 0), 0u) << c.name << ": " << line;
            lines += std::to_string(std::atoi(line + 18)) + " ";
        }
        std::fclose(out);
        EXPECT_EQ(lines, c.lines) << c.name;
    }
}

TEST(Names, ExtractPatternsMatchLikeArchiveToolsWithEitherSeparator)
{
    const std::string many_a(200, 'a');
    // TAKES: with letter case ignored (the default, as on Windows); CASED: with it counting.
    const struct { const char* pattern; const char* name; bool takes; bool cased; } cases[] = {
        {"readme.txt", "readme.txt", true, true}, {"README.txt", "readme.txt", true, false}, {"docs", "docs/a/b.txt", true, true},
        {"doc", "docs/a.txt", false, false}, {"docs\\a", "docs/a/b.txt", true, true}, {"./docs/", "docs/a.txt", true, true},
        {"*.TXT", "docs/a/b.txt", true, false}, {"*.txt", "b.txt.bak", false, false}, {"d?cs/*", "docs/x", true, true},
        {"?.txt", "\xC3\xA9.txt", true, true}, {"[c-z]*.exe", "bin/b.exe", false, false}, {"*/[A-C]*.exe", "bin/b.exe", true, false},
        {"[!a]*", "a.txt", false, false}, {"[!a]*", "B.txt", true, true}, {"[^a]*", "a.txt", false, false},
        {"[^a]*", "b.txt", true, true}, {"[!a]*", "A.txt", false, true}, {"[x", "[X", true, false},
        {"*a*a*a*a*b", many_a.c_str(), false, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(PatternTakes(SlashName(c.pattern), SlashName(c.name), LetterCase::ignored), c.takes) << c.pattern << " " << c.name;
        EXPECT_EQ(PatternTakes(SlashName(c.pattern), SlashName(c.name), LetterCase::counts), c.cased) << c.pattern << " " << c.name;
    }
}

}  // namespace
}  // namespace stubkit

namespace stubkit {
namespace {
using namespace testing;

// Host-side hazards, one table: an output that is one of the command's inputs (the same name, a hard link, a
// symbolic link) or that exists and is not a regular file is refused (stream tools write into a FIFO or a
// device: the command-line table shows it), and the input keeps its bytes. Device nodes
// are made in the scratch folder (root only), never taken from /dev.
TEST(HostHazards, OutputsNeverReplaceAnInputOrAFileThatIsNotRegular)
{
    ScratchFolder scratch;
    WriteFile(scratch / "prod/readme.txt", "Read me.\n");
    WriteFile(scratch / "product.toml", ConfigText("prod"));
    const Bytes input = NoiseBytes(5000, 9);
    WriteFile(scratch / "in", input);
    const std::string in = (scratch / "in").string(), dir = scratch.path.string();
    fs::create_hard_link(scratch / "in", scratch / "hard");
    fs::create_symlink(scratch / "in", scratch / "soft");
    ASSERT_EQ(mkfifo((scratch / "fifo").c_str(), 0600), 0);
    fs::create_directory(scratch / "folder");
    const bool device = mknod((scratch / "device").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    ASSERT_EQ(RunTool({"encode", "-1", in, dir + "/stream"}).first, 0);
    const Bytes stream = ReadFile(scratch / "stream");
    ASSERT_EQ(RunTool({"build", dir + "/product.toml", "-o", dir + "/setup.exe"}).first, 0);
    fs::create_directory(scratch / "out");
    fs::create_hard_link(scratch / "setup.exe", scratch / "out/readme.txt");

    const std::vector<std::string> total = {"decode", "--total", std::to_string(input.size())};
    auto with = [](std::vector<std::string> head, const std::vector<std::string>& tail) { head.insert(head.end(), tail.begin(), tail.end()); return head; };
    const struct { std::vector<std::string> arguments; std::string expected; bool needs_device = false; } rows[] = {
        {{"encode", in, in}, "output '" + in + "' is the input"},
        {{"encode", in, dir + "/hard"}, "/hard' is the input '" + in + "'"},
        {{"encode", in, dir + "/soft"}, "/soft' is the input '" + in + "'"},
        {{"encode", in, dir + "/folder"}, "/folder' is a folder, not a regular file"},
        {with(total, {dir + "/stream", dir + "/stream"}), "/stream' is the input"},
        {with(total, {dir + "/soft", dir + "/in"}), "/in' is the input '" + dir + "/soft'"},
        {{"build", dir + "/product.toml", "-o", dir + "/fifo"}, "/fifo' is a FIFO, not a regular file"},
        {{"build", dir + "/product.toml", "-o", dir + "/device"}, "/device' is a device, not a regular file", true},
        {{"build", dir + "/product.toml", "-o", dir + "/product.toml"}, "/product.toml' is the input"},
        {{"extract", "--overwrite", dir + "/setup.exe", dir + "/out"}, "/out/readme.txt' is the installer being extracted"}};
    for (const auto& row : rows) {
        if (row.needs_device && !device)
            continue;
        const auto [code, output] = RunTool(row.arguments);
        EXPECT_EQ(code, 1) << row.arguments[0] << ": " << output;
        EXPECT_NE(output.find(row.expected), std::string::npos) << output;
    }
    EXPECT_EQ(ReadFile(scratch / "in"), input);
    EXPECT_EQ(ReadFile(scratch / "stream"), stream);
    EXPECT_EQ(ReadFile(scratch / "out/readme.txt"), ReadFile(scratch / "setup.exe"));
    EXPECT_TRUE(fs::is_fifo(scratch / "fifo") && fs::is_directory(scratch / "folder") && (!device || fs::is_character_file(scratch / "device")));
}

// SIGINT, SIGTERM and SIGHUP while `build` writes: the temporary file goes, the exit status is 128 + the signal.
// Once the installer is in place nothing is left to remove: an interrupt while it is signed ends the tool by the
// signal itself, as for any program.
TEST(HostHazards, InterruptedBuildRemovesItsTemporaryFileAndExitsWith128PlusTheSignal)
{
    ScratchFolder scratch;
    WriteFile(scratch / "prod/noise.bin", NoiseBytes(24 << 20, 4));
    WriteFile(scratch / "product.toml", ConfigText("prod"));
    const ThrowawayKey key(scratch / "key");
    auto appeared = [&](const std::string& prefix) {
        for (const fs::directory_entry& entry : fs::directory_iterator(scratch.path))
            if (entry.path().filename().string().rfind(prefix, 0) == 0)
                return true;
        return false;
    };
    const struct { int signal_number; bool signing; const char* during; } rows[] = {
        {SIGINT, false, ".setup.exe.partial-"}, {SIGTERM, false, ".setup.exe.partial-"},
        {SIGHUP, false, ".setup.exe.partial-"}, {SIGTERM, true, ".stubkit-sign-"}};
    for (const auto& row : rows) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const std::string config = (scratch / "product.toml").string(), output = (scratch / "setup.exe").string();
            if (row.signing)
                execl(STUBKIT_TOOL, STUBKIT_TOOL, "build", "-1", "-q", config.c_str(), "-o", output.c_str(), "--sign-cert",
                      key.certificate.c_str(), "--sign-key", key.key.c_str(), static_cast<char*>(nullptr));
            else
                execl(STUBKIT_TOOL, STUBKIT_TOOL, "build", "-9", "-T", "1", "-q", config.c_str(), "-o", output.c_str(),
                      static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int wait = 0; wait < 20000 && !appeared(row.during); ++wait)
            usleep(1000);
        ASSERT_TRUE(appeared(row.during)) << row.during << " never appeared";
        if (!row.signing)
            usleep(50000);
        kill(child, row.signal_number);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (row.signing) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.signal_number) << "signing: " << status;
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + row.signal_number) << row.signal_number << ": " << status;
            EXPECT_FALSE(appeared(row.during)) << row.signal_number;
            EXPECT_FALSE(fs::exists(scratch / "setup.exe")) << row.signal_number;
        }
    }
}

}  // namespace
}  // namespace stubkit

namespace stubkit {
namespace {
using namespace testing;

// The content order: a catalogue translated twice lies in folders far apart by name, with unrelated noise
// between; its copies end up side by side, identical files behind each other, empty files first, and the bytes
// are the same for any thread count and any order the files were made in. --order name is the plain order.
TEST(PackOrder, AlikeFilesComeTogetherTheSameWayEveryTimeAndNameOrderStaysAvailable)
{
    const Bytes catalogue = NoiseBytes(300000, 7);
    auto translated = [&](std::uint32_t seed) {
        Bytes bytes = catalogue;
        for (std::size_t at = 0; at < bytes.size(); at += 4096)   // a few words differ in each
            bytes[at] = static_cast<std::uint8_t>(seed + at);
        return bytes;
    };
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"af/app.mo", translated(1)}, {"b/noise1.bin", NoiseBytes(5 << 19, 8)}, {"c/empty.txt", {}},
        {"m/copy-a.dat", NoiseBytes(70000, 9)}, {"n/noise2.bin", NoiseBytes(5 << 19, 10)}, {"zu/app.mo", translated(2)},
        {"zz/copy-b.dat", NoiseBytes(70000, 9)}};
    std::vector<std::string> listings;
    std::vector<Bytes> installers;
    setenv("SOURCE_DATE_EPOCH", "1000000000", 1);   // the same times in both folders
    for (const bool reversed : {false, true}) {
        ScratchFolder scratch;
        for (std::size_t i = 0; i < files.size(); ++i) {
            const auto& [name, bytes] = files[reversed ? files.size() - 1 - i : i];
            WriteFile(scratch / ("prod/" + name), bytes);
        }
        WriteFile(scratch / "product.toml", ConfigText("prod"));
        for (const char* threads : {"1", "2"}) {
            if (reversed && threads[0] == '1')
                continue;
            const std::string out = (scratch / "setup.exe").string();
            ASSERT_EQ(RunTool({"build", "-5", "-q", "-T", threads, (scratch / "product.toml").string(), "-o", out}).first, 0);
            installers.push_back(ReadFile(scratch / "setup.exe"));
            listings.push_back(RunTool({"list", "-q", out}).second);
        }
        ASSERT_EQ(RunTool({"build", "-5", "-q", "--order", "name", (scratch / "product.toml").string(), "-o",
                           (scratch / "name.exe").string()}).first, 0);
        EXPECT_EQ(RunTool({"list", "-q", (scratch / "name.exe").string()}).second,
                  "c\\empty.txt\naf\\app.mo\nb\\noise1.bin\nm\\copy-a.dat\nn\\noise2.bin\nzu\\app.mo\nzz\\copy-b.dat\n");
        EXPECT_LT(installers.back().size(), fs::file_size(scratch / "name.exe"));
    }
    unsetenv("SOURCE_DATE_EPOCH");
    for (std::size_t i = 1; i < installers.size(); ++i)
        EXPECT_TRUE(installers[i] == installers[0] && listings[i] == listings[0]) << i;
    const std::string& order = listings[0];
    EXPECT_EQ(order.rfind("c\\empty.txt\n", 0), 0u) << order;
    EXPECT_NE(order.find("af\\app.mo\nzu\\app.mo\n"), std::string::npos) << order;
    EXPECT_NE(order.find("m\\copy-a.dat\nzz\\copy-b.dat\n"), std::string::npos) << order;
}

}  // namespace
}  // namespace stubkit
