#include "folderdlg/dir_select_dialog.h"

#include "common/bounded_text.h"
#include "folderdlg/dialog_ids.h"
#include "folderdlg/folder_tree.h"
#include "common/config_block.h"
#include "common/setup_globals.h"

int RunDirSelectDialog(HWND owner, char* path, int capacity)
{
    DirSelectState* state = (DirSelectState*)GlobalAlloc(GPTR, sizeof(DirSelectState));
    if (!state)
        return 0;
    TextCopy(state->initial_path, sizeof state->initial_path, path);
    TextCopy(state->edited_path, sizeof state->edited_path, path);
    state->cancelled = 0;
    LoadCommonControls();
    DialogBoxParamA(ModuleInstance, DIR_SELECT_DIALOG_NAME, owner, DirSelectDialogProc,
                    (LPARAM)state);
    ReleaseFolderTreeImages();
    int chosen = 0;
    // Byte for byte: a folder typed in other letters is the user's choice, and
    // the system's comparison would pass over characters it ignores.
    if (!TextEquals(state->edited_path, state->initial_path) && !state->cancelled) {
        TextCopy(path, capacity, state->edited_path);
        chosen = 1;
    }
    GlobalFree(state);
    return chosen;
}

static DirSelectState* StateOf(HWND dialog)
{
    return (DirSelectState*)GetWindowLongPtrA(dialog, GWLP_USERDATA);
}

// The proposal is the given folder with DefaultFolder inside it; a text too
// long for the edited path is cut to fit.
static void ProposeDefaultFolder(DirSelectState* state)
{
    char defaultFolder[ConfigTextCapacity];
    TextCopyCount(defaultFolder, sizeof defaultFolder, Config.DefaultFolder, ConfigTextCapacity - 1);
    unsigned length = TextLength(state->edited_path);
    if (length == 0 || state->edited_path[length - 1] != '\\')
        TextAppend(state->edited_path, sizeof state->edited_path, "\\");
    TextAppend(state->edited_path, sizeof state->edited_path, defaultFolder);
}

static void OnInitDialog(HWND dialog, DirSelectState* state)
{
    SetWindowTextA(dialog, SetupCaption);
    SetWindowLongPtrA(dialog, GWLP_USERDATA, (LONG_PTR)state);
    state->cancelled = 0;
    HWND tree = CreateFolderTree(dialog);
    if (tree)
        SelectPathInTree(state->initial_path, 0, tree);
    // The walk has written tree paths into the edit box; the proposal replaces them.
    ProposeDefaultFolder(state);
    SetDlgItemTextA(dialog, IDC_PATH_EDIT, state->edited_path);
}

// Windows drops the blanks and dots that end a folder's name, so the files
// would land in another folder than the one typed: such a name is refused.
// "." and ".." step, and stay allowed. No trail byte of a double-byte
// character is a blank or a dot, so the bytes are read one by one.
static bool KeepsEveryFolderName(const char* path)
{
    const char* start = path;
    for (const char* c = path;; ++c) {
        if (*c != '\0' && *c != '\\' && *c != '/')
            continue;
        const int length = static_cast<int>(c - start);
        const bool steps = (length == 1 && start[0] == '.') || (length == 2 && start[0] == '.' && start[1] == '.');
        if (length > 0 && (c[-1] == ' ' || c[-1] == '.') && !steps)
            return false;
        if (*c == '\0')
            return true;
        start = c + 1;
    }
}

void UpdateOkButton(HWND dialog)
{
    char text[DialogPathSize];
    GetDlgItemTextA(dialog, IDC_PATH_EDIT, text, sizeof text);
    EnableWindow(GetDlgItem(dialog, IDC_OK_BUTTON), text[0] != '\0' && KeepsEveryFolderName(text));
}

static void OnCommand(HWND dialog, int id, int notification)
{
    DirSelectState* state = StateOf(dialog);
    switch (id) {
    case IDC_PATH_EDIT:
        if (notification == EN_CHANGE || notification == EN_UPDATE)
            UpdateOkButton(dialog);
        break;
    case IDC_OK_BUTTON:
        GetDlgItemTextA(dialog, IDC_PATH_EDIT, state->edited_path, sizeof state->edited_path);
        EndDialog(dialog, 0);
        break;
    case IDC_CANCEL_BUTTON:
    case IDCANCEL:
        state->cancelled = 1;
        EndDialog(dialog, 0);
        break;
    }
}

// The tree's expansions are never refused: no message result is set.
INT_PTR CALLBACK DirSelectDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(dialog, (DirSelectState*)lParam);
        return TRUE;
    case WM_COMMAND:
        OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY:
        if (((NMHDR*)lParam)->idFrom == IDC_FOLDER_TREE)
            OnFolderTreeNotify(((NMHDR*)lParam)->hwndFrom, (NMTREEVIEWA*)lParam);
        return TRUE;
    }
    return FALSE;
}

// Each level works on its own copy of the path and its own text buffer, both
// zero-filled and freed before the level returns.
void SelectPathInTree(const char* path, HTREEITEM parent, HWND tree)
{
    if (path[0] == '\0') {
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)parent);
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)parent);
        return;
    }
    char* component = (char*)GlobalAlloc(GPTR, DialogPathSize);
    char* text = (char*)GlobalAlloc(GPTR, TreePathSize);
    if (component && text) {
        TextCopy(component, DialogPathSize, path);
        const char* remainder = "";
        for (char* cursor = component; *cursor; ++cursor)
            if (*cursor == '\\') {
                *cursor = '\0';
                remainder = path + (cursor - component) + 1;
                break;
            }
        // Selecting a child of a collapsed item makes the tree expand that
        // item, which lists the level below before the walk gets there.
        HTREEITEM item = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM,
                                                 parent ? TVGN_CHILD : TVGN_ROOT, (LPARAM)parent);
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)item);
        for (; item; item = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)item)) {
            if (ReadItemText(tree, item, text) && lstrcmpiA(text, component) == 0) {
                SelectPathInTree(remainder, item, tree);
                break;
            }
        }
    }
    GlobalFree(component);
    GlobalFree(text);
}
