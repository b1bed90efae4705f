// What the end-to-end installation suites share: the installers the fixture
// built, their layout read as the installer reads it, and one installer run
// led box by box through the window driver.
#ifndef STUBKIT_INSTALLATION_HELPERS_H
#define STUBKIT_INSTALLATION_HELPERS_H

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "folder_dialog_window.h"
#include "test_paths.h"
#include "window_driver.h"

namespace installation {

namespace fs = std::filesystem;
using testpaths::Exists;
using testpaths::KeyExists;
using testpaths::ReadBytes;
using testpaths::ShellFolder;
using testpaths::WriteBytes;

inline std::string WindowsPath(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

inline const std::string kInstallers = WindowsPath(INSTALLERS_DIR) + "\\";
inline const std::string kProduct = kInstallers + "product\\";
inline const std::string kUninstallKeys = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline const std::string kIncomplete =
    "Error: This is an incomplete installation file\n(possibly from an incomplete download).";
inline const std::string kCompleteText = "Installation Complete.";
inline const std::string kDesktopQuestion = "Do you wish to create desktop shortcut icons?";
inline constexpr char kSetupClass[] = "Mini Setup Window Class";

inline std::string FreshFolder(const std::string& name)   // removed, not created; ends in a backslash
{
    const std::string folder = "C:\\e2e run\\" + name + "\\";
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories("C:\\e2e run", ignored);
    return folder;
}

// The value as stored: RegGetValueA would expand a REG_EXPAND_SZ value and
// report it as REG_SZ.
inline std::string RegistryText(const std::string& key, const char* name, DWORD* type)
{
    char data[1024] = {0};
    DWORD size = sizeof data;
    HKEY opened;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return "<missing>";
    const LONG read = RegQueryValueExA(opened, name, nullptr, type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(opened);
    if (read != ERROR_SUCCESS)
        return "<missing>";
    return std::string(data, size);   // with its NUL: the stored size is checked too
}

// ---- The installer's own layout, read as the installer reads it ----------

struct PackedFile {
    std::string name;
    uint32_t size;
    FILETIME times[3];   // creation, access, write
};

struct InstallerLayout {
    std::string bytes;
    size_t titleSlot = 0;   // offset of the Title slot of the configuration record
    size_t stubSize = 0;
    size_t tableStart = 0;
    size_t streamStart = 0;
    std::vector<PackedFile> files;
};

inline uint32_t U32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

inline InstallerLayout ReadLayout(const std::string& path, const std::string& title)
{
    InstallerLayout layout;
    layout.bytes = ReadBytes(path);
    layout.titleSlot = layout.bytes.find(title + std::string(1, '\0'));
    layout.stubSize = std::atoi(layout.bytes.c_str() + layout.titleSlot - 32);
    layout.tableStart = layout.stubSize + 12;
    const uint32_t count = U32(layout.bytes, layout.stubSize);
    layout.streamStart = layout.tableStart + U32(layout.bytes, layout.stubSize + 8);
    for (size_t at = layout.tableStart; layout.files.size() < count;) {
        PackedFile file;
        file.size = U32(layout.bytes, at + 4);
        std::memcpy(file.times, layout.bytes.data() + at + 8, sizeof file.times);
        const size_t nameLength = static_cast<unsigned char>(layout.bytes[at + 32]);
        file.name = layout.bytes.substr(at + 33, nameLength);
        layout.files.push_back(file);
        at += 33 + nameLength;
    }
    return layout;
}

// ---- Driving one installer ------------------------------------------------

// One run of an installer: started, then led step by step; every box it
// shows is kept in `boxes`.
struct InstallerRun {
    driver::StartedProcess process;
    std::string caption;
    std::vector<driver::SeenBox> boxes;

    bool started = false;

    // `mayFail`: the system may refuse to start the file (a damaged program).
    InstallerRun(const std::string& installer, const std::string& title, const char* directory = "C:\\",
                 bool mayFail = false)
        : caption(title + " Setup")
    {
        started = driver::Start("\"" + installer + "\"", &process, directory);
        EXPECT_TRUE(started || mayFail) << installer;
    }
    // By a wide path, which the code page need not hold.
    InstallerRun(const std::wstring& installer, const std::string& title) : caption(title + " Setup")
    {
        STARTUPINFOW startup = {sizeof startup};
        PROCESS_INFORMATION info;
        std::wstring line = L"\"" + installer + L"\"";
        started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, L"C:\\", &startup, &info);
        EXPECT_TRUE(started);
        if (started) {
            CloseHandle(info.hThread);
            process.process = info.hProcess;
            process.id = info.dwProcessId;
        }
    }
    ~InstallerRun()
    {
        if (process.process)
            driver::Kill(&process);
    }

    // Answers the next box of the installer (or of `processId`) and returns its text.
    std::string Answer(int button, DWORD processId = 0)
    {
        driver::SeenBox seen;
        if (!driver::AnswerMessageBox(processId ? processId : process.id, button, &seen))
            return "<no box>";
        boxes.push_back(seen);
        return seen.text;
    }

    // Answers the next box with No when it offers No, else with OK; the box
    // may take `timeoutMs` to come (a long installation).
    std::string AnswerNoOrOk(DWORD timeoutMs = driver::kDefaultTimeoutMs)
    {
        HWND box = driver::WaitForWindow(process.id, driver::kMessageBoxClass, nullptr, timeoutMs);
        std::vector<int> buttons;
        for (const DWORD start = GetTickCount(); box && (buttons = driver::MessageBoxButtons(box)).empty() &&
                                                 GetTickCount() - start < driver::kDefaultTimeoutMs;)
            Sleep(20);
        return Answer(std::count(buttons.begin(), buttons.end(), IDNO) ? IDNO : IDOK);
    }

    // Yes to the first question, then `folder` typed into the dialog and OK.
    bool ChooseFolder(const std::string& folder)
    {
        if (Answer(IDYES).find(" will be installed. Do you wish to continue?") == std::string::npos)
            return false;
        HWND dialog = folderdialog::WaitForDialog(process.id);
        return dialog && driver::SetControlText(dialog, folderdialog::kPathEdit, folder) &&
               driver::PressButton(dialog, folderdialog::kOkButton) && driver::WaitUntilClosed(dialog);
    }

    DWORD ExitCode()
    {
        DWORD code = 999;
        EXPECT_TRUE(driver::WaitForExit(&process, &code));
        process.process = nullptr;
        return code;
    }
};

// Installs `installer` into `folder`, answering the desktop question with
// `desktop`, and returns the exit code; the last box must be the completion.
inline DWORD InstallCompletely(const std::string& installer, const std::string& title, const std::string& folder,
                        int desktop)
{
    InstallerRun run(installer, title);
    EXPECT_TRUE(run.ChooseFolder(folder));
    EXPECT_EQ(run.Answer(desktop), kDesktopQuestion);
    EXPECT_EQ(run.Answer(IDOK), kCompleteText);
    EXPECT_EQ(run.boxes.back().caption, title + " Setup");
    EXPECT_EQ(run.boxes.back().buttons, std::vector<int>{IDOK});
    return run.ExitCode();
}

inline std::string FileRecords(const InstallerLayout& layout, const std::string& installDir)
{
    std::string records;
    for (const PackedFile& file : layout.files)
        records += "0" + installDir + file.name + "\n";
    return records;
}

// Every packed file is in place with the product's bytes and the table's times.
inline void ExpectProductInstalled(const InstallerLayout& layout, const std::string& installDir,
                                   const std::string& product = kProduct)
{
    for (const PackedFile& file : layout.files) {
        const std::string path = installDir + file.name;
        HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE) << path;
        FILETIME times[3];
        GetFileTime(handle, &times[0], &times[1], &times[2]);
        CloseHandle(handle);
        EXPECT_EQ(CompareFileTime(&times[2], &file.times[2]), 0) << "write time of " << path;
        // Starting a program reads it, so only files nobody ran keep their access time.
        if (path.substr(path.size() - 4) != ".exe")
            EXPECT_EQ(CompareFileTime(&times[1], &file.times[1]), 0) << "access time of " << path;
        EXPECT_EQ(ReadBytes(path), ReadBytes(product + file.name)) << path;
    }
}

// Starts an uninstaller with `command` (in `directory`, else the test's
// current folder) and answers its question and closing box; returns their
// texts.
inline std::string RunUninstaller(const std::string& command, const char* directory = nullptr)
{
    driver::StartedProcess first;
    if (!driver::Start(command, &first, directory))
        return "<not started>";
    std::string texts;
    for (int button : {IDYES, IDOK}) {
        driver::SeenBox seen;
        texts += driver::AnswerMessageBox(0, button, &seen) ? seen.text + "|" : "<no box>|";
    }
    DWORD code = 0;
    driver::WaitForExit(&first, &code);
    Sleep(500);   // the copy in TEMP ends after its last box
    return texts;
}

// The uninstaller as the list of installed programs starts it: from the
// system folder.
inline std::string UninstallFromRegistry(const std::string& title)
{
    DWORD type = 0;
    std::string command = RegistryText(kUninstallKeys + title, "UninstallString", &type);
    command.resize(command.size() - 1);
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    return RunUninstaller(command, system);
}

}  // namespace installation

#endif
