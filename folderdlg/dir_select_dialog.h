// The modal folder-selection dialog over the setup window.
#ifndef STUBKIT_DIR_SELECT_DIALOG_H
#define STUBKIT_DIR_SELECT_DIALOG_H

#include <windows.h>

// Shows the dialog, proposing `path` (a folder, as a rule without a trailing
// backslash) followed by DefaultFolder. Returns 1 when a folder was chosen:
// `path` then holds it, cut to capacity - 1 characters. Returns 0 when nothing
// was chosen (Cancel, Escape, the close box, or OK on the unchanged proposal);
// `path` is then unchanged.
int RunDirSelectDialog(HWND owner, char* path, int capacity);

#endif
