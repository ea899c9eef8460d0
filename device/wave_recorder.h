// Recording from the default recording device (the wave mapper, as the user set it), 16-bit at
// the test tone's rate, through winmm.dll from the system folder, bound on first use. Filled
// buffers come to a window as MM_WIM_DATA, so recording never blocks it. Every buffer a
// recording can fill is queued before it starts and never queued again: a driver with no buffer
// queued drops what it hears, so a window held up (a first start, a busy machine) would
// otherwise cost sound that no later buffer brings back.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device/system_winmm.h"
#include "signal/recording_integrity.h"

class WaveRecorder {
  public:
    WaveRecorder() = default;
    WaveRecorder(const WaveRecorder&) = delete;
    WaveRecorder& operator=(const WaveRecorder&) = delete;
    ~WaveRecorder() { Stop(); }

    // Recording devices the system has; 0 also when winmm.dll cannot be loaded.
    UINT DeviceCount();
    // The default recording device's name and channel count: the device the mapper prefers,
    // where it says which, else what the mapper says of itself.
    void DefaultDevice(std::u16string& name, WORD& channels);
    // Opens the default device with this many channels and starts recording into fresh
    // buffers. MMSYSERR_NOERROR once it records; otherwise winmm's error, with nothing left open.
    UINT Start(HWND notify, WORD channels);
    // MM_WIM_DATA: keeps the buffer's samples. False for a notice that is not about this
    // recording's buffers (one stopped, or a buffer handed back by a reset).
    bool OnData(HWAVEIN device, WAVEHDR* header);
    // Every buffer has been handed back: the recording can hold no more.
    bool Full() const { return taken_ == kBuffers; }
    // Resets and closes the device; what was recorded stays.
    void Stop();
    bool Recording() const { return device_ != nullptr; }

    // Interleaved samples, from the first the device delivered.
    const std::vector<std::int16_t>& Samples() const { return samples_; }
    int Channels() const { return channels_; }
    int FramesRecorded() const { return static_cast<int>(samples_.size()) / channels_; }
    // Where the device's clock stands now, in frames from the recording's first: the frame the
    // device is filling at this moment. What has been delivered when the device cannot say.
    int Position();
    // The device's own position, in frames; -1 when it cannot say.
    int DevicePosition();
    // Frames in buffers the device has filled whose notice the window has not taken yet.
    int PendingFrames() const;
    // The platform's own text for a waveIn error, cut to size characters.
    void ErrorText(UINT error, wchar_t* text, UINT size);

  private:
    static constexpr int kBufferFrames = kelvane::kRecorderBufferFrames;
    static constexpr int kFirstBufferFrames = kBufferFrames / 10;
    // More than the check's deadline can fill, at the device's own pace.
    static constexpr int kBuffers = 64;

    bool Bind();

    using NumDevsFn = UINT(WINAPI*)();
    using CapsFn = UINT(WINAPI*)(UINT_PTR, WAVEINCAPSW*, UINT);
    using MessageFn = UINT(WINAPI*)(HWAVEIN, UINT, DWORD_PTR, DWORD_PTR);
    using OpenFn = UINT(WINAPI*)(HWAVEIN*, UINT, const WAVEFORMATEX*, DWORD_PTR, DWORD_PTR, DWORD);
    using HeaderFn = UINT(WINAPI*)(HWAVEIN, WAVEHDR*, UINT);
    using DeviceFn = UINT(WINAPI*)(HWAVEIN);
    using PositionFn = UINT(WINAPI*)(HWAVEIN, MMTIME*, UINT);
    using ErrorTextFn = UINT(WINAPI*)(UINT, wchar_t*, UINT);

    bool tried_ = false;
    ScopedModule winmm_;
    NumDevsFn numDevs_ = nullptr;
    CapsFn caps_ = nullptr;
    MessageFn message_ = nullptr;
    OpenFn open_ = nullptr;
    HeaderFn prepare_ = nullptr, add_ = nullptr, unprepare_ = nullptr;
    DeviceFn start_ = nullptr, reset_ = nullptr, close_ = nullptr;
    PositionFn position_ = nullptr;
    ErrorTextFn errorText_ = nullptr;

    HWAVEIN device_ = nullptr;
    int channels_ = 1;
    WAVEHDR headers_[kBuffers] = {};
    bool prepared_[kBuffers] = {};
    int taken_ = 0;  // buffers whose samples are kept, in the order they were queued
    std::vector<std::int16_t> buffers_;
    std::vector<std::int16_t> samples_;
};
