// Installers made by the real packer, installed under Wine as a user would:
// every box and the folder dialog answered through the window driver, then
// what the installation left on disk, in the registry and in its data file
// compared with what the product and the installer's own file table say.
#include <gtest/gtest.h>
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "window_driver.h"

namespace {

namespace fs = std::filesystem;

std::string WindowsPath(std::string path)
{
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return "Z:" + path;
}

const std::string kInstallers = WindowsPath(INSTALLERS_DIR) + "\\";
const std::string kProduct = kInstallers + "product\\";
const std::string kUninstallKeys = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::string kIncomplete =
    "Error: This is an incomplete installation file\n(possibly from an incomplete download).";
const std::string kCompleteText = "Installation Complete.";
const std::string kDesktopQuestion = "Do you wish to create desktop shortcut icons?";
constexpr char kSetupClass[] = "Mini Setup Window Class";

std::string ReadBytes(const std::string& path)
{
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string FreshFolder(const std::string& name)   // removed, not created; ends in a backslash
{
    const std::string folder = "C:\\e2e run\\" + name + "\\";
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories("C:\\e2e run", ignored);
    return folder;
}

std::string ShellFolder(int csidl)
{
    char path[MAX_PATH] = {0};
    SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE);
    return path;
}

std::string RegistryText(const std::string& key, const char* name, DWORD* type)
{
    char data[1024] = {0};
    DWORD size = sizeof data;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_ANY, type, data, &size) != ERROR_SUCCESS)
        return "<missing>";
    return std::string(data, size);   // with its NUL: the stored size is checked too
}

bool KeyExists(const std::string& path)
{
    HKEY key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS && !RegCloseKey(key);
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

uint32_t U32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

InstallerLayout ReadLayout(const std::string& path, const std::string& title)
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

    InstallerRun(const std::string& installer, const std::string& title, const char* directory = "C:\\")
        : caption(title + " Setup")
    {
        EXPECT_TRUE(driver::Start("\"" + installer + "\"", &process, directory)) << installer;
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

    HWND Dialog()
    {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < driver::kDefaultTimeoutMs) {
            HWND dialog = driver::WaitForWindow(process.id, driver::kMessageBoxClass, caption.c_str(), 1000);
            if (dialog && GetDlgItem(dialog, 2006))
                return dialog;
        }
        return nullptr;
    }

    // Yes to the first question, then `folder` typed into the dialog and OK.
    bool ChooseFolder(const std::string& folder)
    {
        if (Answer(IDYES).find(" will be installed. Do you wish to continue?") == std::string::npos)
            return false;
        HWND dialog = Dialog();
        return dialog && driver::SetControlText(dialog, 2006, folder) && driver::PressButton(dialog, 2007) &&
               Gone(dialog);
    }

    // The next box must not be taken for a dialog that is still closing.
    static bool Gone(HWND dialog)
    {
        const DWORD start = GetTickCount();
        while (IsWindow(dialog) && IsWindowVisible(dialog) && GetTickCount() - start < driver::kDefaultTimeoutMs)
            Sleep(20);
        return !IsWindow(dialog) || !IsWindowVisible(dialog);
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
DWORD InstallCompletely(const std::string& installer, const std::string& title, const std::string& folder,
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

std::string FileRecords(const InstallerLayout& layout, const std::string& installDir)
{
    std::string records;
    for (const PackedFile& file : layout.files)
        records += "0" + installDir + file.name + "\n";
    return records;
}

// Every packed file is in place with the product's bytes and the table's times.
void ExpectProductInstalled(const InstallerLayout& layout, const std::string& installDir)
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
        EXPECT_EQ(ReadBytes(path), ReadBytes(kProduct + file.name)) << path;
    }
}

std::string LinkTarget(const std::string& linkPath, std::string* arguments, std::string* icon, int* iconIndex)
{
    IShellLinkA* link = nullptr;
    IPersistFile* file = nullptr;
    std::string target = "<unreadable>";
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wide, MAX_PATH);
        char text[MAX_PATH] = {0};
        if (SUCCEEDED(file->Load(wide, STGM_READ)) && SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, 0))) {
            target = text;
            link->GetArguments(text, MAX_PATH);
            *arguments = text;
            link->GetIconLocation(text, MAX_PATH, iconIndex);
            *icon = text;
        }
    }
    if (file)
        file->Release();
    if (link)
        link->Release();
    return target;
}

// Starts the uninstaller as the list of installed programs does and answers
// its question and closing box; returns its texts.
std::string UninstallFromRegistry(const std::string& title)
{
    DWORD type = 0;
    std::string command = RegistryText(kUninstallKeys + title, "UninstallString", &type);
    command.resize(command.size() - 1);
    driver::StartedProcess first;
    if (!driver::Start(command, &first))
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

class Installation : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitialize(nullptr); }
    static void TearDownTestSuite() { CoUninitialize(); }
};

// ---- A complete installation and its removal --------------------------------

TEST_F(Installation, DemoInstallsFilesLinksEntryRunsItsProgramAndTheUninstallerRemovesItAll)
{
    const std::string title = "Stubkit Demo";
    const std::string installer = kInstallers + "demo-setup.exe";
    const InstallerLayout layout = ReadLayout(installer, title);
    ASSERT_EQ(layout.files.size(), 6u);
    const std::string installDir = FreshFolder("demo") + "New Folder\\Sub Dir\\";
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
    const std::vector<std::string> startLinks = {"Demo Hello.lnk", "Read Me.lnk", "User Guide.lnk",
                                                 "Uninstall Stubkit Demo.lnk"};
    std::string expectedLog = title + "\n" + FileRecords(layout, installDir);
    for (const std::string& link : startLinks)
        expectedLog += "1" + programs + link + "\n";
    expectedLog += "2" + desktop + "Demo Hello.lnk\n3" + key + "\n";
    EXPECT_EQ(ReadBytes(installDir + "davirado.dat"), expectedLog);

    DWORD type = 0;
    EXPECT_EQ(RegistryText(key, "DisplayName", &type), title + std::string(1, '\0'));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(RegistryText(key, "UninstallString", &type),
              "\"" + installDir + "davirado.exe\"" + std::string(1, '\0'));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

    const struct { std::string link, target; } links[] = {
        {programs + "Demo Hello.lnk", installDir + "Demo Hello\\demo-hello.exe"},
        {programs + "Read Me.lnk", installDir + "readme.txt"},
        {programs + "User Guide.lnk", installDir + "docs\\User Guide.txt"},
        {programs + "Uninstall Stubkit Demo.lnk", installDir + "davirado.exe"},
        {desktop + "Demo Hello.lnk", installDir + "Demo Hello\\demo-hello.exe"},
    };
    for (const auto& link : links) {
        std::string arguments, icon;
        int iconIndex = -1;
        EXPECT_EQ(LinkTarget(link.link, &arguments, &icon, &iconIndex), link.target) << link.link;
        EXPECT_EQ(arguments, "") << link.link;
        EXPECT_EQ(icon, link.target) << link.link;
        EXPECT_EQ(iconIndex, 0) << link.link;
    }

    EXPECT_EQ(UninstallFromRegistry(title),
              title + " will be uninstalled. Do you wish to continue?|Uninstall Complete.|");
    EXPECT_FALSE(Exists(FreshFolder("demo"))) << "the install folder and its new parents are gone";
    EXPECT_TRUE(Exists("C:\\e2e run"));
    EXPECT_FALSE(Exists(programs));
    EXPECT_FALSE(Exists(desktop + "Demo Hello.lnk"));
    EXPECT_TRUE(Exists(desktop));
    EXPECT_FALSE(KeyExists(key));
    EXPECT_TRUE(KeyExists(kUninstallKeys.substr(0, kUninstallKeys.size() - 1)));
}

TEST_F(Installation, WithoutShortcutRowsOrDesktopYesOnlyFilesAndEntryAreRecordedAndASecondRunReplacesThem)
{
    const std::string title = "E2E Plain";
    const std::string installer = kInstallers + "plain-setup.exe";
    const InstallerLayout layout = ReadLayout(installer, title);
    const std::string installDir = FreshFolder("plain");
    const std::string expectedLog =
        title + "\n" + FileRecords(layout, installDir) + "3" + kUninstallKeys + title + "\n";
    for (int desktop : {IDNO, IDYES}) {
        SCOPED_TRACE(desktop == IDNO ? "desktop No, first run" : "desktop Yes with an empty table, second run");
        EXPECT_EQ(InstallCompletely(installer, title, installDir, desktop), 0u);
        EXPECT_EQ(ReadBytes(installDir + "davirado.dat"), expectedLog);
        ExpectProductInstalled(layout, installDir);
    }
}

TEST_F(Installation, DecliningOrCancellingWritesNothing)
{
    const std::string title = "E2E Plain";
    const std::string folder = FreshFolder("declined");
    {
        InstallerRun run(kInstallers + "plain-setup.exe", title);
        EXPECT_NE(run.Answer(IDNO), "<no box>");
        EXPECT_EQ(run.ExitCode(), 1u);
    }
    for (int how : {2008, IDCANCEL}) {   // the Cancel button; Escape and the close box
        InstallerRun run(kInstallers + "plain-setup.exe", title);
        ASSERT_NE(run.Answer(IDYES), "<no box>");
        HWND dialog = run.Dialog();
        ASSERT_TRUE(dialog);
        driver::SetControlText(dialog, 2006, folder);
        if (how == IDCANCEL)
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        else
            driver::PressButton(dialog, how);
        InstallerRun::Gone(dialog);
        EXPECT_EQ(run.ExitCode(), 0u);
        EXPECT_TRUE(run.boxes.size() == 1) << "no box after the dialog";
    }
    EXPECT_FALSE(Exists(folder));
}

// ---- Damaged installers and failing targets ---------------------------------

TEST_F(Installation, DamagedInstallersStopWithTheirMessageAndLeaveWhatTheyRecorded)
{
    const std::string title = "E2E Plain";
    const InstallerLayout layout = ReadLayout(kInstallers + "plain-setup.exe", title);
    const std::string stub = ReadBytes(kInstallers + "..\\..\\..\\installer\\setup-stub.exe");
    const std::string scratch = FreshFolder("damaged-installers");
    fs::create_directories(scratch);
    std::string flipped = layout.bytes;
    flipped[layout.streamStart + (flipped.size() - layout.streamStart) / 2] ^= 0x40;
    const struct {
        const char* name;
        std::string bytes;
        std::string message;   // the last box; empty: either outcome of a damaged stream
    } rows[] = {
        {"unconfigured", stub, "Error: Unconfigured installation file."},
        {"cut inside the stub", layout.bytes.substr(0, layout.stubSize - 100), kIncomplete},
        {"cut at the stub's end", layout.bytes.substr(0, layout.stubSize), kIncomplete},
        {"cut inside the table", layout.bytes.substr(0, layout.tableStart + 5), kIncomplete},
        {"cut inside the stream", layout.bytes.substr(0, layout.streamStart + 40), ""},
        {"flipped stream byte", flipped, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string installer = scratch + row.name + ".exe";
        WriteBytes(installer, row.bytes);
        const std::string installDir = FreshFolder(std::string("damaged ") + row.name);
        InstallerRun run(installer, row.bytes == stub ? "$$Title" : title);
        ASSERT_TRUE(run.ChooseFolder(installDir));
        const std::string text = run.Answer(IDOK);
        EXPECT_EQ(run.boxes.back().caption, "Setup");
        // A damaged stream ends in the sink's corrupted-file message (exit 1) or
        // with bytes remaining (the incomplete-file message, exit 0).
        const std::string corrupted = "Error: This is a corrupted installation file.";
        EXPECT_EQ(text, !row.message.empty() ? row.message : text == corrupted ? corrupted : kIncomplete);
        EXPECT_EQ(run.ExitCode(), text == corrupted ? 1u : 0u);
        EXPECT_TRUE(Exists(installDir + "davirado.exe"));
        // The data file lists exactly the files that exist.
        std::istringstream log(ReadBytes(installDir + "davirado.dat"));
        std::string line;
        std::getline(log, line);
        EXPECT_EQ(line, row.bytes == stub ? "$$Title" : title);
        size_t listed = 0;
        while (std::getline(log, line)) {
            ASSERT_EQ(line.substr(0, 1), "0") << line;
            EXPECT_TRUE(Exists(line.substr(1))) << line;
            ++listed;
        }
        size_t present = 0;
        for (const auto& entry : fs::recursive_directory_iterator(installDir))
            present += entry.is_regular_file();
        EXPECT_EQ(present, listed + 2) << "files on disk beside davirado.exe and davirado.dat";
    }
}

TEST_F(Installation, TargetFileHeldOpenEndsWithTheCannotCreateMessage)
{
    const std::string title = "E2E Plain";
    const std::string installDir = FreshFolder("held open");
    fs::create_directories(installDir);
    const std::string held = installDir + "readme.txt";
    HANDLE handle = CreateFileA(held.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    InstallerRun run(kInstallers + "plain-setup.exe", title);
    ASSERT_TRUE(run.ChooseFolder(installDir));
    EXPECT_EQ(run.Answer(IDOK), "Error: Cannot create file:\n    " + held);
    EXPECT_EQ(run.ExitCode(), 1u);
    CloseHandle(handle);
}

// ---- The uninstall entry ----------------------------------------------------

// Writes `title` over the Title slot of a copy of the plain installer.
std::string WithTitle(const std::string& title, const std::string& name)
{
    InstallerLayout layout = ReadLayout(kInstallers + "plain-setup.exe", "E2E Plain");
    std::string bytes = layout.bytes;
    bytes.replace(layout.titleSlot, title.size() + 1, title + std::string(1, '\0'));
    const std::string path = FreshFolder("titles") + name;
    fs::create_directories(fs::path(path).parent_path());
    WriteBytes(path, bytes);
    return path;
}

TEST_F(Installation, AnEntryThatCannotBeMadeOrAnEmptyTitleLeavesNoKeyAndNoRecord)
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

TEST_F(Installation, RunAfterProgramIsQuotedStartedFromTheInstallersFolderAndWaitedForWhileMessagesFlow)
{
    const std::string title = "E2E Sleeper";
    const std::string installDir = FreshFolder("sleeper") + "Program Files\\Sleeper App\\";
    const std::string startFolder = FreshFolder("sleeper start");
    fs::create_directories(startFolder);
    // A program where the unquoted command line would find one first.
    fs::create_directories("C:\\e2e run\\sleeper");
    fs::copy_file(kProduct + "bin\\sleeper.exe", "C:\\e2e run\\sleeper\\Program.exe",
                  fs::copy_options::overwrite_existing);
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

TEST_F(Installation, ClosingTheWindowDuringTheWaitStillEndsTheProcessCleanly)
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

TEST_F(Installation, RunAfterProgramThatCannotStartGoesStraightToCompletion)
{
    EXPECT_EQ(InstallCompletely(kInstallers + "missing-setup.exe", "E2E Missing", FreshFolder("missing"), IDNO),
              0u);
}

}  // namespace
