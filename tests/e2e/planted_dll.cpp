#include "expectations.h"
#include "harness.h"
#include "scenarios.h"

namespace e2e {

// Under native,builtin Wine would take a winmm.dll from the program's folder if Kelvane let the
// default search order find one there.
void planted_dll() {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring dir = std::wstring(tmp) + L"kelvane_planted\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    Session app;
    if (check(CopyFileW(exe.c_str(), (dir + L"Kelvane.exe").c_str(), FALSE) &&
                  CopyFileW((here + L"planted\\winmm.dll").c_str(), (dir + L"winmm.dll").c_str(),
                            FALSE),
              L"planted winmm.dll beside a copy of Kelvane") &&
        app.launch(L"native,builtin", &kWorkedRecord, dir + L"Kelvane.exe")) {
        app.press();
        if (answer_box(app, L"planted winmm.dll", kFound)) {
            same_lines(report_after_ok(app), kWorked, L"planted winmm.dll is ignored");
        }
    }
}

}  // namespace e2e
