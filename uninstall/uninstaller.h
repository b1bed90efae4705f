// The uninstaller "davirado.exe": removes what the uninstall data file names,
// then its own two files and every folder that became empty.
#ifndef STUBKIT_UNINSTALLER_H
#define STUBKIT_UNINSTALLER_H

enum { UninstallPathSize = 260 };   // 259 characters and the NUL

// The main routine, given the runtime's parsed arguments. Without an argument
// (first stage) it copies itself into the TEMP (else TMP) folder and starts the
// copy with its own path; with one (second stage) that argument is the
// installed program's path. Returns the exit code: 0 done or copy started,
// 1 the user declined, 2 the data file could not be opened.
int Uninstaller(int count, char** arguments);

// Deletes the file, then climbs at most 16 folders up removing each one that is
// empty by then. The climb stops before the root and before a folder the user
// or the system owns (see IsProtectedFolder), which it never removes.
void DeleteFileAndEmptyParents(const char* path);

// True for the Start-menu Programs, Start Menu and desktop folders (the user's
// and the all-users ones), Program Files, the Windows folder and the user's
// profile, as the shell reports them; letter case and the spelling of the
// path (relative, "..", forward slashes) do not matter.
bool IsProtectedFolder(const char* folder);

// True when `keyPath` is "Software\Microsoft\Windows\CurrentVersion\Uninstall\"
// (any letter case) followed by exactly one non-empty key name.
bool IsUninstallKeyPath(const char* keyPath);

#endif
