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

bool CreateUninstallLog(const char* title)
{
    char path[PathBufferSize];
    if (!TextCopy(path, sizeof path, InstallDir) ||
        !TextAppend(path, sizeof path, UNINSTALL_LOG_NAME))
        return false;
    UninstallLog = CreateOutputFile(path);
    if (UninstallLog == INVALID_HANDLE_VALUE)
        return false;
    char line[PathBufferSize];
    TextCopyCount(line, sizeof line, title, PathBufferSize - 1);
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
