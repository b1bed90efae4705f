// The uninstaller under Wine: its removal rules in this process, and the
// program driven through its message boxes (each one checked exactly) on a
// realistic installation and on data files of every shape.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "test_paths.h"
#include "uninstall/uninstaller.h"
#include "window_driver.h"

namespace {

using testpaths::Exists;
using testpaths::KeyExists;
using testpaths::Quoted;
using testpaths::ShellFolder;
using testpaths::ReadBytes;
using testpaths::WriteBytes;
namespace fs = std::filesystem;

const std::string kBuilt = testpaths::BuildTreeFile("uninstall\\davirado.exe");
const std::string kUninstallKeys = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

void MakeFolders(const std::string& path) { std::error_code ignored; fs::create_directories(path, ignored); }

// Entries in the folder; -1 when it is gone.
int EntriesIn(const std::string& folder)
{
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    return error ? -1 : static_cast<int>(std::distance(entries, fs::directory_iterator()));
}

// A fresh, empty folder for one test: "C:\stubkit-uninstall\<name>\".
std::string FreshRoot(const std::string& name)
{
    const std::string root = "C:\\stubkit-uninstall\\" + name + "\\";
    std::error_code error;
    fs::remove_all(root, error);
    MakeFolders(root);
    return root;
}

// Creates the key below HKEY_LOCAL_MACHINE, with a string value when `name` is given.
bool CreateKey(const std::string& path, const char* name = nullptr, const std::string& value = "")
{
    HKEY key;
    return !RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) &&
           !(name && RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                    static_cast<DWORD>(value.size() + 1))) &&
           !RegCloseKey(key);
}

// ---- Removal rules ----------------------------------------------------------

#define UNINSTALL_LIST "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"

TEST(UninstallKeyPath, OnlyOneNonEmptyNameDirectlyBelowTheUninstallListIsObeyed)
{
    const struct { const char* path; bool obeyed; } cases[] = {
        {UNINSTALL_LIST "\\Sample 1.0", true},
        {"SOFTWARE\\microsoft\\windows\\currentversion\\uninstall\\Sample", true},
        {UNINSTALL_LIST "\\x", true},
        {UNINSTALL_LIST "\\", false},
        {UNINSTALL_LIST, false},
        {UNINSTALL_LIST "\\Sample\\Sub", false},
        {UNINSTALL_LIST "\\Sample\\", false},
        {UNINSTALL_LIST "Other\\Sample", false},
        {"\\" UNINSTALL_LIST "\\Sample", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsUninstallKeyPath(c.path), c.obeyed) << c.path;
}

const char kNativeProgramFiles[] = "C:\\Stubkit Native\\Program Files";
const char kNativeCommonFiles[] = "C:\\Stubkit Native\\Program Files\\Common Files";

TEST(ProtectedFolder, EachUserAndSystemFolderIsRecognisedInAnySpellingButNotItsSubfolderOrLookAlike)
{
    // A 32-bit program learns the 64-bit view's Program Files from these.
    _putenv((std::string("ProgramW6432=") + kNativeProgramFiles).c_str());
    _putenv((std::string("CommonProgramW6432=") + kNativeCommonFiles).c_str());
    std::vector<std::string> folders = {kNativeProgramFiles, kNativeCommonFiles};
    for (int csidl : {CSIDL_PROGRAMS, CSIDL_STARTMENU, CSIDL_DESKTOPDIRECTORY, CSIDL_STARTUP, CSIDL_COMMON_PROGRAMS,
                      CSIDL_COMMON_STARTMENU, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_STARTUP, CSIDL_PERSONAL,
                      CSIDL_COMMON_DOCUMENTS, CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_COMMON_APPDATA,
                      CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON,
                      CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_WINDOWS, CSIDL_PROFILE}) {
        folders.push_back(ShellFolder(csidl));
        ASSERT_GT(folders.back().size(), 3u) << "the shell does not know folder " << csidl;
    }
    for (const std::string& folder : folders) {
        SCOPED_TRACE(folder);
        std::string upper = folder, slashed = folder + "\\sub\\..";
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        std::replace(slashed.begin(), slashed.end(), '\\', '/');
        const size_t cut = folder.find_last_of('\\');
        const std::string head = folder.substr(0, cut), last = folder.substr(cut + 1);
        for (const std::string& spelling : {folder, upper, slashed, folder + "\\", folder + "\\\\", folder + "\\.",
                                            head + "\\\\" + last, head + "\\.\\" + last, "\\\\?\\" + folder})
            EXPECT_TRUE(IsProtectedFolder(spelling.c_str())) << spelling;
        EXPECT_FALSE(IsProtectedFolder((folder + "\\Sample Group").c_str()));
        EXPECT_FALSE(IsProtectedFolder((folder + "\\\\Sample Group\\").c_str()));
        EXPECT_FALSE(IsProtectedFolder((folder + "x").c_str()));
        EXPECT_FALSE(IsProtectedFolder((head + "\\x" + last).c_str()));
    }
    _putenv("ProgramW6432=");
    _putenv("CommonProgramW6432=");
    // Roots, and forms whose folder cannot be compared, are never climbed into.
    for (const char* folder : {"C:\\", "c:/", "C:\\.", "Z:\\", "\\\\server\\share\\folder", "\\\\.\\C:\\folder",
                               "\\??\\C:\\folder", "C:\\folder\\...\\sub", "C:\\folder\\. \\sub"})
        EXPECT_TRUE(IsProtectedFolder(folder)) << folder;
    EXPECT_FALSE(IsProtectedFolder("C:\\stubkit-uninstall\\.\\folder\\\\sub\\"));
}

TEST(Climb, RemovesEmptiedFoldersUpToOneStillInUseOrSixteenUp)
{
    const std::string root = FreshRoot("climb");
    std::string deep = "deep\\";
    for (int level = 1; level <= 16; ++level)
        deep += "d" + std::to_string(level) + "\\";
    ASSERT_TRUE(WriteBytes(root + "a\\b\\f.txt", "x") && WriteBytes(root + deep + "f.txt", "x"));
    MakeFolders(root + "a\\c\\");
    DeleteFileAndEmptyParents((root + "a\\b\\f.txt").c_str());
    DeleteFileAndEmptyParents((root + deep + "f.txt").c_str());
    EXPECT_FALSE(Exists(root + "a\\b"));
    EXPECT_TRUE(Exists(root + "a\\c"));
    EXPECT_FALSE(Exists(root + "deep\\d1"));
    EXPECT_TRUE(Exists(root + "deep"));
}

// An empty program group makes "Programs\\x.lnk"; other spellings come from
// damaged or hand-edited logs. None may take the emptied Programs folder.
TEST(Climb, StopsAtTheProgramsFolderHoweverTheRecordSpellsIt)
{
    const std::string programs = FreshRoot("climb-programs");
    const std::string folder = programs.substr(0, programs.size() - 1);
    testpaths::ShellFolderRedirect redirect("Programs", folder);
    for (const std::string& link : {folder + "\\\\x.lnk", folder + "\\.\\x.lnk", folder + "\\\\.\\\\x.lnk",
                                    folder + "/x.lnk", "\\\\?\\" + folder + "\\x.lnk"}) {
        ASSERT_TRUE(WriteBytes(folder + "\\x.lnk", "x"));
        DeleteFileAndEmptyParents(link.c_str());
        EXPECT_FALSE(Exists(folder + "\\x.lnk")) << link;
        EXPECT_TRUE(Exists(folder)) << link;
        MakeFolders(programs);
    }
}

// A link is this installation's when its target lies in the uninstaller's
// folder; a link of the same name another installation has made since, or a
// file that is no link, stays.
TEST(LinkOwner, OnlyALinkIntoTheOwnFolderOrOneAlreadyGoneIsTaken)
{
    const std::string root = FreshRoot("link-owner"), own = root + "Vellum\\";
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_TRUE(WriteBytes(root + "not a link.lnk", "installed"));
    const struct { const char* name; std::string target; bool taken; } cases[] = {
        {"program", own + "app.exe", true},
        {"nested", own + "bin\\tool.exe", true},
        {"other letter case", root + "VELLUM\\app.exe", true},
        {"folder sharing the start", root + "Vellum2\\app.exe", false},
        {"parent folder", root + "app.exe", false},
        {"another drive", "D:\\Vellum\\app.exe", false},
    };
    for (const auto& c : cases) {
        const std::string link = root + c.name + ".lnk";
        ASSERT_TRUE(testpaths::WriteLink(link, c.target)) << c.name;
        EXPECT_EQ(LinkTargetLiesIn(link.c_str(), own.c_str()), c.taken) << c.name;
    }
    EXPECT_FALSE(LinkTargetLiesIn((root + "not a link.lnk").c_str(), own.c_str()));
    EXPECT_TRUE(LinkTargetLiesIn((root + "gone.lnk").c_str(), own.c_str()));
    EXPECT_TRUE(LinkTargetLiesIn((root + "gone\\group\\x.lnk").c_str(), own.c_str()));
    CoUninitialize();
}

std::string Box(const std::string& caption, const std::string& text, const char* buttons)
{
    return caption + "|" + text + "|" + buttons + "\n";
}

std::string Question(const std::string& title)
{
    return Box("Uninstall " + title, title + " will be uninstalled. Do you wish to continue?", "Yes No");
}

std::string Closing(const std::string& title) { return Box("Uninstall " + title, "Uninstall Complete.", "OK"); }

struct Outcome {
    std::string boxes;   // every box shown, as Box() writes it
    DWORD firstStageExit = ~0u, exitCode = ~0u;
    std::string workerImage, workerCommandLine;   // of the process that showed the boxes
};

// Starts the command and answers the boxes in turn. When `relaunches`, the
// started process must end without a box and a copy of it shows them.
void Drive(const std::string& commandLine, const std::vector<int>& answers, bool relaunches, Outcome* run,
           const char* directory = nullptr, const char* program = nullptr)
{
    driver::StartedProcess started, worker;
    ASSERT_TRUE(driver::Start(commandLine, &started, directory, program)) << commandLine;
    if (relaunches && !driver::WaitForExit(&started, &run->firstStageExit)) {
        driver::Kill(&started);
        FAIL() << "the first stage did not end";
    }
    if (!relaunches)
        worker = started;
    for (size_t i = 0; i < answers.size(); ++i) {
        driver::SeenBox seen;
        const bool shown = driver::AnswerMessageBox(i == 0 ? 0 : worker.id, answers[i], &seen);
        if (!shown)
            driver::Kill(&worker);
        ASSERT_TRUE(shown) << "box " << i + 1 << " did not come";
        std::string buttons;
        for (int id : seen.buttons)
            buttons += (buttons.empty() ? "" : " ") +
                       std::string(id == IDYES ? "Yes" : id == IDNO ? "No" : id == IDOK ? "OK" : "?");
        run->boxes += Box(seen.caption, seen.text, buttons.c_str());
        if (i == 0 && relaunches) {
            ASSERT_TRUE(driver::Attach(seen.processId, &worker));
            run->workerImage = driver::ProcessImagePath(worker);
            run->workerCommandLine = driver::ProcessCommandLine(worker);
        }
    }
    const bool ended = driver::WaitForExit(&worker, &run->exitCode);
    if (!ended)
        driver::Kill(&worker);
    ASSERT_TRUE(ended) << "the uninstaller did not end";
}

// ---- A realistic installation, started from the list of installed programs --

struct RelaunchCase {
    const char* name;
    const char* temp;        // below the root; nullptr: unset; "": set but empty
    const char* tmp;
    const char* copyFolder;  // where the copy must go, below the root; nullptr: works in place
    bool bareName;           // started as "davirado.exe" from the install folder
    int leftInInstallFolder; // -1: the folder is gone
};

class RealisticInstallation : public ::testing::TestWithParam<RelaunchCase> {
protected:
    void TearDown() override
    {
        std::error_code error;
        fs::remove_all(group_, error);
        DeleteFileA(desktopLink_.c_str());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, key_.c_str());
    }
    std::string group_, desktopLink_, key_;
};

TEST_P(RealisticInstallation, IsRemovedCompletelyButForTheUsersFolders)
{
    const RelaunchCase& c = GetParam();
    const std::string programs = FreshRoot(std::string("programs-") + c.name);
    testpaths::ShellFolderRedirect redirect("Programs", programs.substr(0, programs.size() - 1));
    ASSERT_EQ(ShellFolder(CSIDL_PROGRAMS) + "\\", programs);

    // Files in nested folders, a Start-menu group with two links, a desktop
    // link, the uninstall key with its two values, and the log naming them all.
    const std::string root = FreshRoot(std::string("relaunch-") + c.name);
    const std::string dir = root + "Program Files\\Sample Product\\", program = dir + "davirado.exe";
    const std::string title = std::string("Stubkit Sample ") + c.name;
    key_ = kUninstallKeys + title;
    group_ = programs + title;
    desktopLink_ = ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\" + title + ".lnk";
    const std::vector<std::string> records = {
        "0" + dir + "Sample.exe", "0" + dir + "bin\\tool.dll", "0" + dir + "bin\\plugins\\one.dll",
        "0" + dir + "docs\\Read Me.txt", "0" + dir + "data\\deep\\deeper\\table.bin",
        "1" + group_ + "\\Sample.lnk", "1" + group_ + "\\Read Me.lnk", "2" + desktopLink_};
    std::string log = title + "\n";
    for (const std::string& record : records) {
        EXPECT_TRUE(record[0] == '0' ? WriteBytes(record.substr(1), "installed")
                                     : (MakeFolders(group_), testpaths::WriteLink(record.substr(1), dir + "Sample.exe")));
        log += record + "\n";
    }
    ASSERT_TRUE(WriteBytes(dir + "davirado.dat", log + "3" + key_ + "\n"));
    ASSERT_TRUE(CopyFileA(kBuilt.c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(CreateKey(key_, "DisplayName", title));
    ASSERT_TRUE(CreateKey(key_, "UninstallString", Quoted(program)));
    ASSERT_TRUE(WriteBytes(root + "Program Files\\unrelated.txt", "not installed"));
    ASSERT_EQ(EntriesIn(ShellFolder(CSIDL_DESKTOPDIRECTORY)), 1)
        << "the desktop must hold only this product's link for the test to mean anything";

    // The programs started inherit these; every test sets what it relies on.
    for (const auto& [name, folder] : {std::pair{"TEMP", c.temp}, std::pair{"TMP", c.tmp}}) {
        if (folder && *folder)
            MakeFolders(root + folder + "\\");
        SetEnvironmentVariableA(name, !folder ? nullptr : *folder ? (root + folder).c_str() : "");
    }
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    // The system looks for a bare program name in the starting process's current folder.
    if (c.bareName)
        ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    const std::string started = c.bareName ? "davirado.exe" : program;
    const DWORD start = GetTickCount();
    Outcome run;
    Drive(c.bareName ? started : Quoted(started), {IDYES, IDOK}, c.copyFolder != nullptr, &run,
          c.bareName ? dir.c_str() : nullptr);
    SetCurrentDirectoryA(previous);
    ASSERT_FALSE(HasFatalFailure());

    EXPECT_EQ(run.boxes, Question(title) + Closing(title));
    EXPECT_EQ(run.exitCode, 0u);
    for (const std::string& record : records)
        EXPECT_FALSE(Exists(record.substr(1))) << record;
    EXPECT_FALSE(Exists(dir + "davirado.dat"));
    EXPECT_FALSE(KeyExists(key_));
    EXPECT_EQ(Exists(program), c.copyFolder == nullptr);
    EXPECT_EQ(EntriesIn(dir), c.leftInInstallFolder);
    EXPECT_TRUE(Exists(root + "Program Files\\unrelated.txt"));
    EXPECT_EQ(EntriesIn(programs), 0);
    EXPECT_TRUE(Exists(ShellFolder(CSIDL_DESKTOPDIRECTORY)));
    if (c.copyFolder) {
        const std::string copy = root + c.copyFolder + "\\duvozedad.exe";
        EXPECT_EQ(run.firstStageExit, 0u);
        EXPECT_EQ(run.workerImage, copy);
        EXPECT_EQ(run.workerCommandLine, Quoted(copy) + " " + Quoted(started));
        EXPECT_EQ(ReadBytes(copy), ReadBytes(kBuilt));
    } else {
        EXPECT_GE(GetTickCount() - start, 8500u) << "ten tries to delete the running program, a second apart";
    }
}

INSTANTIATE_TEST_SUITE_P(
    StartedAsTheSystemDoes, RealisticInstallation,
    ::testing::Values(RelaunchCase{"Temp", "Temp", "Other Tmp", "Temp", false, -1},
                      RelaunchCase{"TempWithBlanks", "Temp With Blanks", nullptr, "Temp With Blanks", false, -1},
                      RelaunchCase{"TempEndingInABackslash", "Temp Slash\\", nullptr, "Temp Slash", false, -1},
                      RelaunchCase{"OnlyTmp", nullptr, "Only Tmp", "Only Tmp", false, -1},
                      RelaunchCase{"NeitherWorksInPlaceKeepingOnlyItself", nullptr, nullptr, nullptr, false, 1},
                      RelaunchCase{"EmptyTempCountsAsUnset", "", "Only Tmp", "Only Tmp", false, -1},
                      RelaunchCase{"BothEmptyWorksInPlace", "", "", nullptr, false, 1},
                      RelaunchCase{"BareNameRemovesNoFolderForTheLog", "Temp", nullptr, "Temp", true, 0}),
    [](const ::testing::TestParamInfo<RelaunchCase>& info) { return std::string(info.param.name); });

// Started twice at once, as a double click too many does: one uninstaller
// works, the other says so and ends, and the program file goes too.
TEST(TwoStarts, OneUninstallsTheOtherSaysItIsAlreadyRunning)
{
    const std::string root = FreshRoot("two-starts"), dir = root + "Product\\", program = dir + "davirado.exe";
    const std::string title = "Stubkit Twice", key = kUninstallKeys + title;
    ASSERT_TRUE(WriteBytes(dir + "a.txt", "installed") && CopyFileA(kBuilt.c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(WriteBytes(dir + "davirado.dat", title + "\n0" + dir + "a.txt\n3" + key + "\n"));
    ASSERT_TRUE(CreateKey(key, "UninstallString", Quoted(program)));
    MakeFolders(root + "Temp\\");
    SetEnvironmentVariableA("TEMP", (root + "Temp").c_str());
    driver::StartedProcess first, second;
    ASSERT_TRUE(driver::Start(Quoted(program), &first) && driver::Start(Quoted(program), &second));

    HWND busy = driver::WaitForWindow(0, driver::kMessageBoxClass, "Uninstall");
    ASSERT_TRUE(busy);
    EXPECT_EQ(driver::MessageBoxText(busy), "Uninstall is already running.");
    EXPECT_EQ(driver::MessageBoxButtons(busy), std::vector<int>{IDOK});
    EXPECT_TRUE(driver::PressButton(busy, IDOK));
    HWND question = driver::WaitForWindow(0, driver::kMessageBoxClass, ("Uninstall " + title).c_str());
    ASSERT_TRUE(question);
    EXPECT_TRUE(driver::PressButton(question, IDYES) && driver::WaitUntilClosed(question));
    driver::SeenBox closing;
    ASSERT_TRUE(driver::AnswerMessageBox(0, IDOK, &closing));
    EXPECT_EQ(closing.text, "Uninstall Complete.");
    DWORD code = 0;
    EXPECT_TRUE(driver::WaitForExit(&first, &code) && driver::WaitForExit(&second, &code));
    for (DWORD start = GetTickCount(); Exists(dir) && GetTickCount() - start < 15000;)
        Sleep(200);
    EXPECT_FALSE(Exists(dir)) << "the program file and its folder are gone";
    EXPECT_FALSE(KeyExists(key));
}

// The first stage copies the file that argument 0 names. Here that is no
// program, so the copy cannot start: the work is then done in place rather
// than not at all.
TEST(FirstStage, CopyThatCannotStartLeavesTheWorkToTheRunningProgram)
{
    const std::string root = FreshRoot("unstartable-copy"), dir = root + "Product\\", named = dir + "davirado.exe";
    const std::string runner = root + "Runner\\davirado.exe";
    ASSERT_TRUE(WriteBytes(named, "not a program") && WriteBytes(dir + "a.txt", "installed"));
    ASSERT_TRUE(WriteBytes(dir + "davirado.dat", "Sample\n0" + dir + "a.txt\n"));
    MakeFolders(root + "Runner\\");
    MakeFolders(root + "Temp\\");
    ASSERT_TRUE(CopyFileA(kBuilt.c_str(), runner.c_str(), FALSE));
    SetEnvironmentVariableA("TEMP", (root + "Temp").c_str());
    Outcome run;
    ASSERT_NO_FATAL_FAILURE(Drive(Quoted(named), {IDYES, IDOK}, false, &run, nullptr, runner.c_str()));
    EXPECT_EQ(run.boxes, Question("Sample") + Closing("Sample"));
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(ReadBytes(root + "Temp\\duvozedad.exe"), "not a program");
    EXPECT_EQ(EntriesIn(dir), -1) << "the named file, the data file, the recorded file and their folder are gone";
}

// A copy left in TEMP by an earlier uninstall is replaced; one that cannot be
// (held open without sharing, or held for writing by another program, which
// could change it after the first stage wrote it) is never run: the work is
// done in place. Started from elsewhere with argument 0 naming the installed
// copy, the work in place deletes that copy too: the first stage must not keep
// it open without sharing deletion.
TEST(FirstStage, AStaleCopyInTempIsReplacedOrWhenItCannotBeTheWorkIsDoneInPlace)
{
    struct Holder {
        const char* name;
        DWORD access, sharing;   // access 0: not held
        bool replaced;
        const char* leftInTemp;   // nullptr: the built program
        bool startedElsewhere = false;   // the running image is not the one argument 0 names
    };
    const Holder holders[] = {
        {"not held", 0, 0, true, nullptr},
        {"held without sharing", GENERIC_READ, 0, false, "stale copy"},
        {"held without sharing, started from elsewhere", GENERIC_READ, 0, false, "stale copy", true},
        // Deleted once its holder lets go, but not before the first stage looked.
        {"held for writing, sharing all", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
         false, ""},
    };
    int index = 0;
    for (const Holder& h : holders) {
        SCOPED_TRACE(h.name);
        const std::string root = FreshRoot("stale" + std::to_string(index++)), dir = root + "Product\\";
        const std::string program = dir + "davirado.exe", stale = root + "Temp\\duvozedad.exe";
        ASSERT_TRUE(WriteBytes(dir + "a.txt", "installed") && WriteBytes(stale, "stale copy"));
        ASSERT_TRUE(WriteBytes(dir + "davirado.dat", "Sample\n0" + dir + "a.txt\n"));
        ASSERT_TRUE(CopyFileA(kBuilt.c_str(), program.c_str(), FALSE));
        const std::string runner = root + "Runner\\davirado.exe";
        MakeFolders(root + "Runner\\");
        ASSERT_TRUE(!h.startedElsewhere || CopyFileA(kBuilt.c_str(), runner.c_str(), FALSE));
        SetEnvironmentVariableA("TEMP", (root + "Temp").c_str());
        HANDLE holder = h.access ? CreateFileA(stale.c_str(), h.access, h.sharing, nullptr, OPEN_EXISTING, 0, nullptr)
                                 : INVALID_HANDLE_VALUE;
        ASSERT_EQ(holder != INVALID_HANDLE_VALUE, h.access != 0);
        Outcome run;
        Drive(Quoted(program), {IDYES, IDOK}, h.replaced, &run, nullptr, h.startedElsewhere ? runner.c_str() : nullptr);
        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(run.boxes, Question("Sample") + Closing("Sample"));
        EXPECT_EQ(ReadBytes(stale), h.leftInTemp ? h.leftInTemp : ReadBytes(kBuilt));
        EXPECT_FALSE(Exists(dir + "a.txt"));
        EXPECT_EQ(Exists(program), !h.replaced && !h.startedElsewhere)
            << "only a program other than the installed one can delete it";
        if (h.startedElsewhere)
            EXPECT_EQ(EntriesIn(dir), -1) << "the named copy, the data file, the recorded file and their folder are gone";
    }
}

// Another program of the same user tries, for the whole run, to open the copy
// for writing or deleting (so that it could swap it for a program of its own
// before it is started, perhaps elevated); it must never succeed before the
// copy runs.
TEST(FirstStage, TheCopyCannotBeOpenedForWritingOrDeletingBeforeItStarts)
{
    const std::string root = FreshRoot("raced"), dir = root + "Product\\";
    const std::string program = dir + "davirado.exe", copy = root + "Temp\\duvozedad.exe";
    ASSERT_TRUE(WriteBytes(dir + "a.txt", "installed"));
    ASSERT_TRUE(WriteBytes(dir + "davirado.dat", "Sample\n0" + dir + "a.txt\n"));
    ASSERT_TRUE(CopyFileA(kBuilt.c_str(), program.c_str(), FALSE));
    MakeFolders(root + "Temp\\");
    SetEnvironmentVariableA("TEMP", (root + "Temp").c_str());
    driver::StartedProcess racer;
    ASSERT_TRUE(driver::Start(Quoted(testpaths::OwnFolder() + "temp-copy-racer.exe") + " " + Quoted(copy), &racer));
    Outcome run;
    Drive(Quoted(program), {IDYES, IDOK}, true, &run);
    DWORD raced = ~0u;
    const bool ended = driver::WaitForExit(&racer, &raced);
    if (!ended)
        driver::Kill(&racer);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(ended);
    EXPECT_EQ(raced, 0u) << "1: opened before the copy started; 2: no copy started";
    EXPECT_EQ(run.workerImage, copy);
    EXPECT_FALSE(Exists(program));
}

// TEMP below a user name the code page cannot hold: the copy still lands
// there, byte for byte, and does the work.
TEST(FirstStage, ATempFolderNamedOutsideTheCodePageGetsTheCopy)
{
    const std::string root = FreshRoot("wide-temp"), dir = root + "Product\\", program = dir + "davirado.exe";
    ASSERT_TRUE(WriteBytes(dir + "a.txt", "installed"));
    ASSERT_TRUE(WriteBytes(dir + "davirado.dat", "Sample\n0" + dir + "a.txt\n"));
    ASSERT_TRUE(CopyFileA(kBuilt.c_str(), program.c_str(), FALSE));
    const fs::path temp = fs::path(root) / L"\u0141\u00f3d\u017a \u6771\u4eac" / L"Temp";
    fs::create_directories(temp);
    SetEnvironmentVariableW(L"TEMP", temp.wstring().c_str());
    Outcome run;
    Drive(Quoted(program), {IDYES, IDOK}, true, &run);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(run.boxes, Question("Sample") + Closing("Sample"));
    std::ifstream copy(temp / L"duvozedad.exe", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(copy), {}), ReadBytes(kBuilt));
    EXPECT_FALSE(Exists(dir + "a.txt"));
    EXPECT_FALSE(Exists(program)) << "only the copy can delete the installed program";
}

// ---- Data files of every shape, run by hand with an argument ---------------

// Paths in a case: "{I}" the install folder (with its backslash), "{K}" the
// uninstall list's key path (with its backslash), "{LONG}" a file name that
// makes "{I}long\{LONG}" exactly 259 characters. Keys are marked "key:",
// their "UninstallString" naming the uninstaller under test, or "key~:",
// naming one in another folder (another copy's entry by now).
struct LogCase {
    const char* name;
    const char* made;    // "|"-separated files, folders (ending in "\") and keys made before
    std::string log;
    std::string title;   // as the boxes must show it
    DWORD exitCode;      // 0: answered Yes, 1: answered No, 2: no data file written
    const char* gone;
    const char* kept;
};

const std::string kTitle260(260, 'T');

bool IsKey(const std::string& entry) { return entry.rfind("key:", 0) == 0 || entry.rfind("key~:", 0) == 0; }
std::string KeyPath(const std::string& entry) { return entry.substr(entry.find(':') + 1); }

bool Present(const std::string& entry)
{
    return IsKey(entry) ? KeyExists(KeyPath(entry)) : Exists(entry);
}

class DataFile : public ::testing::TestWithParam<LogCase> {
protected:
    void TearDown() override
    {
        for (const std::string& entry : List(GetParam().made))
            if (IsKey(entry))
                RegDeleteTreeA(HKEY_LOCAL_MACHINE, KeyPath(entry).c_str());
    }
    std::string Expand(std::string text) const
    {
        const std::string marks[][2] = {
            {"{I}", dir_}, {"{K}", kUninstallKeys}, {"{LONG}", std::string(259 - (dir_ + "long\\").size(), 'n')}};
        for (const auto& mark : marks)
            for (size_t at; (at = text.find(mark[0])) != std::string::npos;)
                text.replace(at, mark[0].size(), mark[1]);
        return text;
    }
    std::vector<std::string> List(const char* text) const
    {
        std::istringstream all(Expand(text));
        std::vector<std::string> entries;
        for (std::string entry; std::getline(all, entry, '|');)
            entries.push_back(entry);
        return entries;
    }
    std::string dir_;
};

TEST_P(DataFile, IsCarriedOutRecordByRecord)
{
    const LogCase& c = GetParam();
    const std::string root = FreshRoot(std::string("log-") + c.name);
    dir_ = root + "Program Files\\Sample Product\\";
    const std::string program = dir_ + "davirado.exe", runner = root + "Runner\\davirado.exe";
    MakeFolders(dir_);
    MakeFolders(root + "Runner\\");
    MakeFolders(root + "Temp\\");
    ASSERT_TRUE(CopyFileA(kBuilt.c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(kBuilt.c_str(), runner.c_str(), FALSE));
    if (c.exitCode != 2)
        ASSERT_TRUE(WriteBytes(dir_ + "davirado.dat", Expand(c.log)));
    for (const std::string& entry : List(c.made))
        ASSERT_TRUE(IsKey(entry) ? CreateKey(KeyPath(entry), "UninstallString",
                                             Quoted(entry[3] == '~' ? root + "Elsewhere\\davirado.exe" : program))
                                 : entry.back() == '\\' ? (MakeFolders(entry), true) : WriteBytes(entry, "x"))
            << entry;
    SetEnvironmentVariableA("TEMP", (root + "Temp").c_str());

    Outcome run;
    const std::vector<int> answers[] = {{IDYES, IDOK}, {IDNO}, {IDOK}};
    ASSERT_NO_FATAL_FAILURE(Drive(Quoted(runner) + " " + Quoted(program) + " ignored", answers[c.exitCode], false, &run));

    const std::string boxes[] = {Question(c.title) + Closing(c.title), Question(c.title),
                                 Box("Uninstall", "Error: Cannot open uninstall data file.", "OK")};
    EXPECT_EQ(run.boxes, boxes[c.exitCode]);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_TRUE(Exists(runner));
    EXPECT_FALSE(Exists(root + "Temp\\duvozedad.exe")) << "started with an argument, it made a copy";
    for (const std::string& entry : List(c.gone))
        EXPECT_FALSE(Present(entry)) << entry;
    for (const std::string& entry : List(c.kept))
        EXPECT_TRUE(Present(entry)) << entry;
}

#define OWN_FILES "{I}davirado.exe|{I}davirado.dat|"

INSTANTIATE_TEST_SUITE_P(
    Shapes, DataFile,
    ::testing::Values(
        LogCase{"Empty", "{I}keep.txt", "", "", 0, OWN_FILES, "{I}keep.txt"},
        LogCase{"NoFinalLineFeed", "{I}a.txt|{I}sub\\b.txt", "Sample\n0{I}a.txt\n0{I}sub\\b.txt", "Sample", 0,
                OWN_FILES "{I}a.txt|{I}sub|{I}", ""},
        LogCase{"CarriageReturnsKeepEverything", "{I}a.txt|key:{K}Stubkit CrLf",
                "Sample\r\n0{I}a.txt\r\n3{K}Stubkit CrLf\r\n", "Sample\r", 0, OWN_FILES,
                "{I}a.txt|key:{K}Stubkit CrLf"},
        LogCase{"LinesOf260Characters", "{I}long\\{LONG}|{I}after.txt",
                kTitle260 + "\n0{I}long\\{LONG}\n0{I}after.txt\n", kTitle260, 0,
                OWN_FILES "{I}long|{I}after.txt|{I}", ""},
        LogCase{"MissingFileStillEmptiesItsFolder", "{I}gone\\|{I}keep.txt", "Sample\n0{I}gone\\missing.txt\n",
                "Sample", 0, OWN_FILES "{I}gone", "{I}keep.txt"},
        LogCase{"OnlyTheProductsOwnUninstallKeyIsDeleted",
                "key:Software\\StubkitForeign\\Victim|key:{K}Stubkit Outer\\Inner|key:{K}Stubkit Genuine",
                "Sample\n3Software\\StubkitForeign\\Victim\n3{K}Stubkit Outer\\Inner\n3{K}\n3{K}Stubkit Genuine\n",
                "Sample", 0, OWN_FILES "key:{K}Stubkit Genuine",
                "key:Software\\StubkitForeign\\Victim|key:{K}Stubkit Outer\\Inner"},
        LogCase{"AnEntryAnotherCopyHasTakenIsKept", "key~:{K}Stubkit Taken", "Sample\n3{K}Stubkit Taken\n", "Sample", 0,
                OWN_FILES, "key~:{K}Stubkit Taken"},
        LogCase{"OtherLineTypesAreSkipped", "{I}a.txt", "Sample\n4{I}a.txt\n {I}a.txt\n\xE9{I}a.txt\n\n", "Sample",
                0, OWN_FILES, "{I}a.txt"},
        LogCase{"AnsweringNoChangesNothing", "{I}a.txt|key:{K}Stubkit No", "Sample\n0{I}a.txt\n3{K}Stubkit No\n",
                "Sample", 1, "", OWN_FILES "{I}a.txt|key:{K}Stubkit No"},
        LogCase{"WithoutADataFileSaysSo", "{I}a.txt", "", "", 2, "", "{I}davirado.exe|{I}a.txt"}),
    [](const ::testing::TestParamInfo<LogCase>& info) { return std::string(info.param.name); });

}  // namespace
