#include "installer/setup_window.h"

#include "installer/run_installation.h"
#include "common/setup_globals.h"

enum { ShadeCount = 64 };

void PaintGradient(HDC dc, const RECT* client)
{
    HBRUSH shades[ShadeCount];
    for (int k = 0; k < ShadeCount; ++k)
        shades[k] = CreateSolidBrush(RGB(0, 255 - 4 * k, 255 - 4 * k));
    int height = client->bottom - client->top;
    for (int y = 0; y < height; ++y) {
        RECT line = {client->left, client->top + y, client->right, client->top + y + 1};
        FillRect(dc, &line, shades[(ShadeCount - 1) * y / height]);
    }
    for (int k = 0; k < ShadeCount; ++k)
        DeleteObject(shades[k]);
}

// The whole client area is painted whatever the update region: BeginPaint
// clips the output to what actually needs it.
static void OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    PaintGradient(dc, &client);
    EndPaint(window, &paint);
}

// The sequence runs inside this handler; whatever its outcome, the window
// closes afterwards and the message loop ends. If the user closed the window
// while the sequence was waiting, its quit message may have been taken by that
// wait: the loop still has to end. It runs once per process: the boxes and
// the dialog dispatch messages, and a start message posted again from
// outside must not begin a second installation inside the first.
static void OnStartInstallation(HWND window)
{
    static bool started;
    if (started)
        return;
    started = true;
    RunInstallation(window);
    if (!PostMessageA(window, WM_CLOSE, 0, 0))
        PostQuitMessage(0);
}

LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        OnPaint(window);
        return 0;
    case StartInstallationMessage:
        OnStartInstallation(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterSetupWindowClass(HBRUSH background)
{
    WNDCLASSA windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = SetupWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = ModuleInstance;
    windowClass.hIcon = LoadIconA(0, (LPCSTR)IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(0, (LPCSTR)IDC_ARROW);
    windowClass.hbrBackground = background;
    windowClass.lpszMenuName = 0;
    windowClass.lpszClassName = SETUP_WINDOW_CLASS;
    return RegisterClassA(&windowClass) != 0;
}

static bool CreateSetupWindow()
{
    SetupWindow = CreateWindowExA(0, SETUP_WINDOW_CLASS, SetupCaption, WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  0, 0, ModuleInstance, 0);
    return SetupWindow != 0;
}

// A first synchronous paint at the default size, then one maximised.
static void ShowMaximised(HWND window)
{
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    ShowWindow(window, SW_MAXIMIZE);
    UpdateWindow(window);
}

static void RunMessageLoop()
{
    MSG message;
    while (GetMessageA(&message, 0, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

int RunSetupWindow()
{
    HBRUSH background = CreateSolidBrush(RGB(0, 0, 255));
    int exitCode = 0;
    if (!RegisterSetupWindowClass(background)) {
        ShowError("The setup window class cannot be registered.");
        exitCode = 1;
    } else if (!CreateSetupWindow()) {
        ShowError("The setup window cannot be created.");
        exitCode = 1;
    } else {
        // Posted before showing, so it is the first posted message the loop takes.
        PostMessageA(SetupWindow, StartInstallationMessage, 0, 0);
        ShowMaximised(SetupWindow);
        RunMessageLoop();
    }
    DeleteObject(background);
    return exitCode;
}
