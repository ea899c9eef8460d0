#include "device/wave_recorder.h"

namespace {

// mmddk.h's, which is a driver kit header.
constexpr UINT kMapperPreferredGet = 0x2000 + 21;

std::u16string NameOf(const WAVEINCAPSW& caps) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");
    std::u16string name;
    for (const wchar_t* p = caps.szPname; p < caps.szPname + MAXPNAMELEN && *p; ++p) {
        name += static_cast<char16_t>(*p);
    }
    return name;
}

}  // namespace

bool WaveRecorder::Bind() {
    if (LoadWinmmOnce(tried_, winmm_)) {
        HMODULE m = winmm_.get();
        numDevs_ = BindEntry<NumDevsFn>(m, "waveInGetNumDevs");
        caps_ = BindEntry<CapsFn>(m, "waveInGetDevCapsW");
        message_ = BindEntry<MessageFn>(m, "waveInMessage");
        open_ = BindEntry<OpenFn>(m, "waveInOpen");
        prepare_ = BindEntry<HeaderFn>(m, "waveInPrepareHeader");
        add_ = BindEntry<HeaderFn>(m, "waveInAddBuffer");
        unprepare_ = BindEntry<HeaderFn>(m, "waveInUnprepareHeader");
        start_ = BindEntry<DeviceFn>(m, "waveInStart");
        reset_ = BindEntry<DeviceFn>(m, "waveInReset");
        close_ = BindEntry<DeviceFn>(m, "waveInClose");
        position_ = BindEntry<PositionFn>(m, "waveInGetPosition");
        errorText_ = BindEntry<ErrorTextFn>(m, "waveInGetErrorTextW");
    }
    return numDevs_ && caps_ && open_ && prepare_ && add_ && unprepare_ && start_ && reset_ &&
           close_;
}

UINT WaveRecorder::DeviceCount() {
    return Bind() ? numDevs_() : 0;
}

void WaveRecorder::DefaultDevice(std::u16string& name, WORD& channels) {
    name.clear();
    channels = 0;
    if (!Bind()) {
        return;
    }
    // The mapper's own caps name the mapper, not the device; Windows and Wine both say which
    // device it prefers.
    DWORD preferred = 0, flags = 0;
    UINT_PTR id = WAVE_MAPPER;
    if (message_ &&
        message_(reinterpret_cast<HWAVEIN>(static_cast<UINT_PTR>(WAVE_MAPPER)), kMapperPreferredGet,
                 reinterpret_cast<DWORD_PTR>(&preferred),
                 reinterpret_cast<DWORD_PTR>(&flags)) == MMSYSERR_NOERROR &&
        preferred < numDevs_()) {
        id = preferred;
    }
    WAVEINCAPSW caps = {};
    if (caps_(id, &caps, sizeof caps) != MMSYSERR_NOERROR &&
        (id == WAVE_MAPPER || caps_(WAVE_MAPPER, &caps, sizeof caps) != MMSYSERR_NOERROR)) {
        return;
    }
    name = NameOf(caps);
    channels = caps.wChannels;
}

UINT WaveRecorder::Start(HWND notify, WORD channels) {
    Stop();
    samples_.clear();
    if (!Bind()) {
        return MMSYSERR_NODRIVER;
    }
    channels_ = channels;
    taken_ = 0;
    const WAVEFORMATEX format = ToneRateFormat(channels);
    UINT rc = open_(&device_, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(notify), 0,
                    CALLBACK_WINDOW);
    if (rc != MMSYSERR_NOERROR) {
        device_ = nullptr;
        return rc;
    }
    const int bufferSamples = kBufferFrames * channels;
    buffers_.assign(static_cast<std::size_t>(kBuffers * bufferSamples), 0);
    for (int i = 0; i < kBuffers && rc == MMSYSERR_NOERROR; ++i) {
        headers_[i] = {};
        headers_[i].lpData = reinterpret_cast<LPSTR>(buffers_.data() + i * bufferSamples);
        // The first is short: the check plays once it comes back, and a device hands a buffer
        // back only once it is full.
        const int samples = i == 0 ? kFirstBufferFrames * channels : bufferSamples;
        headers_[i].dwBufferLength = static_cast<DWORD>(samples * sizeof(std::int16_t));
        rc = prepare_(device_, &headers_[i], sizeof headers_[i]);
        prepared_[i] = rc == MMSYSERR_NOERROR;
        if (rc == MMSYSERR_NOERROR) {
            rc = add_(device_, &headers_[i], sizeof headers_[i]);
        }
    }
    if (rc == MMSYSERR_NOERROR) {
        rc = start_(device_);
    }
    if (rc != MMSYSERR_NOERROR) {
        Stop();
    }
    return rc;
}

bool WaveRecorder::OnData(HWAVEIN device, WAVEHDR* header) {
    // The device hands buffers back in the order they were queued.
    if (!device_ || device != device_ || taken_ == kBuffers || header != &headers_[taken_] ||
        !(header->dwFlags & WHDR_DONE)) {
        return false;
    }
    const auto* first = reinterpret_cast<const std::int16_t*>(header->lpData);
    const DWORD bytes = header->dwBytesRecorded < header->dwBufferLength ? header->dwBytesRecorded
                                                                         : header->dwBufferLength;
    samples_.insert(samples_.end(), first, first + bytes / sizeof(std::int16_t));
    header->dwFlags &= ~WHDR_DONE;
    ++taken_;
    return true;
}

int WaveRecorder::PendingFrames() const {
    int frames = 0;
    for (int i = taken_; i < kBuffers && (headers_[i].dwFlags & WHDR_DONE); ++i) {
        frames += static_cast<int>(headers_[i].dwBytesRecorded / (2u * channels_));
    }
    return frames;
}

int WaveRecorder::DevicePosition() {
    MMTIME time = {};
    time.wType = TIME_SAMPLES;
    if (device_ && position_ && position_(device_, &time, sizeof time) == MMSYSERR_NOERROR) {
        // A device may answer in another unit than the one asked for.
        if (time.wType == TIME_SAMPLES) {
            return static_cast<int>(time.u.sample);
        }
        if (time.wType == TIME_BYTES) {
            return static_cast<int>(time.u.cb / (2u * static_cast<unsigned>(channels_)));
        }
    }
    return -1;
}

int WaveRecorder::Position() {
    const int position = DevicePosition();
    return position >= 0 ? position : FramesRecorded();
}

void WaveRecorder::Stop() {
    if (!device_) {
        return;
    }
    reset_(device_);
    for (int i = 0; i < kBuffers; ++i) {
        if (prepared_[i]) {
            unprepare_(device_, &headers_[i], sizeof headers_[i]);
            prepared_[i] = false;
        }
    }
    close_(device_);
    device_ = nullptr;
}

void WaveRecorder::ErrorText(UINT error, wchar_t* text, UINT size) {
    if (!Bind() || !errorText_ || errorText_(error, text, size) != MMSYSERR_NOERROR) {
        ErrorNumberText(error, text, size);
    }
}
