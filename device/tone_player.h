// The test tone on device 0, the device the report describes (never the wave
// mapper), through winmm.dll from the system folder, bound on first use. The
// done notice comes to a window as MM_WOM_DONE, so playing never blocks it.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <cstdint>
#include <vector>

#include "device/system_winmm.h"
#include "signal/test_tone.h"

class TonePlayer {
  public:
    TonePlayer() = default;
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;
    ~TonePlayer() { Stop(); }

    // Stops a tone still playing, then starts this one. MMSYSERR_NOERROR once
    // it plays; otherwise winmm's error, with nothing left open.
    UINT Play(HWND notify, kelvane::ToneChannel channel);
    // Play in two steps, for a caller that must note the moment between them: opens device 0 for
    // these 16-bit samples at the tone's rate (channels interleaved) and makes them ready, then
    // hands them over. Either leaves nothing open when it fails.
    UINT Prepare(HWND notify, std::vector<std::int16_t> samples, WORD channels);
    UINT Write();
    bool Playing() const { return device_ != nullptr; }
    // Ends a playing tone at once; nothing to do when none plays.
    void Stop();
    // MM_WOM_DONE for device: the tone has played out. A notice for a tone
    // already stopped is ignored.
    void OnDone(HWAVEOUT device);
    // The platform's own text for a waveOut error, cut to size characters.
    void ErrorText(UINT error, wchar_t* text, UINT size);

  private:
    bool Bind();
    void Close();

    using OpenFn = UINT(WINAPI*)(HWAVEOUT*, UINT, const WAVEFORMATEX*, DWORD_PTR, DWORD_PTR, DWORD);
    using HeaderFn = UINT(WINAPI*)(HWAVEOUT, WAVEHDR*, UINT);
    using DeviceFn = UINT(WINAPI*)(HWAVEOUT);
    using ErrorTextFn = UINT(WINAPI*)(UINT, wchar_t*, UINT);

    bool tried_ = false;
    ScopedModule winmm_;
    OpenFn open_ = nullptr;
    HeaderFn prepare_ = nullptr, write_ = nullptr, unprepare_ = nullptr;
    DeviceFn reset_ = nullptr, close_ = nullptr;
    ErrorTextFn errorText_ = nullptr;

    HWAVEOUT device_ = nullptr;
    WAVEHDR header_ = {};
    bool prepared_ = false;
    std::vector<std::int16_t> samples_;
};
