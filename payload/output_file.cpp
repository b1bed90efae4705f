#include "payload/output_file.h"

#include "common/bounded_text.h"
#include "common/setup_globals.h"

// The folder of the last file created: it and every folder above it exist,
// so the next file in the same folder or a sibling asks the system for none
// of them again. Files come in table order, folder by folder, so most files
// need no folder call at all.
static char known_folder[PathBufferSize];

// How many leading characters of `folderPath` lie inside known_folder: every
// cut before that offset ends a folder that exists.
static unsigned KnownPrefixLength(const char* folderPath)
{
    unsigned i = 0;
    while (folderPath[i] != '\0' && folderPath[i] == known_folder[i])
        ++i;
    return i;
}

// The next separator at or after `from`, stepping over two-byte characters of
// the system's code page (whose trail byte may be 0x5C, the backslash's
// value); the offset of the terminating NUL when there is none.
static unsigned NextSeparator(const char* path, unsigned from)
{
    unsigned at = 0;
    while (path[at] != '\0' && (at < from || path[at] != '\\'))
        at += IsDBCSLeadByte(static_cast<BYTE>(path[at])) && path[at + 1] != '\0' ? 2 : 1;
    return at;
}

// Works on the path in place and gives it back whole; folders that end
// before `known` are taken to exist. Returns the offset of the backslash that
// ends the first folder this call created, 0 when it created none (offset 0
// never ends a folder).
static unsigned CreateMissingFolders(char* folderPath, unsigned known)
{
    unsigned firstCreated = 0;
    for (unsigned at = NextSeparator(folderPath, known); folderPath[at] != '\0';
         at = NextSeparator(folderPath, at + 1)) {
        char* cut = folderPath + at;
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
        CreateMissingFolders(prefix, 0);
}

// The folders made for a file that then cannot be created go again, deepest
// first: the uninstall data file never names them, so no uninstall would.
static void RemoveFoldersCreated(char* folderPath, unsigned firstCreated)
{
    if (firstCreated == 0)
        return;
    for (;;) {
        unsigned last = 0;   // the deepest separator left at or after firstCreated
        for (unsigned at = NextSeparator(folderPath, firstCreated); folderPath[at] != '\0';
             at = NextSeparator(folderPath, at + 1))
            last = at;
        if (last == 0)
            return;
        folderPath[last] = '\0';
        RemoveDirectoryA(folderPath);
        if (last == firstCreated)
            return;
    }
}

// The folder that holds the file, ending in a backslash (C:\A\B\ for
// C:\A\B\c.txt): the path up to its last separator.
static void ComposeContainingFolder(const char* path, char* folder)
{
    unsigned end = 0;
    for (unsigned at = NextSeparator(path, 0); path[at] != '\0'; at = NextSeparator(path, at + 1))
        end = at + 1;
    TextCopyCount(folder, PathBufferSize, path, end);
}

static HANDLE CreateFileForWriting(const char* path, DWORD disposition)
{
    return CreateFileA(path, GENERIC_WRITE, 0, 0, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, 0);
}

// A file that is not there yet is created as new. Replacing (CREATE_ALWAYS)
// truncates even a file just made, and Linux's ext4, under Wine, writes a
// file that was truncated to empty out to the disk as soon as it is closed,
// so that a replaced file is never left empty by a crash: one disk write per
// file that an installation of many small files would wait for. Any failure
// is answered by the replacing call, whose outcome is then the result, so an
// existing file is replaced and a refusal is the same refusal as ever.
static HANDLE CreateOrReplaceFile(const char* path)
{
    HANDLE file = CreateFileForWriting(path, CREATE_NEW);
    if (file == INVALID_HANDLE_VALUE)
        file = CreateFileForWriting(path, CREATE_ALWAYS);
    return file;
}

static HANDLE CreateInFolder(const char* path, char* folder, unsigned known)
{
    unsigned firstCreated = CreateMissingFolders(folder, known);
    HANDLE file = CreateOrReplaceFile(path);
    if (file == INVALID_HANDLE_VALUE)
        RemoveFoldersCreated(folder, firstCreated);
    return file;
}

HANDLE CreateOutputFile(const char* path)
{
    if (TextLength(path) >= PathBufferSize)
        return INVALID_HANDLE_VALUE;
    char folder[PathBufferSize];
    ComposeContainingFolder(path, folder);
    unsigned known = KnownPrefixLength(folder);
    HANDLE file = CreateInFolder(path, folder, known);
    // A folder known to exist may have been removed since by someone else:
    // a failure is only final once every folder has been asked for.
    if (file == INVALID_HANDLE_VALUE && known != 0)
        file = CreateInFolder(path, folder, 0);
    if (file == INVALID_HANDLE_VALUE)
        known_folder[0] = '\0';
    else
        TextCopy(known_folder, sizeof known_folder, folder);
    return file;
}
