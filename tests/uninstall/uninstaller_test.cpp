// The uninstaller program under Wine, driven through its message boxes: the
// relaunch from the TEMP folder, the removal of a realistic installation, and
// the edge cases of the data file. Every box's caption, text and buttons are
// checked exactly.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "scratch_tree.h"
#include "test_paths.h"
#include "window_driver.h"

namespace {

const char* const kQuestion = " will be uninstalled. Do you wish to continue?";
const std::vector<int> kYesNo = {IDYES, IDNO};
const std::vector<int> kOk = {IDOK};

std::string BuiltUninstaller()
{
    return testpaths::BuildTreeFile("uninstall\\davirado.exe");
}

std::string ShellFolder(int csidl)
{
    char path[MAX_PATH] = {0};
    SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE);
    return path;
}

int EntriesIn(const std::string& folder)
{
    int count = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            ++count;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

// TEMP and TMP as the program under test sees them (it inherits this
// process's environment); nullptr leaves a variable unset. Restored after.
class TempVariables {
public:
    TempVariables(const char* temp, const char* tmp)
    {
        Save("TEMP", &temp_, &hadTemp_);
        Save("TMP", &tmp_, &hadTmp_);
        SetEnvironmentVariableA("TEMP", temp);
        SetEnvironmentVariableA("TMP", tmp);
    }
    ~TempVariables()
    {
        SetEnvironmentVariableA("TEMP", hadTemp_ ? temp_.c_str() : nullptr);
        SetEnvironmentVariableA("TMP", hadTmp_ ? tmp_.c_str() : nullptr);
    }

private:
    static void Save(const char* name, std::string* value, bool* had)
    {
        char text[MAX_PATH * 2] = {0};
        *had = GetEnvironmentVariableA(name, text, sizeof text) > 0;
        *value = text;
    }
    std::string temp_, tmp_;
    bool hadTemp_ = false, hadTmp_ = false;
};

// A product installed the way the installer leaves it: files in nested
// folders, a Start-menu group with two links, a desktop link, the uninstall
// key with its two values, the uninstaller and its data file naming them all.
struct Installation {
    std::string root;
    std::string installDir;       // ends in a backslash
    std::string unrelatedFile;    // beside the install folder, not installed
    std::string title;
    std::string keyPath;
    std::string group;
    std::string desktopLink;
    std::vector<std::string> files;
    std::vector<std::string> links;

    std::string Program() const { return installDir + "davirado.exe"; }
    std::string Log() const { return installDir + "davirado.dat"; }
};

Installation Install(const std::string& name)
{
    Installation product;
    product.root = scratch::FreshRoot(name);
    product.installDir = product.root + "Program Files\\Sample Product\\";
    product.unrelatedFile = product.root + "Program Files\\unrelated.txt";
    product.title = "Stubkit Sample " + name;
    product.keyPath = std::string(scratch::kUninstallKeys) + product.title;
    product.group = ShellFolder(CSIDL_PROGRAMS) + "\\" + product.title;
    product.desktopLink = ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\" + product.title + ".lnk";
    for (const char* file : {"Sample.exe", "bin\\tool.dll", "bin\\plugins\\one.dll",
                             "docs\\Read Me.txt", "data\\deep\\deeper\\table.bin"})
        product.files.push_back(product.installDir + file);
    product.links = {product.group + "\\Sample.lnk", product.group + "\\Read Me.lnk"};

    scratch::MakeFolders(product.installDir);
    EXPECT_TRUE(CopyFileA(BuiltUninstaller().c_str(), product.Program().c_str(), FALSE));
    std::string log = product.title + "\n";
    for (const std::string& file : product.files) {
        EXPECT_TRUE(scratch::WriteFile(file, "installed " + file));
        log += "0" + file + "\n";
    }
    for (const std::string& link : product.links) {
        EXPECT_TRUE(scratch::WriteFile(link, "link"));
        log += "1" + link + "\n";
    }
    EXPECT_TRUE(scratch::WriteFile(product.desktopLink, "link"));
    log += "2" + product.desktopLink + "\n";
    EXPECT_TRUE(scratch::CreateKey(product.keyPath, "DisplayName", product.title));
    EXPECT_TRUE(scratch::CreateKey(product.keyPath, "UninstallString",
                                   testpaths::Quoted(product.Program())));
    log += "3" + product.keyPath + "\n";
    EXPECT_TRUE(scratch::WriteFile(product.Log(), log));
    EXPECT_TRUE(scratch::WriteFile(product.unrelatedFile, "not installed"));
    return product;
}

void RemoveLeftovers(const Installation& product)
{
    scratch::RemoveTree(product.group);
    DeleteFileA(product.desktopLink.c_str());
    scratch::DeleteKeyTree(product.keyPath);
}

void ExpectEverythingRecordedIsGone(const Installation& product)
{
    for (const std::string& file : product.files)
        EXPECT_FALSE(scratch::Exists(file)) << file;
    EXPECT_FALSE(scratch::Exists(product.installDir + "bin"));
    EXPECT_FALSE(scratch::Exists(product.installDir + "data"));
    EXPECT_FALSE(scratch::Exists(product.Log()));
    EXPECT_FALSE(scratch::Exists(product.group));
    EXPECT_FALSE(scratch::Exists(product.desktopLink));
    EXPECT_FALSE(scratch::KeyExists(product.keyPath));
    EXPECT_TRUE(scratch::Exists(product.unrelatedFile));
    EXPECT_TRUE(scratch::Exists(ShellFolder(CSIDL_DESKTOPDIRECTORY)));
    EXPECT_TRUE(scratch::Exists(ShellFolder(CSIDL_PROGRAMS)));
}

void ExpectUntouched(const Installation& product)
{
    for (const std::string& path : product.files)
        EXPECT_TRUE(scratch::Exists(path)) << path;
    for (const std::string& path : product.links)
        EXPECT_TRUE(scratch::Exists(path)) << path;
    EXPECT_TRUE(scratch::Exists(product.desktopLink));
    EXPECT_TRUE(scratch::KeyExists(product.keyPath));
    EXPECT_TRUE(scratch::Exists(product.Program()));
    EXPECT_TRUE(scratch::Exists(product.Log()));
}

void ExpectQuestion(const driver::SeenBox& seen, const std::string& title)
{
    EXPECT_EQ(seen.caption, "Uninstall " + title);
    EXPECT_EQ(seen.text, title + kQuestion);
    EXPECT_EQ(seen.buttons, kYesNo);
}

void ExpectClosing(const driver::SeenBox& seen, const std::string& title)
{
    EXPECT_EQ(seen.caption, "Uninstall " + title);
    EXPECT_EQ(seen.text, "Uninstall Complete.");
    EXPECT_EQ(seen.buttons, kOk);
}

// What one uninstall looked like from outside.
struct UninstallRun {
    DWORD firstStageExit = 0;
    driver::StartedProcess worker;    // the process that showed the boxes
    std::string workerImage;
    std::string workerCommandLine;
    driver::SeenBox question;
    driver::SeenBox closing;
    DWORD exitCode = 0;
};

// Starts the command like the system does and answers the boxes, Yes then
// OK, from whichever process shows them. `firstStageEnds`: the started
// process hands over to a copy and ends without a box of its own.
void Uninstall(const std::string& commandLine, const char* directory, bool firstStageEnds,
               UninstallRun* run)
{
    driver::StartedProcess started;
    ASSERT_TRUE(driver::Start(commandLine, &started, directory)) << commandLine;
    if (firstStageEnds) {
        bool ended = driver::WaitForExit(&started, &run->firstStageExit);
        if (!ended)
            driver::Kill(&started);
        ASSERT_TRUE(ended) << "the first stage did not end";
    }
    bool asked = driver::AnswerMessageBox(0, IDYES, &run->question);
    if (!asked)
        driver::Kill(&started);
    ASSERT_TRUE(asked) << "no confirmation";
    if (firstStageEnds) {
        ASSERT_TRUE(driver::Attach(run->question.processId, &run->worker));
        run->workerImage = driver::ProcessImagePath(run->worker);
        run->workerCommandLine = driver::ProcessCommandLine(run->worker);
    } else {
        run->worker = started;
    }
    bool closed = driver::AnswerMessageBox(run->worker.id, IDOK, &run->closing);
    if (!closed)
        driver::Kill(&run->worker);
    ASSERT_TRUE(closed) << "no closing message";
    bool ended = driver::WaitForExit(&run->worker, &run->exitCode);
    if (!ended)
        driver::Kill(&run->worker);
    ASSERT_TRUE(ended);
}

// ---- Started from the list of installed programs --------------------------

struct RelaunchCase {
    const char* name;
    const char* temp;        // below the root; nullptr: unset
    const char* tmp;
    const char* copyFolder;  // where the copy must go, below the root
};

void PrintTo(const RelaunchCase& c, std::ostream* out) { *out << c.name; }

class FromTheListOfPrograms : public ::testing::TestWithParam<RelaunchCase> {
protected:
    void TearDown() override { RemoveLeftovers(product_); }
    Installation product_;
};

TEST_P(FromTheListOfPrograms, TheTempCopyRemovesTheWholeInstallation)
{
    const RelaunchCase& c = GetParam();
    // An empty Programs folder of its own, so that keeping it is observable.
    const std::string programs = "C:\\stubkit-uninstall\\programs-" + std::string(c.name);
    scratch::RemoveTree(programs);
    scratch::MakeFolders(programs + "\\");
    scratch::ShellFolderRedirect redirect(HKEY_CURRENT_USER, scratch::kUserShellFolders, "Programs",
                                          programs);
    ASSERT_EQ(ShellFolder(CSIDL_PROGRAMS), programs);
    product_ = Install(std::string("relaunch-") + c.name);
    ASSERT_EQ(EntriesIn(ShellFolder(CSIDL_DESKTOPDIRECTORY)), 1)
        << "the desktop must hold only this product's link for the test to mean anything";
    auto below = [&](const char* path) { return path ? product_.root + path : std::string(); };
    for (const char* folder : {c.temp, c.tmp})
        if (folder)
            scratch::MakeFolders(below(folder) + "\\");
    TempVariables variables(c.temp ? below(c.temp).c_str() : nullptr,
                            c.tmp ? below(c.tmp).c_str() : nullptr);
    const std::string copy = product_.root + c.copyFolder + "\\duvozedad.exe";

    UninstallRun run;
    ASSERT_NO_FATAL_FAILURE(Uninstall(testpaths::Quoted(product_.Program()), nullptr, true, &run));

    EXPECT_EQ(run.firstStageExit, 0u);
    EXPECT_EQ(run.workerImage, copy);
    EXPECT_EQ(run.workerCommandLine,
              testpaths::Quoted(copy) + " " + testpaths::Quoted(product_.Program()));
    ExpectQuestion(run.question, product_.title);
    ExpectClosing(run.closing, product_.title);
    EXPECT_EQ(run.exitCode, 0u);
    ExpectEverythingRecordedIsGone(product_);
    EXPECT_FALSE(scratch::Exists(product_.Program()));
    EXPECT_FALSE(scratch::Exists(product_.installDir));
    EXPECT_EQ(scratch::ReadFile(copy), scratch::ReadFile(BuiltUninstaller()));
    EXPECT_EQ(EntriesIn(programs), 0);
}

INSTANTIATE_TEST_SUITE_P(
    TempFolders, FromTheListOfPrograms,
    ::testing::Values(RelaunchCase{"Temp", "Temp", "Other Tmp", "Temp"},
                      RelaunchCase{"TempWithBlanks", "Temp With Blanks", nullptr, "Temp With Blanks"},
                      RelaunchCase{"TempEndingInABackslash", "Temp Slash\\", nullptr, "Temp Slash"},
                      RelaunchCase{"OnlyTmp", nullptr, "Only Tmp", "Only Tmp"}),
    [](const ::testing::TestParamInfo<RelaunchCase>& info) { return std::string(info.param.name); });

class Uninstaller : public ::testing::Test {
protected:
    void TearDown() override { RemoveLeftovers(product_); }
    Installation product_;
};

TEST_F(Uninstaller, WithNeitherTempNorTmpWorksInPlaceAndKeepsOnlyItsOwnFile)
{
    product_ = Install("in-place");
    TempVariables variables(nullptr, nullptr);

    UninstallRun run;
    const DWORD start = GetTickCount();
    ASSERT_NO_FATAL_FAILURE(Uninstall(testpaths::Quoted(product_.Program()), nullptr, false, &run));

    ExpectQuestion(run.question, product_.title);
    ExpectClosing(run.closing, product_.title);
    EXPECT_EQ(run.exitCode, 0u);
    // Ten tries to delete the running program, nine pauses of a second between.
    EXPECT_GE(GetTickCount() - start, 8500u);
    ExpectEverythingRecordedIsGone(product_);
    EXPECT_TRUE(scratch::Exists(product_.Program()));
    EXPECT_EQ(EntriesIn(product_.installDir), 1);
}

TEST_F(Uninstaller, StartedByHandWithAnArgumentRemovesThatInstallationWithoutACopy)
{
    product_ = Install("by-hand");
    const std::string runner = product_.root + "Runner\\davirado.exe";
    scratch::MakeFolders(product_.root + "Runner\\");
    ASSERT_TRUE(CopyFileA(BuiltUninstaller().c_str(), runner.c_str(), FALSE));
    scratch::MakeFolders(product_.root + "Temp\\");
    TempVariables variables((product_.root + "Temp").c_str(), nullptr);

    UninstallRun run;
    const std::string byHand =
        testpaths::Quoted(runner) + " " + testpaths::Quoted(product_.Program()) + " ignored";
    ASSERT_NO_FATAL_FAILURE(Uninstall(byHand, nullptr, false, &run));

    ExpectQuestion(run.question, product_.title);
    ExpectClosing(run.closing, product_.title);
    EXPECT_EQ(run.exitCode, 0u);
    ExpectEverythingRecordedIsGone(product_);
    EXPECT_FALSE(scratch::Exists(product_.installDir));
    EXPECT_TRUE(scratch::Exists(runner));
    EXPECT_FALSE(scratch::Exists(product_.root + "Temp\\duvozedad.exe"));
}

TEST_F(Uninstaller, StartedByABareFileNameLooksInTheCurrentFolderAndRemovesNoFolderForTheLog)
{
    product_ = Install("bare-name");
    scratch::MakeFolders(product_.root + "Temp\\");
    TempVariables variables((product_.root + "Temp").c_str(), nullptr);
    const std::string copy = product_.root + "Temp\\duvozedad.exe";
    // The system looks for a bare program name in the starting process's
    // current folder.
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(product_.installDir.c_str()));

    UninstallRun run;
    Uninstall("davirado.exe", product_.installDir.c_str(), true, &run);
    SetCurrentDirectoryA(previous);
    ASSERT_FALSE(HasFatalFailure());

    EXPECT_EQ(run.workerCommandLine, testpaths::Quoted(copy) + " \"davirado.exe\"");
    ExpectQuestion(run.question, product_.title);
    ExpectClosing(run.closing, product_.title);
    ExpectEverythingRecordedIsGone(product_);
    EXPECT_FALSE(scratch::Exists(product_.Program()));
    EXPECT_TRUE(scratch::Exists(product_.installDir));
    EXPECT_EQ(EntriesIn(product_.installDir), 0);
}

TEST_F(Uninstaller, AnsweringNoChangesNothingAndEndsWithOne)
{
    product_ = Install("answer-no");
    const std::string runner = product_.root + "Runner\\davirado.exe";
    scratch::MakeFolders(product_.root + "Runner\\");
    ASSERT_TRUE(CopyFileA(BuiltUninstaller().c_str(), runner.c_str(), FALSE));

    driver::StartedProcess started;
    ASSERT_TRUE(driver::Start(testpaths::Quoted(runner) + " " + testpaths::Quoted(product_.Program()),
                              &started));
    driver::SeenBox question;
    bool asked = driver::AnswerMessageBox(started.id, IDNO, &question);
    DWORD exitCode = 0;
    bool ended = asked && driver::WaitForExit(&started, &exitCode);
    if (!ended)
        driver::Kill(&started);
    ASSERT_TRUE(ended);

    ExpectQuestion(question, product_.title);
    EXPECT_EQ(exitCode, 1u);
    ExpectUntouched(product_);
}

TEST_F(Uninstaller, WithoutADataFileSaysSoAndEndsWithTwo)
{
    product_ = Install("no-log");
    ASSERT_TRUE(DeleteFileA(product_.Log().c_str()));
    const std::string runner = product_.root + "Runner\\davirado.exe";
    scratch::MakeFolders(product_.root + "Runner\\");
    ASSERT_TRUE(CopyFileA(BuiltUninstaller().c_str(), runner.c_str(), FALSE));

    driver::StartedProcess started;
    ASSERT_TRUE(driver::Start(testpaths::Quoted(runner) + " " + testpaths::Quoted(product_.Program()),
                              &started));
    driver::SeenBox error;
    bool shown = driver::AnswerMessageBox(started.id, IDOK, &error);
    DWORD exitCode = 0;
    bool ended = shown && driver::WaitForExit(&started, &exitCode);
    if (!ended)
        driver::Kill(&started);
    ASSERT_TRUE(ended);

    EXPECT_EQ(error.caption, "Uninstall");
    EXPECT_EQ(error.text, "Error: Cannot open uninstall data file.");
    EXPECT_EQ(error.buttons, kOk);
    EXPECT_EQ(exitCode, 2u);
    EXPECT_TRUE(scratch::Exists(product_.Program()));
    for (const std::string& file : product_.files)
        EXPECT_TRUE(scratch::Exists(file)) << file;
}

// ---- Data files of every shape ---------------------------------------------

// Paths in a case: "{I}" the install folder (with its backslash), "{K}" the
// uninstall list's key path (with its backslash), "{LONG}" a file name that
// makes "{I}long\{LONG}" exactly 259 characters. Keys are marked "key:".
struct LogCase {
    const char* name;
    const char* files;   // "|"-separated, created before; folders end in "\"
    const char* keys;    // "|"-separated, created before
    std::string log;
    std::string title;   // as the boxes must show it
    const char* gone;
    const char* kept;
};

void PrintTo(const LogCase& c, std::ostream* out) { *out << c.name; }

const std::string kTitle260(260, 'T');

class DataFile : public ::testing::TestWithParam<LogCase> {
protected:
    void TearDown() override
    {
        Each(GetParam().keys, [](const std::string& key) { scratch::DeleteKeyTree(key); });
    }

    std::string Expand(const std::string& text) const
    {
        std::string longName(259 - (installDir_ + "long\\").size(), 'n');
        std::string filled = scratch::Fill(text, "I", installDir_);
        filled = scratch::Fill(filled, "K", scratch::kUninstallKeys);
        return scratch::Fill(filled, "LONG", longName);
    }

    template <typename Action>
    void Each(const char* list, Action action) const
    {
        std::string all = Expand(list);
        size_t start = 0;
        while (start < all.size()) {
            size_t end = all.find('|', start);
            if (end == std::string::npos)
                end = all.size();
            if (end > start)
                action(all.substr(start, end - start));
            start = end + 1;
        }
    }

    std::string installDir_;
};

bool IsKey(const std::string& entry) { return entry.rfind("key:", 0) == 0; }

bool Present(const std::string& entry)
{
    return IsKey(entry) ? scratch::KeyExists(entry.substr(4)) : scratch::Exists(entry);
}

TEST_P(DataFile, IsCarriedOutRecordByRecord)
{
    const LogCase& c = GetParam();
    const std::string root = scratch::FreshRoot(std::string("log-") + c.name);
    installDir_ = root + "Program Files\\Sample Product\\";
    scratch::MakeFolders(installDir_);
    const std::string program = installDir_ + "davirado.exe";
    ASSERT_TRUE(CopyFileA(BuiltUninstaller().c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(scratch::WriteFile(installDir_ + "davirado.dat", Expand(c.log)));
    Each(c.files, [](const std::string& path) {
        if (path.back() == '\\')
            scratch::MakeFolders(path);
        else
            ASSERT_TRUE(scratch::WriteFile(path, "x")) << path;
    });
    Each(c.keys, [](const std::string& key) { ASSERT_TRUE(scratch::CreateKey(key)) << key; });
    const std::string runner = root + "Runner\\davirado.exe";
    scratch::MakeFolders(root + "Runner\\");
    ASSERT_TRUE(CopyFileA(BuiltUninstaller().c_str(), runner.c_str(), FALSE));

    UninstallRun run;
    const std::string byHand = testpaths::Quoted(runner) + " " + testpaths::Quoted(program);
    ASSERT_NO_FATAL_FAILURE(Uninstall(byHand, nullptr, false, &run));

    ExpectQuestion(run.question, c.title);
    ExpectClosing(run.closing, c.title);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(scratch::Exists(program));
    EXPECT_FALSE(scratch::Exists(installDir_ + "davirado.dat"));
    Each(c.gone, [](const std::string& entry) { EXPECT_FALSE(Present(entry)) << entry; });
    Each(c.kept, [](const std::string& entry) { EXPECT_TRUE(Present(entry)) << entry; });
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, DataFile,
    ::testing::Values(
        LogCase{"Empty", "{I}keep.txt", "", "", "", "", "{I}keep.txt"},
        LogCase{"TitleOnlyRemovesJustItsOwnFilesAndTheEmptiedFolder", "", "", "Sample\n", "Sample",
                "{I}", ""},
        LogCase{"NoFinalLineFeed", "{I}a.txt|{I}sub\\b.txt", "",
                "Sample\n0{I}a.txt\n0{I}sub\\b.txt", "Sample", "{I}a.txt|{I}sub|{I}", ""},
        LogCase{"CarriageReturnsKeepEverything", "{I}a.txt", "{K}Stubkit CrLf",
                "Sample\r\n0{I}a.txt\r\n3{K}Stubkit CrLf\r\n", "Sample\r", "",
                "{I}a.txt|key:{K}Stubkit CrLf"},
        LogCase{"LinesOf260Characters", "{I}long\\{LONG}|{I}after.txt", "",
                kTitle260 + "\n0{I}long\\{LONG}\n0{I}after.txt\n", kTitle260,
                "{I}long|{I}after.txt|{I}", ""},
        LogCase{"MissingFileStillEmptiesItsFolder", "{I}gone\\|{I}keep.txt", "",
                "Sample\n0{I}gone\\missing.txt\n", "Sample", "{I}gone", "{I}keep.txt"},
        LogCase{"OnlyTheProductsOwnUninstallKeyIsDeleted", "",
                "Software\\StubkitForeign\\Victim|{K}Stubkit Outer\\Inner|"
                "Software\\Microsoft\\Windows\\CurrentVersion\\UninstallStubkit\\Victim|{K}Stubkit Genuine",
                "Sample\n3Software\\StubkitForeign\\Victim\n3{K}Stubkit Outer\\Inner\n"
                "3Software\\Microsoft\\Windows\\CurrentVersion\\UninstallStubkit\\Victim\n3{K}\n"
                "3{K}Stubkit Genuine\n",
                "Sample", "key:{K}Stubkit Genuine",
                "key:Software\\StubkitForeign\\Victim|key:{K}Stubkit Outer\\Inner|"
                "key:Software\\Microsoft\\Windows\\CurrentVersion\\UninstallStubkit\\Victim"},
        LogCase{"OtherLineTypesAreSkipped", "{I}a.txt", "",
                "Sample\n4{I}a.txt\n {I}a.txt\n\xE9{I}a.txt\n\n", "Sample", "", "{I}a.txt"}),
    [](const ::testing::TestParamInfo<LogCase>& info) { return std::string(info.param.name); });

}  // namespace
