// Writer side of the uninstall data file. Every append goes straight to the
// file, unbuffered, so a log cut short by an early stop still lists every
// record appended before it.
#include "uninstall/uninstall_log.h"

#include "common/bounded_text.h"
#include "common/setup_globals.h"
#include "payload/output_file.h"

HANDLE UninstallLog = INVALID_HANDLE_VALUE;

int WriteLogText(const char* text)
{
    DWORD written = 0;
    if (!WriteFile(UninstallLog, text, TextLength(text), &written, 0))
        return 0;
    return static_cast<int>(written);
}

void WriteLogLine(const char* text)
{
    WriteLogText(text);
    WriteLogText("\n");
}

// One write per record where the record fits the buffer: the installer logs
// every file, and a write is a system call.
void WriteLogRecord(LogRecordType type, const char* argument)
{
    const char typeText[2] = { static_cast<char>(type), '\0' };
    char record[PathBufferSize + 2];
    if (TextCopy(record, sizeof record, typeText) && TextAppend(record, sizeof record, argument) &&
        TextAppend(record, sizeof record, "\n")) {
        WriteLogText(record);
        return;
    }
    WriteLogText(typeText);
    WriteLogLine(argument);
}

// `count` bytes from `offset`, wherever the file's position is.
static bool ReadsAt(HANDLE file, DWORD offset, char* buffer, DWORD count)
{
    OVERLAPPED at = {};
    at.Offset = offset;
    DWORD got = 0;
    return ReadFile(file, buffer, count, &got, &at) && got == count;
}

// An earlier installation's log in this folder, of the same title and whole
// (its title line first, its last line ended), is kept and appended to: the
// log then names everything this folder's installations put on the machine,
// also when this one stops half-way. Another title's, or a damaged one, is
// replaced. Opened for appending only, every write lands at its end.
static bool AppendToEarlierLog(const char* path, const char* titleLine)
{
    HANDLE file = CreateFileA(path, GENERIC_READ | FILE_APPEND_DATA, 0, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char head[PathBufferSize + 1];
    const DWORD length = TextLength(titleLine);
    const DWORD size = GetFileSize(file, 0);
    char last = 0;
    if (size > length && size != INVALID_FILE_SIZE && ReadsAt(file, 0, head, length + 1) && head[length] == '\n' &&
        TextCopyCount(head, length + 1, head, length) && TextEquals(head, titleLine) &&
        ReadsAt(file, size - 1, &last, 1) && last == '\n') {
        UninstallLog = file;
        return true;
    }
    CloseHandle(file);
    return false;
}

bool CreateUninstallLog(const char* title)
{
    char path[PathBufferSize];
    if (!TextCopy(path, sizeof path, InstallDir) ||
        !TextAppend(path, sizeof path, UNINSTALL_LOG_NAME))
        return false;
    char line[PathBufferSize];
    TextCopyCount(line, sizeof line, title, PathBufferSize - 1);
    if (AppendToEarlierLog(path, line))
        return true;
    UninstallLog = CreateOutputFile(path);
    if (UninstallLog == INVALID_HANDLE_VALUE)
        return false;
    WriteLogLine(line);
    return true;
}

void CloseUninstallLog(void)
{
    if (UninstallLog == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(UninstallLog);
    UninstallLog = INVALID_HANDLE_VALUE;
}
