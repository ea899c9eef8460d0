#include "harness.h"

#include <oleacc.h>

#include "expectations.h"
#include "test_winmm_marker.h"

namespace e2e {

int passed = 0, failed = 0;
std::wstring exe, here, device_file;

void say(const std::wstring& s) {
    std::string u(WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr), 0);
    WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, u.data(), int(u.size()), nullptr, nullptr);
    u.back() = '\n';
    DWORD n;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), u.data(), DWORD(u.size()), &n, nullptr);
}

bool check(bool ok, const std::wstring& name, const std::wstring& detail) {
    ++(ok ? passed : failed);
    say((ok ? L"PASS " : L"FAIL ") + name + (ok || detail.empty() ? L"" : L": " + detail));
    return ok;
}

const std::wstring kNoAnswer = L"<no answer to WM_GETTEXT>";

std::wstring text_of(HWND w) {
    wchar_t buf[4096] = {};
    DWORD_PTR copied = 0;
    return SendMessageTimeoutW(w, WM_GETTEXT, 4096, LPARAM(buf), SMTO_ABORTIFHUNG, 5000, &copied)
               ? buf
               : kNoAnswer;
}

const std::wstring kNoString = L"<none>";

namespace {

std::wstring hex(HRESULT hr) {
    wchar_t buf[16];
    wsprintfW(buf, L"0x%08lx", static_cast<unsigned long>(hr));
    return buf;
}

void note(HRESULT hr, const wchar_t* call, std::wstring& failure) {
    if (FAILED(hr)) {
        failure += std::wstring(failure.empty() ? L"" : L", ") + call + L" " + hex(hr);
    }
}

// A string property, or kNoString.
template <typename Get>
std::wstring string_of(Get get, const wchar_t* call, std::wstring& failure) {
    BSTR s = nullptr;
    note(get(&s), call, failure);
    std::wstring got = s ? std::wstring(s, SysStringLen(s)) : kNoString;
    SysFreeString(s);
    return got;
}

// A VT_I4 property, or -1.
template <typename Get>
LONG number_of(Get get, const wchar_t* call, std::wstring& failure) {
    VARIANT v = {};
    const HRESULT hr = get(&v);
    note(hr, call, failure);
    const LONG got = SUCCEEDED(hr) && v.vt == VT_I4 ? v.lVal : -1;
    VariantClear(&v);
    return got;
}

}  // namespace

Accessible accessible_of(HWND w) {
    // This thread is the driver's apartment from the first call on, and stays one.
    static const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Accessible a;
    IAccessible* object = nullptr;
    const HRESULT hr = FAILED(com)
                           ? com
                           : AccessibleObjectFromWindow(w, OBJID_CLIENT, __uuidof(IAccessible),
                                                        reinterpret_cast<void**>(&object));
    if (FAILED(hr) || !object) {
        a.failure = L"AccessibleObjectFromWindow " + hex(hr);
        return a;
    }
    IUnknown* security = nullptr;
    a.remote = SUCCEEDED(
        object->QueryInterface(__uuidof(IClientSecurity), reinterpret_cast<void**>(&security)));
    if (security) {
        security->Release();
    }
    VARIANT self = {};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    a.role = number_of([&](VARIANT* v) { return object->get_accRole(self, v); }, L"get_accRole",
                       a.failure);
    a.state = number_of([&](VARIANT* v) { return object->get_accState(self, v); }, L"get_accState",
                        a.failure);
    a.name =
        string_of([&](BSTR* s) { return object->get_accName(self, s); }, L"get_accName", a.failure);
    a.value = string_of([&](BSTR* s) { return object->get_accValue(self, s); }, L"get_accValue",
                        a.failure);
    object->Release();
    return a;
}

std::wstring Accessible::said() const {
    wchar_t role_text[64] = L"?";
    GetRoleTextW(static_cast<DWORD>(role), role_text, 64);
    wchar_t state_hex[16];
    wsprintfW(state_hex, L"0x%lx", static_cast<unsigned long>(state));
    return (failure.empty() ? L"" : L"failed: " + failure + L"; ") +
           (remote ? L"a proxy to Kelvane" : L"an object made in the driver") + L", role " +
           std::to_wstring(role) + L" (" + role_text + L"), state " + state_hex + L", name \"" +
           name + L"\", value \"" + value + L"\"";
}

std::wstring class_of(HWND w) {
    wchar_t buf[64] = {};
    GetClassNameW(w, buf, 64);
    return buf;
}

void write_file(const std::wstring& path, const std::string& data) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n;
    WriteFile(f, data.data(), DWORD(data.size()), &n, nullptr);
    CloseHandle(f);
}

bool read_file(const std::wstring& path, std::string& data) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        return false;
    }
    data.resize(GetFileSize(f, nullptr));
    DWORD read = 0;
    const bool whole =
        ReadFile(f, data.data(), DWORD(data.size()), &read, nullptr) && read == data.size();
    CloseHandle(f);
    return whole;
}

HWND top_window(DWORD pid, const wchar_t* cls, DWORD ms, const wchar_t* title) {
    HWND found = nullptr;
    poll(ms, [&] {
        for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, cls, title)) != nullptr;) {
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            found = owner == pid && IsWindowVisible(w) ? w : found;
        }
        return found != nullptr;
    });
    return found;
}

// Wine takes DLL overrides, when a process starts, from WINEDLLOVERRIDES in the Unix environment
// (which a Windows parent cannot change) or else from the registry, per program name.
bool spawn(App& app, const std::wstring& path) {
    std::wstring cmdline = L"\"" + path + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    return CreateProcessW(path.c_str(), cmdline.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &si, &app.pi);
}

bool start(App& app, const std::wstring& path, const std::wstring& winmm) {
    HKEY key;
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\Kelvane.exe\\DllOverrides", 0,
                    nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    RegSetValueExW(key, L"winmm", 0, REG_SZ, reinterpret_cast<const BYTE*>(winmm.c_str()),
                   DWORD(winmm.size() + 1) * sizeof(wchar_t));
    RegCloseKey(key);
    if (spawn(app, path)) {
        app.form = top_window(app.pi.dwProcessId, L"KelvaneForm", kStartMs);
        app.cmd = GetDlgItem(app.form, 100), app.pic = GetDlgItem(app.form, 101);
    }
    return app.form && app.cmd && app.pic;
}

bool Session::launch(const std::wstring& winmm, const std::string* device,
                     const std::wstring& path) {
    if (device) {
        serve_device(1, 0, *device);
    }
    return check(start(*this, path, winmm), L"Kelvane shows its form with both controls");
}

DWORD exit_code_within(App& app, DWORD ms) {
    switch (WaitForSingleObject(app.pi.hProcess, ms)) {
        case WAIT_TIMEOUT:
            return STILL_ACTIVE;
        case WAIT_OBJECT_0: {
            DWORD code = kNoExitCode;
            return GetExitCodeProcess(app.pi.hProcess, &code) ? code : kNoExitCode;
        }
        default:
            return kNoExitCode;
    }
}

Session::~Session() {
    if (pi.hProcess && exit_code_within(*this, 0) == STILL_ACTIVE) {
        TerminateProcess(pi.hProcess, 99);
        WaitForSingleObject(pi.hProcess, kWaitMs);
    }
    CloseHandle(pi.hProcess), CloseHandle(pi.hThread);
}

void App::press() const {
    PostMessageW(cmd, BM_CLICK, 0, 0);
}

bool App::ends_with(DWORD code, const std::wstring& name, DWORD ms) {
    const DWORD start = GetTickCount();
    const DWORD got = exit_code_within(*this, ms);
    return check(
        got == code, name,
        std::to_wstring(got) + L" after " + std::to_wstring(GetTickCount() - start) + L" ms");
}

bool App::closes(const std::wstring& name, DWORD ms) {
    PostMessageW(form, WM_SYSCOMMAND, SC_CLOSE, 0);
    return ends_with(0, name, ms);
}

int px(int twips) {
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return MulDiv(twips, dpi, 1440);
}

BITMAPINFOHEADER top_down(LONG w, LONG h) {
    BITMAPINFOHEADER bh = {};
    bh.biSize = sizeof bh, bh.biWidth = w, bh.biHeight = -h, bh.biPlanes = 1, bh.biBitCount = 32;
    return bh;
}

// What the screen shows: Wine composes every process's windows into the X root window, so a
// screen DC sees another process's drawing (PrintWindow would ask Kelvane to draw again).
Pixels grab(const RECT& r) {
    LONG w = r.right - r.left, h = r.bottom - r.top;
    BITMAPINFO bi = {top_down(w, h), {}};
    void* bits = nullptr;
    HDC screen = GetDC(nullptr), mem = CreateCompatibleDC(screen);
    HBITMAP bmp = w > 0 && h > 0 ? CreateDIBSection(mem, &bi, 0, &bits, nullptr, 0) : nullptr;
    HGDIOBJ old = SelectObject(mem, bmp);
    const bool read = bmp && BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    Pixels px(static_cast<DWORD*>(bits), static_cast<DWORD*>(bits) + (read ? w * h : 0));
    for (DWORD& p : px) {
        p |= 0xFF000000;  // Wine leaves stray alpha where it drew text or icons
    }
    SelectObject(mem, old), DeleteObject(bmp), DeleteDC(mem), ReleaseDC(nullptr, screen);
    return px;
}

Pixels grab(HWND w) {
    RECT r = {};
    GetClientRect(w, &r);
    MapWindowPoints(w, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
    return grab(r);
}

Pixels settled(HWND w) {
    return settled(w, [](const Pixels&) { return true; });
}

int inked(const Pixels& shot, HWND w, int left, int side) {
    RECT r;
    GetClientRect(w, &r);
    int count = 0;
    for (int y = 0; y < side && shot.size() == size_t(r.right * r.bottom); ++y) {
        for (int x = left; x < left + side; ++x) {
            count += shot[y * r.right + x] != shot.back();
        }
    }
    return count;
}

DWORD as_pixel(COLORREF c) {
    return 0xFF000000 | GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c);
}

// Real keystrokes, so that Shift's state and the dialog navigation are Kelvane's own doing.
void key(App& app, WORD vk, WORD modifier) {
    // Wine activates another process's window by asking its thread to: input sent before that
    // thread has done so goes to whichever window was in front.
    SetForegroundWindow(app.form);
    poll(kWaitMs, [&] {
        const HWND front = GetForegroundWindow();
        DWORD owner = 0;
        GetWindowThreadProcessId(front, &owner);
        return front && owner == app.pi.dwProcessId;
    });
    INPUT in[4] = {};
    WORD keys[4] = {modifier, vk, vk, modifier};
    for (int i = 0; i < 4; ++i) {
        in[i].type = INPUT_KEYBOARD, in[i].ki.wVk = keys[i];
        in[i].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
    }
    SendInput(modifier ? 4 : 2, modifier ? in : in + 1, sizeof(INPUT));
}

std::wstring in_front() {
    const HWND front = GetForegroundWindow();
    DWORD owner = 0;
    GetWindowThreadProcessId(front, &owner);
    return front ? class_of(front) + L" \"" + text_of(front) + L"\" of process " +
                       std::to_wstring(owner)
                 : L"no window";
}

bool focus_on(App& app, HWND want, DWORD ms) {
    GUITHREADINFO gti = {};
    gti.cbSize = sizeof gti;
    return poll(ms,
                [&] { return GetGUIThreadInfo(app.pi.dwThreadId, &gti) && gti.hwndFocus == want; });
}

void focus_picture(App& app) {
    for (int tabs = 0; tabs < 2 && !focus_on(app, app.pic, 500); ++tabs) {
        key(app, VK_TAB);
    }
}

bool done_with_gesture(App& app, DWORD ms) {
    key(app, VK_TAB);
    return focus_on(app, app.cmd, ms);
}

HWND menu_of(App& app) {
    return top_window(app.pi.dwProcessId, L"#32768", kWaitMs);
}

// A menu's own loop takes posted messages before keys: until the menu is gone, a message posted to
// Kelvane (a BM_CLICK, say) would be dealt with inside it, and the key that closes the menu could
// then close what that message opened.
bool menu_gone(HWND menu) {
    return poll(kWaitMs, [menu] { return !IsWindowVisible(menu); });
}

MenuPicture picture_menu(App& app) {
    focus_picture(app);
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
    key(app, VK_F10, VK_SHIFT);
    MenuPicture picture;
    picture.menu = menu_of(app);
    if (picture.menu) {
        picture.shot = settled(picture.menu);
        GetClientRect(picture.menu, &picture.r);
    }
    key(app, VK_ESCAPE);
    if (picture.menu) {
        menu_gone(picture.menu);
    }
    return picture;
}

bool choose(App& app, WORD mnemonic) {
    focus_picture(app);
    key(app, VK_F10, VK_SHIFT);
    const HWND menu = menu_of(app);
    key(app, mnemonic);
    return menu && menu_gone(menu);
}

std::wstring test_winmm_in(App& app) {
    const std::wstring name = kTestWinmmMarker + std::to_wstring(app.pi.dwProcessId);
    HANDLE marker = OpenEventW(SYNCHRONIZE, FALSE, name.c_str());
    const DWORD error = GetLastError();
    if (marker) {
        CloseHandle(marker);
        return L"loaded";
    }
    return error == ERROR_FILE_NOT_FOUND
               ? L"not loaded"
               : L"unknown (OpenEvent error " + std::to_wstring(error) + L")";
}

namespace {

struct OtherWindows {
    App* app;
    std::wstring said;
};

BOOL CALLBACK describe_other(HWND w, LPARAM param) {
    auto* f = reinterpret_cast<OtherWindows*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == f->app->pi.dwProcessId && w != f->app->form && IsWindowVisible(w)) {
        const std::wstring cls = class_of(w);
        f->said += (f->said.empty() ? L"" : L"; ") +
                   (cls == L"#32770" ? L"box" : L"window of class " + cls) + L" \"" + text_of(w) +
                   L"\"";
        if (HWND text = GetDlgItem(w, 0xFFFF)) {
            f->said += L": \"" + text_of(text) + L"\"";
        }
    }
    return TRUE;
}

}  // namespace

std::wstring other_windows(App& app) {
    OtherWindows found = {&app, L""};
    EnumWindows(describe_other, reinterpret_cast<LPARAM>(&found));
    return found.said.empty() ? L"no other window" : found.said;
}

namespace {

// "no icon" when none of the box's icon controls shows one. Wine's box always has one, empty
// when the caller asked for no icon; a box elsewhere may have none at all. Else "an icon", or
// where which is asked, which stock icon: another process's icon handle means nothing here, so
// the icon is told by its picture. Each stock icon is drawn as this process draws it, stretched to
// the control and over the control's own background, and set against the screen. The closest wins
// if it is close: a few pixels may differ where the screen's depth rounded a blended edge.
std::wstring icon_in(HWND box, bool which) {
    HWND control = nullptr;
    for (HWND c = GetWindow(box, GW_CHILD); c && !control; c = GetWindow(c, GW_HWNDNEXT)) {
        if (class_of(c) != L"Static" || (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
            continue;
        }
        DWORD_PTR icon = 0;
        if (!SendMessageTimeoutW(c, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 5000, &icon)) {
            return L"<no answer to STM_GETICON>";
        }
        control = icon ? c : nullptr;
    }
    if (!control || !which) {
        return control ? L"an icon" : L"no icon";
    }
    RECT r = {};
    if (!IsWindowVisible(control) || !GetClientRect(control, &r) || r.right <= 0 || r.bottom <= 0) {
        return L"no icon shown";
    }
    // The box may still be sizing its icon control to the icon: a picture counts once it is of
    // the control's size as it is then, and that size is the one compared with.
    const auto whole = [control](const Pixels& p) {
        RECT now = {};
        return GetClientRect(control, &now) && !p.empty() &&
               p.size() == size_t(now.right) * size_t(now.bottom);
    };
    const Pixels shot = settled(control, whole);
    if (!whole(shot) || !GetClientRect(control, &r)) {
        // What the screen's own calls say, for the trace: once, through qemu, no read came back
        // for 10 s while the box stood.
        RECT on = r;
        MapWindowPoints(control, HWND_DESKTOP, reinterpret_cast<POINT*>(&on), 2);
        HDC screen = GetDC(nullptr);
        SetLastError(0);
        const COLORREF pixel = screen ? GetPixel(screen, on.left, on.top) : CLR_INVALID;
        const DWORD error = GetLastError();
        if (screen) {
            ReleaseDC(nullptr, screen);
        }
        return L"<the screen could not be read: " + std::to_wstring(shot.size()) + L" pixels for " +
               std::to_wstring(r.right) + L"x" + std::to_wstring(r.bottom) + L" at " +
               std::to_wstring(on.left) + L"," + std::to_wstring(on.top) + L"; screen DC " +
               (screen ? L"given" : L"refused") + L", a pixel there " +
               (pixel == CLR_INVALID ? L"not read" : L"read") + L", error " +
               std::to_wstring(error) + L", box " +
               (IsWindowVisible(GetParent(control)) ? L"shown" : L"hidden") + L">";
    }
    const std::pair<LPCWSTR, const wchar_t*> stock[] = {{IDI_INFORMATION, L"information"},
                                                        {IDI_WARNING, L"warning"},
                                                        {IDI_ERROR, L"error"},
                                                        {IDI_QUESTION, L"question"}};
    const wchar_t* best = nullptr;
    size_t fewest = shot.size() + 1;
    for (const auto& [id, name] : stock) {
        BITMAPINFO bi = {top_down(r.right, r.bottom), {}};
        void* bits = nullptr;
        HDC screen = GetDC(nullptr), mem = CreateCompatibleDC(screen);
        HBITMAP bmp = CreateDIBSection(mem, &bi, 0, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(mem, bmp);
        // The icon's corner is the background it was drawn over.
        HBRUSH back = CreateSolidBrush(RGB(shot[0] >> 16 & 255, shot[0] >> 8 & 255, shot[0] & 255));
        FillRect(mem, &r, back);
        DeleteObject(back);
        const bool drawn = bmp && DrawIconEx(mem, 0, 0, LoadIconW(nullptr, id), r.right, r.bottom,
                                             0, nullptr, DI_NORMAL);
        GdiFlush();
        size_t differ = shot.size();
        if (drawn) {
            differ = 0;
            const auto* own = static_cast<const DWORD*>(bits);
            for (size_t i = 0; i < shot.size(); ++i) {
                for (int shift = 0; shift < 24; shift += 8) {
                    const int a = shot[i] >> shift & 255, b = own[i] >> shift & 255;
                    if (a - b > 24 || b - a > 24) {
                        ++differ;
                        break;
                    }
                }
            }
        }
        SelectObject(mem, old), DeleteObject(bmp), DeleteDC(mem), ReleaseDC(nullptr, screen);
        if (differ < fewest) {
            fewest = differ, best = name;
        }
    }
    if (best && fewest * 20 <= shot.size()) {
        return best;
    }
    return L"an icon unlike the stock ones (closest " + std::wstring(best ? best : L"none") +
           L", " + std::to_wstring(fewest) + L" of " + std::to_wstring(shot.size()) +
           L" pixels off)";
}

}  // namespace

std::wstring Box::stock_icon() const {
    return icon_in(hwnd, true);
}

Lines Box::lines() const {
    Lines lines;
    for (size_t at = 0, end = 0; end != std::wstring::npos; at = end + 1) {
        end = text.find(L'\n', at);
        lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

std::wstring Box::said() const {
    return L"title \"" + title + L"\", text \"" + text + L"\", " + std::to_wstring(buttons) +
           L" buttons, " + icon;
}

void Box::press_ok() const {
    PostMessageW(hwnd, WM_COMMAND, IDOK, LPARAM(GetDlgItem(hwnd, IDOK)));
}

bool Box::answer() const {
    press_ok();
    return poll(kWaitMs, [this] { return !IsWindow(hwnd); });
}

Box App::box(DWORD ms, const wchar_t* title) const {
    Box box;
    box.hwnd = top_window(pi.dwProcessId, L"#32770", ms, title);
    if (box.hwnd) {
        box.title = text_of(box.hwnd), box.text = text_of(GetDlgItem(box.hwnd, 0xFFFF));
        box.owner = GetWindow(box.hwnd, GW_OWNER);
        for (HWND c = GetWindow(box.hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            box.buttons += class_of(c) == L"Button";
        }
        box.has_ok = GetDlgItem(box.hwnd, IDOK), box.has_cancel = GetDlgItem(box.hwnd, IDCANCEL);
        box.icon = icon_in(box.hwnd, false);
    }
    return box;
}

// The box must come over an already cleared surface and say exactly what the contract says.
bool answer_box(App& app, const std::wstring& what, const std::wstring& expected) {
    const Box box = app.box();
    if (!check(bool(box), what + L": message box appears")) {
        return false;
    }
    const std::wstring surface = text_of(app.pic);
    check(box.title == L"Find Sound Blaster Card" && box.text == expected && box.has_ok &&
              box.buttons == 1 && box.owner == app.form && surface.empty(),
          what + L": box over the cleared surface", box.said() + L", surface \"" + surface + L"\"");
    check(box.icon == L"no icon", what + L": box without an icon", box.icon);
    return box.answer();
}

bool press_for_report(App& app, const std::wstring& what, const Lines& want) {
    app.press();
    return answer_box(app, what, kFound) && same_lines(report_after_ok(app), want, what);
}

Lines report_after_ok(App& app) {
    std::wstring last, now;
    poll(kWaitMs, [&] {
        Sleep(300);
        now = text_of(app.pic);
        bool stable = !now.empty() && now == last;
        last = now;
        return stable;
    });
    Lines lines;
    for (size_t at = 0, end = 0; !now.empty() && end != std::wstring::npos; at = end + 2) {
        end = now.find(L"\r\n", at);
        lines.push_back(now.substr(at, end - at));
    }
    return lines;
}

bool same_lines(const Lines& got, const Lines& want, const std::wstring& what) {
    std::wstring diff;
    for (size_t i = 0; i < got.size() || i < want.size(); ++i) {
        std::wstring g = i < got.size() ? got[i] : L"<none>",
                     w = i < want.size() ? want[i] : L"<none>";
        diff += g == w ? L""
                       : L"\n  line " + std::to_wstring(i + 1) + L": got \"" + g + L"\", want \"" +
                             w + L"\"";
    }
    return check(diff.empty(), what, diff);
}

// The surface's text for a report of these lines.
std::wstring joined(const Lines& lines) {
    std::wstring all;
    for (const std::wstring& line : lines) {
        all += (all.empty() ? L"" : L"\r\n") + line;
    }
    return all;
}

void save_bmp(const std::wstring& path, RECT r) {
    Pixels px = grab(r);
    BITMAPINFOHEADER ih = top_down(r.right - r.left, r.bottom - r.top);
    BITMAPFILEHEADER fh = {0x4D42, DWORD(sizeof fh + sizeof ih + px.size() * 4), 0, 0,
                           sizeof fh + sizeof ih};
    write_file(path, std::string(reinterpret_cast<char*>(&fh), sizeof fh) +
                         std::string(reinterpret_cast<char*>(&ih), sizeof ih) +
                         std::string(reinterpret_cast<char*>(px.data()), px.size() * 4));
}

}  // namespace e2e
