#include "payload/output_file.h"

#include <stdlib.h>

#include "common/bounded_text.h"
#include "installer/setup_globals.h"

// Works on the path in place and gives it back whole. Returns the offset of
// the backslash that ends the first folder this call created, 0 when it
// created none (offset 0 never ends a folder).
static unsigned CreateMissingFolders(char* folderPath)
{
    unsigned firstCreated = 0;
    for (char* cut = folderPath; *cut != '\0'; ++cut) {
        if (*cut != '\\')
            continue;
        *cut = '\0';
        if (CreateDirectoryA(folderPath, 0) && firstCreated == 0)
            firstCreated = static_cast<unsigned>(cut - folderPath);
        *cut = '\\';
    }
    return firstCreated;
}

void CreateFolders(const char* folderPath)
{
    char prefix[PathBufferSize];
    if (TextCopy(prefix, sizeof prefix, folderPath))
        CreateMissingFolders(prefix);
}

// The folders made for a file that then cannot be created go again, deepest
// first: the uninstall data file never names them, so no uninstall would.
static void RemoveFoldersCreated(char* folderPath, unsigned firstCreated)
{
    if (firstCreated == 0)
        return;
    for (unsigned end = TextLength(folderPath); end-- > firstCreated;) {
        if (folderPath[end] != '\\')
            continue;
        folderPath[end] = '\0';
        RemoveDirectoryA(folderPath);
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
    unsigned firstCreated = CreateMissingFolders(folder);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, 0, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, 0);
    if (file == INVALID_HANDLE_VALUE)
        RemoveFoldersCreated(folder, firstCreated);
    return file;
}
