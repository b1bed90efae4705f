// The installation sequence, run once from the setup window's start message.
#ifndef STUBKIT_RUN_INSTALLATION_H
#define STUBKIT_RUN_INSTALLATION_H

#include <windows.h>

// Everything between the user's confirmation and the closing of the setup
// window: folder choice, uninstaller and data file, payload, shortcuts,
// uninstall entry, run-after program, "Installation Complete.".
void RunInstallation(HWND setupWindow);

// Reads the named value of HKEY_LOCAL_MACHINE's
// "Software\Microsoft\Windows\CurrentVersion" into `buffer` (at least 260
// bytes); leaves it empty when the key or a fitting value is missing.
void ReadCurrentVersionValue(const char* valueName, char* buffer);

#endif
