#include "payload/output_file.h"

#include <stdlib.h>

#include "common/bounded_text.h"
#include "installer/setup_globals.h"

void CreateFolders(const char* folderPath)
{
    char prefix[PathBufferSize];
    if (!TextCopy(prefix, sizeof prefix, folderPath))
        return;
    for (char* cut = prefix; *cut != '\0'; ++cut) {
        if (*cut != '\\')
            continue;
        *cut = '\0';
        CreateDirectoryA(prefix, 0);
        *cut = '\\';
    }
}

// The folder that holds the file, ending in a backslash (C:\A\B\ for
// C:\A\B\c.txt). msvcrt's _splitpath does not bound its outputs, so each of
// them is as large as the whole path can be.
static void ComposeContainingFolder(const char* path, char* folder)
{
    char drive[PathBufferSize];
    char directory[PathBufferSize];
    _splitpath(path, drive, directory, 0, 0);
    _makepath(folder, drive, directory, 0, 0);
}

HANDLE CreateOutputFile(const char* path)
{
    if (TextLength(path) >= PathBufferSize)
        return INVALID_HANDLE_VALUE;
    char folder[PathBufferSize];
    ComposeContainingFolder(path, folder);
    CreateFolders(folder);
    return CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, 0);
}
