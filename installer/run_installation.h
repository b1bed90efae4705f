// The installation sequence, run once from the setup window's start message.
#ifndef STUBKIT_RUN_INSTALLATION_H
#define STUBKIT_RUN_INSTALLATION_H

#include <windows.h>

// Everything between the user's confirmation and the closing of the setup
// window: folder choice, uninstaller and data file, payload, shortcuts,
// uninstall entry, run-after program, "Installation Complete.".
void RunInstallation(HWND setupWindow);

#endif
