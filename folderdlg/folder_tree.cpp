#include "folderdlg/folder_tree.h"

#include "common/bounded_text.h"
#include "common/system_dlls.h"
#include "folderdlg/dialog_ids.h"
#include "common/setup_globals.h"

// Pictures of the image list (bitmap FOLDER_IMAGES_BITMAP), in its order.
enum {
    FixedDrivePicture = 0,
    NetworkDrivePicture = 1,
    ClosedFolderPicture = 3,
    OpenFolderPicture = 4,
    PictureWidth = 16
};

// The common controls are loaded at run time from the system folder: a static
// import would let a comctl32.dll planted beside the installer be loaded
// instead, before any of the installer's own code has run.
typedef BOOL(WINAPI* InitCommonControlsExCall)(const INITCOMMONCONTROLSEX* classes);
typedef HIMAGELIST(WINAPI* ImageListLoadImageCall)(HINSTANCE instance, LPCSTR name, int width,
                                                  int grow, COLORREF mask, UINT type, UINT flags);
typedef BOOL(WINAPI* ImageListDestroyCall)(HIMAGELIST images);

static ImageListLoadImageCall LoadImageList;
static ImageListDestroyCall DestroyImageList;
static HIMAGELIST FolderImages;

bool LoadCommonControls()
{
    HMODULE controls = LoadSystemLibrary("comctl32.dll");
    if (!controls)
        return false;
    InitCommonControlsExCall initialise =
        (InitCommonControlsExCall)ProcedureAddress(controls, "InitCommonControlsEx");
    LoadImageList = (ImageListLoadImageCall)ProcedureAddress(controls, "ImageList_LoadImageA");
    DestroyImageList = (ImageListDestroyCall)ProcedureAddress(controls, "ImageList_Destroy");
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_TREEVIEW_CLASSES};
    return initialise && initialise(&classes);
}

static HTREEITEM FirstChild(HWND tree, HTREEITEM item)
{
    return (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)item);
}

static HTREEITEM NextSibling(HWND tree, HTREEITEM item)
{
    return (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)item);
}

bool ReadItemText(HWND tree, HTREEITEM item, char* text)
{
    TVITEMA request = {};
    request.mask = TVIF_TEXT;
    request.hItem = item;
    request.pszText = text;
    request.cchTextMax = TreePathSize;
    text[0] = '\0';
    return SendMessageA(tree, TVM_GETITEMA, 0, (LPARAM)&request) != 0;
}

// Neither selected nor expanded, no item data; placed after `after` (an
// item, TVI_FIRST or TVI_LAST).
__attribute__((noinline)) static HTREEITEM InsertItem(HWND tree, HTREEITEM parent, HTREEITEM after, const char* text, int picture,
                            int selectedPicture)
{
    TVINSERTSTRUCTA insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = after;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_STATE | TVIF_SELECTEDIMAGE;
    insert.item.state = 0;
    insert.item.stateMask = TVIS_SELECTED | TVIS_EXPANDED;
    insert.item.pszText = (char*)text;
    insert.item.iImage = picture;
    insert.item.iSelectedImage = selectedPicture;
    return (HTREEITEM)SendMessageA(tree, TVM_INSERTITEMA, 0, (LPARAM)&insert);
}

HWND CreateFolderTree(HWND dialog)
{
    // Set field by field: an initialiser list would be kept as a copy in a
    // data section of its own, a 512-byte block of the file for 16 bytes.
    RECT area;
    area.left = 10;
    area.top = 50;
    area.right = 190;
    area.bottom = 190;
    MapDialogRect(dialog, &area);
    HWND tree = CreateWindowExA(WS_EX_CLIENTEDGE, "SysTreeView32", "",
                                WS_CHILD | WS_VISIBLE | WS_BORDER | TVS_HASBUTTONS | TVS_HASLINES |
                                    TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                                area.left, area.top, area.right - area.left, area.bottom - area.top,
                                dialog, (HMENU)IDC_FOLDER_TREE, ModuleInstance, 0);
    if (!tree)
        return 0;
    if (LoadImageList) {
        FolderImages = LoadImageList(ModuleInstance, MAKEINTRESOURCEA(FOLDER_IMAGES_BITMAP),
                                     PictureWidth, 0, CLR_DEFAULT, IMAGE_BITMAP, 0);
        SendMessageA(tree, TVM_SETIMAGELIST, TVSIL_NORMAL, (LPARAM)FolderImages);
    }
    AddDriveItems(tree);
    return tree;
}

// A: and B: are never examined: asking for a floppy can stall or prompt.
void AddDriveItems(HWND tree)
{
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        char drive[4] = {letter, ':', '\\', '\0'};
        UINT type = GetDriveTypeA(drive);
        if (type == DRIVE_FIXED || type == DRIVE_REMOTE) {
            drive[2] = '\0';
            AddFolderItem(tree, 0, drive, type);
        }
    }
}

static bool EndsWithBackslash(const char* text)
{
    unsigned length = TextLength(text);
    return length > 0 && text[length - 1] == '\\';
}

// "." and "..": the folder itself and its parent.
static bool IsDotEntry(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// "." and ".." never, and a folder only when its own path (`baseLength`
// characters of the folder's path with its backslash, the name and a
// backslash) still fits.
static bool IsListedFolder(unsigned baseLength, const WIN32_FIND_DATAA& entry)
{
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsDotEntry(entry.cFileName) &&
           baseLength + TextLength(entry.cFileName) + 1 < TreePathSize;
}

// Drops every child that follows one of the same name, letter case aside.
// The sort keeps equal names in the order they were inserted, so the child
// that stays is the one listed first: an older one, or the first the search
// found.
static void DropRepeatedNames(HWND tree, HTREEITEM item)
{
    char texts[2][TreePathSize];
    int current = 0;
    texts[1][0] = '\0';
    for (HTREEITEM child = FirstChild(tree, item), next; child; child = next) {
        next = NextSibling(tree, child);
        ReadItemText(tree, child, texts[current]);
        if (lstrcmpiA(texts[current], texts[current ^ 1]) == 0)
            SendMessageA(tree, TVM_DELETEITEM, 0, (LPARAM)child);
        else
            current ^= 1;
    }
}

void ReleaseFolderTreeImages()
{
    if (FolderImages && DestroyImageList)
        DestroyImageList(FolderImages);
    FolderImages = 0;
}

void AddFolderItem(HWND tree, HTREEITEM item, const char* path, UINT driveType)
{
    if (!item) {
        int picture = driveType == DRIVE_REMOTE ? NetworkDrivePicture : FixedDrivePicture;
        item = InsertItem(tree, 0, TVI_SORT, path, picture, picture);
        if (!item)
            return;
    }
    char pattern[TreePathSize];
    if (!TextCopy(pattern, sizeof pattern, path))
        return;
    if (!EndsWithBackslash(pattern) && !TextAppend(pattern, sizeof pattern, "\\"))
        return;
    unsigned baseLength = TextLength(pattern);
    if (!TextAppend(pattern, sizeof pattern, "*.*"))
        return;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    // Appending costs the control nothing per sibling, and one sort puts them
    // in order. Looking for each among its siblings and inserting each in
    // sorted order would cost time in the square of their number: minutes
    // for a folder of tens of thousands.
    bool listed = false;
    do {
        if (IsListedFolder(baseLength, entry) &&
            InsertItem(tree, item, TVI_LAST, entry.cFileName, ClosedFolderPicture, OpenFolderPicture))
            listed = true;
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    if (!listed)
        return;
    SendMessageA(tree, TVM_SORTCHILDREN, FALSE, (LPARAM)item);
    DropRepeatedNames(tree, item);
}

int FindChildItem(HWND tree, HTREEITEM parent, const char* name)
{
    char text[TreePathSize];
    for (HTREEITEM child = FirstChild(tree, parent); child; child = NextSibling(tree, child))
        if (ReadItemText(tree, child, text) && lstrcmpiA(text, name) == 0)
            return 1;
    return 0;
}

char* GetItemPath(HWND tree, HTREEITEM item, char* out, int capacity)
{
    out[0] = '\0';
    HTREEITEM parent = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_PARENT, (LPARAM)item);
    if (parent && !GetItemPath(tree, parent, out, capacity))
        return 0;
    char text[TreePathSize];
    if (!ReadItemText(tree, item, text))
        return out;
    if (!TextAppend(out, capacity, text) || !TextAppend(out, capacity, "\\"))
        return 0;
    return out;
}

// Keeps the tree one level ahead of what the user sees: the children of an
// opened item get their own children, so each shows an expand button exactly
// when it has sub-folders. The opened item's path is composed once, each
// child's name put behind it: asking the control for every ancestor of every
// child costs a message each, and a control that checks every item it is
// given against all of its items makes that cost grow with the whole tree.
static void ListGrandchildren(HWND tree, HTREEITEM item)
{
    char path[TreePathSize];
    char name[TreePathSize];
    if (!GetItemPath(tree, item, path, sizeof path))
        return;
    unsigned parentLength = TextLength(path);
    for (HTREEITEM child = FirstChild(tree, item); child; child = NextSibling(tree, child)) {
        path[parentLength] = '\0';
        // AddFolderItem puts the backslash behind the name.
        if (ReadItemText(tree, child, name) && TextAppend(path, sizeof path, name))
            AddFolderItem(tree, child, path, 0);
    }
}

// The children stay (so the item keeps its button); their sub-folders are
// read afresh when it is opened again.
static void DropGrandchildren(HWND tree, HTREEITEM item)
{
    for (HTREEITEM child = FirstChild(tree, item); child; child = NextSibling(tree, child))
        for (HTREEITEM grandchild; (grandchild = FirstChild(tree, child));)
            SendMessageA(tree, TVM_DELETEITEM, 0, (LPARAM)grandchild);
}

static void ShowSelectedPath(HWND tree, HTREEITEM item)
{
    char path[TreePathSize];
    if (GetItemPath(tree, item, path, sizeof path))
        SetDlgItemTextA(GetParent(tree), IDC_PATH_EDIT, path);
}

void OnFolderTreeNotify(HWND tree, NMTREEVIEWA* notification)
{
    switch (notification->hdr.code) {
    case TVN_ITEMEXPANDINGA:
        if (notification->action & TVE_EXPAND)
            ListGrandchildren(tree, notification->itemNew.hItem);
        else
            DropGrandchildren(tree, notification->itemNew.hItem);
        break;
    case TVN_SELCHANGEDA:
        ShowSelectedPath(tree, notification->itemNew.hItem);
        break;
    }
}
