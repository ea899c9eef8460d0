// Drives Kelvane.exe from outside, as a user would, under Wine: finds its windows, presses keys
// and buttons, answers the message box and reads back text and pixels. The test winmm.dll in
// system32 reports whatever device the file named by KELVANE_FAKE_WINMM describes.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "harness.h"
#include "scenarios.h"

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
