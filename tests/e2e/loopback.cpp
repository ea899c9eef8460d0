// The automatic check through the test winmm.dll, whose recorder hears what was played, as each
// case sets it: late by a known delay, quieter, swapped, a channel dead, noise, one channel, no
// recorder, or a refused open; with gaps where the output ran dry, clipped, with mains hum, or one
// side quieter. The box must say exactly what was heard and how late, with the icon that fits;
// the check must record from the default recorder, keep the window answering, give way to the
// button, a tone or closing the window, and reset and close every handle.
#include <windows.h>

#include <mmsystem.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <set>
#include <sstream>
#include <string>

#include "expectations.h"
#include "harness.h"
#include "scenarios.h"

namespace e2e {
namespace {

const std::wstring kRecorder = L"麦克风阵列 (测试回环)";
const std::wstring kTitle = L"自动检测";
const std::wstring kHint = L"如果用的是耳机，录音设备听不到它：请用左、右声道测试音试听。";

// What the test DLL's recorder hears; see fake_winmm.cpp for each field.
struct Recorder {
    unsigned devices = 2, open_rc = 0;
    int channels = 2, delay = 0;
    double gain_db = 0;
    bool swap = false;
    const char* mute = "-";
    int noise = 0, slow = 1;
    const char* hold_call = "-";
    int hold_ms = 0;
    long long lose_at = 0, lose_frames = 0;
    int lose_recordings = 0;
    bool deliver = true;
    long long gap = 0, gap_every = 0, gap_first = 0;
    double drive = 0;
    int hum_hz = 0;
    double hum_dbfs = 0;
    double right_gain_db = 0;
    int gap_recordings = 0;
};

std::wstring inputs_file() {
    return device_file + L".inputs";
}

void serve_recorder(const Recorder& r) {
    char name[128] = {};
    WideCharToMultiByte(CP_UTF8, 0, kRecorder.c_str(), -1, name, sizeof name, nullptr, nullptr);
    std::ostringstream line;
    line << r.devices << ' ' << r.open_rc << ' ' << r.channels << ' ' << r.delay << ' ' << r.gain_db
         << ' ' << r.swap << ' ' << r.mute << ' ' << r.noise << ' ' << r.slow << ' ' << r.hold_call
         << ' ' << r.hold_ms << ' ' << r.lose_at << ' ' << r.lose_frames << ' ' << r.lose_recordings
         << ' ' << r.deliver << ' ' << r.gap << ' ' << r.gap_every << ' ' << r.gap_first << ' '
         << r.drive << ' ' << r.hum_hz << ' ' << r.hum_dbfs << ' ' << r.right_gain_db << ' '
         << r.gap_recordings << ' ' << name;
    write_file(device_file + L".in", line.str());
}

// The calls each handle met, from one of the test DLL's logs, in order of opening; "bad CALL"
// and a line that does not read go to wrong.
struct Log {
    std::vector<std::set<std::string>> handles;
    std::vector<unsigned> devices;  // the device each waveIn handle opened
    std::wstring wrong;
};

Log log_of(const std::wstring& file) {
    Log log;
    std::string all;
    if (!read_file(file, all)) {
        log.wrong = L"the test DLL's log could not be read";
        return log;
    }
    std::istringstream lines(all);
    for (std::string line; log.wrong.empty() && std::getline(lines, line);) {
        std::istringstream words(line);
        std::string call;
        size_t n = 0;
        unsigned device = 0;
        words >> call;
        if (call == "bad" || !(words >> n) || n == 0 || n > log.handles.size() + (call == "open")) {
            log.wrong = L"the log says \"" + std::wstring(line.begin(), line.end()) + L"\"";
        } else if (call == "open") {
            log.handles.emplace_back();
            log.devices.push_back(words >> device ? device : 0);
        } else {
            log.handles[n - 1].insert(call);
        }
    }
    return log;
}

// Empty when every handle in the log was reset and closed (a waveOut handle only reset when it
// was written), else the first that was not; skip leaves out the last handles, still in use.
std::wstring all_closed(const Log& log, bool input, size_t skip = 0) {
    const std::wstring kind = input ? L"waveIn" : L"waveOut";
    if (!log.wrong.empty()) {
        return kind + L": " + log.wrong;
    }
    for (size_t i = 0; i + skip < log.handles.size(); ++i) {
        const std::set<std::string>& calls = log.handles[i];
        const bool needs_reset = input || calls.count("write");
        if ((needs_reset && !calls.count("reset")) || !calls.count("close")) {
            return kind + L" handle " + std::to_wstring(i + 1) +
                   (calls.count("close") ? L" never reset" : L" never closed");
        }
    }
    return L"";
}

std::wstring handles_left() {
    std::wstring in = all_closed(log_of(inputs_file()), true),
                 out = all_closed(log_of(device_file + L".opens"), false);
    return in + (in.empty() || out.empty() ? L"" : L"; ") + out;
}

// Kelvane with a report of the device served, and no handle logged yet.
bool reported(Session& app, const std::wstring& what) {
    write_file(device_file + L".opens", "");
    write_file(inputs_file(), "");
    if (!app.launch(L"native")) {
        return false;
    }
    app.press();
    return answer_box(app, what + L": the report", kFound) &&
           check(!report_after_ok(app).empty(), what + L": a report to check");
}

// The last item of Picture1's context menu as drawn: "enabled" or "greyed", and whether its
// label is as wide as "自动检测(A)" or as "正在自动检测…", by how much wider it is drawn than the
// first item, "复制报告(C)", against how much wider each is set in the menu font.
std::wstring check_item_drawn(App& app) {
    const MenuPicture picture = picture_menu(app);
    if (!picture.whole()) {
        return picture.missing();
    }
    const Pixels& shot = picture.shot;
    const RECT& r = picture.r;
    constexpr int kFrame = 3;
    const DWORD background = shot[(r.bottom - kFrame - 1) * r.right + r.right - kFrame - 1];
    // Label bands: runs of rows with ink, taller than a separator.
    struct Band {
        int top, bottom, left, right;
    };
    std::vector<Band> bands;
    for (int y = kFrame, top = -1; y <= r.bottom - kFrame; ++y) {
        bool ink = false;
        for (int x = kFrame; y < r.bottom - kFrame && x < r.right - kFrame && !ink; ++x) {
            ink = shot[y * r.right + x] != background;
        }
        if (ink && top < 0) {
            top = y;
        } else if (!ink && top >= 0) {
            if (y - top >= 5) {
                bands.push_back({top, y, r.right, 0});
            }
            top = -1;
        }
    }
    if (bands.size() < 2) {
        return L"<" + std::to_wstring(bands.size()) + L" labels drawn>";
    }
    for (Band* b : {&bands.front(), &bands.back()}) {
        for (int y = b->top; y < b->bottom; ++y) {
            for (int x = kFrame; x < r.right - kFrame; ++x) {
                if (shot[y * r.right + x] != background) {
                    b->left = std::min(b->left, x), b->right = std::max(b->right, x + 1);
                }
            }
        }
    }
    const auto luma = [](DWORD p) -> int {
        return int(299 * (p >> 16 & 0xFF) + 587 * (p >> 8 & 0xFF) + 114 * (p & 0xFF)) / 1000;
    };
    const DWORD text = as_pixel(GetSysColor(COLOR_MENUTEXT));
    const int low = std::min(luma(text), luma(background)),
              high = std::max(luma(text), luma(background));
    const Band& last = bands.back();
    int in_text_colour = 0, dimmed = 0;
    for (int y = last.top; y < last.bottom; ++y) {
        for (int x = last.left; x < last.right; ++x) {
            const DWORD p = shot[y * r.right + x];
            in_text_colour += p == text;
            dimmed += luma(p) > low + 16 && luma(p) < high - 16;
        }
    }
    const std::wstring state = in_text_colour ? L"enabled"
                               : dimmed > 20  ? L"greyed"
                                              : L"<no label drawn>";
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    HDC dc = GetDC(nullptr);
    HFONT font = CreateFontIndirectW(&metrics.lfMenuFont);
    HGDIOBJ old = SelectObject(dc, font);
    const auto width = [dc](const std::wstring& s) {
        SIZE size = {};
        GetTextExtentPoint32W(dc, s.c_str(), int(s.size()), &size);
        return int(size.cx);
    };
    const int idle = width(L"自动检测(A)") - width(L"复制报告(C)"),
              running = width(L"正在自动检测…") - width(L"复制报告(C)");
    SelectObject(dc, old), DeleteObject(font), ReleaseDC(nullptr, dc);
    const int drawn = (last.right - last.left) - (bands.front().right - bands.front().left);
    return state + (std::abs(drawn - idle) < std::abs(drawn - running) ? L", 自动检测(A)"
                                                                       : L", 正在自动检测…");
}

// got as want, where both say a tone was not heard over noise whose figures are within 3 dB.
std::wstring as_noise_figure(const std::wstring& got, const std::wstring& want) {
    const std::wstring mark = L"（录音里只有 ";
    const size_t g = got.find(mark), w = want.find(mark);
    if (g == std::wstring::npos || w == std::wstring::npos ||
        got.substr(0, g) != want.substr(0, w)) {
        return got;
    }
    const double a = std::wcstod(got.c_str() + g + mark.size(), nullptr),
                 b = std::wcstod(want.c_str() + w + mark.size(), nullptr);
    return std::abs(a - b) <= 3.0 ? want : got;
}

// The box the check ends with, its lines and icon; false when it never came.
bool answered(App& app, const std::wstring& what, const Lines& want, const std::wstring& icon) {
    const Box box = app.box(30000, kTitle.c_str());
    if (!check(bool(box), what + L": the 自动检测 box appears", other_windows(app))) {
        return false;
    }
    Lines got = box.lines();
    for (size_t i = 0; i < got.size() && i < want.size(); ++i) {
        got[i] = as_noise_figure(got[i], want[i]);
    }
    same_lines(got, want, what + L": the box says what was heard");
    const std::wstring shown = box.stock_icon();
    check(shown == icon && box.owner == app.form && box.has_ok && !box.has_cancel,
          what + L": an OK box owned by the form, with the " + icon + L" icon",
          shown + (box.owner == app.form ? L"" : L", not owned by the form"));
    return box.answer();
}

Lines tones(const std::wstring& left, const std::wstring& right) {
    return {L"左声道：" + left, L"右声道：" + right};
}

const std::wstring kHeard = L"听到，440 Hz，-12.0 dBFS";
std::wstring unheard(const std::wstring& noise) {
    return L"没听到（录音里只有 " + noise + L" dBFS 的噪声）";
}

// Noise of 100 on each sample (variance 10^4) reads near 440 Hz, through the judgement's 0.1 s
// Hann blocks, as a sine of peak squared 6 * 10^4 / 4410: -79.0 dBFS. Where the tones land on the
// recording's clock moves with the machine's timing, and so do the few blocks of quiet the noise
// is measured in: -77.3 to -79.9 seen when each block was read at 440 Hz alone, so a noise figure
// within 3 dB of this one is taken as it.
constexpr int kNoise = 100;
const std::wstring kNoiseDbfs = L"-79.0";

const std::string kMonoRecord = record("Speaker", 100, 1, 1280, 1 | 4, 1, 4);

// The loop of the cases below that hear both tones at 80 ms, with one fault more.
Recorder at_80_ms() {
    return {2, 0, 2, 3528};
}
// The output runs dry for 143 frames (3.2 ms) every 7500 from its frame 20000 on. Its left tone
// plays output frames [0, 22050) and the right [30870, 52920), each read between 20 ms after its
// start and 20 ms before its end: [882, 21168) holds the gap at 20000, the quiet between the
// tones the one at 27500, and [31752, 52038) those at 35000, 42500 and 50000. The silence
// takes some of each tone's level too: -12.015 and -12.195 dBFS.
Recorder running_dry() {
    Recorder r = at_80_ms();
    r.gap = 143, r.gap_every = 7500, r.gap_first = 20000;
    return r;
}
// The same in the first recording only: a stutter of a loaded machine, which the second listen
// does not hear again.
Recorder running_dry_once() {
    Recorder r = running_dry();
    r.gap_recordings = 1;
    return r;
}
// Running dry as above, where the first recording also lost 100 ms inside the right tone's
// steady part, wherever between recorder frames 7500 and 10100 the tones were sent: its left
// tone, kept whole, confirms the left's break at the second listen; the right's waits for a third.
Recorder running_dry_after_a_loss() {
    Recorder r = running_dry();
    r.lose_at = 52000, r.lose_frames = 4410, r.lose_recordings = 1;
    return r;
}
// Cutting out for 10 ms every 300 ms from output frame 300 on: in the left tone's fade in, at
// 13530 in its steady part, at 26760 in the quiet between the tones, at 39990 in the right tone's
// steady part, and at 53220 past its end. The fade that fell silent times that tone only to within
// the silence; nothing was lost, so the box names one break a side. Each tone's 10 ms of silence
// takes as much of its level as the three shorter ones above: -12.2 dBFS.
Recorder cutting_out() {
    Recorder r = at_80_ms();
    r.gap = 441, r.gap_every = 13230, r.gap_first = 300;
    return r;
}
// The same with each silence 198 frames long, just under two periods of the tone: its pitch must
// still read 440 Hz, or the tone is looked for at the wrong one and a whole recording is broken.
Recorder running_dry_longer() {
    Recorder r = running_dry();
    r.gap = 198;
    return r;
}
// A microphone in a quiet room: noise 30 dB under the tone (its RMS is 5820), which holds 3 % of
// the tone's power and yet is no distortion.
Recorder quiet_room() {
    Recorder r = at_80_ms();
    r.noise = 184;
    return r;
}
// tanh at drive 3.3 makes the -12 dBFS tone's harmonics 4.90 % of its fundamental, which it
// leaves at -13.31 dBFS.
Recorder soft_clipping() {
    Recorder r = at_80_ms();
    r.drive = 3.3;
    return r;
}
// 14 dB up, the tone's peak of 41253 is cut at full scale; its fundamental comes to 1.00 dBFS.
Recorder hard_clipping() {
    Recorder r = at_80_ms();
    r.gain_db = 14;
    return r;
}
Recorder humming(int hz, double dbfs) {
    Recorder r = at_80_ms();
    r.hum_hz = hz, r.hum_dbfs = dbfs;
    return r;
}
// The right speaker db louder than the left, the whole loop gain_db.
Recorder unbalanced(double gain_db, double db) {
    Recorder r = at_80_ms();
    r.gain_db = gain_db, r.right_gain_db = db;
    return r;
}
const Lines kAt80 = {L"往返延迟：80 ms", L"录音设备：" + kRecorder};

const struct Case {
    const wchar_t* what;
    Recorder recorder;
    const std::string* device;
    unsigned play_rc;
    Lines want;
    const wchar_t* icon;
    bool tone_first = false;  // a tone plays when the check is chosen
    size_t recordings = 1;    // from the default recorder, one after the other
    DWORD at_least_ms = 0;    // from the choice to the box
} kCases[] = {
    {L"both heard, a tone playing before",
     {2, 0, 2, 3528},
     &kWorkedRecord,
     0,
     tones(kHeard, kHeard) + Lines{L"往返延迟：80 ms", L"录音设备：" + kRecorder},
     L"information",
     true},
    {L"channels swapped, 6 dB quieter",
     {2, 0, 2, 2205, -6, true},
     &kWorkedRecord,
     0,
     tones(L"听到，440 Hz，-18.0 dBFS", L"听到，440 Hz，-18.0 dBFS") +
         Lines{L"左右声道接反：左声道的测试音出现在录音的右声道。", L"往返延迟：50 ms",
               L"录音设备：" + kRecorder},
     L"information"},
    {L"right channel dead, noise",
     {2, 0, 2, 3528, 0, false, "R", kNoise},
     &kWorkedRecord,
     0,
     tones(kHeard, unheard(kNoiseDbfs)) + Lines{L"往返延迟：80 ms", L"录音设备：" + kRecorder},
     L"warning"},
    {L"noise only",
     {2, 0, 2, 3528, 0, false, "LR", kNoise},
     &kWorkedRecord,
     0,
     tones(unheard(kNoiseDbfs), unheard(kNoiseDbfs)) + Lines{L"录音设备：" + kRecorder, kHint},
     L"warning"},
    {L"60 dB too quiet",
     {2, 0, 2, 3528, -60},
     &kWorkedRecord,
     0,
     tones(unheard(L"-72.0"), unheard(L"-72.0")) + Lines{L"录音设备：" + kRecorder, kHint},
     L"warning"},
    {L"one-channel recorder",
     {2, 0, 1, 4410},
     &kWorkedRecord,
     0,
     tones(kHeard, kHeard) + Lines{L"录音设备只有一个声道（或两个声道相同），分不出左右。",
                                   L"往返延迟：100 ms", L"录音设备：" + kRecorder},
     L"information"},
    {L"one-channel output device",
     {2, 0, 2, 3528},
     &kMonoRecord,
     0,
     {L"测试音：" + kHeard, L"往返延迟：80 ms", L"录音设备：" + kRecorder},
     L"information"},
    {L"no recorder", {0}, &kWorkedRecord, 0, {L"没有录音设备，无法自动检测。"}, L"warning"},
    {L"recorder refused",
     {2, MMSYSERR_ALLOCATED},
     &kWorkedRecord,
     0,
     {L"无法录音：test winmm error 4"},
     L"warning"},
    {L"output refused",
     {2, 0, 2, 3528},
     &kWorkedRecord,
     MMSYSERR_ALLOCATED,
     {L"无法播放测试音：test winmm error 4"},
     L"warning"},
    // Opening the output holds the window for 2 s, as a first start can: the device records on
    // into the buffers queued for it, and nothing is lost.
    {L"the window held 2 s while the tones open",
     {2, 0, 2, 3528, 0, false, "-", 0, 1, "waveOutOpen", 2000},
     &kWorkedRecord,
     0,
     tones(kHeard, kHeard) + Lines{L"往返延迟：80 ms", L"录音设备：" + kRecorder},
     L"information"},
    // 100 ms lost inside the right tone's steady part: the tones go out between recorder frames
    // 7500 and 10100 (seen idle and beside two busy loops) and are heard 3528 frames later, so it
    // spans frames 45400 to 63000 or so wherever they went. A loss over a tone's end would be
    // sized only by what the fade shows of it.
    {L"sound lost once",
     {2, 0, 2, 3528, 0, false, "-", 0, 1, "-", 0, 52000, 4410, 1},
     &kWorkedRecord,
     0,
     tones(kHeard, kHeard) + Lines{L"往返延迟：80 ms", L"录音设备：" + kRecorder},
     L"information",
     false,
     2},
    {L"sound lost every time",
     {2, 0, 2, 3528, 0, false, "-", 0, 1, "-", 0, 52000, 4410, -1},
     &kWorkedRecord,
     0,
     {L"检测时声音丢失了约 100 ms，无法判断。请关闭占用电脑的程序后再试一次。",
      L"录音设备：" + kRecorder},
     L"warning",
     false,
     2},
    // Breaks are named once a second listen hears them again.
    {L"the output running dry", running_dry(), &kWorkedRecord, 0,
     tones(kHeard, L"听到，440 Hz，-12.2 dBFS") +
         Lines{L"左声道的测试音中断了 1 次（断音），声音可能时断时续。",
               L"右声道的测试音中断了 3 次（断音），声音可能时断时续。"} +
         kAt80,
     L"warning", false, 2},
    {L"the output running dry, the first recording losing sound", running_dry_after_a_loss(),
     &kWorkedRecord, 0,
     tones(kHeard, L"听到，440 Hz，-12.2 dBFS") +
         Lines{L"左声道的测试音中断了 1 次（断音），声音可能时断时续。",
               L"右声道的测试音中断了 3 次（断音），声音可能时断时续。"} +
         kAt80,
     L"warning", false, 3},
    {L"the output running dry for just under two periods", running_dry_longer(), &kWorkedRecord, 0,
     tones(kHeard, L"听到，440 Hz，-12.3 dBFS") +
         Lines{L"左声道的测试音中断了 1 次（断音），声音可能时断时续。",
               L"右声道的测试音中断了 3 次（断音），声音可能时断时续。"} +
         kAt80,
     L"warning", false, 2},
    {L"the output running dry in the first recording only", running_dry_once(), &kWorkedRecord, 0,
     tones(kHeard, kHeard) + kAt80, L"information", false, 2},
    {L"the output cutting out every 300 ms, on a fade too", cutting_out(), &kWorkedRecord, 0,
     tones(L"听到，440 Hz，-12.2 dBFS", L"听到，440 Hz，-12.2 dBFS") +
         Lines{L"左声道的测试音中断了 1 次（断音），声音可能时断时续。",
               L"右声道的测试音中断了 1 次（断音），声音可能时断时续。"} +
         kAt80,
     L"warning", false, 2},
    {L"noise 30 dB under the tone", quiet_room(), &kWorkedRecord, 0, tones(kHeard, kHeard) + kAt80,
     L"information"},
    {L"a recorder that clips softly", soft_clipping(), &kWorkedRecord, 0,
     tones(L"听到，440 Hz，-13.3 dBFS", L"听到，440 Hz，-13.3 dBFS") +
         Lines{L"左声道失真 4.9 %，声音可能发破。", L"右声道失真 4.9 %，声音可能发破。"} + kAt80,
     L"warning"},
    {L"a recorder that clips at full scale", hard_clipping(), &kWorkedRecord, 0,
     tones(L"听到，440 Hz，1.0 dBFS", L"听到，440 Hz，1.0 dBFS") +
         Lines{L"录音电平过高，录音被削顶；请调低录音音量后再试。"} + kAt80,
     L"warning"},
    // The hum is planted at -30.0 and -36.0 dBFS, fundamental and harmonics together.
    {L"50 Hz hum", humming(50, -30), &kWorkedRecord, 0,
     tones(kHeard, kHeard) +
         Lines{L"录音里有 50 Hz 的嗡嗡声（-30.0 dBFS），可能是接地或线缆的问题。"} + kAt80,
     L"warning"},
    {L"60 Hz hum", humming(60, -36), &kWorkedRecord, 0,
     tones(kHeard, kHeard) +
         Lines{L"录音里有 60 Hz 的嗡嗡声（-36.0 dBFS），可能是接地或线缆的问题。"} + kAt80,
     L"warning"},
    {L"the right speaker 6 dB quieter", unbalanced(0, -6), &kWorkedRecord, 0,
     tones(kHeard, L"听到，440 Hz，-18.0 dBFS") + Lines{L"右声道比左声道小 6.0 dB。"} + kAt80,
     L"warning"},
    {L"the left speaker 4.5 dB quieter", unbalanced(-4.5, 4.5), &kWorkedRecord, 0,
     tones(L"听到，440 Hz，-16.5 dBFS", kHeard) + Lines{L"左声道比右声道小 4.5 dB。"} + kAt80,
     L"warning"},
    {L"a recorder that never hands back a buffer",
     {2, 0, 2, 3528, 0, false, "-", 0, 1, "-", 0, 0, 0, 0, false},
     &kWorkedRecord,
     0,
     {L"无法录音：录音设备在 6 秒内没有送来声音。"},
     L"warning",
     false,
     1,
     5500},
};

// The check's output has begun once the test DLL logs a write.
bool playing() {
    return poll(kWaitMs, [] {
        const Log out = log_of(device_file + L".opens");
        return !out.handles.empty() && out.handles.back().count("write");
    });
}

void results() {
    for (const Case& c : kCases) {
        serve_device(1, 0, *c.device, c.play_rc);
        serve_recorder(c.recorder);
        Session app;
        if (reported(app, c.what)) {
            if (c.tone_first) {
                // What was seen of the menu, so that a tone that never starts says why.
                const bool menu = choose(app, 'L');
                check(playing(), std::wstring(c.what) + L": the tone plays",
                      menu ? L"the menu came and went" : L"the menu never came, or stayed");
            }
            const DWORD chosen = GetTickCount();
            choose(app, 'A');
            if (answered(app, c.what, c.want, c.icon)) {
                const DWORD took = GetTickCount() - chosen;
                check(took >= c.at_least_ms,
                      std::wstring(c.what) + L": the box comes no sooner than it should",
                      std::to_wstring(took) + L" ms after the choice");
                const Log in = log_of(inputs_file());
                const bool opened = in.wrong.empty() && !in.devices.empty();
                const std::wstring left = handles_left();
                check(left.empty(), std::wstring(c.what) + L": every handle reset and closed",
                      left);
                if (c.recorder.devices >= 2 && c.recorder.open_rc == 0) {
                    check(opened && in.devices == std::vector<unsigned>(c.recordings, 1),
                          std::wstring(c.what) + L": " + std::to_wstring(c.recordings) +
                              L" recording(s), from the default recorder",
                          opened ? L"device " + std::to_wstring(in.devices[0]) + L" of " +
                                       std::to_wstring(in.devices.size()) + L" opened"
                                 : L"nothing recorded");
                }
                check(done_with_gesture(app), std::wstring(c.what) + L": the window answers");
            }
        }
    }
}

// Before any report the item is greyed and choosing it records nothing; once there is one it is
// enabled.
void menu_item() {
    serve_recorder({2, 0, 2, 3528});
    write_file(inputs_file(), "");
    Session app;
    if (app.launch(L"native", &kWorkedRecord)) {
        const std::wstring before = check_item_drawn(app);
        check(before == L"greyed, 自动检测(A)", L"自动检测(A) is greyed before the report", before);
        choose(app, 'A');
        key(app, VK_ESCAPE);
        done_with_gesture(app);
        const Log in = log_of(inputs_file());
        check(in.wrong.empty() && in.handles.empty(),
              L"自动检测(A) chosen before the report records nothing",
              in.wrong.empty() ? std::to_wstring(in.handles.size()) + L" recordings" : in.wrong);
        app.press();
        answer_box(app, L"menu item", kFound);
        report_after_ok(app);
        const std::wstring after = check_item_drawn(app);
        check(after == L"enabled, 自动检测(A)", L"自动检测(A) is enabled once there is a report",
              after);
    }
}

// What stops a running check: no box follows, and the handles are reset and closed.
const struct Cancel {
    const wchar_t* what;
    // Does it, and checks what it does besides; how many output handles stay in use.
    size_t (*act)(App&);
} kCancels[] = {
    {L"测试声卡",
     [](App& app) -> size_t {
         app.press();
         answer_box(app, L"测试声卡 during the check", kFound);
         return 0;
     }},
    {L"左声道测试音(&L)",
     [](App& app) -> size_t {
         choose(app, 'L');
         const bool tone = poll(kWaitMs, [] {
             std::string handed;
             // The tone alone: its device id, format and 44100 stereo frames.
             return read_file(device_file + L".tone", handed) &&
                    handed.size() == sizeof(UINT) + sizeof(WAVEFORMATEX) + 44100 * 4;
         });
         check(tone, L"左声道测试音(&L) during the check: the tone plays");
         return 1;
     }},
    {L"closing the window",
     [](App& app) -> size_t {
         app.closes(L"closed during the check: Kelvane ends with status 0 within 1 s", 1000);
         return 0;
     }},
};

// Pixels drawn in the surface's last line, right of its middle: where the running check says so. A
// picture not of the surface's size counts -1.
int foot_ink(HWND pic) {
    const Pixels shot = grab(pic);
    RECT r = {};
    GetClientRect(pic, &r);
    if (shot.size() != size_t(r.right) * size_t(r.bottom) || r.bottom < 24) {
        return -1;
    }
    // Text is drawn smoothed: count what is not the surface's own colour.
    const DWORD face = as_pixel(GetSysColor(COLOR_BTNFACE));
    int ink = 0;
    for (int y = r.bottom - r.bottom / 24; y < r.bottom; ++y) {
        for (int x = r.right / 2; x < r.right; ++x) {
            ink += shot[size_t(y) * r.right + x] != face;
        }
    }
    return ink;
}

void cancelled() {
    bool first = true;
    for (const Cancel& c : kCancels) {
        serve_device(1, 0, kWorkedRecord);
        // Three times as slow, so that the check outlasts what is checked while it runs.
        serve_recorder({2, 0, 2, 3528, 0, false, "-", 0, 3});
        Session app;
        const std::wstring what = std::wstring(c.what) + L" during the check";
        if (reported(app, what)) {
            choose(app, 'A');
            if (first) {
                first = false;
                // The Tab also tells that the choice was dealt with, its menu gone, before the
                // menu is opened again.
                const DWORD start = GetTickCount();
                const bool keys = done_with_gesture(app, 1000);
                check(keys, L"while the check runs the window takes a key at once",
                      std::to_wstring(GetTickCount() - start) + L" ms, in front: " + in_front());
                const std::wstring drawn = check_item_drawn(app);
                check(drawn == L"greyed, 正在自动检测…",
                      L"while the check runs its item reads 正在自动检测… and is greyed", drawn);
                // A user who chose it by keyboard sees no pointer: the surface's foot says it.
                const std::wstring report = text_of(app.pic);
                int running = -1;
                poll(kWaitMs, [&] { return (running = foot_ink(app.pic)) > 20; });
                RECT form = {};
                GetWindowRect(app.form, &form);
                CreateDirectoryW((here + L"screenshots").c_str(), nullptr);
                save_bmp(here + L"screenshots\\checking.bmp", form);
                app.press();
                answer_box(app, L"测试声卡 to end the first check", kFound);
                report_after_ok(app);
                const int idle = foot_ink(app.pic);
                check(
                    running > 20 && idle >= 0 && running > idle + 20 && text_of(app.pic) == report,
                    L"while the check runs the surface's foot shows it, outside the report",
                    std::to_wstring(running) + L" text pixels there while it ran, " +
                        std::to_wstring(idle) + L" after");
                choose(app, 'A');
            }
            check(playing(), what + L": the check plays its tones");
            const size_t in_use = c.act(app);
            check(!app.box(8000, kTitle.c_str()), what + L": no 自动检测 box follows",
                  other_windows(app));
            const std::wstring in = all_closed(log_of(inputs_file()), true),
                               out = all_closed(log_of(device_file + L".opens"), false, in_use);
            check(in.empty() && out.empty(), what + L": every handle of the check reset and closed",
                  in + L" " + out);
        }
    }
}

// The test DLL's recorder itself, loaded here from a copy and driven as a program that does the
// check right would drive it, and as ones that do not: output written at recording position P
// must be heard from frame P + delay of the recorder's clock, swapped when told; output written
// before the first buffer came back must not be, and device 0 must hear nothing. That clock runs
// by itself, as a real driver's does: the position runs ahead of what has come back, what passes
// while no buffer is queued is lost, and so is a stretch the recorder is told to drop, each
// without an error. A fault here would make every latency line below mean nothing.
struct Winmm {
    HMODULE dll = nullptr;
    template <typename F>
    F at(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    }
};

// The first frame at or after from where channel holds the click the output carried; -1 for
// none.
long long click_in(const std::vector<short>& rec, int channel, long long from = 0) {
    for (size_t i = size_t(from) * 2 + channel; i < rec.size(); i += 2) {
        if (rec[i] > 10000) {
            return static_cast<long long>(i / 2);
        }
    }
    return -1;
}

constexpr int kBuffers = 8, kBufferFrames = 4410;
constexpr long long frames_in(long long ms) {
    return ms * 441 / 10;
}

// How loop_once drives the recorder: the click goes on the output's left channel once the first
// buffer is back, or at once, early.
struct Drive {
    UINT device = WAVE_MAPPER;  // WAVE_MAPPER or a number
    bool early = false;
    int queued = kBuffers;  // of 100 ms each, before the start; each queued again as it comes
    DWORD stall_ms = 0;     // once the first is back, nothing is queued for this long
    DWORD pause_ms = 0;     // and the position is read and the click written this much later
};

// What came of it: the recording, until 1 s past the write.
struct Loop {
    std::vector<short> rec;
    long long written = -1;        // the position read right before the write
    long long ahead = 0;           // how far that ran ahead of the frames back by then
    DWORD play_ms = 0;             // reading the position and writing took this long
    long long came_meanwhile = 0;  // frames handed back in that time, but for its last 50 ms
    long long last = -1;           // the position read after the last buffer came
};

Loop loop_once(const Winmm& w, const Drive& d) {
    Loop l;
    HWND sink =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    WAVEFORMATEX f = {WAVE_FORMAT_PCM, 2, 44100, 44100 * 4, 4, 16, 0};
    HWAVEIN in = nullptr;
    HWAVEOUT out = nullptr;
    std::vector<short> buffers(kBuffers * kBufferFrames * 2), click(4410 * 2, 0);
    click[0] = 30000;
    WAVEHDR heads[kBuffers] = {}, played = {};
    played.lpData = reinterpret_cast<char*>(click.data()), played.dwBufferLength = 4410 * 4;
    if (w.at<decltype(&waveInOpen)>("waveInOpen")(&in, d.device, &f, DWORD_PTR(sink), 0,
                                                  CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
        DestroyWindow(sink);
        return l;
    }
    const auto add = w.at<decltype(&waveInAddBuffer)>("waveInAddBuffer");
    for (int i = 0; i < kBuffers; ++i) {
        heads[i].lpData = reinterpret_cast<char*>(&buffers[i * kBufferFrames * 2]);
        heads[i].dwBufferLength = kBufferFrames * 4;
        w.at<decltype(&waveInPrepareHeader)>("waveInPrepareHeader")(in, &heads[i], sizeof *heads);
        if (i < d.queued) {
            add(in, &heads[i], sizeof *heads);
        }
    }
    w.at<decltype(&waveInStart)>("waveInStart")(in);
    const auto position = [&] {
        MMTIME at = {};
        at.wType = TIME_SAMPLES;
        w.at<decltype(&waveInGetPosition)>("waveInGetPosition")(in, &at, sizeof at);
        return static_cast<long long>(at.u.sample);
    };
    // Every buffer back by now, and when each was handed back; false for none.
    std::vector<WAVEHDR*> back;
    struct Came {
        DWORD at;
        long long frames;
    };
    std::vector<Came> came;
    const auto take = [&] {
        bool any = false;
        for (MSG m; PeekMessageW(&m, sink, MM_WIM_DATA, MM_WIM_DATA, PM_REMOVE); any = true) {
            WAVEHDR* h = reinterpret_cast<WAVEHDR*>(m.lParam);
            const short* data = reinterpret_cast<const short*>(h->lpData);
            l.rec.insert(l.rec.end(), data, data + h->dwBytesRecorded / 2);
            back.push_back(h);
            came.push_back({m.time, h->dwBytesRecorded / 4});
        }
        return any;
    };
    const auto queue_again = [&] {
        for (WAVEHDR* h : back) {
            add(in, h, sizeof *h);
        }
        back.clear();
    };
    const auto play = [&] {
        const long long had = static_cast<long long>(l.rec.size() / 2);
        const DWORD start = GetTickCount();
        l.written = position();
        w.at<decltype(&waveOutOpen)>("waveOutOpen")(&out, 0, &f, 0, 0, CALLBACK_NULL);
        w.at<decltype(&waveOutPrepareHeader)>("waveOutPrepareHeader")(out, &played, sizeof played);
        w.at<decltype(&waveOutWrite)>("waveOutWrite")(out, &played, sizeof played);
        l.play_ms = GetTickCount() - start;
        l.ahead = l.written - had;
        came.clear();
        take();
        for (const auto& c : came) {
            l.came_meanwhile += c.at - start + 50 <= l.play_ms ? c.frames : 0;
        }
    };
    if (d.early) {
        play();
    }
    const DWORD start = GetTickCount();
    const auto waited = [start] { return GetTickCount() - start; };
    // A recorder that hands nothing back in 2 s hands nothing back.
    while ((l.written < 0 || static_cast<long long>(l.rec.size() / 2) < l.written + 44100) &&
           waited() < 5000 && (!l.rec.empty() || waited() < 2000)) {
        if (!take()) {
            Sleep(5);
            continue;
        }
        if (l.written < 0) {
            if (d.stall_ms) {
                Sleep(d.stall_ms);
                take();
            }
            queue_again();
            Sleep(d.pause_ms);
            play();
        }
        queue_again();
    }
    l.last = position();
    w.at<decltype(&waveInReset)>("waveInReset")(in);
    if (out) {
        w.at<decltype(&waveOutReset)>("waveOutReset")(out);
    }
    for (WAVEHDR& h : heads) {
        w.at<decltype(&waveInUnprepareHeader)>("waveInUnprepareHeader")(in, &h, sizeof h);
    }
    w.at<decltype(&waveInClose)>("waveInClose")(in);
    if (out) {
        w.at<decltype(&waveOutUnprepareHeader)>("waveOutUnprepareHeader")(out, &played,
                                                                          sizeof played);
        w.at<decltype(&waveOutClose)>("waveOutClose")(out);
    }
    DestroyWindow(sink);
    return l;
}

constexpr int kDelay = 1234;
constexpr long long kAny = 1LL << 62;

Recorder plain() {
    return {2, 0, 2, kDelay};
}
Recorder swapped() {
    Recorder r = plain();
    r.swap = true;
    return r;
}
// lose_recordings here counts from the recordings already made: 1 this one too, 0 only those
// before it, -1 every one.
Recorder dropping(long long at, long long frames, int recordings) {
    Recorder r = plain();
    r.lose_at = at, r.lose_frames = frames, r.lose_recordings = recordings;
    return r;
}
Recorder holding(const char* call, int ms) {
    Recorder r = plain();
    r.hold_call = call, r.hold_ms = ms;
    return r;
}
Recorder slowed(int factor) {
    Recorder r = plain();
    r.slow = factor;
    return r;
}
Recorder deaf() {
    Recorder r = plain();
    r.deliver = false;
    return r;
}
Recorder dry_at_start() {
    Recorder r = plain();
    r.gap = 1;
    return r;
}

struct Range {
    long long fewest, most;
    bool has(long long n) const { return n >= fewest && n <= most; }
};
Range exactly(long long n) {
    return {n, n};
}

void recorder_itself() {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    const std::wstring copy = std::wstring(tmp) + L"kelvane_recorder_check.dll";
    Winmm w;
    if (CopyFileW((here + L"fake\\winmm.dll").c_str(), copy.c_str(), FALSE)) {
        w.dll = LoadLibraryW(copy.c_str());
    }
    if (!check(w.dll != nullptr, L"the test DLL's recorder loads in the driver")) {
        return;
    }
    serve_device(1, 0, kWorkedRecord);
    // The handles are numbered from 1 in this process, across the cases.
    write_file(inputs_file(), "");
    const wchar_t* const kOnTime = L"the click heard at the position written plus the delay";
    const struct {
        const wchar_t* what;
        const wchar_t* want;
        Drive drive;
        Recorder recorder;
        int channel;  // where the click must be heard, -1 nowhere
        // How far the position written runs ahead of the frames back by then.
        Range ahead;
        // Frames of the clock the recording lost before the click: how much earlier than the
        // position written plus the delay it is heard; none when not said.
        Range (*lost)(const Loop&) = nullptr;
        bool comes_back = true;
    } cases[] = {
        {L"on the default recorder", kOnTime, {}, plain(), 0, {0, kAny}},
        {L"swapped", kOnTime, {}, swapped(), 1, {0, kAny}},
        // Three times as slow, so that the position still reads 0 (its first 900 ms) when a
        // machine busy enough to hold the driver 336 ms between starting and writing has been
        // seen through qemu.
        {L"played before the recording came back",
         L"the click is not heard, the position 0",
         {WAVE_MAPPER, true},
         slowed(3),
         -1,
         exactly(0)},
        {L"on device 0", L"the click is not heard", {0}, plain(), -1, {0, kAny}},
        {L"read 60 ms after the first buffer came",
         L"the position runs ahead of what came back, the click heard there plus the delay",
         {WAVE_MAPPER, false, kBuffers, 0, 60},
         plain(),
         0,
         {frames_in(30), kAny}},
        {L"dropping 1000 frames from frame 2000",
         L"the position counts them, the click heard 1000 frames before it plus the delay",
         {},
         dropping(2000, 1000, 1),
         0,
         {1000, kAny},
         [](const Loop&) { return exactly(1000); }},
        {L"told to drop on the recordings before this one",
         kOnTime,
         {},
         dropping(2000, 1000, 0),
         0,
         {0, kAny}},
        {L"dropping 500 frames from frame 4500, on every recording",
         L"the click, after them, heard 500 frames before the position written plus the delay",
         {},
         dropping(4500, 500, -1),
         0,
         {0, kAny},
         [](const Loop&) { return exactly(500); }},
        {L"with 2 buffers queued and none for 1 s",
         L"what passed unqueued is lost: the click heard earlier by the stretch the position ran "
         L"ahead",
         {WAVE_MAPPER, false, 2, 1000},
         plain(),
         0,
         {frames_in(800), kAny},
         [](const Loop& l) {
             return Range{l.ahead - frames_in(50), l.ahead};
         }},
        {L"holding its caller 500 ms in waveInGetPosition",
         L"the call held while buffers come, the click heard at the answer plus the delay",
         {},
         holding("waveInGetPosition", 500),
         0,
         {frames_in(400), kAny}},
        {L"holding its caller 500 ms in waveOutWrite",
         L"the call held while buffers come, the click heard later by the hold",
         {},
         holding("waveOutWrite", 500),
         0,
         {0, kAny},
         [](const Loop& l) {
             return Range{-frames_in(l.play_ms + 2), -frames_in(500 - 2)};
         }},
        {L"told the output ran dry on its first frame",
         L"the click, on that frame of the output, is not heard",
         {},
         dry_at_start(),
         -1,
         {0, kAny}},
        {L"told to deliver nothing",
         L"no buffer back within 2 s, the position 0",
         {WAVE_MAPPER, true},
         deaf(),
         -1,
         exactly(0),
         nullptr,
         false},
    };
    for (const auto& c : cases) {
        Recorder r = c.recorder;
        if (r.lose_frames > 0 && r.lose_recordings >= 0) {
            const Log made = log_of(inputs_file());
            r.lose_recordings += static_cast<int>(made.handles.size());
        }
        serve_recorder(r);
        const Loop l = loop_once(w, c.drive);
        const long long left = click_in(l.rec, 0), right = click_in(l.rec, 1);
        const long long got = c.channel == 1 ? right : left, other = c.channel == 1 ? left : right;
        const long long lost = l.written + kDelay - got;
        const Range lost_ok = c.lost ? c.lost(l) : Range{0, 0};
        const bool heard = c.channel < 0 ? left == -1 && right == -1
                                         : got >= 0 && other == -1 && lost_ok.has(lost);
        const bool held = r.hold_ms == 0 || (l.play_ms >= DWORD(r.hold_ms) &&
                                             l.came_meanwhile >= frames_in(r.hold_ms - 250));
        const bool back = c.comes_back ? !l.rec.empty() : l.rec.empty() && l.last == 0;
        const std::wstring left_open = all_closed(log_of(inputs_file()), true);
        std::wstring said = L"written at " + std::to_wstring(l.written) + L", " +
                            std::to_wstring(l.ahead) + L" ahead of what came back; heard left at " +
                            std::to_wstring(left) + L", right at " + std::to_wstring(right) +
                            L" of " + std::to_wstring(l.rec.size() / 2) + L" frames";
        if (c.channel >= 0) {
            said += L", " + std::to_wstring(lost) + L" lost before it (wanted " +
                    std::to_wstring(lost_ok.fewest) + L" to " + std::to_wstring(lost_ok.most) +
                    L")";
        }
        if (r.hold_ms) {
            said += L"; writing took " + std::to_wstring(l.play_ms) + L" ms, " +
                    std::to_wstring(l.came_meanwhile) + L" frames came back meanwhile";
        }
        said += L"; position " + std::to_wstring(l.last) + L" at the end " + left_open;
        check(l.written >= 0 && heard && c.ahead.has(l.ahead) && held && back && left_open.empty(),
              L"the test DLL's recorder " + std::wstring(c.what) + L": " + c.want, said);
    }
    FreeLibrary(w.dll);
    DeleteFileW(copy.c_str());
}

}  // namespace

void loopback() {
    recorder_itself();
    menu_item();
    results();
    cancelled();
    serve_device(1, 0, kWorkedRecord);
    DeleteFileW((device_file + L".in").c_str());
}

}  // namespace e2e
