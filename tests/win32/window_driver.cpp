#include "window_driver.h"

#include <winternl.h>

namespace driver {
namespace {

constexpr DWORD kPollMs = 50;

struct WindowQuery {
    DWORD processId;
    const char* windowClass;
    const char* caption;
    HWND found;
};

BOOL CALLBACK MatchTopLevelWindow(HWND window, LPARAM parameter)
{
    auto* query = reinterpret_cast<WindowQuery*>(parameter);
    if (!IsWindowVisible(window))
        return TRUE;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (query->processId != 0 && owner != query->processId)
        return TRUE;
    if (query->windowClass && WindowClass(window) != query->windowClass)
        return TRUE;
    if (query->caption && WindowCaption(window) != query->caption)
        return TRUE;
    query->found = window;
    return FALSE;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> children;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

std::string TextOf(HWND window)
{
    char text[4096] = {0};
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
    text[sizeof text - 1] = '\0';
    return text;
}

}  // namespace

bool Start(const std::string& commandLine, StartedProcess* started, const char* directory, const char* program)
{
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION info;
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(program, line.data(), nullptr, nullptr, FALSE, 0, nullptr, directory,
                        &startup, &info))
        return false;
    CloseHandle(info.hThread);
    started->process = info.hProcess;
    started->id = info.dwProcessId;
    return true;
}

bool WaitForExit(StartedProcess* started, DWORD* exitCode, DWORD timeoutMs)
{
    if (WaitForSingleObject(started->process, timeoutMs) != WAIT_OBJECT_0)
        return false;
    GetExitCodeProcess(started->process, exitCode);
    CloseHandle(started->process);
    started->process = nullptr;
    return true;
}

void Kill(StartedProcess* started)
{
    if (!started->process)
        return;
    TerminateProcess(started->process, 99);
    WaitForSingleObject(started->process, 5000);
    CloseHandle(started->process);
    started->process = nullptr;
}

bool Attach(DWORD processId, StartedProcess* process)
{
    HANDLE handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ |
                                    PROCESS_TERMINATE,
                                FALSE, processId);
    if (!handle)
        return false;
    process->process = handle;
    process->id = processId;
    return true;
}

std::string ProcessImagePath(const StartedProcess& process)
{
    char path[MAX_PATH] = {0};
    DWORD size = sizeof path;
    if (!QueryFullProcessImageNameA(process.process, 0, path, &size))
        return std::string();
    return std::string(path, size);
}

std::string ProcessCommandLine(const StartedProcess& process)
{
    // The command line lives in the process parameters that the process
    // environment block points to; both are read from the other process.
    using QueryInformation = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryInformation>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess"));
    PROCESS_BASIC_INFORMATION basic;
    if (!query || query(process.process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0)
        return std::string();
    PEB environmentBlock;
    RTL_USER_PROCESS_PARAMETERS parameters;
    if (!ReadProcessMemory(process.process, basic.PebBaseAddress, &environmentBlock,
                           sizeof environmentBlock, nullptr) ||
        !ReadProcessMemory(process.process, environmentBlock.ProcessParameters, &parameters,
                           sizeof parameters, nullptr))
        return std::string();
    std::wstring wide(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
    if (!ReadProcessMemory(process.process, parameters.CommandLine.Buffer, &wide[0],
                           parameters.CommandLine.Length, nullptr))
        return std::string();
    char text[4096] = {0};
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), text,
                        sizeof text - 1, nullptr, nullptr);
    return text;
}

HWND WaitForWindow(DWORD processId, const char* windowClass, const char* caption, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        WindowQuery query = {processId, windowClass, caption, nullptr};
        EnumWindows(MatchTopLevelWindow, reinterpret_cast<LPARAM>(&query));
        if (query.found)
            return query.found;
        if (GetTickCount() - start >= timeoutMs)
            return nullptr;
        Sleep(kPollMs);
    }
}

std::string WindowCaption(HWND window)
{
    return TextOf(window);
}

std::string WindowClass(HWND window)
{
    char name[256] = {0};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string MessageBoxText(HWND box)
{
    std::string text;
    for (HWND child : Children(box)) {
        const std::string piece = WindowClass(child) == "Static" ? TextOf(child) : "";
        if (!piece.empty())
            text += (text.empty() ? "" : "\n") + piece;
    }
    return text;
}

std::vector<int> MessageBoxButtons(HWND box)
{
    std::vector<int> buttons;
    for (HWND child : Children(box))
        if (WindowClass(child) == "Button" && IsWindowVisible(child))
            buttons.push_back(GetDlgCtrlID(child));
    return buttons;
}

bool PressButton(HWND dialog, int buttonId)
{
    HWND button = GetDlgItem(dialog, buttonId);
    if (!button)
        return false;
    return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                        reinterpret_cast<LPARAM>(button)) != 0;
}

bool SetControlText(HWND dialog, int controlId, const std::string& text)
{
    HWND control = GetDlgItem(dialog, controlId);
    if (!control)
        return false;
    DWORD_PTR result = 0;
    SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_ABORTIFHUNG, 5000, &result);
    return ControlText(dialog, controlId) == text;
}

std::string ControlText(HWND dialog, int controlId)
{
    HWND control = GetDlgItem(dialog, controlId);
    return control ? TextOf(control) : std::string();
}

HWND WaitForMessageBox(DWORD processId, DWORD timeoutMs)
{
    HWND box = WaitForWindow(processId, kMessageBoxClass, nullptr, timeoutMs);
    if (!box)
        return nullptr;
    // The box may still be filling in its controls right after it appears.
    const DWORD start = GetTickCount();
    while (MessageBoxButtons(box).empty() && GetTickCount() - start < timeoutMs)
        Sleep(kPollMs);
    // Its caption and text can come a moment after its buttons; a box whose
    // text is really empty is read as such after two seconds.
    while ((WindowCaption(box).empty() || MessageBoxText(box).empty()) && GetTickCount() - start < 2000)
        Sleep(kPollMs);
    return box;
}

bool AnswerMessageBox(DWORD processId, int buttonId, SeenBox* seen, DWORD timeoutMs)
{
    HWND box = WaitForMessageBox(processId, timeoutMs);
    if (!box)
        return false;
    if (seen) {
        GetWindowThreadProcessId(box, &seen->processId);
        seen->caption = WindowCaption(box);
        seen->text = MessageBoxText(box);
        seen->buttons = MessageBoxButtons(box);
    }
    if (!PressButton(box, buttonId))
        return false;
    // Wait until the box is gone so the next query cannot find it again.
    return WaitUntilClosed(box, timeoutMs);
}

bool WaitUntilClosed(HWND window, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window) && GetTickCount() - start < timeoutMs)
        Sleep(kPollMs);
    return !IsWindow(window) || !IsWindowVisible(window);
}


namespace {

// The system's list of every process's handles (information class 16).
struct SystemHandleEntry {
    USHORT processId;
    USHORT creatorBackTraceIndex;
    UCHAR objectType;
    UCHAR attributes;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};
struct SystemHandleList {
    ULONG count;
    SystemHandleEntry entries[1];
};
constexpr ULONG kSystemHandleInformation = 16;

}  // namespace

unsigned HandleCount(DWORD processId)
{
    using QueryCall = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll"), "NtQuerySystemInformation")));
    if (!query)
        return 0;
    std::vector<char> list(1 << 20);
    ULONG needed = 0;
    LONG status;
    while ((status = query(kSystemHandleInformation, list.data(), static_cast<ULONG>(list.size()), &needed)) ==
               static_cast<LONG>(0xC0000004) &&   // STATUS_INFO_LENGTH_MISMATCH
           list.size() < (1u << 28))
        list.resize(list.size() * 2);
    if (status != 0)
        return 0;
    const auto* handles = reinterpret_cast<const SystemHandleList*>(list.data());
    unsigned count = 0;
    for (ULONG i = 0; i < handles->count; ++i)
        count += handles->entries[i].processId == static_cast<USHORT>(processId);
    return count;
}

}  // namespace driver
