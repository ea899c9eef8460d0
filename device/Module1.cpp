#include "device/Module1.h"

namespace {

constexpr UINT kNoDriver = 6;  // MMSYSERR_NODRIVER, without pulling in mmsystem.h

template <typename Fn>
Fn Bind(HMODULE module, const char* name) {
    // GetProcAddress returns a generic FARPROC; the signatures above are the
    // published ones.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

HMODULE LoadFromSystemFolder() {
    if (HMODULE module = LoadLibraryExW(L"winmm.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return module;
    }
    // Windows 7 without the search-flags update rejects the flag; a full
    // path gives the same guarantee there.
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 11 >= MAX_PATH) {
        return nullptr;
    }
    lstrcpyW(path + length, L"\\winmm.dll");
    return LoadLibraryW(path);
}

}  // namespace

// A failed load is not retried: the answer would not change while the program runs.
void Module1::LoadOnce() {
    if (tried_) {
        return;
    }
    tried_ = true;
    winmm_.reset(LoadFromSystemFolder());
    if (winmm_) {
        numDevs_ = Bind<NumDevsFn>(winmm_.get(), "waveOutGetNumDevs");
        devCaps_ = Bind<DevCapsFn>(winmm_.get(), "waveOutGetDevCapsA");
    }
}

UINT Module1::waveOutGetNumDevs() {
    LoadOnce();
    return numDevs_ ? numDevs_() : 0;
}

UINT Module1::waveOutGetDevCapsA(UINT uDeviceID, void* pwoc, UINT cbwoc) {
    LoadOnce();
    return devCaps_ ? devCaps_(uDeviceID, pwoc, cbwoc) : kNoDriver;
}
