// The installer's start-up and setup window. The shipped stub is driven from
// outside (its question, its window under the folder dialog, a DLL planted
// beside it); the window's code runs in-process for exact client heights, the
// class and the start message.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "folder_dialog_window.h"
#include "installer/run_installation.h"
#include "common/setup_globals.h"
#include "installer/setup_window.h"
#include "test_paths.h"
#include "window_capture.h"
#include "window_driver.h"

namespace {

namespace fs = std::filesystem;
const char* const kCaption = "$$Title Setup";   // the unpatched stub's title

std::uint32_t Shade(int y, int height)
{
    int k = 63 * y / height;
    return capture::Rgb(0, 255 - 4 * k, 255 - 4 * k);
}

// Counts the pixels of `picture` that are not the gradient's shade for their
// line, leaving out `skip` (in the picture's coordinates).
int WrongPixels(const capture::Picture& picture, const RECT& skip = RECT{0, 0, 0, 0})
{
    int wrong = 0;
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            POINT point = {x, y};
            if (!PtInRect(&skip, point) && picture.At(x, y) != Shade(y, picture.height))
                ++wrong;
        }
    return wrong;
}

// A scratch folder holding a copy of the stub (and whatever a test adds).
class StubFolder {
public:
    StubFolder()
        : folder_((fs::temp_directory_path() / ("stubkit-setup-" + std::to_string(GetCurrentProcessId()) + "-" +
                                                std::to_string(counter_++))).string())
    {
        fs::create_directories(folder_);
        Add(testpaths::BuildTreeFile("installer\\setup-stub.exe"), "setup-stub.exe");
    }
    ~StubFolder() { std::error_code ignored; fs::remove_all(folder_, ignored); }
    void Add(const std::string& source, const char* name) const
    {
        EXPECT_TRUE(CopyFileA(source.c_str(), (folder_ + "\\" + name).c_str(), FALSE)) << source;
    }
    std::vector<std::string> Contents() const
    {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    bool Has(const char* name) const { return testpaths::Exists(folder_ + "\\" + name); }
    const std::string& Path() const { return folder_; }
    bool StartStub(driver::StartedProcess* stub) const
    {
        return driver::Start(testpaths::Quoted(folder_ + "\\setup-stub.exe"), stub, folder_.c_str());
    }

private:
    static inline int counter_ = 0;
    std::string folder_;
};

// Ends a stub that a failed test left running.
struct StubGuard {
    driver::StartedProcess* stub;
    ~StubGuard() { driver::Kill(stub); }
};

TEST(SetupStub, DecliningTheQuestionEndsWithCodeOneBeforeAnyWindowOrFile)
{
    StubFolder folder;
    driver::StartedProcess stub;
    StubGuard guard{&stub};
    ASSERT_TRUE(folder.StartStub(&stub));
    driver::SeenBox question;
    ASSERT_TRUE(driver::AnswerMessageBox(stub.id, IDNO, &question));
    EXPECT_EQ(question.caption, kCaption);
    EXPECT_EQ(question.text, "$$Title will be installed. Do you wish to continue?");
    EXPECT_EQ(question.buttons, (std::vector<int>{IDYES, IDNO}));
    bool sawWindow = false;
    while (WaitForSingleObject(stub.process, 20) == WAIT_TIMEOUT)
        sawWindow = sawWindow || FindWindowA(SETUP_WINDOW_CLASS, nullptr) != nullptr;
    DWORD exitCode = 0;
    ASSERT_TRUE(driver::WaitForExit(&stub, &exitCode));
    EXPECT_EQ(exitCode, 1u);
    EXPECT_FALSE(sawWindow);
    EXPECT_EQ(folder.Contents(), std::vector<std::string>{"setup-stub.exe"});
}

// Tells Wine, for one program name, to prefer a native comctl32.dll (as a
// planted one is) over its own; undone at the end of the test.
struct PreferNativeComctl32 {
    explicit PreferNativeComctl32(const std::string& program) : key("Software\\Wine\\AppDefaults\\" + program)
    {
        EXPECT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, (key + "\\DllOverrides").c_str(), "comctl32", REG_SZ,
                                  "native,builtin", sizeof "native,builtin"), ERROR_SUCCESS);
    }
    ~PreferNativeComctl32() { RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str()); }
    const std::string key;
};

// The folder dialog over the maximised gradient window; the gradient is read
// back wherever the dialog does not cover it. With Wine told to prefer native
// DLLs, a comctl32.dll beside a program is taken by a load by name (the probe
// shows it) unless the search is limited; the stub never loads it, and its
// tree still works with the system's own.
TEST(SetupStub, AcceptingShowsTheFolderDialogOverTheGradientWindowWithoutLoadingAComctl32PlantedBesideIt)
{
    StubFolder folder;
    folder.Add(testpaths::OwnFolder() + "comctl32.dll", "comctl32.dll");
    folder.Add(testpaths::OwnFolder() + "planted-dll-probe.exe", "planted-dll-probe.exe");
    PreferNativeComctl32 probeOverride("planted-dll-probe.exe");
    PreferNativeComctl32 stubOverride("setup-stub.exe");
    // The probe loads the plant by name, unless it first limits the search.
    for (const char* mode : {"", "restricted"}) {
        driver::StartedProcess probe;
        DWORD exitCode = 99;
        ASSERT_TRUE(driver::Start(testpaths::Quoted(folder.Path() + "\\planted-dll-probe.exe") + " " + mode,
                                  &probe, folder.Path().c_str()));
        ASSERT_TRUE(driver::WaitForExit(&probe, &exitCode));
        EXPECT_EQ(exitCode, 0u) << mode;
        EXPECT_EQ(folder.Has("planted-dll-loaded.txt"), mode[0] == '\0') << "probe " << mode;
        DeleteFileA((folder.Path() + "\\planted-dll-loaded.txt").c_str());
    }

    driver::StartedProcess stub;
    StubGuard guard{&stub};
    ASSERT_TRUE(folder.StartStub(&stub));
    ASSERT_TRUE(driver::AnswerMessageBox(stub.id, IDYES, nullptr));
    HWND window = driver::WaitForWindow(stub.id, SETUP_WINDOW_CLASS, nullptr);
    HWND dialog = folderdialog::WaitForDialog(stub.id);
    ASSERT_TRUE(window && dialog);
    EXPECT_EQ(driver::WindowCaption(window), kCaption);
    EXPECT_TRUE(IsZoomed(window));
    EXPECT_EQ(GetWindowLongA(window, GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), window);
    EXPECT_EQ(driver::WindowCaption(dialog), kCaption);
    // The system's program-files folder is proposed, with the default folder's marker.
    char programFiles[MAX_PATH] = {0};
    DWORD size = sizeof programFiles;
    RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                 RRF_RT_REG_SZ, nullptr, programFiles, &size);
    EXPECT_EQ(driver::ControlText(dialog, folderdialog::kPathEdit), std::string(programFiles) + "\\$$DefaultFolder");

    Sleep(300);   // the dialog's first paint over the window
    RECT covered;
    GetWindowRect(dialog, &covered);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&covered), 2);
    capture::Picture client = capture::CaptureWindow(window);
    ASSERT_GT(client.height, 64);
    EXPECT_EQ(WrongPixels(client, covered), 0);

    // Item handles are plain values, so the first drive can be selected from
    // here; the tree then writes its path into the edit box.
    HWND tree = GetDlgItem(dialog, folderdialog::kTree);
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    EXPECT_EQ(driver::ControlText(dialog, folderdialog::kPathEdit), "C:\\");
    ASSERT_TRUE(driver::PressButton(dialog, folderdialog::kCancelButton));
    DWORD exitCode = 99;
    ASSERT_TRUE(driver::WaitForExit(&stub, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(folder.Contents(), (std::vector<std::string>{"comctl32.dll", "planted-dll-probe.exe", "setup-stub.exe"}))
        << "nothing written, the plant never loaded";
}

// ---- The window's code in-process ----

// What the start message's handler saw; the stand-in sequence below fills it.
struct SeenAtStart {
    int calls = 0;
    HWND window = nullptr;
    bool visible = false;
    bool maximised = false;
    std::string caption;
    COLORREF background = 0;
    capture::Picture client;
};
SeenAtStart seenAtStart;

}  // namespace

// The installation sequence as the setup window sees it: called once, from
// the start message, with the window shown maximised and painted.
void RunInstallation(HWND setupWindow)
{
    seenAtStart.calls++;
    seenAtStart.window = setupWindow;
    seenAtStart.visible = IsWindowVisible(setupWindow);
    seenAtStart.maximised = IsZoomed(setupWindow);
    seenAtStart.caption = driver::WindowCaption(setupWindow);
    LOGBRUSH brush = {};
    GetObjectA(reinterpret_cast<HBRUSH>(GetClassLongPtrA(setupWindow, GCLP_HBRBACKGROUND)), sizeof brush, &brush);
    seenAtStart.background = brush.lbColor;
    seenAtStart.client = capture::CaptureWindow(setupWindow);
}

namespace {

class SetupWindowCode : public ::testing::Test {
protected:
    void SetUp() override { ModuleInstance = GetModuleHandleA(nullptr); }
    void TearDown() override { UnregisterClassA(SETUP_WINDOW_CLASS, ModuleInstance); }
};

// Height 1 is one cyan line, 63 one line per shade 0..62, 64 the first
// height where a shade covers two lines; resizing to 200 and 100 repaints the
// whole area at the new scale.
TEST_F(SetupWindowCode, ClassHasItsStylesIconCursorAndBrushAndPaintsEveryLineAtEachHeightAndAfterResizing)
{
    HBRUSH background = CreateSolidBrush(RGB(0, 0, 255));
    ASSERT_TRUE(RegisterSetupWindowClass(background));
    WNDCLASSEXA registered = {sizeof registered};
    ASSERT_TRUE(GetClassInfoExA(ModuleInstance, SETUP_WINDOW_CLASS, &registered));
    EXPECT_EQ(registered.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(registered.lpfnWndProc, SetupWindowProc);
    EXPECT_EQ(registered.cbClsExtra + registered.cbWndExtra, 0);
    EXPECT_EQ(registered.hIcon, LoadIconA(nullptr, IDI_APPLICATION));
    EXPECT_EQ(registered.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(registered.hbrBackground, background);
    EXPECT_EQ(registered.lpszMenuName, nullptr);
    HWND window = nullptr;
    for (int height : {1, 63, 64, 200, 100}) {
        if (height <= 64) {   // a fresh frameless window of that client height
            DestroyWindow(window);
            window = CreateWindowExA(0, SETUP_WINDOW_CLASS, "", WS_POPUP | WS_VISIBLE, 0, 0, 48, height, nullptr,
                                     nullptr, ModuleInstance, nullptr);
        } else {
            SetWindowPos(window, nullptr, 0, 0, 48, height, SWP_NOMOVE | SWP_NOZORDER);
        }
        UpdateWindow(window);
        capture::Picture client = capture::CaptureWindow(window);
        EXPECT_EQ(client.height, height);
        EXPECT_EQ(WrongPixels(client), 0) << "height " << height;
    }
    DestroyWindow(window);
    DeleteObject(background);
}

// 64 brushes per paint: kept, they would use up the process's GDI handles
// (Wine's table holds 65,536) within about a thousand paints, and every
// shade after that would be left unpainted.
TEST_F(SetupWindowCode, EveryPaintDeletesItsBrushesSoAThousandPaintsLaterTheGradientIsStillWhole)
{
    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(GetDC(nullptr), 4, 64);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    RECT line = {0, 0, 4, 1};
    for (int paint = 0; paint < 1100; ++paint)
        PaintGradient(memory, &line);
    RECT all = {0, 0, 4, 64};
    FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    PaintGradient(memory, &all);
    for (int y = 0; y < 64; ++y) {
        const int k = 63 * y / 64;
        EXPECT_EQ(GetPixel(memory, 2, y), RGB(0, 255 - 4 * k, 255 - 4 * k)) << "line " << y;
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

TEST_F(SetupWindowCode, NoHeightPaintsNothing)
{
    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(GetDC(nullptr), 4, 4);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    RECT all = {0, 0, 4, 4};
    FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    RECT empty = {0, 2, 4, 2};
    PaintGradient(memory, &empty);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(GetPixel(memory, 0, y), RGB(255, 255, 255)) << "line " << y;
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

TEST_F(SetupWindowCode, StartMessageRunsTheSequenceOnceInTheShownMaximisedWindowThenCloses)
{
    lstrcpyA(SetupCaption, "Korvan Setup");
    seenAtStart = SeenAtStart();
    EXPECT_EQ(RunSetupWindow(), 0);
    EXPECT_EQ(seenAtStart.calls, 1);
    EXPECT_EQ(seenAtStart.window, SetupWindow);
    EXPECT_TRUE(seenAtStart.visible);
    EXPECT_TRUE(seenAtStart.maximised);
    EXPECT_EQ(seenAtStart.caption, "Korvan Setup");
    EXPECT_EQ(seenAtStart.background, RGB(0, 0, 255));
    EXPECT_GT(seenAtStart.client.height, 64);
    EXPECT_EQ(WrongPixels(seenAtStart.client), 0);
    EXPECT_FALSE(IsWindow(SetupWindow));
}

DWORD WINAPI RunSetupWindowThread(LPVOID exitCode)
{
    *static_cast<int*>(exitCode) = RunSetupWindow();
    return 0;
}

TEST_F(SetupWindowCode, AClassThatCannotBeRegisteredIsReportedWithCodeOne)
{
    HBRUSH taken = CreateSolidBrush(RGB(1, 2, 3));
    ASSERT_TRUE(RegisterSetupWindowClass(taken));   // so the second registration fails
    seenAtStart = SeenAtStart();
    SetupWindow = nullptr;
    int exitCode = 99;
    HANDLE thread = CreateThread(nullptr, 0, RunSetupWindowThread, &exitCode, 0, nullptr);
    driver::SeenBox error;
    EXPECT_TRUE(driver::AnswerMessageBox(GetCurrentProcessId(), IDOK, &error));
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(error.text, "Error: The setup window class cannot be registered.");
    EXPECT_EQ(exitCode, 1);
    EXPECT_EQ(seenAtStart.calls, 0);
    DeleteObject(taken);
}

}  // namespace
