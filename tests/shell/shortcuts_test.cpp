// In-process under Wine: Start-menu and desktop links made in the prefix's own
// shell folders, read back through the shell's link object, and the records
// they leave in the uninstall data file, in order.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/setup_globals.h"
#include "shell/shortcuts.h"
#include "test_paths.h"
#include "uninstall/uninstall_log.h"

namespace {

namespace fs = std::filesystem;
using testpaths::Exists;
using testpaths::ReadBytes;
using testpaths::ReadLink;
using testpaths::ScratchFolder;
using testpaths::WriteBytes;

std::string Environment(const char* name)
{
    char value[MAX_PATH] = "";
    GetEnvironmentVariableA(name, value, MAX_PATH);
    return value;
}

// Where the user's shell folders lie in a Wine prefix, found without the shell.
const std::string kPrograms = Environment("APPDATA") + "\\Microsoft\\Windows\\Start Menu\\Programs\\";
const std::string kDesktop = Environment("USERPROFILE") + "\\Desktop\\";
// Every group and desktop link of a run starts with this; removed afterwards.
const std::string kOurs = "stubkit-test-" + std::to_string(GetCurrentProcessId());

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

struct ShortcutCase {
    const char* label;
    bool desktop;
    std::string linkName;         // below Programs (group included) or on the desktop
    std::string target;           // relative to the installation folder
    const char* arguments;        // desktop links only
    const char* hiddenFolder;     // shell folder that can't be found during the call
    bool made, recorded;
};

// A Start-menu link name that makes the whole link path `length` characters long.
std::string LinkNameOfPathLength(const std::string& group, size_t length)
{
    return group + "\\" + std::string(length - kPrograms.size() - group.size() - 1 - 4, 'n') + ".lnk";
}

std::vector<ShortcutCase> Cases()
{
    const std::string existing = kOurs + " Korvan", fresh = kOurs + " Fresh", upperMissing = kOurs + " Upper";
    const std::string longGroup = kOurs + " Long";
    return {
        {"group folder that exists", false, existing + "\\Korvan.lnk", "bin\\korvan.exe", nullptr, nullptr, true, true},
        {"group folder made for it, target without an icon", false, fresh + "\\Read me.lnk", "readme.txt", nullptr,
         nullptr, true, true},
        {"nested group under an existing one", false, existing + "\\Tools\\Tool.lnk", "bin\\korvan.exe", nullptr,
         nullptr, true, true},
        {"nested group whose upper level is missing", false, upperMissing + "\\Lower\\Lost.lnk", "bin\\korvan.exe",
         nullptr, nullptr, false, true},
        {"blanks and code page 1252 characters", false, existing + "\\Caf\xE9 \xD1" "and\xFA \x96 \xDC" "ber stra\xDF" "e.lnk",
         "bin\\korvan.exe", nullptr, nullptr, true, true},
        {"link path of 260 characters", false, LinkNameOfPathLength(longGroup, 260), "readme.txt", nullptr, nullptr,
         false, false},
        {"link path of 259 characters", false, LinkNameOfPathLength(longGroup, 259), "readme.txt", nullptr, nullptr,
         true, true},
        {"Programs folder not found", false, existing + "\\Hidden.lnk", "bin\\korvan.exe", nullptr, "Programs", false,
         false},
        {"desktop, null arguments", true, kOurs + " Korvan.lnk", "bin\\korvan.exe", nullptr, nullptr, true, true},
        {"desktop, real arguments", true, kOurs + " Korvan Safe \xC6r\xF8.lnk", "bin\\korvan.exe",
         "/safe \"C:\\My Data\" /x", nullptr, true, true},
        {"desktop, target without an icon", true, kOurs + " Read me.lnk", "readme.txt", "", nullptr, true, true},
    };
}

class Shortcuts : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::strcpy(InstallDir, (scratch_.path + "\\Korvan Suite\\").c_str());
        ASSERT_TRUE(CreateUninstallLog("Korvan Suite"));
        fs::create_directories(std::string(InstallDir) + "bin");
        char system[MAX_PATH];
        GetSystemDirectoryA(system, MAX_PATH);
        ASSERT_TRUE(CopyFileA((std::string(system) + "\\notepad.exe").c_str(),
                              (std::string(InstallDir) + "bin\\korvan.exe").c_str(), FALSE));
        WriteBytes(std::string(InstallDir) + "readme.txt", "no icon here");
        ASSERT_TRUE(CreateDirectoryA((kPrograms + kOurs + " Korvan").c_str(), nullptr));
    }
    void TearDown() override
    {
        CloseUninstallLog();
        for (const std::string& folder : {kPrograms, kDesktop})
            for (const fs::directory_entry& entry : fs::directory_iterator(folder))
                if (entry.path().filename().string().rfind(kOurs, 0) == 0)
                    fs::remove_all(entry.path());
    }
    ScratchFolder scratch_;
};

TEST_F(Shortcuts, EachRowMakesItsLinkWithTargetArgumentsAndIconAndRecordsItBeforeSaving)
{
    ASSERT_EQ(GetACP(), 1252u) << "the names below are code page 1252 text";
    std::string expectedLog = "Korvan Suite\n";
    for (const ShortcutCase& row : Cases()) {
        SCOPED_TRACE(row.label);
        const std::string target = std::string(InstallDir) + row.target;
        const std::string linkPath = (row.desktop ? kDesktop : kPrograms) + row.linkName;
        {
            // Only "Programs" can be hidden in-process: the shell keeps the desktop's path from its first use.
            testpaths::ShellFolderRedirect hidden(row.hiddenFolder, "C:\\stubkit-missing-shell-folder\\nowhere");
            if (row.desktop)
                CreateDesktopShortcut(nullptr, target.c_str(), row.arguments, row.linkName.c_str());
            else
                CreateProgramsShortcut(nullptr, target.c_str(), row.linkName.c_str());
        }
        const HRESULT comState = CoInitialize(nullptr);
        CoUninitialize();
        EXPECT_EQ(comState, S_OK) << "COM left initialised";
        if (row.recorded)
            expectedLog += (row.desktop ? "2" : "1") + linkPath + "\n";
        EXPECT_EQ(GetFileSize(UninstallLog, nullptr), expectedLog.size()) << "records so far";
        EXPECT_EQ(Exists(linkPath), row.made);
        if (!row.hiddenFolder)
            EXPECT_EQ(Exists(FolderOf(linkPath)), row.made) << "folder of a link not made";
        if (row.made)
            EXPECT_EQ(ReadLink(linkPath), target + "|" + (row.arguments ? row.arguments : "") + "|" + target + ",0");
    }
    CloseUninstallLog();
    EXPECT_EQ(ReadBytes(std::string(InstallDir) + "davirado.dat"), expectedLog);
}

// A Programs folder whose name the code page cannot hold ("Łódź"): its narrow
// spelling would be a look-alike ("Lodz") that may well exist. The link is
// made in the real folder, reached and recorded by its short name; the
// look-alike stays untouched.
TEST_F(Shortcuts, AProgramsFolderOutsideTheCodePageGetsItsLinkByTheShortNameNotTheLookAlike)
{
    const std::wstring top = L"C:\\stubkit \u0141\u00f3d\u017a", real = top + L"\\Programs";
    const std::string lookAlike = "C:\\stubkit Lodz\\Programs";
    fs::create_directories(fs::path(real));
    fs::create_directories(lookAlike);
    const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    wchar_t saved[1024];
    DWORD type = 0, size = sizeof saved;
    const bool had = !RegGetValueW(HKEY_CURRENT_USER, key, L"Programs", RRF_RT_ANY | RRF_NOEXPAND, &type, saved, &size);
    RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Programs", REG_SZ, real.c_str(), DWORD((real.size() + 1) * 2));
    const std::string target = std::string(InstallDir) + "readme.txt";
    CreateProgramsShortcut(nullptr, target.c_str(), (kOurs + " Group\\Read me.lnk").c_str());
    had ? RegSetKeyValueW(HKEY_CURRENT_USER, key, L"Programs", type, saved, size)
        : RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"Programs");
    CloseUninstallLog();
    const std::string log = ReadBytes(std::string(InstallDir) + "davirado.dat");
    ASSERT_EQ(log.rfind("Korvan Suite\n1", 0), 0u) << log;
    const std::string linkPath = log.substr(sizeof "Korvan Suite\n1" - 1, log.size() - sizeof "Korvan Suite\n1");
    EXPECT_EQ(linkPath.find('?'), std::string::npos) << linkPath;
    EXPECT_EQ(ReadLink(linkPath), target + "||" + target + ",0");
    EXPECT_NE(GetFileAttributesW((real + L"\\" + std::wstring(kOurs.begin(), kOurs.end()) + L" Group\\Read me.lnk").c_str()),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(ShortcutFolderUnnamed);
    EXPECT_TRUE(fs::is_empty(lookAlike));
    std::error_code ignored;
    fs::remove_all(fs::path(top), ignored);
    fs::remove_all("C:\\stubkit Lodz", ignored);
}

}  // namespace
