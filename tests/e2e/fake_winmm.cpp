// Stand-in for the system winmm.dll: serves a device the driver describes, so the report can be
// checked against records no real sound card produces (partial writes, odd names, sign bits).
// It also takes the test tone: it refuses the open when told to, and otherwise keeps what it was
// handed (device id, format, samples) in a file beside the device's for the driver to read. The
// tone then "plays" until it is reset, as a long one would.
#include <windows.h>

// These are the definitions, not imports.
#define _WINMM_
#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    }
    return TRUE;
}

extern "C" {

UINT WINAPI waveOutGetNumDevs() {
    return current().count;
}

UINT WINAPI waveOutGetDevCapsA(UINT_PTR, WAVEOUTCAPSA* caps, UINT size) {
    Device d = current();
    if (caps) {
        std::memcpy(caps, d.record, d.length < size ? d.length : size);
    }
    return d.rc;
}

// One open tone at a time, as Kelvane plays it.
struct Tone {
    UINT device;
    WAVEFORMATEX format;
    HWND notify;
    WAVEHDR* playing;
} tone;

UINT WINAPI waveOutOpen(HWAVEOUT* out, UINT device, const WAVEFORMATEX* format, DWORD_PTR callback,
                        DWORD_PTR, DWORD flags) {
    if (const UINT refused = current().open_rc) {
        return refused;
    }
    const bool window = (flags & CALLBACK_TYPEMASK) == CALLBACK_WINDOW;
    tone = {device, *format, window ? reinterpret_cast<HWND>(callback) : nullptr, nullptr};
    *out = reinterpret_cast<HWAVEOUT>(&tone);
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveOutPrepareHeader(HWAVEOUT, WAVEHDR* header, UINT) {
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveOutUnprepareHeader(HWAVEOUT, WAVEHDR* header, UINT) {
    if (header->dwFlags & WHDR_INQUEUE) {
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

// "KELVANE_FAKE_WINMM.tone": the device id, the format and the samples, as handed over.
UINT WINAPI waveOutWrite(HWAVEOUT, WAVEHDR* header, UINT) {
    char path[MAX_PATH + 8];
    const DWORD n = GetEnvironmentVariableA("KELVANE_FAKE_WINMM", path, MAX_PATH);
    if (n && n < MAX_PATH) {
        lstrcatA(path, ".tone");
        if (FILE* f = std::fopen(path, "wb")) {
            std::fwrite(&tone.device, sizeof tone.device, 1, f);
            std::fwrite(&tone.format, sizeof tone.format, 1, f);
            std::fwrite(header->lpData, 1, header->dwBufferLength, f);
            std::fclose(f);
        }
    }
    header->dwFlags |= WHDR_INQUEUE;
    tone.playing = header;
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveOutReset(HWAVEOUT out) {
    if (WAVEHDR* header = tone.playing) {
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        tone.playing = nullptr;
        PostMessageW(tone.notify, MM_WOM_DONE, reinterpret_cast<WPARAM>(out),
                     reinterpret_cast<LPARAM>(header));
    }
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveOutClose(HWAVEOUT) {
    return tone.playing ? WAVERR_STILLPLAYING : MMSYSERR_NOERROR;
}

UINT WINAPI waveOutGetErrorTextW(UINT error, wchar_t* text, UINT size) {
    wchar_t said[64];
    wsprintfW(said, L"test winmm error %u", error);
    lstrcpynW(text, said, static_cast<int>(size));
    return MMSYSERR_NOERROR;
}
}
