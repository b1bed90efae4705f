// A hostile stand-in for comctl32.dll: when any process loads it, it leaves
// the file "planted-dll-loaded.txt" beside itself.
#include <windows.h>

#include <cstring>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char path[MAX_PATH] = {0};
    DWORD length = GetModuleFileNameA(instance, path, MAX_PATH - 32);
    while (length > 0 && path[length - 1] != '\\')
        --length;
    std::strcpy(path + length, "planted-dll-loaded.txt");
    HANDLE mark = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (mark != INVALID_HANDLE_VALUE)
        CloseHandle(mark);
    return TRUE;
}
