// Which shortcut records the uninstaller carries out.
#include <windows.h>
#include <shlobj.h>

#include "uninstall/uninstaller.h"

// A link of the same name may since have been made by another installation
// (a second copy of the product, or another product sharing the group): its
// target then lies elsewhere. A link that is gone leaves only its emptied
// folders to remove; one that cannot be read is somebody else's.
bool LinkTargetLiesIn(const char* linkPath, const char* folder)
{
    WCHAR wideLinkPath[UninstallPathSize];
    char target[UninstallPathSize];
    target[0] = '\0';
    HRESULT loaded = E_FAIL;
    IShellLinkA* link = 0;
    IPersistFile* file = 0;
    if (MultiByteToWideChar(CP_ACP, 0, linkPath, -1, wideLinkPath, UninstallPathSize) &&
        SUCCEEDED(CoCreateInstance(CLSID_ShellLink, 0, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(loaded = file->Load(wideLinkPath, STGM_READ)))
        link->GetPath(target, sizeof target, 0, SLGP_RAWPATH);
    if (file)
        file->Release();
    if (link)
        link->Release();
    if (loaded == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || loaded == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
        return true;
    return StartsWithIgnoringCase(target, folder);
}
