#include "signal/recording_integrity.h"

#include "signal/test_tone.h"

namespace kelvane {

int LostFramesByClock(const RecorderClock& clock) {
    const long long handed = static_cast<long long>(clock.endFrames) + clock.pendingFrames;
    if (clock.endPosition >= 0) {
        const long long ahead = clock.endPosition - handed;
        if (ahead < -kClockToleranceFrames) {
            return -1;
        }
        // The buffer being filled is counted by the position and not yet handed back.
        if (ahead > kRecorderBufferFrames + kClockToleranceFrames) {
            return static_cast<int>(ahead - kRecorderBufferFrames / 2);
        }
    }
    // Only too few frames count: a first notice the window took late makes the time look short.
    const unsigned elapsedMs = clock.endMs - clock.firstMs;
    const long long due = static_cast<long long>(elapsedMs) * kToneRate / 1000;
    const long long short_by = due - (handed - clock.firstFrames);
    return short_by > kClockToleranceFrames ? static_cast<int>(short_by) : 0;
}

}  // namespace kelvane
