// show.sh: the worked example on screen. Given a folder, it also presses the button and saves
// pictures of the box and of the report there, for machines without a display.
#include "expectations.h"
#include "harness.h"
#include "scenarios.h"

namespace e2e {
namespace {

void save_bmp(const std::wstring& path, RECT r) {
    Pixels px = grab(r);
    BITMAPINFOHEADER ih = top_down(r.right - r.left, r.bottom - r.top);
    BITMAPFILEHEADER fh = {0x4D42, DWORD(sizeof fh + sizeof ih + px.size() * 4), 0, 0,
                           sizeof fh + sizeof ih};
    write_file(path, std::string(reinterpret_cast<char*>(&fh), sizeof fh) +
                         std::string(reinterpret_cast<char*>(&ih), sizeof ih) +
                         std::string(reinterpret_cast<char*>(px.data()), px.size() * 4));
}

}  // namespace

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

}  // namespace e2e
