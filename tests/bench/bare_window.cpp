// The yardstick for start-up time: the least a Win32 window program does
// before it is shown and idle, built with the same toolchain and flags.
#include <windows.h>

static LRESULT CALLBACK BareProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = BareProc;
    wc.hInstance = instance;
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = L"BareWindow";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowW(L"BareWindow", L"Bare", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 320, 400, nullptr, nullptr, instance, nullptr);
    ShowWindow(hwnd, showCommand);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
    return 0;
}
