// Stand-in for the system winmm.dll: serves a device the driver describes, so the report can be
// checked against records no real sound card produces (partial writes, odd names, sign bits).
// It also takes the test tone: it refuses the open when told to, and otherwise keeps what it was
// handed (device id, format, samples) in a file beside the device's for the driver to read. The
// tone then "plays" until it is reset, as a long one would, and its handle cannot be closed
// before that. Each handle is numbered from 1 in the order opened, and what becomes of it is
// logged in another file beside the device's, so the driver can tell a tone left playing.
//
// Recording is a loopback of that playback, as the file KELVANE_FAKE_WINMM.in sets it: the
// default recorder hears what waveOut was handed, late by a set number of frames, louder or
// quieter, its channels swapped or one of them dead, one side quieter, with gaps where the output
// ran dry, through an input that clips, with noise or mains hum. It keeps time as a real driver
// does, by the wall clock: frame n is captured 300 ms + n / 44100 s after waveInStart (stretched
// by the file's slow factor), into the buffer at the front of the queue, and a buffer comes back
// once the clock has passed its last frame, so the first one comes some 400 ms after the start.
// Frames that pass while no buffer is queued are lost, with no error: the next buffer queued
// starts from the clock at that moment. waveInGetPosition answers the clock (0 during the first
// 300 ms), which runs ahead of what has come back by the buffer being filled and by whatever was
// lost. Output is heard from the clock's frame at its waveOutWrite plus the delay; where the
// program read the position since its last write, no more than 100 ms of the clock before this
// one, from the frame it was told, as a device whose position moves a period at a time would
// have it, so that a program that times its output by the position finds the delay to the frame.
// Until the first buffer has come back the position is not used, so a program that plays before the
// recording delivers finds another delay, or its tone cut. The file can also make the recorder lose
// a stretch of what it hears, or never hand a buffer back, and hold the caller inside one call
// while a recording runs, as a busy machine would. Device 0 is not the default recorder: it has
// another name and hears nothing.
#include <windows.h>

// These are the definitions, not imports.
#define _WINMM_
#include <mmsystem.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "test_winmm_marker.h"

namespace {

struct Device {
    UINT count = 0;
    UINT rc = 0;
    UINT open_rc = 0;
    unsigned char record[64] = {};
    size_t length = 0;
};

#ifdef KELVANE_PLANTED
// Only loaded if Kelvane searches its own folder; the name makes that visible in the report.
Device current() {
    Device d;
    d.count = 1;
    d.length = 52;
    std::memcpy(d.record + 8, "PLANTED", 7);
    return d;
}
#else
// The file is read on every call so one Kelvane process can be walked through many devices.
// Format: "count rc hexbytes open_rc", "-" for no bytes.
Device current() {
    Device d;
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("KELVANE_FAKE_WINMM", path, sizeof path);
    FILE* f = n && n < sizeof path ? std::fopen(path, "r") : nullptr;
    if (!f) {
        return d;
    }
    char count[16] = {}, rc[16] = {}, hex[2 * sizeof d.record + 2] = {}, open_rc[16] = {};
    if (std::fscanf(f, "%15s %15s %130s %15s", count, rc, hex, open_rc) >= 2) {
        d.count = std::strtoul(count, nullptr, 0);
        d.rc = std::strtoul(rc, nullptr, 0);
        d.open_rc = std::strtoul(open_rc, nullptr, 0);
        for (const char* p = hex; p[0] && p[1] && p[0] != '-' && d.length < sizeof d.record;
             p += 2) {
            char byte[3] = {p[0], p[1], 0};
            d.record[d.length++] = static_cast<unsigned char>(std::strtoul(byte, nullptr, 16));
        }
    }
    std::fclose(f);
    return d;
}
#endif

// Every open this process made, never reused, so that a call on a closed handle shows.
struct Open {
    UINT device;
    WAVEFORMATEX format;
    HWND notify;
    WAVEHDR* playing;
    bool closed;
    int heard;  // its place in what the recorder hears, -1 for none
};
Open opens[64];
int opened = 0;

// "KELVANE_FAKE_WINMM" + suffix, opened in mode; null when there is no such path.
FILE* beside_device(const char* suffix, const char* mode) {
    char path[MAX_PATH + 8];
    const DWORD n = GetEnvironmentVariableA("KELVANE_FAKE_WINMM", path, MAX_PATH);
    if (!n || n >= MAX_PATH) {
        return nullptr;
    }
    lstrcatA(path, suffix);
    return std::fopen(path, mode);
}

// "KELVANE_FAKE_WINMM.opens", one line a call: "open 1", "write 1", "reset 1", "close 1" (only
// once it closed), and "bad CALL" for a call on a handle that is not open.
void note(const char* call, const Open* open) {
    if (FILE* f = beside_device(".opens", "a")) {
        if (open) {
            std::fprintf(f, "%s %d\n", call, static_cast<int>(open - opens) + 1);
        } else {
            std::fprintf(f, "bad %s\n", call);
        }
        std::fclose(f);
    }
}

// The open behind a handle; null, logged, when it is not an open one.
Open* open_of(HWAVEOUT out, const char* call) {
    for (Open* o = opens; o < opens + opened; ++o) {
        if (reinterpret_cast<HWAVEOUT>(o) == out && !o->closed) {
            return o;
        }
    }
    note(call, nullptr);
    return nullptr;
}

#ifndef DRVM_MAPPER_PREFERRED_GET
#define DRVM_MAPPER_PREFERRED_GET (0x2000 + 21)
#endif

// How the recorder hears the playback. Format of KELVANE_FAKE_WINMM.in, one line:
// "devices open_rc channels delay gain_db swap mute noise slow hold_call hold_ms lose_at
// lose_frames lose_recordings deliver gap gap_every gap_first drive hum_hz hum_dbfs right_gain_db
// gap_recordings name":
//   devices          what waveInGetNumDevs says (the default recorder is device 1, so anything
//                    below 2 leaves it out)
//   open_rc          what a refused waveInOpen returns, unless it is 0
//   channels         the default recorder's
//   delay            in frames, from the clock's frame at the write to where it is heard
//   gain_db, swap    swap is 0 or 1
//   mute             "-", "L", "R" or "LR": the output channels that are never heard
//   noise            the size of a random-sign noise added to each recorded channel
//   slow             stretches the recording's wall time by that factor, so that a check outlasts
//                    what a test does while it runs
//   hold_call        an exported function ("waveOutWrite", "waveInAddBuffer", ...), or "-": while
//                    a recording is started, every call of it first sleeps hold_ms
//   lose_at, lose_frames
//                    the recorder drops lose_frames frames from its clock's frame lose_at on: the
//                    buffers after carry the sound from lose_at + lose_frames, at the same pace
//                    (the one across the drop comes back that much later), so that what came back
//                    falls behind the position by what was dropped; 0 frames drops nothing
//   lose_recordings  which recordings drop them, counted by waveInOpen in this process: 0 none,
//                    N the first N, -1 every one
//   deliver          1; 0 opens and starts as usual but never hands a buffer back, nor moves the
//                    position from 0
//   gap, gap_every, gap_first
//                    frames of the output silenced, as a device that ran dry plays them: gap
//                    frames from the output's own frame gap_first on, and again every gap_every
//                    frames after (0: once); placed on the output, not the clock, so that where
//                    they fall in each tone is known to the frame. 0 frames silences nothing
//   drive            a soft clip of what is recorded: x becomes tanh(drive x / F) F / drive (F
//                    full scale), the same for small x and never beyond F / drive; 0 for none
//   hum_hz, hum_dbfs mains hum heard all the time, on each channel: a sine at hum_hz with its 2nd
//                    harmonic at half and its 3rd at a quarter of its amplitude, hum_dbfs their
//                    total as a sine's peak (full scale is 0 dBFS); 0 Hz for none
//   right_gain_db    more gain on the output's right channel, a speaker quieter or louder
//   gap_recordings   which recordings hear the gaps, counted as lose_recordings is: 0 every one
//                    (a fault of the sound), N the first N (a stutter of the machine's)
//   name             UTF-8, the rest of the line: the default recorder's
// A line of the first nine numbers and the name alone, as older tests wrote it, leaves the rest
// as they are by default, and so does one that ends its numbers at deliver. No file: no recorder
// at all.
struct Loopback {
    UINT devices = 0;
    UINT open_rc = 0;
    int channels = 2;
    int delay = 0;
    double gain = 1;
    bool swap = false, mute_left = false, mute_right = false;
    int noise = 0;
    int slow = 1;
    char hold_call[32] = "-";
    int hold_ms = 0;
    long long lose_at = 0, lose_frames = 0;
    int lose_recordings = 0;
    bool deliver = true;
    long long gap = 0, gap_every = 0, gap_first = 0;
    double drive = 0;
    int hum_hz = 0;
    double hum_dbfs = 0;
    double right_gain = 1;
    int gap_recordings = 0;
    wchar_t name[MAXPNAMELEN] = L"";
};

Loopback loopback() {
    Loopback l;
    FILE* f = beside_device(".in", "r");
    if (!f) {
        return l;
    }
    char line[512] = {};
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    unsigned devices = 0, open_rc = 0;
    int channels = 0, delay = 0, swap = 0, noise = 0, slow = 1;
    double gain_db = 0;
    char mute[8] = {};
    Loopback more;
    int deliver = 1, name_at = 0;
    int got = read ? std::sscanf(line, "%u %u %d %d %lf %d %7s %d %d %31s %d %lld %lld %d %d %n",
                                 &devices, &open_rc, &channels, &delay, &gain_db, &swap, mute,
                                 &noise, &slow, more.hold_call, &more.hold_ms, &more.lose_at,
                                 &more.lose_frames, &more.lose_recordings, &deliver, &name_at)
                   : 0;
    if (got >= 9 && got < 15) {
        // The older line: what was taken for the new fields is the name.
        more = Loopback();
        deliver = 1, name_at = 0;
        got = std::sscanf(line, "%u %u %d %d %lf %d %7s %d %d %n", &devices, &open_rc, &channels,
                          &delay, &gain_db, &swap, mute, &noise, &slow, &name_at);
    }
    if (got < 9) {
        return l;
    }
    l.devices = devices, l.open_rc = open_rc, l.channels = channels, l.delay = delay;
    l.gain = std::pow(10.0, gain_db / 20), l.swap = swap != 0, l.noise = noise;
    l.slow = slow > 1 ? slow : 1;
    l.mute_left = std::strchr(mute, 'L') != nullptr;
    l.mute_right = std::strchr(mute, 'R') != nullptr;
    std::memcpy(l.hold_call, more.hold_call, sizeof l.hold_call);
    l.hold_call[sizeof l.hold_call - 1] = 0;
    l.hold_ms = more.hold_ms > 0 ? more.hold_ms : 0;
    l.lose_at = more.lose_at > 0 ? more.lose_at : 0;
    l.lose_frames = more.lose_frames > 0 ? more.lose_frames : 0;
    l.lose_recordings = more.lose_recordings;
    l.deliver = deliver != 0;
    // The faults, where the numbers go on past deliver; else what follows it is the name.
    Loopback faults;
    double right_gain_db = 0;
    int faults_at = 0;
    if (got == 15 &&
        std::sscanf(line + name_at, "%lld %lld %lld %lf %d %lf %lf %n", &faults.gap,
                    &faults.gap_every, &faults.gap_first, &faults.drive, &faults.hum_hz,
                    &faults.hum_dbfs, &right_gain_db, &faults_at) == 7) {
        name_at += faults_at;
        int recordings_at = 0;
        if (std::sscanf(line + name_at, "%d %n", &l.gap_recordings, &recordings_at) == 1) {
            name_at += recordings_at;
        }
        l.gap = faults.gap, l.gap_every = faults.gap_every, l.gap_first = faults.gap_first;
        l.drive = faults.drive, l.hum_hz = faults.hum_hz, l.hum_dbfs = faults.hum_dbfs;
        l.right_gain = std::pow(10.0, right_gain_db / 20);
    }
    char* name = line + (name_at > 0 ? name_at : std::strlen(line));
    name[std::strcspn(name, "\r\n")] = 0;
    MultiByteToWideChar(CP_UTF8, 0, name, -1, l.name, MAXPNAMELEN);
    l.name[MAXPNAMELEN - 1] = 0;
    return l;
}

constexpr UINT kDefaultRecorder = 1;
constexpr int kRate = 44100;
// The wall time from waveInStart to the recording's frame 0; its first buffer comes a buffer's
// length after that.
constexpr DWORD kLeadInMs = 300;
// How far the clock may move past the position a program read before its write still lands
// where that position said: a device whose position moves in periods this long would have
// answered the same. A caller held up longer than this finds its output heard that much later.
constexpr long long kPeriodFrames = kRate / 10;

// A buffer in a recording's queue, and the clock's frame when it was added: one added after the
// queue ran dry starts from there, the frames in between lost.
struct Queued {
    WAVEHDR* header;
    long long after;
};

// Every waveIn open this process made, never reused, like the waveOut ones.
struct Input {
    UINT device = 0;
    WAVEFORMATEX format = {};
    HWND notify = nullptr;
    bool closed = false;
    bool started = false;
    DWORD started_at = 0;
    // As the file said when it started.
    int slow = 1;
    bool deliver = true;
    long long lose_at = 0, lose_frames = 0;
    long long base = 0;       // the clock's frame at the start: where a stop left it
    long long next = 0;       // the clock's frame the next buffer may start from
    long long delivered = 0;  // frames handed back
    long long answered = -1;  // the position last read since the last write, -1 for none
    std::vector<Queued> queue;
    HANDLE thread = nullptr;
    HANDLE wake = nullptr;  // set when a buffer is added or the recording stops
};
Input inputs[16];
int inputs_opened = 0;

// What the output handed over, on the recording's clock: heard from frame at, up to frame until
// (where it was reset).
struct Heard {
    const Input* on;  // the recording whose clock at and until are on
    long long at, until;
    int channels;
    std::vector<short> samples;
};
std::vector<Heard> heard;
// The one recording whose clock the output is placed on.
Input* recording = nullptr;
// Guards all of the above against the threads that deliver the recordings.
CRITICAL_SECTION lock;

struct Locked {
    Locked() { EnterCriticalSection(&lock); }
    ~Locked() { LeaveCriticalSection(&lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

// "KELVANE_FAKE_WINMM.inputs", as ".opens" is for waveOut: "open N DEVICE", "start N",
// "stop N", "reset N", "close N", and "bad CALL" for a call on a handle that is not open.
void note_input(const char* call, const Input* in) {
    if (FILE* f = beside_device(".inputs", "a")) {
        if (!in) {
            std::fprintf(f, "bad %s\n", call);
        } else if (std::strcmp(call, "open") == 0) {
            std::fprintf(f, "open %d %u\n", static_cast<int>(in - inputs) + 1, in->device);
        } else {
            std::fprintf(f, "%s %d\n", call, static_cast<int>(in - inputs) + 1);
        }
        std::fclose(f);
    }
}

Input* input_of(HWAVEIN h, const char* call) {
    for (Input* in = inputs; in < inputs + inputs_opened; ++in) {
        if (reinterpret_cast<HWAVEIN>(in) == h && !in->closed) {
            return in;
        }
    }
    note_input(call, nullptr);
    return nullptr;
}

// The caller sleeps here when the file names this call, while a recording runs; the lock stays
// free meanwhile, so the recording goes on.
void hold(const char* call) {
    bool running = false;
    {
        Locked held;
        for (const Input* in = inputs; in < inputs + inputs_opened; ++in) {
            running = running || in->started;
        }
    }
    if (running) {
        const Loopback l = loopback();
        if (l.hold_ms > 0 && std::strcmp(l.hold_call, call) == 0) {
            Sleep(static_cast<DWORD>(l.hold_ms));
        }
    }
}

long long floor_div(long long a, long long b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

// The frame in's clock stands at, by the wall clock: negative in the lead-in.
long long clock_frame(const Input* in) {
    const long long ms = static_cast<long long>(GetTickCount() - in->started_at) -
                         static_cast<long long>(in->slow) * kLeadInMs;
    return in->base + floor_div(ms * kRate, 1000LL * in->slow);
}

// The wall time after the start, in ms, at which in's clock has passed frame end - 1.
long long passed_ms(const Input* in, long long end) {
    return static_cast<long long>(in->slow) * kLeadInMs -
           floor_div(-(end - in->base) * 1000 * in->slow, kRate);
}

// The clock's frames a buffer of `frames` takes from frame from on: [first, cut), then
// [resume, end), with the stretch the recorder drops in between.
struct Span {
    long long first, cut, resume, end;
};
Span span_of(const Input* in, long long from, long long frames) {
    const long long lost = in->lose_at, found = in->lose_at + in->lose_frames;
    if (in->lose_frames > 0 && from >= lost && from < found) {
        from = found;
    }
    if (in->lose_frames > 0 && from < lost && from + frames > lost) {
        return {from, lost, found, found + from + frames - lost};
    }
    return {from, from + frames, from + frames, from + frames};
}

// Takes the samples at once (the program may refill the buffer) and places them on the current
// recording's clock; its index in heard, or -1 when nothing records.
int loop_back(const WAVEFORMATEX& format, const WAVEHDR* header) {
    Locked held;
    if (!recording || !recording->started || format.nChannels < 1 || format.nChannels > 2) {
        return -1;
    }
    Input* in = recording;
    const long long now = clock_frame(in);
    const bool told = in->delivered > 0 && in->answered >= 0 && now - in->answered <= kPeriodFrames;
    const long long at = told ? in->answered : now;
    in->answered = -1;
    const short* data = reinterpret_cast<const short*>(header->lpData);
    heard.push_back({in, at + loopback().delay, LLONG_MAX, format.nChannels,
                     std::vector<short>(data, data + header->dwBufferLength / 2)});
    return static_cast<int>(heard.size()) - 1;
}

// A reset output is heard no further than the clock had reached.
void fall_silent(int index) {
    Locked held;
    if (index >= 0 && index < static_cast<int>(heard.size()) && heard[index].on == recording &&
        recording) {
        heard[index].until = clock_frame(recording) + loopback().delay;
    }
}

// Noise of one sign or the other, fixed by the frame and the channel, so that a run repeats.
int noise_at(long long frame, int channel, int size) {
    unsigned long long x = static_cast<unsigned long long>(frame) * 2 + channel;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return (x ^ (x >> 31)) & 1 ? size : -size;
}

// Whether the device ran dry on the output's frame k, and played silence in its place, as heard
// by the recording made-th in this process.
bool dry(const Loopback& l, long long k, int made) {
    if (l.gap <= 0 || k < l.gap_first || (l.gap_recordings > 0 && made >= l.gap_recordings)) {
        return false;
    }
    return (l.gap_every > 0 ? (k - l.gap_first) % l.gap_every : k - l.gap_first) < l.gap;
}

double soft_clipped(const Loopback& l, double x) {
    return l.drive > 0 ? std::tanh(l.drive * x / 32767) * 32767 / l.drive : x;
}

// The hum at the clock's frame n. Its frequency is whole Hz, so it repeats every second, which
// keeps the phase exact however long the recording runs.
double hum_at(const Loopback& l, long long n) {
    if (l.hum_hz <= 0) {
        return 0;
    }
    constexpr double kPi = 3.14159265358979323846;
    // The harmonics at 1/2 and 1/4 make the total's peak squared 21/16 of the fundamental's.
    const double peak = 32767 * std::pow(10.0, l.hum_dbfs / 20) * std::sqrt(16.0 / 21);
    const double w = 2 * kPi * l.hum_hz * static_cast<double>((n % kRate + kRate) % kRate) / kRate;
    return peak * (std::sin(w) + std::sin(2 * w) / 2 + std::sin(3 * w) / 4);
}

short clamped(double x) {
    x = std::floor(x + 0.5);
    return static_cast<short>(x > 32767 ? 32767 : x < -32768 ? -32768 : x);
}

// Frames [from, from + frames) of what `in` records, in its own format, into out.
void record_into(const Input* in, long long from, long long frames, short* out) {
    const Loopback l = loopback();
    const int channels = in->format.nChannels;
    for (long long n = from; n < from + frames; ++n, out += channels) {
        double left = 0, right = 0;
        for (const Heard& h : heard) {
            const long long k = n - h.at;
            if (h.on != in || in->device != kDefaultRecorder || k < 0 || n >= h.until ||
                (k + 1) * h.channels > static_cast<long long>(h.samples.size()) ||
                dry(l, k, static_cast<int>(in - inputs))) {
                continue;
            }
            const double first = h.samples[k * h.channels],
                         second = (h.channels == 2 ? h.samples[k * 2 + 1] : first) * l.right_gain;
            left += l.mute_left ? 0 : first;
            right += l.mute_right ? 0 : second;
        }
        if (l.swap) {
            const double was = left;
            left = right, right = was;
        }
        left = soft_clipped(l, left * l.gain), right = soft_clipped(l, right * l.gain);
        // A one-channel recorder hears both speakers.
        double native[2] = {left + right, 0};
        if (l.channels >= 2) {
            native[0] = left, native[1] = right;
        }
        for (int c = 0; c < (l.channels >= 2 ? 2 : 1) && in->device == kDefaultRecorder; ++c) {
            native[c] += (l.noise ? noise_at(n, c, l.noise) : 0) + hum_at(l, n);
        }
        // What the mapper makes of it in the format asked for.
        if (channels == 1) {
            out[0] = clamped(l.channels >= 2 ? (native[0] + native[1]) / 2 : native[0]);
        } else {
            out[0] = clamped(native[0]);
            out[1] = clamped(l.channels >= 2 ? native[1] : native[0]);
        }
    }
}

// Hands in's buffers back in turn, each once the clock has passed its last frame, filled then
// with what was heard on the frames it spans.
DWORD WINAPI deliver(void* param) {
    Input* in = static_cast<Input*>(param);
    for (;;) {
        DWORD wait = INFINITE;
        {
            Locked held;
            if (!in->started) {
                return 0;
            }
            if (in->deliver && !in->queue.empty()) {
                const Queued q = in->queue.front();
                WAVEHDR* h = q.header;
                const int channels = in->format.nChannels;
                const long long frames = h->dwBufferLength / in->format.nBlockAlign;
                const Span s = span_of(in, in->next > q.after ? in->next : q.after, frames);
                const long long due = passed_ms(in, s.end);
                const long long now = static_cast<long long>(GetTickCount() - in->started_at);
                if (now >= due) {
                    short* out = reinterpret_cast<short*>(h->lpData);
                    record_into(in, s.first, s.cut - s.first, out);
                    record_into(in, s.resume, s.end - s.resume, out + (s.cut - s.first) * channels);
                    in->next = s.end;
                    in->delivered += frames;
                    h->dwBytesRecorded = static_cast<DWORD>(frames * in->format.nBlockAlign);
                    h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
                    in->queue.erase(in->queue.begin());
                    PostMessageW(in->notify, MM_WIM_DATA, reinterpret_cast<WPARAM>(in),
                                 reinterpret_cast<LPARAM>(h));
                    continue;
                }
                wait = static_cast<DWORD>(due - now);
            }
        }
        WaitForSingleObject(in->wake, wait);
    }
}

// Stops in's delivery and waits for its thread to end; the position stays where it was.
void stop_delivery(Input* in) {
    HANDLE thread = nullptr;
    {
        Locked held;
        if (in->started && in->deliver) {
            const long long now = clock_frame(in);
            in->base = now > in->base ? now : in->base;
        }
        in->started = false;
        thread = in->thread;
        in->thread = nullptr;
        SetEvent(in->wake);
    }
    if (thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

UINT error_text(UINT error, wchar_t* text, UINT size) {
    wchar_t said[64];
    wsprintfW(said, L"test winmm error %u", error);
    lstrcpynW(text, said, static_cast<int>(size));
    return MMSYSERR_NOERROR;
}

bool recordable(const WAVEFORMATEX* f) {
    return f && f->wFormatTag == WAVE_FORMAT_PCM && f->nSamplesPerSec == kRate &&
           f->wBitsPerSample == 16 && (f->nChannels == 1 || f->nChannels == 2) &&
           f->nBlockAlign == 2 * f->nChannels;
}

}  // namespace

// The driver cannot read another process's module list everywhere (not under qemu), but it can
// always ask wineserver for a named object: this one says the test winmm.dll is loaded in the
// process whose id ends its name. It is never closed; it goes with the process.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t name[64];
        lstrcpyW(name, kTestWinmmMarker);
        wchar_t* end = name + lstrlenW(name);
        wchar_t digits[16];
        int n = 0;
        for (DWORD pid = GetCurrentProcessId(); n == 0 || pid; pid /= 10) {
            digits[n++] = wchar_t(L'0' + pid % 10);
        }
        while (n) {
            *end++ = digits[--n];
        }
        *end = 0;
        CreateEventW(nullptr, TRUE, TRUE, name);
        InitializeCriticalSection(&lock);
    }
    return TRUE;
}

extern "C" {

UINT WINAPI waveOutGetNumDevs() {
    hold("waveOutGetNumDevs");
    return current().count;
}

UINT WINAPI waveOutGetDevCapsA(UINT_PTR, WAVEOUTCAPSA* caps, UINT size) {
    hold("waveOutGetDevCapsA");
    Device d = current();
    if (caps) {
        std::memcpy(caps, d.record, d.length < size ? d.length : size);
    }
    return d.rc;
}

UINT WINAPI waveOutOpen(HWAVEOUT* out, UINT device, const WAVEFORMATEX* format, DWORD_PTR callback,
                        DWORD_PTR, DWORD flags) {
    hold("waveOutOpen");
    if (const UINT refused = current().open_rc) {
        return refused;
    }
    if (opened == sizeof opens / sizeof *opens) {
        return MMSYSERR_NOMEM;
    }
    const bool window = (flags & CALLBACK_TYPEMASK) == CALLBACK_WINDOW;
    Open& o = opens[opened++];
    o = {device, *format, window ? reinterpret_cast<HWND>(callback) : nullptr, nullptr, false, -1};
    *out = reinterpret_cast<HWAVEOUT>(&o);
    note("open", &o);
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveOutPrepareHeader(HWAVEOUT out, WAVEHDR* header, UINT) {
    hold("waveOutPrepareHeader");
    if (!open_of(out, "prepare")) {
        return MMSYSERR_INVALHANDLE;
    }
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveOutUnprepareHeader(HWAVEOUT out, WAVEHDR* header, UINT) {
    hold("waveOutUnprepareHeader");
    if (!open_of(out, "unprepare")) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header->dwFlags & WHDR_INQUEUE) {
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

// "KELVANE_FAKE_WINMM.tone": the device id, the format and the samples, as handed over.
UINT WINAPI waveOutWrite(HWAVEOUT out, WAVEHDR* header, UINT) {
    hold("waveOutWrite");
    Open* o = open_of(out, "write");
    if (!o) {
        return MMSYSERR_INVALHANDLE;
    }
    if (FILE* f = beside_device(".tone", "wb")) {
        std::fwrite(&o->device, sizeof o->device, 1, f);
        std::fwrite(&o->format, sizeof o->format, 1, f);
        std::fwrite(header->lpData, 1, header->dwBufferLength, f);
        std::fclose(f);
    }
    header->dwFlags |= WHDR_INQUEUE;
    o->playing = header;
    o->heard = loop_back(o->format, header);
    note("write", o);
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveOutReset(HWAVEOUT out) {
    hold("waveOutReset");
    Open* o = open_of(out, "reset");
    if (!o) {
        return MMSYSERR_INVALHANDLE;
    }
    if (WAVEHDR* header = o->playing) {
        fall_silent(o->heard);
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        o->playing = nullptr;
        PostMessageW(o->notify, MM_WOM_DONE, reinterpret_cast<WPARAM>(out),
                     reinterpret_cast<LPARAM>(header));
    }
    note("reset", o);
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveOutClose(HWAVEOUT out) {
    hold("waveOutClose");
    Open* o = open_of(out, "close");
    if (!o) {
        return MMSYSERR_INVALHANDLE;
    }
    if (o->playing) {
        return WAVERR_STILLPLAYING;
    }
    o->closed = true;
    note("close", o);
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveOutGetErrorTextW(UINT error, wchar_t* text, UINT size) {
    hold("waveOutGetErrorTextW");
    return error_text(error, text, size);
}
UINT WINAPI waveInGetNumDevs() {
    hold("waveInGetNumDevs");
    return loopback().devices;
}

UINT WINAPI waveInGetDevCapsW(UINT_PTR device, WAVEINCAPSW* caps, UINT size) {
    hold("waveInGetDevCapsW");
    const Loopback l = loopback();
    if (device >= l.devices && device != WAVE_MAPPER) {
        return MMSYSERR_BADDEVICEID;
    }
    if (!caps || size < sizeof *caps) {
        return MMSYSERR_INVALPARAM;
    }
    *caps = {};
    caps->wMid = 1, caps->wPid = device == WAVE_MAPPER ? 2 : 3;
    caps->dwFormats = WAVE_FORMAT_4M16 | WAVE_FORMAT_4S16;
    caps->wChannels = device == kDefaultRecorder ? static_cast<WORD>(l.channels) : 2;
    lstrcpynW(caps->szPname,
              device == WAVE_MAPPER        ? L"声音映射器"
              : device == kDefaultRecorder ? l.name
                                           : L"线路输入 (不是默认的录音设备)",
              MAXPNAMELEN);
    return MMSYSERR_NOERROR;
}

// Only the question which recorder is the default is answered.
UINT WINAPI waveInMessage(HWAVEIN h, UINT message, DWORD_PTR first, DWORD_PTR second) {
    hold("waveInMessage");
    if (h != reinterpret_cast<HWAVEIN>(static_cast<UINT_PTR>(WAVE_MAPPER)) ||
        message != DRVM_MAPPER_PREFERRED_GET) {
        return MMSYSERR_NOTSUPPORTED;
    }
    if (loopback().devices <= kDefaultRecorder) {
        return MMSYSERR_NODRIVER;
    }
    *reinterpret_cast<DWORD*>(first) = kDefaultRecorder;
    *reinterpret_cast<DWORD*>(second) = 0;
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveInOpen(HWAVEIN* h, UINT device, const WAVEFORMATEX* format, DWORD_PTR callback,
                       DWORD_PTR, DWORD flags) {
    hold("waveInOpen");
    const Loopback l = loopback();
    if (device == WAVE_MAPPER && l.devices > kDefaultRecorder) {
        device = kDefaultRecorder;
    }
    if (device >= l.devices) {
        return MMSYSERR_BADDEVICEID;
    }
    if (l.open_rc) {
        return l.open_rc;
    }
    if (!recordable(format)) {
        return WAVERR_BADFORMAT;
    }
    if (flags & WAVE_FORMAT_QUERY) {
        return MMSYSERR_NOERROR;
    }
    Locked held;
    if (inputs_opened == sizeof inputs / sizeof *inputs) {
        return MMSYSERR_NOMEM;
    }
    const bool window = (flags & CALLBACK_TYPEMASK) == CALLBACK_WINDOW;
    Input& in = inputs[inputs_opened++];
    in.device = device, in.format = *format;
    in.notify = window ? reinterpret_cast<HWND>(callback) : nullptr;
    in.wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    *h = reinterpret_cast<HWAVEIN>(&in);
    note_input("open", &in);
    PostMessageW(in.notify, MM_WIM_OPEN, reinterpret_cast<WPARAM>(&in), 0);
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveInPrepareHeader(HWAVEIN h, WAVEHDR* header, UINT) {
    hold("waveInPrepareHeader");
    Locked held;
    if (!input_of(h, "prepare")) {
        return MMSYSERR_INVALHANDLE;
    }
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveInUnprepareHeader(HWAVEIN h, WAVEHDR* header, UINT) {
    hold("waveInUnprepareHeader");
    Locked held;
    if (!input_of(h, "unprepare")) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header->dwFlags & WHDR_INQUEUE) {
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

// Queued after the queue ran dry, a buffer starts from the clock as it stands: what passed while
// nothing was queued is gone.
UINT WINAPI waveInAddBuffer(HWAVEIN h, WAVEHDR* header, UINT) {
    hold("waveInAddBuffer");
    Locked held;
    Input* in = input_of(h, "add");
    if (!in) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!(header->dwFlags & WHDR_PREPARED)) {
        return WAVERR_UNPREPARED;
    }
    if (header->dwFlags & WHDR_INQUEUE) {
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    header->dwBytesRecorded = 0;
    in->queue.push_back({header, in->started ? clock_frame(in) : LLONG_MIN});
    SetEvent(in->wake);
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveInStart(HWAVEIN h) {
    hold("waveInStart");
    Locked held;
    Input* in = input_of(h, "start");
    if (!in) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!in->started) {
        const Loopback l = loopback();
        const int made = static_cast<int>(in - inputs);
        const bool loses = l.lose_recordings < 0 || made < l.lose_recordings;
        in->started = true;
        in->started_at = GetTickCount();
        in->slow = l.slow;
        in->deliver = l.deliver;
        in->lose_at = loses ? l.lose_at : 0;
        in->lose_frames = loses ? l.lose_frames : 0;
        in->next = in->next > in->base ? in->next : in->base;
        in->answered = -1;
        recording = in;
        in->thread = CreateThread(nullptr, 0, deliver, in, 0, nullptr);
    }
    note_input("start", in);
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveInStop(HWAVEIN h) {
    hold("waveInStop");
    Input* in;
    {
        Locked held;
        in = input_of(h, "stop");
    }
    if (!in) {
        return MMSYSERR_INVALHANDLE;
    }
    stop_delivery(in);
    Locked held;
    note_input("stop", in);
    return MMSYSERR_NOERROR;
}

// Every buffer still queued comes back done and empty, and the position starts again from 0.
UINT WINAPI waveInReset(HWAVEIN h) {
    hold("waveInReset");
    Input* in;
    {
        Locked held;
        in = input_of(h, "reset");
    }
    if (!in) {
        return MMSYSERR_INVALHANDLE;
    }
    stop_delivery(in);
    Locked held;
    for (const Queued& q : in->queue) {
        WAVEHDR* header = q.header;
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        header->dwBytesRecorded = 0;
        PostMessageW(in->notify, MM_WIM_DATA, reinterpret_cast<WPARAM>(in),
                     reinterpret_cast<LPARAM>(header));
    }
    in->queue.clear();
    in->base = in->next = in->delivered = 0;
    in->answered = -1;
    note_input("reset", in);
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveInClose(HWAVEIN h) {
    hold("waveInClose");
    Input* in;
    {
        Locked held;
        in = input_of(h, "close");
        if (in && !in->queue.empty()) {
            return WAVERR_STILLPLAYING;
        }
    }
    if (!in) {
        return MMSYSERR_INVALHANDLE;
    }
    stop_delivery(in);
    Locked held;
    in->closed = true;
    CloseHandle(in->wake);
    if (recording == in) {
        recording = nullptr;
    }
    note_input("close", in);
    PostMessageW(in->notify, MM_WIM_CLOSE, reinterpret_cast<WPARAM>(in), 0);
    return MMSYSERR_NOERROR;
}

// The clock, not what has come back: it counts the buffer being filled and what was lost. The
// answer is kept, for the write that may follow.
UINT WINAPI waveInGetPosition(HWAVEIN h, MMTIME* time, UINT size) {
    hold("waveInGetPosition");
    Locked held;
    Input* in = input_of(h, "position");
    if (!in) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!time || size < sizeof *time) {
        return MMSYSERR_INVALPARAM;
    }
    long long frame = in->base;
    if (in->started && in->deliver) {
        const long long now = clock_frame(in);
        frame = now > frame ? now : frame;
    }
    if (in->started) {
        in->answered = frame;
    }
    if (time->wType == TIME_SAMPLES) {
        time->u.sample = static_cast<DWORD>(frame);
    } else {
        // As winmm does with a type it does not keep: the answer comes in bytes.
        time->wType = TIME_BYTES;
        time->u.cb = static_cast<DWORD>(frame * in->format.nBlockAlign);
    }
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveInGetErrorTextW(UINT error, wchar_t* text, UINT size) {
    hold("waveInGetErrorTextW");
    return error_text(error, text, size);
}
}
