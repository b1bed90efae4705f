// Stand-in for the installation sequence: only the folder choice, proposed
// under the current directory, so the stub's windows can be tried by hand.
#include "installer/run_installation.h"

#include "folderdlg/dir_select_dialog.h"
#include "installer/setup_globals.h"

void RunInstallation(HWND setupWindow)
{
    char folder[PathBufferSize];
    DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder)
        folder[0] = '\0';
    RunDirSelectDialog(setupWindow, folder, PathBufferSize - 1);
}
