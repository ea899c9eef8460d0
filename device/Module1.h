// The two winmm.dll entries the program uses, bound from the system folder
// only: a winmm.dll lying beside the exe (a Downloads folder, say) must never
// run inside it.
#pragma once

#include <windows.h>

#include "device/system_winmm.h"

// winmm.dll (and the audio stack it brings up) is loaded on the first call,
// not at start: a user who never presses the button never pays for it.
class Module1 {
  public:
    // Zero when winmm.dll could not be loaded: no usable sound device then.
    UINT waveOutGetNumDevs();
    // MMSYSERR_NODRIVER when winmm.dll could not be loaded.
    UINT waveOutGetDevCapsA(UINT uDeviceID, void* pwoc, UINT cbwoc);

  private:
    void LoadOnce();

    using NumDevsFn = UINT(WINAPI*)();
    using DevCapsFn = UINT(WINAPI*)(UINT_PTR, void*, UINT);

    bool tried_ = false;
    ScopedModule winmm_;
    NumDevsFn numDevs_ = nullptr;
    DevCapsFn devCaps_ = nullptr;
};
