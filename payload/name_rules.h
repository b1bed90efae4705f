// Which names in the file table the installer accepts. Compiled into the
// installer and into the host tool alike, so `stubkit build`, `stubkit test`
// and the installer decide every name the same way.
#ifndef STUBKIT_NAME_RULES_H
#define STUBKIT_NAME_RULES_H

// True when the path component names a device rather than a file: its base
// name (up to the first dot, trailing blanks dropped, any letter case) is CON,
// PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9, CONIN$ or CONOUT$. Windows opens
// the device for such a name in any folder, so "sub\nul.txt" writes nowhere
// and "COM1" to a port.
bool IsDeviceName(const char* component, unsigned length);

// True when a file-table name stays inside InstallDir and names a file: no
// leading separator (a rooted path), no colon (a drive, or a stream of another
// file), no component that climbs a level, and no device name anywhere.
// Backslash and slash both separate.
bool IsInstallableName(const char* name);

#endif
