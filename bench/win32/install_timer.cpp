// Unattended driver for the install-time benchmark. Two ways to run:
//
//   install-timer drive INSTALLER FOLDER
//       Starts INSTALLER, answers Yes to its first question, types FOLDER into
//       the folder dialog and presses OK, answers No to the desktop question
//       and OK to "Installation Complete.". Prints the seconds from the press
//       of OK to the completion box.
//   install-timer probe INSTALLER FOLDER
//       As drive, while a second thread sends WM_NULL to the setup window
//       every 200 ms with a 1 s timeout, as the system's hung-window check
//       does. Prints the seconds, the sends, the sends left unanswered and
//       the slowest answer in milliseconds.
//   install-timer silent COMMAND-LINE
//       Runs a silent installer and prints the seconds from its start to its
//       end; its exit code must be 0.
//
// The driver polls windows in short steps with a deadline; a step costs far
// less than the resolution the benchmark reports, and every wait fails
// instead of hanging.
#include <windows.h>

#include <stdio.h>

#include "common/bounded_text.h"

namespace {

const DWORD kTimeoutMs = 600000;   // 50,000 files take a minute or two under Wine
const DWORD kPollMs = 2;
const int kFolderEditId = 2006;
const int kFolderOkId = 2007;
const char kCompleteText[] = "Installation Complete.";

struct Clock {
    LARGE_INTEGER frequency;
    LARGE_INTEGER start;
};

void StartClock(Clock* clock)
{
    QueryPerformanceFrequency(&clock->frequency);
    QueryPerformanceCounter(&clock->start);
}

double SecondsSince(const Clock* clock)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - clock->start.QuadPart) / static_cast<double>(clock->frequency.QuadPart);
}

// The visible dialog or message box of the process, or null. The system
// filters the top-level windows by class, so a poll costs a request or two
// to the window server however many windows exist: the driver polls every
// few milliseconds while the installer works, and must not load the server
// that the installer's file calls go through (a walk over every window with
// per-window queries cost more server requests than the installation itself).
HWND VisibleBox(DWORD processId)
{
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, "#32770", nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId && IsWindowVisible(window))
            return window;
    }
    return nullptr;
}

// Waits for a box of the process that is not `previous` (a box that is still
// closing must not be taken for the next one).
HWND WaitForBox(DWORD processId, HWND previous)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kTimeoutMs) {
        HWND box = VisibleBox(processId);
        if (box && box != previous)
            return box;
        Sleep(kPollMs);
    }
    return nullptr;
}

bool WaitUntilGone(HWND box)
{
    const DWORD start = GetTickCount();
    while (IsWindow(box) && IsWindowVisible(box)) {
        if (GetTickCount() - start >= kTimeoutMs)
            return false;
        Sleep(kPollMs);
    }
    return true;
}

bool Press(HWND box, int buttonId)
{
    HWND button = GetDlgItem(box, buttonId);
    if (!button)
        return false;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return true;
}

struct TextSearch {
    const char* wanted;
    bool found;
};

BOOL CALLBACK FindStaticText(HWND child, LPARAM parameter)
{
    TextSearch* search = reinterpret_cast<TextSearch*>(parameter);
    char text[256];
    if (SendMessageA(child, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text)) &&
        lstrcmpA(text, search->wanted) == 0) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

bool BoxShows(HWND box, const char* text)
{
    TextSearch search = {text, false};
    EnumChildWindows(box, FindStaticText, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool StartProgram(const char* commandLine, PROCESS_INFORMATION* process)
{
    char line[2048];
    if (!TextCopy(line, sizeof line, commandLine))
        return false;
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    return CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, process) != 0;
}

bool EndedWithZero(PROCESS_INFORMATION* process)
{
    DWORD code = 1;
    const bool ended = WaitForSingleObject(process->hProcess, kTimeoutMs) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process->hProcess, &code);
    if (!ended)
        TerminateProcess(process->hProcess, 1);
    CloseHandle(process->hThread);
    CloseHandle(process->hProcess);
    return ended && code == 0;
}

int Fail(const char* what, PROCESS_INFORMATION* process)
{
    fprintf(stderr, "install-timer: %s\n", what);
    if (process) {
        TerminateProcess(process->hProcess, 1);
        CloseHandle(process->hThread);
        CloseHandle(process->hProcess);
    }
    return 1;
}

bool SetFolder(HWND dialog, const char* folder)
{
    HWND edit = GetDlgItem(dialog, kFolderEditId);
    if (!edit || !SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder)))
        return false;
    // GetWindowText does not ask another process's control for its text.
    char readBack[MAX_PATH];
    return SendMessageA(edit, WM_GETTEXT, sizeof readBack, reinterpret_cast<LPARAM>(readBack)) &&
           lstrcmpA(readBack, folder) == 0;
}

// Answers the boxes after the folder dialog: No to the desktop question, until
// the completion box shows. False when any other box (an error) appears.
bool WaitForCompletion(DWORD processId, HWND dialog, HWND* completion)
{
    HWND previous = dialog;
    for (;;) {
        HWND box = WaitForBox(processId, previous);
        if (!box)
            return false;
        if (GetDlgItem(box, IDNO)) {
            Press(box, IDNO);
            previous = box;
            continue;
        }
        *completion = box;
        return BoxShows(box, kCompleteText);
    }
}

// The probe's thread and what it saw, from the press of OK to the completion box.
struct Probe {
    DWORD processId;
    volatile LONG stop;
    LONG sends, unanswered;
    DWORD slowestMs;
};

DWORD WINAPI ProbeSetupWindow(void* parameter)
{
    Probe* probe = static_cast<Probe*>(parameter);
    while (!probe->stop) {
        HWND window = nullptr;
        while ((window = FindWindowExA(nullptr, window, "Mini Setup Window Class", nullptr)) != nullptr) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == probe->processId)
                break;
        }
        if (window) {
            DWORD_PTR result = 0;
            const DWORD start = GetTickCount();
            const bool answered = SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result) != 0;
            const DWORD took = GetTickCount() - start;
            ++probe->sends;
            if (!answered && IsWindow(window))
                ++probe->unanswered;
            if (took > probe->slowestMs)
                probe->slowestMs = took;
        }
        Sleep(200);
    }
    return 0;
}

int Drive(const char* installer, const char* folder, bool probed)
{
    char commandLine[MAX_PATH + 3];
    if (!TextCopy(commandLine, sizeof commandLine, "\"") || !TextAppend(commandLine, sizeof commandLine, installer) ||
        !TextAppend(commandLine, sizeof commandLine, "\""))
        return Fail("installer path too long", nullptr);
    PROCESS_INFORMATION process;
    if (!StartProgram(commandLine, &process))
        return Fail("cannot start the installer", nullptr);

    HWND question = WaitForBox(process.dwProcessId, nullptr);
    if (!question || !Press(question, IDYES))
        return Fail("no first question", &process);
    HWND dialog = nullptr;
    const DWORD start = GetTickCount();
    while (!dialog && GetTickCount() - start < kTimeoutMs) {
        HWND box = WaitForBox(process.dwProcessId, question);
        if (box && GetDlgItem(box, kFolderEditId))
            dialog = box;
        else
            Sleep(kPollMs);
    }
    if (!dialog)
        return Fail("no folder dialog", &process);
    if (!SetFolder(dialog, folder))
        return Fail("cannot type the folder into the folder dialog", &process);

    Probe probe = {process.dwProcessId, 0, 0, 0, 0};
    HANDLE prober = probed ? CreateThread(nullptr, 0, ProbeSetupWindow, &probe, 0, nullptr) : nullptr;
    if (probed && !prober)
        return Fail("cannot start the probe", &process);
    Clock clock;
    StartClock(&clock);
    if (!Press(dialog, kFolderOkId) || !WaitUntilGone(dialog))
        return Fail("the folder dialog did not close", &process);
    HWND completion = nullptr;
    if (!WaitForCompletion(process.dwProcessId, dialog, &completion))
        return Fail("no \"Installation Complete.\" box", &process);
    const double seconds = SecondsSince(&clock);
    if (prober) {
        probe.stop = 1;
        WaitForSingleObject(prober, INFINITE);
        CloseHandle(prober);
    }

    Press(completion, IDOK);
    if (!EndedWithZero(&process))
        return Fail("the installer did not end with exit code 0", nullptr);
    if (probed)
        printf("%.3f %ld %ld %lu\n", seconds, probe.sends, probe.unanswered, probe.slowestMs);
    else
        printf("%.3f\n", seconds);
    return 0;
}

int RunSilently(const char* commandLine)
{
    Clock clock;
    StartClock(&clock);
    PROCESS_INFORMATION process;
    if (!StartProgram(commandLine, &process))
        return Fail("cannot start the installer", nullptr);
    if (!EndedWithZero(&process))
        return Fail("the silent installer failed", nullptr);
    printf("%.3f\n", SecondsSince(&clock));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && (lstrcmpA(argv[1], "drive") == 0 || lstrcmpA(argv[1], "probe") == 0))
        return Drive(argv[2], argv[3], lstrcmpA(argv[1], "probe") == 0);
    if (argc == 3 && lstrcmpA(argv[1], "silent") == 0)
        return RunSilently(argv[2]);
    fprintf(stderr, "usage: install-timer drive|probe INSTALLER FOLDER | install-timer silent COMMAND-LINE\n");
    return 64;
}
