// Output files and the uninstall data file, in-process on the real file
// system under Wine: what the installer creates, and what the uninstaller's
// line reader makes of logs of every shape.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "installer/setup_globals.h"
#include "payload/output_file.h"
#include "test_installer.h"
#include "uninstall/log_writer.h"
#include "uninstall/uninstall_log.h"

namespace {

using namespace testinstaller;

bool IsFolder(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool OpenByOthers(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    CloseHandle(file);
    return file != INVALID_HANDLE_VALUE;
}

TEST(CreateOutputFile, MakesMissingLevelsWithBlanksAndHoldsTheFileUnshared)
{
    ScratchFolder scratch;
    const std::string path = scratch.path + "\\Level one\\level two\\ three\\file name.txt";
    HANDLE file = CreateOutputFile(path.c_str());
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(OpenByOthers(path));
    CloseHandle(file);
    EXPECT_TRUE(OpenByOthers(path));
}

TEST(CreateOutputFile, FailsWhereAFolderStandsForTheFile)
{
    ScratchFolder scratch;
    ASSERT_TRUE(CreateDirectoryA((scratch.path + "\\x.txt").c_str(), nullptr));
    EXPECT_EQ(CreateOutputFile((scratch.path + "\\x.txt").c_str()), INVALID_HANDLE_VALUE);
}

TEST(CreateOutputFile, CreatesAFileAtTheRootOfADrive)
{
    char temp[MAX_PATH] = {0};
    GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp, 3) + "stubkit-root-" + std::to_string(GetCurrentProcessId());
    HANDLE file = CreateOutputFile(path.c_str());
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    CloseHandle(file);
    EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST(CreateFolders, MakesEveryLevelUpToTheLastBackslashOnly)
{
    ScratchFolder scratch;
    CreateFolders((scratch.path + "\\p\\q r\\s\\t").c_str());
    EXPECT_TRUE(IsFolder(scratch.path + "\\p\\q r\\s"));
    EXPECT_FALSE(IsFolder(scratch.path + "\\p\\q r\\s\\t"));
    CreateFolders((scratch.path + "\\p\\q r\\s\\t\\").c_str());
    EXPECT_TRUE(IsFolder(scratch.path + "\\p\\q r\\s\\t"));
}

class UninstallLogWriter : public ::testing::Test {
protected:
    void SetUp() override { std::strcpy(InstallDir, (scratch_.path + "\\new folder\\deeper\\").c_str()); }
    void TearDown() override { CloseUninstallLog(); }
    std::string LogPath() const { return std::string(InstallDir) + "davirado.dat"; }
    ScratchFolder scratch_;
};

TEST_F(UninstallLogWriter, ReplacesAnEarlierLogAndWritesEachRecordAtOnceUnshared)
{
    ASSERT_TRUE(CreateUninstallLog("Earlier"));
    WriteLogRecord(FileRecordType, "C:\\old");
    CloseUninstallLog();
    ASSERT_TRUE(CreateUninstallLog("Korvan Suite 3"));
    WriteLogRecord(FileRecordType, "C:\\Korvan\\bin\\korvan.exe");
    WriteLogRecord(StartMenuShortcutRecordType, "C:\\Menu\\Korvan.lnk");
    WriteLogRecord(DesktopShortcutRecordType, "C:\\Desk\\Korvan.lnk");
    WriteLogRecord(RegistryKeyRecordType, "Software\\Korvan");
    const std::string expected = "Korvan Suite 3\n0C:\\Korvan\\bin\\korvan.exe\n1C:\\Menu\\Korvan.lnk\n"
                                 "2C:\\Desk\\Korvan.lnk\n3Software\\Korvan\n";
    EXPECT_EQ(GetFileSize(UninstallLog, nullptr), expected.size()) << "bytes held back";
    EXPECT_FALSE(OpenByOthers(LogPath()));
    EXPECT_EQ(WriteLogText("four"), 4);
    CloseUninstallLog();
    EXPECT_EQ(WriteLogText("four"), 0) << "without an open log";
    std::string contents;
    ASSERT_TRUE(ReadFileBytes(LogPath(), &contents));
    EXPECT_EQ(contents, expected + "four");
}

TEST_F(UninstallLogWriter, KeepsAtMost259CharactersOfTheTitle)
{
    ASSERT_TRUE(CreateUninstallLog(std::string(300, 't').c_str()));
    CloseUninstallLog();
    std::string contents;
    ASSERT_TRUE(ReadFileBytes(LogPath(), &contents));
    EXPECT_EQ(contents, std::string(259, 't') + "\n");
}

TEST_F(UninstallLogWriter, FailsWhenAFolderStandsForTheLog)
{
    CreateFolders(LogPath().c_str());
    CreateDirectoryA(LogPath().c_str(), nullptr);
    EXPECT_FALSE(CreateUninstallLog("T"));
    EXPECT_EQ(UninstallLog, INVALID_HANDLE_VALUE);
}

struct LogShape {
    const char* label;
    std::string contents;
    std::vector<std::pair<std::string, bool>> lines;   // text and end flag of every call up to the end
};

void PrintTo(const LogShape& shape, std::ostream* out) { *out << shape.label; }

class ReadLogLineOn : public ::testing::TestWithParam<LogShape> {};

TEST_P(ReadLogLineOn, ReturnsEachLineAndTheEndFlagAtTheRightCallWithoutReadingAhead)
{
    ScratchFolder scratch;
    const std::string path = scratch.path + "\\davirado.dat", &contents = GetParam().contents;
    WriteFileBytes(path, contents);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    std::vector<std::pair<std::string, bool>> lines;
    for (size_t consumed = 0; lines.size() < 20 && (lines.empty() || !lines.back().second);) {
        char buffer[LogLineBufferSize + 1];
        buffer[LogLineBufferSize] = '#';
        const bool end = ReadLogLine(buffer, LogLineCapacity, file);
        EXPECT_EQ(buffer[LogLineBufferSize], '#') << "wrote past capacity + 1";
        lines.emplace_back(buffer, end);
        consumed = std::min(contents.size(), consumed + std::strlen(buffer) + (std::strlen(buffer) < size_t(LogLineCapacity)));
        EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), consumed);
    }
    CloseHandle(file);
    EXPECT_EQ(lines, GetParam().lines);
}

const std::string k260(260, 'x');

INSTANTIATE_TEST_SUITE_P(
    Shapes, ReadLogLineOn,
    ::testing::Values(
        LogShape{"no final line feed, bytes from 0x80 up", "Title\n0C:\\caf\xE9\n3Key",
                 {{"Title", false}, {"0C:\\caf\xE9", false}, {"3Key", true}}},
        LogShape{"carriage returns stay in the line", "Title\r\n0C:\\a\r\n",
                 {{"Title\r", false}, {"0C:\\a\r", false}, {"", true}}},
        LogShape{"exactly 260 characters", "T\n" + k260 + "\n", {{"T", false}, {k260, false}, {"", false}, {"", true}}},
        LogShape{"261 characters in two pieces", "T\n" + k260 + "y\n",
                 {{"T", false}, {k260, false}, {"y", false}, {"", true}}},
        LogShape{"title only", "Title\n", {{"Title", false}, {"", true}}},
        LogShape{"empty", "", {{"", true}}}));

}  // namespace
