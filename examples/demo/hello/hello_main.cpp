// The demo product's program: a greeting in a message box. The installer
// runs it after installation and waits until it is closed.
#include <windows.h>

extern "C" void __stdcall DemoHelloEntry()
{
    MessageBoxA(0,
                "Hello from the stubkit demo product.\n\n"
                "This program was installed by a stubkit installer; the uninstaller "
                "in the Start menu removes it again.",
                "Demo Hello", MB_OK | MB_ICONINFORMATION);
    ExitProcess(0);
}
