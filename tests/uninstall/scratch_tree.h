// Scratch folders, files and registry keys for the uninstaller's tests, all
// below one root per test so a run never touches anything else.
#ifndef STUBKIT_SCRATCH_TREE_H
#define STUBKIT_SCRATCH_TREE_H

#include <windows.h>

#include <string>

namespace scratch {

inline bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Creates the folder and every missing one above it; `path` ends in a backslash.
inline void MakeFolders(const std::string& path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
}

// Writes `bytes` as the whole file, creating its folders.
inline bool WriteFile(const std::string& path, const std::string& bytes)
{
    MakeFolders(path.substr(0, path.find_last_of('\\') + 1));
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    CloseHandle(file);
    return ok;
}

inline std::string ReadFile(const std::string& path)
{
    std::string bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char chunk[65536];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

// Deletes a folder with everything in it (nothing when it does not exist).
inline void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

// A fresh, empty folder for one test: "C:\stubkit-uninstall\<name>\".
inline std::string FreshRoot(const std::string& name)
{
    std::string root = "C:\\stubkit-uninstall\\" + name;
    RemoveTree(root);
    MakeFolders(root + "\\");
    return root + "\\";
}

inline bool KeyExists(const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Creates the key below HKEY_LOCAL_MACHINE with a string value, as the
// installer registers a product.
inline bool CreateKey(const std::string& path, const char* valueName = nullptr,
                      const std::string& value = std::string())
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    if (valueName)
        RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return true;
}

// Deletes a key and its subkeys below HKEY_LOCAL_MACHINE (test clean-up).
inline void DeleteKeyTree(const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        char name[256];
        while (RegEnumKeyA(key, 0, name, sizeof name) == ERROR_SUCCESS)
            DeleteKeyTree(path + "\\" + name);
        RegCloseKey(key);
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
}

constexpr const char* kUninstallKeys = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Replaces every "{name}" in `text` by `value`.
inline std::string Fill(std::string text, const std::string& name, const std::string& value)
{
    const std::string mark = "{" + name + "}";
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
        text.replace(at, mark.size(), value);
    return text;
}

constexpr const char* kUserShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// Points one of the shell's special folders at `folder` for as long as it
// lives (programs started meanwhile see it too), then restores the value.
class ShellFolderRedirect {
public:
    ShellFolderRedirect(HKEY root, const char* key, const char* value, const std::string& folder)
        : value_(value)
    {
        RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        had_ = RegQueryValueExA(key_, value, nullptr, &type_, saved_, &size_) == ERROR_SUCCESS;
        RegSetValueExA(key_, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>(folder.size() + 1));
    }
    ~ShellFolderRedirect()
    {
        if (had_)
            RegSetValueExA(key_, value_, 0, type_, saved_, size_);
        else
            RegDeleteValueA(key_, value_);
        RegCloseKey(key_);
    }
    ShellFolderRedirect(const ShellFolderRedirect&) = delete;
    ShellFolderRedirect& operator=(const ShellFolderRedirect&) = delete;

private:
    const char* value_;
    HKEY key_ = nullptr;
    bool had_ = false;
    DWORD type_ = 0;
    BYTE saved_[1024] = {0};
    DWORD size_ = sizeof saved_;
};

}  // namespace scratch

#endif
