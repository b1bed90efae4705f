// In-process under Wine: output files, the uninstall data file and the
// uninstaller's line reader on logs of every shape; ReadBytes keeps its
// contract whether served from its buffer or one ReadFile per call.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "common/setup_globals.h"
#include "payload/output_file.h"
#include "payload/payload_reader.h"
#include "test_paths.h"
#include "uninstall/uninstall_log.h"

namespace {

using Bytes = std::string;
using testpaths::ScratchFolder;
using testpaths::WriteBytes;

bool OpenByOthers(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    CloseHandle(file);
    return file != INVALID_HANDLE_VALUE;
}

// Where a folder stands in a file's way is judged end to end, on the real installer.
TEST(CreateOutputFile, MakesMissingLevelsHoldsTheFileUnsharedAndWritesAtADriveRoot)
{
    ScratchFolder scratch;
    const std::string path = scratch.path + "\\Level one\\level two\\ three\\file name.txt";
    HANDLE file = CreateOutputFile(path.c_str());
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(OpenByOthers(path));
    CloseHandle(file);
    EXPECT_TRUE(OpenByOthers(path));
    const std::string atRoot = scratch.path.substr(0, 3) + "stubkit-root-" + std::to_string(GetCurrentProcessId());
    CloseHandle(file = CreateOutputFile(atRoot.c_str()));
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << atRoot;
    EXPECT_TRUE(DeleteFileA(atRoot.c_str()));
}

// The title is one character over what is kept; the log's folders do not exist yet.
TEST(UninstallLogWriter, KeepsAtMost259CharactersOfTheTitleAndWritesEachRecordAtOnceUnshared)
{
    ScratchFolder scratch;
    std::strcpy(InstallDir, (scratch.path + "\\new folder\\deeper\\").c_str());
    ASSERT_TRUE(CreateUninstallLog(std::string(260, 't').c_str()));
    WriteLogRecord(FileRecordType, "C:\\Korvan\\bin\\korvan.exe");
    WriteLogRecord(StartMenuShortcutRecordType, "C:\\Menu\\Korvan.lnk");
    WriteLogRecord(DesktopShortcutRecordType, "C:\\Desk\\Korvan.lnk");
    WriteLogRecord(RegistryKeyRecordType, "Software\\Korvan");
    const Bytes expected = std::string(259, 't') + "\n0C:\\Korvan\\bin\\korvan.exe\n1C:\\Menu\\Korvan.lnk\n"
                                                  "2C:\\Desk\\Korvan.lnk\n3Software\\Korvan\n";
    EXPECT_EQ(GetFileSize(UninstallLog, nullptr), expected.size()) << "bytes held back";
    EXPECT_FALSE(OpenByOthers(std::string(InstallDir) + "davirado.dat"));
    EXPECT_EQ(WriteLogText("four"), 4);
    CloseUninstallLog();
    EXPECT_EQ(WriteLogText("four"), 0) << "without an open log";
    EXPECT_EQ(testpaths::ReadBytes(std::string(InstallDir) + "davirado.dat"), expected + "four");
}

struct LogShape {
    const char* label;
    Bytes contents;
    std::vector<std::string> lines;   // of every call; only the last one reports the end
};

void PrintTo(const LogShape& shape, std::ostream* out) { *out << shape.label; }

class ReadLogLineOn : public ::testing::TestWithParam<LogShape> {};

TEST_P(ReadLogLineOn, ReturnsEachLineAndTheEndFlagAtTheRightCallWithoutReadingAhead)
{
    ScratchFolder scratch;
    const std::string path = scratch.path + "\\davirado.dat", &contents = GetParam().contents;
    ASSERT_TRUE(WriteBytes(path, contents));
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    std::vector<std::string> lines;
    for (size_t consumed = 0, end = 0; !end && lines.size() < 20;) {
        char buffer[LogLineBufferSize + 1];
        buffer[LogLineBufferSize] = '#';
        end = ReadLogLine(buffer, LogLineCapacity, file);
        EXPECT_EQ(buffer[LogLineBufferSize], '#') << "wrote past capacity + 1";
        lines.push_back(buffer);
        consumed = std::min(contents.size(), consumed + lines.back().size() + (lines.back().size() < 260));
        EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), consumed);
    }
    CloseHandle(file);
    EXPECT_EQ(lines, GetParam().lines);
}

const Bytes k260(260, 'x');

INSTANTIATE_TEST_SUITE_P(
    Shapes, ReadLogLineOn,
    ::testing::Values(LogShape{"no final line feed, bytes from 0x80 up", "T\n0C:\xE9\n3Key", {"T", "0C:\xE9", "3Key"}},
                      LogShape{"CR LF, the CR kept", "Title\r\n0C:\\a\r\n", {"Title\r", "0C:\\a\r", ""}},
                      LogShape{"exactly 260 characters", "T\n" + k260 + "\n", {"T", k260, "", ""}},
                      LogShape{"261 characters in two pieces", "T\n" + k260 + "y\n", {"T", k260, "y", ""}},
                      LogShape{"title only", "Title\n", {"Title", ""}}, LogShape{"empty", "", {""}}));

struct ReadPlan {
    const char* label;
    size_t fileSize;
    std::vector<int> reads;   // sizes asked, in order
};

void PrintTo(const ReadPlan& plan, std::ostream* out) { *out << plan.label; }

class InstallerFileRead : public ::testing::Test {
protected:
    void TearDown() override
    {
        CloseHandle(InstallerFile);
        InstallerFile = INVALID_HANDLE_VALUE;
        ReadBytesUnbuffered = false;
    }
    ScratchFolder scratch_;
};

class ReadBytesContract : public InstallerFileRead, public ::testing::WithParamInterface<std::tuple<ReadPlan, bool>> {};

TEST_P(ReadBytesContract, DeliversTheFileInOrderAndZeroAtItsEnd)
{
    Bytes contents(std::get<0>(GetParam()).fileSize, 0);
    for (size_t i = 0; i < contents.size(); ++i)   // no period a misplaced read could hide in
        contents[i] = static_cast<char>((i * 2654435761u) >> 24);
    ASSERT_TRUE(WriteBytes(scratch_.path + "\\input.bin", contents));
    ASSERT_TRUE(OpenInstallerFile((scratch_.path + "\\input.bin").c_str()));
    ReadBytesUnbuffered = std::get<1>(GetParam());
    size_t position = 0;
    for (int asked : std::get<0>(GetParam()).reads) {
        Bytes buffer(asked + 1, '\xEE');
        const int got = ReadBytes(reinterpret_cast<unsigned char*>(&buffer[0]), asked);
        ASSERT_EQ(got, static_cast<int>(std::min<size_t>(asked, contents.size() - position))) << "at " << position;
        EXPECT_EQ(buffer.substr(0, got), contents.substr(position, got));
        EXPECT_EQ(buffer[asked], '\xEE') << "wrote past the bytes asked for";
        position += got;
    }
    unsigned char byte = 0;
    EXPECT_EQ(ReadBytes(&byte, 1), 0);
    EXPECT_EQ(ReadBytes(&byte, 1), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Plans, ReadBytesContract,
    ::testing::Combine(
        ::testing::Values(
            ReadPlan{"byte by byte across two refills", 2 * ReadBufferSize + 3,
                     std::vector<int>(2 * ReadBufferSize + 3, 1)},
            ReadPlan{"large reads around single bytes", 300000, {1, 4, 65530, 1, 70000, 3, 131072, 1, 40000}},
            ReadPlan{"a read running past the end", 1000, {10, 5000, 1}},
            ReadPlan{"an empty file", 0, {1, 4, 100}},
            ReadPlan{"reads of nothing", 100, {0, 1, 0, 99}}),
        ::testing::Bool()));

TEST_F(InstallerFileRead, ReadU32ReadsLittleEndianAndLeavesMissingBytesZero)
{
    WriteBytes(scratch_.path + "\\u32.bin", "\x78\x56\x34\x12\xAB\xCD");
    ASSERT_TRUE(OpenInstallerFile((scratch_.path + "\\u32.bin").c_str()));
    EXPECT_EQ(ReadU32(), 0x12345678u);
    EXPECT_EQ(ReadU32(), 0xCDABu);
    EXPECT_EQ(ReadU32(), 0u);
}

}  // namespace
