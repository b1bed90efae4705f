// Finding an installer's folder dialog from outside: a dialog box of the
// process that holds the path edit box (its question box has the same class
// and caption).
#ifndef STUBKIT_FOLDER_DIALOG_WINDOW_H
#define STUBKIT_FOLDER_DIALOG_WINDOW_H

#include <windows.h>

#include "window_driver.h"

namespace folderdialog {

constexpr int kPathEdit = 2006;
constexpr int kOkButton = 2007;
constexpr int kCancelButton = 2008;
constexpr int kTree = 2009;

inline HWND WaitForDialog(DWORD processId, DWORD timeoutMs = driver::kDefaultTimeoutMs)
{
    const DWORD start = GetTickCount();
    do {
        HWND dialog = driver::WaitForWindow(processId, driver::kMessageBoxClass, nullptr, 0);
        if (dialog && GetDlgItem(dialog, kPathEdit))
            return dialog;
        Sleep(50);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

}  // namespace folderdialog

#endif
