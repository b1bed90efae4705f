// Creating and closing the installer's uninstall data file. The appending
// operations are in uninstall_log.h.
#ifndef STUBKIT_LOG_WRITER_H
#define STUBKIT_LOG_WRITER_H

// Creates InstallDir + "davirado.dat" (with any missing folders, replacing an
// earlier log), keeps it open as UninstallLog and writes `title` (at most 259
// characters of it) as the first line. False when the file cannot be created.
bool CreateUninstallLog(const char* title);

// Closes UninstallLog if it is open; nothing is buffered, so nothing is lost.
void CloseUninstallLog(void);

#endif
