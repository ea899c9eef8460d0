// The yardsticks for start-up time: the least a Win32 window program does
// before it is shown and idle, built with the same toolchain and flags. With
// KELVANE_SAME_UI it also does what any program with Kelvane's user interface
// must: its Chinese caption, one themed push button with its Chinese label,
// and the window's big and small icons.
#include <windows.h>

#include <utility>

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
#ifdef KELVANE_SAME_UI
    SetWindowTextW(hwnd, L"Orvesk声卡测试 v1.0");
    CreateWindowW(L"BUTTON", L"测试声卡", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 96, 352,
                  89, 25, hwnd, nullptr, instance, nullptr);
    for (auto [which, size] : {std::pair{ICON_BIG, 32}, std::pair{ICON_SMALL, 16}}) {
        SendMessageW(hwnd, WM_SETICON, which,
                     reinterpret_cast<LPARAM>(
                         LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0)));
    }
#endif
    ShowWindow(hwnd, showCommand);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageW(&msg);
    }
    return 0;
}
