// Shortcuts through the shell's link object. Each call brings COM up for
// itself and takes it down again before it returns, so whatever one shortcut
// leaves behind cannot disturb the next.
#include "shell/shortcuts.h"

#include <shlobj.h>
#include <stdlib.h>

#include "common/bounded_text.h"
#include "common/setup_globals.h"
#include "uninstall/uninstall_log.h"

// One shortcut to make: where it goes decides the rest (a group folder and no
// arguments in the Start menu, arguments and no folder on the desktop).
struct ShortcutRequest {
    HWND owner;
    int specialFolder;          // CSIDL_PROGRAMS or CSIDL_DESKTOP
    const char* target;
    const char* arguments;      // desktop only; null is an empty list
    const char* linkName;       // relative to the special folder, used unchanged
};

bool ShortcutFolderUnnamed = false;

// The wide path in the code page, exactly: a name with characters the code
// page cannot hold (a user's name, say) would come out replaced or mapped to
// look-alikes, naming another folder.
static bool NarrowExactly(const WCHAR* wide, char* narrow)
{
    BOOL changed = FALSE;
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, narrow, PathBufferSize, 0, &changed) &&
           !changed;
}

// The special folder's path followed by a backslash. The item list the shell
// hands out is ours to free. A folder the code page cannot name is reached
// by its short name, which the data file can then hold and the uninstaller
// open; without one the shortcut is skipped and ShortcutFolderUnnamed set.
static bool FindSpecialFolder(HWND owner, int specialFolder, char* folder)
{
    LPITEMIDLIST items;
    if (FAILED(SHGetSpecialFolderLocation(owner, specialFolder, &items)))
        return false;
    WCHAR wideFolder[MAX_PATH];
    const BOOL found = SHGetPathFromIDListW(items, wideFolder);
    CoTaskMemFree(items);
    if (!found)
        return false;
    if (!NarrowExactly(wideFolder, folder)) {
        const DWORD length = GetShortPathNameW(wideFolder, wideFolder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH || !NarrowExactly(wideFolder, folder)) {
            ShortcutFolderUnnamed = true;
            return false;
        }
    }
    return TextAppend(folder, PathBufferSize, "\\");
}

// Makes the group folder, one level only: a nested group appears only when
// its upper levels exist. An existing group makes this fail, which is fine.
static void CreateGroupFolder(const char* folder, const char* relativeLinkPath)
{
    // msvcrt's _splitpath does not bound its outputs; the link path it splits
    // has already been found to fit a path buffer.
    char drive[PathBufferSize];
    char directory[PathBufferSize];
    _splitpath(relativeLinkPath, drive, directory, 0, 0);
    if (directory[0] == '\0')
        return;
    char groupFolder[PathBufferSize];
    if (TextCopy(groupFolder, sizeof groupFolder, folder) &&
        TextAppend(groupFolder, sizeof groupFolder, directory))
        CreateDirectoryA(groupFolder, 0);
}

// Sets up the link and writes it, twice: first with its target, then with
// the target's first icon as well. The record goes to the log before the
// first save so that the uninstaller learns of every link that may exist.
static void WriteShortcut(IShellLinkA* link, IPersistFile* file, const ShortcutRequest& request)
{
    const bool onDesktop = request.specialFolder == CSIDL_DESKTOP;
    if (FAILED(link->SetPath(request.target)))
        return;
    if (onDesktop && FAILED(link->SetArguments(request.arguments ? request.arguments : "")))
        return;
    // A link path that would not fit is skipped rather than cut: a cut path
    // would put a differently named file somewhere else.
    char folder[PathBufferSize];
    char linkPath[PathBufferSize];
    if (!FindSpecialFolder(request.owner, request.specialFolder, folder) ||
        !TextCopy(linkPath, sizeof linkPath, folder) ||
        !TextAppend(linkPath, sizeof linkPath, request.linkName))
        return;
    if (!onDesktop)
        CreateGroupFolder(folder, request.linkName);
    WriteLogRecord(onDesktop ? DesktopShortcutRecordType : StartMenuShortcutRecordType, linkPath);
    WCHAR wideLinkPath[PathBufferSize];
    if (!MultiByteToWideChar(CP_ACP, 0, linkPath, -1, wideLinkPath, PathBufferSize) ||
        FAILED(file->Save(wideLinkPath, TRUE)) ||
        FAILED(link->SetIconLocation(request.target, 0)))
        return;
    file->Save(wideLinkPath, TRUE);
}

static void CreateShortcut(const ShortcutRequest& request)
{
    if (FAILED(CoInitialize(0)))
        return;
    IShellLinkA* link = 0;
    IPersistFile* file = 0;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, 0, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))))
        WriteShortcut(link, file, request);
    if (file)
        file->Release();
    if (link)
        link->Release();
    CoUninitialize();
}

void CreateProgramsShortcut(HWND owner, const char* target, const char* relativeLinkPath)
{
    const ShortcutRequest request = { owner, CSIDL_PROGRAMS, target, 0, relativeLinkPath };
    CreateShortcut(request);
}

void CreateDesktopShortcut(HWND owner, const char* target, const char* arguments, const char* linkName)
{
    const ShortcutRequest request = { owner, CSIDL_DESKTOP, target, arguments, linkName };
    CreateShortcut(request);
}
