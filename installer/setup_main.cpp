// Process entry of the installer stub.
#include <windows.h>

#include "common/bounded_text.h"
#include "installer/config_block.h"
#include "installer/setup_globals.h"

static void ComposeSetupCaption()
{
    TextCopyCount(SetupCaption, sizeof SetupCaption, Config.Title, ConfigTextCapacity - 1);
    TextAppend(SetupCaption, sizeof SetupCaption, " Setup");
}

extern "C" void __stdcall SetupEntry()
{
    ComposeSetupCaption();
    ModuleInstance = GetModuleHandleA(0);
    ExitProcess(0);
}
