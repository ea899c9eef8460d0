// show.sh, for make.sh's run and sample commands. On a display the sample is started and left to
// the user. Without one, Kelvane's button is pressed as a user would press it, the box answered,
// and what Kelvane said is printed and photographed, whatever winmm reported.
#include "expectations.h"
#include "harness.h"
#include "scenarios.h"

namespace e2e {
namespace {

// Exit codes are Kelvane's contract: 0 when its window is closed, 1 after "no sound device".
bool outcome(bool designed, const std::wstring& what) {
    say(L"Outcome: " + what);
    return designed;
}

bool press_and_tell(App& app, const std::wstring& dir) {
    app.press();
    const Box box = app.box();
    if (!box) {
        return outcome(false, L"no message box within 10 s of pressing 测试声卡 (a hang?).");
    }
    // Under Xvfb the box opens in the middle of a large screen; dragged over the window, as a
    // user might, one small picture shows both.
    RECT form, both;
    GetWindowRect(app.form, &form), GetWindowRect(box.hwnd, &both);
    const LONG x = (form.left + form.right - (both.right - both.left)) / 2,
               y = (form.top + form.bottom - (both.bottom - both.top)) / 2;
    SetWindowPos(box.hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    poll(kWaitMs,
         [&] { return GetWindowRect(box.hwnd, &both) && both.left == x && both.top == y; });
    UnionRect(&both, &both, &form);
    settled(box.hwnd);
    save_bmp(dir + L"\\box.bmp", both);
    say(L"Message box \"" + box.title + L"\": " + box.text);
    box.press_ok();
    if (box.text == kNotFound) {
        const DWORD code = exit_code_within(app, kWaitMs);
        return outcome(code == 1, code == 1 ? L"no sound device, so Kelvane ended with status 1 "
                                              L"after its box, as designed."
                                            : L"no sound device, but Kelvane did not end with "
                                              L"status 1 (" +
                                                  std::to_wstring(code) + L").");
    }
    const Lines report = report_after_ok(app);
    if (report.empty() || report == Lines{kNoAnswer}) {
        return outcome(false, L"no report within 10 s of answering the box.");
    }
    settled(app.pic);
    save_bmp(dir + L"\\report.bmp", form);
    say(L"Report (" + std::to_wstring(report.size()) + L" lines):");
    for (const std::wstring& line : report) {
        say(L"  " + line);
    }
    PostMessageW(app.form, WM_SYSCOMMAND, SC_CLOSE, 0);
    const DWORD code = exit_code_within(app, kWaitMs);
    return outcome(code == 0, L"device 0 reported in " + std::to_wstring(report.size()) +
                                  L" lines; closing the window ended Kelvane with status " +
                                  std::to_wstring(code) + (code == 0 ? L", as designed." : L"."));
}

}  // namespace

bool show(const std::wstring& dir, bool sample) {
    Session app;
    if (sample) {
        serve_device(1, 0, kWorkedRecord);
    }
    if (!start(app, exe, sample ? L"native" : L"builtin")) {
        const DWORD code = exit_code_within(app, 0);
        return outcome(false, code == STILL_ACTIVE
                                  ? L"Kelvane showed no window within 30 s."
                                  : L"Kelvane ended with status " + std::to_wstring(code) +
                                        L" before showing its window.");
    }
    if (dir.empty()) {
        WaitForSingleObject(app.pi.hProcess, INFINITE);
        return true;
    }
    return press_and_tell(app, dir);
}

}  // namespace e2e
