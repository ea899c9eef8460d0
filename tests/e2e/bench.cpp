// Figures for the README, not checks: Kelvane's start-up against a bare window, and the time
// from the OK click to the whole report.
#include <algorithm>
#include <cwchar>
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
    Session app;
    const double start = now_ms();
    if (!spawn(app, path)) {
        return -1;
    }
    WaitForInputIdle(app.pi.hProcess, kStartMs);
    HWND form = top_window(app.pi.dwProcessId, cls, kStartMs);
    const double elapsed = now_ms() - start;
    PostMessageW(form, WM_CLOSE, 0, 0);
    exit_code_within(app, kWaitMs);
    return form ? elapsed : -1;
}

}  // namespace

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
    std::vector<double> times;
    Session app;
    if (app.launch(L"native", &kWorkedRecord)) {
        const std::wstring want = joined(kWorked);
        for (int i = 0; i < runs; ++i) {
            app.press();
            const Box box = app.box();
            const double start = now_ms();
            box.press_ok();
            if (poll(
                    kWaitMs, [&] { return text_of(app.pic) == want; }, 1)) {
                times.push_back(now_ms() - start);
            }
        }
    }
    say(L"latency: OK click to full report, median " + ms(median(times)) + L" of " +
        std::to_wstring(times.size()) + L" presses");
}

}  // namespace e2e
