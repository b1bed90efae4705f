// Extraction end to end: installers packed from extract-probe.exe, run under
// Wine with their boxes answered. Each case checks the exit code, the one box
// if any, the files on disk with their times, and the exact davirado.dat.
// Cuts and limits of the header and table that the real installer meets the
// same way are judged end to end in the installation damage table instead.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "stubkit/encoder/encoder.h"
#include "test_paths.h"
#include "window_driver.h"

namespace {

using namespace testpaths;
using Bytes = std::string;

const char kTitle[] = "Korvan Toolkit 2.1";
const char kIncomplete[] = "This is an incomplete installation file\n(possibly from an incomplete download).";
const char kCorrupted[] = "This is a corrupted installation file.";
constexpr size_t kMiB = 1 << 20;

Bytes U32(uint32_t value) { return {char(value), char(value >> 8), char(value >> 16), char(value >> 24)}; }
FILETIME TimeFrom(uint64_t value) { return FILETIME{DWORD(value), DWORD(value >> 32)}; }

// Numbers and stray bytes: compresses a little, and fast.
Bytes SampleContents(size_t size, uint32_t seed)
{
    Bytes text;
    for (uint32_t state = seed * 2654435761u + 1; text.size() < size; state = state * 1664525u + 1013904223u)
        text += (state >> 28) == 0 ? Bytes(1, static_cast<char>(state >> 8)) : std::to_string(state >> 22) + " ";
    return text.substr(0, size);
}

struct PackedFile {
    std::string name;
    Bytes contents;
    FILETIME creation, access, write;
};

// Times in 2001, 2009 and 2005, distinct by seed and in every 100 ns digit.
PackedFile MakeFile(const std::string& name, const Bytes& contents, int seed)
{
    const uint64_t base = 126227808000000000ull + 1234567ull * seed;
    return {name, contents, TimeFrom(base + 1111111), TimeFrom(base + 2524608000000000ull + 3333333),
            TimeFrom(base + 1262304000000000ull + 5555555)};
}

// crc_value is computed bit by bit here, apart from the installer's table.
Bytes FileRecordBytes(const PackedFile& file)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : file.contents) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    Bytes record = U32(crc) + U32(static_cast<uint32_t>(file.contents.size()));
    for (const FILETIME& time : {file.creation, file.access, file.write})
        record += U32(time.dwLowDateTime) + U32(time.dwHighDateTime);
    return record + static_cast<char>(file.name.size()) + file.name;
}

struct Payload {
    uint32_t file_count = 0, total_size = 0, table_size = 0;
    Bytes table, stream;
};

Payload PackFiles(const std::vector<PackedFile>& files)
{
    Payload payload;
    Bytes all;
    for (const PackedFile& file : files) {
        payload.table += FileRecordBytes(file);
        all += file.contents;
    }
    const std::vector<uint8_t> stream = stubkit::EncodeBuffer(reinterpret_cast<const uint8_t*>(all.data()),
                                                              all.size(), stubkit::kFastestLevel);
    return {uint32_t(files.size()), uint32_t(all.size()), uint32_t(payload.table.size()), payload.table,
            Bytes(stream.begin(), stream.end())};
}

Bytes PayloadBytes(const Payload& p)
{
    return U32(p.file_count) + U32(p.total_size) + U32(p.table_size) + p.table + p.stream;
}

Bytes ProbeImage() { return ReadBytes(OwnFolder() + "extract-probe.exe"); }

// Writes `text` and a NUL over the slot starting with `marker` and its NUL.
void PatchSlot(Bytes* image, const std::string& marker, const std::string& text)
{
    const size_t at = image->find(marker + '\0');
    if (at == Bytes::npos)
        throw std::runtime_error(marker + " not found in extract-probe.exe");
    image->replace(at, text.size() + 1, text + '\0');
}

// The probe with StubSize set to its length (or `stubSize`) and the title set, then `payload`.
Bytes MakeInstaller(const Bytes& payload, const std::string& stubSize = "")
{
    Bytes image = ProbeImage();
    PatchSlot(&image, "$$StubSize", stubSize.empty() ? std::to_string(image.size()) : stubSize);
    PatchSlot(&image, "$$Title", kTitle);
    return image + payload;
}

Bytes Setup(const Payload& payload) { return MakeInstaller(PayloadBytes(payload)); }

// Answers every box with OK until the program ends; ~0u if killed at the deadline.
DWORD RunAnsweringBoxes(const std::string& commandLine, std::vector<driver::SeenBox>* boxes)
{
    driver::StartedProcess process;
    DWORD exitCode = ~0u;
    if (!driver::Start(commandLine, &process))
        return exitCode;
    for (int tries = 0; tries < 2400 && WaitForSingleObject(process.process, 0) != WAIT_OBJECT_0; ++tries) {
        driver::SeenBox seen;
        if (driver::WaitForWindow(process.id, driver::kMessageBoxClass, nullptr, 50) &&
            driver::AnswerMessageBox(process.id, IDOK, &seen, 10000))
            boxes->push_back(seen);
    }
    driver::WaitForExit(&process, &exitCode, 0);
    driver::Kill(&process);   // if still running
    return exitCode;
}

bool TimesOf(const std::string& path, FILETIME times[3])
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool read = GetFileTime(file, &times[0], &times[1], &times[2]);
    CloseHandle(file);
    return read;
}

// Wine keeps creation times only where the Unix file system lets it set them.
bool CreationTimesAreKept()
{
    static const bool kept = [] {
        ScratchFolder scratch;
        const std::string path = scratch.path + "\\times";
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        FILETIME set = {0x12345678, 0x01C00000}, got[3] = {};
        SetFileTime(file, &set, nullptr, nullptr);
        CloseHandle(file);
        return TimesOf(path, got) && CompareFileTime(&set, &got[0]) == 0;
    }();
    return kept;
}

// Times first: reading the contents may move the access time.
void ExpectInstalled(const std::string& path, const PackedFile& file)
{
    FILETIME got[3] = {};
    ASSERT_TRUE(TimesOf(path, got)) << path;
    const FILETIME* packed[3] = {&file.creation, &file.access, &file.write};
    for (int i = CreationTimesAreKept() ? 0 : 1; i < 3; ++i)
        EXPECT_EQ(CompareFileTime(&got[i], packed[i]), 0) << "creation, access, write time " << i << " of " << path;
    const Bytes contents = ReadBytes(path);
    EXPECT_TRUE(contents == file.contents) << path << ": " << contents.size() << " bytes, " << file.contents.size();
}

// Each case runs in this folder, made afresh; the installer lies there.
const std::string& Scratch()
{
    static const ScratchFolder scratch;
    return scratch.path;
}

std::string InstallDir() { return Scratch() + "\\Target Folder\\"; }

struct Case {
    Bytes installer;
    DWORD exitCode = 0;
    std::string message;                 // the one box's text after "Error: "; empty: no box
    std::vector<PackedFile> installed;   // on disk with contents and times, logged in this order
    std::vector<std::string> damaged;    // then these: on disk and logged, contents not checked
    std::vector<std::string> absent;     // full paths that must not exist
    std::string existing;                // put into InstallDir beforehand, 100000 bytes
    std::string exeName = "setup.exe", invokedAs = "setup.exe";
};

struct Row {
    const char* label;
    std::function<Case()> make;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.label; }

class Extraction : public ::testing::TestWithParam<Row> {};

TEST_P(Extraction, EndsWithTheExpectedExitCodeBoxFilesAndLog)
{
    std::filesystem::remove_all(Scratch());
    std::filesystem::create_directory(Scratch());
    const Case c = GetParam().make();
    ASSERT_TRUE(WriteBytes(Scratch() + "\\" + c.exeName, c.installer));
    CreateDirectoryA(InstallDir().c_str(), nullptr);
    if (!c.existing.empty())
        ASSERT_TRUE(WriteBytes(InstallDir() + c.existing, Bytes(100000, 'o')));
    std::vector<driver::SeenBox> boxes;
    EXPECT_EQ(RunAnsweringBoxes(Quoted(Scratch() + "\\" + c.invokedAs) + " " + Quoted(Scratch() + "\\Target Folder"),
                                &boxes),
              c.exitCode);
    if (c.message.empty()) {
        EXPECT_TRUE(boxes.empty()) << "unexpected box: " << boxes[0].text;
    } else {
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "Setup");
        EXPECT_EQ(boxes[0].text, "Error: " + c.message);
        EXPECT_EQ(boxes[0].buttons, std::vector<int>{IDOK});
    }
    std::string expectedLog = std::string(kTitle) + "\n";
    for (const PackedFile& file : c.installed) {
        ExpectInstalled(InstallDir() + file.name, file);
        expectedLog += "0" + InstallDir() + file.name + "\n";
    }
    // A file that failed its CRC keeps the time it was written, never a packed
    // one (those are all decades old).
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t dayAgo = (uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime) - 864000000000ull;
    for (const std::string& name : c.damaged) {
        FILETIME got[3] = {};
        EXPECT_TRUE(TimesOf(InstallDir() + name, got)) << name;
        if (c.message == kCorrupted)
            EXPECT_GT(uint64_t(got[2].dwHighDateTime) << 32 | got[2].dwLowDateTime, dayAgo) << "write time of " << name;
        expectedLog += "0" + InstallDir() + name + "\n";
    }
    for (const std::string& path : c.absent)
        EXPECT_FALSE(Exists(path)) << path;
    EXPECT_EQ(ReadBytes(InstallDir() + "davirado.dat"), expectedLog);
}

// The first file ends exactly at the first 4 MiB chunk, so it stays open until
// the next chunk; the empty files after it are created on the way; the fourth
// file crosses the 8 MiB boundary; names have bytes from 0x80 up; nested
// folders with blanks are made top down; two empty files follow the stream's
// last byte.
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

// The table of `files` with another file_count, followed by the stream of `streamed`.
Bytes Mismatched(const std::vector<PackedFile>& files, uint32_t fileCount, const std::vector<PackedFile>& streamed)
{
    Payload payload = PackFiles(files), stream = PackFiles(streamed);
    payload.file_count = fileCount;
    payload.total_size = stream.total_size;
    payload.stream = stream.stream;
    return MakeInstaller(PayloadBytes(payload));
}

Case DamagedStream(bool cut)
{
    static const Payload one = PackFiles({MakeFile("only.txt", SampleContents(200000, 11), 1)});
    Bytes payload = PayloadBytes(one);
    const size_t middle = payload.size() - one.stream.size() / 2;
    if (cut)
        payload.resize(middle);
    else
        payload[middle] ^= 0x5A;
    return {MakeInstaller(payload), 1, kCorrupted, {}, {"only.txt"}};
}

// A good file, then `name`: the whole table is refused as corrupted before
// anything is extracted, so neither the good file nor `absent` exists.
Case UnsafeName(const std::string& name, const std::string& absent)
{
    const PackedFile good = MakeFile("good.txt", "good", 1);
    return {Setup(PackFiles({good, MakeFile(name, "unsafe", 2)})), 2, kCorrupted, {}, {}, {absent, InstallDir() + "good.txt"}};
}

// A name, `prefix` + a file name, that would leave InstallDir for the scratch folder.
Case Escaping(const std::string& prefix)
{
    const std::string escaped = "stubkit-escaped-" + std::to_string(GetCurrentProcessId()) + ".txt";
    return UnsafeName(prefix + escaped, Scratch() + "\\" + escaped);
}

// Record sizes 3 and 5, with `streamed` packed behind them.
Case Unreached(uint32_t fileCount, const std::vector<PackedFile>& streamed, const std::vector<PackedFile>& installed)
{
    const std::vector<PackedFile> table = {MakeFile("three.txt", "abc", 1), MakeFile("five.txt", "fifth", 2)};
    return {Mismatched(table, fileCount, streamed), 2, kIncomplete, installed, {}, {InstallDir() + "five.txt"}};
}

Case StartedAs(const std::string& exeName, const std::string& invokedAs, DWORD exitCode = 0,
               const std::string& message = "")
{
    return {Setup(PackFiles(TwoFiles())), exitCode, message,
            message.empty() ? TwoFiles() : std::vector<PackedFile>{}, {}, {}, "", exeName, invokedAs};
}

const Row kRows[] = {
    {"ManyShapesAcrossChunksAllInstalledOneOverALongerFile",
     [] { return Case{Setup(PackFiles(ManyShapes())), 0, "", ManyShapes(), {}, {}, "small.txt"}; }},
    {"OnlyEmptyFilesAreAllCreated", [] { return Case{Setup(PackFiles(AllEmpty())), 0, "", AllEmpty()}; }},
    {"FileShorterThanItsStubIsIncomplete",
     [] { return Case{MakeInstaller("", std::to_string(ProbeImage().size() + 1)), 2, kIncomplete}; }},
    {"CutInsideTheStreamIsCorruptedFileKeptAndLogged", [] { return DamagedStream(true); }},
    {"FlippedStreamByteIsCorruptedFileKeptAndLogged", [] { return DamagedStream(false); }},
    {"BytesAppendedAfterTheStreamAreIgnored",
     [] { return Case{MakeInstaller(PayloadBytes(PackFiles(TwoFiles())) + Bytes(70000, '\xA5')), 0, "", TwoFiles()}; }},
    {"StreamBytesBeyondTheLastRecordAreDropped", [] {
         const PackedFile file = MakeFile("short.txt", "0123456789", 1);
         return Case{Mismatched({file}, 1, {MakeFile("s", "0123456789abcdefghijklmno", 1)}), 2, kIncomplete, {file}};
     }},
    {"FileCountAboveTheRecordsIsIncomplete", [] {
         std::vector<PackedFile> three = TwoFiles();
         three.push_back(MakeFile("three.txt", "third", 3));
         return Case{Mismatched(TwoFiles(), 3, three), 2, kIncomplete, TwoFiles()};
     }},
    {"FileCountAboveTheRecordsWithTotalSize0IsIncomplete",
     [] { return Case{Mismatched(AllEmpty(), 3, {}), 2, kIncomplete, AllEmpty()}; }},
    {"RecordNeverReachedIsIncomplete",
     [] { return Unreached(2, {MakeFile("s", "abc", 1)}, {MakeFile("three.txt", "abc", 1)}); }},
    {"NonEmptyRecordWithTotalSize0IsIncomplete", [] { return Unreached(2, {}, {}); }},
    {"RecordBeyondFileCountIsIncomplete",
     [] { return Unreached(1, {MakeFile("s", "abc", 1)}, {MakeFile("three.txt", "abc", 1)}); }},
    {"FileCount2To31IsIncomplete", [] { return Case{Mismatched(AllEmpty(), 0x80000000u, {}), 2, kIncomplete}; }},
    {"LastFileShortOfItsSizeIsIncomplete", [] {
         Payload payload = PackFiles({MakeFile("cut.txt", "abc", 1)});
         payload.table[4] = 4;   // its size; the CRC is that of the three bytes streamed
         return Case{Setup(payload), 2, kIncomplete, {}, {"cut.txt"}};
     }},
    {"NameRunningPastTheTableIsIncomplete", [] {
         Payload payload = PackFiles(TwoFiles());
         payload.table.pop_back();
         payload.table_size -= 1;
         return Case{Setup(payload), 2, kIncomplete, {TwoFiles()[0]}};
     }},
    {"NameClimbingOutIsCorrupted", [] { return Escaping("..\\"); }},
    {"NameClimbingFromAFolderIsCorrupted", [] { return Escaping("sub\\..\\..\\"); }},
    {"NameClimbingWithTrailingDotsIsCorrupted", [] { return Escaping("... \\"); }},
    {"NameClimbingWithForwardSlashesIsCorrupted", [] { return Escaping("../"); }},
    {"NameWithADriveIsCorrupted", [] { return Escaping(Scratch() + "\\"); }},
    {"RootedNameIsCorrupted", [] { return Escaping(Scratch().substr(2) + "\\"); }},
    {"DeviceNameInAFolderIsCorruptedNothingCreated", [] { return UnsafeName("sub\\NUL.txt", InstallDir() + "sub"); }},
    {"DeviceNameAsAFolderIsCorruptedNothingCreated",
     [] { return UnsafeName("com0 .d\\x.txt", InstallDir() + "com0 .d"); }},
    {"NamesResemblingDevicesAreInstalled", [] {
         const std::vector<PackedFile> files = {MakeFile("COM10.txt", "a", 1), MakeFile("NULL", "b", 2),
                                                MakeFile("console\\auxiliary.txt", "c", 3), MakeFile("lpt.log", "d", 4),
                                                MakeFile("x.con", "e", 5)};
         return Case{Setup(PackFiles(files)), 0, "", files};
     }},
    // A name the rule accepts but the file system cannot hold (130 letters of code page 1252 take 260 bytes
    // in the host's UTF-8, beyond its 255 per name) is found before anything is written.
    {"NameTheFileSystemCannotHoldStopsBeforeAnyFile", [] {
         const PackedFile good = MakeFile("kept\\good.txt", "good", 1);
         const std::string name = "kept\\new\\deeper\\" + std::string(130, '\xE9') + ".txt";
         return Case{Setup(PackFiles({good, MakeFile(name, "bad", 2)})), 1, "Cannot create file:\n    " + InstallDir() + name,
                     {}, {}, {InstallDir() + "kept"}};
     }},
    {"StartedWithoutExeFindsItsFile", [] { return StartedAs("setup.exe", "setup"); }},
    {"StartedAsCapitalExeFindsItsFile", [] { return StartedAs("SETUP.EXE", "SETUP.EXE"); }},
    {"StartedWithAnotherExtensionLooksForExe", [] {
         return StartedAs("setup.bin", "setup.bin", 2,
                          "Cannot open installation file:\n    " + Scratch() + "\\setup.bin.exe");
     }},
};

INSTANTIATE_TEST_SUITE_P(Installers, Extraction, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.label); });

}  // namespace
