// Whether a recording kept pace with the clock: a driver that drops what it hears (no buffer
// queued, a server that fell behind) hands back fewer frames than the time that passed holds,
// and its position runs on past what it handed back. Either says the recording has a hole that
// the tones' own timing may not show.
#pragma once

namespace kelvane {

// The recorder's buffers: the check's timing is no finer.
constexpr int kRecorderBufferFrames = 4410;  // 0.1 s
// How far the frames may fall short of the time, or the position run past a buffer beyond what
// was handed back, before it counts: Wine hands buffers back up to 112 ms apart, and a notice
// waits its turn behind whatever the window is doing.
constexpr int kClockToleranceFrames = 6615;  // 150 ms

// What the recorder and the clock said about one recording, read on the window's thread.
struct RecorderClock {
    int firstFrames = 0;    // frames handed back once the first buffer came
    unsigned firstMs = 0;   // the millisecond tick then
    int endFrames = 0;      // frames handed back when the check ended
    int pendingFrames = 0;  // in buffers the device had filled, not yet taken by the window
    int endPosition = -1;   // the device's position then, in frames; -1 when it could not say
    unsigned endMs = 0;
};

// 0: the frames agree with the position and the time that passed; > 0: about that many frames
// were lost; -1: they disagree in a way that can't be sized (the position behind what was handed
// back).
int LostFramesByClock(const RecorderClock& clock);

}  // namespace kelvane
