// The dialog's tree of fixed and network drives and their folders. It holds
// one level more than is visible, so an item shows an expand button exactly
// when it has sub-folders, and it writes the selected folder's path into the
// dialog's path edit box. Items carry no paths: a path is rebuilt from the
// texts of an item and its ancestors.
#ifndef STUBKIT_FOLDER_TREE_H
#define STUBKIT_FOLDER_TREE_H

#include <windows.h>
#include <commctrl.h>

enum { TreePathSize = 261 };   // every path and item text the tree handles: 260 characters

// Loads the common controls from the system folder (once) and registers the
// tree-view class. False when they cannot be loaded; the dialog then opens
// without a tree.
bool LoadCommonControls();

// Creates the tree in the dialog with its pictures, the drives and the first
// level of folders on each. Returns the tree, or 0 when it cannot be created.
HWND CreateFolderTree(HWND dialog);

// Destroys the tree's pictures; called once the dialog has ended.
void ReleaseFolderTreeImages();

// Adds a root item for each fixed and network drive from C: to Z:, each with
// its first level of folders.
void AddDriveItems(HWND tree);

// With item 0, first inserts a root item `path` (a drive such as "C:") with
// the picture of `driveType`. Then lists the sub-folders of `path` under the
// item, skipping ".", "..", names the item already has (ignoring case) and
// folders whose path would not fit in TreePathSize.
void AddFolderItem(HWND tree, HTREEITEM item, const char* path, UINT driveType);

// 1 when `parent` has a child named `name` (ignoring case), else 0.
int FindChildItem(HWND tree, HTREEITEM parent, const char* name);

// Reads the item's text into a buffer of TreePathSize bytes; false when the
// tree cannot give it.
bool ReadItemText(HWND tree, HTREEITEM item, char* text);

// The item's path, each ancestor's text and its own followed by a backslash
// ("C:\Program Files\"). Returns `out`, or 0 (with `out` cut) when the path
// does not fit in `capacity`.
char* GetItemPath(HWND tree, HTREEITEM item, char* out, int capacity);

// The dialog passes every notification of the tree here: expanding lists the
// grandchildren, collapsing drops them, a new selection writes its path into
// the dialog's path edit box.
void OnFolderTreeNotify(HWND tree, NMTREEVIEWA* notification);

#endif
