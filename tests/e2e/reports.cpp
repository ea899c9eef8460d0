// The report for records a working driver sends, every case in one Kelvane process, and the
// longest report against the surface's bottom edge; and the report as a screen reader reads it,
// press after press.
#include <oleacc.h>

#include "expectations.h"
#include "harness.h"
#include "report_cases.h"
#include "scenarios.h"

namespace e2e {

std::vector<ReportCase> ordinary_record_cases() {
    const std::wstring stereo = L"立体声扬声器";
    std::string gbk(12, '\0');
    WideCharToMultiByte(936, 0, stereo.c_str(), 6, gbk.data(), 12, nullptr, nullptr);
    return {
        {L"worked example", 0, kWorkedRecord, kWorked},
        {L"failed query writing nothing", 6, "",
         header(L"", L" 0 ", L" 0 ", L" 0 . 0 ", L" 0") + kNoFlags},
        {L"every flag set", 0, record("Speakers", 100, 1, 1280, -1, 2, -1),
         kSpeakers + kAllFormats + kNoFlags + kAllFeatures},
        {L"CP936 name", 0, record(gbk, 100, 1, 1280, 0, 2, 0),
         header(stereo, L" 100 ", L" 1 ", L" 5 . 0 ", L" 2") + kNoFlags},
        {L"name without NUL, 12 channels", 0, record(std::string(32, 'A'), 100, 1, 1280, 0, 12, 0),
         header(std::wstring(32, L'A'), L" 100 ", L" 1 ", L" 5 . 0 ", L" 12") + kNoFlags},
    };
}

// Only the 24th line differs between a 23- and a 24-line report: were it clipped, so would the
// difference be. It must also lie in the lower quarter of the surface, or the font did not
// grow with the DPI.
void check_longest_report_fits(App& app) {
    Pixels shots[2];
    for (int last : {0, 1}) {
        serve_device(1, 0, record("Speakers", 100, 1, 1280, -1, 2, last ? -1 : ~16));
        app.press();
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

// Read-only text named 报告 holding the report, answered by Kelvane itself: an object the driver
// made for the window alone would be the plain client area, named with the window text.
void check_read_aloud(App& app, const std::wstring& report, const std::wstring& when) {
    const Accessible a = accessible_of(app.pic);
    check(a.failure.empty() && a.remote && a.role == ROLE_SYSTEM_TEXT &&
              (a.state & STATE_SYSTEM_READONLY) && a.name == L"报告" && a.value == report,
          when + L": a screen reader reads Picture1 as read-only text 报告 holding the report",
          a.said());
}

void reports() {
    std::vector<ReportCase> cases = ordinary_record_cases();
    const std::vector<ReportCase> faulty = faulty_driver_cases();
    cases.insert(cases.end(), faulty.begin(), faulty.end());
    Session app;
    if (!app.launch(L"native", &kWorkedRecord)) {
        return;
    }
    check_read_aloud(app, L"", L"before any press");
    // The button is the system's to describe. Windows' proxy calls it a push button; Wine's has
    // no proxy for buttons (oleacc's class table marks them unhandled) and calls it a client area.
    const Accessible button = accessible_of(app.cmd);
    check(button.failure.empty() && !button.remote && button.name == L"测试声卡" &&
              (button.role == ROLE_SYSTEM_PUSHBUTTON || button.role == ROLE_SYSTEM_CLIENT),
          L"CmdTest is left to the system's own proxy", button.said());
    if (button.role != ROLE_SYSTEM_PUSHBUTTON) {
        say(L"note: this system's proxy reads CmdTest as " + button.said());
    }
    for (const auto& c : cases) {
        serve_device(1, c.rc, c.bytes);
        app.press();
        app.box();
        check_read_aloud(app, L"", std::wstring(c.name) + L": the box up, the report cleared");
        if (answer_box(app, c.name, kFound)) {
            same_lines(report_after_ok(app), c.want, std::wstring(c.name) + L": report");
            check_read_aloud(app, joined(c.want), c.name);
        }
    }
    check_longest_report_fits(app);
}

}  // namespace e2e
