// The test tone through the test winmm.dll, for what a real sound server cannot show: which device
// is opened, the format and the samples handed over, a refused open, and the window closed while a
// tone plays. The test DLL keeps what it is handed and lets the tone "play" until it is reset.
#include <windows.h>

#include <mmsystem.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "expectations.h"
#include "harness.h"
#include "scenarios.h"

namespace e2e {
namespace {

struct Handed {
    UINT device = 0;
    WAVEFORMATEX format = {};
    std::vector<INT16> samples;
};

std::wstring tone_file() {
    return device_file + L".tone";
}

// What the test DLL was handed for the last tone; false when it was handed none.
bool handed(Handed& h) {
    std::string all;
    const size_t head = sizeof h.device + sizeof h.format;
    if (!read_file(tone_file(), all) || all.size() < head) {
        return false;
    }
    std::copy_n(all.data(), sizeof h.device, reinterpret_cast<char*>(&h.device));
    std::copy_n(all.data() + sizeof h.device, sizeof h.format, reinterpret_cast<char*>(&h.format));
    h.samples.resize((all.size() - head) / 2);
    std::copy_n(all.data() + head, h.samples.size() * 2, reinterpret_cast<char*>(h.samples.data()));
    return true;
}

// The tone as the test's own rules want it on channel `on` of `channels`: 440 Hz at -12 dBFS for
// 1.0 s at 44.1 kHz, 16-bit, silent at both ends and at most half strength halfway through its
// 20 ms fades, every other channel exactly zero. Empty when it is so, else what is wrong.
std::wstring wrong_with(const Handed& h, int channels, int on) {
    const WAVEFORMATEX& f = h.format;
    if (h.device != 0) {
        return L"opened device " + std::to_wstring(int(h.device)) + L", not device 0";
    }
    if (f.wFormatTag != WAVE_FORMAT_PCM || f.nChannels != channels || f.nSamplesPerSec != 44100 ||
        f.wBitsPerSample != 16 || f.nBlockAlign != 2 * channels ||
        f.nAvgBytesPerSec != 44100u * 2 * channels) {
        return L"format " + std::to_wstring(f.nChannels) + L" channels, " +
               std::to_wstring(f.nSamplesPerSec) + L" Hz, " + std::to_wstring(f.wBitsPerSample) +
               L" bits";
    }
    if (h.samples.size() != 44100u * channels) {
        return std::to_wstring(h.samples.size() / channels) + L" frames, not 44100";
    }
    const auto loudest = [&](int channel, int from, int to) {
        int most = 0;
        for (int frame = from; frame < to; ++frame) {
            most = std::max(most, std::abs(int(h.samples[frame * channels + channel])));
        }
        return most;
    };
    for (int other = 0; other < channels; ++other) {
        if (other != on && loudest(other, 0, 44100) != 0) {
            return L"channel " + std::to_wstring(other) + L" is not silent";
        }
    }
    const int peak = loudest(on, 0, 44100);
    if (peak < 8220 || peak > 8231) {
        return L"peak " + std::to_wstring(peak) + L", not 8231 (-12 dBFS)";
    }
    const int first = std::abs(int(h.samples[on])), halfway = loudest(on, 0, 441);
    if (first != 0 || halfway > 8231 / 2 + 1) {
        return L"no fade in: first sample " + std::to_wstring(first) + L", " +
               std::to_wstring(halfway) + L" within 10 ms";
    }
    return L"";
}

bool reported(App& app, const std::wstring& what, const Lines& want) {
    PostMessageW(app.cmd, BM_CLICK, 0, 0);
    return answer_box(app, what, kFound) && same_lines(report_after_ok(app), want, what);
}

// Each choice hands over its tone at once and leaves the window answering while it plays.
void plays(App& app, const std::wstring& what, WORD mnemonic, int channels, int on) {
    DeleteFileW(tone_file().c_str());
    choose(app, mnemonic);
    const bool answering = done_with_gesture(app, 2000);
    Handed h;
    const bool got = poll(kWaitMs, [&] { return handed(h); });
    check(answering, what + L": the window answers while the tone plays");
    check(got && wrong_with(h, channels, on).empty(), what + L": the tone on device 0",
          got ? wrong_with(h, channels, on) : L"no tone handed to winmm");
}

void stereo_device() {
    App app;
    serve_device(1, 0, kWorkedRecord);
    if (launch(app, exe, L"native") && reported(app, L"tone", kWorked)) {
        plays(app, L"左声道测试音(&L)", 'L', 2, 0);
        plays(app, L"右声道测试音(&R)", 'R', 2, 1);
        // Closed while a tone plays: Kelvane stops it and ends at once, as ever.
        plays(app, L"左声道测试音(&L) again", 'L', 2, 0);
        PostMessageW(app.form, WM_SYSCOMMAND, SC_CLOSE, 0);
        const DWORD start = GetTickCount();
        const DWORD code = exit_code_within(app, 1000);
        check(
            code == 0, L"closed during a tone: Kelvane ends with status 0 within 1 s",
            std::to_wstring(code) + L" after " + std::to_wstring(GetTickCount() - start) + L" ms");
    }
    finish(app);
}

void mono_device() {
    App app;
    const std::string mono = record("Speaker", 100, 1, 1280, 1 | 4, 1, 4);
    serve_device(1, 0, mono);
    if (launch(app, exe, L"native") &&
        reported(app, L"mono device",
                 header(L"Speaker", L" 100 ", L" 1 ", L" 5 . 0 ", L" 1") +
                     Lines{kAllFormats[0], kAllFormats[2]} + kNoFlags + Lines{kAllFeatures[2]})) {
        plays(app, L"播放测试音(&P) on a mono device", 'P', 1, 0);
    }
    finish(app);
}

// A refused open says why in the platform's words, in a warning box of its own, and the report
// stays.
void refused_open() {
    App app;
    serve_device(1, 0, kWorkedRecord);
    if (launch(app, exe, L"native") && reported(app, L"refused tone", kWorked)) {
        serve_device(1, 0, kWorkedRecord, MMSYSERR_ALLOCATED);
        choose(app, 'L');
        HWND box = top_window(app.pi.dwProcessId, L"#32770", kWaitMs);
        if (check(box != nullptr, L"refused tone: a box appears")) {
            const std::wstring title = text_of(box), text = text_of(GetDlgItem(box, 0xFFFF));
            const std::wstring icon = icon_in(box);
            check(title == L"测试音" && text == L"无法播放测试音：test winmm error 4" &&
                      icon == L"an icon" && GetWindow(box, GW_OWNER) == app.form,
                  L"refused tone: the box says why, with the platform's text",
                  L"title \"" + title + L"\", text \"" + text + L"\", " + icon);
            PostMessageW(box, WM_COMMAND, IDOK, LPARAM(GetDlgItem(box, IDOK)));
            poll(kWaitMs, [box] { return !IsWindow(box); });
        }
        check(text_of(app.pic) == joined(kWorked), L"refused tone: the report stays");
        check(done_with_gesture(app), L"refused tone: the window keeps working");
    }
    finish(app);
    serve_device(1, 0, kWorkedRecord);
}

}  // namespace

void tone() {
    stereo_device();
    mono_device();
    refused_open();
}

}  // namespace e2e
