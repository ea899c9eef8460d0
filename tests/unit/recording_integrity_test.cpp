#include "signal/recording_integrity.h"

#include <gtest/gtest.h>

namespace kelvane {
namespace {

// A recording of 2 s after its first buffer came at tick 1000: 88200 frames are due by then.
TEST(LostFramesByClock, FramesAgreeWithThePositionAndTheTimeThatPassed) {
    const struct {
        const char* name;
        RecorderClock clock;
        int lost;  // 0 whole, -1 unsized, else about this many (within half a buffer)
    } cases[] = {
        {"whole, position a part-buffer ahead", {4410, 1000, 92610, 0, 95000, 3000}, 0},
        {"whole, the device cannot say where it is", {4410, 1000, 92610, 0, -1, 3000}, 0},
        {"whole, notices waiting behind a held window", {4410, 1000, 61740, 30870, 95000, 3000}, 0},
        {"first notice taken late: the time looks short", {22050, 1400, 92610, 0, 95000, 3000}, 0},
        {"tick wrapped around", {4410, 0xFFFFFC18u, 92610, 0, 95000, 1000}, 0},
        {"300 ms dropped, counted by the position", {4410, 1000, 79380, 0, 95000, 3000}, 13410},
        {"300 ms dropped, position unknown", {4410, 1000, 79380, 0, -1, 3000}, 13230},
        {"100 ms dropped: within the tolerance", {4410, 1000, 88200, 0, 95000, 3000}, 0},
        {"the position behind what was handed back", {4410, 1000, 92610, 0, 50000, 3000}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int lost = LostFramesByClock(c.clock);
        if (c.lost <= 0) {
            EXPECT_EQ(lost, c.lost);
        } else {
            EXPECT_NEAR(lost, c.lost, kRecorderBufferFrames / 2);
        }
    }
}

}  // namespace
}  // namespace kelvane
