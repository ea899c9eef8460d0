#include "device/system_winmm.h"

#include "signal/test_tone.h"

HMODULE LoadWinmmFromSystemFolder() {
    return LoadFromSystemFolder(L"winmm.dll");
}

WAVEFORMATEX ToneRateFormat(WORD channels) {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = kelvane::kToneRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = static_cast<WORD>(channels * 2);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    return format;
}

bool LoadWinmmOnce(bool& tried, ScopedModule& module) {
    if (tried) {
        return false;
    }
    tried = true;
    module.reset(LoadWinmmFromSystemFolder());
    return module != nullptr;
}

// Plain buffers: std::wstring would bring libstdc++'s prebuilt one, exception machinery and all.
void ErrorNumberText(UINT error, wchar_t* text, UINT size) {
    wchar_t digits[16];
    int n = 0;
    do {
        digits[n++] = static_cast<wchar_t>(L'0' + error % 10);
        error /= 10;
    } while (error != 0);
    UINT at = 0;
    for (const wchar_t* p = L"MMSYSERR "; *p && at + 1 < size; ++p) {
        text[at++] = *p;
    }
    while (n > 0 && at + 1 < size) {
        text[at++] = digits[--n];
    }
    if (size > 0) {
        text[at] = L'\0';
    }
}
