// Start-menu and desktop shortcuts, each recorded in the uninstall data file.
// Failures are silent: a shortcut that cannot be made is skipped. Each call
// initialises COM for itself and uninitialises it before returning. The record
// is appended before the link is saved, so it stands even when saving fails;
// a special folder that cannot be found, or a link path longer than 259
// characters, skips the shortcut with no record, no file and no folder.
#ifndef STUBKIT_SHORTCUTS_H
#define STUBKIT_SHORTCUTS_H

#include <windows.h>

// Set when a shortcut was skipped because its special folder has a name the
// system's code page cannot hold, not even as a short name.
extern bool ShortcutFolderUnnamed;

// A link at Programs folder + `relativeLinkPath` (ProgramGroup + "\" +
// LinkName) to `target`, with the target's first icon; appends a "1" record.
void CreateProgramsShortcut(HWND owner, const char* target, const char* relativeLinkPath);

// A link at desktop folder + `linkName` to `target` with `arguments` (null: an
// empty argument list); appends a "2" record.
void CreateDesktopShortcut(HWND owner, const char* target, const char* arguments, const char* linkName);

#endif
