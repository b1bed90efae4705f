// Process entry of the installer stub.
#include <windows.h>

#include "common/bounded_text.h"
#include "common/system_dlls.h"
#include "common/config_block.h"
#include "common/setup_globals.h"
#include "installer/setup_window.h"

static void ComposeSetupCaption()
{
    TextCopyCount(SetupCaption, sizeof SetupCaption, Config.Title, ConfigTextCapacity - 1);
    TextAppend(SetupCaption, sizeof SetupCaption, " Setup");
}

// Asked before any window exists, with no owner.
static bool UserConfirmsInstallation()
{
    char prompt[PathBufferSize];
    TextCopyCount(prompt, sizeof prompt, Config.Title, ConfigTextCapacity - 1);
    TextAppend(prompt, sizeof prompt, " will be installed. Do you wish to continue?");
    return MessageBoxA(0, prompt, SetupCaption, MB_YESNO) == IDYES;
}

// The program's own module, as the linker places it.
extern "C" IMAGE_DOS_HEADER __ImageBase;

// The command line and the show state the process was given are ignored.
extern "C" void __stdcall SetupEntry()
{
    RestrictDllSearchToSystemFolder();
    ComposeSetupCaption();
    ModuleInstance = reinterpret_cast<HINSTANCE>(&__ImageBase);
    if (!UserConfirmsInstallation())
        ExitProcess(1);
    ExitProcess(RunSetupWindow());
}
