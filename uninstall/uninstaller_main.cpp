// Process entry of the uninstaller.
#include <windows.h>

extern "C" void __stdcall UninstallerEntry()
{
    ExitProcess(0);
}
