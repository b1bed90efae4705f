// Process entry and the two stages of the uninstaller.
#include <windows.h>
#include <objbase.h>

#include "common/argument_vector.h"
#include "common/bounded_text.h"
#include "uninstall/uninstall_log.h"
#include "uninstall/uninstaller.h"

enum {
    DeleteProgramAttempts = 10,
    DeleteProgramPauseMs = 1000,
    ExitDone = 0,
    ExitDeclined = 1,
    ExitNoLog = 2,
    ExitAlreadyRunning = 3
};

static const char UninstallCaptionStart[] = "Uninstall ";
enum { UninstallCaptionStartLength = sizeof UninstallCaptionStart - 1 };
static const char ContinueQuestion[] = " will be uninstalled. Do you wish to continue?";

// The first stage works with wide names: the TEMP folder (below the user's
// profile) and the program's own path may hold characters the code page
// cannot, and the narrow names would then name other files or none.
enum { CopyCommandLineSize = 2 * UninstallPathSize + 6 };   // both quoted paths, a blank, the NUL

// Appends `text` at `*length`; false when it does not fit.
static bool AppendWide(wchar_t* buffer, unsigned capacity, unsigned* length, const wchar_t* text)
{
    for (; *text; ++text) {
        if (*length + 1 >= capacity)
            return false;
        buffer[(*length)++] = *text;
    }
    buffer[*length] = 0;
    return true;
}

// TEMP, else TMP, a backslash unless the value ends in one, and the copy's
// name; returns the path's length, 0 when there is no such path within
// UninstallPathSize. An empty value counts as unset: it would put the copy
// into the root of the current drive.
static unsigned ComposeTempCopyPath(wchar_t* copyPath)
{
    unsigned length = GetEnvironmentVariableW(L"TEMP", copyPath, UninstallPathSize);
    if (length == 0)
        length = GetEnvironmentVariableW(L"TMP", copyPath, UninstallPathSize);
    if (length == 0 || length >= UninstallPathSize)
        return 0;
    const wchar_t* name = L"\\duvozedad.exe";
    return AppendWide(copyPath, UninstallPathSize, &length, name + (copyPath[length - 1] == '\\')) ? length : 0;
}

// Writes the copy so that no other program can change, delete or rename it
// before it has started: the writing handle shares reading only; before it
// is closed, an image section of the file keeps every writer out (as it does
// for a running program) and a reading handle that does not share deletion
// keeps it in place. Those stay open until the process ends. A stale copy
// that cannot be removed, a copy that cannot be written, and a file that is
// no program all end in false: the work is then done in place, so the
// program's own file is read with deletion shared.
static bool WriteTempCopy(const wchar_t* ownPath, const wchar_t* copyPath)
{
    DeleteFileW(copyPath);
    HANDLE copy = CreateFileW(copyPath, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE, FILE_SHARE_READ, 0,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, 0);
    if (copy == INVALID_HANDLE_VALUE)
        return false;
    // Opened only once the copy exists: when it cannot be made, nothing holds
    // the program's own file, which the work in place then deletes.
    HANDLE source = CreateFileW(ownPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, 0, OPEN_EXISTING, 0, 0);
    if (source == INVALID_HANDLE_VALUE)
        return false;
    char buffer[1024];
    DWORD count;
    bool copied;
    while ((copied = ReadFile(source, buffer, sizeof buffer, &count, 0)) && count != 0 &&
           (copied = WriteFile(copy, buffer, count, &count, 0)))
        ;
    CloseHandle(source);
    if (!copied || !CreateFileMappingW(copy, 0, PAGE_READONLY | SEC_IMAGE, 0, 0, 0) ||
        CreateFileW(copyPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, OPEN_EXISTING, 0, 0) ==
            INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(copy);
    return true;
}

// A running program's file cannot be deleted, so the work is handed to a copy
// in the TEMP folder, started with argument 0 quoted as its argument. False
// when no copy could be made or started: then the work is done in place. The
// copy's path is composed right behind the command line's opening quote.
static bool RelaunchFromTemp()
{
    int count = 0;
    wchar_t** arguments = 0;
    GetWideArgumentVector(&count, &arguments);
    wchar_t commandLine[CopyCommandLineSize];
    commandLine[0] = '"';
    wchar_t* copyPath = commandLine + 1;
    unsigned length = ComposeTempCopyPath(copyPath);
    if (count < 1 || length == 0 || !WriteTempCopy(arguments[0], copyPath))
        return false;
    ++length;
    if (!AppendWide(commandLine, CopyCommandLineSize, &length, L"\" \"") ||
        !AppendWide(commandLine, CopyCommandLineSize, &length, arguments[0]) ||
        !AppendWide(commandLine, CopyCommandLineSize, &length, L"\""))
        return false;
    // The copy shows its boxes as a program started afresh would. Of the
    // handles only the one made inheritable, the running uninstaller's
    // object, passes to it.
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWDEFAULT;
    PROCESS_INFORMATION started;
    return CreateProcessW(0, commandLine, 0, 0, TRUE, CREATE_NEW_CONSOLE, 0, 0, &startup, &started);
}

// The data file lies beside the installed program, in the folder its path
// names (none for a bare name).
enum { LogPathSize = UninstallPathSize + sizeof UNINSTALL_LOG_NAME };

static void ComposeLogPath(char* logPath, const char* installedPath)
{
    if (!TextCopy(logPath, UninstallPathSize, installedPath)) {
        logPath[0] = '\0';   // a cut path would name another folder: open nothing
        return;
    }
    *FolderPartEnd(logPath) = '\0';
    TextAppend(logPath, LogPathSize, UNINSTALL_LOG_NAME);
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

// What this installation's records are checked against: the installed
// program's absolute path, and its folder with the closing backslash.
struct OwnPlace {
    char program[UninstallPathSize];
    char folder[UninstallPathSize];
};

static void CarryOutRecord(const char* line, const OwnPlace& own)
{
    switch (line[0]) {
    case StartMenuShortcutRecordType:
    case DesktopShortcutRecordType:
        if (!LinkTargetLiesIn(line + 1, own.folder))
            break;
        // fall through
    case FileRecordType:
        DeleteFileAndEmptyParents(line + 1);
        break;
    case RegistryKeyRecordType:
        if (IsUninstallKeyPath(line + 1) && KeyNamesThisUninstaller(line + 1, own.program))
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, line + 1);
        break;
    }
}

// The line that comes back with the end flag is carried out too: it is the
// last record when the file does not end with a line feed.
static void CarryOutRecords(HANDLE log, const char* installedPath)
{
    OwnPlace own;
    DWORD length = GetFullPathNameA(installedPath, sizeof own.program, own.program, 0);
    if (length == 0 || length >= sizeof own.program)
        own.program[0] = '?', own.program[1] = '\0';   // no path starts so: nothing is this installation's
    TextCopy(own.folder, sizeof own.folder, own.program);
    *FolderPartEnd(own.folder) = '\0';
    CoInitialize(0);
    char line[LogLineBufferSize];
    bool atEnd;
    do {
        atEnd = ReadLogLine(line, LogLineCapacity, log);
        CarryOutRecord(line, own);
    } while (!atEnd);
}

// The first stage may still be running from this file; the pauses give it
// time to end. Run in place, every try fails and the file stays.
static void DeleteInstalledProgram(const char* path)
{
    for (int attempt = 1; !DeleteFileA(path) && attempt < DeleteProgramAttempts; ++attempt)
        Sleep(DeleteProgramPauseMs);
}

// Two uninstallers at work on one installation would each carry out the
// records and leave the program file to the other. The first stage makes
// the object and the copy inherits it, so it lives until the copy ends; a
// second stage started by hand is taken to know what it does.
static bool AnotherUninstallerIsRunning()
{
    SECURITY_ATTRIBUTES inherited;
    inherited.nLength = sizeof inherited;
    inherited.lpSecurityDescriptor = 0;
    inherited.bInheritHandle = TRUE;
    CreateMutexA(&inherited, FALSE, UNINSTALL_LOG_NAME);   // a name no other program uses
    return GetLastError() == ERROR_ALREADY_EXISTS;
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
        CarryOutRecords(log, installedPath);
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
    if (AnotherUninstallerIsRunning()) {
        MessageBoxA(0, "Uninstall is already running.", "Uninstall", MB_OK);
        return ExitAlreadyRunning;
    }
    if (RelaunchFromTemp())
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
