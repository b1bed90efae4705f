// The installer's one top-level window: a maximised cyan-to-black gradient
// that starts the installation sequence from its own message handling.
#ifndef STUBKIT_SETUP_WINDOW_H
#define STUBKIT_SETUP_WINDOW_H

#include <windows.h>

#define SETUP_WINDOW_CLASS "Mini Setup Window Class"

// Posted once, before the window is shown; its handler runs RunInstallation.
enum { StartInstallationMessage = WM_USER + 1 };

// Fills `client` with 64 shades from cyan to black, one scanline at a time:
// line y of a rectangle h lines high gets shade 63 * y / h, i.e.
// RGB(0, 255 - 4k, 255 - 4k). A rectangle of no height paints nothing.
void PaintGradient(HDC dc, const RECT* client);

// Handles WM_PAINT, the start message and WM_DESTROY.
LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers the window class with `background` as its brush; false on failure.
bool RegisterSetupWindowClass(HBRUSH background);

// Everything after the user's confirmation: brush, class, SetupWindow, the
// start message, the maximised window and the message loop. Returns the exit
// code: 0 once the window has closed, 1 (after ShowError) when the class or
// the window cannot be made.
int RunSetupWindow();

#endif
