// The faults the automatic check names, on recordings of the check's own two tones with one
// fault planted, judged whole as the check judges them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "signal/listens.h"
#include "signal/loopback_judgement.h"
#include "signal/tone_faults.h"

namespace kelvane {
namespace {

constexpr int kLead = 4410, kDelay = 3000;
constexpr int kFrames = kLead + kRightToneOffsetFrames + kCheckToneFrames + kMaxLatencyFrames;
constexpr int kMs = kToneRate / 1000;

struct Plant {
    std::vector<int> silenced;  // frames into the left tone where silentFrames of it are silent
    double thd = 0;   // a soft clip, y = x - a x^3, with a set so the tone comes out this distorted
    double gain = 1;  // before the 16-bit recording holds it: past 4 it clips
    double noiseDb = 0;       // white noise this far under the tone; 0 for none
    int humHz = 0;            // mains, with its 2nd and 3rd harmonics at 1/2 and 1/3 of it
    double humDbfs = 0;       // all three together, as one sine's peak
    bool humInTones = false;  // only while a tone plays, as an amplifier that buzzes with it
    double leftDb = 0, rightDb = 0;
    int silentFrames = 2 * kMs;
};

Plant Silent(std::vector<int> at, int frames) {
    Plant p;
    p.silenced = at, p.silentFrames = frames;
    return p;
}

// The tone's envelope and phase as the player makes them.
double Tone(int k, const Plant& p, bool left) {
    const int edge = k < kCheckToneFrames - 1 - k ? k : kCheckToneFrames - 1 - k;
    const double s = edge < kToneFadeFrames ? std::sin(kPi * edge / (2.0 * kToneFadeFrames)) : 1;
    for (const int at : p.silenced) {
        if (left && k >= at && k < at + p.silentFrames) {
            return 0;
        }
    }
    return kTonePeak * s * s * std::sin(2 * kPi * kToneHz * k / kToneRate);
}

LoopbackJudgement Judge(const Plant& p) {
    std::vector<double> mix(2 * kFrames, 0.0);
    const int at[2] = {kLead + kDelay, kLead + kRightToneOffsetFrames + kDelay};
    const double peak = kTonePeak / 32767.0;
    // x - a x^3 of a sine of peak A adds a third harmonic of a A^3 / 4 to a fundamental of
    // A - 3 a A^3 / 4.
    const double u = p.thd / (1 + 3 * p.thd), a = 4 * u / (peak * peak);
    for (int side = 0; side < 2; ++side) {
        const double gain = p.gain * std::pow(10.0, (side ? p.rightDb : p.leftDb) / 20);
        for (int k = 0; k < kCheckToneFrames; ++k) {
            const double x = Tone(k, p, side == 0) / 32767;
            mix[2 * (at[side] + k) + side] = gain * 32767 * (x - a * x * x * x);
        }
    }
    std::uint32_t seed = 12345;
    const double noise =
        p.noiseDb ? kTonePeak / std::sqrt(2.0) * std::pow(10.0, -p.noiseDb / 20) * std::sqrt(3.0)
                  : 0;  // the uniform noise whose RMS is that far under the tone's
    const double hum = 32767 * std::pow(10.0, p.humDbfs / 20) / std::sqrt(1 + 1 / 4.0 + 1 / 9.0);
    for (int f = 0; f < kFrames; ++f) {
        const bool inTone = (f >= at[0] && f < at[0] + kCheckToneFrames) ||
                            (f >= at[1] && f < at[1] + kCheckToneFrames);
        for (int c = 0; c < 2; ++c) {
            seed = seed * 1664525u + 1013904223u;
            double& s = mix[2 * f + c];
            s += noise * ((seed >> 8) / double(1 << 24) * 2 - 1);
            for (int h = 1; p.humHz && h <= 3 && inTone == p.humInTones; ++h) {
                s += hum / h * std::sin(2 * kPi * p.humHz * h * f / kToneRate);
            }
        }
    }
    std::vector<std::int16_t> samples;
    for (const double s : mix) {
        samples.push_back(
            static_cast<std::int16_t>(std::lround(std::fmax(-32768, std::fmin(32767, s)))));
    }
    return JudgeLoopback(
        samples, 2,
        {{ToneChannel::Left, kLead}, {ToneChannel::Right, kLead + kRightToneOffsetFrames}});
}

TEST(ToneFaults, EachPlantedFaultIsNamedAndNoOther) {
    constexpr double kAny = -1;
    const ToneChannel kNone = ToneChannel::Mono;
    const struct {
        const char* name;
        Plant plant;
        int leftGaps;
        double leftThd;  // percent, within thdTolerance; kAny: only not over the line
        double thdTolerance;
        bool distorted, clipped;
        int humHz;
        double humDbfs;  // within 0.5 dB
        ToneChannel quieter;
        double quieterByDb;  // within 0.1 dB
    } cases[] = {
        {"clean", {}, 0, 0, 0.05, false, false, 0, 0, kNone, 0},
        {"one stretch silent", {{100 * kMs}}, 1, kAny, 0, false, false, 0, 0, kNone, 0},
        {"three stretches silent",
         {{100 * kMs, 220 * kMs, 380 * kMs}},
         3,
         kAny,
         0,
         false,
         false,
         0,
         0,
         kNone,
         0},
        // Just under two periods: no cycle of the tone may be lost from its pitch.
        {"three stretches of 4.5 ms silent", Silent({4130, 11630, 19130}, 198), 3, kAny, 0, false,
         false, 0, 0, kNone, 0},
        // A plug that cuts out every 300 ms for 10 ms: on the fades too, where the tone then
        // seems to start late or end early, though not a frame of it was lost.
        {"10 ms silent on the fade in, and 300 ms on", Silent({300, 13530}, 441), 1, kAny, 0, false,
         false, 0, 0, kNone, 0},
        {"10 ms silent half-way up the fade in", Silent({500}, 441), 0, kAny, 0, false, false, 0, 0,
         kNone, 0},
        {"10 ms silent on the fade out", Silent({21000}, 441), 0, kAny, 0, false, false, 0, 0,
         kNone, 0},
        {"10 ms silent where the steady part ends", Silent({20900}, 441), 1, kAny, 0, false, false,
         0, 0, kNone, 0},
        {"soft clip, 5 %", {{}, 0.05}, 0, 5, 0.5, true, false, 0, 0, kNone, 0},
        {"soft clip, 1 %", {{}, 0.01}, 0, 1, 0.2, false, false, 0, 0, kNone, 0},
        // Noise 30 dB under the tone is 3 % of it: all of it counted would be distortion.
        {"noise 30 dB under", {{}, 0, 1, 30}, 0, 0, 0.5, false, false, 0, 0, kNone, 0},
        {"hard clip", {{}, 0, 4.5}, 0, kAny, 0, false, true, 0, 0, kNone, 0},
        // Cut flat, its fades reach half its middle sooner: longer, though no sound was added.
        {"hard clip, 3 dB past full scale", {{}, 0, 5.6}, 0, kAny, 0, false, true, 0, 0, kNone, 0},
        {"50 Hz hum at -30 dBFS",
         {{}, 0, 1, 0, 50, -30},
         0,
         0,
         0.1,
         false,
         false,
         50,
         -30,
         kNone,
         0},
        {"60 Hz hum at -30 dBFS",
         {{}, 0, 1, 0, 60, -30},
         0,
         0,
         0.1,
         false,
         false,
         60,
         -30,
         kNone,
         0},
        {"50 Hz hum at -60 dBFS",
         {{}, 0, 1, 0, 50, -60},
         0,
         0,
         0.1,
         false,
         false,
         50,
         -60,
         kNone,
         0},
        {"60 Hz hum at -60 dBFS",
         {{}, 0, 1, 0, 60, -60},
         0,
         0,
         0.1,
         false,
         false,
         60,
         -60,
         kNone,
         0},
        {"hum only under the tones",
         {{}, 0, 1, 0, 50, -30, true},
         0,
         kAny,
         0,
         false,
         false,
         0,
         0,
         kNone,
         0},
        {"right 6 dB down",
         {{}, 0, 1, 0, 0, 0, false, 0, -6},
         0,
         0,
         0.05,
         false,
         false,
         0,
         0,
         ToneChannel::Right,
         6},
        {"left 6 dB down",
         {{}, 0, 1, 0, 0, 0, false, -6, 0},
         0,
         0,
         0.05,
         false,
         false,
         0,
         0,
         ToneChannel::Left,
         6},
        {"right 2 dB down",
         {{}, 0, 1, 0, 0, 0, false, 0, -2},
         0,
         0,
         0.05,
         false,
         false,
         0,
         0,
         kNone,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const LoopbackJudgement j = Judge(c.plant);
        ASSERT_TRUE(AllHeard(j));
        ASSERT_FALSE(j.broken);
        const ToneJudgement &left = j.tones[0], &right = j.tones[1];
        EXPECT_TRUE(left.whole && right.whole);
        EXPECT_EQ(left.gaps, c.leftGaps);
        EXPECT_EQ(right.gaps, 0);
        if (c.leftThd != kAny) {
            EXPECT_NEAR(left.distortionPercent, c.leftThd, c.thdTolerance);
        }
        EXPECT_EQ(left.distorted, c.distorted);
        EXPECT_EQ(right.distorted, c.distorted);
        EXPECT_EQ(j.clipped, c.clipped);
        EXPECT_EQ(j.hum.hz, c.humHz);
        if (c.humHz) {
            EXPECT_NEAR(j.hum.dbfs, c.humDbfs, 0.5);
        }
        EXPECT_EQ(j.quieter, c.quieter);
        EXPECT_NEAR(j.quieterByDb, c.quieterByDb, 0.1);
        EXPECT_EQ(AnyFault(j),
                  c.leftGaps || c.distorted || c.clipped || c.humHz || c.quieter != kNone);
    }
}

// A plug that cuts out, wherever in the tone it falls, fades included: silenced, never lost, and
// a break of the steady part when it lies wholly inside it.
TEST(ToneFaults, ASilenceAnywhereInAToneIsABreakNeverLostSound) {
    for (const int frames : {132, 198, 441}) {
        // Over and beside each fade, where the tone's start and end are read, and once between.
        for (const int at :
             {0, 300, 500, 700, 850, 1000, 11000, 20700, 21000, 21300, 21534, 21900}) {
            SCOPED_TRACE(std::to_string(frames) + " frames silent from " + std::to_string(at));
            const LoopbackJudgement j = Judge(Silent({at}, frames));
            ASSERT_TRUE(AllHeard(j));
            EXPECT_FALSE(j.broken);
            EXPECT_TRUE(j.tones[0].whole && j.tones[1].whole);
            const bool inSteady =
                at > kToneFadeFrames && at + frames < kCheckToneFrames - kToneFadeFrames;
            if (inSteady) {
                EXPECT_EQ(j.tones[0].gaps, 1);
            } else {
                EXPECT_LE(j.tones[0].gaps, 1);
            }
        }
    }
}

TEST(ToneFaults, BreaksAreNamedOnlyWhenTwoListensKeptTheToneWholeAndHeardThemBreak) {
    struct Listen {
        char kept;        // W every frame; X sound lost; l, r lost elsewhere, that tone kept whole
        int left, right;  // breaks heard
    };
    constexpr AfterListen kShow = AfterListen::Show, kAgain = AfterListen::ListenAgain,
                          kBroken = AfterListen::Broken;
    const struct {
        const char* name;
        std::vector<Listen> listens;
        AfterListen last;
        int leftNamed, rightNamed;  // in the listen shown
    } cases[] = {
        {"nothing in doubt: one listen", {{'W', 0, 0}}, kShow, 0, 0},
        {"both heard them: as often as both", {{'W', 4, 5}, {'W', 5, 4}}, kShow, 4, 4},
        {"a stutter the second does not hear again", {{'W', 1, 0}, {'W', 0, 0}}, kShow, 0, 0},
        {"each side on its own", {{'W', 1, 0}, {'W', 2, 3}}, kShow, 1, 0},
        {"lost second, the third confirms", {{'W', 2, 2}, {'X', 0, 0}, {'W', 1, 3}}, kShow, 1, 2},
        {"the second and third lost sound", {{'W', 2, 2}, {'X', 0, 0}, {'X', 0, 0}}, kShow, 0, 0},
        {"lost first confirms nothing", {{'X', 3, 3}, {'W', 2, 2}, {'W', 1, 2}}, kShow, 1, 2},
        {"the first lost sound, the third too",
         {{'X', 0, 0}, {'W', 2, 2}, {'X', 0, 0}},
         kShow,
         0,
         0},
        {"the first lost sound, the second whole", {{'X', 0, 0}, {'W', 0, 0}}, kShow, 0, 0},
        {"sound lost twice", {{'X', 0, 0}, {'X', 0, 0}}, kBroken, 0, 0},
        // Sound lost in one tone says nothing of the other's breaks.
        {"the tone kept whole confirms", {{'l', 2, 0}, {'W', 1, 3}, {'r', 0, 3}}, kShow, 1, 3},
        {"each lost listen its own tone", {{'W', 2, 2}, {'r', 5, 3}, {'l', 1, 0}}, kShow, 1, 2},
        {"sound lost twice, though a tone was kept", {{'l', 2, 2}, {'r', 2, 2}}, kBroken, 2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Listens listens;
        LoopbackJudgement shown;
        for (std::size_t i = 0; i < c.listens.size(); ++i) {
            const char kept = c.listens[i].kept;
            shown.broken = kept != 'W';
            shown.tones = {{ToneChannel::Left}, {ToneChannel::Right}};
            shown.tones[0].gaps = c.listens[i].left, shown.tones[1].gaps = c.listens[i].right;
            shown.tones[0].whole = kept == 'W' || kept == 'l';
            shown.tones[1].whole = kept == 'W' || kept == 'r';
            const AfterListen next = listens.Next(shown, true);
            EXPECT_EQ(next, i + 1 < c.listens.size() ? kAgain : c.last) << "listen " << i + 1;
        }
        EXPECT_EQ(shown.tones[0].gaps, c.leftNamed);
        EXPECT_EQ(shown.tones[1].gaps, c.rightNamed);
    }
    // The recorder fell behind the clock: no tone of it can be trusted.
    Listens listens;
    LoopbackJudgement behind;
    behind.tones = {{ToneChannel::Left}};
    behind.tones[0].gaps = 2, behind.tones[0].whole = true;
    EXPECT_EQ(listens.Next(behind, true), kAgain);
    EXPECT_EQ(listens.Next(behind, false), kAgain);
    EXPECT_EQ(listens.Next(behind, false), kShow);
    EXPECT_EQ(behind.tones[0].gaps, 0);
}

}  // namespace
}  // namespace kelvane
