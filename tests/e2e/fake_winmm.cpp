// Stand-in for the system winmm.dll: serves a device the driver describes, so the report can be
// checked against records no real sound card produces (partial writes, odd names, sign bits).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "test_winmm_marker.h"

namespace {

struct Device {
    UINT count = 0;
    UINT rc = 0;
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
// Format: "count rc hexbytes".
Device current() {
    Device d;
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("KELVANE_FAKE_WINMM", path, sizeof path);
    FILE* f = n && n < sizeof path ? std::fopen(path, "r") : nullptr;
    if (!f) {
        return d;
    }
    char count[16] = {}, rc[16] = {}, hex[2 * sizeof d.record + 2] = {};
    if (std::fscanf(f, "%15s %15s %130s", count, rc, hex) >= 2) {
        d.count = std::strtoul(count, nullptr, 0);
        d.rc = std::strtoul(rc, nullptr, 0);
        for (const char* p = hex; p[0] && p[1] && d.length < sizeof d.record; p += 2) {
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

UINT WINAPI waveOutGetDevCapsA(UINT_PTR, void* caps, UINT size) {
    Device d = current();
    if (caps) {
        std::memcpy(caps, d.record, d.length < size ? d.length : size);
    }
    return d.rc;
}
}
