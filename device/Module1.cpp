#include "device/Module1.h"

#include "device/system_winmm.h"

namespace {

constexpr UINT kNoDriver = 6;  // MMSYSERR_NODRIVER, without pulling in mmsystem.h

}  // namespace

void Module1::LoadOnce() {
    if (LoadWinmmOnce(tried_, winmm_)) {
        numDevs_ = BindEntry<NumDevsFn>(winmm_.get(), "waveOutGetNumDevs");
        devCaps_ = BindEntry<DevCapsFn>(winmm_.get(), "waveOutGetDevCapsA");
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
