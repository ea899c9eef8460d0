// Drives Kelvane.exe from outside, as a user would, under Wine: finds its windows, presses keys
// and buttons, answers the message box and reads back text and pixels. The test winmm.dll in
// system32 reports whatever device the file named by KELVANE_FAKE_WINMM describes.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "expectations.h"
#include "harness.h"

namespace e2e {
namespace {

int px(int twips) {
    HDC dc = GetDC(nullptr);
    int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return MulDiv(twips, dpi, 1440);
}

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
    App app;
    serve_device(1, 0, kWorkedRecord);
    if (launch(app, exe, L"native")) {
        check_layout(app);
        const std::wstring cmd = placement(app.cmd, app.form), pic = placement(app.pic, app.form);
        check(focus_on(app, app.cmd), L"CmdTest has the focus at start");
        check(text_of(app.pic).empty(), L"surface starts empty", text_of(app.pic));

        // The icon is all that is drawn at start: its 32x32 corner differs from the
        // background, the same square beside it does not.
        RECT pr;
        GetClientRect(app.pic, &pr);
        const int n = px(480);
        auto inked = [&](const Pixels& shot, int left) {
            int count = 0;
            for (int y = 0; y < n && !shot.empty(); ++y) {
                for (int x = left; x < left + n; ++x) {
                    count += shot[y * pr.right + x] != shot.back();
                }
            }
            return count;
        };
        Pixels shot = settled(app.pic, [&](const Pixels& p) { return inked(p, 0) > n * n / 10; });
        check(inked(shot, 0) > n * n / 10 && inked(shot, n + 8) == 0, L"icon drawn at top-left",
              std::to_wstring(inked(shot, 0)) + L" icon pixels, " +
                  std::to_wstring(inked(shot, n + 8)) + L" beside");

        key(app, VK_TAB);
        check(focus_on(app, app.pic), L"Tab moves the focus to Picture1");
        key(app, VK_TAB, true);
        check(focus_on(app, app.cmd), L"Shift+Tab moves it back to CmdTest");
        key(app, VK_SPACE);
        answer_box(app, L"Space", kFound);
        same_lines(report_after_ok(app), kWorked, L"Space prints the worked example");
        key(app, VK_RETURN);
        answer_box(app, L"Enter", kFound);
        same_lines(report_after_ok(app), kWorked, L"a second press replaces the report");

        const Pixels before = settled(app.pic);
        auto as_before = [&before](const Pixels& p) { return p == before; };
        RedrawWindow(app.pic, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        check(settled(app.pic, as_before) == before, L"report survives a forced repaint");
        SendMessageTimeoutW(app.form, WM_SYSCOMMAND, SC_MINIMIZE, 0, 0, 5000, nullptr);
        bool minimised = IsIconic(app.form);
        SendMessageTimeoutW(app.form, WM_SYSCOMMAND, SC_RESTORE, 0, 0, 5000, nullptr);
        check(minimised && settled(app.pic, as_before) == before,
              L"report survives minimise and restore");

        SendMessageTimeoutW(app.form, WM_SYSCOMMAND, SC_MAXIMIZE, 0, 0, 5000, nullptr);
        check(IsZoomed(app.form) && placement(app.cmd, app.form) == cmd &&
                  placement(app.pic, app.form) == pic,
              L"maximising moves no control",
              placement(app.cmd, app.form) + L" " + placement(app.pic, app.form));
        PostMessageW(app.form, WM_SYSCOMMAND, SC_CLOSE, 0);
        check(exit_code_within(app, kWaitMs) != STILL_ACTIVE, L"closing the form ends Kelvane");
    }
    finish(app);
}

// Only the 24th line differs between a 23- and a 24-line report: were it clipped, so would the
// difference be. It must also lie in the lower quarter of the surface, or the font did not
// grow with the DPI.
void check_longest_report_fits(App& app) {
    Pixels shots[2];
    for (int last : {0, 1}) {
        serve_device(1, 0, record("Speakers", 100, 1, 1280, -1, 2, last ? -1 : ~16));
        PostMessageW(app.cmd, BM_CLICK, 0, 0);
        answer_box(app, L"23 then 24 lines", kFound);
        report_after_ok(app);
        shots[last] = settled(app.pic, [&](const Pixels& p) { return !last || p != shots[0]; });
    }
    RECT pr;
    GetClientRect(app.pic, &pr);
    int lowest = -1;
    for (size_t i = 0; i < shots[0].size() && i < shots[1].size(); ++i) {
        lowest = shots[0][i] != shots[1][i] ? int(i / pr.right) : lowest;
    }
    check(lowest >= pr.bottom * 3 / 4 && lowest < pr.bottom - 1,
          L"24th line drawn inside the surface, in its lower quarter",
          L"lowest changed row " + std::to_wstring(lowest) + L" of " + std::to_wstring(pr.bottom));
}

void reports() {
    const std::wstring stereo = L"立体声扬声器";
    std::string gbk(12, '\0');
    WideCharToMultiByte(936, 0, stereo.c_str(), 6, gbk.data(), 12, nullptr, nullptr);
    const Lines no_flags = {L"扩展输出功能列表："};
    const std::string lone_lead = record(std::string(31, 'A') + "\x81", 100, 1, 1280, 0, 2, 0);
    const struct {
        const wchar_t* name;
        unsigned rc;
        std::string bytes;
        Lines want;
    } cases[] = {
        {L"worked example", 0, kWorkedRecord, kWorked},
        {L"failed query writing nothing", 6, "",
         header(L"", L" 0 ", L" 0 ", L" 0 . 0 ", L" 0") + no_flags},
        {L"every flag set", 0, record("Speakers", 100, 1, 1280, -1, 2, -1),
         kSpeakers + kAllFormats + no_flags + kAllFeatures},
        {L"CP936 name", 0, record(gbk, 100, 1, 1280, 0, 2, 0),
         header(stereo, L" 100 ", L" 1 ", L" 5 . 0 ", L" 2") + no_flags},
        {L"name without NUL, 12 channels", 0, record(std::string(32, 'A'), 100, 1, 1280, 0, 12, 0),
         header(std::wstring(32, L'A'), L" 100 ", L" 1 ", L" 5 . 0 ", L" 12") + no_flags},
        // What a faulty driver could send.
        {L"every byte 0xFF", 0, std::string(52, '\xFF'),
         header(acp_name(std::string(32, '\xFF')), L"-1 ", L"-1 ", L" 0 .-1 ", L"-1") +
             kAllFormats + no_flags + kAllFeatures},
        {L"lone lead byte as byte 31, no NUL", 0, lone_lead,
         header(acp_name(lone_lead.substr(8, 32)), L" 100 ", L" 1 ", L" 5 . 0 ", L" 2") + no_flags},
        {L"name of only spaces", 0, record(std::string(32, ' '), 100, 1, 1280, 0, 2, 0),
         header(L"", L" 100 ", L" 1 ", L" 5 . 0 ", L" 2") + no_flags},
        {L"wChannels 0xFFFF", 0, record("Speakers", 100, 1, 1280, 0, -1, 0),
         header(L"Speakers", L" 100 ", L" 1 ", L" 5 . 0 ", L"-1") + no_flags},
        {L"query failing after a partial write", 6, kWorkedRecord.substr(0, 10),
         header(L"Sp", L" 100 ", L" 1 ", L" 5 . 0 ", L" 0") + no_flags},
    };
    App app;
    serve_device(1, 0, kWorkedRecord);
    if (!launch(app, exe, L"native")) {
        return finish(app);
    }
    for (const auto& c : cases) {
        serve_device(1, c.rc, c.bytes);
        PostMessageW(app.cmd, BM_CLICK, 0, 0);
        if (answer_box(app, c.name, kFound)) {
            same_lines(report_after_ok(app), c.want, std::wstring(c.name) + L": report");
        }
    }
    check_longest_report_fits(app);
    finish(app);
}

void no_device() {
    const struct {
        const wchar_t* name;
        const wchar_t* winmm;
        unsigned count;
    } cases[] = {
        {L"device count 0", L"native", 0},
        {L"device count 0x80000000", L"native", 0x80000000},
        {L"Wine's own winmm without audio", L"builtin", 1},
        {L"no winmm at all", L"", 1},
    };
    for (const auto& c : cases) {
        App app;
        serve_device(c.count, 0, kWorkedRecord);
        if (launch(app, exe, c.winmm)) {
            PostMessageW(app.cmd, BM_CLICK, 0, 0);
            if (answer_box(app, c.name, kNotFound)) {
                DWORD code = exit_code_within(app, kWaitMs);
                check(code == 1, std::wstring(c.name) + L": exits with code 1",
                      std::to_wstring(code));
            }
        }
        finish(app);
    }
}

// Under native,builtin Wine would take a winmm.dll from the program's folder if Kelvane let the
// default search order find one there.
void planted_dll() {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring dir = std::wstring(tmp) + L"kelvane_planted\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    App app;
    serve_device(1, 0, kWorkedRecord);
    if (check(CopyFileW(exe.c_str(), (dir + L"Kelvane.exe").c_str(), FALSE) &&
                  CopyFileW((here + L"planted\\winmm.dll").c_str(), (dir + L"winmm.dll").c_str(),
                            FALSE),
              L"planted winmm.dll beside a copy of Kelvane") &&
        launch(app, dir + L"Kelvane.exe", L"native,builtin")) {
        PostMessageW(app.cmd, BM_CLICK, 0, 0);
        if (answer_box(app, L"planted winmm.dll", kFound)) {
            same_lines(report_after_ok(app), kWorked, L"planted winmm.dll is ignored");
        }
    }
    finish(app);
}

void resources() {
    std::vector<char> info(GetFileVersionInfoSizeW(exe.c_str(), nullptr));
    GetFileVersionInfoW(exe.c_str(), 0, DWORD(info.size()), info.data());
    void* value = nullptr;
    UINT len = 0;
    auto query = [&](const wchar_t* path) {
        return VerQueryValueW(info.data(), path, &value, &len);
    };
    auto fixed = static_cast<VS_FIXEDFILEINFO*>(query(L"\\") ? value : nullptr);
    check(fixed && fixed->dwFileVersionMS == 0x10000 && fixed->dwFileVersionLS == 0 &&
              fixed->dwProductVersionMS == 0x10000 && fixed->dwProductVersionLS == 0,
          L"file and product version 1.0.0.0");
    auto lang = static_cast<WORD*>(query(L"\\VarFileInfo\\Translation") ? value : nullptr);
    check(lang && len == 4 && lang[0] == 0x0804 && lang[1] == 1200, L"translation 0804, 1200");
    const wchar_t* strings[][2] = {
        {L"CompanyName", L"Orvesk"},
        {L"FileDescription", L"Orvesk声卡测试工具 v1.0"},
        {L"ProductName", L"Orvesk声卡测试工具 v1.0"},
        {L"FileVersion", L"1.00"},
        {L"ProductVersion", L"1.00"},
        {L"InternalName", L"Kelvane"},
        {L"OriginalFilename", L"Kelvane.exe"},
    };
    for (auto& s : strings) {
        std::wstring got = query((std::wstring(L"\\StringFileInfo\\080404b0\\") + s[0]).c_str())
                               ? static_cast<wchar_t*>(value)
                               : L"<missing>";
        check(got == s[1], std::wstring(L"version string ") + s[0], got);
    }

    // Each image described by its own header, not by the group directory that points to it.
    HMODULE m = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    auto load = [m](int id, LPCWSTR type) {
        HRSRC r = FindResourceW(m, MAKEINTRESOURCEW(id), type);
        return r ? static_cast<const BYTE*>(LockResource(LoadResource(m, r))) : nullptr;
    };
    const BYTE* dir = load(1, RT_GROUP_ICON);
    Lines got, want = {L"256/png"};
    for (int i = 0; dir && i < *reinterpret_cast<const WORD*>(dir + 4); ++i) {
        const BYTE* entry = dir + 6 + 14 * i;
        const BYTE* p = load(*reinterpret_cast<const WORD*>(entry + 12), RT_ICON);
        auto bmp = reinterpret_cast<const BITMAPINFOHEADER*>(p);
        got.push_back(
            !p ? L"missing"
            : memcmp(p, "\x89PNG", 4) == 0
                ? std::to_wstring(p[18] << 8 | p[19]) + (entry[0] ? L"/png, not 0" : L"/png")
                : std::to_wstring(bmp->biWidth) + L"/" + std::to_wstring(bmp->biBitCount));
    }
    for (int w : {64, 48, 32, 24, 16}) {
        for (int bpp : {4, 8, 32}) {
            want.push_back(std::to_wstring(w) + L"/" + std::to_wstring(bpp));
        }
    }
    std::sort(got.begin(), got.end()), std::sort(want.begin(), want.end());
    std::wstring all;
    for (auto& g : got) {
        all += g + L" ";
    }
    check(got == want, L"icon group 1 holds the 16 images", all);
    FreeLibrary(m);
}

// run.sh starts Wine again at each further DPI for this.
void dpi_layout() {
    App app;
    serve_device(1, 0, kWorkedRecord);
    if (launch(app, exe, L"native")) {
        check_layout(app);
        check_longest_report_fits(app);
    }
    finish(app);
}

// One press answered, ending with the worked example on the surface.
bool press_once(App& app, const std::wstring& want, DWORD poll_ms = 50) {
    PostMessageW(app.cmd, BM_CLICK, 0, 0);
    HWND box = top_window(app.pi.dwProcessId, L"#32770", kWaitMs);
    if (!box) {
        return false;
    }
    PostMessageW(box, WM_COMMAND, IDOK, LPARAM(GetDlgItem(box, IDOK)));
    return poll(
        kWaitMs, [&] { return !IsWindow(box) && text_of(app.pic) == want; }, poll_ms);
}

SIZE_T working_set(App& app) {
    PROCESS_MEMORY_COUNTERS counters = {};
    GetProcessMemoryInfo(app.pi.hProcess, &counters, sizeof counters);
    return counters.WorkingSetSize;
}

// Memory must not grow with use. GetGuiResources is a stub under Wine (always 0): the figures
// mean something on Windows only.
void memory(int presses) {
    App app;
    serve_device(1, 0, kWorkedRecord);
    if (!launch(app, exe, L"native")) {
        return finish(app);
    }
    const std::wstring want = joined(kWorked);
    int done = press_once(app, want) ? 1 : 0;
    const SIZE_T first = working_set(app);
    const DWORD gdi = GetGuiResources(app.pi.hProcess, GR_GDIOBJECTS),
                user = GetGuiResources(app.pi.hProcess, GR_USEROBJECTS);
    while (done > 0 && done < presses && press_once(app, want)) {
        ++done;
    }
    const SIZE_T last = working_set(app);
    check(done == presses && first > 0 && last <= first + 256 * 1024,
          std::to_wstring(presses) + L" presses: working set within 256 KB of the first",
          std::to_wstring(done) + L" presses, " + std::to_wstring(first / 1024) + L" KB -> " +
              std::to_wstring(last / 1024) + L" KB");
    say(L"memory: working set " + std::to_wstring(first / 1024) + L" KB after 1 press, " +
        std::to_wstring(last / 1024) + L" KB after " + std::to_wstring(done) +
        L"; GUI objects GDI " + std::to_wstring(gdi) + L" -> " +
        std::to_wstring(GetGuiResources(app.pi.hProcess, GR_GDIOBJECTS)) + L", USER " +
        std::to_wstring(user) + L" -> " +
        std::to_wstring(GetGuiResources(app.pi.hProcess, GR_USEROBJECTS)));
    finish(app);
}

double now_ms() {
    LARGE_INTEGER t, f;
    QueryPerformanceCounter(&t), QueryPerformanceFrequency(&f);
    return 1000.0 * double(t.QuadPart) / double(f.QuadPart);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty()      ? 0
           : v.size() % 2 ? v[v.size() / 2]
                          : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::wstring ms(double v) {
    return std::to_wstring(int(v + 0.5)) + L" ms";
}

// From CreateProcess until the main window is shown and the program waits for input.
double start_to_idle(const std::wstring& path, const wchar_t* cls) {
    App app;
    const double start = now_ms();
    if (!spawn(app, path)) {
        return -1;
    }
    WaitForInputIdle(app.pi.hProcess, kStartMs);
    HWND form = top_window(app.pi.dwProcessId, cls, kStartMs);
    const double elapsed = now_ms() - start;
    PostMessageW(form, WM_CLOSE, 0, 0);
    exit_code_within(app, kWaitMs);
    finish(app);
    return form ? elapsed : -1;
}

// Alternating runs, so that whatever else the machine does falls on both alike.
void bench_startup(int runs, const std::wstring& bare) {
    std::vector<double> kelvane, yardstick;
    for (int i = 0; i < runs; ++i) {
        kelvane.push_back(start_to_idle(exe, L"KelvaneForm"));
        yardstick.push_back(start_to_idle(bare, L"BareWindow"));
    }
    wchar_t ratio[16];
    swprintf(ratio, 16, L"%.2f", median(kelvane) / median(yardstick));
    say(L"start-up: Kelvane " + ms(median(kelvane)) + L", bare window " + ms(median(yardstick)) +
        L" (medians of " + std::to_wstring(runs) + L" alternating runs each), ratio " + ratio);
}

// From the OK click to the whole report on the surface.
void bench_latency(int runs) {
    App app;
    serve_device(1, 0, kWorkedRecord);
    std::vector<double> times;
    if (launch(app, exe, L"native")) {
        const std::wstring want = joined(kWorked);
        for (int i = 0; i < runs; ++i) {
            PostMessageW(app.cmd, BM_CLICK, 0, 0);
            HWND box = top_window(app.pi.dwProcessId, L"#32770", kWaitMs);
            HWND ok = GetDlgItem(box, IDOK);
            const double start = now_ms();
            PostMessageW(ok, BM_CLICK, 0, 0);
            if (poll(
                    kWaitMs, [&] { return text_of(app.pic) == want; }, 1)) {
                times.push_back(now_ms() - start);
            }
        }
    }
    finish(app);
    say(L"latency: OK click to full report, median " + ms(median(times)) + L" of " +
        std::to_wstring(times.size()) + L" presses");
}

// show.sh: the worked example on screen. Given a folder, it also presses the button and saves
// pictures of the box and of the report there, for machines without a display.
void save_bmp(const std::wstring& path, RECT r) {
    Pixels px = grab(r);
    BITMAPINFOHEADER ih = top_down(r.right - r.left, r.bottom - r.top);
    BITMAPFILEHEADER fh = {0x4D42, DWORD(sizeof fh + sizeof ih + px.size() * 4), 0, 0,
                           sizeof fh + sizeof ih};
    write_file(path, std::string(reinterpret_cast<char*>(&fh), sizeof fh) +
                         std::string(reinterpret_cast<char*>(&ih), sizeof ih) +
                         std::string(reinterpret_cast<char*>(px.data()), px.size() * 4));
}

void show(const std::wstring& dir) {
    App app;
    serve_device(1, 0, kWorkedRecord);
    if (launch(app, exe, L"native") && dir.empty()) {
        WaitForSingleObject(app.pi.hProcess, INFINITE);
    } else if (app.form) {
        PostMessageW(app.cmd, BM_CLICK, 0, 0);
        HWND box = top_window(app.pi.dwProcessId, L"#32770", kWaitMs);
        RECT form, both;
        GetWindowRect(app.form, &form), GetWindowRect(box, &both), UnionRect(&both, &both, &form);
        settled(box);
        save_bmp(dir + L"\\box.bmp", both);
        PostMessageW(box, WM_COMMAND, IDOK, LPARAM(GetDlgItem(box, IDOK)));
        report_after_ok(app);
        settled(app.pic);
        save_bmp(dir + L"\\report.bmp", form);
        PostMessageW(app.form, WM_SYSCOMMAND, SC_CLOSE, 0);
        exit_code_within(app, kWaitMs);
    }
    finish(app);
}
}  // namespace
}  // namespace e2e

using namespace e2e;

int wmain(int argc, wchar_t** argv) {
    // Real pixels at every DPI: Wine would otherwise scale other programs' geometry to 96 DPI.
    SetProcessDPIAware();
    const std::wstring mode = argc > 1 && argv[1][0] == L'-' ? argv[1] : L"";
    if (argc < (mode.empty() ? 2 : 3)) {
        say(L"usage: kelvane_e2e [--dpi | --show [PICTURE_DIR] | --bench-startup N BARE.exe |"
            L" --bench-latency N] PATH\\Kelvane.exe");
        return 2;
    }
    exe = argv[argc - 1];
    const std::wstring extra = argc > 3 ? argv[2] : L"";
    const std::wstring extra2 = argc > 4 ? argv[3] : L"";
    wchar_t self[MAX_PATH], tmp[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    here = self;
    here.erase(here.rfind(L'\\') + 1);
    GetTempPathW(MAX_PATH, tmp);
    device_file = std::wstring(tmp) + L"kelvane_device.txt";
    SetEnvironmentVariableW(L"KELVANE_FAKE_WINMM", device_file.c_str());
    if (mode == L"--show") {
        return show(extra), 0;
    }
    if (mode == L"--bench-startup") {
        return bench_startup(_wtoi(extra.c_str()), extra2), 0;
    }
    if (mode == L"--bench-latency") {
        return bench_latency(_wtoi(extra.c_str())), 0;
    }
    if (mode == L"--dpi") {
        dpi_layout();
    } else {
        resources();
        form_and_keyboard();
        reports();
        no_device();
        planted_dll();
        memory(200);
    }
    say(std::to_wstring(passed) + L" passed, " + std::to_wstring(failed) + L" failed");
    return failed ? 1 : 0;
}
