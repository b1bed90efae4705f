// Installers made by the real packer, installed under Wine as a user would:
// every box and the folder dialog answered through the window driver, then
// what the installation left on disk, in the registry and in its data file
// compared with what the product and the installer's own file table say.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "installation_helpers.h"

namespace {

using namespace installation;

// ---- A complete installation and its removal --------------------------------

TEST(Installation, DemoInstallsFilesLinksEntryRunsItsProgramAndTheUninstallerRemovesItAll)
{
    const std::string title = "Stubkit Demo";
    const std::string installer = kInstallers + "demo-setup.exe";
    const InstallerLayout layout = ReadLayout(installer, title);
    ASSERT_EQ(layout.files.size(), 6u);
    const std::string installDir = FreshFolder("demo") + "New Folder\\Sub Dir\\";
    // Another product beside it keeps the shared parent in use: the removal's
    // climb must stop there, whichever test ran first in this prefix.
    fs::create_directories("C:\\e2e run\\other product");
    const std::string programs = ShellFolder(CSIDL_PROGRAMS) + "\\Stubkit Demo\\";
    const std::string desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\";

    InstallerRun run(installer, title);
    ASSERT_TRUE(run.ChooseFolder(installDir.substr(0, installDir.size() - 1)));
    EXPECT_EQ(run.Answer(IDYES), kDesktopQuestion);
    // The run-after program's own box comes first; completion only once it is closed.
    HWND hello = driver::WaitForWindow(0, driver::kMessageBoxClass, "Demo Hello");
    ASSERT_TRUE(hello);
    Sleep(1500);
    EXPECT_FALSE(driver::WaitForWindow(run.process.id, driver::kMessageBoxClass, run.caption.c_str(), 0));
    DWORD helloProcess = 0;
    GetWindowThreadProcessId(hello, &helloProcess);
    EXPECT_NE(run.Answer(IDOK, helloProcess), "<no box>");
    EXPECT_EQ(run.Answer(IDOK), kCompleteText);
    EXPECT_EQ(run.ExitCode(), 0u);

    ExpectProductInstalled(layout, installDir);
    EXPECT_EQ(ReadBytes(installDir + "davirado.exe"),
              ReadBytes(kInstallers + "..\\..\\..\\uninstall\\davirado.exe"));
    const std::string key = kUninstallKeys + title;
    DWORD type = 0;
    EXPECT_EQ(RegistryText(key, "DisplayName", &type), title + std::string(1, '\0'));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(RegistryText(key, "UninstallString", &type),
              "\"" + installDir + "davirado.exe\"" + std::string(1, '\0'));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    // The list of installed programs: location, size, icon, and no Modify or Repair button.
    uint64_t bytes = fs::file_size(installDir + "davirado.exe") + fs::file_size(installDir + "davirado.dat");
    for (const PackedFile& file : layout.files)
        bytes += file.size;
    const auto dword = [](uint64_t value) { const DWORD v = static_cast<DWORD>(value); return std::string(reinterpret_cast<const char*>(&v), 4); };
    const struct { const char* name; std::string data; DWORD type; } values[] = {
        {"InstallLocation", installDir + std::string(1, '\0'), REG_SZ},
        {"DisplayIcon", installDir + "Demo Hello\\demo-hello.exe" + std::string(1, '\0'), REG_SZ},
        {"EstimatedSize", dword((bytes + 1023) / 1024), REG_DWORD},
        {"NoModify", dword(1), REG_DWORD},
        {"NoRepair", dword(1), REG_DWORD}};
    for (const auto& value : values) {
        EXPECT_EQ(RegistryText(key, value.name, &type), value.data) << value.name;
        EXPECT_EQ(type, value.type) << value.name;
    }

    // In the data file's order: the Start-menu links, then the desktop's.
    const struct { std::string link, target; } links[] = {
        {"1" + programs + "Demo Hello.lnk", installDir + "Demo Hello\\demo-hello.exe"},
        {"1" + programs + "Read Me.lnk", installDir + "readme.txt"},
        {"1" + programs + "User Guide.lnk", installDir + "docs\\User Guide.txt"},
        {"1" + programs + "Uninstall Stubkit Demo.lnk", installDir + "davirado.exe"},
        {"2" + desktop + "Demo Hello.lnk", installDir + "Demo Hello\\demo-hello.exe"},
    };
    std::string expectedLog = title + "\n" + FileRecords(layout, installDir);
    for (const auto& link : links) {
        EXPECT_EQ(testpaths::ReadLink(link.link.substr(1)), link.target + "||" + link.target + ",0") << link.link;
        expectedLog += link.link + "\n";
    }
    EXPECT_EQ(ReadBytes(installDir + "davirado.dat"), expectedLog + "3" + key + "\n");

    EXPECT_EQ(UninstallFromRegistry(title),
              title + " will be uninstalled. Do you wish to continue?|Uninstall Complete.|");
    EXPECT_FALSE(Exists("C:\\e2e run\\demo")) << "the install folder and its new parents are gone";
    EXPECT_TRUE(Exists("C:\\e2e run"));
    EXPECT_FALSE(Exists(programs));
    EXPECT_FALSE(Exists(desktop + "Demo Hello.lnk"));
    EXPECT_TRUE(Exists(desktop));
    EXPECT_FALSE(KeyExists(key));
    EXPECT_TRUE(KeyExists(kUninstallKeys.substr(0, kUninstallKeys.size() - 1)));
}

TEST(Installation, WithoutShortcutRowsOrDesktopYesOnlyFilesAndEntryAreRecordedAndASecondRunAddsItsOwn)
{
    const std::string title = "E2E Plain";
    const std::string installer = kInstallers + "plain-setup.exe";
    const InstallerLayout layout = ReadLayout(installer, title);
    const std::string installDir = FreshFolder("plain");
    const std::string records = FileRecords(layout, installDir) + "3" + kUninstallKeys + title + "\n";
    // The second run keeps the first one's records and appends its own.
    std::string expectedLog = title + "\n";
    for (int desktop : {IDNO, IDYES}) {
        SCOPED_TRACE(desktop == IDNO ? "desktop No, first run" : "desktop Yes with an empty table, second run");
        EXPECT_EQ(InstallCompletely(installer, title, installDir, desktop), 0u);
        expectedLog += records;
        EXPECT_EQ(ReadBytes(installDir + "davirado.dat"), expectedLog);
        ExpectProductInstalled(layout, installDir);
    }
}

// A folder typed relative to the installer's current folder ("C:\\"), or
// with forward slashes, is installed and registered by its absolute path,
// so the list of installed programs can start the uninstaller.
TEST(Installation, ATypedRelativeOrForwardSlashFolderIsRegisteredAbsolutely)
{
    const std::string title = "E2E Plain", installer = kInstallers + "plain-setup.exe";
    const InstallerLayout layout = ReadLayout(installer, title);
    const struct { const char* typed; const char* folder; } rows[] = {
        {"e2e run\\typed\\Rel\\Tarn", "C:\\e2e run\\typed\\Rel\\Tarn\\"},
        {"C:/e2e run/typed/NewTop/./Deep", "C:\\e2e run\\typed\\NewTop\\Deep\\"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed);
        FreshFolder("typed");
        EXPECT_EQ(InstallCompletely(installer, title, row.typed, IDNO), 0u);
        ExpectProductInstalled(layout, row.folder);
        DWORD type = 0;
        EXPECT_EQ(RegistryText(kUninstallKeys + title, "UninstallString", &type),
                  "\"" + std::string(row.folder) + "davirado.exe\"" + std::string(1, '\0'));
        EXPECT_EQ(UninstallFromRegistry(title),
                  title + " will be uninstalled. Do you wish to continue?|Uninstall Complete.|");
        EXPECT_FALSE(Exists("C:\\e2e run\\typed"));
        EXPECT_FALSE(KeyExists(kUninstallKeys + title));
    }
}

// A desktop whose name the code page cannot hold (Cyrillic on a 1252
// system) still gets its link, made and logged under the folder's short
// name, and the uninstaller removes it there and keeps the desktop.
TEST(Installation, ADesktopNamedOutsideTheCodePageGetsItsLinkByTheShortName)
{
    const std::string title = "E2E Links", installer = kInstallers + "links-setup.exe";
    const std::wstring desktop = L"C:\\e2e run\\\u0420\u0430\u0431\u043e\u0447\u0438\u0439 \u0441\u0442\u043e\u043b";
    const std::wstring link = desktop + L"\\E2E Links Desktop.lnk";
    const std::string installDir = FreshFolder("cyrillic desktop");
    CreateDirectoryW(desktop.c_str(), nullptr);
    testpaths::ShellFolderRedirect redirect("Desktop", desktop);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kUninstallKeys + title).c_str());

    InstallerRun run(installer, title);
    ASSERT_TRUE(run.ChooseFolder(installDir.substr(0, installDir.size() - 1)));
    EXPECT_EQ(run.Answer(IDYES), kDesktopQuestion);
    EXPECT_EQ(run.Answer(IDOK), kCompleteText) << "no box about shortcuts comes first";
    EXPECT_EQ(run.ExitCode(), 0u);
    EXPECT_NE(GetFileAttributesW(link.c_str()), INVALID_FILE_ATTRIBUTES);
    const std::string log = ReadBytes(installDir + "davirado.dat");
    const size_t record = log.find("\n2");
    ASSERT_NE(record, std::string::npos) << log;
    const std::string logged = log.substr(record + 2, log.find('\n', record + 1) - record - 2);
    EXPECT_EQ(logged.find('?'), std::string::npos) << logged;
    EXPECT_EQ(testpaths::ReadLink(logged), installDir + "docs\\User Guide.txt||" + installDir + "docs\\User Guide.txt,0");

    EXPECT_EQ(UninstallFromRegistry(title),
              title + " will be uninstalled. Do you wish to continue?|Uninstall Complete.|");
    EXPECT_EQ(GetFileAttributesW(link.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW(desktop.c_str()), INVALID_FILE_ATTRIBUTES) << "the desktop itself stays";
    EXPECT_FALSE(Exists(installDir));
    RemoveDirectoryW(desktop.c_str());
}

// By "Installation Complete." the installer has closed every handle it opened
// for the installation: the files it wrote, their times, the data file and
// the registry key. Held, a file could not be opened without sharing; the key
// leaves no trace but in the count of the installer's handles.
TEST(Installation, AtCompletionTheInstallerHoldsNoFileOrKeyItOpened)
{
    const std::string title = "E2E Plain";
    const std::string installer = kInstallers + "plain-setup.exe";
    const InstallerLayout layout = ReadLayout(installer, title);
    const std::string installDir = FreshFolder("handles");
    InstallerRun run(installer, title);
    ASSERT_TRUE(run.ChooseFolder(installDir));
    ASSERT_TRUE(driver::WaitForMessageBox(run.process.id));
    const unsigned atQuestion = driver::HandleCount(run.process.id);
    ASSERT_GT(atQuestion, 0u) << "the system's handle list cannot be read";
    EXPECT_EQ(run.Answer(IDNO), kDesktopQuestion);
    HWND completion = driver::WaitForMessageBox(run.process.id);
    ASSERT_TRUE(completion);
    ASSERT_EQ(driver::MessageBoxText(completion), kCompleteText);
    EXPECT_EQ(driver::HandleCount(run.process.id), atQuestion - 1) << "only the data file closed since the question";
    std::vector<std::string> names = {"davirado.exe", "davirado.dat"};
    for (const PackedFile& file : layout.files)
        names.push_back(file.name);
    for (const std::string& name : names) {
        HANDLE alone = CreateFileA((installDir + name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(alone, INVALID_HANDLE_VALUE) << name << " is still held";
        if (alone != INVALID_HANDLE_VALUE)
            CloseHandle(alone);
    }
    // Its own file runs, but a program's file may still be renamed: only a
    // handle the installer kept on it, which shares no deletion, forbids it.
    HANDLE renamable = CreateFileA(installer.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(renamable, INVALID_HANDLE_VALUE) << "the installer's own file is still open";
    if (renamable != INVALID_HANDLE_VALUE)
        CloseHandle(renamable);
    EXPECT_EQ(run.Answer(IDOK), kCompleteText);
    EXPECT_EQ(run.ExitCode(), 0u);
}

// ---- Where the installer lies, and what is posted to it ----------------------

// "Łódź 東京": a download folder whose name no code page holds whole.
TEST(Installation, AnInstallerInAFolderNamedOutsideTheCodePageInstallsItsProductByteForByte)
{
    const std::string title = "E2E Plain";
    const std::wstring folder = L"C:\\e2e run\\\u0141\u00f3d\u017a \u6771\u4eac\\";
    const std::string source = kInstallers + "plain-setup.exe";
    std::error_code ignored;
    fs::create_directories(fs::path(folder), ignored);
    ASSERT_TRUE(CopyFileW(std::wstring(source.begin(), source.end()).c_str(), (folder + L"setup.exe").c_str(),
                          FALSE));
    const std::string installDir = FreshFolder("code page");
    {
        InstallerRun run(folder + L"setup.exe", title);
        ASSERT_TRUE(run.ChooseFolder(installDir));
        EXPECT_EQ(run.Answer(IDNO), kDesktopQuestion);
        EXPECT_EQ(run.Answer(IDOK), kCompleteText);
        EXPECT_EQ(run.ExitCode(), 0u);
    }
    ExpectProductInstalled(ReadLayout(source, title), installDir);
    fs::remove_all(fs::path(folder), ignored);
}

TEST(Installation, TheStartMessagePostedAgainDuringTheDesktopQuestionStartsNoSecondInstallation)
{
    const std::string title = "E2E Plain";
    const std::string installDir = FreshFolder("posted twice");
    InstallerRun run(kInstallers + "plain-setup.exe", title);
    ASSERT_TRUE(run.ChooseFolder(installDir));
    ASSERT_TRUE(driver::WaitForWindow(run.process.id, driver::kMessageBoxClass, run.caption.c_str()));
    HWND window = driver::WaitForWindow(run.process.id, kSetupClass, run.caption.c_str());
    ASSERT_TRUE(window);
    PostMessageA(window, WM_USER + 1, 0, 0);
    EXPECT_FALSE(folderdialog::WaitForDialog(run.process.id, 2000)) << "a second folder dialog";
    EXPECT_EQ(run.Answer(IDNO), kDesktopQuestion);
    EXPECT_EQ(run.Answer(IDOK), kCompleteText);
    EXPECT_EQ(run.ExitCode(), 0u);
    EXPECT_EQ(run.boxes.size(), 3u);
    const std::string log = ReadBytes(installDir + "davirado.dat");
    EXPECT_EQ(log.substr(log.size() - (kUninstallKeys + title).size() - 2), "3" + kUninstallKeys + title + "\n");
}

// The installer cpack made from examples/cmake: the staged components merged,
// the links CPACK_PACKAGE_EXECUTABLES and CPACK_CREATE_DESKTOP_LINKS ask for in
// the STUBKIT_PROGRAM_GROUP folder, and the uninstaller's link.
TEST(Installation, CpackExampleInstallsBothComponentsAndTheLinksItsVariablesAskFor)
{
    const std::string title = "Stubkit Hello";
    const std::string example = kInstallers + "cmake-example\\";
    const std::string installer = example + "cmake-example-setup.exe";
    const InstallerLayout layout = ReadLayout(installer, title);
    ASSERT_EQ(layout.files.size(), 2u);
    const std::string installDir = FreshFolder("cmake example");
    const std::string programs = ShellFolder(CSIDL_PROGRAMS) + "\\Stubkit Examples\\";
    const std::string desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\";
    EXPECT_EQ(InstallCompletely(installer, title, installDir, IDYES), 0u);

    EXPECT_EQ(ReadBytes(installDir + "bin\\hello.exe"), ReadBytes(example + "build\\hello.exe"));
    EXPECT_EQ(ReadBytes(installDir + "README.txt"),
              ReadBytes(WindowsPath(STUBKIT_SOURCE_DIR) + "\\examples\\cmake\\README.txt"));
    const struct { std::string link, target; } links[] = {
        {programs + "Hello.lnk", installDir + "bin\\hello.exe"},
        {programs + "Uninstall Stubkit Hello.lnk", installDir + "davirado.exe"},
        {desktop + "Hello.lnk", installDir + "bin\\hello.exe"}};
    for (const auto& link : links)
        EXPECT_EQ(testpaths::ReadLink(link.link), link.target + "||" + link.target + ",0") << link.link;

    EXPECT_EQ(UninstallFromRegistry(title), title + " will be uninstalled. Do you wish to continue?|Uninstall Complete.|");
    EXPECT_FALSE(Exists(programs));
    EXPECT_FALSE(Exists(desktop + "Hello.lnk"));
}

// ---- The uninstall entry ----------------------------------------------------

// Writes `title` over the Title slot of a copy of the plain installer.
std::string WithTitle(const std::string& title, const std::string& name)
{
    InstallerLayout layout = ReadLayout(kInstallers + "plain-setup.exe", "E2E Plain");
    std::string bytes = layout.bytes;
    bytes.replace(layout.titleSlot, title.size() + 1, title + std::string(1, '\0'));
    const std::string path = FreshFolder("titles") + name;
    WriteBytes(path, bytes);
    return path;
}

TEST(Installation, AnEntryThatCannotBeMadeOrAnEmptyTitleLeavesNoKeyAndNoRecord)
{
    // Creating a lasting key below a volatile one fails, as it does without rights.
    HKEY volatileKey;
    const std::string denied = kUninstallKeys + "E2E Denied";
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, denied.c_str());
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, denied.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &volatileKey, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(volatileKey);
    const struct { std::string title, name; } rows[] = {
        {"E2E Denied\\Plain", "denied.exe"},
        {"", "untitled.exe"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string installer = WithTitle(row.title, row.name);
        const std::string installDir = FreshFolder("entry " + row.name);
        EXPECT_EQ(InstallCompletely(installer, row.title, installDir, IDNO), 0u);
        const std::string log = ReadBytes(installDir + "davirado.dat");
        EXPECT_EQ(log.find("\n3"), std::string::npos) << log;
        if (!row.title.empty())
            EXPECT_FALSE(KeyExists(kUninstallKeys + row.title)) << row.title;
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, denied.c_str());
    EXPECT_TRUE(KeyExists(kUninstallKeys.substr(0, kUninstallKeys.size() - 1)));
}

// ---- The run-after program --------------------------------------------------

// A fresh folder to start the installer from, and a "Program.exe" on the
// path an unquoted command line would try first.
std::string StartFolderBesideAPlantedProgram(const std::string& name)
{
    const std::string startFolder = FreshFolder(name + " start");
    fs::create_directories(startFolder);
    fs::create_directories("C:\\e2e run\\" + name);
    fs::copy_file(kProduct + "bin\\sleeper.exe", "C:\\e2e run\\" + name + "\\Program.exe",
                  fs::copy_options::overwrite_existing);
    return startFolder;
}

TEST(Installation, RunAfterProgramIsQuotedStartedFromTheInstallersFolderAndWaitedForWhileMessagesFlow)
{
    const std::string title = "E2E Sleeper";
    const std::string installDir = FreshFolder("sleeper") + "Program Files\\Sleeper App\\";
    const std::string startFolder = StartFolderBesideAPlantedProgram("sleeper");
    InstallerRun run(kInstallers + "sleeper-setup.exe", title, startFolder.c_str());
    ASSERT_TRUE(run.ChooseFolder(installDir));
    ASSERT_EQ(run.Answer(IDNO), kDesktopQuestion);
    HWND window = driver::WaitForWindow(run.process.id, kSetupClass, run.caption.c_str());
    ASSERT_TRUE(window);
    // The wait takes one message per second: a sent message is answered
    // while the program still runs.
    DWORD_PTR result = 0;
    EXPECT_TRUE(SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2500, &result));
    EXPECT_FALSE(Exists(startFolder + "sleeper.exe.ran"));
    EXPECT_EQ(run.Answer(IDOK), kCompleteText);
    EXPECT_EQ(ReadBytes(startFolder + "sleeper.exe.ran"), "\"" + installDir + "bin\\sleeper.exe\" 3000");
    EXPECT_FALSE(Exists(startFolder + "Program.exe.ran"));
    EXPECT_EQ(run.ExitCode(), 0u);
}

// Without arguments the command is the program's path alone; unquoted, the
// system would start "Program.exe" from the folder with the blank first.
TEST(Installation, RunAfterProgramWithoutArgumentsInAFolderWithBlanksIsTheOneStarted)
{
    const std::string title = "E2E Quiet";
    const std::string installDir = FreshFolder("quiet") + "Program App\\";
    const std::string startFolder = StartFolderBesideAPlantedProgram("quiet");
    InstallerRun run(kInstallers + "quiet-setup.exe", title, startFolder.c_str());
    ASSERT_TRUE(run.ChooseFolder(installDir));
    EXPECT_EQ(run.Answer(IDNO), kDesktopQuestion);
    EXPECT_EQ(run.Answer(IDOK), kCompleteText);
    EXPECT_EQ(run.ExitCode(), 0u);
    EXPECT_EQ(ReadBytes(startFolder + "sleeper.exe.ran").rfind("\"" + installDir + "bin\\sleeper.exe\"", 0), 0u);
    EXPECT_FALSE(Exists(startFolder + "Program.exe.ran")) << "the planted program ran";
}

TEST(Installation, ClosingTheWindowDuringTheWaitStillEndsTheProcessCleanly)
{
    const std::string title = "E2E Sleeper";
    InstallerRun run(kInstallers + "sleeper-setup.exe", title);
    ASSERT_TRUE(run.ChooseFolder(FreshFolder("sleeper closed")));
    ASSERT_EQ(run.Answer(IDNO), kDesktopQuestion);
    HWND window = driver::WaitForWindow(run.process.id, kSetupClass, run.caption.c_str());
    ASSERT_TRUE(window);
    Sleep(300);
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.Answer(IDOK), kCompleteText);
    EXPECT_EQ(run.ExitCode(), 0u);
    EXPECT_FALSE(driver::WaitForWindow(0, kSetupClass, run.caption.c_str(), 0));
}

TEST(Installation, RunAfterProgramThatCannotStartGoesStraightToCompletion)
{
    EXPECT_EQ(InstallCompletely(kInstallers + "missing-setup.exe", "E2E Missing", FreshFolder("missing"), IDNO),
              0u);
}

}  // namespace
