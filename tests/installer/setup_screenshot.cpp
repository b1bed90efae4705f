// Renders an installer's setup window with the folder dialog over it into a
// BMP, for the documentation: starts the installer, answers its question,
// waits for the dialog, captures both windows where they stand on the screen
// and cancels.
//
//   setup-screenshot INSTALLER.exe OUT.bmp [WORKING-FOLDER]
#include <windows.h>

#include <cstdio>
#include <string>

#include "folder_dialog_window.h"
#include "test_paths.h"
#include "window_capture.h"
#include "window_driver.h"

namespace {

int Fail(const char* what, driver::StartedProcess* installer)
{
    std::fprintf(stderr, "setup-screenshot: %s\n", what);
    driver::Kill(installer);
    return 1;
}

void PasteWindow(HWND window, capture::Picture* screen)
{
    RECT place;
    GetWindowRect(window, &place);
    capture::Paste(capture::CaptureWindow(window, true), place.left, place.top, screen);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: setup-screenshot INSTALLER.exe OUT.bmp [WORKING-FOLDER]\n");
        return 2;
    }
    driver::StartedProcess installer;
    if (!driver::Start(testpaths::Quoted(argv[1]), &installer, argc > 3 ? argv[3] : nullptr))
        return Fail("the installer did not start", &installer);
    driver::SeenBox question;
    if (!driver::AnswerMessageBox(installer.id, IDYES, &question))
        return Fail("no question to answer", &installer);
    HWND setupWindow = driver::WaitForWindow(installer.id, "Mini Setup Window Class", nullptr);
    HWND dialog = folderdialog::WaitForDialog(installer.id);
    if (!setupWindow || !dialog)
        return Fail("no setup window or folder dialog", &installer);
    Sleep(1000);   // let both windows finish painting

    capture::Picture screen;
    screen.width = GetSystemMetrics(SM_CXSCREEN);
    screen.height = GetSystemMetrics(SM_CYSCREEN);
    screen.pixels.assign(static_cast<std::size_t>(screen.width) * screen.height, 0);
    PasteWindow(setupWindow, &screen);
    PasteWindow(dialog, &screen);
    bool written = capture::WriteBmp(screen, argv[2]);

    driver::PressButton(dialog, folderdialog::kCancelButton);
    DWORD exitCode = 0;
    driver::WaitForExit(&installer, &exitCode);
    if (!written)
        return Fail("the picture could not be written", &installer);
    return 0;
}
