#include "signal/loopback_judgement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace kelvane {
namespace {

// Levels come from the C runtime's logarithm, which gives minus infinity for no power at all:
// digital silence, and a recording too short to measure, must read as the quietest level a
// 16-bit recording can hold, never as -inf or NaN.
TEST(Levels, SilenceReadsAsTheQuietestLevelNeverInfinity) {
    const std::vector<std::int16_t> silence(2 * 3 * kToneRate, 0);
    const LoopbackJudgement j =
        JudgeLoopback(silence, 2, {{ToneChannel::Left, 4410}, {ToneChannel::Right, 35280}});
    ASSERT_EQ(j.tones.size(), 2u);
    for (const ToneJudgement& tone : j.tones) {
        EXPECT_EQ(tone.levelDbfs, kSilenceDbfs);
        EXPECT_EQ(tone.floorDbfs, kSilenceDbfs);
        EXPECT_FALSE(tone.heard);
    }
    EXPECT_FALSE(j.broken);
}

// The check's tones: the right one starts exactly where the judgement expects it, each as long as
// it is judged, and the menu's one-second tone is unchanged.
TEST(Levels, TheCheckPlaysWhatItJudges) {
    const std::vector<std::int16_t> stereo = MakeCheckTones(true);
    ASSERT_EQ(stereo.size(), 2u * CheckFramesPlayed(true));
    const auto first = [&](int channel) {
        for (std::size_t i = channel; i < stereo.size(); i += 2) {
            if (stereo[i] != 0) {
                return static_cast<int>(i / 2);
            }
        }
        return -1;
    };
    EXPECT_EQ(first(1) - first(0), kRightToneOffsetFrames);
    EXPECT_EQ(MakeCheckTones(false).size(), static_cast<std::size_t>(kCheckToneFrames));
    EXPECT_EQ(MakeTestTone(ToneChannel::Mono).size(), static_cast<std::size_t>(kToneFrames));
    const std::vector<std::int16_t> tone = MakeTestTone(ToneChannel::Mono, kCheckToneFrames);
    for (int frame : {kCheckToneFrames / 2, kCheckToneFrames / 2 + 25}) {
        EXPECT_NEAR(tone[frame], kTonePeak * std::sin(2 * kPi * kToneHz * frame / kToneRate), 0.5);
    }
}

}  // namespace
}  // namespace kelvane
