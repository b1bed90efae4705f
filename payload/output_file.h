// Creation of every file the installer writes: the uninstaller, the uninstall
// data file and each packed file. The only place that creates folders for files.
#ifndef STUBKIT_OUTPUT_FILE_H
#define STUBKIT_OUTPUT_FILE_H

#include <windows.h>

// Creates every missing folder of `path` (a full path of at most 259
// characters), then the file itself for writing, replacing an existing one;
// no other process can open it while the handle is open. Returns the handle,
// which the caller closes, or INVALID_HANDLE_VALUE when the file cannot be
// created, also when the path is longer than 259 characters; the folders
// this call made are then removed again.
HANDLE CreateOutputFile(const char* path);

// Creates every folder along `folderPath`, top down. The path ends in a
// backslash, so its last folder is made too. Folders that exist already, and
// a bare drive, are passed over; failures are not reported.
void CreateFolders(const char* folderPath);

#endif
