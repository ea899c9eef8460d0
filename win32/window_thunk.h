// The window class and window procedure of the program's own windows: it finds the C++
// object that owns the window (handed over at creation, then kept in
// GWLP_USERDATA) and passes it the message. The owner has `HWND hwnd_` and
// `LRESULT HandleMessage(UINT, WPARAM, LPARAM)`, and befriends this function.
#pragma once

#include <windows.h>

template <typename Owner>
LRESULT CALLBACK WindowThunk(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* owner = static_cast<Owner*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        owner->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
    }
    auto* owner = reinterpret_cast<Owner*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!owner) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        // The last message: the window no longer speaks for its owner.
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        owner->hwnd_ = nullptr;
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return owner->HandleMessage(message, wParam, lParam);
}

// Both of the program's classes draw on the dialog face colour with an arrow cursor.
template <typename Owner>
bool RegisterOwnerClass(HINSTANCE instance, const wchar_t* className) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowThunk<Owner>;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = className;
    return RegisterClassExW(&wc) != 0;
}
