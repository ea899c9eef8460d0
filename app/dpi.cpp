#include "app/dpi.h"

#include "win32/scoped_gdi.h"

namespace {

template <typename Fn>
Fn User32Entry(const char* name) {
    // user32 is loaded for the program's whole life; no reference is taken.
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

}  // namespace

UINT WindowDpi(HWND window) {
    using Fn = UINT(WINAPI*)(HWND);
    if (const auto getDpiForWindow = User32Entry<Fn>("GetDpiForWindow")) {
        if (const UINT dpi = getDpiForWindow(window)) {
            return dpi;
        }
    }
    ScopedScreenDc screen;
    const int dpi = GetDeviceCaps(screen.dc(), LOGPIXELSY);
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

void DeclarePerMonitorDpiAwareness() {
    using Fn = BOOL(WINAPI*)(HANDLE);
    const auto perMonitorV2 =
        reinterpret_cast<HANDLE>(-4);  // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    if (const auto setContext = User32Entry<Fn>("SetProcessDpiAwarenessContext")) {
        setContext(perMonitorV2);
    }
}

RECT WindowRectForClient(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, UINT dpi) {
    RECT rect = {0, 0, clientWidth, clientHeight};
    using Fn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    if (const auto adjustForDpi = User32Entry<Fn>("AdjustWindowRectExForDpi")) {
        if (adjustForDpi(&rect, style, FALSE, exStyle, dpi)) {
            return rect;
        }
    }
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    return rect;
}
