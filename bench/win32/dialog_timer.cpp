// dialog-timer COUNT...: for each COUNT, makes a folder of that many empty
// sub-folders beside Program Files, opens the folder dialog on
// C:\Program Files (whose walk expands C: and so lists them all) and prints
// the seconds from the call until the dialog stands, then cancels it; then
// the seconds the tree takes to expand that folder itself, which reads each
// of its sub-folders. The folder is removed after each count. The last column
// is the floor for that expansion: the same searches, one per sub-folder,
// without the dialog.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/setup_globals.h"
#include "folderdlg/dialog_ids.h"
#include "folderdlg/dir_select_dialog.h"

namespace {

const char kFolder[] = "C:\\stubkit bench folders";

DWORD WINAPI RunDialog(LPVOID)
{
    char path[600] = "C:\\Program Files";
    RunDirSelectDialog(nullptr, path, 259);
    return 0;
}

// The dialog of this process that holds the path edit box; 0 after 120 s.
HWND WaitForDialog()
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < 120000; Sleep(1)) {
        HWND dialog = nullptr;
        while ((dialog = FindWindowExA(nullptr, dialog, "#32770", nullptr)))
            if (GetDlgItem(dialog, IDC_PATH_EDIT))
                return dialog;
    }
    return nullptr;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER frequency)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

HTREEITEM Child(HWND tree, HTREEITEM parent, const char* name)
{
    char text[261];
    for (auto item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, parent ? TVGN_CHILD : TVGN_ROOT,
                                                              reinterpret_cast<LPARAM>(parent)));
         item; item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT,
                                                               reinterpret_cast<LPARAM>(item)))) {
        TVITEMA request = {};
        request.mask = TVIF_TEXT;
        request.hItem = item;
        request.pszText = text;
        request.cchTextMax = sizeof text;
        if (SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&request)) && !lstrcmpiA(text, name))
            return item;
    }
    return nullptr;
}

std::string SubFolder(unsigned index)
{
    return std::string(kFolder) + "\\folder " + std::to_string(index);
}

// Seconds for one search of each sub-folder, as the expansion makes them.
double SearchEachSubFolder(unsigned count, LARGE_INTEGER frequency)
{
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    for (unsigned i = 0; i < count; ++i) {
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA((SubFolder(i) + "\\*.*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        while (FindNextFileA(search, &entry)) {
        }
        FindClose(search);
    }
    return Seconds(start, frequency);
}

bool Measure(unsigned count)
{
    std::error_code ignored;
    std::filesystem::remove_all(kFolder, ignored);
    CreateDirectoryA(kFolder, nullptr);
    for (unsigned i = 0; i < count; ++i)
        CreateDirectoryA(SubFolder(i * 7919u % count).c_str(), nullptr);
    LARGE_INTEGER frequency, start;
    QueryPerformanceFrequency(&frequency);
    // The first search of a folder just made costs several times what later
    // ones do (the file system reads it in); both timed runs come after it.
    SearchEachSubFolder(count, frequency);
    QueryPerformanceCounter(&start);
    HANDLE thread = CreateThread(nullptr, 0, RunDialog, nullptr, 0, nullptr);
    HWND dialog = WaitForDialog();
    // The window exists before its initialisation (which fills the tree) has
    // run; a message sent to it is handled only once the dialog waits for input.
    if (dialog)
        SendMessageA(dialog, WM_NULL, 0, 0);
    const double open = Seconds(start, frequency);
    double expand = 0;
    bool expanded = false;
    if (dialog) {
        // The folder is expanded on the dialog's own thread, as a click would.
        HWND tree = GetDlgItem(dialog, IDC_FOLDER_TREE);
        HTREEITEM folder = Child(tree, Child(tree, nullptr, "C:"), "stubkit bench folders");
        QueryPerformanceCounter(&start);
        // A folder without sub-folders has nothing to expand.
        expanded = folder && (SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(folder)) || !count);
        expand = Seconds(start, frequency);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
    WaitForSingleObject(thread, 120000);
    CloseHandle(thread);
    const double searches = SearchEachSubFolder(count, frequency);
    std::filesystem::remove_all(kFolder, ignored);
    if (!dialog || !expanded) {
        std::fprintf(stderr, "dialog-timer: %s\n", dialog ? "the folder could not be expanded" : "no dialog");
        return false;
    }
    std::printf("%-12u %10.3f %12.3f %14.3f\n", count, open, expand, searches);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    ModuleInstance = GetModuleHandleA(nullptr);
    lstrcpyA(SetupCaption, "Bench Setup");
    std::printf("%-12s %10s %12s %14s\n", "sub-folders", "open (s)", "expand (s)", "searches (s)");
    for (int i = 1; i < argc; ++i)
        if (!Measure(static_cast<unsigned>(std::atoi(argv[i]))))
            return 1;
    return 0;
}
