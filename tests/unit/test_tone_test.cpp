#include "signal/test_tone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace kelvane {
namespace {

// The loudest sample, in magnitude, among frames [from, to) of one channel.
int Loudest(const std::vector<std::int16_t>& s, int channels, int on, int from, int to) {
    int most = 0;
    for (int f = from; f < to; ++f) {
        most = std::max(most, std::abs(static_cast<int>(s[f * channels + on])));
    }
    return most;
}

TEST(TestTone, SineOf440HzOneSecondFadedAtBothEndsOnOneChannelOnly) {
    const struct {
        ToneChannel channel;
        int channels, on;
    } cases[] = {{ToneChannel::Mono, 1, 0}, {ToneChannel::Left, 2, 0}, {ToneChannel::Right, 2, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.on + 10 * c.channels);
        const std::vector<std::int16_t> s = MakeTestTone(c.channel);
        ASSERT_EQ(s.size(), 44100u * c.channels);
        // The other channel is exactly silent.
        for (int f = 0; c.channels == 2 && f < 44100; ++f) {
            ASSERT_EQ(s[f * 2 + (1 - c.on)], 0) << "frame " << f;
        }
        // 440 rising zero crossings in the second, within one for where the count starts.
        int rising = 0;
        for (int f = 1; f < 44100; ++f) {
            rising += s[(f - 1) * c.channels + c.on] < 0 && s[f * c.channels + c.on] >= 0;
        }
        EXPECT_NEAR(rising, 440, 1);
        // Peak at -12 dBFS: 8231 of 32767, reached to within the sampling of the crest.
        EXPECT_LE(Loudest(s, c.channels, c.on, 0, 44100), 8231);
        EXPECT_GE(Loudest(s, c.channels, c.on, 0, 44100), 8220);
        // Raised-cosine fades of 20 ms (882 frames): silent at the very ends, at most half
        // strength halfway through each fade, full strength after it.
        EXPECT_EQ(s[c.on], 0);
        EXPECT_EQ(s[(44100 - 1) * c.channels + c.on], 0);
        EXPECT_LE(Loudest(s, c.channels, c.on, 0, 441), 8231 / 2 + 1);
        EXPECT_LE(Loudest(s, c.channels, c.on, 44100 - 441, 44100), 8231 / 2 + 1);
        EXPECT_GE(Loudest(s, c.channels, c.on, 882, 882 + 101), 8220);
        EXPECT_GE(Loudest(s, c.channels, c.on, 44100 - 882 - 101, 44100 - 882), 8220);
        EXPECT_GE(Loudest(s, c.channels, c.on, 300, 441), 1000);
    }
}

}  // namespace
}  // namespace kelvane
