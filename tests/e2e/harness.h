// What every scenario needs to drive Kelvane.exe from outside, as a user would, under Wine: start
// and end it, find its windows, press keys, answer the message box, read back text and pixels,
// and report each check.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

using Lines = std::vector<std::wstring>;
using Pixels = std::vector<DWORD>;

// Bounded so that a fault fails a check instead of hanging; roomy because Wine may run under
// qemu, and the first start also boots Wine's services.
constexpr DWORD kStartMs = 30000, kWaitMs = 10000;

// What check() has counted so far.
extern int passed, failed;
// Set once by wmain: the Kelvane.exe under test, this driver's folder, and the file the test
// winmm.dll reads its device from.
extern std::wstring exe, here, device_file;

// A message box of Kelvane's as a user meets it.
struct Box {
    HWND hwnd = nullptr;  // null when none came
    std::wstring title, text;
    HWND owner = nullptr;
    int buttons = 0;
    bool has_ok = false, has_cancel = false;
    // "no icon" or "an icon", as its icon controls show.
    std::wstring icon;
    explicit operator bool() const { return hwnd != nullptr; }
    // Which of the system's stock icons it shows ("information", "warning", "error",
    // "question"), told by how the screen shows it; else what it shows instead, said as a check's
    // detail would. Slower than icon: it waits for the icon's picture to settle.
    std::wstring stock_icon() const;
    Lines lines() const;
    // Its title, text, buttons and icon, for a check's detail.
    std::wstring said() const;
    // OK, as a user presses it; answer() then waits for the box to go.
    void press_ok() const;
    bool answer() const;
};

// A running Kelvane.exe, its form and both controls.
struct App {
    PROCESS_INFORMATION pi = {};
    HWND form = nullptr, cmd = nullptr, pic = nullptr;

    // 测试声卡 clicked.
    void press() const;
    // Kelvane's message box once it is up, titled title when one is given; an empty Box when none
    // came within ms.
    Box box(DWORD ms = kWaitMs, const wchar_t* title = nullptr) const;
    // Kelvane ends with status code within ms: a check of that name.
    bool ends_with(DWORD code, const std::wstring& name, DWORD ms = kWaitMs);
    // Closes the form as its close box does, and checks that Kelvane ends with status 0 within ms.
    bool closes(const std::wstring& name, DWORD ms = kWaitMs);
};

template <typename Done>
bool poll(DWORD ms, Done done, DWORD step = 100) {
    for (DWORD start = GetTickCount(); !done(); Sleep(step)) {
        if (GetTickCount() - start > ms) {
            return false;
        }
    }
    return true;
}

void say(const std::wstring& s);
bool check(bool ok, const std::wstring& name, const std::wstring& detail = L"");

// What a window answers to WM_GETTEXT; kNoAnswer when it does not answer at all, so that no check
// takes silence for an empty text.
extern const std::wstring kNoAnswer;
std::wstring text_of(HWND w);

// A window's client area as a screen reader in another process reads it: AccessibleObjectFromWindow
// with OBJID_CLIENT, then the object's role, state, name and value for itself.
struct Accessible {
    std::wstring failure;  // the calls that failed, with their HRESULTs; empty when none did
    bool remote = false;   // a COM proxy to the window's process, not an object made here
    LONG role = 0, state = 0;
    std::wstring name, value;  // kNoString when the object gave none
    std::wstring said() const;
};
extern const std::wstring kNoString;
Accessible accessible_of(HWND w);
std::wstring class_of(HWND w);
void write_file(const std::wstring& path, const std::string& data);
// The whole file; false when it could not be read whole.
bool read_file(const std::wstring& path, std::string& data);

// A visible top-level window of process pid, of class cls and titled title when one is given.
HWND top_window(DWORD pid, const wchar_t* cls, DWORD ms, const wchar_t* title = nullptr);
bool spawn(App& app, const std::wstring& path);
// winmm is the DLL override Kelvane.exe runs with: "native" for the test winmm.dll, "builtin"
// for Wine's own. Only starts it: Session::launch also checks that its form came up.
bool start(App& app, const std::wstring& path, const std::wstring& winmm);
// STILL_ACTIVE while it runs; kNoExitCode when Wine could not say.
constexpr DWORD kNoExitCode = 0xFFFFFFFE;
DWORD exit_code_within(App& app, DWORD ms);

// Kelvane for one case: started by launch (or start, or spawn), and ended when the case is done,
// whatever state a failed check left it in, so that no Kelvane process outlives its case.
struct Session : App {
    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session();
    // Serves device to the test winmm.dll first when given one (one device, its query answered),
    // then starts Kelvane at path and checks that its form came up with both controls.
    bool launch(const std::wstring& winmm, const std::string* device = nullptr,
                const std::wstring& path = exe);
};

// A length in twips as pixels at the screen's DPI, rounded as MulDiv does.
int px(int twips);

BITMAPINFOHEADER top_down(LONG w, LONG h);
// Empty when the screen could not be read: no check may take that for a picture.
Pixels grab(const RECT& r);
Pixels grab(HWND w);
// What the screen shows in r, as a .bmp file.
void save_bmp(const std::wstring& path, RECT r);

// Painting is asynchronous, and slow under qemu: wait for a picture that is what the caller
// looks for and then stays unchanged for a second; one that never comes is returned as it is.
template <typename Ready>
Pixels settled(HWND w, Ready ready) {
    Pixels last = grab(w);
    int same = 0;
    poll(kWaitMs, [&] {
        Pixels now = grab(w);
        same = now == last && ready(now) ? same + 1 : 0;
        last.swap(now);
        return same == 8;
    });
    return last;
}

Pixels settled(HWND w);

// How many pixels of the side x side square at (left, 0) of a picture of w differ from its
// bottom-right one, the background; 0 for a picture that is not of w's size.
int inked(const Pixels& shot, HWND w, int left, int side);
// A colour as grabbed pixels store it (0xAARRGGBB).
DWORD as_pixel(COLORREF c);

// A real keystroke, with Shift or Ctrl held around it when modifier names one.
void key(App& app, WORD vk, WORD modifier = 0);
bool focus_on(App& app, HWND want, DWORD ms = 5000);
// The window in front, by class, title and process: what a focus check that failed met.
std::wstring in_front();
// Tab until Picture1 has the focus: there are only two stops.
void focus_picture(App& app);
// Kelvane takes its input in order: once a Tab after a gesture has moved the focus on, the
// gesture has been dealt with, however long it took.
bool done_with_gesture(App& app, DWORD ms = kWaitMs);
// Picture1's context menu, once it is open.
HWND menu_of(App& app);
// Picture1's context menu as drawn: opened with Shift+F10, the pointer parked in a screen corner
// so that no item is hot, photographed once its drawing settles, then closed with Esc and gone.
// Another process's menu cannot be asked for its items under Wine; its pixels can.
struct MenuPicture {
    HWND menu = nullptr;  // null when none opened
    Pixels shot;
    RECT r = {};  // the menu's client area, which the shot covers when whole()
    bool whole() const {
        return menu && !shot.empty() && shot.size() == size_t(r.right * r.bottom);
    }
    std::wstring missing() const { return menu ? L"<no picture of the menu>" : L"<no menu>"; }
};
MenuPicture picture_menu(App& app);
// A choice from Picture1's context menu by its mnemonic, from the keyboard, once the menu has gone;
// false when it never came up to take it, or stayed up.
bool choose(App& app, WORD mnemonic);

// "loaded" or "not loaded" as the test winmm.dll's load marker says, anything else when the
// question itself could not be asked.
std::wstring test_winmm_in(App& app);

// Every window of Kelvane's on screen besides its form, by title and text ("box \"测试音\":
// \"无法播放测试音：…\""), or "no other window": what a check that met something it did not
// expect says it met.
std::wstring other_windows(App& app);

// Kelvane's presence box, checked as the contract has it and answered; false when none came or
// it stayed.
bool answer_box(App& app, const std::wstring& what, const std::wstring& expected);
// 测试声卡 pressed, its box answered as one for a device found, and the report then exactly want:
// checks named what.
bool press_for_report(App& app, const std::wstring& what, const Lines& want);
Lines report_after_ok(App& app);
bool same_lines(const Lines& got, const Lines& want, const std::wstring& what);
std::wstring joined(const Lines& lines);

}  // namespace e2e
