// Removing a deleted file's emptied ancestor folders.
#include <windows.h>
#include <shlobj.h>
#include <stdlib.h>

#include "common/bounded_text.h"
#include "uninstall/uninstaller.h"

enum { MaxFoldersClimbed = 16 };

// An empty desktop or Start menu is still the user's: losing the last shortcut
// must not take the folder with it, so the climb never passes these.
static const int ProtectedFolderIds[] = {
    CSIDL_PROGRAMS,        CSIDL_STARTMENU,        CSIDL_DESKTOPDIRECTORY,
    CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTMENU, CSIDL_COMMON_DESKTOPDIRECTORY,
    CSIDL_PROGRAM_FILES,   CSIDL_WINDOWS,          CSIDL_PROFILE,
};
enum { ProtectedFolderCount = sizeof ProtectedFolderIds / sizeof ProtectedFolderIds[0] };

// The shell's paths of the protected folders, learnt once per deletion so the
// program keeps no writable data (each data section would cost file size).
struct ProtectedFolderList {
    char paths[ProtectedFolderCount][UninstallPathSize];
};

static void LearnProtectedFolders(ProtectedFolderList* list)
{
    for (int i = 0; i < ProtectedFolderCount; ++i)
        if (!SHGetSpecialFolderPathA(0, list->paths[i], ProtectedFolderIds[i], FALSE))
            list->paths[i][0] = '\0';   // unknown here: never equals a full path
}

static bool IsInList(const ProtectedFolderList* list, const char* folder)
{
    char fullPath[UninstallPathSize];
    DWORD length = GetFullPathNameA(folder, sizeof fullPath, fullPath, 0);
    if (length == 0 || length >= sizeof fullPath)
        return true;   // a folder that cannot be compared is not risked
    for (int i = 0; i < ProtectedFolderCount; ++i)
        if (lstrcmpiA(fullPath, list->paths[i]) == 0)
            return true;
    return false;
}

bool IsProtectedFolder(const char* folder)
{
    ProtectedFolderList list;
    LearnProtectedFolders(&list);
    return IsInList(&list, folder);
}

static bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// Replaces `path` with the folder that holds it; false when there is none to
// remove (no folder part, or only the root).
static bool TakeParentFolder(char* path)
{
    char drive[_MAX_DRIVE];
    char folder[UninstallPathSize];
    _splitpath(path, drive, folder, 0, 0);
    unsigned length = TextLength(folder);
    if (length == 0 || (length == 1 && IsSeparator(folder[0])))
        return false;
    // Drive and folder are the head of the path up to its last separator, so
    // the parent is the path cut at that separator. A folder part the runtime
    // had to shorten does not end there, and then the climb ends rather than
    // remove a folder the path does not name.
    char* lastSeparator = path + TextLength(drive) + length - 1;
    if (!IsSeparator(*lastSeparator))
        return false;
    *lastSeparator = '\0';
    return true;
}

void DeleteFileAndEmptyParents(const char* path)
{
    DeleteFileA(path);
    char working[UninstallPathSize];
    if (!TextCopy(working, sizeof working, path))
        return;
    ProtectedFolderList protectedFolders;
    LearnProtectedFolders(&protectedFolders);
    for (int climbed = 0; climbed < MaxFoldersClimbed; ++climbed) {
        if (!TakeParentFolder(working) || IsInList(&protectedFolders, working))
            return;
        RemoveDirectoryA(working);   // removes only an empty folder
    }
}
