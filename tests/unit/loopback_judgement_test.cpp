#include "signal/loopback_judgement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kelvane {
namespace {

constexpr int kLead = 4410;       // recorded before the first tone is sent
constexpr int kSentLeft = kLead;  // the left tone, 0.2 s of silence,
constexpr int kSentRight = kLead + kRightToneOffsetFrames;  // then the right tone
constexpr int kFrames = kSentRight + kCheckToneFrames + kMaxLatencyFrames;
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
    double hum = 0;    // peak of a 50 Hz hum on every channel
    int loseAt = 0;    // from this recorded frame, loses this many (fewer than 0: repeats them)
    int lose = 0;
    bool silent = false;  // what is repeated is silence, as from an output that ran dry
};

// The test tone at another pitch, as a device at the wrong rate plays it: shorter as it is higher.
std::vector<double> Played(double hz) {
    const std::vector<std::int16_t> tone = MakeTestTone(ToneChannel::Mono, kCheckToneFrames);
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
    for (std::size_t i = 0; i < mix.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        mix[i] += c.noise * ((seed >> 8) / double(1 << 24) * 2 - 1) +
                  c.hum * std::sin(2 * kPi * 50 * double(i / c.channels) / kToneRate);
    }
    // Sound lost on the way (or repeated) shifts all that follows on the recording's clock.
    if (c.lose > 0) {
        mix.erase(mix.begin() + std::size_t(c.loseAt) * c.channels,
                  mix.begin() + std::size_t(c.loseAt + c.lose) * c.channels);
        mix.resize(mix.size() + std::size_t(c.lose) * c.channels, 0.0);
    } else if (c.lose < 0 && c.silent) {
        mix.insert(mix.begin() + std::size_t(c.loseAt) * c.channels,
                   std::size_t(-c.lose) * c.channels, 0.0);
    } else if (c.lose < 0) {
        const std::vector<double> again(mix.begin() + std::size_t(c.loseAt + c.lose) * c.channels,
                                        mix.begin() + std::size_t(c.loseAt) * c.channels);
        mix.insert(mix.begin() + std::size_t(c.loseAt) * c.channels, again.begin(), again.end());
    }
    Made made;
    for (std::size_t i = static_cast<std::size_t>(c.cut) * c.channels; i < mix.size(); ++i) {
        made.samples.push_back(static_cast<std::int16_t>(std::lround(mix[i])));
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
    const double at40 = std::pow(10, -28 / 20.0), at65 = std::pow(10, -53 / 20.0);
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
        // Broadband noise only 15 dB under the tone is some 45 dB under it near 440 Hz.
        {{"tone only 15 dB over broadband noise", 2, false, 0, 1, 3000, 0, over15, 1000},
         {true, true, L, R, false, true, false, 68}},
        {{"hiss at -50 dBFS, the tone at -40", 2, false, 0, 1, 3000, 0, at40, 129},
         {true, true, L, R, false, true, false, 68}},
        {{"50 Hz hum at -30 dBFS, the tone at -40", 2, false, 0, 1, 3000, 0, at40, 0, 440, 1036},
         {true, true, L, R, false, true, false, 68}},
        {{"the tone at -65 dBFS in silence", 2, false, 0, 1, 3000, 0, at65},
         {false, false, L, R, false, false, false, -1}},
        {{"a large latency, kept whole", 2, false, 0, 1, 19845},
         {true, true, L, R, false, true, false, 450}},
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
        EXPECT_FALSE(j.broken);
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
            // To the frame for a heard tone; hum louder than the tone pulls it by a frame (1 seen).
            if (tone.heard) {
                EXPECT_NEAR(tone.onsetFrame, (t == 0 ? kSentLeft : kSentRight) - c.cut + c.delay,
                            c.hum > 0 ? 2 : 0);
            }
            // Uniform noise of peak a has a variance of a^2 / 3; near 440 Hz, through 0.1 s Hann
            // blocks, it reads as a sine of peak squared 6 a^2 / 3 / 4410. The quiet parts hold
            // half a dozen blocks, read at five frequencies: measured within 1.3 dB here.
            if (c.hum == 0) {
                const double floor =
                    c.noise > 0 ? 10 * std::log10(2 * c.noise * c.noise / 4410 / (32767.0 * 32767))
                                : -96.3;
                EXPECT_NEAR(tone.floorDbfs, floor, 2.0);
            }
        }
    }
}

TEST(JudgeLoopback, LatencyInWholeMillisecondsOverTheSearchedHalfSecond) {
    const struct {
        int delay, ms;
    } cases[] = {{0, 0},
                 {441, 10},
                 {2000, 45},
                 {2006, 45},
                 {2007, 46},
                 {22000, 499},
                 // Heard before it was sent, as from a server that renders ahead of its clock.
                 {-441, 0}};
    for (const auto& [delay, ms] : cases) {
        Case c{"", 2, false, 0, 1};
        c.delay = delay;
        const Made made = Record(c);
        const LoopbackJudgement j = JudgeLoopback(made.samples, 2, made.sent);
        EXPECT_TRUE(AllHeard(j)) << delay;
        EXPECT_FALSE(j.broken) << delay;
        EXPECT_EQ(j.latencyMs, ms) << delay;
    }
}

// A recording that lost or gained sound on the way is broken: sized where the tones' own timing
// shows how much, and never judged. A loss the tones' timing can't show (before the first tone
// plays) is the recorder clock's to find.
TEST(JudgeLoopback, ARecordingThatLostSoundIsBroken) {
    constexpr int kLeftAt = kSentLeft + 3000;  // where the left tone lands, 68 ms late
    const struct {
        const char* name;
        int loseAt, lose;
        int lostFrames;    // -1: broken, unsized; 0: whole
        const char* kept;  // the tones that kept pace on their own, whose breaks still count
        bool silent = false;
    } cases[] = {
        {"100 ms lost inside the left tone", kLeftAt + 5000, 4410, 4410, "R"},
        {"100 ms lost late in the left tone", kLeftAt + 17000, 4410, 4410, "R"},
        {"100 ms lost in the gap", kLeftAt + kCheckToneFrames + 2000, 4410, 4410, "LR"},
        {"30 ms lost inside the right tone", kLeftAt + kRightToneOffsetFrames + 9000, 1323, 1323,
         "L"},
        {"50 ms repeated in the gap", kLeftAt + kCheckToneFrames + 4000, -2205, -1, "LR"},
        {"50 ms repeated inside the left tone", kLeftAt + 9000, -2205, -1, "R"},
        {"1 ms lost in the gap: within what whole means", kLeftAt + kCheckToneFrames + 2000, 44, 0,
         "LR"},
        // Seen over PulseAudio: the rest of the left tone came 0.1 s late, into the quiet the
        // noise is measured in, and the left tone was called not heard over -13.1 dBFS of it.
        {"0.1 s of silence inside the left tone", kLeftAt + 6000, -4410, -1, "R", true},
        {"0.1 s of silence inside the right tone", kLeftAt + kRightToneOffsetFrames + 6000, -4410,
         -1, "L", true},
        // Too little to move a tone's length or the tones' spacing by 2 ms, but the tone comes back
        // out of step: the phase it runs on in is a quarter period or more off.
        {"a quarter period lost inside the left tone", kLeftAt + 11000, 25, -1, "R"},
        {"1 ms lost inside the right tone", kLeftAt + kRightToneOffsetFrames + 11000, 44, -1, "L"},
        {"3 ms of silence inside the right tone", kLeftAt + kRightToneOffsetFrames + 11000, -132,
         -1, "L", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Case rec{"", 2, false, 0, 1};
        rec.loseAt = c.loseAt, rec.lose = c.lose, rec.silent = c.silent;
        const Made made = Record(rec);
        const LoopbackJudgement j = JudgeLoopback(made.samples, 2, made.sent);
        EXPECT_EQ(j.broken, c.lostFrames != 0);
        EXPECT_EQ(j.tones[0].whole, std::strchr(c.kept, 'L') != nullptr);
        EXPECT_EQ(j.tones[1].whole, std::strchr(c.kept, 'R') != nullptr);
        if (c.lostFrames > 0) {
            // Sized to 2 ms: the box says "about".
            EXPECT_NEAR(j.lostFrames, c.lostFrames, kWholeToleranceFrames);
        } else if (c.lostFrames < 0) {
            EXPECT_EQ(j.lostFrames, -1);
        }
    }
    // A tone found at the very edge of where it is looked for is not found: the recording is
    // broken, whatever it seems to hold, and tells no latency.
    for (const int delay : {kMaxLatencyFrames, kMaxLatencyFrames + 2000, -kEarliestFrames - 300}) {
        SCOPED_TRACE(delay);
        Case c{"", 2, false, 0, 1};
        c.delay = delay;
        const Made made = Record(c);
        EXPECT_TRUE(JudgeLoopback(made.samples, 2, made.sent).broken);
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
