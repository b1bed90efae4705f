// The folder dialog and its tree, in-process: the dialog runs on a second
// thread while the test reads the tree, edits the path and presses buttons.
// The tree is checked against the disk: every listed level holds exactly the
// folders there, one level ahead of what is open.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "folder_dialog_window.h"
#include "folderdlg/dir_select_dialog.h"
#include "common/setup_globals.h"
#include "test_paths.h"
#include "window_driver.h"

namespace {

using folderdialog::kCancelButton;
using folderdialog::kOkButton;
using folderdialog::kPathEdit;

const std::string kDefaultFolder = "$$DefaultFolder";   // the unpatched record's
constexpr std::size_t kMaxPath = 260;

std::string Lower(std::string text)
{
    CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// ---- The tree, read through its messages ----

std::string ItemText(HWND tree, HTREEITEM item)
{
    char text[261] = {0};
    TVITEMA request = {};
    request.mask = TVIF_TEXT;
    request.hItem = item;
    request.pszText = text;
    request.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&request));
    return text;
}

// The item `how` (TVGN_CHILD, TVGN_NEXT, TVGN_PARENT, TVGN_CARET, ...) of `from`.
HTREEITEM Next(HWND tree, UINT how, HTREEITEM from = nullptr)
{
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(from)));
}

std::vector<HTREEITEM> ChildrenOf(HWND tree, HTREEITEM parent)
{
    std::vector<HTREEITEM> children;
    for (HTREEITEM item = parent ? Next(tree, TVGN_CHILD, parent) : Next(tree, TVGN_ROOT); item;
         item = Next(tree, TVGN_NEXT, item))
        children.push_back(item);
    return children;
}

std::vector<std::string> NamesOf(HWND tree, const std::vector<HTREEITEM>& items)
{
    std::vector<std::string> names;
    for (HTREEITEM item : items)
        names.push_back(Lower(ItemText(tree, item)));
    std::sort(names.begin(), names.end());
    return names;
}

int ItemPicture(HWND tree, HTREEITEM item, bool selected)
{
    TVITEMA request = {};
    request.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    request.hItem = item;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&request));
    return selected ? request.iSelectedImage : request.iImage;
}

HTREEITEM Selected(HWND tree) { return Next(tree, TVGN_CARET); }

bool IsExpanded(HWND tree, HTREEITEM item)
{
    return (SendMessageA(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
}

std::string PathOf(HWND tree, HTREEITEM item)
{
    std::string path;
    for (; item; item = Next(tree, TVGN_PARENT, item))
        path = ItemText(tree, item) + "\\" + path;
    return path;
}

HTREEITEM ChildNamed(HWND tree, HTREEITEM parent, const std::string& name)
{
    for (HTREEITEM child : ChildrenOf(tree, parent))
        if (Lower(ItemText(tree, child)) == Lower(name))
            return child;
    return nullptr;
}

// ---- The disk, as the tree should show it ----

// The sub-folders of `folder` (ending in a backslash), lower case, sorted,
// one per name whatever its letter case, without those whose own path would
// not fit in 260 characters.
std::vector<std::string> FoldersOnDisk(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "*.*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = entry.cFileName;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != "." && name != ".." &&
            folder.size() + name.size() + 1 <= kMaxPath)
            names.push_back(Lower(name));
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::vector<std::string> DrivesOnDisk()
{
    std::vector<std::string> drives;
    for (char letter = 'C'; letter <= 'Z'; ++letter) {
        char root[] = {letter, ':', '\\', '\0'};
        UINT type = GetDriveTypeA(root);
        if (type == DRIVE_FIXED || type == DRIVE_REMOTE)
            drives.push_back(Lower(std::string(root, 2)));
    }
    return drives;
}

// Folders of the host, seen through drive Z:, whose sub-folders come and go
// while the test runs (other processes, other tests): their listing can differ
// from a later one without any fault.
bool ChangesUnderTheTest(const std::string& path)
{
    static const char* const kChanging[] = {"z:\\tmp\\", "z:\\proc\\", "z:\\run\\", "z:\\dev\\", "z:\\sys\\"};
    return std::find(std::begin(kChanging), std::end(kChanging), Lower(path)) != std::end(kChanging);
}

// Whether `path` is the test's own folder or one of its ancestors (the
// fixtures lie below it, wherever the build tree is).
bool LeadsToOwnFolder(const std::string& path)
{
    return Lower(testpaths::OwnFolder()).rfind(Lower(path), 0) == 0;
}

// A listed item holds exactly the folders on disk; the children of an open
// item are listed too, those of a closed one hold nothing. Below a folder
// that changes under the test only the way to the test's own folder is
// compared.
void ExpectOneLevelAhead(HWND tree, HTREEITEM item, const std::string& path, bool listed)
{
    std::vector<HTREEITEM> children = ChildrenOf(tree, item);
    const bool changing = listed && ChangesUnderTheTest(path);
    if (listed && !changing)
        EXPECT_EQ(NamesOf(tree, children), FoldersOnDisk(path)) << path;
    else if (!listed)
        EXPECT_TRUE(children.empty()) << path << " lists folders two levels below an open item";
    bool open = IsExpanded(tree, item);
    for (HTREEITEM child : children) {
        const std::string child_path = path + ItemText(tree, child) + "\\";
        if (!changing || LeadsToOwnFolder(child_path))
            ExpectOneLevelAhead(tree, child, child_path, open);
    }
}

void ExpectTreeMatchesDisk(HWND tree)
{
    std::vector<HTREEITEM> drives = ChildrenOf(tree, nullptr);
    EXPECT_EQ(NamesOf(tree, drives), DrivesOnDisk());
    for (HTREEITEM drive : drives)
        ExpectOneLevelAhead(tree, drive, ItemText(tree, drive) + "\\", true);
}

// ---- The dialog on its own thread ----

class OpenDialog {
public:
    OpenDialog(const std::string& proposed, int capacity = 600) : capacity_(capacity), buffer_(1024, '#')
    {
        std::copy(proposed.begin(), proposed.end(), buffer_.begin());
        buffer_[proposed.size()] = '\0';
        original_ = buffer_;
        thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        dialog = folderdialog::WaitForDialog(GetCurrentProcessId());
        tree = dialog ? GetDlgItem(dialog, folderdialog::kTree) : nullptr;
    }
    ~OpenDialog()
    {
        if (WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT && dialog)
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        WaitForSingleObject(thread_, 10000);
        CloseHandle(thread_);
    }
    // Waits for the dialog to end; false if it is still open.
    bool Ended() { return WaitForSingleObject(thread_, 10000) == WAIT_OBJECT_0; }
    int Result() const { return result_; }
    std::string Buffer() const { return buffer_.data(); }
    // True when nothing was written past the capacity.
    bool BufferIntact() const { return std::equal(buffer_.begin() + capacity_, buffer_.end(), original_.begin() + capacity_); }
    std::string EditText() const { return driver::ControlText(dialog, kPathEdit); }
    bool OkEnabled() const { return IsWindowEnabled(GetDlgItem(dialog, kOkButton)) != 0; }

    HWND dialog = nullptr;
    HWND tree = nullptr;

private:
    static DWORD WINAPI Run(LPVOID self)
    {
        auto* open = static_cast<OpenDialog*>(self);
        open->result_ = RunDirSelectDialog(nullptr, open->buffer_.data(), open->capacity_);
        return 0;
    }
    int capacity_;
    std::vector<char> buffer_;
    std::vector<char> original_;
    int result_ = -1;
    HANDLE thread_ = nullptr;
};

class DirSelectDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ModuleInstance = GetModuleHandleA(nullptr);
        lstrcpyA(SetupCaption, "Korvan Setup");
    }
};

// A folder of the build tree made by the test fixture, as a Windows path.
std::string FixtureFolder(const std::string& relative)
{
    return testpaths::OwnFolder() + "case-tree" + (relative.empty() ? "" : "\\" + relative);
}

// ---- What the dialog shows when it opens ----

struct OpeningCase {
    const char* name;
    std::string proposed;
    std::string edit;       // expected edit text
    std::string selected;   // expected path of the selected item; "...\\*": that level's first; "-": any
};

void PrintTo(const OpeningCase& row, std::ostream* out) { *out << row.name; }

class DialogOpening : public DirSelectDialog, public ::testing::WithParamInterface<OpeningCase> {};

TEST_P(DialogOpening, ProposesDefaultFolderAndOpensTheTreeAlongThePath)
{
    const OpeningCase& row = GetParam();
    OpenDialog open(row.proposed);
    ASSERT_NE(open.dialog, nullptr);
    ASSERT_NE(open.tree, nullptr);
    EXPECT_EQ(driver::WindowCaption(open.dialog), "Korvan Setup");
    EXPECT_EQ(open.EditText(), row.edit);
    EXPECT_TRUE(open.OkEnabled());
    HTREEITEM selected = Selected(open.tree);
    ASSERT_NE(selected, nullptr);
    if (row.selected.back() == '*') {   // the first item of that level
        HTREEITEM parent = Next(open.tree, TVGN_PARENT, selected);
        EXPECT_EQ(PathOf(open.tree, parent) + "*", row.selected);
        EXPECT_EQ(selected, ChildrenOf(open.tree, parent).front());
    } else if (row.selected != "-") {
        EXPECT_EQ(PathOf(open.tree, selected), row.selected);
    }
    ExpectTreeMatchesDisk(open.tree);   // also: a name differing only in case listed once, paths over 260 left out
}

const std::string kTooLong = "C:\\" + std::string(252, 'a');   // 255 characters
const std::string kLongFixture = FixtureFolder("long\\" + std::string(150, 'a'));   // its sub-folder's path is over 260

INSTANTIATE_TEST_SUITE_P(
    Proposals, DialogOpening,
    ::testing::Values(
        OpeningCase{"ProgramFiles", "C:\\Program Files", "C:\\Program Files\\" + kDefaultFolder,
                    "C:\\Program Files\\"},
        OpeningCase{"DriveRoot", "C:\\", "C:\\" + kDefaultFolder, "C:\\"},
        OpeningCase{"OtherLetterCase", "c:\\program files", "c:\\program files\\" + kDefaultFolder,
                    "C:\\Program Files\\"},
        // The walk stops at the first missing folder with that level's first item selected.
        OpeningCase{"MissingLastFolders", "C:\\Program Files\\No Such\\Deeper",
                    "C:\\Program Files\\No Such\\Deeper\\" + kDefaultFolder, "C:\\Program Files\\*"},
        OpeningCase{"NamesDifferingInCase", FixtureFolder(""), FixtureFolder("") + "\\" + kDefaultFolder,
                    FixtureFolder("") + "\\"},
        // Of two folders there, the one whose path with its backslash is 260
        // characters long is listed, the one of 261 is not.
        OpeningCase{"PathOf260IsListedAndOf261IsNot", FixtureFolder("edge"),
                    FixtureFolder("edge") + "\\" + kDefaultFolder, FixtureFolder("edge") + "\\"},
        OpeningCase{"PathsOver260AreNotListed", kLongFixture, (kLongFixture + "\\" + kDefaultFolder).substr(0, kMaxPath),
                    kLongFixture + "\\"},
        OpeningCase{"ProposalTooLongIsCut", kTooLong, (kTooLong + "\\" + kDefaultFolder).substr(0, kMaxPath), "-"}),
    [](const ::testing::TestParamInfo<OpeningCase>& info) { return std::string(info.param.name); });

// ---- A folder of many sub-folders ----

// 20,000 sub-folders beside Program Files, so the first expansion of C: lists
// them all; names of mixed case and length, made in an order unlike the
// sorted one. The time it takes is measured by the bench, not here.
TEST_F(DirSelectDialog, AFolderOfTwentyThousandSubFoldersListsEachOnceInTheTreesOrder)
{
    const std::string many = "C:\\stubkit many folders\\";
    std::error_code ignored;
    std::filesystem::remove_all(many, ignored);
    ASSERT_TRUE(CreateDirectoryA(many.c_str(), nullptr)) << many;
    std::vector<std::string> made;
    for (unsigned i = 0; i < 20000; ++i) {
        const unsigned mixed = (i * 7919u) % 20000u;
        std::string name = (mixed % 3 ? "Dir " : "dir-") + std::to_string(mixed) + std::string(mixed % 5, 'x');
        ASSERT_TRUE(CreateDirectoryA((many + name).c_str(), nullptr)) << name;
        made.push_back(name);
    }
    std::sort(made.begin(), made.end(),
              [](const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) < 0; });
    {
        OpenDialog open("C:\\Program Files");
        ASSERT_NE(open.tree, nullptr);
        HTREEITEM folder = ChildNamed(open.tree, ChildNamed(open.tree, nullptr, "C:"), "stubkit many folders");
        ASSERT_NE(folder, nullptr);
        std::vector<std::string> listed;
        std::vector<int> pictures;
        for (HTREEITEM item : ChildrenOf(open.tree, folder)) {
            listed.push_back(ItemText(open.tree, item));
            if (listed.size() % 4000 == 1)
                pictures.push_back(ItemPicture(open.tree, item, false) * 10 + ItemPicture(open.tree, item, true));
        }
        EXPECT_EQ(listed, made);
        EXPECT_EQ(pictures, std::vector<int>(5, 34));
        EXPECT_EQ(Lower(PathOf(open.tree, Selected(open.tree))), "c:\\program files\\");
    }
    std::filesystem::remove_all(many, ignored);
}

// ---- How the dialog ends ----

struct EndingCase {
    const char* name;
    std::string proposed;
    int capacity;
    std::function<void(OpenDialog&)> act;
    int result;
    std::string buffer;   // the caller's buffer afterwards
};

void PressOk(OpenDialog& open) { driver::PressButton(open.dialog, kOkButton); }
void Type(OpenDialog& open, const std::string& text) { driver::SetControlText(open.dialog, kPathEdit, text); }

const std::string kProgramFiles = "C:\\Program Files";
const std::string kProposal = kProgramFiles + "\\" + kDefaultFolder;
const std::string kLongTyped = "C:\\" + std::string(297, 'x');   // 300 characters

void PrintTo(const EndingCase& row, std::ostream* out) { *out << row.name; }

class DialogEnding : public DirSelectDialog, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(DialogEnding, GivesTheChosenFolderOrLeavesTheBufferAlone)
{
    const EndingCase& row = GetParam();
    OpenDialog open(row.proposed, row.capacity);
    ASSERT_NE(open.dialog, nullptr);
    row.act(open);
    ASSERT_TRUE(open.Ended());
    EXPECT_EQ(open.Result(), row.result);
    EXPECT_EQ(open.Buffer(), row.buffer);
    EXPECT_TRUE(open.BufferIntact()) << "written past the capacity";
}

INSTANTIATE_TEST_SUITE_P(
    Actions, DialogEnding,
    ::testing::Values(
        EndingCase{"OkAtOnce", kProgramFiles, 259, PressOk, 1, kProposal},
        EndingCase{"OkOnTheProposalEditedBack", kProgramFiles, 259,
                   [](OpenDialog& open) { Type(open, kProgramFiles); PressOk(open); }, 0, kProgramFiles},
        EndingCase{"OkOnACaseOnlyChange", kProgramFiles, 259,
                   [](OpenDialog& open) { Type(open, "C:\\program files"); PressOk(open); }, 1,
                   "C:\\program files"},
        // The system's comparison ignores a soft hyphen; the dialog does not.
        EndingCase{"OkOnASoftHyphenAdded", kProgramFiles, 259,
                   [](OpenDialog& open) { Type(open, kProgramFiles + "\xAD"); PressOk(open); }, 1,
                   kProgramFiles + "\xAD"},
        EndingCase{"Cancel", kProgramFiles, 259,
                   [](OpenDialog& open) { driver::PressButton(open.dialog, kCancelButton); }, 0, kProgramFiles},
        EndingCase{"EscapeKey", kProgramFiles, 259,
                   [](OpenDialog& open) {
                       HWND edit = GetDlgItem(open.dialog, kPathEdit);
                       PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0);
                       PostMessageA(edit, WM_KEYUP, VK_ESCAPE, 0);
                   },
                   0, kProgramFiles},
        EndingCase{"CloseBox", kProgramFiles, 259,
                   [](OpenDialog& open) { PostMessageA(open.dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }, 0,
                   kProgramFiles},
        // IDOK is not the OK button's id: it changes nothing, Cancel then ends.
        EndingCase{"IdOkIsIgnored", kProgramFiles, 259,
                   [](OpenDialog& open) {
                       SendMessageA(open.dialog, WM_COMMAND, IDOK, 0);
                       driver::PressButton(open.dialog, kCancelButton);
                   },
                   0, kProgramFiles},
        EndingCase{"TreeChoiceHasATrailingBackslash", kProgramFiles, 259,
                   [](OpenDialog& open) {
                       HTREEITEM drive = ChildNamed(open.tree, nullptr, "C:");
                       SendMessageA(open.tree, TVM_SELECTITEM, TVGN_CARET,
                                    reinterpret_cast<LPARAM>(ChildNamed(open.tree, drive, "windows")));
                       PressOk(open);
                   },
                   1, "C:\\windows\\"},
        EndingCase{"TypedTextOver260IsCutTo260", kProgramFiles, 600,
                   [](OpenDialog& open) { Type(open, kLongTyped); PressOk(open); }, 1,
                   kLongTyped.substr(0, 260)},
        EndingCase{"CapacityCutsTheChoice", kProgramFiles, 20, PressOk, 1, kProposal.substr(0, 19)},
        EndingCase{"CapacityOfOneLeavesOnlyTheTerminator", kProgramFiles, 1, PressOk, 1, ""}),
    [](const ::testing::TestParamInfo<EndingCase>& info) { return std::string(info.param.name); });

// ---- While it is open ----

TEST_F(DirSelectDialog, ShowsFivePicturesCollapsesAndExpandsWritesTheSelectedPathAndDisablesOkWhileTheEditIsEmpty)
{
    OpenDialog open("C:\\");
    ASSERT_NE(open.tree, nullptr);
    auto images = reinterpret_cast<HIMAGELIST>(SendMessageA(open.tree, TVM_GETIMAGELIST, TVSIL_NORMAL, 0));
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(images), 5);
    int width = 0, height = 0;
    ImageList_GetIconSize(images, &width, &height);
    EXPECT_EQ(std::make_pair(width, height), std::make_pair(16, 14));
    HTREEITEM drive = Selected(open.tree);
    HTREEITEM folder = ChildNamed(open.tree, drive, "Program Files");
    EXPECT_EQ(std::vector<int>({ItemPicture(open.tree, drive, false), ItemPicture(open.tree, drive, true),
                                ItemPicture(open.tree, folder, false), ItemPicture(open.tree, folder, true)}),
              std::vector<int>({0, 0, 3, 4}));

    // The keys a user presses on the selected drive: collapsing keeps the
    // children and drops the grandchildren, expanding reads them again.
    ASSERT_TRUE(IsExpanded(open.tree, drive));
    SendMessageA(open.tree, WM_KEYDOWN, VK_LEFT, 0);
    EXPECT_FALSE(IsExpanded(open.tree, drive));
    ExpectTreeMatchesDisk(open.tree);
    SendMessageA(open.tree, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_TRUE(IsExpanded(open.tree, drive));
    ExpectTreeMatchesDisk(open.tree);

    SendMessageA(open.tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(folder));
    EXPECT_EQ(Lower(open.EditText()), "c:\\program files\\");
    SendMessageA(open.tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(drive));
    EXPECT_EQ(open.EditText(), "C:\\");
    // Empty text, and folder names Windows would strip to another folder.
    const struct { const char* typed; bool accepted; } typings[] = {
        {"", false},         {"D", true},           {"C:\\Apps ", false},       {"C:\\Apps.", false},
        {"C:\\Apps.\\Sub", false}, {"C:/Apps /Sub", false}, {"C:\\Apps\\", true},   {"C:\\a.b\\..\\.\\c", true},
        {"Rel\\Tarn", true},  {"C:\\...", false},       {"C:\\ Apps", true},
    };
    for (const auto& t : typings) {
        Type(open, t.typed);
        EXPECT_EQ(open.OkEnabled(), t.accepted) << t.typed;
    }
}

}  // namespace
