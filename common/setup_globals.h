// Globals shared by the installer's parts, set once and kept for the process.
// Defined by the installer (installer/setup_globals.cpp); declared down here
// because the payload, the folder dialog and the shortcuts use them too.
#ifndef STUBKIT_SETUP_GLOBALS_H
#define STUBKIT_SETUP_GLOBALS_H

#include <windows.h>

enum { PathBufferSize = 260 };   // 259 characters and the NUL

// The chosen installation folder, always ending in a backslash.
extern char InstallDir[PathBufferSize];
// The installer's one top-level window; owner of its message boxes.
extern HWND SetupWindow;
// Title followed by " Setup".
extern char SetupCaption[PathBufferSize];
extern HINSTANCE ModuleInstance;

// Shows "Error: " + text (cut to fit 259 characters) in a box owned by
// SetupWindow, captioned "Setup", OK button and stop icon; returns when the
// user has closed it.
void ShowError(const char* text);

#endif
