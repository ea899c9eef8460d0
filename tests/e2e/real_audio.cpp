// Kelvane on the stack a user runs: Wine's own winmm.dll, its winepulse driver and a real sound
// server that real_audio.sh starts with null sinks, no test DLL anywhere: PulseAudio, or PipeWire
// through its pulse server.
//
// What device 0 is, is Wine's to say, and Wine versions say it differently: winepulse's endpoint
// that follows the server's default sink is "PulseAudio" in Wine 8 and "PulseAudio Output" in
// Wine 10. So the report expected of Kelvane is built from the driver's own question to the same
// winmm, in the same prefix and against the same server, by the test's own rules for each line;
// nothing of it comes from what Kelvane printed. The devices after device 0 are the server's
// sinks by their descriptions, which shows the server Wine reached is the one the script started.
// What PipeWire's pulse server does differently is list a "Dummy Output" while it has no other
// sink; real_audio.sh starts the driver only once the server lists just its own sinks.
#include <windows.h>

#include <mmsystem.h>
// After mmsystem.h, which it builds on.
#include <mmddk.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <vector>

#include "expectations.h"
#include "harness.h"
#include "scenarios.h"

namespace e2e {
namespace {

// A number as the report prints it: a sign position, then the digits and a space.
std::wstring number(int n) {
    return (n < 0 ? L"-" : L" ") + std::to_wstring(n < 0 ? -n : n) + L" ";
}

// Device 0's report as this Wine describes the device to the driver; empty, and failed, when it
// does not.
Lines device0_by_wine() {
    WAVEOUTCAPSW caps = {};
    const MMRESULT rc = waveOutGetDevCapsW(0, &caps, sizeof caps);
    if (!check(rc == MMSYSERR_NOERROR && caps.szPname[0],
               L"Wine's winmm describes device 0 to the driver", L"error " + std::to_wstring(rc))) {
        return {};
    }
    Lines formats, features;
    for (size_t bit = 0; bit < kAllFormats.size(); ++bit) {
        if (caps.dwFormats & (1u << bit)) {
            formats.push_back(kAllFormats[bit]);
        }
    }
    for (size_t bit = 0; bit < kAllFeatures.size(); ++bit) {
        if (caps.dwSupport & (1u << bit)) {
            features.push_back(kAllFeatures[bit]);
        }
    }
    const auto version = static_cast<INT32>(caps.vDriverVersion);
    wchar_t detail[96];
    wsprintfW(detail, L"\", formats 0x%lx, support 0x%lx, version 0x%lx, %u channels",
              caps.dwFormats, caps.dwSupport, version, caps.wChannels);
    say(L"note: Wine's winmm names device 0 \"" + std::wstring(caps.szPname) + detail);
    const std::wstring channels = number(static_cast<INT16>(caps.wChannels));
    return header(caps.szPname, number(static_cast<INT16>(caps.wPid)),
                  number(static_cast<INT16>(caps.wMid)),
                  number(version / 256) + L"." + number(version % 256),
                  channels.substr(0, channels.size() - 1)) +
           formats + kNoFlags + features;
}

// The driver asks the same winmm itself: one device per sink after the default one, named by
// the sinks' descriptions, so the server it reached is the one the script started.
void check_wine_sees(const Lines& sinks) {
    const UINT count = waveOutGetNumDevs();
    Lines names;
    for (UINT id = 1; id < count; ++id) {
        WAVEOUTCAPSW caps = {};
        waveOutGetDevCapsW(id, &caps, sizeof caps);
        names.push_back(caps.szPname);
    }
    Lines want = sinks;
    std::sort(names.begin(), names.end()), std::sort(want.begin(), want.end());
    std::wstring all;
    for (const std::wstring& name : names) {
        all += L"\"" + name + L"\" ";
    }
    check(count == (sinks.empty() ? 0 : sinks.size() + 1) && names == want,
          L"Wine's winmm sees " + std::to_wstring(sinks.size()) + L" sink(s)",
          std::to_wstring(count) + L" devices: " + all);
}

void close_with_status_0(App& app, const std::wstring& what) {
    app.closes(what + L": closing the window ends Kelvane with status 0");
}

// Kelvane up on Wine's own winmm with device 0's report: the lines expected of it, or none when
// any step failed.
Lines launched_with_report(Session& app, const std::wstring& what) {
    const Lines want = device0_by_wine();
    return !want.empty() && app.launch(L"builtin") && press_for_report(app, what, want) ? want
                                                                                        : Lines{};
}

void device0_reported(const Lines& sinks) {
    const std::wstring what = std::to_wstring(sinks.size()) + L" sink(s): device 0 reported";
    check_wine_sees(sinks);
    Session app;
    const Lines want = device0_by_wine();
    if (!want.empty() && app.launch(L"builtin")) {
        press_for_report(app, what, want);
        close_with_status_0(app, what);
    }
}

void no_server() {
    check_wine_sees({});
    Session app;
    if (app.launch(L"builtin")) {
        app.press();
        if (answer_box(app, L"no server, no ALSA device", kNotFound)) {
            app.ends_with(1, L"no server, no ALSA device: exits with code 1");
        }
    }
}

// real_audio.sh does what a file named ask asks (stop the server, start or stop recording, wait
// for a tone to play out) and answers with a file named done, which may say how it went.
bool script_did(const std::wstring& dir, const wchar_t* ask, const wchar_t* done,
                std::string* said = nullptr) {
    write_file(dir + L"\\" + ask, "");
    const std::wstring answer = dir + L"\\" + done;
    std::string text;
    const bool answered =
        poll(30000, [&] { return GetFileAttributesW(answer.c_str()) != INVALID_FILE_ATTRIBUTES; });
    // The script writes its answer in one go, but may not have closed it yet.
    poll(2000, [&] { return read_file(answer, text); });
    if (said) {
        *said = text.substr(0, text.find('\n'));
    }
    return answered;
}

std::wstring widened(const std::string& utf8) {
    std::wstring w(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, w.data(), int(w.size()));
    w.pop_back();
    return w;
}

// Both files go, the ask before the answer, so that the script never sees an ask as unanswered.
void forget(const std::wstring& dir, const wchar_t* ask, const wchar_t* done) {
    DeleteFileW((dir + L"\\" + ask).c_str());
    DeleteFileW((dir + L"\\" + done).c_str());
}

// The tone just chosen has played at the server and ended, as the script saw it; else what
// Kelvane showed instead.
bool tone_played_out(App& app, const std::wstring& dir, const std::wstring& what) {
    std::string said;
    const bool over = script_did(dir, L"tone-over", L"tone-was-over", &said) && said == "over";
    forget(dir, L"tone-over", L"tone-was-over");
    return check(over, what + L": Kelvane's tone played at the server and ended",
                 widened(said.empty() ? "the script did not answer" : said) + L"; Kelvane shows " +
                     other_windows(app));
}

bool stop_server(const std::wstring& dir) {
    return script_did(dir, L"stop-server", L"server-stopped");
}

// Whatever winmm answers once the server is gone is shown, promptly: Wine's winmm enumerates
// its devices once per process, so the same device 0 is expected again.
void server_stops(const std::wstring& dir) {
    const std::wstring what = L"server stopped while idle";
    Session app;
    const Lines want = launched_with_report(app, what + L", first press");
    if (want.empty() || !check(stop_server(dir), what + L": the script stopped the server")) {
        return;
    }
    const DWORD start = GetTickCount();
    app.press();
    const Box box = app.box(5000);
    check(bool(box), what + L": the second press shows its box within 5 s",
          std::to_wstring(GetTickCount() - start) + L" ms");
    if (box) {
        box.press_ok();
        const DWORD answered = GetTickCount();
        const bool reported = poll(5000, [&] {
            const std::wstring text = text_of(app.pic);
            return !text.empty() && text != kNoAnswer;
        });
        check(reported && exit_code_within(app, 0) == STILL_ACTIVE,
              what + L": a report within 5 s of OK, no crash",
              std::to_wstring(GetTickCount() - answered) + L" ms");
        same_lines(report_after_ok(app), want, what + L": second report");
        close_with_status_0(app, what);
    }
}

// real_audio.sh leaves record-again when the recording had a dropout that says nothing of Kelvane;
// then this round's files go, the asks before the answers, so that the script never sees an ask
// as unanswered.
bool record_again(const std::wstring& dir) {
    if (GetFileAttributesW((dir + L"\\record-again").c_str()) == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    for (const wchar_t* name :
         {L"record-start", L"record-stop", L"record-started", L"record-stopped", L"record-again"}) {
        DeleteFileW((dir + L"\\" + name).c_str());
    }
    return true;
}

// The left tone, then the right, asked for once Kelvane is idle (a tone played while Wine is still
// starting came back cut), each played out; again while the script asks.
void tones(const std::wstring& dir) {
    const std::wstring what = L"tones";
    Session app;
    if (!launched_with_report(app, what).empty()) {
        Sleep(1000);
        bool recorded = false, analysed = false;
        do {
            recorded = script_did(dir, L"record-start", L"record-started");
            if (recorded) {
                // Each tone is let play out at the server before the next step, however slow
                // the machine: a new choice would cut it, and so would the end of the recording.
                choose(app, 'L');
                tone_played_out(app, dir, what + L", left");
                choose(app, 'R');
                tone_played_out(app, dir, what + L", right");
                analysed = script_did(dir, L"record-stop", L"record-stopped");
            }
        } while (recorded && analysed && record_again(dir));
        if (check(recorded, what + L": the script records the sink")) {
            check(analysed, what + L": the script has the recording analysed");
        }
        close_with_status_0(app, what);
    }
}

// The server goes away while a tone plays: Kelvane must not crash or hang past 5 s, and the next
// choice plays the tone or says in the tone's box why it cannot. The script stops the server only
// once Kelvane's stream plays there.
void tone_server_stops(const std::wstring& dir) {
    const std::wstring what = L"server stopped during a tone";
    Session app;
    if (launched_with_report(app, what).empty()) {
        return;
    }
    choose(app, 'L');
    std::string said;
    const bool stopped = script_did(dir, L"stop-server-playing", L"server-stopped", &said);
    if (check(stopped && said == "playing", what + L": the script stopped the server as it played",
              widened(stopped ? said : "the script did not answer") + L"; Kelvane shows " +
                  other_windows(app))) {
        DWORD start = GetTickCount();
        const bool answered =
            done_with_gesture(app, 5000) && exit_code_within(app, 0) == STILL_ACTIVE;
        const std::wstring took = std::to_wstring(GetTickCount() - start) + L" ms";
        say(L"note: with the server gone, Kelvane took the next key after " + took);
        check(answered, what + L": Kelvane answers within 5 s",
              took + L"; Kelvane shows " + other_windows(app));
        start = GetTickCount();
        choose(app, 'R');
        const Box box = app.box(3000);
        const std::wstring shown = other_windows(app);
        if (box) {
            box.press_ok();
        }
        const bool next = (!box || box.title == L"测试音") && done_with_gesture(app, 5000) &&
                          exit_code_within(app, 0) == STILL_ACTIVE;
        check(next, what + L": the next choice plays or says why, within 5 s",
              std::to_wstring(GetTickCount() - start) + L" ms; Kelvane showed " + shown +
                  L", then " + other_windows(app));
        close_with_status_0(app, what);
    }
}

// For tests/e2e/real_audio.sh BUILD_DIR latency: five left tones, the moment of each menu choice
// noted in Unix milliseconds for the script to set against the onsets it heard.
void latency(const std::wstring& dir) {
    Session app;
    if (!launched_with_report(app, L"latency").empty()) {
        Sleep(1000);
        if (script_did(dir, L"record-start", L"record-started")) {
            std::string chosen;
            for (int round = 0; round < 5; ++round) {
                focus_picture(app);
                key(app, VK_F10, VK_SHIFT);
                menu_of(app);
                FILETIME now;
                GetSystemTimeAsFileTime(&now);
                const ULONGLONG ticks = ULONGLONG(now.dwHighDateTime) << 32 | now.dwLowDateTime;
                chosen += std::to_string((ticks - 116444736000000000ULL) / 10000) + "\n";
                key(app, 'L');
                tone_played_out(app, dir, L"latency");
            }
            write_file(dir + L"\\chosen", chosen);
            script_did(dir, L"record-stop", L"record-stopped");
        }
        close_with_status_0(app, L"latency");
    }
}

// The automatic check over a real loop: real_audio.sh makes the server's default source the monitor
// of the null sink that stands for the speakers, before Kelvane starts, so what Kelvane records is
// what reached them; or, for the loopback-chain cases, that monitor through sox, which plants one
// fault on the way. A case names the box's lines by their shapes, in order: the fixed parts
// exactly, the measured numbers as patterns, and what those numbers may be.
struct Figure {
    const std::wstring& shape;  // the line's pattern: its first number is the figure
    double low, high;
};

struct LoopbackCase {
    const wchar_t* name;
    Lines shapes;  // without the recorder's line, which comes from Wine
    const wchar_t* icon;
    // What each tone reads when the loop loses nothing of it.
    double left_dbfs = -12.0, right_dbfs = -12.0;
    std::vector<Figure> figures = {};
    // The cable breaks the sound, silencing it and keeping every frame: each tone's breaks must
    // be named unless the sink's own tone was held up in all listens but one.
    bool keeps_every_frame = false;
};

const std::wstring kLeftHeard = L"左声道：听到，(\\d+) Hz，(-?\\d+\\.\\d) dBFS",
                   kRightHeard = L"右声道：听到，(\\d+) Hz，(-?\\d+\\.\\d) dBFS",
                   kRightUnheard = L"右声道：没听到（录音里只有 (-?\\d+\\.\\d) dBFS 的噪声）",
                   kLeftGaps = L"左声道的测试音中断了 (\\d+) 次（断音），声音可能时断时续。",
                   kRightGaps = L"右声道的测试音中断了 (\\d+) 次（断音），声音可能时断时续。",
                   kLeftDistorted = L"左声道失真 (\\d+(?:\\.\\d)?) %，声音可能发破。",
                   kRightDistorted = L"右声道失真 (\\d+(?:\\.\\d)?) %，声音可能发破。",
                   kClipped = L"录音电平过高，录音被削顶；请调低录音音量后再试。",
                   kHum =
                       L"录音里有 50 Hz 的嗡嗡声（(-?\\d+\\.\\d) dBFS），可能是接地或线缆的问题。",
                   kRightQuieter = L"右声道比左声道小 (\\d+\\.\\d) dB。",
                   kSwapped = L"左右声道接反：左声道的测试音出现在录音的右声道。",
                   kLatency = L"往返延迟：(\\d+) ms";

// The faults real_audio.sh's sox plants (chain_start says how), each figure within a span around
// what a recording of the chain with pure tools measured: THD 9.1 %, hum -29.6 dBFS, the right
// side 6.0 dB down, 4 or 5 gaps of 3 ms in each tone's steady part, or 1 or 2 of 10 ms every
// 300 ms. Each fault's own line and no other: the plain chain none at all.
const LoopbackCase kLoopbackCases[] = {
    {L"loopback", {kLeftHeard, kRightHeard, kLatency}, L"information"},
    {L"loopback-swapped", {kLeftHeard, kRightHeard, kSwapped, kLatency}, L"information"},
    {L"loopback-right-off", {kLeftHeard, kRightUnheard, kLatency}, L"warning"},
    {L"loopback-chain", {kLeftHeard, kRightHeard, kLatency}, L"information"},
    {L"loopback-chain-overdrive",
     {kLeftHeard, kRightHeard, kLeftDistorted, kRightDistorted, kLatency},
     L"warning",
     -3.3,
     -3.3,
     {{kLeftDistorted, 7.0, 11.0}, {kRightDistorted, 7.0, 11.0}}},
    {L"loopback-chain-right-quiet",
     {kLeftHeard, kRightHeard, kRightQuieter, kLatency},
     L"warning",
     -12.0,
     -18.0,
     {{kRightQuieter, 5.0, 7.0}}},
    {L"loopback-chain-hum",
     {kLeftHeard, kRightHeard, kHum, kLatency},
     L"warning",
     -12.0,
     -12.0,
     {{kHum, -31.6, -27.6}}},
    // Cut flat, the tone's 440 Hz reads 1.3 dBFS; its distortion is not told, being the clip's.
    {L"loopback-chain-clip", {kLeftHeard, kRightHeard, kClipped, kLatency}, L"warning", 1.3, 1.3},
    {L"loopback-chain-gaps",
     {kLeftHeard, kRightHeard, kLeftGaps, kRightGaps, kLatency},
     L"warning",
     -12.3,
     -12.3,
     {{kLeftGaps, 4, 5}, {kRightGaps, 4, 5}},
     true},
    {L"loopback-chain-breaks",
     {kLeftHeard, kRightHeard, kLeftGaps, kRightGaps, kLatency},
     L"warning",
     -12.2,
     -12.2,
     {{kLeftGaps, 1, 2}, {kRightGaps, 1, 2}},
     true},
};

// The default recording device as this Wine names it to the driver: the wave mapper's preferred
// input, which Wine gives as the mapper itself while the user has chosen none; then device 0,
// winepulse's input that follows the server's default source. Empty, and failed, when Wine does
// not say.
std::wstring recorder_by_wine() {
    DWORD id = 0, flags = 0;
    if (waveInMessage(reinterpret_cast<HWAVEIN>(WAVE_MAPPER), DRVM_MAPPER_PREFERRED_GET,
                      reinterpret_cast<DWORD_PTR>(&id),
                      reinterpret_cast<DWORD_PTR>(&flags)) != MMSYSERR_NOERROR ||
        id >= waveInGetNumDevs()) {
        id = 0;
    }
    WAVEINCAPSW caps = {};
    const MMRESULT rc = waveInGetDevCapsW(id, &caps, sizeof caps);
    check(rc == MMSYSERR_NOERROR && caps.szPname[0],
          L"Wine's winmm describes the default recording device to the driver",
          L"device " + std::to_wstring(id) + L", error " + std::to_wstring(rc));
    say(L"note: Wine's winmm names recording device " + std::to_wstring(id) + L" \"" +
        caps.szPname + L"\", " + std::to_wstring(caps.wChannels) + L" channels");
    return rc == MMSYSERR_NOERROR ? caps.szPname : L"";
}

std::wstring regex_quoted(const std::wstring& text) {
    static const std::wstring special = L"\\^$.|?*+()[]{}";
    std::wstring quoted;
    for (wchar_t c : text) {
        if (special.find(c) != std::wstring::npos) {
            quoted += L'\\';
        }
        quoted += c;
    }
    return quoted;
}

// Where the case gives a span for the figure of a line of this shape, and the figure is outside
// it: what it should be. Else empty.
std::wstring figure_fault(const LoopbackCase& c, const std::wstring& shape, double figure) {
    for (const Figure& f : c.figures) {
        if (shape == f.shape && (figure < f.low || figure > f.high)) {
            std::wostringstream want;
            want << L"want its figure between " << f.low << L" and " << f.high;
            return want.str();
        }
    }
    return L"";
}

// Each line in the shape its pattern gives, and each number in it within what the loop allows: a
// tone heard is the tone's pitch within the 2 % that heard means, at a level no more than 1 dB
// louder than the loop gives it and no quieter than heard allows; a latency inside the half second
// the check looks for a tone in, short of its edge; a fault's figure within the case's span. Empty
// when all hold; else what did not, line by line.
std::wstring unlike(const Lines& got, const Lines& shapes, const LoopbackCase& c, int& latency) {
    std::wstring diff;
    for (size_t i = 0; i < got.size() || i < shapes.size(); ++i) {
        const std::wstring g = i < got.size() ? got[i] : L"<none>";
        std::wsmatch m;
        std::wstring fault;
        if (i >= shapes.size() || !std::regex_match(g, m, std::wregex(shapes[i]))) {
            fault = L"want the shape \"" + (i < shapes.size() ? shapes[i] : L"<none>") + L"\"";
        } else if (shapes[i] == kLeftHeard || shapes[i] == kRightHeard) {
            const long hz = std::wcstol(m[1].str().c_str(), nullptr, 10);
            const double level = std::wcstod(m[2].str().c_str(), nullptr);
            const double loudest = (shapes[i] == kLeftHeard ? c.left_dbfs : c.right_dbfs) + 1.0;
            if (hz < 431 || hz > 449 || level < -60.0 || level > loudest) {
                std::wostringstream want;
                want << L"want 440 Hz within 2 %, between -60 and " << loudest << L" dBFS";
                fault = want.str();
            }
        } else if (shapes[i] == kLatency) {
            latency = std::wcstol(m[1].str().c_str(), nullptr, 10);
            if (latency >= 500) {
                fault = L"want a latency inside the window the check looks in, below 500 ms";
            }
        }
        if (fault.empty() && i < shapes.size()) {
            fault = figure_fault(c, shapes[i], std::wcstod(m[1].str().c_str(), nullptr));
        }
        if (!fault.empty()) {
            diff += L"\n  line " + std::to_wstring(i + 1) + L": got \"" + g + L"\", " + fault;
        }
    }
    return diff;
}

// The plain loops change no level and add no noise: a tone kept whole reads -12.0 dBFS; a faulty
// chain gives each tone the level of the case. Where Wine 8's winepulse leaves the server dry
// during the tones (WINEDEBUG=warn+pulse: Underflow) they go out with short gaps of silence and
// read low, up to 3.2 dB low seen: true of what came out. Lower still is what the boxes that lost
// sound said (-15.7 and -16.2 dBFS with latencies of 600 and 735 ms), which Kelvane must find and
// never judge. The first such line, or empty.
std::wstring sound_lost(const Lines& got, const LoopbackCase& c) {
    for (const std::wstring& line : got) {
        std::wsmatch m;
        const bool left = std::regex_match(line, m, std::wregex(kLeftHeard));
        if ((left || std::regex_match(line, m, std::wregex(kRightHeard))) &&
            std::wcstod(m[2].str().c_str(), nullptr) < (left ? c.left_dbfs : c.right_dbfs) - 3.5) {
            return line;
        }
    }
    return L"";
}

// Kelvane's own word that the recording lost sound twice, in place of any verdict.
const std::wstring kUnjudged =
    L"检测时声音(丢失了约 \\d+ ms|不完整)，无法判断。请关闭占用电脑的程序后再试一次。";

// Chosen once Kelvane is idle, as the tones are; the check takes at most 7 s when it records
// twice, and 11.4 s has been seen through qemu with a third (after one that lost sound, to
// confirm the breaks of the next), so a box not there 12 s after the choice is a fault. The box is
// taken as it comes, once: a verdict must hold for this loop. Its breaks and a word that sound
// was lost go to a file, for the script to weigh against what the sink played (Wine's output can
// break or hold up the sound itself), and so does Kelvane's latency, a figure.
void loopback(const std::wstring& dir, const LoopbackCase& c) {
    const std::wstring what = c.name;
    const std::wstring recorder = recorder_by_wine();
    Session app;
    if (recorder.empty() || launched_with_report(app, what).empty()) {
        return;
    }
    Sleep(1000);
    check(script_did(dir, L"record-start", L"record-started"),
          what + L": the script records the speakers' sink, before the cable, as the check runs");
    const DWORD chosen = GetTickCount();
    const bool menu = choose(app, 'A');
    const Box box = app.box(12000);
    const std::wstring took = std::to_wstring(GetTickCount() - chosen) + L" ms";
    if (!check(menu && box, what + L": the result box appears within 12 s of choosing",
               (menu ? L"" : L"no context menu came up, or it stayed up; ") + took +
                   L"; Kelvane shows " + other_windows(app))) {
        return;
    }
    say(L"note: the result box came " + took + L" after the choice");
    std::wstring shown = box.text;
    std::replace(shown.begin(), shown.end(), L'\n', L'|');
    say(L"note: the box says \"" + shown + L"\"");
    check(box.title == L"自动检测" && box.buttons == 1 && box.owner == app.form,
          what + L": a box titled 自动检测 with one button, owned by the form", box.said());
    // The breaks named, and a box that says sound was lost, are true or not of what the sink
    // itself played (Wine's output can break or hold up the sound before any cable): the script
    // weighs them against its recording of the sink; here, only their figures.
    Lines got, shapes;
    int named[2] = {};
    std::wstring figures;
    for (const std::wstring& line : box.lines()) {
        std::wsmatch m;
        const bool left = std::regex_match(line, m, std::wregex(kLeftGaps));
        if (left || std::regex_match(line, m, std::wregex(kRightGaps))) {
            named[left ? 0 : 1] = std::wcstol(m[1].str().c_str(), nullptr, 10);
            const std::wstring fault =
                figure_fault(c, left ? kLeftGaps : kRightGaps, named[left ? 0 : 1]);
            figures += fault.empty() ? L"" : L"\n  \"" + line + L"\": " + fault;
        } else {
            got.push_back(line);
        }
    }
    const bool unjudged = !got.empty() && std::regex_match(got[0], std::wregex(kUnjudged));
    for (const std::wstring& shape : unjudged ? Lines{kUnjudged} : c.shapes) {
        if (shape != kLeftGaps && shape != kRightGaps) {
            shapes.push_back(shape);
        }
    }
    shapes.push_back(L"录音设备：" + regex_quoted(recorder));
    int latency = -1;
    const std::wstring diff = unlike(got, shapes, c, latency) + figures;
    check(diff.empty(), what + L": the box's lines", L"text \"" + box.text + L"\"" + diff);
    const std::wstring lost = sound_lost(got, c);
    check(lost.empty(), what + L": a verdict that holds for the loop's levels",
          L"\"" + lost + L"\"");
    const std::wstring icon = box.stock_icon();
    // Breaks are a warning's, named or not, as is sound lost.
    const bool warned = unjudged || named[0] || named[1];
    const std::wstring want_icon = warned ? L"warning" : c.icon;
    check(icon == want_icon, what + L": the box shows the " + want_icon + L" icon", icon);
    if (unjudged) {
        say(L"note: unjudged box: Kelvane found the recording broken twice");
    }
    if (latency >= 0) {
        write_file(dir + L"\\loopback-latency", std::to_string(latency) + "\n");
    }
    write_file(dir + L"\\loopback-box", "unjudged " + std::to_string(unjudged) + "\nplanted " +
                                            std::to_string(c.keeps_every_frame) + "\nswapped " +
                                            std::to_string(what == L"loopback-swapped") +
                                            "\nleft " + std::to_string(named[0]) + "\nright " +
                                            std::to_string(named[1]) + "\n");
    script_did(dir, L"record-stop", L"record-stopped");
    check(box.answer() && done_with_gesture(app),
          what + L": OK closes the box and the window keeps working", other_windows(app));
    close_with_status_0(app, what);
}

}  // namespace

void real_audio(const std::wstring& scenario, const std::wstring& dir, const Lines& sinks) {
    if (scenario == L"sinks") {
        device0_reported(sinks);
    } else if (scenario == L"no-server") {
        no_server();
    } else if (scenario == L"server-stops") {
        server_stops(dir);
    } else if (scenario == L"tones") {
        tones(dir);
    } else if (scenario == L"tone-server-stops") {
        tone_server_stops(dir);
    } else if (scenario == L"latency") {
        latency(dir);
    } else if (const auto* c =
                   std::find_if(std::begin(kLoopbackCases), std::end(kLoopbackCases),
                                [&](const LoopbackCase& known) { return scenario == known.name; });
               c != std::end(kLoopbackCases)) {
        loopback(dir, *c);
    } else {
        check(false, L"known real-audio scenario", scenario);
    }
}

}  // namespace e2e
