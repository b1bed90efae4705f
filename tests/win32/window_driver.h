// Test-side driver for the windows of programs under test: start a process,
// find its top-level windows and message boxes, read their captions and texts,
// press buttons, set edit texts. Every wait has a deadline and reports failure
// instead of hanging.
#ifndef STUBKIT_WINDOW_DRIVER_H
#define STUBKIT_WINDOW_DRIVER_H

#include <windows.h>

#include <string>
#include <vector>

namespace driver {

constexpr DWORD kDefaultTimeoutMs = 30000;
constexpr const char* kMessageBoxClass = "#32770";

struct StartedProcess {
    HANDLE process = nullptr;
    DWORD id = 0;
};

// Starts `commandLine` (program path first, quoted as needed) in `directory`
// (nullptr: the current one). A `program` runs that file instead of the one
// the command line names, which still comes first among the program's
// arguments. Returns false when the start failed.
bool Start(const std::string& commandLine, StartedProcess* started, const char* directory = nullptr,
           const char* program = nullptr);

// Waits for the process to end; false on timeout. The handle is closed after.
bool WaitForExit(StartedProcess* started, DWORD* exitCode, DWORD timeoutMs = kDefaultTimeoutMs);

// Ends a process that is still running (clean-up after a failed test).
void Kill(StartedProcess* started);

// Takes hold of a running process that the test did not start itself (found,
// say, by one of its windows), so it can be waited for like a started one.
bool Attach(DWORD processId, StartedProcess* process);

// The full path of the process's program file; empty when unknown.
std::string ProcessImagePath(const StartedProcess& process);

// The command line the process was started with, read from its memory; empty
// when it cannot be read.
std::string ProcessCommandLine(const StartedProcess& process);

// A visible top-level window of `processId` (0: of any process) whose class
// and caption match (nullptr: any). Returns nullptr on timeout.
HWND WaitForWindow(DWORD processId, const char* windowClass, const char* caption,
                   DWORD timeoutMs = kDefaultTimeoutMs);

std::string WindowCaption(HWND window);
std::string WindowClass(HWND window);

// The text of a message box: its static controls' texts (the icon's is empty).
std::string MessageBoxText(HWND box);

// The button ids a message box offers (IDOK, IDYES, IDNO, ...).
std::vector<int> MessageBoxButtons(HWND box);

// Waits until `window` is destroyed or hidden (a dialog or box that is still
// closing must not be taken for the next one); false on timeout.
bool WaitUntilClosed(HWND window, DWORD timeoutMs = kDefaultTimeoutMs);

// Presses the button with `buttonId` in a dialog or message box.
bool PressButton(HWND dialog, int buttonId);

// Sets the text of the control with `controlId`; reads it back to confirm.
bool SetControlText(HWND dialog, int controlId, const std::string& text);
std::string ControlText(HWND dialog, int controlId);

// What a test saw in one message box.
struct SeenBox {
    std::string caption;
    std::string text;
    std::vector<int> buttons;
    DWORD processId = 0;   // the process that showed the box
};

// Waits until a message box of `processId` (0: any process) shows its
// buttons and text, and returns it still open; nullptr on timeout.
HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs = kDefaultTimeoutMs);

// How many handles `processId` holds now, as the system lists them; 0 when
// the list cannot be had.
unsigned HandleCount(DWORD processId);

// Waits for a message box of `processId` (0: any process), records it and
// answers it with `buttonId`. Returns false on timeout or when the button
// could not be pressed.
bool AnswerMessageBox(DWORD processId, int buttonId, SeenBox* seen,
                      DWORD timeoutMs = kDefaultTimeoutMs);

}  // namespace driver

#endif
