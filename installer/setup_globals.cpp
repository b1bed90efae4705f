#include "common/setup_globals.h"

#include "common/bounded_text.h"

char InstallDir[PathBufferSize];
HWND SetupWindow;
char SetupCaption[PathBufferSize];
HINSTANCE ModuleInstance;

void ShowError(const char* text)
{
    char message[PathBufferSize];
    TextCopy(message, sizeof message, "Error: ");
    TextAppend(message, sizeof message, text);
    MessageBoxA(SetupWindow, message, "Setup", MB_OK | MB_ICONHAND);
}
