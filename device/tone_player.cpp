#include "device/tone_player.h"

#include <utility>

#include "device/system_winmm.h"

bool TonePlayer::Bind() {
    if (LoadWinmmOnce(tried_, winmm_)) {
        HMODULE m = winmm_.get();
        open_ = BindEntry<OpenFn>(m, "waveOutOpen");
        prepare_ = BindEntry<HeaderFn>(m, "waveOutPrepareHeader");
        write_ = BindEntry<HeaderFn>(m, "waveOutWrite");
        unprepare_ = BindEntry<HeaderFn>(m, "waveOutUnprepareHeader");
        reset_ = BindEntry<DeviceFn>(m, "waveOutReset");
        close_ = BindEntry<DeviceFn>(m, "waveOutClose");
        errorText_ = BindEntry<ErrorTextFn>(m, "waveOutGetErrorTextW");
    }
    return open_ && prepare_ && write_ && unprepare_ && reset_ && close_;
}

UINT TonePlayer::Play(HWND notify, kelvane::ToneChannel channel) {
    const UINT rc = Prepare(notify, kelvane::MakeTestTone(channel),
                            channel == kelvane::ToneChannel::Mono ? 1 : 2);
    return rc == MMSYSERR_NOERROR ? Write() : rc;
}

UINT TonePlayer::Prepare(HWND notify, std::vector<std::int16_t> samples, WORD channels) {
    Stop();
    if (!Bind()) {
        return MMSYSERR_NODRIVER;
    }
    samples_ = std::move(samples);
    const WAVEFORMATEX format = ToneRateFormat(channels);
    UINT rc = open_(&device_, 0, &format, reinterpret_cast<DWORD_PTR>(notify), 0, CALLBACK_WINDOW);
    if (rc != MMSYSERR_NOERROR) {
        device_ = nullptr;
        return rc;
    }
    header_ = {};
    header_.lpData = reinterpret_cast<LPSTR>(samples_.data());
    header_.dwBufferLength = static_cast<DWORD>(samples_.size() * sizeof(std::int16_t));
    rc = prepare_(device_, &header_, sizeof header_);
    prepared_ = rc == MMSYSERR_NOERROR;
    if (rc != MMSYSERR_NOERROR) {
        Close();
    }
    return rc;
}

UINT TonePlayer::Write() {
    if (!prepared_) {
        return MMSYSERR_INVALHANDLE;
    }
    const UINT rc = write_(device_, &header_, sizeof header_);
    if (rc != MMSYSERR_NOERROR) {
        Close();
    }
    return rc;
}

void TonePlayer::Stop() {
    if (device_) {
        reset_(device_);
        Close();
    }
}

void TonePlayer::OnDone(HWAVEOUT device) {
    if (device_ && device == device_) {
        Close();
    }
}

void TonePlayer::Close() {
    if (prepared_) {
        unprepare_(device_, &header_, sizeof header_);
        prepared_ = false;
    }
    close_(device_);
    device_ = nullptr;
}

void TonePlayer::ErrorText(UINT error, wchar_t* text, UINT size) {
    if (!Bind() || !errorText_ || errorText_(error, text, size) != MMSYSERR_NOERROR) {
        ErrorNumberText(error, text, size);
    }
}
