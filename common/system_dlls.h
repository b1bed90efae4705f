// Keeps the Windows programs from loading DLLs planted beside them: a program
// started from a download or TEMP folder must take system DLLs from the
// system folder only.
#ifndef STUBKIT_SYSTEM_DLLS_H
#define STUBKIT_SYSTEM_DLLS_H

#include <windows.h>

// Limits the DLL search of every later load to the system folder where the
// system can (SetDefaultDllDirectories), else drops the current directory
// from it (SetDllDirectoryA("")). Call it before anything else runs.
void RestrictDllSearchToSystemFolder();

// Loads `name` (e.g. "comctl32.dll") from the system folder by its full path.
// Returns 0 when the path does not fit or the load fails.
HMODULE LoadSystemLibrary(const char* name);

// The address of `module`'s export `name`, to be cast to its function type;
// 0 when the module lacks it.
void* ProcedureAddress(HMODULE module, const char* name);

#endif
