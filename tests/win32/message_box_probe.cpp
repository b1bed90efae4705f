// A trivial program for proving the window driver.
//   message_box_probe box CAPTION TEXT   shows a Yes/No/Cancel box, exits with the answer
//   message_box_probe edit EXPECTED      shows a window with an edit and an OK button;
//                                        OK exits with 42 when the edit holds EXPECTED, else 1
#include <windows.h>

#include <cstring>

namespace {

constexpr int kEditId = 100;
const char* expectedText = "";

LRESULT CALLBACK EditProbeProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        char text[256] = {0};
        GetDlgItemTextA(window, kEditId, text, sizeof text);
        ExitProcess(std::strcmp(text, expectedText) == 0 ? 42 : 1);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int RunEditProbe(HINSTANCE instance)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = EditProbeProcedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "EditProbe";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("EditProbe", "Edit probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                0, 0, 300, 150, nullptr, nullptr, instance, nullptr);
    CreateWindowA("EDIT", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 10, 200, 24, window,
                  reinterpret_cast<HMENU>(kEditId), instance, nullptr);
    CreateWindowA("BUTTON", "OK", WS_CHILD | WS_VISIBLE, 10, 50, 80, 24, window,
                  reinterpret_cast<HMENU>(IDOK), instance, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    if (__argc >= 4 && std::strcmp(__argv[1], "box") == 0)
        return MessageBoxA(nullptr, __argv[3], __argv[2], MB_YESNOCANCEL);
    if (__argc >= 3 && std::strcmp(__argv[1], "edit") == 0) {
        expectedText = __argv[2];
        return RunEditProbe(instance);
    }
    return 2;
}
