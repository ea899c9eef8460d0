// Picture1 as a keyboard user meets it: a focus cue that follows the system's keyboard-cue state,
// and the report copied to the clipboard by Ctrl+C, Ctrl+Insert or its context menu, never
// partly, never with a hang, and not at all while the report is empty.
#include "expectations.h"
#include "harness.h"
#include "scenarios.h"

namespace e2e {
namespace {

// A window of the driver's own, so that it can own the clipboard like any other program.
HWND clipboard_owner() {
    static HWND owner =
        CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    return owner;
}

void put_clipboard(const std::wstring& text) {
    if (!poll(kWaitMs, [] { return OpenClipboard(clipboard_owner()) != FALSE; })) {
        return;
    }
    EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    memcpy(GlobalLock(memory), text.c_str(), bytes);
    GlobalUnlock(memory);
    SetClipboardData(CF_UNICODETEXT, memory);
    CloseClipboard();
}

std::wstring clipboard() {
    std::wstring text = L"<clipboard busy>";
    if (poll(kWaitMs, [] { return OpenClipboard(clipboard_owner()) != FALSE; })) {
        HGLOBAL memory = GetClipboardData(CF_UNICODETEXT);
        const wchar_t* data = memory ? static_cast<const wchar_t*>(GlobalLock(memory)) : nullptr;
        text = data ? data : L"<no text>";
        if (data) {
            GlobalUnlock(memory);
        }
        CloseClipboard();
    }
    return text;
}

// What the clipboard holds once a gesture has had its chance to copy (or not).
std::wstring after(App& app, const std::wstring& before, void (*gesture)(App&)) {
    put_clipboard(before);
    gesture(app);
    std::wstring now;
    poll(1500, [&] { return (now = clipboard()) != before; });
    return now;
}

// The menu opened from the keyboard, its one item chosen by its mnemonic.
void menu_by_keys(App& app, WORD opener, WORD modifier) {
    key(app, opener, modifier);
    poll(kWaitMs, [&] { return top_window(app.pi.dwProcessId, L"#32768", 0) != nullptr; });
    key(app, 'C');
    // A greyed item ignores its mnemonic and leaves the menu open.
    key(app, VK_ESCAPE);
}

const struct Gesture {
    const wchar_t* name;
    void (*act)(App&);
} kGestures[] = {
    {L"Ctrl+C", [](App& app) { key(app, 'C', VK_CONTROL); }},
    {L"Ctrl+Insert", [](App& app) { key(app, VK_INSERT, VK_CONTROL); }},
    {L"Shift+F10, C", [](App& app) { menu_by_keys(app, VK_F10, VK_SHIFT); }},
    {L"Menu key, C", [](App& app) { menu_by_keys(app, VK_APPS, 0); }},
    {L"right-click, C",
     [](App& app) {
         RECT r;
         GetWindowRect(app.pic, &r);
         SetForegroundWindow(app.form);
         SetCursorPos(r.left + 100, r.top + 100);
         INPUT click[2] = {};
         click[0].type = click[1].type = INPUT_MOUSE;
         click[0].mi.dwFlags = MOUSEEVENTF_RIGHTDOWN, click[1].mi.dwFlags = MOUSEEVENTF_RIGHTUP;
         SendInput(2, click, sizeof(INPUT));
         poll(kWaitMs, [&] { return top_window(app.pi.dwProcessId, L"#32768", 0) != nullptr; });
         key(app, 'C');
         key(app, VK_ESCAPE);
     }},
};

// A dotted rectangle along the surface's edges, away from the icon in its corner.
bool cue_shown(App& app) {
    RECT r;
    GetClientRect(app.pic, &r);
    const Pixels shot = settled(app.pic);
    int marked = 0;
    for (LONG x = r.right / 2; x < r.right && !shot.empty(); ++x) {
        marked += shot[(r.bottom - 1) * r.right + x] != shot[(r.bottom / 2) * r.right + x];
    }
    return marked > (r.right / 2) / 4;
}

void focus_cue(App& app) {
    key(app, VK_TAB);
    check(focus_on(app, app.pic) && cue_shown(app), L"Tab to Picture1 shows a focus cue");
    // What the system sends a window when the user turns to the mouse.
    SendMessageW(app.pic, WM_UPDATEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);
    check(!cue_shown(app), L"no cue while keyboard cues are hidden");
    key(app, VK_TAB, VK_SHIFT);
    key(app, VK_TAB);
    check(focus_on(app, app.pic) && cue_shown(app), L"Tab brings the cue back");
    key(app, VK_TAB);
    check(focus_on(app, app.cmd) && !cue_shown(app), L"no cue once the focus has left");
}

// Tab until Picture1 has the focus: there are only two stops.
void focus_picture(App& app) {
    for (int tabs = 0; tabs < 2 && !focus_on(app, app.pic, 500); ++tabs) {
        key(app, VK_TAB);
    }
}

}  // namespace

void copy_and_focus() {
    App app;
    serve_device(1, 0, kWorkedRecord);
    if (!launch(app, exe, L"native")) {
        return finish(app);
    }
    focus_cue(app);
    for (const Gesture& g : kGestures) {
        focus_picture(app);
        const std::wstring got = after(app, L"untouched", g.act);
        check(got == L"untouched", std::wstring(g.name) + L" copies nothing from an empty report",
              got);
    }
    PostMessageW(app.cmd, BM_CLICK, 0, 0);
    answer_box(app, L"copy", kFound);
    const std::wstring report = joined(report_after_ok(app));
    for (const Gesture& g : kGestures) {
        focus_picture(app);
        const std::wstring got = after(app, L"untouched", g.act);
        check(got == report, std::wstring(g.name) + L" copies the report", got);
    }

    // Another program holding the clipboard: Kelvane gives up after a moment and stays usable.
    put_clipboard(L"held");
    OpenClipboard(clipboard_owner());
    key(app, 'C', VK_CONTROL);
    const DWORD start = GetTickCount();
    DWORD_PTR unused;
    Sleep(200);
    const bool answers =
        SendMessageTimeoutW(app.form, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 3000, &unused) != 0;
    const DWORD waited = GetTickCount() - start;
    Sleep(1000);
    CloseClipboard();
    const std::wstring got = clipboard();
    check(answers && waited < 2000 && got == L"held",
          L"a held clipboard: Kelvane gives up quietly, no hang, no partial copy",
          std::to_wstring(waited) + L" ms, clipboard \"" + got + L"\"");
    finish(app);
}

}  // namespace e2e
