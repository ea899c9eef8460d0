// The form's layout, focus and keyboard, the icon at start, and the report through repaints,
// minimise, maximise and close.
#include <windows.h>

#include <psapi.h>

#include "expectations.h"
#include "harness.h"
#include "scenarios.h"

namespace e2e {
namespace {

// Where a control's outer rectangle lies in its parent's client area, as "x,y wxh" in pixels.
std::wstring placement(HWND child, HWND parent) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    return std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L" " +
           std::to_wstring(r.right - r.left) + L"x" + std::to_wstring(r.bottom - r.top);
}

std::wstring twips(int x, int y, int w, int h) {
    return std::to_wstring(px(x)) + L"," + std::to_wstring(px(y)) + L" " + std::to_wstring(px(w)) +
           L"x" + std::to_wstring(px(h));
}

// What Kelvane's module list says of winmm.dll. Under qemu Wine cannot read another process's
// memory, so the list is unreadable there (error 5) and the test winmm.dll's marker answers alone.
std::wstring module_list_says(App& app) {
    HMODULE modules[512];
    DWORD bytes = 0;
    if (!EnumProcessModules(app.pi.hProcess, modules, sizeof modules, &bytes)) {
        return L"unreadable (error " + std::to_wstring(GetLastError()) + L")";
    }
    for (DWORD i = 0; i < bytes / sizeof *modules && i < 512; ++i) {
        wchar_t name[MAX_PATH] = {};
        GetModuleBaseNameW(app.pi.hProcess, modules[i], name, MAX_PATH);
        if (lstrcmpiW(name, L"winmm.dll") == 0) {
            return L"loaded";
        }
    }
    return L"not loaded";
}

// The marker decides; a module list that can be read must agree with it.
void check_winmm(App& app, const std::wstring& want, const std::wstring& name) {
    const std::wstring marker = test_winmm_in(app), modules = module_list_says(app);
    check(marker == want && (modules == want || modules.rfind(L"unreadable", 0) == 0), name,
          L"load marker: " + marker + L", module list: " + modules);
    if (modules.rfind(L"unreadable", 0) == 0) {
        say(L"note: Kelvane's module list is " + modules + L" here; the load marker answered");
    }
}

}  // namespace

// Caption, client area and both controls where their twips put them at the screen's DPI.
void check_layout(App& app) {
    wchar_t caption[64] = {};
    GetWindowTextW(app.form, caption, 64);
    check(caption == std::wstring(L"Orvesk声卡测试 v1.0"), L"caption", caption);
    RECT client;
    GetClientRect(app.form, &client);
    check(client.right == px(4680) && client.bottom == px(5775), L"client area 4680x5775 twips",
          std::to_wstring(client.right) + L"x" + std::to_wstring(client.bottom));
    const std::wstring cmd = placement(app.cmd, app.form), pic = placement(app.pic, app.form);
    check(cmd == twips(1440, 5280, 1335, 375) && class_of(app.cmd) == L"Button" &&
              text_of(app.cmd) == L"测试声卡" && (GetWindowLongW(app.cmd, GWL_STYLE) & WS_TABSTOP),
          L"CmdTest: tab-stop button 测试声卡 in place", cmd);
    check(pic == twips(240, 240, 4095, 4815) && class_of(app.pic) == L"KelvanePicture" &&
              (GetWindowLongW(app.pic, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) &&
              (GetWindowLongW(app.pic, GWL_STYLE) & WS_TABSTOP),
          L"Picture1: sunken tab-stop KelvanePicture in place", pic);
}

void form_and_keyboard() {
    Session app;
    if (app.launch(L"native", &kWorkedRecord)) {
        check_layout(app);
        const std::wstring cmd = placement(app.cmd, app.form), pic = placement(app.pic, app.form);
        check(focus_on(app, app.cmd), L"CmdTest has the focus at start");
        const std::wstring surface = text_of(app.pic);
        check(surface.empty(), L"surface starts empty", surface);

        // The icon is all that is drawn at start: its 32x32 corner differs from the
        // background, the same square beside it does not.
        const int n = px(480);
        Pixels shot =
            settled(app.pic, [&](const Pixels& p) { return inked(p, app.pic, 0, n) > n * n / 10; });
        const int icon = inked(shot, app.pic, 0, n), beside = inked(shot, app.pic, n + 8, n);
        check(icon > n * n / 10 && beside == 0, L"icon drawn at top-left",
              std::to_wstring(icon) + L" icon pixels, " + std::to_wstring(beside) + L" beside");

        key(app, VK_TAB);
        check(focus_on(app, app.pic), L"Tab moves the focus to Picture1");
        key(app, VK_TAB, VK_SHIFT);
        check(focus_on(app, app.cmd), L"Shift+Tab moves it back to CmdTest");
        // Nothing of the audio stack is paid for by a user who never presses the button.
        check_winmm(app, L"not loaded", L"winmm.dll is not loaded before the first press");
        key(app, VK_SPACE);
        answer_box(app, L"Space", kFound);
        same_lines(report_after_ok(app), kWorked, L"Space prints the worked example");
        check_winmm(app, L"loaded", L"winmm.dll is loaded by the first press");
        key(app, VK_RETURN);
        answer_box(app, L"Enter", kFound);
        same_lines(report_after_ok(app), kWorked, L"a second press replaces the report");

        const Pixels before = settled(app.pic);
        auto as_before = [&before](const Pixels& p) { return p == before; };
        RedrawWindow(app.pic, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        check(!before.empty() && settled(app.pic, as_before) == before,
              L"report survives a forced repaint", before.empty() ? L"no picture of it" : L"");
        SendMessageTimeoutW(app.form, WM_SYSCOMMAND, SC_MINIMIZE, 0, 0, 5000, nullptr);
        bool minimised = IsIconic(app.form);
        SendMessageTimeoutW(app.form, WM_SYSCOMMAND, SC_RESTORE, 0, 0, 5000, nullptr);
        check(minimised && !before.empty() && settled(app.pic, as_before) == before,
              L"report survives minimise and restore");

        SendMessageTimeoutW(app.form, WM_SYSCOMMAND, SC_MAXIMIZE, 0, 0, 5000, nullptr);
        check(IsZoomed(app.form) && placement(app.cmd, app.form) == cmd &&
                  placement(app.pic, app.form) == pic,
              L"maximising moves no control",
              placement(app.cmd, app.form) + L" " + placement(app.pic, app.form));
        app.closes(L"closing the form ends Kelvane");
    }
}

}  // namespace e2e
