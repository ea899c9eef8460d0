// Drives Kelvane.exe from outside, as a user would, under Wine: finds its windows, presses keys
// and buttons, answers the message box and reads back text and pixels. The test winmm.dll in
// system32 reports whatever device the file named by KELVANE_FAKE_WINMM describes.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "expectations.h"
#include "harness.h"
#include "scenarios.h"

namespace e2e {
namespace {

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
