// Loads "comctl32.dll" by its bare name, as a program that trusts the DLL
// search order would; with "restricted", after limiting the search as the
// stub does first thing. Exit code 0 when a library was loaded.
#include <windows.h>

#include <cstring>

#include "common/system_dlls.h"

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "restricted") == 0)
        RestrictDllSearchToSystemFolder();
    return LoadLibraryA("comctl32.dll") ? 0 : 1;
}
