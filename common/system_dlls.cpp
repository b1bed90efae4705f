#include "common/system_dlls.h"

#include "common/bounded_text.h"

typedef BOOL(WINAPI* SetDefaultDllDirectoriesCall)(DWORD flags);
typedef BOOL(WINAPI* SetDllDirectoryCall)(const char* path);

void* ProcedureAddress(HMODULE module, const char* name)
{
    return (void*)GetProcAddress(module, name);
}

enum { SearchSystemFolderOnly = 0x00000800 };   // LOAD_LIBRARY_SEARCH_SYSTEM32

// Both calls are looked up at run time: older systems lack the first, the
// oldest the second, and a static import of either would stop the program
// from starting there.
void RestrictDllSearchToSystemFolder()
{
    // Loaded already (the program imports it); loading it again only counts.
    HMODULE kernel = LoadLibraryA("kernel32");
    void* setDefault = ProcedureAddress(kernel, "SetDefaultDllDirectories");
    if (setDefault)
        ((SetDefaultDllDirectoriesCall)setDefault)(SearchSystemFolderOnly);
    else if (void* setDirectory = ProcedureAddress(kernel, "SetDllDirectoryA"))
        ((SetDllDirectoryCall)setDirectory)("");
}

HMODULE LoadSystemLibrary(const char* name)
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return 0;
    if (!TextAppend(path, sizeof path, "\\") || !TextAppend(path, sizeof path, name))
        return 0;
    return LoadLibraryA(path);
}
