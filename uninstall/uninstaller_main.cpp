// Process entry and the two stages of the uninstaller.
#include <windows.h>
#include <stdlib.h>

#include "common/argument_vector.h"
#include "common/bounded_text.h"
#include "common/uninstall_log.h"
#include "uninstall/uninstaller.h"

enum {
    DeleteProgramAttempts = 10,
    DeleteProgramPauseMs = 1000,
    ExitDone = 0,
    ExitDeclined = 1,
    ExitNoLog = 2
};

static const char TempCopyName[] = "duvozedad.exe";
static const char UninstallCaptionStart[] = "Uninstall ";
enum { UninstallCaptionStartLength = sizeof UninstallCaptionStart - 1 };
static const char ContinueQuestion[] = " will be uninstalled. Do you wish to continue?";

// Both quoted paths of the copy's command line, a blank and the NUL.
enum { CopyCommandLineSize = 2 * UninstallPathSize + 6 };

// An empty value counts as unset: it would put the copy into the root of the
// current drive.
static const char* TempFolder()
{
    const char* folder = getenv("TEMP");
    if (!folder || *folder == '\0')
        folder = getenv("TMP");
    return folder && *folder != '\0' ? folder : 0;
}

static bool ComposeTempCopyPath(char* copyPath, const char* folder)
{
    unsigned length = TextLength(folder);
    TextCopy(copyPath, UninstallPathSize, folder);
    if (length == 0 || folder[length - 1] != '\\')
        TextAppend(copyPath, UninstallPathSize, "\\");
    return TextAppend(copyPath, UninstallPathSize, TempCopyName);
}

// Both paths quoted, so blanks in either do not split them into more arguments.
static bool ComposeCopyCommandLine(char* commandLine, const char* copyPath, const char* ownPath)
{
    TextCopy(commandLine, CopyCommandLineSize, "\"");
    TextAppend(commandLine, CopyCommandLineSize, copyPath);
    TextAppend(commandLine, CopyCommandLineSize, "\" \"");
    TextAppend(commandLine, CopyCommandLineSize, ownPath);
    return TextAppend(commandLine, CopyCommandLineSize, "\"");
}

static bool StartTempCopy(char* commandLine)
{
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    startup.dwFlags |= STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWDEFAULT;
    PROCESS_INFORMATION started;
    return CreateProcessA(0, commandLine, 0, 0, FALSE, CREATE_NEW_CONSOLE, 0, 0, &startup, &started);
}

// A running program's file cannot be deleted, so the work is handed to a copy
// in the TEMP folder. False when no copy could be made or started: then the
// work is done in place.
static bool RelaunchFromTemp(const char* ownPath)
{
    const char* folder = TempFolder();
    if (!folder)
        return false;
    char copyPath[UninstallPathSize];
    char commandLine[CopyCommandLineSize];
    if (!ComposeTempCopyPath(copyPath, folder) || !CopyFileA(ownPath, copyPath, FALSE) ||
        !ComposeCopyCommandLine(commandLine, copyPath, ownPath))
        return false;
    return StartTempCopy(commandLine);
}

// The data file lies beside the installed program. _makepath does not check
// its buffer, so the buffer holds whatever the pieces of a 259-character path
// can become; a result too long for a path simply fails to open.
enum { LogPathSize = 2 * UninstallPathSize };

static void ComposeLogPath(char* logPath, const char* installedPath)
{
    char path[UninstallPathSize];
    char drive[_MAX_DRIVE];
    char folder[UninstallPathSize];
    logPath[0] = '\0';   // a cut path would name another folder: open nothing
    if (!TextCopy(path, sizeof path, installedPath))
        return;
    _splitpath(path, drive, folder, 0, 0);
    _makepath(logPath, drive, folder, UNINSTALL_LOG_NAME, 0);
}

static HANDLE OpenLog(const char* logPath)
{
    return CreateFileA(logPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, 0);
}

static bool ConfirmUninstall(const char* title, const char* caption)
{
    char question[LogLineBufferSize + sizeof ContinueQuestion];
    TextCopy(question, sizeof question, title);
    TextAppend(question, sizeof question, ContinueQuestion);
    return MessageBoxA(0, question, caption, MB_YESNO) == IDYES;
}

static void CarryOutRecord(const char* line)
{
    switch (line[0]) {
    case FileRecordType:
    case StartMenuShortcutRecordType:
    case DesktopShortcutRecordType:
        DeleteFileAndEmptyParents(line + 1);
        break;
    case RegistryKeyRecordType:
        if (IsUninstallKeyPath(line + 1))
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, line + 1);
        break;
    }
}

// The line that comes back with the end flag is carried out too: it is the
// last record when the file does not end with a line feed.
static void CarryOutRecords(HANDLE log)
{
    char line[LogLineBufferSize];
    bool atEnd;
    do {
        atEnd = ReadLogLine(line, LogLineCapacity, log);
        CarryOutRecord(line);
    } while (!atEnd);
}

// The first stage may still be running from this file; the pauses give it
// time to end. Run in place, every try fails and the file stays.
static void DeleteInstalledProgram(const char* path)
{
    for (int attempt = 1; !DeleteFileA(path) && attempt < DeleteProgramAttempts; ++attempt)
        Sleep(DeleteProgramPauseMs);
}

static int RemoveInstallation(const char* installedPath)
{
    char logPath[LogPathSize];
    ComposeLogPath(logPath, installedPath);
    HANDLE log = OpenLog(logPath);
    if (log == INVALID_HANDLE_VALUE) {
        MessageBoxA(0, "Error: Cannot open uninstall data file.", "Uninstall", MB_OK);
        return ExitNoLog;
    }
    // The title is read straight into the caption, behind its fixed start.
    char caption[UninstallCaptionStartLength + LogLineBufferSize];
    TextCopy(caption, sizeof caption, UninstallCaptionStart);
    char* title = caption + UninstallCaptionStartLength;
    bool titleIsLastLine = ReadLogLine(title, LogLineCapacity, log);
    if (!ConfirmUninstall(title, caption))
        return ExitDeclined;
    if (!titleIsLastLine)
        CarryOutRecords(log);
    DeleteInstalledProgram(installedPath);
    CloseHandle(log);
    DeleteFileAndEmptyParents(logPath);
    MessageBoxA(0, "Uninstall Complete.", caption, MB_OK);
    return ExitDone;
}

int Uninstaller(int count, char** arguments)
{
    if (count < 1)
        return ExitNoLog;
    if (count > 1)
        return RemoveInstallation(arguments[1]);
    if (RelaunchFromTemp(arguments[0]))
        return ExitDone;
    return RemoveInstallation(arguments[0]);
}

// The copy runs from TEMP, where anybody may have left a DLL: later loads come
// from the system folder only, where the system offers that. (The installer's
// fuller fallback for older systems does not fit the uninstaller's size.)
static void LoadLaterDllsFromSystemFolderOnly()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesCall)(DWORD flags);
    SetDefaultDllDirectoriesCall restrictSearch = reinterpret_cast<SetDefaultDllDirectoriesCall>(
        GetProcAddress(GetModuleHandleA("kernel32"), "SetDefaultDllDirectories"));
    if (restrictSearch)
        restrictSearch(0x00000800);   // LOAD_LIBRARY_SEARCH_SYSTEM32
}

extern "C" void __stdcall UninstallerEntry()
{
    LoadLaterDllsFromSystemFolderOnly();
    int count;
    char** arguments;
    GetArgumentVector(&count, &arguments);
    ExitProcess(Uninstaller(count, arguments));
}
