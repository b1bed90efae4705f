// Output file creation and the uninstall data file, in-process on the real
// file system under Wine: what the installer creates, and what the
// uninstaller's line reader makes of logs of every shape.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "installer/setup_globals.h"
#include "payload/output_file.h"
#include "probe_run.h"
#include "uninstall/log_writer.h"
#include "uninstall/uninstall_log.h"

namespace {

using proberun::ScratchFolder;
using proberun::ReadFileBytes;

bool IsFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void PutFile(const std::string& path, const std::string& contents, bool readOnly = false)
{
    proberun::WriteFileBytes(path, std::vector<uint8_t>(contents.begin(), contents.end()));
    if (readOnly)
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
}

bool WriteAndClose(HANDLE file, const std::string& contents)
{
    DWORD written = 0;
    bool ok = WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr) &&
              written == contents.size();
    CloseHandle(file);
    return ok;
}

// ---------------------------------------------------------------------------
// CreateOutputFile

// How an existing file refuses to be replaced.
enum Refusal { NoRefusal, ReadOnlyAttribute, HeldOpenWithoutSharing };

struct OutputFileCase {
    const char* label;
    std::vector<std::string> existingFolders;   // made before the call
    std::string existingFile;                   // relative; empty for none
    Refusal refusal;
    std::string relative;                       // the file to create
    bool created;
};

void PrintTo(const OutputFileCase& c, std::ostream* out) { *out << c.label; }

class OutputFileCreation : public ::testing::TestWithParam<OutputFileCase> {};

TEST_P(OutputFileCreation, MakesMissingFoldersThenTheFileOrFailsWithTheInvalidHandle)
{
    const OutputFileCase& c = GetParam();
    ScratchFolder scratch;
    const std::string root = scratch.Path() + "\\";
    for (const std::string& folder : c.existingFolders)
        ASSERT_TRUE(CreateDirectoryA((root + folder).c_str(), nullptr));
    if (c.refusal == ReadOnlyAttribute && !proberun::ReadOnlyFilesAreProtected())
        GTEST_SKIP() << "this system lets read-only files be overwritten (Wine as root)";
    if (!c.existingFile.empty())
        PutFile(root + c.existingFile, "old contents that are longer", c.refusal == ReadOnlyAttribute);
    HANDLE holder = INVALID_HANDLE_VALUE;
    if (c.refusal == HeldOpenWithoutSharing)
        holder = CreateFileA((root + c.existingFile).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);

    HANDLE file = CreateOutputFile((root + c.relative).c_str());
    if (holder != INVALID_HANDLE_VALUE)
        CloseHandle(holder);
    ASSERT_EQ(file != INVALID_HANDLE_VALUE, c.created);
    std::string contents;
    if (!c.created) {
        if (!c.existingFile.empty()) {
            ASSERT_TRUE(ReadFileBytes(root + c.existingFile, &contents));
            EXPECT_EQ(contents, "old contents that are longer");
        }
        return;
    }
    // Nobody else may open the file while the installer writes it.
    EXPECT_EQ(CreateFileA((root + c.relative).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    ASSERT_TRUE(WriteAndClose(file, "new"));
    ASSERT_TRUE(ReadFileBytes(root + c.relative, &contents));
    EXPECT_EQ(contents, "new");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutputFileCreation,
    ::testing::Values(
        OutputFileCase{"several missing levels with blanks", {}, "", NoRefusal,
                       "Level one\\level two\\ three\\file name.txt", true},
        OutputFileCase{"all folders exist", {"a", "a\\b"}, "", NoRefusal, "a\\b\\c.txt", true},
        OutputFileCase{"file directly in an existing folder", {}, "", NoRefusal, "plain.txt", true},
        OutputFileCase{"existing writable file is emptied", {"a"}, "a\\x.txt", NoRefusal, "a\\x.txt", true},
        OutputFileCase{"existing read-only file", {"a"}, "a\\x.txt", ReadOnlyAttribute, "a\\x.txt", false},
        OutputFileCase{"existing file in use elsewhere", {"a"}, "a\\x.txt", HeldOpenWithoutSharing,
                       "a\\x.txt", false},
        OutputFileCase{"a folder stands where the file should be", {"a", "a\\x.txt"}, "", NoRefusal,
                       "a\\x.txt", false}));

TEST(OutputFileCreation, RejectsAPathOverTheLimitWithoutCreatingAnyFolder)
{
    ScratchFolder scratch;
    const std::string top = scratch.Path() + "\\top";
    std::string path = top + "\\" + std::string(120, 'd') + "\\" + std::string(120, 'f') + ".txt";
    ASSERT_GT(path.size(), 259u);
    EXPECT_EQ(CreateOutputFile(path.c_str()), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(IsFolder(top));
}

TEST(OutputFileCreation, CreatesAFileAtTheRootOfADrive)
{
    char temp[MAX_PATH] = {0};
    GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp, 3) + "stubkit-root-" + std::to_string(GetCurrentProcessId()) + ".txt";
    HANDLE file = CreateOutputFile(path.c_str());
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    EXPECT_TRUE(WriteAndClose(file, "root"));
    EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST(CreateFolders, MakesEveryLevelUpToTheLastBackslashOnly)
{
    ScratchFolder scratch;
    const std::string root = scratch.Path() + "\\";
    CreateFolders((root + "p\\q r\\s\\t").c_str());
    EXPECT_TRUE(IsFolder(root + "p\\q r\\s"));
    EXPECT_FALSE(IsFolder(root + "p\\q r\\s\\t"));
    CreateFolders((root + "p\\q r\\s\\t\\").c_str());
    EXPECT_TRUE(IsFolder(root + "p\\q r\\s\\t"));
}

// ---------------------------------------------------------------------------
// Writer side of the uninstall data file

class UninstallLogWriter : public ::testing::Test {
protected:
    void SetUp() override { SetInstallDir(scratch_.Path() + "\\"); }
    void TearDown() override { CloseUninstallLog(); }
    void SetInstallDir(const std::string& folder)
    {
        ASSERT_LT(folder.size(), sizeof InstallDir);
        std::strcpy(InstallDir, folder.c_str());
    }
    std::string LogPath() const { return std::string(InstallDir) + "davirado.dat"; }
    std::string LogContents() const
    {
        std::string contents;
        EXPECT_TRUE(ReadFileBytes(LogPath(), &contents));
        return contents;
    }
    ScratchFolder scratch_;
};

TEST_F(UninstallLogWriter, WritesTheTitleLineAndRecordsAsTypeArgumentLineFeed)
{
    ASSERT_TRUE(CreateUninstallLog("Korvan Suite 3"));
    WriteLogRecord(FileRecordType, "C:\\Korvan\\bin\\korvan.exe");
    WriteLogRecord(StartMenuShortcutRecordType, "C:\\Menu\\Korvan\\Korvan.lnk");
    WriteLogRecord(DesktopShortcutRecordType, "C:\\Desk\\Korvan.lnk");
    WriteLogRecord(RegistryKeyRecordType, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvan");
    CloseUninstallLog();
    EXPECT_EQ(LogContents(),
              "Korvan Suite 3\n0C:\\Korvan\\bin\\korvan.exe\n1C:\\Menu\\Korvan\\Korvan.lnk\n"
              "2C:\\Desk\\Korvan.lnk\n3Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvan\n");
}

TEST_F(UninstallLogWriter, EachAppendReachesTheFileAtOnce)
{
    ASSERT_TRUE(CreateUninstallLog("T"));
    WriteLogRecord(FileRecordType, "C:\\a");
    // Read while the installer still holds the log: nothing may be held back.
    HANDLE copy = CreateFileA(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(copy, INVALID_HANDLE_VALUE) << "the log must not be shared while open";
    EXPECT_EQ(GetFileSize(UninstallLog, nullptr), 8u);   // "T\n0C:\\a\n"
}

TEST_F(UninstallLogWriter, WriteLogTextReportsTheCountAndZeroWithoutAnOpenLog)
{
    ASSERT_TRUE(CreateUninstallLog("T"));
    EXPECT_EQ(WriteLogText("four"), 4);
    CloseUninstallLog();
    EXPECT_EQ(WriteLogText("four"), 0);
    EXPECT_EQ(LogContents(), "T\nfour");
}

TEST_F(UninstallLogWriter, ReplacesAnEarlierLogAndCreatesMissingFolders)
{
    SetInstallDir(scratch_.Path() + "\\new folder\\deeper\\");
    ASSERT_TRUE(CreateUninstallLog("First"));
    WriteLogRecord(FileRecordType, "C:\\old");
    CloseUninstallLog();
    ASSERT_TRUE(CreateUninstallLog("Second"));
    CloseUninstallLog();
    EXPECT_EQ(LogContents(), "Second\n");
}

TEST_F(UninstallLogWriter, KeepsAtMost259CharactersOfTheTitle)
{
    ASSERT_TRUE(CreateUninstallLog(std::string(300, 't').c_str()));
    CloseUninstallLog();
    EXPECT_EQ(LogContents(), std::string(259, 't') + "\n");
}

TEST_F(UninstallLogWriter, FailsWhenTheLogCannotBeCreated)
{
    CreateDirectoryA(LogPath().c_str(), nullptr);   // a folder in the way
    EXPECT_FALSE(CreateUninstallLog("T"));
    EXPECT_EQ(UninstallLog, INVALID_HANDLE_VALUE);
}

// ---------------------------------------------------------------------------
// Reader side: ReadLogLine on logs of every shape

struct ReadLine {
    std::string text;
    bool end;
};

bool operator==(const ReadLine& a, const ReadLine& b) { return a.text == b.text && a.end == b.end; }
void PrintTo(const ReadLine& line, std::ostream* out)
{
    *out << '"' << line.text << "\"" << (line.end ? " + end" : "");
}

struct LogShapeCase {
    const char* label;
    std::string contents;
    std::vector<ReadLine> lines;   // every call up to and including the one that reports the end
};

void PrintTo(const LogShapeCase& c, std::ostream* out) { *out << c.label; }

class LogLineReading : public ::testing::TestWithParam<LogShapeCase> {};

TEST_P(LogLineReading, ReturnsEachLineAndTheEndFlagAtTheRightCall)
{
    ScratchFolder scratch;
    const std::string path = scratch.Path() + "\\davirado.dat";
    PutFile(path, GetParam().contents);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::vector<ReadLine> lines;
    size_t consumed = 0;
    for (int call = 0; call < 20; ++call) {
        char buffer[LogLineBufferSize + 1];
        buffer[LogLineBufferSize] = '#';   // one byte past what the reader may use
        bool end = ReadLogLine(buffer, LogLineCapacity, file);
        EXPECT_EQ(buffer[LogLineBufferSize], '#') << "wrote past capacity + 1";
        lines.push_back({buffer, end});
        // No read-ahead: the position rests right behind what was consumed.
        consumed = std::min(GetParam().contents.size(),
                            consumed + lines.back().text.size() +
                                (lines.back().text.size() < LogLineCapacity ? 1 : 0));
        EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), consumed);
        if (end)
            break;
    }
    CloseHandle(file);
    EXPECT_EQ(lines, GetParam().lines);
}

const std::string k260(260, 'x');

INSTANTIATE_TEST_SUITE_P(
    Shapes, LogLineReading,
    ::testing::Values(
        LogShapeCase{"ends with a line feed", "Title\n0C:\\a\n",
                     {{"Title", false}, {"0C:\\a", false}, {"", true}}},
        LogShapeCase{"last record without a line feed", "Title\n0C:\\a\n3Key",
                     {{"Title", false}, {"0C:\\a", false}, {"3Key", true}}},
        LogShapeCase{"carriage returns stay in the line", "Title\r\n0C:\\a\r\n",
                     {{"Title\r", false}, {"0C:\\a\r", false}, {"", true}}},
        LogShapeCase{"a line of exactly 260 characters", "T\n" + k260 + "\n",
                     {{"T", false}, {k260, false}, {"", false}, {"", true}}},
        LogShapeCase{"a line of 261 characters comes back in two pieces", "T\n" + k260 + "y\n",
                     {{"T", false}, {k260, false}, {"y", false}, {"", true}}},
        LogShapeCase{"title only, with its line feed", "Title\n", {{"Title", false}, {"", true}}},
        LogShapeCase{"title only, without a line feed", "Title", {{"Title", true}}},
        LogShapeCase{"empty log", "", {{"", true}}},
        LogShapeCase{"bytes from 0x80 up pass through", "T\n\xE9t\xE9\n", {{"T", false}, {"\xE9t\xE9", false}, {"", true}}}));

}  // namespace
