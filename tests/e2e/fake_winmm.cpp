// Stand-in for the system winmm.dll: serves a device the driver describes, so the report can be
// checked against records no real sound card produces (partial writes, odd names, sign bits).
// It also takes the test tone: it refuses the open when told to, and otherwise keeps what it was
// handed (device id, format, samples) in a file beside the device's for the driver to read. The
// tone then "plays" until it is reset, as a long one would, and its handle cannot be closed
// before that. Each handle is numbered from 1 in the order opened, and what becomes of it is
// logged in another file beside the device's, so the driver can tell a tone left playing.
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

// Every open this process made, never reused, so that a call on a closed handle shows.
struct Open {
    UINT device;
    WAVEFORMATEX format;
    HWND notify;
    WAVEHDR* playing;
    bool closed;
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

UINT WINAPI waveOutOpen(HWAVEOUT* out, UINT device, const WAVEFORMATEX* format, DWORD_PTR callback,
                        DWORD_PTR, DWORD flags) {
    if (const UINT refused = current().open_rc) {
        return refused;
    }
    if (opened == sizeof opens / sizeof *opens) {
        return MMSYSERR_NOMEM;
    }
    const bool window = (flags & CALLBACK_TYPEMASK) == CALLBACK_WINDOW;
    Open& o = opens[opened++];
    o = {device, *format, window ? reinterpret_cast<HWND>(callback) : nullptr, nullptr, false};
    *out = reinterpret_cast<HWAVEOUT>(&o);
    note("open", &o);
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveOutPrepareHeader(HWAVEOUT out, WAVEHDR* header, UINT) {
    if (!open_of(out, "prepare")) {
        return MMSYSERR_INVALHANDLE;
    }
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveOutUnprepareHeader(HWAVEOUT out, WAVEHDR* header, UINT) {
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
    note("write", o);
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveOutReset(HWAVEOUT out) {
    Open* o = open_of(out, "reset");
    if (!o) {
        return MMSYSERR_INVALHANDLE;
    }
    if (WAVEHDR* header = o->playing) {
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        o->playing = nullptr;
        PostMessageW(o->notify, MM_WOM_DONE, reinterpret_cast<WPARAM>(out),
                     reinterpret_cast<LPARAM>(header));
    }
    note("reset", o);
    return MMSYSERR_NOERROR;
}

UINT WINAPI waveOutClose(HWAVEOUT out) {
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
    wchar_t said[64];
    wsprintfW(said, L"test winmm error %u", error);
    lstrcpynW(text, said, static_cast<int>(size));
    return MMSYSERR_NOERROR;
}
}
