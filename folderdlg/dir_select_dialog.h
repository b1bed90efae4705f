// The modal folder-selection dialog over the setup window.
#ifndef STUBKIT_DIR_SELECT_DIALOG_H
#define STUBKIT_DIR_SELECT_DIALOG_H

#include <windows.h>
#include <commctrl.h>

enum { DialogPathSize = 261 };   // 260 characters and the NUL

// One per call of RunDirSelectDialog, zero-filled, freed when the dialog has
// ended; the dialog finds it in its window's user data.
struct DirSelectState {
    char initial_path[DialogPathSize];   // the caller's proposal, never changed
    char edited_path[DialogPathSize];    // the proposal with DefaultFolder, then the OK'd text
    LONG cancelled;                      // 1 once Cancel, Escape or the close box ended it
};

// Shows the dialog, proposing `path` (a folder, as a rule without a trailing
// backslash) followed by DefaultFolder. Returns 1 when a folder was chosen:
// `path` then holds it, cut to capacity - 1 characters. Returns 0 when nothing
// was chosen (Cancel, Escape, the close box, or OK on the unchanged proposal);
// `path` is then unchanged.
int RunDirSelectDialog(HWND owner, char* path, int capacity);

// The dialog procedure: WM_INITDIALOG, WM_COMMAND and the tree's WM_NOTIFY.
INT_PTR CALLBACK DirSelectDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Enables OK exactly when the path edit box holds some text and no folder
// name in it ends in a blank or a dot ("." and ".." aside).
void UpdateOkButton(HWND dialog);

// Selects and opens the tree items along `path` (components separated by
// backslashes, compared without case), starting below `parent` (0: the
// drives). Stops at the first component no item matches, leaving that level's
// first item selected.
void SelectPathInTree(const char* path, HTREEITEM parent, HWND tree);

#endif
