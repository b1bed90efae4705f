// The uninstaller's removal rules, run in this process: which folders the
// climb removes and where it stops, and which registry key records it obeys.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "scratch_tree.h"
#include "uninstall/uninstaller.h"

namespace {

// ---- Registry key records -------------------------------------------------

#define CURRENT_VERSION "Software\\Microsoft\\Windows\\CurrentVersion\\"

struct KeyPathCase {
    const char* name;
    const char* keyPath;
    bool obeyed;
};

void PrintTo(const KeyPathCase& c, std::ostream* out) { *out << c.name; }

class UninstallKeyPath : public ::testing::TestWithParam<KeyPathCase> {};

TEST_P(UninstallKeyPath, OnlyOneNameDirectlyBelowTheUninstallListIsObeyed)
{
    EXPECT_EQ(IsUninstallKeyPath(GetParam().keyPath), GetParam().obeyed) << GetParam().keyPath;
}

INSTANTIATE_TEST_SUITE_P(
    Records, UninstallKeyPath,
    ::testing::Values(
        KeyPathCase{"ProductKey", CURRENT_VERSION "Uninstall\\Sample 1.0", true},
        KeyPathCase{"OtherLetterCase", "SOFTWARE\\microsoft\\windows\\currentversion\\uninstall\\Sample", true},
        KeyPathCase{"OneCharacterName", CURRENT_VERSION "Uninstall\\x", true},
        KeyPathCase{"TheListItself", CURRENT_VERSION "Uninstall\\", false},
        KeyPathCase{"ListWithoutSeparator", CURRENT_VERSION "Uninstall", false},
        KeyPathCase{"TwoLevelsDown", CURRENT_VERSION "Uninstall\\Sample\\Sub", false},
        KeyPathCase{"TrailingSeparator", CURRENT_VERSION "Uninstall\\Sample\\", false},
        KeyPathCase{"SiblingOfTheList", CURRENT_VERSION "UninstallOther\\Sample", false},
        KeyPathCase{"ForeignKey", "Software\\Classes\\txtfile", false},
        KeyPathCase{"LeadingSeparator", "\\" CURRENT_VERSION "Uninstall\\Sample", false},
        KeyPathCase{"Empty", "", false}),
    [](const ::testing::TestParamInfo<KeyPathCase>& info) { return std::string(info.param.name); });

// ---- Protected folders ----------------------------------------------------

struct ShellFolderCase {
    const char* name;
    int csidl;
};

void PrintTo(const ShellFolderCase& c, std::ostream* out) { *out << c.name; }

const ShellFolderCase kProtectedFolders[] = {
    {"Programs", CSIDL_PROGRAMS},
    {"StartMenu", CSIDL_STARTMENU},
    {"Desktop", CSIDL_DESKTOPDIRECTORY},
    {"CommonPrograms", CSIDL_COMMON_PROGRAMS},
    {"CommonStartMenu", CSIDL_COMMON_STARTMENU},
    {"CommonDesktop", CSIDL_COMMON_DESKTOPDIRECTORY},
    {"ProgramFiles", CSIDL_PROGRAM_FILES},
    {"Windows", CSIDL_WINDOWS},
    {"Profile", CSIDL_PROFILE},
};

std::string ShellFolder(int csidl)
{
    char path[MAX_PATH] = {0};
    SHGetSpecialFolderPathA(nullptr, path, csidl, FALSE);
    return path;
}

std::string Transformed(std::string text, int (*change)(int))
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [change](unsigned char c) { return static_cast<char>(change(c)); });
    return text;
}

class ProtectedFolder : public ::testing::TestWithParam<ShellFolderCase> {};

TEST_P(ProtectedFolder, IsRecognisedInAnySpellingButItsSubfoldersAndParentAreNot)
{
    const std::string folder = ShellFolder(GetParam().csidl);
    ASSERT_GT(folder.size(), 3u) << "the shell does not know this folder here";
    const std::string name = folder.substr(folder.find_last_of('\\') + 1);
    const std::string parent = folder.substr(0, folder.find_last_of('\\'));
    std::string slashed = folder;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');

    EXPECT_TRUE(IsProtectedFolder(folder.c_str()));
    EXPECT_TRUE(IsProtectedFolder(Transformed(folder, ::toupper).c_str()));
    EXPECT_TRUE(IsProtectedFolder(Transformed(folder, ::tolower).c_str()));
    EXPECT_TRUE(IsProtectedFolder(slashed.c_str()));
    EXPECT_TRUE(IsProtectedFolder((folder + "\\sub\\..").c_str()));
    EXPECT_FALSE(IsProtectedFolder((folder + "\\Sample Group").c_str()));
    EXPECT_FALSE(IsProtectedFolder((folder + "x").c_str()));
    EXPECT_FALSE(IsProtectedFolder((parent + "\\x" + name).c_str()));
}

INSTANTIATE_TEST_SUITE_P(
    EachShellFolder, ProtectedFolder, ::testing::ValuesIn(kProtectedFolders),
    [](const ::testing::TestParamInfo<ShellFolderCase>& info) { return std::string(info.param.name); });

TEST(ProtectedFolderList, LeavesOrdinaryFoldersToTheClimb)
{
    EXPECT_FALSE(IsProtectedFolder("C:\\stubkit-uninstall\\Sample Product"));
    EXPECT_FALSE(IsProtectedFolder("C:\\stubkit-uninstall"));
}

// ---- The climb ------------------------------------------------------------

struct ClimbCase {
    const char* name;
    const char* files;      // "|"-separated, below the root; folders end in "\"
    const char* deleted;    // the path handed over, below the root
    const char* gone;       // "|"-separated paths that must be gone afterwards
    const char* kept;       // "|"-separated paths that must remain
};

void PrintTo(const ClimbCase& c, std::ostream* out) { *out << c.name; }

std::string DeepPath(int levels)
{
    std::string path;
    for (int level = 1; level <= levels; ++level)
        path += "d" + std::to_string(level) + "\\";
    return path;
}

std::string Expand(const std::string& text)
{
    return scratch::Fill(text, "deep17", DeepPath(17));
}

template <typename Each>
void ForEachPiece(const std::string& list, Each each)
{
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find('|', start);
        if (end == std::string::npos)
            end = list.size();
        if (end > start)
            each(list.substr(start, end - start));
        start = end + 1;
    }
}

class Climb : public ::testing::TestWithParam<ClimbCase> {};

TEST_P(Climb, RemovesExactlyTheFoldersEmptiedUpToItsLimit)
{
    const std::string root = scratch::FreshRoot(std::string("climb-") + GetParam().name);
    ASSERT_TRUE(scratch::WriteFile(root + "keep.txt", "keeps the root"));
    ForEachPiece(Expand(GetParam().files), [&](const std::string& path) {
        if (path.back() == '\\')
            scratch::MakeFolders(root + path);
        else
            ASSERT_TRUE(scratch::WriteFile(root + path, "x"));
    });

    DeleteFileAndEmptyParents((root + Expand(GetParam().deleted)).c_str());

    ForEachPiece(Expand(GetParam().gone), [&](const std::string& path) {
        EXPECT_FALSE(scratch::Exists(root + path)) << path;
    });
    ForEachPiece(Expand(GetParam().kept), [&](const std::string& path) {
        EXPECT_TRUE(scratch::Exists(root + path)) << path;
    });
    EXPECT_TRUE(scratch::Exists(root + "keep.txt"));
}

INSTANTIATE_TEST_SUITE_P(
    Trees, Climb,
    ::testing::Values(
        ClimbCase{"NestedFoldersAllEmptied", "a\\b\\c\\f.txt", "a\\b\\c\\f.txt", "a\\b\\c\\f.txt|a", ""},
        ClimbCase{"StopsRemovingAtAFolderThatStillHoldsSomething", "a\\other.txt|a\\b\\f.txt",
                  "a\\b\\f.txt", "a\\b", "a\\other.txt"},
        ClimbCase{"SiblingFolderKeepsTheParent", "a\\b\\f.txt|a\\c\\", "a\\b\\f.txt", "a\\b", "a\\c"},
        ClimbCase{"MissingFileStillEmptiesItsFolders", "gone\\deeper\\", "gone\\deeper\\missing.txt",
                  "gone", ""},
        ClimbCase{"AtMostSixteenFolders", "{deep17}f.txt", "{deep17}f.txt", "d1\\d2",
                  "d1"},
        ClimbCase{"FileOnlyTouchesItsOwnFolders", "a\\f.txt|b\\", "a\\f.txt", "a", "b"}),
    [](const ::testing::TestParamInfo<ClimbCase>& info) { return std::string(info.param.name); });

TEST(ClimbFromABareName, DeletesTheFileButRemovesNoFolder)
{
    const std::string root = scratch::FreshRoot("climb-bare-name");
    ASSERT_TRUE(scratch::WriteFile(root + "work\\f.txt", "x"));
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    ASSERT_TRUE(SetCurrentDirectoryA((root + "work").c_str()));
    DeleteFileAndEmptyParents("f.txt");
    SetCurrentDirectoryA(previous);
    EXPECT_FALSE(scratch::Exists(root + "work\\f.txt"));
    EXPECT_TRUE(scratch::Exists(root + "work"));
}

// The user's and the system's folders are found where the shell says they
// are; pointing the shell at an empty scratch folder makes the removal of the
// last shortcut in it observable.
struct RedirectedFolderCase {
    const char* name;
    int csidl;
    HKEY root;
    const char* key;
    const char* value;
};

void PrintTo(const RedirectedFolderCase& c, std::ostream* out) { *out << c.name; }

class RedirectedShellFolder : public ::testing::TestWithParam<RedirectedFolderCase> {};

TEST_P(RedirectedShellFolder, SurvivesTheRemovalOfTheLastFileInIt)
{
    const std::string root = scratch::FreshRoot(std::string("shell-") + GetParam().name);
    const std::string folder = root + "Shell Folder";
    scratch::MakeFolders(folder + "\\");
    ASSERT_TRUE(scratch::WriteFile(folder + "\\Sample.lnk", "link"));
    {
        scratch::ShellFolderRedirect redirect(GetParam().root, GetParam().key, GetParam().value, folder);
        ASSERT_EQ(ShellFolder(GetParam().csidl), folder) << "the shell ignored the redirection";
        DeleteFileAndEmptyParents((folder + "\\Sample.lnk").c_str());
    }
    EXPECT_FALSE(scratch::Exists(folder + "\\Sample.lnk"));
    EXPECT_TRUE(scratch::Exists(folder));
    EXPECT_TRUE(scratch::Exists(root));
}

INSTANTIATE_TEST_SUITE_P(
    EachShellFolder, RedirectedShellFolder,
    ::testing::Values(
        RedirectedFolderCase{"Desktop", CSIDL_DESKTOPDIRECTORY, HKEY_CURRENT_USER,
                             scratch::kUserShellFolders, "Desktop"},
        RedirectedFolderCase{"Programs", CSIDL_PROGRAMS, HKEY_CURRENT_USER,
                             scratch::kUserShellFolders, "Programs"},
        RedirectedFolderCase{"StartMenu", CSIDL_STARTMENU, HKEY_CURRENT_USER,
                             scratch::kUserShellFolders, "Start Menu"},
        RedirectedFolderCase{"CommonDesktop", CSIDL_COMMON_DESKTOPDIRECTORY, HKEY_LOCAL_MACHINE,
                             scratch::kUserShellFolders, "Common Desktop"},
        RedirectedFolderCase{"CommonPrograms", CSIDL_COMMON_PROGRAMS, HKEY_LOCAL_MACHINE,
                             scratch::kUserShellFolders, "Common Programs"},
        RedirectedFolderCase{"CommonStartMenu", CSIDL_COMMON_STARTMENU, HKEY_LOCAL_MACHINE,
                             scratch::kUserShellFolders, "Common Start Menu"},
        RedirectedFolderCase{"ProgramFiles", CSIDL_PROGRAM_FILES, HKEY_LOCAL_MACHINE,
                             "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir"}),
    [](const ::testing::TestParamInfo<RedirectedFolderCase>& info) { return std::string(info.param.name); });

}  // namespace
