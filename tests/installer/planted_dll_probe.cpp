// Loads "comctl32.dll" by its bare name, as a program that trusts the DLL
// search order would. Exit code 0 when a library was loaded.
#include <windows.h>

int main()
{
    return LoadLibraryA("comctl32.dll") ? 0 : 1;
}
