// Removing a deleted file's emptied ancestor folders.
#include <windows.h>
#include <shlobj.h>
#include <stdlib.h>

#include "common/bounded_text.h"
#include "uninstall/uninstaller.h"

enum { MaxFoldersClimbed = 16 };

// An empty desktop, Start menu or Documents folder is still the user's: losing
// the last shortcut or file must not take the folder with it, so the climb
// never passes these. A byte each keeps the table small.
static const unsigned char ProtectedFolderIds[] = {
    CSIDL_PROGRAMS,          CSIDL_STARTMENU,           CSIDL_DESKTOPDIRECTORY,
    CSIDL_STARTUP,           CSIDL_COMMON_PROGRAMS,     CSIDL_COMMON_STARTMENU,
    CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_STARTUP, CSIDL_PERSONAL,
    CSIDL_COMMON_DOCUMENTS,  CSIDL_APPDATA,             CSIDL_LOCAL_APPDATA,
    CSIDL_COMMON_APPDATA,    CSIDL_PROGRAM_FILES,       CSIDL_PROGRAM_FILESX86,
    CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_WINDOWS,
    CSIDL_PROFILE,
};
// A 32-bit program learns the 64-bit view's Program Files folders only from
// the environment.
static const char* const ProtectedFolderVariables[] = { "ProgramW6432", "CommonProgramW6432" };
enum {
    ProtectedFolderIdCount = sizeof ProtectedFolderIds,
    ProtectedFolderCount = ProtectedFolderIdCount + 2
};

static bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// The folder's full path in one spelling, so that no other spelling of a
// protected folder slips past the comparison: the drive, then each component
// after one backslash, "." components and doubled separators dropped, no
// trailing separator ("C:" for a drive root). False for a path that is not on
// a drive (\\?\, \??\, \\.\ and UNC forms, which name folders in ways this
// cannot compare), for a component ending in a dot or blank (the system drops
// those and reaches another folder), for a '?' (the system's spelling of a
// character the code page cannot hold) or a '~' (a short name, which the
// shell never reports a folder by, as the installer logs links under a
// folder the code page cannot name), and for a path that does not fit.
static bool ComposeCanonicalPath(const char* folder, char* canonical)
{
    char full[UninstallPathSize];
    DWORD length = GetFullPathNameA(folder, sizeof full, full, 0);
    if (length == 0 || length >= sizeof full || full[1] != ':' || full[2] != '\\')
        return false;
    canonical[0] = full[0];
    canonical[1] = ':';
    // Every backslash written stands for at least one read, so the result is
    // never longer than `full`. The full path has backslashes only.
    char* out = canonical + 2;
    for (const char* c = full + 2;;) {
        while (*c == '\\')
            ++c;
        if (*c == '\0')
            break;
        char* component = out;
        *out++ = '\\';
        for (; *c != '\0' && *c != '\\'; ++c) {
            if (*c == '?' || *c == '~')
                return false;
            *out++ = *c;
        }
        if (out == component + 2 && component[1] == '.')
            out = component;
        else if (out[-1] == '.' || out[-1] == ' ')
            return false;
    }
    *out = '\0';
    return true;
}

// The protected folder `index` in canonical spelling; false when this system
// does not know it.
static bool ComposeProtectedFolder(int index, char* canonical)
{
    char known[MAX_PATH];
    const char* path = known;
    if (index < ProtectedFolderIdCount) {
        if (!SHGetSpecialFolderPathA(0, known, ProtectedFolderIds[index], FALSE))
            return false;
    } else {
        path = getenv(ProtectedFolderVariables[index - ProtectedFolderIdCount]);
    }
    return path && ComposeCanonicalPath(path, canonical);
}

// Learnt afresh for each folder tried, so the program keeps no writable data
// (a data section would cost file size). Drive roots, and any folder whose
// spelling cannot be compared, count as protected: the climb stops rather
// than risk them.
bool IsProtectedFolder(const char* folder)
{
    char canonical[UninstallPathSize];
    if (!ComposeCanonicalPath(folder, canonical) || canonical[2] == '\0')
        return true;
    for (int i = 0; i < ProtectedFolderCount; ++i) {
        char protectedFolder[UninstallPathSize];
        if (ComposeProtectedFolder(i, protectedFolder) && lstrcmpiA(canonical, protectedFolder) == 0)
            return true;
    }
    return false;
}

static char* DrivePartEnd(char* path)
{
    return path[0] != '\0' && path[1] == ':' ? path + 2 : path;
}

char* FolderPartEnd(char* path)
{
    char* end = DrivePartEnd(path);
    for (char* c = path; *c != '\0'; c += IsDBCSLeadByte(static_cast<BYTE>(*c)) && c[1] != '\0' ? 2 : 1)
        if (IsSeparator(*c))
            end = c + 1;
    return end;
}

// Replaces `path` with the folder that holds it; false when there is none to
// remove (no folder part, or only the root).
static bool TakeParentFolder(char* path)
{
    char* end = FolderPartEnd(path);
    if (end - DrivePartEnd(path) <= 1)
        return false;
    end[-1] = '\0';
    return true;
}

void DeleteFileAndEmptyParents(const char* path)
{
    DeleteFileA(path);
    char working[UninstallPathSize];
    if (!TextCopy(working, sizeof working, path))
        return;
    for (int climbed = 0; climbed < MaxFoldersClimbed; ++climbed) {
        if (!TakeParentFolder(working) || IsProtectedFolder(working))
            return;
        RemoveDirectoryA(working);   // removes only an empty folder
    }
}
