/* What the stubkit.exe tests need another Windows process or call for:
 *   windows_tool_helper hold FILE READY SECONDS
 *       opens FILE without sharing it, creates READY, and keeps FILE open
 *       for SECONDS (a program that has a product file in use);
 *   windows_tool_helper junction LINK TARGET
 *       makes the folder LINK a junction to the folder TARGET; exit code 2
 *       when the file system cannot make one. */
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#ifndef IO_REPARSE_TAG_MOUNT_POINT
#define IO_REPARSE_TAG_MOUNT_POINT 0xA0000003L
#endif
#ifndef FSCTL_SET_REPARSE_POINT
#define FSCTL_SET_REPARSE_POINT 0x000900A4
#endif

/* The mount-point form of REPARSE_DATA_BUFFER: the substitute name (the
 * NT path "\??\C:\target") and an empty print name, both followed by a NUL. */
struct MountPointReparse {
    DWORD tag;
    WORD data_length;
    WORD reserved;
    WORD substitute_offset;
    WORD substitute_length;
    WORD print_offset;
    WORD print_length;
    WCHAR names[1024];
};

static int Hold(const wchar_t* file, const wchar_t* ready, int seconds)
{
    HANDLE held = CreateFileW(file, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (held == INVALID_HANDLE_VALUE)
        return 1;
    CloseHandle(CreateFileW(ready, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    Sleep((DWORD)seconds * 1000);
    CloseHandle(held);
    return 0;
}

static int Junction(const wchar_t* link, const wchar_t* target)
{
    struct MountPointReparse reparse;
    WCHAR full[MAX_PATH];
    DWORD length = GetFullPathNameW(target, MAX_PATH, full, NULL);
    DWORD returned = 0;
    HANDLE folder;
    BOOL made;
    if (length == 0 || length > 900 || !CreateDirectoryW(link, NULL))
        return 1;
    memset(&reparse, 0, sizeof reparse);
    wcscpy(reparse.names, L"\\??\\");
    wcscat(reparse.names, full);
    reparse.tag = IO_REPARSE_TAG_MOUNT_POINT;
    reparse.substitute_length = (WORD)(wcslen(reparse.names) * sizeof(WCHAR));
    reparse.print_offset = reparse.substitute_length + sizeof(WCHAR);
    reparse.data_length = (WORD)(8 + reparse.print_offset + sizeof(WCHAR));
    folder = CreateFileW(link, GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (folder == INVALID_HANDLE_VALUE)
        return 1;
    made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, &reparse, 8 + reparse.data_length, NULL, 0,
                           &returned, NULL);
    CloseHandle(folder);
    if (!made)
        RemoveDirectoryW(link);
    return made ? 0 : 2;
}

int wmain(int argc, wchar_t** argv)
{
    if (argc == 5 && wcscmp(argv[1], L"hold") == 0)
        return Hold(argv[2], argv[3], _wtoi(argv[4]));
    if (argc == 4 && wcscmp(argv[1], L"junction") == 0)
        return Junction(argv[2], argv[3]);
    return 64;
}
