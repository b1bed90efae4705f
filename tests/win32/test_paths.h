// What the Windows tests share about files, folders and the registry: where
// they find the programs they drive (beside the test executable's build
// folder, as the build lays them out), and whole files, shell folders and
// keys read and written in one call, and scratch folders.
#ifndef STUBKIT_TEST_PATHS_H
#define STUBKIT_TEST_PATHS_H

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace testpaths {

// Folder of the running test executable, with a trailing backslash.
inline std::string OwnFolder()
{
    char path[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

// A file of the win32 build tree, given relative to it (e.g. "installer\\setup-stub.exe").
inline std::string BuildTreeFile(const std::string& relative)
{
    // Test executables live in <build>\tests\<suite>\.
    return OwnFolder() + "..\\..\\" + relative;
}

inline std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

inline bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline std::string ReadBytes(const std::string& path)   // empty when missing
{
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

// Writes the whole file, making the folders above it; false when it cannot.
inline bool WriteBytes(const std::string& path, const std::string& bytes)
{
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::ofstream out(path, std::ios::binary);
    return static_cast<bool>(out << bytes);
}

// A fresh folder under TEMP, removed with everything in it when the object goes.
struct ScratchFolder {
    ScratchFolder() { std::filesystem::create_directory(path); }
    ~ScratchFolder() { std::filesystem::remove_all(path, ignored); }
    std::error_code ignored;
    const std::string path = (std::filesystem::temp_directory_path() / "stubkit-test-").string() +
                             std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++made);
    static inline int made = 0;
};

inline std::string ShellFolder(int csidl)
{
    char path[MAX_PATH] = {0};
    SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE);
    return path;
}

inline bool KeyExists(const std::string& path)   // below HKEY_LOCAL_MACHINE
{
    HKEY key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS && !RegCloseKey(key);
}

// Points one of the user's shell folders (`name`, e.g. "Programs"; nullptr:
// none) at `folder` while it lives, for this process and the programs it
// starts.
struct ShellFolderRedirect {
    ShellFolderRedirect(const char* name, const std::string& folder) : name(name)
    {
        had = name && !RegGetValueA(HKEY_CURRENT_USER, kKey, name, RRF_RT_ANY | RRF_NOEXPAND, &type, saved, &size);
        if (name)
            RegSetKeyValueA(HKEY_CURRENT_USER, kKey, name, REG_SZ, folder.c_str(), folder.size() + 1);
    }
    // A folder the code page need not hold.
    ShellFolderRedirect(const char* name, const std::wstring& folder) : ShellFolderRedirect(name, std::string())
    {
        std::wstring wideName(name, name + std::strlen(name));
        RegSetKeyValueW(HKEY_CURRENT_USER, kWideKey, wideName.c_str(), REG_SZ, folder.c_str(),
                        static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    }
    ~ShellFolderRedirect()
    {
        if (name)
            had ? RegSetKeyValueA(HKEY_CURRENT_USER, kKey, name, type, saved, size)
                : RegDeleteKeyValueA(HKEY_CURRENT_USER, kKey, name);
    }
    static constexpr const char* kKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    static constexpr const wchar_t* kWideKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    const char* name;
    DWORD type = 0, size = 1024;
    char saved[1024];
    bool had = false;
};

// Runs `use(link, file, widePath)` on a fresh shell link object for the link
// file at `path`, COM brought up around it; false when there is no object.
template <typename Use>
bool WithShellLink(const std::string& path, Use use)
{
    WCHAR widePath[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH);
    const HRESULT com = CoInitialize(nullptr);
    IShellLinkA* link = nullptr;
    IPersistFile* file = nullptr;
    const bool used = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                                 reinterpret_cast<void**>(&link))) &&
                      SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                      use(link, file, widePath);
    if (file)
        file->Release();
    if (link)
        link->Release();
    if (SUCCEEDED(com))
        CoUninitialize();
    return used;
}

// Saves a link at `path` to `target`, as the shell's link object writes it.
inline bool WriteLink(const std::string& path, const std::string& target)
{
    return WithShellLink(path, [&](IShellLinkA* link, IPersistFile* file, const WCHAR* widePath) {
        return SUCCEEDED(link->SetPath(target.c_str())) && SUCCEEDED(file->Save(widePath, TRUE));
    });
}

// A link file as the shell's link object reads it: "target|arguments|icon,index";
// "<unreadable>" when it cannot be loaded.
inline std::string ReadLink(const std::string& path)
{
    std::string contents = "<unreadable>";
    WithShellLink(path, [&](IShellLinkA* link, IPersistFile* file, const WCHAR* widePath) {
        if (FAILED(file->Load(widePath, STGM_READ)))
            return false;
        char target[MAX_PATH] = "", arguments[MAX_PATH] = "", icon[MAX_PATH] = "";
        int iconIndex = -1;
        link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
        link->GetArguments(arguments, MAX_PATH);
        link->GetIconLocation(icon, MAX_PATH, &iconIndex);
        contents = std::string(target) + "|" + arguments + "|" + icon + "," + std::to_string(iconIndex);
        return true;
    });
    return contents;
}

}  // namespace testpaths

#endif
