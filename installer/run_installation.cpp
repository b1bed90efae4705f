// The installation sequence: folder choice, uninstaller and data file,
// payload, shortcuts, uninstall entry, run-after program, completion.
//
// Every path is composed in a fixed buffer; a path that does not fit is never
// used cut short. A file that cannot be created then fails like any other, and
// a shortcut or run-after program is skipped like one that cannot be made.
#include "installer/run_installation.h"

#include "common/bounded_text.h"
#include "folderdlg/dir_select_dialog.h"
#include "common/config_block.h"
#include "common/setup_globals.h"
#include "installer/uninstaller_image.h"
#include "payload/crc32.h"
#include "payload/name_rules.h"
#include "payload/output_file.h"
#include "payload/payload_reader.h"
#include "payload/stream_decoder.h"
#include "shell/shortcuts.h"
#include "uninstall/uninstall_log.h"

static const char CurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
static const char UninstallKeyPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
static const char UninstallerName[] = "davirado.exe";

enum {
    ChosenFolderCapacity = 259,
    // A path of 259 characters with a quote on each side.
    QuotedPathBufferSize = PathBufferSize + 2
};

// A configuration text as the installer reads it: up to its first NUL. A slot
// with no NUL among its 260 text bytes holds no usable text.
static bool ConfigTextIsUsable(const char* field)
{
    for (unsigned i = 0; i < ConfigTextCapacity; ++i)
        if (field[i] == '\0')
            return true;
    return false;
}

static bool ComposePath(char* buffer, unsigned capacity, const char* first, const char* second)
{
    return ConfigTextIsUsable(second) && TextCopy(buffer, capacity, first) &&
           TextAppend(buffer, capacity, second);
}

void ReadCurrentVersionValue(const char* valueName, char* buffer)
{
    buffer[0] = '\0';
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CurrentVersionKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    DWORD size = ChosenFolderCapacity;
    // A value too long for the buffer leaves nothing usable; the type is not
    // looked at, and a value stored without its NUL is terminated here.
    if (RegQueryValueExA(key, valueName, 0, 0, reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS)
        buffer[size < static_cast<DWORD>(ChosenFolderCapacity) ? size : static_cast<DWORD>(ChosenFolderCapacity)] = '\0';
    else
        buffer[0] = '\0';
    RegCloseKey(key);
}

static void ProposeFolder(char* folder)
{
    ReadCurrentVersionValue("ProgramFilesDir", folder);
    if (folder[0] == '\0' && GetCurrentDirectoryA(ChosenFolderCapacity, folder) >= ChosenFolderCapacity)
        folder[0] = '\0';
}

// The chosen folder as the system resolves it: a relative one below the
// installer's current folder, '/' a separator as '\\' is, "." and ".."
// stepped. Everything written and registered then names it absolutely, so
// the uninstaller started from the list of installed programs finds it.
// False when the full path with its closing backslash does not fit.
static bool SetInstallDir(const char* chosen)
{
    DWORD length = GetFullPathNameA(chosen, sizeof InstallDir, InstallDir, 0);
    if (length == 0 || length >= sizeof InstallDir)
        return false;
    return InstallDir[length - 1] == '\\' || TextAppend(InstallDir, sizeof InstallDir, "\\");
}

// The carried image is decoded straight into davirado.exe; the decoder runs
// here before the payload's decoding, never beside it.
static HANDLE uninstaller_file;
static uint32_t uninstaller_size;
static uint32_t uninstaller_left;
static bool uninstaller_written;
static bool uninstaller_input_taken;

static int FillFromCarriedImage(const unsigned char** bytes)
{
    if (uninstaller_input_taken)
        return 0;
    uninstaller_input_taken = true;
    *bytes = UninstallerPacked + 4;
    return static_cast<int>(UninstallerPackedSize - 4);
}

// A last match may run past the image's end: only its length is written.
static int WriteUninstallerBytes(const unsigned char* bytes, int length)
{
    DWORD count = static_cast<uint32_t>(length) < uninstaller_left ? static_cast<DWORD>(length) : uninstaller_left;
    DWORD written = 0;
    if (!WriteFile(uninstaller_file, bytes, count, &written, 0) || written != count)
        uninstaller_written = false;
    uninstaller_left -= count;
    return length;
}

static bool WriteUninstallerProgram(void)
{
    char path[PathBufferSize];
    if (!ComposePath(path, sizeof path, InstallDir, UninstallerName))
        return false;
    uninstaller_file = CreateOutputFile(path);
    if (uninstaller_file == INVALID_HANDLE_VALUE)
        return false;
    const unsigned char* length = UninstallerPacked;
    uninstaller_left = length[0] | (length[1] << 8) | (length[2] << 16) | (static_cast<uint32_t>(length[3]) << 24);
    uninstaller_size = uninstaller_left;
    uninstaller_written = true;
    uninstaller_input_taken = false;
    DecodeStreamBuffered(FillFromCarriedImage, WriteUninstallerBytes, uninstaller_left);
    CloseHandle(uninstaller_file);
    return uninstaller_written && uninstaller_left == 0;
}

static void CreateStartMenuShortcuts(void)
{
    int rows = CountShortcutRows(Config.StartMenuShortcuts);
    for (int row = 0; row < rows; ++row) {
        const ShortcutEntry& entry = Config.StartMenuShortcuts[row];
        char target[PathBufferSize];
        char linkPath[PathBufferSize];
        if (ComposePath(target, sizeof target, InstallDir, entry.TargetFile) &&
            ComposePath(linkPath, sizeof linkPath, Config.ProgramGroup, "\\") &&
            ConfigTextIsUsable(entry.LinkName) && TextAppend(linkPath, sizeof linkPath, entry.LinkName))
            CreateProgramsShortcut(0, target, linkPath);
    }
}

static void CreateDesktopShortcuts(void)
{
    int rows = CountShortcutRows(Config.DesktopShortcuts);
    for (int row = 0; row < rows; ++row) {
        const ShortcutEntry& entry = Config.DesktopShortcuts[row];
        char target[PathBufferSize];
        if (ComposePath(target, sizeof target, InstallDir, entry.TargetFile) &&
            ConfigTextIsUsable(entry.LinkName))
            CreateDesktopShortcut(SetupWindow, target, 0, entry.LinkName);
    }
}

static void AskForDesktopShortcuts(void)
{
    if (MessageBoxA(SetupWindow, "Do you wish to create desktop shortcut icons?", SetupCaption,
                    MB_YESNO) == IDYES)
        CreateDesktopShortcuts();
}

static bool IsExistingFile(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The program is the longest leading part of RunAfterInstall, ending at a
// blank or at its end, that names an existing file under InstallDir by a name
// the payload could hold (never one that climbs out of it). Quoting
// it keeps the system from starting "C:\Program.exe" for a folder with blanks;
// what follows stays as the arguments, as written.
// Returns the length of that leading part, with the program's full path in
// `program`; 0 when no part names one.
static unsigned FindExistingProgram(char* program, const char* runAfter)
{
    unsigned base = TextLength(InstallDir);
    for (unsigned end = TextLength(runAfter); end > 0; --end) {
        if (runAfter[end] != ' ' && runAfter[end] != '\0')
            continue;
        TextCopy(program, PathBufferSize, InstallDir);
        if (JudgeTableName(runAfter, end, &SystemLeadBytes) == NameInstallable &&
            TextCopyCount(program + base, PathBufferSize - base, runAfter, end) && IsExistingFile(program))
            return end;
    }
    return 0;
}

static bool QuoteExistingProgram(char* command, unsigned capacity, const char* runAfter)
{
    char program[PathBufferSize];
    unsigned end = FindExistingProgram(program, runAfter);
    return end != 0 && TextCopy(command, capacity, "\"") && TextAppend(command, capacity, program) &&
           TextAppend(command, capacity, "\"") && TextAppend(command, capacity, runAfter + end);
}

static void SetTextValue(HKEY key, const char* name, const char* text)
{
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), TextLength(text) + 1);
}

static void SetNumberValue(HKEY key, const char* name, DWORD number)
{
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
}

// The list of installed programs shows the run-after program's icon, else
// that of the first Start-menu target that is a program, else the
// uninstaller's.
static void ComposeDisplayIcon(char* icon)
{
    if (ConfigTextIsUsable(Config.RunAfterInstall) && Config.RunAfterInstall[0] != '\0' &&
        FindExistingProgram(icon, Config.RunAfterInstall) != 0)
        return;
    int rows = CountShortcutRows(Config.StartMenuShortcuts);
    for (int row = 0; row < rows; ++row)
        if (ComposePath(icon, PathBufferSize, InstallDir, Config.StartMenuShortcuts[row].TargetFile) &&
            TextEndsWithIgnoringCase(icon, ".exe") && IsExistingFile(icon))
            return;
    ComposePath(icon, PathBufferSize, InstallDir, UninstallerName);
}

// KiB of the payload and the installer's own two files, rounded up.
static DWORD EstimatedSizeInKiB(void)
{
    uint64_t bytes = static_cast<uint64_t>(total_size) + uninstaller_size + GetFileSize(UninstallLog, 0);
    return static_cast<DWORD>((bytes + 1023) / 1024);
}

// An empty title would make the key path the shared Uninstall key itself,
// which the uninstaller would later delete whole: no entry then.
static void RegisterUninstallEntry(void)
{
    char keyPath[PathBufferSize];
    char command[QuotedPathBufferSize];
    if (Config.Title[0] == '\0' || !ComposePath(keyPath, sizeof keyPath, UninstallKeyPrefix, Config.Title) ||
        !TextCopy(command, sizeof command, "\"") || !TextAppend(command, sizeof command, InstallDir) ||
        !TextAppend(command, sizeof command, UninstallerName) || !TextAppend(command, sizeof command, "\""))
        return;
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, 0, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, 0, &key, 0) !=
        ERROR_SUCCESS)
        return;
    WriteLogRecord(RegistryKeyRecordType, keyPath);
    SetTextValue(key, "DisplayName", Config.Title);
    SetTextValue(key, "UninstallString", command);
    SetTextValue(key, "InstallLocation", InstallDir);
    char icon[PathBufferSize];
    ComposeDisplayIcon(icon);
    SetTextValue(key, "DisplayIcon", icon);
    SetNumberValue(key, "EstimatedSize", EstimatedSizeInKiB());
    SetNumberValue(key, "NoModify", 1);
    SetNumberValue(key, "NoRepair", 1);
    RegCloseKey(key);
}

// A command none of whose leading parts names an installed file starts
// nothing: unquoted, the system would try the text up to each blank in turn,
// and could start a program planted beside or above InstallDir.
static bool ComposeRunAfterCommand(char* command, unsigned capacity)
{
    return ConfigTextIsUsable(Config.RunAfterInstall) &&
           QuoteExistingProgram(command, capacity, Config.RunAfterInstall);
}

// Waits in 1,000 ms steps and handles one queued message after each, so the
// setup window still repaints. Blocking for a message instead would hang the
// installer after the program has ended until some message happened to
// arrive. Returns true when it took the quit message, which the main loop
// must then be given again.
static bool WaitForProgram(HANDLE process)
{
    for (;;) {
        if (WaitForSingleObject(process, 1000) != WAIT_TIMEOUT)
            return false;
        MSG message;
        if (!PeekMessageA(&message, 0, 0, 0, PM_REMOVE))
            continue;
        if (message.message == WM_QUIT)
            return true;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

static bool RunProgramAfterInstall(void)
{
    char command[QuotedPathBufferSize];
    if (Config.RunAfterInstall[0] == '\0' || !ComposeRunAfterCommand(command, sizeof command))
        return false;
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    startup.dwFlags |= STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWDEFAULT;
    PROCESS_INFORMATION started;
    if (!CreateProcessA(0, command, 0, 0, FALSE, CREATE_NEW_CONSOLE, 0, 0, &startup, &started))
        return false;
    CloseHandle(started.hThread);
    bool tookQuit = WaitForProgram(started.hProcess);
    CloseHandle(started.hProcess);
    return tookQuit;
}

static void ReportCompletion(void)
{
    // The user may have closed the setup window during the wait.
    HWND owner = IsWindow(SetupWindow) ? SetupWindow : 0;
    if (ShortcutFolderUnnamed)
        MessageBoxA(owner, "Some shortcuts could not be created: the name of their folder cannot be written "
                           "in this system's code page.", SetupCaption, MB_OK);
    MessageBoxA(owner, "Installation Complete.", SetupCaption, MB_OK);
}

void RunInstallation(HWND setupWindow)
{
    SetupWindow = setupWindow;
    char folder[PathBufferSize];
    ProposeFolder(folder);
    if (RunDirSelectDialog(SetupWindow, folder, ChosenFolderCapacity) == 0)
        return;
    if (!SetInstallDir(folder)) {
        ShowError("Cannot create uninstall program.");
        return;
    }
    if (ReadPayloadTable() != PayloadExtracted)
        return;
    if (!WriteUninstallerProgram()) {
        ShowError("Cannot create uninstall program.");
        return;
    }
    if (!CreateUninstallLog(Config.Title)) {
        ShowError("Cannot create uninstall data file.");
        return;
    }
    BuildCrcTable();
    if (ExtractPayload() != PayloadExtracted)
        return;
    CreateStartMenuShortcuts();
    AskForDesktopShortcuts();
    RegisterUninstallEntry();
    CloseUninstallLog();
    bool tookQuit = RunProgramAfterInstall();
    ReportCompletion();
    if (tookQuit)
        PostQuitMessage(0);
}
