// Which registry key records the uninstaller carries out.
#include <windows.h>

#include "common/bounded_text.h"
#include "uninstall/uninstaller.h"

static const char UninstallKeyPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
enum { UninstallKeyPrefixLength = sizeof UninstallKeyPrefix - 1 };

// The installer records only its own entry below the uninstall list; anything
// else in a log was put there by damage or by hand, and deleting it could take
// a key that belongs to someone else.
bool IsUninstallKeyPath(const char* keyPath)
{
    char head[sizeof UninstallKeyPrefix];
    TextCopyCount(head, sizeof head, keyPath, UninstallKeyPrefixLength);
    if (lstrcmpiA(head, UninstallKeyPrefix) != 0)
        return false;
    const char* name = keyPath + UninstallKeyPrefixLength;
    if (*name == '\0')
        return false;
    for (; *name != '\0'; ++name)
        if (*name == '\\')
            return false;
    return true;
}
