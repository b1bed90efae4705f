// The uninstaller "davirado.exe": removes what the uninstall data file names,
// then its own two files and every folder that became empty.
#ifndef STUBKIT_UNINSTALLER_H
#define STUBKIT_UNINSTALLER_H

enum { UninstallPathSize = 260 };   // 259 characters and the NUL

// The main routine, given the runtime's parsed arguments. Without an argument
// (first stage) it copies itself into the TEMP (else TMP; an empty value counts
// as unset) folder and starts the copy with its own path, all as wide text; no
// other program can change, delete or rename the copy from its creation until
// it has started. It does the work in place when there is no such folder or
// the copy cannot be made (a stale one that cannot be removed included) or
// started;
// with one (second stage) that argument is the installed program's path.
// Only one uninstaller works at a time: a first stage started while another
// uninstaller or its copy runs says so and ends.
// Returns the exit code: 0 done or copy started, 1 the user declined, 2 the
// data file could not be opened, 3 another uninstaller is at work.
int Uninstaller(int count, char** arguments);

// Deletes the file, then climbs at most 16 folders up removing each one that is
// empty by then. The climb stops before the root and before a folder the user
// or the system owns (see IsProtectedFolder), which it never removes.
void DeleteFileAndEmptyParents(const char* path);

// Where the folder part of `path` ends: right behind its last separator ("\"
// or "/"), else behind its drive ("X:"), else at its start. Double-byte
// characters of the system's code page are stepped over whole.
char* FolderPartEnd(char* path);

// True for the Start-menu Programs, Start Menu, StartUp and desktop folders
// and Documents (the user's and the all-users ones), the user's roaming and
// local application data, the common application data, Program Files and its
// common files (both views), the Windows folder, the user's profile and every
// drive root, as the shell and the environment report them; letter case and
// the spelling of the path (relative, ".", "..", doubled or trailing
// separators, forward slashes) do not matter. Also true for any path it cannot
// compare: \?\, \??\, \.\ and UNC forms, a component ending in a dot or
// blank, a '?' or '~' (a character the code page lacks, a short name), or a
// path too long.
bool IsProtectedFolder(const char* folder);

// True when `text` begins with `prefix` (shorter than UninstallPathSize),
// letter case aside as the system compares names.
bool StartsWithIgnoringCase(const char* text, const char* prefix);

// True when `keyPath` is "Software\Microsoft\Windows\CurrentVersion\Uninstall\"
// (any letter case) followed by exactly one non-empty key name.
bool IsUninstallKeyPath(const char* keyPath);

// True when the key's "UninstallString" is `fullPath` (the installed
// program's absolute path) quoted, letter case aside: the entry is this
// installation's, not that of another copy of the product installed
// elsewhere since.
bool KeyNamesThisUninstaller(const char* keyPath, const char* fullPath);

// True when the shell link at `linkPath` points into `folder` (absolute, with
// its closing backslash; letter case aside), and when there is no such file
// or folder any more. False for a link that cannot be read. COM must be
// initialised.
bool LinkTargetLiesIn(const char* linkPath, const char* folder);

#endif
