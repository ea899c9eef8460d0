// Drives Kelvane.exe from outside, as a user would, under Wine: finds its windows, presses keys
// and buttons, answers the message box and reads back text and pixels. In the test prefix the
// winmm.dll in system32 reports whatever device the file named by KELVANE_FAKE_WINMM describes;
// the real-audio scenarios run in a prefix with Wine's own winmm and a real sound server.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "harness.h"
#include "scenarios.h"

using namespace e2e;

int wmain(int argc, wchar_t** argv) {
    // Real pixels at every DPI: Wine would otherwise scale other programs' geometry to 96 DPI.
    SetProcessDPIAware();
    // kelvane_e2e [MODE [ARGUMENT...]] PATH\Kelvane.exe
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    const std::wstring mode = !args.empty() && args[0][0] == L'-' ? args[0] : L"";
    if (args.size() < (mode.empty() ? 1u : 2u)) {
        say(L"usage: kelvane_e2e [--dpi | --show-sample [PICTURE_DIR] | --show-real PICTURE_DIR |"
            L" --bench-startup N BARE.exe | --bench-latency N |"
            L" --real-audio SCENARIO STATE_DIR [SINK...] | --ui-fonts "
            L"FILE |"
            L" --only SCENARIO]"
            L" PATH\\Kelvane.exe");
        return 2;
    }
    exe = args.back();
    // What comes between the mode and Kelvane's path.
    const std::vector<std::wstring> extra(args.begin() + (mode.empty() ? 0 : 1), args.end() - 1);
    const auto arg = [&extra](size_t i) { return i < extra.size() ? extra[i] : L""; };
    wchar_t self[MAX_PATH], tmp[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    here = self;
    here.erase(here.rfind(L'\\') + 1);
    GetTempPathW(MAX_PATH, tmp);
    device_file = std::wstring(tmp) + L"kelvane_device.txt";
    SetEnvironmentVariableW(L"KELVANE_FAKE_WINMM", device_file.c_str());
    if (mode == L"--show-sample" || mode == L"--show-real") {
        return show(arg(0), mode == L"--show-sample") ? 0 : 1;
    }
    if (mode == L"--ui-fonts") {
        return write_ui_fonts(arg(0)) ? 0 : 1;
    }
    if (mode == L"--bench-startup") {
        return bench_startup(_wtoi(arg(0).c_str()), arg(1)), 0;
    }
    if (mode == L"--bench-latency") {
        return bench_latency(_wtoi(arg(0).c_str())), 0;
    }
    if (mode == L"--dpi") {
        dpi_layout();
    } else if (mode == L"--real-audio") {
        real_audio(arg(0), arg(1),
                   Lines(extra.begin() + std::min<size_t>(2, extra.size()), extra.end()));
    } else {
        // --only NAME runs one of them, for a developer working on it.
        const std::pair<const wchar_t*, void (*)()> suite[] = {
            {L"resources", resources},
            {L"form_and_keyboard", form_and_keyboard},
            {L"glyphs", glyphs},
            {L"legibility", legibility},
            {L"copy_and_focus", copy_and_focus},
            {L"tone", tone},
            {L"loopback", loopback},
            {L"reports", reports},
            {L"no_device", no_device},
            {L"planted_dll", planted_dll},
            {L"memory", [] { memory(200); }},
        };
        for (const auto& [name, run] : suite) {
            if (mode != L"--only" || arg(0) == name) {
                run();
            }
        }
    }
    say(std::to_wstring(passed) + L" passed, " + std::to_wstring(failed) + L" failed");
    // A run that checked nothing (an unknown scenario, say) proves nothing.
    return failed || !passed ? 1 : 0;
}
