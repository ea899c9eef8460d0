#include "signal/loopback_judgement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace kelvane {
namespace {

constexpr int kLead = 4410;                              // recorded before the first tone is sent
constexpr int kSentLeft = kLead;                         // the left tone, 0.3 s of silence,
constexpr int kSentRight = kLead + 44100 + 13230;        // then the right tone
constexpr int kFrames = kSentRight + 44100 + 44100 / 2;  // until 0.5 s after the last tone
constexpr int kAbsent = -1, kBoth = 2;

struct Case {
    const char* name;
    int channels;     // recorded
    bool monoDevice;  // one tone, at kSentLeft
    int leftIn;       // recorded channel the left (or only) tone lands in: 0, 1, kBoth, kAbsent
    int rightIn;
    int delay = 3000;  // round trip in frames: 68.03 ms
    int cut = 0;       // frames the recording lost at its start
    double gain = 1;
    double noise = 0;  // peak of the uniform noise on every channel
    double hz = 440;   // a device running at another rate plays the tone at another pitch
};

// The test tone at another pitch, as a device at the wrong rate plays it: shorter as it is higher.
std::vector<double> Played(double hz) {
    const std::vector<std::int16_t> tone = MakeTestTone(ToneChannel::Mono);
    std::vector<double> played;
    const double step = hz / 440;
    for (double at = 0; at + 1 < tone.size(); at += step) {
        const std::size_t i = static_cast<std::size_t>(at);
        played.push_back(tone[i] + (at - i) * (tone[i + 1] - tone[i]));
    }
    return played;
}

struct Made {
    std::vector<std::int16_t> samples;
    std::vector<SentTone> sent;
};

Made Record(const Case& c) {
    std::vector<double> mix(static_cast<std::size_t>(kFrames) * c.channels, 0.0);
    const std::vector<double> tone = Played(c.hz);
    const auto place = [&](int sent, int in) {
        // A latency past the end of the recording cuts the tone short.
        for (std::size_t k = 0; in != kAbsent && k < tone.size() && sent + c.delay + k < kFrames;
             ++k) {
            for (int ch = 0; ch < c.channels; ++ch) {
                if (in == ch || in == kBoth) {
                    mix[(sent + c.delay + k) * c.channels + ch] += c.gain * tone[k];
                }
            }
        }
    };
    place(kSentLeft, c.leftIn);
    if (!c.monoDevice) {
        place(kSentRight, c.rightIn);
    }
    std::uint32_t seed = 12345;
    Made made;
    for (std::size_t i = static_cast<std::size_t>(c.cut) * c.channels; i < mix.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = c.noise * ((seed >> 8) / double(1 << 24) * 2 - 1);
        made.samples.push_back(static_cast<std::int16_t>(std::lround(mix[i] + noise)));
    }
    if (c.monoDevice) {
        made.sent = {{ToneChannel::Mono, kSentLeft - c.cut}};
    } else {
        made.sent = {{ToneChannel::Left, kSentLeft - c.cut},
                     {ToneChannel::Right, kSentRight - c.cut}};
    }
    return made;
}

struct Expected {
    bool leftHeard, rightHeard;
    RecordedSide leftIn, rightIn;
    bool mono, toldApart, swapped;
    int latencyMs;
};

constexpr RecordedSide L = RecordedSide::Left, R = RecordedSide::Right, N = RecordedSide::Neither;

TEST(JudgeLoopback, HearsPlacesAndTimesTheTones) {
    // A mono microphone delivered as two channels: the tones and the noise land in both.
    const double quietTone = std::pow(10, -66 / 20.0);  // -78 dBFS: under the -60 dBFS bar
    const double over15 = std::pow(10, -5.0 / 20);      // -17 dBFS over a -32 dBFS floor
    const struct {
        Case c;
        Expected e;
    } cases[] = {
        {{"clean stereo", 2, false, 0, 1}, {true, true, L, R, false, true, false, 68}},
        {{"swapped", 2, false, 1, 0}, {true, true, R, L, false, true, true, 68}},
        {{"right speaker silent", 2, false, 0, kAbsent},
         {true, false, L, L, false, false, false, 68}},
        {{"left speaker silent", 2, false, kAbsent, 1},
         {false, true, R, R, false, false, false, 68}},
        {{"noise only", 2, false, kAbsent, kAbsent, 3000, 0, 1, 1000},
         {false, false, L, L, false, false, false, -1}},
        {{"one-channel recording", 1, false, 0, 0}, {true, true, N, N, true, false, false, 68}},
        {{"mono microphone twice", 2, false, kBoth, kBoth},
         {true, true, N, N, true, false, false, 68}},
        {{"both tones in the left", 2, false, 0, 0}, {true, true, L, L, false, false, false, 68}},
        {{"played at 480 Hz", 2, false, 0, 1, 3000, 0, 1, 0, 480},
         {false, false, L, R, false, false, false, -1}},
        {{"room noise under the tones", 2, false, 0, 1, 3000, 0, 1, 100},
         {true, true, L, R, false, true, false, 68}},
        // The tone of the other sign half a period later fits all but the fades: it must not win
        // in noise, nor where a missing tone leaves only noise to be looked through.
        {{"right speaker silent, room noise", 2, false, 0, kAbsent, 3528, 0, 1, 100},
         {true, false, L, L, false, false, false, 80}},
        {{"room noise, another delay", 2, false, 0, 1, 2205, 0, 1, 100},
         {true, true, L, R, false, true, false, 50}},
        {{"tone only 15 dB over the noise", 2, false, 0, 1, 3000, 0, over15, 1000},
         {false, false, L, R, false, false, false, -1}},
        {{"tone too quiet", 2, false, 0, 1, 3000, 0, quietTone},
         {false, false, L, R, false, false, false, -1}},
        {{"polarity inverted", 2, false, 0, 1, 3000, 0, -1},
         {true, true, L, R, false, true, false, 68}},
        {{"recording began 0.3 s into the left tone", 2, false, 0, 1, 3000, kLead + 3000 + 13230},
         {true, true, L, R, false, true, false, 68}},
        {{"mono device", 1, true, 0, kAbsent}, {true, false, N, N, true, false, false, 68}},
    };
    for (const auto& [c, e] : cases) {
        SCOPED_TRACE(c.name);
        const Made made = Record(c);
        const LoopbackJudgement j = JudgeLoopback(made.samples, c.channels, made.sent);
        ASSERT_EQ(j.tones.size(), c.monoDevice ? 1u : 2u);
        EXPECT_EQ(j.monoRecording, e.mono);
        EXPECT_EQ(j.toldApart, e.toldApart);
        EXPECT_EQ(j.swapped, e.swapped);
        EXPECT_EQ(j.latencyMs, e.latencyMs);
        for (std::size_t t = 0; t < j.tones.size(); ++t) {
            SCOPED_TRACE(t == 0 ? "first tone" : "second tone");
            const ToneJudgement& tone = j.tones[t];
            const bool played = (t == 0 ? c.leftIn : c.rightIn) != kAbsent;
            EXPECT_EQ(tone.heard, t == 0 ? e.leftHeard : e.rightHeard);
            if (played) {
                EXPECT_EQ(tone.strongerIn, t == 0 ? e.leftIn : e.rightIn);
                EXPECT_EQ(tone.hz, static_cast<int>(c.hz));
            }
            // A tone at another pitch is shorter too: its level and start are not the tone's.
            if (played && c.hz == 440) {
                EXPECT_NEAR(tone.levelDbfs, -12.0 + 20 * std::log10(std::abs(c.gain)), 0.15);
            }
            // To the frame for a heard tone; one drowned in noise may slip by a period.
            if (tone.heard) {
                EXPECT_EQ(tone.onsetFrame, (t == 0 ? kSentLeft : kSentRight) - c.cut + c.delay);
            }
            // Uniform noise of peak a has the power of a sine of peak a * sqrt(2/3).
            const double floor =
                c.noise > 0 ? 20 * std::log10(c.noise * std::sqrt(2.0 / 3) / 32767) : -96.3;
            EXPECT_NEAR(tone.floorDbfs, floor, 0.2);
        }
    }
}

TEST(JudgeLoopback, LatencyInWholeMillisecondsOverTheSearchedSecond) {
    const struct {
        int delay, ms;
    } cases[] = {{0, 0}, {441, 10}, {2000, 45}, {2006, 45}, {2007, 46}, {44099, 1000}};
    for (const auto& [delay, ms] : cases) {
        Case c{"", 2, false, 0, 1};
        c.delay = delay;
        const Made made = Record(c);
        const LoopbackJudgement j = JudgeLoopback(made.samples, 2, made.sent);
        EXPECT_TRUE(AllHeard(j)) << delay;
        EXPECT_EQ(j.latencyMs, ms) << delay;
    }
}

TEST(JudgeLoopback, InputItCannotJudgeHearsNothing) {
    const Made made = Record({"", 2, false, 0, 1});
    const struct {
        std::vector<std::int16_t> samples;
        int channels;
    } cases[] = {{made.samples, 0}, {made.samples, 3}, {{}, 2}, {{1, 2, 3}, 2}};
    for (const auto& c : cases) {
        const LoopbackJudgement j = JudgeLoopback(c.samples, c.channels, made.sent);
        EXPECT_EQ(j.tones.size(), 2u);
        EXPECT_FALSE(AnyHeard(j));
        EXPECT_EQ(j.latencyMs, -1);
    }
    // Sent frames far outside the recording find nothing and overflow nothing.
    const LoopbackJudgement far = JudgeLoopback(
        made.samples, 2, {{ToneChannel::Left, 2147483000}, {ToneChannel::Right, -2147483000}});
    EXPECT_FALSE(AnyHeard(far));
    EXPECT_FALSE(AllHeard(JudgeLoopback(made.samples, 2, {})));
}

}  // namespace
}  // namespace kelvane
