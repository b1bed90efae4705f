// Which registry key records the uninstaller carries out.
#include <windows.h>

#include "common/bounded_text.h"
#include "uninstall/uninstaller.h"

static const char UninstallKeyPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
enum { UninstallKeyPrefixLength = sizeof UninstallKeyPrefix - 1 };

bool StartsWithIgnoringCase(const char* text, const char* prefix)
{
    char head[UninstallPathSize];
    return TextCopyCount(head, sizeof head, text, TextLength(prefix)) && lstrcmpiA(head, prefix) == 0;
}

// The installer records only its own entry below the uninstall list; anything
// else in a log was put there by damage or by hand, and deleting it could take
// a key that belongs to someone else.
bool IsUninstallKeyPath(const char* keyPath)
{
    if (!StartsWithIgnoringCase(keyPath, UninstallKeyPrefix))
        return false;
    const char* name = keyPath + UninstallKeyPrefixLength;
    if (*name == '\0')
        return false;
    for (; *name != '\0'; ++name)
        if (*name == '\\')
            return false;
    return true;
}

// Another installation of the same title elsewhere has made the entry its
// own since; its uninstall string then names another program.
bool KeyNamesThisUninstaller(const char* keyPath, const char* fullPath)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    char stored[UninstallPathSize + 3];
    DWORD size = sizeof stored - 1;
    const bool read = RegQueryValueExA(key, "UninstallString", 0, 0, reinterpret_cast<BYTE*>(stored), &size) ==
                      ERROR_SUCCESS;
    RegCloseKey(key);
    stored[read ? size : 0] = '\0';   // a value read fits below the last byte
    // The path in quotes, and nothing behind them.
    if (stored[0] != '"' || !StartsWithIgnoringCase(stored + 1, fullPath))
        return false;
    const char* rest = stored + 1 + TextLength(fullPath);
    return rest[0] == '"' && rest[1] == '\0';
}
