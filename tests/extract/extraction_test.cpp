// Extraction end to end: installers packed from extract-probe.exe, run under
// Wine with their message boxes answered by the window driver. Each case
// checks the exit code, every box, the files on disk with their times, and
// the exact bytes of davirado.dat. Every case runs with the buffered reader
// and with one ReadFile per read, which must behave alike.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "probe_run.h"
#include "test_installer.h"
#include "test_paths.h"

namespace {

using namespace testinstaller;
using proberun::Outcome;
using proberun::ScratchFolder;

const char kTitle[] = "Korvan Toolkit 2.1";
const char kIncomplete[] = "This is an incomplete installation file\n(possibly from an incomplete download).";
const char kCorrupted[] = "This is a corrupted installation file.";

constexpr size_t kMiB = 1 << 20;

std::string LogOf(const std::string& installDir, const std::vector<std::string>& names)
{
    std::string log = std::string(kTitle) + "\n";
    for (const std::string& name : names)
        log += "0" + installDir + name + "\n";
    return log;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SameTime(const FILETIME& a, const FILETIME& b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Wine keeps creation times only where the Unix file system lets it set them.
bool CreationTimesAreKept()
{
    static int kept = -1;
    if (kept < 0) {
        ScratchFolder scratch;
        const std::string path = scratch.Path() + "\\times";
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        FILETIME set = {0x12345678, 0x01C00000}, got = {};
        SetFileTime(file, &set, nullptr, nullptr);
        CloseHandle(file);
        file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        GetFileTime(file, &got, nullptr, nullptr);
        CloseHandle(file);
        kept = SameTime(set, got) ? 1 : 0;
    }
    return kept == 1;
}

// Times first: reading the contents may move the access time.
void ExpectInstalled(const std::string& installDir, const PackedFile& file)
{
    const std::string path = installDir + file.name;
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << path;
    FILETIME creation, access, write;
    ASSERT_TRUE(GetFileTime(handle, &creation, &access, &write));
    CloseHandle(handle);
    EXPECT_TRUE(SameTime(write, file.write)) << "write time of " << file.name;
    EXPECT_TRUE(SameTime(access, file.access)) << "access time of " << file.name;
    if (CreationTimesAreKept())
        EXPECT_TRUE(SameTime(creation, file.creation)) << "creation time of " << file.name;
    std::string contents;
    ASSERT_TRUE(ReadFileBytes(path, &contents));
    EXPECT_TRUE(contents == file.contents) << file.name << ": " << contents.size() << " bytes on disk, "
                                           << file.contents.size() << " packed";
}

// Encoding is the slow part of a case: each payload is packed once per run.
const Payload& Packed(const std::string& key, const std::function<std::vector<PackedFile>()>& files)
{
    static std::map<std::string, std::pair<std::vector<PackedFile>, Payload>> cache;
    auto found = cache.find(key);
    if (found == cache.end()) {
        std::vector<PackedFile> list = files();
        found = cache.emplace(key, std::make_pair(list, PackFiles(list))).first;
    }
    return found->second.second;
}

// ---------------------------------------------------------------------------
// Everything one case needs: what to run, and what must come of it.

struct Context {
    std::string scratch;      // holds the installer; no trailing backslash
    std::string installDir;   // the probe's InstallDir, with its trailing backslash
};

struct Case {
    Bytes installer;
    std::string exeName = "setup.exe";
    std::string invokedAs;                 // argument 0 relative to scratch; default exeName
    std::vector<std::string> existing;     // files put into the folder beforehand
    std::string heldOpen;                  // one of them, held open without sharing
    bool readOnlyExisting = false;

    unsigned long exitCode = 0;
    std::string message;                   // the one box's text after "Error: "; empty: no box
    std::vector<PackedFile> installed;     // must be on disk, contents and times
    std::vector<std::string> logged;       // file records, in order
    std::vector<std::string> present;      // on disk, contents not checked
    std::vector<std::string> absent;       // full paths that must not exist
};

struct CaseMaker {
    const char* label;
    std::function<Case(const Context&)> make;
};

void PrintTo(const CaseMaker& maker, std::ostream* out) { *out << maker.label; }

class Extraction : public ::testing::TestWithParam<std::tuple<CaseMaker, bool>> {
protected:
    void Run()
    {
        const Context context{scratch_.Path(), scratch_.Path() + "\\Target Folder\\"};
        Case c = std::get<0>(GetParam()).make(context);
        if (c.readOnlyExisting && !proberun::ReadOnlyFilesAreProtected())
            GTEST_SKIP() << "this system lets read-only files be overwritten (Wine as root)";
        Prepare(context, c);
        const std::string program = context.scratch + "\\" + (c.invokedAs.empty() ? c.exeName : c.invokedAs);
        std::string command = testpaths::Quoted(program) + " " +
                              testpaths::Quoted(context.installDir.substr(0, context.installDir.size() - 1));
        if (std::get<1>(GetParam()))
            command += " unbuffered";
        HANDLE holder = Hold(context, c);
        Outcome outcome = proberun::Run(command);
        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
        Check(context, c, outcome);
    }

    void Prepare(const Context& context, const Case& c)
    {
        WriteFileBytes(context.scratch + "\\" + c.exeName, c.installer);
        CreateDirectoryA(context.installDir.c_str(), nullptr);
        for (const std::string& name : c.existing) {
            WriteFileBytes(context.installDir + name, Bytes(100000, 'o'));
            if (c.readOnlyExisting)
                SetFileAttributesA((context.installDir + name).c_str(), FILE_ATTRIBUTE_READONLY);
        }
    }

    HANDLE Hold(const Context& context, const Case& c)
    {
        if (c.heldOpen.empty())
            return INVALID_HANDLE_VALUE;
        return CreateFileA((context.installDir + c.heldOpen).c_str(), GENERIC_READ, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }

    void Check(const Context& context, const Case& c, const Outcome& outcome)
    {
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
        for (const PackedFile& file : c.installed)
            ExpectInstalled(context.installDir, file);
        for (const std::string& name : c.present)
            EXPECT_TRUE(Exists(context.installDir + name)) << name;
        for (const std::string& path : c.absent)
            EXPECT_FALSE(Exists(path)) << path;
        std::string log;
        ASSERT_TRUE(ReadFileBytes(context.installDir + "davirado.dat", &log));
        EXPECT_EQ(log, LogOf(context.installDir, c.logged));
    }

    ScratchFolder scratch_;
};

TEST_P(Extraction, EndsAsExpected)
{
    Run();
}

// ---------------------------------------------------------------------------
// Well-formed installers of several shapes: every file installed and logged.

std::vector<std::string> NamesOf(const std::vector<PackedFile>& files)
{
    std::vector<std::string> names;
    for (const PackedFile& file : files)
        names.push_back(file.name);
    return names;
}

CaseMaker Installs(const char* label, std::function<std::vector<PackedFile>()> files)
{
    return {label, [label, files](const Context&) {
                Case c;
                c.installer = MakeInstaller(PayloadBytes(Packed(label, files)), kTitle);
                c.installed = files();
                c.logged = NamesOf(c.installed);
                return c;
            }};
}

std::vector<PackedFile> SeveralChunks()
{
    // The second file crosses both the 4 MiB and the 8 MiB chunk boundary.
    return {MakeFile("first.bin", SampleContents(3 * kMiB + 17, 1), 1),
            MakeFile("second.bin", SampleContents(6 * kMiB, 2), 2),
            MakeFile("small.txt", SampleContents(1000, 3), 3),
            MakeFile("last.bin", SampleContents(2 * kMiB + 5, 4), 4)};
}

std::vector<PackedFile> EmptyBetween()
{
    return {MakeFile("before.txt", SampleContents(5000, 5), 1), MakeFile("empty.txt", "", 2),
            MakeFile("also empty.txt", "", 3), MakeFile("after.txt", SampleContents(7000, 6), 4)};
}

std::vector<PackedFile> FileEndsAChunk()
{
    // The first file's last byte ends the first chunk: it stays open until the
    // next chunk arrives; the empty one after it is created on the way.
    return {MakeFile("exactly 4 MiB.bin", SampleContents(4 * kMiB, 7), 1), MakeFile("empty.txt", "", 2),
            MakeFile("tail.txt", SampleContents(300, 8), 3)};
}

std::vector<PackedFile> NestedFolders()
{
    return {MakeFile("top.txt", "top", 1),
            MakeFile("Program Data\\Sub Folder\\Deeper Still\\Level Four\\deep file.txt", "deep", 2),
            MakeFile("Program Data\\sibling.txt", "sibling", 3),
            MakeFile("A\\B\\C\\D\\E\\F\\G\\H\\eight levels.txt", SampleContents(40000, 9), 4)};
}

std::vector<PackedFile> EmptyAtTheEnd()
{
    return {MakeFile("data.txt", SampleContents(20000, 10), 1), MakeFile("empty one.txt", "", 2),
            MakeFile("sub\\empty two.txt", "", 3)};
}

std::vector<PackedFile> AllEmpty()
{
    return {MakeFile("a.txt", "", 1), MakeFile("folder\\b.txt", "", 2)};
}

std::vector<PackedFile> HighBytesInNames()
{
    return {MakeFile("caf\xE9 cr\xE8me.txt", "ANSI name", 1), MakeFile("abc", "abc", 2)};
}

// ---------------------------------------------------------------------------
// Installers that end otherwise. Unless noted, one small file is packed.

std::vector<PackedFile> OneFile()
{
    return {MakeFile("only.txt", SampleContents(200000, 11), 1)};
}

std::vector<PackedFile> TwoFiles()
{
    return {MakeFile("one.txt", SampleContents(30000, 12), 1), MakeFile("two.txt", SampleContents(30000, 13), 2)};
}

Bytes Header(uint32_t fileCount, uint32_t totalSize, uint32_t tableSize)
{
    Payload header;
    header.file_count = fileCount;
    header.total_size = totalSize;
    header.table_size = tableSize;
    return PayloadBytes(header);
}

Bytes Joined(const Bytes& a, const Bytes& b)
{
    Bytes joined = a;
    joined.insert(joined.end(), b.begin(), b.end());
    return joined;
}

Case StubOnly(const Context&)
{
    Case c;
    c.installer = MakeInstaller(Bytes(), kTitle);
    return c;
}

Case Unconfigured(const Context&)
{
    Case c;
    c.installer = ProbeImage();
    PatchSlot(&c.installer, "$$Title", kTitle);
    c.exitCode = 2;
    c.message = "Unconfigured installation file.";
    return c;
}

Case ShorterThanItsStub(const Context&)
{
    Case c;
    c.installer = MakeInstaller(Bytes(), kTitle, std::to_string(ProbeImage().size() + 1));
    c.exitCode = 2;
    c.message = kIncomplete;
    return c;
}

Case CutInsideTheTable(const Context&)
{
    Bytes payload = PayloadBytes(Packed("two files", TwoFiles));
    payload.resize(12 + Packed("two files", TwoFiles).table_size - 5);
    Case c;
    c.installer = MakeInstaller(payload, kTitle);
    c.exitCode = 2;
    c.message = kIncomplete;
    return c;
}

Case CutInsideTheStream(const Context&)
{
    Bytes payload = PayloadBytes(Packed("one file", OneFile));
    payload.resize(payload.size() - Packed("one file", OneFile).stream.size() / 2);
    Case c;
    c.installer = MakeInstaller(payload, kTitle);
    c.exitCode = 1;
    c.message = kCorrupted;
    c.present = {"only.txt"};
    c.logged = {"only.txt"};
    return c;
}

Case FlippedStreamByte(const Context&)
{
    Bytes payload = PayloadBytes(Packed("one file", OneFile));
    payload[payload.size() - Packed("one file", OneFile).stream.size() / 2] ^= 0x5A;
    Case c;
    c.installer = MakeInstaller(payload, kTitle);
    c.exitCode = 1;
    c.message = kCorrupted;
    c.present = {"only.txt"};
    c.logged = {"only.txt"};
    return c;
}

Case BytesAppended(const Context&)
{
    Bytes trailer(70000, 0xA5);
    Case c;
    c.installer = MakeInstaller(Joined(PayloadBytes(Packed("two files", TwoFiles)), trailer), kTitle);
    c.installed = TwoFiles();
    c.logged = NamesOf(c.installed);
    return c;
}

Case BytesBeyondTheLastRecord(const Context&)
{
    // The table holds a 10-byte file, the stream and total_size 25 bytes: the
    // rest is dropped and stays in BytesRemaining.
    PackedFile file = MakeFile("short.txt", "0123456789", 1);
    Payload payload = PackFiles({MakeFile("short.txt", "0123456789abcdefghijklmno", 1)});
    payload.table = FileRecordBytes(file);
    payload.table_size = static_cast<uint32_t>(payload.table.size());
    Case c;
    c.installer = MakeInstaller(PayloadBytes(payload), kTitle);
    c.exitCode = 2;
    c.message = kIncomplete;
    c.installed = {file};
    c.logged = {"short.txt"};
    return c;
}

Case ExistingFileOverwritten(const Context&)
{
    Case c;
    c.installer = MakeInstaller(PayloadBytes(Packed("two files", TwoFiles)), kTitle);
    c.existing = {"two.txt"};
    c.installed = TwoFiles();
    c.logged = NamesOf(c.installed);
    return c;
}

Case RefusedExistingFile(const Context& context, bool readOnly)
{
    Case c;
    c.installer = MakeInstaller(PayloadBytes(Packed("two files", TwoFiles)), kTitle);
    c.existing = {"two.txt"};
    c.readOnlyExisting = readOnly;
    if (!readOnly)
        c.heldOpen = "two.txt";
    c.exitCode = 1;
    c.message = "Cannot create file:\n    " + context.installDir + "two.txt";
    c.installed = {TwoFiles()[0]};
    c.logged = {"one.txt"};
    return c;
}

// A good file, then one whose name would leave the folder.
Case UnsafeName(const std::string& name, const std::string& escapedTo)
{
    Case c;
    c.installer = MakeInstaller(
        PayloadBytes(PackFiles({MakeFile("good.txt", "good", 1), MakeFile(name, "escaped", 2)})), kTitle);
    c.exitCode = 1;
    c.message = kCorrupted;
    c.installed = {MakeFile("good.txt", "good", 1)};
    c.logged = {"good.txt"};
    c.absent = {escapedTo};
    return c;
}

std::string EscapeName()
{
    return "stubkit-escaped-" + std::to_string(GetCurrentProcessId()) + ".txt";
}

Case TableAboveTheBuffer(const Context&)
{
    Bytes table(131073, 0);
    Case c;
    c.installer = MakeInstaller(Joined(Header(1, 0, 131073), table), kTitle);
    c.exitCode = 2;
    c.message = kIncomplete;
    return c;
}

Case StubAboveTheBuffer(const Context&)
{
    // The file is long enough to hold such a stub: only the buffer is too small.
    Case c;
    c.installer = MakeInstaller(Bytes(140000, 0), kTitle, "131073");
    c.exitCode = 2;
    c.message = kIncomplete;
    return c;
}

Case MoreFilesThanRecords(const Context&)
{
    Payload payload = Packed("two files", TwoFiles);
    payload.file_count = 3;
    payload.stream = PackFiles({TwoFiles()[0], TwoFiles()[1], MakeFile("three.txt", "third", 3)}).stream;
    payload.total_size += 5;
    Case c;
    c.installer = MakeInstaller(PayloadBytes(payload), kTitle);
    c.exitCode = 2;
    c.message = kIncomplete;
    c.installed = TwoFiles();
    c.logged = NamesOf(c.installed);
    return c;
}

Case MoreEmptyFilesThanRecords(const Context&)
{
    Payload payload = PackFiles(AllEmpty());
    payload.file_count = 3;
    Case c;
    c.installer = MakeInstaller(PayloadBytes(payload), kTitle);
    c.exitCode = 2;
    c.message = kIncomplete;
    c.installed = AllEmpty();
    c.logged = NamesOf(c.installed);
    return c;
}

Case NamePastTheTable(const Context&)
{
    Payload payload = Packed("two files", TwoFiles);
    payload.table.pop_back();   // the second name's last byte
    payload.table_size -= 1;
    Case c;
    c.installer = MakeInstaller(PayloadBytes(payload), kTitle);
    c.exitCode = 2;
    c.message = kIncomplete;
    c.installed = {TwoFiles()[0]};
    c.logged = {"one.txt"};
    return c;
}

Case PathTooLong(const Context& context)
{
    // InstallDir plus the name is well over 259 characters: the message shows
    // the path cut to fit, and nothing is created for it.
    const std::string name = std::string(120, 'f') + "\\" + std::string(120, 'g') + ".txt";
    Case c;
    c.installer = MakeInstaller(
        PayloadBytes(PackFiles({MakeFile("fits.txt", "fits", 1), MakeFile(name, "long", 2)})), kTitle);
    c.exitCode = 1;
    c.message = ("Error: Cannot create file:\n    " + context.installDir + name).substr(0, 259).substr(7);
    c.installed = {MakeFile("fits.txt", "fits", 1)};
    c.logged = {"fits.txt"};
    c.absent = {context.installDir + std::string(120, 'f')};
    return c;
}

Case InvokedAs(const std::string& exeName, const std::string& invokedAs)
{
    Case c;
    c.installer = MakeInstaller(PayloadBytes(Packed("two files", TwoFiles)), kTitle);
    c.exeName = exeName;
    c.invokedAs = invokedAs;
    c.installed = TwoFiles();
    c.logged = NamesOf(c.installed);
    return c;
}

Case InvokedWithAnotherExtension(const Context& context)
{
    Case c = InvokedAs("setup.bin", "setup.bin");
    c.exitCode = 2;
    c.message = "Cannot open installation file:\n    " + context.scratch + "\\setup.bin.exe";
    c.installed.clear();
    c.logged.clear();
    return c;
}

const CaseMaker kCases[] = {
    Installs("one small file", [] { return std::vector<PackedFile>{MakeFile("readme.txt", "abc", 1)}; }),
    Installs("files across several 4 MiB chunks", SeveralChunks),
    Installs("empty files between non-empty ones", EmptyBetween),
    Installs("a file ending exactly at a chunk's end", FileEndsAChunk),
    Installs("nested folders with blanks, created top down", NestedFolders),
    Installs("empty files after the last byte of the stream", EmptyAtTheEnd),
    Installs("only empty files, total_size 0", AllEmpty),
    Installs("no files at all", [] { return std::vector<PackedFile>{}; }),
    Installs("names with bytes from 0x80 up", HighBytesInNames),
    {"stub only, no payload", StubOnly},
    {"unconfigured StubSize", Unconfigured},
    {"file shorter than its stub", ShorterThanItsStub},
    {"cut inside the file table", CutInsideTheTable},
    {"cut inside the stream", CutInsideTheStream},
    {"flipped stream byte", FlippedStreamByte},
    {"bytes appended after the stream", BytesAppended},
    {"bytes beyond the last record are dropped", BytesBeyondTheLastRecord},
    {"an existing writable file is overwritten", ExistingFileOverwritten},
    {"an existing read-only file", [](const Context& c) { return RefusedExistingFile(c, true); }},
    {"an existing file in use elsewhere", [](const Context& c) { return RefusedExistingFile(c, false); }},
    {"unsafe name climbing out", [](const Context& c) { return UnsafeName("..\\" + EscapeName(), c.scratch + "\\" + EscapeName()); }},
    {"unsafe name climbing from a folder", [](const Context& c) { return UnsafeName("sub\\..\\..\\" + EscapeName(), c.scratch + "\\" + EscapeName()); }},
    {"unsafe name climbing with trailing dots", [](const Context& c) { return UnsafeName("... \\" + EscapeName(), c.scratch + "\\" + EscapeName()); }},
    {"unsafe name with a drive", [](const Context& c) { return UnsafeName(c.scratch + "\\" + EscapeName(), c.scratch + "\\" + EscapeName()); }},
    {"unsafe name rooted", [](const Context& c) { return UnsafeName(c.scratch.substr(2) + "\\" + EscapeName(), c.scratch + "\\" + EscapeName()); }},
    {"unsafe name with forward slashes", [](const Context& c) { return UnsafeName("../" + EscapeName(), c.scratch + "\\" + EscapeName()); }},
    {"table_size above the buffer", TableAboveTheBuffer},
    {"stub size above the buffer", StubAboveTheBuffer},
    {"file_count above the records held", MoreFilesThanRecords},
    {"file_count above the records, total_size 0", MoreEmptyFilesThanRecords},
    {"a name running past the table", NamePastTheTable},
    {"a joined path over 259 characters", PathTooLong},
    {"started without .exe", [](const Context&) { return InvokedAs("setup.exe", "setup"); }},
    {"started as .EXE in capitals", [](const Context&) { return InvokedAs("SETUP.EXE", "SETUP.EXE"); }},
    {"started with another extension", InvokedWithAnotherExtension},
};

std::string CaseName(const ::testing::TestParamInfo<std::tuple<CaseMaker, bool>>& info)
{
    std::string name;
    for (const char* c = std::get<0>(info.param).label; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name + (std::get<1>(info.param) ? "__one_ReadFile_per_read" : "__buffered");
}

INSTANTIATE_TEST_SUITE_P(Installers, Extraction,
                         ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()), CaseName);

}  // namespace
