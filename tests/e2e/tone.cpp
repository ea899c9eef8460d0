// The test tone through the test winmm.dll, for what a real sound server cannot show: which device
// is opened, the format and the samples handed over, that a tone still playing is stopped and its
// device closed before anything else, tone items greyed for a device without channels, a refused
// open, and the window closed while a tone plays. The test DLL keeps what it is handed and lets the
// tone "play" until it is reset.
#include <windows.h>

#include <mmsystem.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
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

std::wstring opens_file() {
    return device_file + L".opens";
}

struct Handle {
    bool written = false, reset = false, closed = false;
};

// The handles one Kelvane process opened, in order, as the test DLL logged them. wrong names the
// first thing the log shows that a user would hear or a driver mind: a handle opened while an
// earlier one was still open (the old tone playing on, the old device kept), or a call on a
// handle that was not open.
struct Opens {
    bool read = false;
    std::vector<Handle> handles;
    std::wstring wrong;
};

// The first handle not stopped and closed, as a user would hear it; empty when there is none.
std::wstring left_open(const std::vector<Handle>& handles) {
    for (size_t i = 0; i < handles.size(); ++i) {
        if (!handles[i].closed) {
            return L"handle " + std::to_wstring(i + 1) +
                   (handles[i].written && !handles[i].reset ? L" never reset, still playing"
                                                            : L" still open");
        }
    }
    return L"";
}

Opens opens() {
    Opens o;
    std::string all;
    o.read = read_file(opens_file(), all);
    std::istringstream lines(all);
    std::string call;
    size_t n = 0;
    while (o.read && o.wrong.empty() && lines >> call) {
        if (call == "bad") {
            lines >> call;
            o.wrong =
                L"waveOut" + std::wstring(call.begin(), call.end()) + L" on a handle not open";
        } else if ((call != "open" && call != "write" && call != "reset" && call != "close") ||
                   !(lines >> n) ||
                   (call == "open" ? n != o.handles.size() + 1 : n == 0 || n > o.handles.size())) {
            o.wrong = L"the test DLL's log does not read at \"" +
                      std::wstring(call.begin(), call.end()) + L"\"";
        } else if (call == "open") {
            const std::wstring still = left_open(o.handles);
            o.wrong = still.empty()
                          ? L""
                          : still + L" when handle " + std::to_wstring(n) + L" was opened";
            o.handles.emplace_back();
        } else {
            Handle& h = o.handles[n - 1];
            (call == "write" ? h.written : call == "reset" ? h.reset : h.closed) = true;
        }
    }
    return o;
}

// Kelvane as the scenario starts it: on this device, with no handle logged yet.
bool launched(Session& app, const std::string& bytes) {
    write_file(opens_file(), "");
    return app.launch(L"native", &bytes);
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

// What is wrong with the handles logged, given how many there should be; empty when nothing is.
std::wstring wrong_with_opens(const Opens& o, size_t want) {
    return !o.read                    ? L"the test DLL's log could not be read"
           : !o.wrong.empty()         ? o.wrong
           : o.handles.size() != want ? std::to_wstring(o.handles.size()) +
                                            L" handles opened, not " + std::to_wstring(want)
                                      : L"";
}

// Each choice hands over its tone at once, on a handle of its own opened only once the tone
// before it was stopped and its handle closed, and leaves the window answering while it plays.
void plays(App& app, const std::wstring& what, WORD mnemonic, int channels, int on) {
    DeleteFileW(tone_file().c_str());
    const size_t before = opens().handles.size();
    choose(app, mnemonic);
    const bool answering = done_with_gesture(app, 2000);
    Handed h;
    const bool got = poll(kWaitMs, [&] { return handed(h); });
    check(answering, what + L": the window answers while the tone plays");
    check(got && wrong_with(h, channels, on).empty(), what + L": the tone on device 0",
          got ? wrong_with(h, channels, on) : L"no tone handed to winmm");
    const std::wstring wrong = wrong_with_opens(opens(), before + 1);
    check(wrong.empty(), what + L": the tone before it stopped and closed first", wrong);
}

// Every handle opened so far stopped and closed.
void check_stopped(const std::wstring& what) {
    const Opens o = opens();
    std::wstring wrong = wrong_with_opens(o, o.handles.size());
    wrong = !wrong.empty()      ? wrong
            : o.handles.empty() ? L"no handle opened at all"
                                : left_open(o.handles);
    check(wrong.empty(), what + L": the tone stopped and its device closed", wrong);
}

void stereo_device() {
    Session app;
    if (launched(app, kWorkedRecord) && press_for_report(app, L"tone", kWorked)) {
        plays(app, L"左声道测试音(&L)", 'L', 2, 0);
        plays(app, L"右声道测试音(&R)", 'R', 2, 1);
        // A new test of the card ends the tone of the last one.
        if (press_for_report(app, L"测试声卡 during a tone", kWorked)) {
            check_stopped(L"测试声卡 during a tone");
        }
        // Closed while a tone plays: Kelvane stops it and ends at once, as ever.
        plays(app, L"左声道测试音(&L) again", 'L', 2, 0);
        app.closes(L"closed during a tone: Kelvane ends with status 0 within 1 s", 1000);
        check_stopped(L"closed during a tone");
    }
}

// A device whose record says it has no channels, or a negative number of them, has nothing to
// play a tone on: its tone items are greyed, so choosing one by its mnemonic hands nothing to
// winmm. The same keys then play on a device with channels, in the same process.
void without_channels() {
    const struct {
        int channels;
        const wchar_t* shown;
    } cases[] = {{0, L" 0"}, {-1, L"-1"}};
    Session app;
    if (!launched(app, kWorkedRecord)) {
        return;
    }
    for (const auto& c : cases) {
        const std::wstring what = L"wChannels " + std::to_wstring(c.channels);
        serve_device(1, 0, record("Speakers", 100, 1, 1280, 1 | 8, c.channels, 4 | 8));
        if (!press_for_report(app, what,
                              header(L"Speakers", L" 100 ", L" 1 ", L" 5 . 0 ", c.shown) +
                                  Lines(kWorked.begin() + 6, kWorked.end()))) {
            continue;
        }
        const size_t before = opens().handles.size();
        int menus = 0;
        for (const WORD mnemonic : {'L', 'R'}) {
            menus += choose(app, mnemonic);
            // A greyed item ignores its mnemonic and leaves the menu open.
            key(app, VK_ESCAPE);
            done_with_gesture(app);
        }
        const std::wstring wrong =
            menus < 2 ? L"the menu did not come up" : wrong_with_opens(opens(), before);
        check(wrong.empty(), what + L": the tone items are greyed, choosing them plays nothing",
              wrong);
    }
    serve_device(1, 0, kWorkedRecord);
    if (press_for_report(app, L"channels again", kWorked)) {
        plays(app, L"左声道测试音(&L) once there are channels", 'L', 2, 0);
    }
}

void mono_device() {
    Session app;
    if (launched(app, record("Speaker", 100, 1, 1280, 1 | 4, 1, 4)) &&
        press_for_report(app, L"mono device",
                         header(L"Speaker", L" 100 ", L" 1 ", L" 5 . 0 ", L" 1") +
                             Lines{kAllFormats[0], kAllFormats[2]} + kNoFlags +
                             Lines{kAllFeatures[2]})) {
        plays(app, L"播放测试音(&P) on a mono device", 'P', 1, 0);
    }
}

// A refused open says why in the platform's words, in a warning box of its own, and the report
// stays.
void refused_open() {
    Session app;
    if (launched(app, kWorkedRecord) && press_for_report(app, L"refused tone", kWorked)) {
        serve_device(1, 0, kWorkedRecord, MMSYSERR_ALLOCATED);
        choose(app, 'L');
        const Box box = app.box();
        if (check(bool(box), L"refused tone: a box appears")) {
            check(box.title == L"测试音" && box.text == L"无法播放测试音：test winmm error 4" &&
                      box.icon == L"an icon" && box.owner == app.form,
                  L"refused tone: the box says why, with the platform's text", box.said());
            box.answer();
        }
        check(text_of(app.pic) == joined(kWorked), L"refused tone: the report stays");
        check(done_with_gesture(app), L"refused tone: the window keeps working");
    }
    serve_device(1, 0, kWorkedRecord);
}

}  // namespace

void tone() {
    stereo_device();
    mono_device();
    without_channels();
    refused_open();
}

}  // namespace e2e
