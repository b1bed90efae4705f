// Extraction end to end: installers packed from extract-probe.exe, run under
// Wine with their boxes answered by the window driver. Each case checks the
// exit code, the one box if any, the files on disk with their times, and the
// exact bytes of davirado.dat.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "test_installer.h"
#include "test_paths.h"

namespace {

using namespace testinstaller;

const char kTitle[] = "Korvan Toolkit 2.1";
const char kIncomplete[] = "This is an incomplete installation file\n(possibly from an incomplete download).";
const char kCorrupted[] = "This is a corrupted installation file.";
constexpr size_t kMiB = 1 << 20;

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool SameTime(const FILETIME& a, const FILETIME& b) { return CompareFileTime(&a, &b) == 0; }

FILETIME TimesOf(const std::string& path, FILETIME* access, FILETIME* write)
{
    FILETIME creation = {};
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_TRUE(file != INVALID_HANDLE_VALUE && GetFileTime(file, &creation, access, write)) << path;
    CloseHandle(file);
    return creation;
}

// Wine keeps creation times only where the Unix file system lets it set them.
bool CreationTimesAreKept()
{
    static const bool kept = [] {
        ScratchFolder scratch;
        const std::string path = scratch.path + "\\times";
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        const FILETIME set = {0x12345678, 0x01C00000};
        SetFileTime(file, &set, nullptr, nullptr);
        CloseHandle(file);
        FILETIME access, write;
        return SameTime(TimesOf(path, &access, &write), set);
    }();
    return kept;
}

// Times first: reading the contents may move the access time.
void ExpectInstalled(const std::string& path, const PackedFile& file)
{
    FILETIME access = {}, write = {};
    const FILETIME creation = TimesOf(path, &access, &write);
    EXPECT_TRUE(SameTime(write, file.write)) << "write time of " << file.name;
    EXPECT_TRUE(SameTime(access, file.access)) << "access time of " << file.name;
    if (CreationTimesAreKept())
        EXPECT_TRUE(SameTime(creation, file.creation)) << "creation time of " << file.name;
    std::string contents;
    ASSERT_TRUE(ReadFileBytes(path, &contents)) << path;
    EXPECT_TRUE(contents == file.contents) << file.name << ": " << contents.size() << " bytes on disk, "
                                           << file.contents.size() << " packed";
}

struct Context {
    std::string scratch;      // holds the installer
    std::string installDir;   // with its trailing backslash
};

struct Case {
    Bytes installer;
    unsigned long exitCode = 0;
    std::string message;                 // the one box's text after "Error: "; empty: no box
    std::vector<PackedFile> installed;   // on disk with contents and times, logged in this order
    std::vector<std::string> damaged;    // then these: on disk and logged, contents not checked
    std::vector<std::string> absent;     // full paths that must not exist
    std::vector<std::string> existing;   // put into InstallDir beforehand, 100000 bytes each
    enum { Writable, ReadOnly, HeldOpen } existingAs = Writable;
    std::string exeName = "setup.exe", invokedAs = "setup.exe";
};

struct Row {
    const char* label;
    std::function<Case(const Context&)> make;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.label; }

class Extraction : public ::testing::TestWithParam<Row> {};

TEST_P(Extraction, EndsWithTheExpectedExitCodeBoxFilesAndLog)
{
    ScratchFolder scratch;
    const Context x{scratch.path, scratch.path + "\\Target Folder\\"};
    const Case c = GetParam().make(x);
    if (c.existingAs == Case::ReadOnly && !ReadOnlyFilesAreProtected())
        GTEST_SKIP() << "this system lets read-only files be overwritten (Wine as root)";
    WriteFileBytes(x.scratch + "\\" + c.exeName, c.installer);
    CreateDirectoryA(x.installDir.c_str(), nullptr);
    for (const std::string& name : c.existing) {
        WriteFileBytes(x.installDir + name, Bytes(100000, 'o'));
        if (c.existingAs == Case::ReadOnly)
            SetFileAttributesA((x.installDir + name).c_str(), FILE_ATTRIBUTE_READONLY);
    }
    HANDLE holder = c.existingAs != Case::HeldOpen ? INVALID_HANDLE_VALUE
                        : CreateFileA((x.installDir + c.existing[0]).c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    const Outcome outcome = testinstaller::Run(testpaths::Quoted(x.scratch + "\\" + c.invokedAs) + " " +
                                                    testpaths::Quoted(x.scratch + "\\Target Folder"));
    if (holder != INVALID_HANDLE_VALUE)
        CloseHandle(holder);

    ASSERT_TRUE(outcome.ended) << "the probe did not end";
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    if (c.message.empty()) {
        EXPECT_TRUE(outcome.boxes.empty()) << "unexpected box: " << outcome.boxes[0].text;
    } else {
        ASSERT_EQ(outcome.boxes.size(), 1u);
        EXPECT_EQ(outcome.boxes[0].caption, "Setup");
        EXPECT_EQ(outcome.boxes[0].text, "Error: " + c.message);
        EXPECT_EQ(outcome.boxes[0].buttons, std::vector<int>{IDOK});
    }
    std::string expectedLog = std::string(kTitle) + "\n", log;
    for (const PackedFile& file : c.installed) {
        ExpectInstalled(x.installDir + file.name, file);
        expectedLog += "0" + x.installDir + file.name + "\n";
    }
    for (const std::string& name : c.damaged) {
        EXPECT_TRUE(Exists(x.installDir + name)) << name;
        expectedLog += "0" + x.installDir + name + "\n";
    }
    for (const std::string& path : c.absent)
        EXPECT_FALSE(Exists(path)) << path;
    ASSERT_TRUE(ReadFileBytes(x.installDir + "davirado.dat", &log));
    EXPECT_EQ(log, expectedLog);
}

Case Installs(const std::vector<PackedFile>& files)
{
    Case c;
    c.installer = MakeInstaller(PayloadBytes(PackFiles(files)), kTitle);
    c.installed = files;
    return c;
}

Case Ends(unsigned long exitCode, const std::string& message, const Bytes& installer,
          const std::vector<PackedFile>& installed = {})
{
    Case c;
    c.installer = installer;
    c.exitCode = exitCode;
    c.message = message;
    c.installed = installed;
    return c;
}

Bytes Setup(const Payload& payload) { return MakeInstaller(PayloadBytes(payload), kTitle); }

// The first file ends exactly at the first 4 MiB chunk, so it stays open until
// the next chunk; the empty files after it are created on the way; the fourth
// file crosses the 8 MiB boundary; names have bytes from 0x80 up; nested folders with blanks are made top
// down; the last two files are empty and come after the stream's last byte.
std::vector<PackedFile> ManyShapes()
{
    return {MakeFile("exactly 4 MiB.bin", SampleContents(4 * kMiB, 1), 1), MakeFile("empty.txt", "", 2),
            MakeFile("also empty.txt", "", 3), MakeFile("spans.bin", SampleContents(6 * kMiB + 17, 2), 4),
            MakeFile("Program Data\\Sub Folder\\Deeper Still\\deep file.txt", "deep", 5),
            MakeFile("Program Data\\empty between.txt", "", 6), MakeFile("Program Data\\sibling.txt", "sib", 7),
            MakeFile("A\\B\\C\\D\\E\\F\\G\\H\\eight levels.txt", SampleContents(40000, 3), 8),
            MakeFile("caf\xE9 cr\xE8me.txt", "ANSI name", 9), MakeFile("small.txt", SampleContents(1000, 4), 12),
            MakeFile("empty at the end.txt", "", 10), MakeFile("sub\\empty too.txt", "", 11)};
}

std::vector<PackedFile> AllEmpty() { return {MakeFile("a.txt", "", 1), MakeFile("folder\\b.txt", "", 2)}; }

std::vector<PackedFile> TwoFiles()
{
    return {MakeFile("one.txt", SampleContents(30000, 12), 1), MakeFile("two.txt", SampleContents(30000, 13), 2)};
}

const Payload& TwoPacked()
{
    static const Payload payload = PackFiles(TwoFiles());
    return payload;
}

const Payload& OnePacked()
{
    static const Payload payload = PackFiles({MakeFile("only.txt", SampleContents(200000, 11), 1)});
    return payload;
}

Case DamagedStream(bool cut)
{
    Bytes payload = PayloadBytes(OnePacked());
    const size_t middle = payload.size() - OnePacked().stream.size() / 2;
    if (cut)
        payload.resize(middle);
    else
        payload[middle] ^= 0x5A;
    Case c = Ends(1, kCorrupted, MakeInstaller(payload, kTitle));
    c.damaged = {"only.txt"};
    return c;
}

Case RefusedExistingFile(const Context& x, bool readOnly)
{
    Case c = Ends(1, "Cannot create file:\n    " + x.installDir + "two.txt", Setup(TwoPacked()), {TwoFiles()[0]});
    c.existing = {"two.txt"};
    c.existingAs = readOnly ? Case::ReadOnly : Case::HeldOpen;
    return c;
}

// A good file, then one whose name (prefix + a file name) would leave InstallDir for the scratch folder.
Case UnsafeName(const Context& x, const std::string& prefix)
{
    const std::string escaped = "stubkit-escaped-" + std::to_string(GetCurrentProcessId()) + ".txt";
    const PackedFile good = MakeFile("good.txt", "good", 1);
    Case c = Ends(1, kCorrupted, Setup(PackFiles({good, MakeFile(prefix + escaped, "escaped", 2)})), {good});
    c.absent = {x.scratch + "\\" + escaped};
    return c;
}

Case WithCount(uint32_t fileCount, const std::vector<PackedFile>& packed, const std::vector<PackedFile>& streamed)
{
    Payload payload = PackFiles(packed);
    payload.file_count = fileCount;
    payload.stream = PackFiles(streamed).stream;
    payload.total_size = PackFiles(streamed).total_size;
    return Ends(2, kIncomplete, Setup(payload), packed);
}

Case StartedAs(const std::string& exeName, const std::string& invokedAs)
{
    Case c = Installs(TwoFiles());
    c.exeName = exeName;
    c.invokedAs = invokedAs;
    return c;
}

const Row kRows[] = {
    {"files of many shapes across 4 MiB chunks, one over a longer existing file", [](const Context&) {
         Case c = Installs(ManyShapes());
         c.existing = {"small.txt"};
         return c;
     }},
    {"only empty files, total_size 0", [](const Context&) { return Installs(AllEmpty()); }},
    {"stub only, no payload", [](const Context&) { return Ends(0, "", MakeInstaller({}, kTitle)); }},
    {"unconfigured StubSize", [](const Context&) {
         Bytes image = ProbeImage();
         PatchSlot(&image, "$$Title", kTitle);
         return Ends(2, "Unconfigured installation file.", image);
     }},
    {"file shorter than its stub", [](const Context&) {
         return Ends(2, kIncomplete, MakeInstaller({}, kTitle, std::to_string(ProbeImage().size() + 1)));
     }},
    {"stub size above the buffer, file long enough",
     [](const Context&) { return Ends(2, kIncomplete, MakeInstaller(Bytes(140000, 0), kTitle, "131073")); }},
    {"table_size above the buffer",
     [](const Context&) { return Ends(2, kIncomplete, MakeInstaller(PayloadBytes({1, 0, 131073, {}, {}}) + Bytes(131073, 0), kTitle)); }},
    {"cut inside the file table", [](const Context&) {
         Bytes payload = PayloadBytes(TwoPacked());
         payload.resize(12 + TwoPacked().table_size - 5);
         return Ends(2, kIncomplete, MakeInstaller(payload, kTitle));
     }},
    {"cut inside the stream", [](const Context&) { return DamagedStream(true); }},
    {"flipped stream byte", [](const Context&) { return DamagedStream(false); }},
    {"bytes appended after the stream", [](const Context&) {
         Case c = Installs(TwoFiles());
         c.installer = MakeInstaller(PayloadBytes(TwoPacked()) + Bytes(70000, '\xA5'), kTitle);
         return c;
     }},
    {"stream bytes beyond the last record are dropped", [](const Context&) {
         const PackedFile file = MakeFile("short.txt", "0123456789", 1);
         Payload payload = PackFiles({MakeFile("short.txt", "0123456789abcdefghijklmno", 1)});
         payload.table = FileRecordBytes(file);
         payload.table_size = static_cast<uint32_t>(payload.table.size());
         return Ends(2, kIncomplete, Setup(payload), {file});
     }},
    {"file_count above the records held",
     [](const Context&) { return WithCount(3, TwoFiles(), {TwoFiles()[0], TwoFiles()[1], MakeFile("3", "third", 3)}); }},
    {"file_count above the records, total_size 0",
     [](const Context&) { return WithCount(3, AllEmpty(), AllEmpty()); }},
    {"a name running past the table", [](const Context&) {
         Payload payload = TwoPacked();
         payload.table.pop_back();
         payload.table_size -= 1;
         return Ends(2, kIncomplete, Setup(payload), {TwoFiles()[0]});
     }},
    {"an existing read-only file", [](const Context& x) { return RefusedExistingFile(x, true); }},
    {"an existing file in use elsewhere", [](const Context& x) { return RefusedExistingFile(x, false); }},
    {"unsafe name climbing out", [](const Context& x) { return UnsafeName(x, "..\\"); }},
    {"unsafe name climbing from a folder", [](const Context& x) { return UnsafeName(x, "sub\\..\\..\\"); }},
    {"unsafe name climbing with trailing dots", [](const Context& x) { return UnsafeName(x, "... \\"); }},
    {"unsafe name with forward slashes", [](const Context& x) { return UnsafeName(x, "../"); }},
    {"unsafe name with a drive", [](const Context& x) { return UnsafeName(x, x.scratch + "\\"); }},
    {"unsafe name rooted", [](const Context& x) { return UnsafeName(x, x.scratch.substr(2) + "\\"); }},
    {"a joined path over 259 characters, shown cut to fit", [](const Context& x) {
         const std::string name = std::string(120, 'f') + "\\" + std::string(120, 'g') + ".txt";
         const PackedFile fits = MakeFile("fits.txt", "fits", 1);
         Case c = Ends(1, ("Error: Cannot create file:\n    " + x.installDir + name).substr(0, 259).substr(7),
                       Setup(PackFiles({fits, MakeFile(name, "long", 2)})), {fits});
         c.absent = {x.installDir + std::string(120, 'f')};
         return c;
     }},
    {"started without .exe", [](const Context&) { return StartedAs("setup.exe", "setup"); }},
    {"started as .EXE in capitals", [](const Context&) { return StartedAs("SETUP.EXE", "SETUP.EXE"); }},
    {"started with another extension", [](const Context& x) {
         Case c = StartedAs("setup.bin", "setup.bin");
         c.installed.clear();
         c.exitCode = 2;
         c.message = "Cannot open installation file:\n    " + x.scratch + "\\setup.bin.exe";
         return c;
     }},
};

std::string RowName(const ::testing::TestParamInfo<Row>& info)
{
    std::string name;
    for (const char* c = info.param.label; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Installers, Extraction, ::testing::ValuesIn(kRows), RowName);

}  // namespace
