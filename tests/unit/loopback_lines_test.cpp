#include "app/loopback_lines.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace kelvane {
namespace {

using Lines = std::vector<std::u16string>;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

ToneJudgement Tone(ToneChannel channel, bool heard, int hz, double level, double floor,
                   RecordedSide in = RecordedSide::Neither) {
    ToneJudgement tone;
    tone.channel = channel;
    tone.heard = heard;
    tone.hz = hz;
    tone.levelDbfs = level;
    tone.floorDbfs = floor;
    tone.strongerIn = in;
    return tone;
}

TEST(ComposeLoopbackLines, SaysWhatWasHeardAndWhatWasNot) {
    const ToneJudgement left = Tone(ToneChannel::Left, true, 440, -15.14, -80, RecordedSide::Left);
    const ToneJudgement right =
        Tone(ToneChannel::Right, true, 441, -16.04, -80, RecordedSide::Right);
    const std::u16string leftHeard = u"左声道：听到，440 Hz，-15.1 dBFS";
    const std::u16string rightHeard = u"右声道：听到，441 Hz，-16.0 dBFS";
    const std::u16string device = u"录音设备：麦克风 (USB Audio)";
    const std::u16string headphones =
        u"如果用的是耳机，录音设备听不到它：请用左、右声道测试音试听。";
    const std::u16string oneChannel = u"录音设备只有一个声道（或两个声道相同），分不出左右。";
    const struct {
        const char* name;
        LoopbackJudgement judgement;
        Lines lines;
        bool allHeard;
    } cases[] = {
        {"both heard, told apart",
         {{left, right}, false, true, false, 68},
         {leftHeard, rightHeard, u"往返延迟：68 ms", device},
         true},
        {"swapped",
         {{left, right}, false, true, true, 5},
         {leftHeard, rightHeard, u"左右声道接反：左声道的测试音出现在录音的右声道。",
          u"往返延迟：5 ms", device},
         true},
        // Not heard: the room noise, louder than what was found at 440 Hz.
        {"right not heard",
         {{left, Tone(ToneChannel::Right, false, 439, -84, -72.04)}, false, false, false, 68},
         {leftHeard, u"右声道：没听到（录音里只有 -72.0 dBFS 的噪声）", u"往返延迟：68 ms", device},
         false},
        {"one-channel recording",
         {{left, right}, true, false, false, 1000},
         {leftHeard, rightHeard, oneChannel, u"往返延迟：1000 ms", device},
         true},
        // A rate mismatch: the tone heard at 480 Hz is louder than the floor, and is what shows.
        {"wrong pitch over digital silence",
         {{Tone(ToneChannel::Left, false, 480, -12.0, kSilenceDbfs),
           Tone(ToneChannel::Right, false, 480, -12.04, kSilenceDbfs)},
          false,
          false,
          false,
          -1},
         {u"左声道：没听到（录音里只有 -12.0 dBFS 的噪声）",
          u"右声道：没听到（录音里只有 -12.0 dBFS 的噪声）", device, headphones},
         false},
        // Nothing at all, both channels silent and so the same: no word on channels or latency,
        // and no "-inf" or "nan".
        {"silence",
         {{Tone(ToneChannel::Left, false, 0, -kInf, -kInf),
           Tone(ToneChannel::Right, false, 0, kNaN, kNaN)},
          true,
          false,
          false,
          -1},
         {u"左声道：没听到（录音里只有 -96.3 dBFS 的噪声）",
          u"右声道：没听到（录音里只有 -96.3 dBFS 的噪声）", device, headphones},
         false},
        {"mono device heard",
         {{Tone(ToneChannel::Mono, true, 440, -3.0, -60)}, true, false, false, 12},
         {u"测试音：听到，440 Hz，-3.0 dBFS", u"往返延迟：12 ms", device},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const LoopbackLines box = ComposeLoopbackLines(c.judgement, u"麦克风 (USB Audio)");
        EXPECT_EQ(box.lines, c.lines);
        EXPECT_EQ(box.information, c.allHeard);
    }
}

// The faults found come after the tones' lines and before the rest, each with its figure, and the
// box then warns: a tone heard is not a tone heard well.
TEST(ComposeLoopbackLines, NamesEachFaultFoundInOrder) {
    const auto heard = [](ToneChannel channel, RecordedSide in) {
        return Tone(channel, true, 440, -12, -90, in);
    };
    const std::u16string leftHeard = u"左声道：听到，440 Hz，-12.0 dBFS";
    const std::u16string rightHeard = u"右声道：听到，440 Hz，-12.0 dBFS";
    const std::u16string tail[] = {u"往返延迟：8 ms", u"录音设备：线路输入"};
    const struct {
        const char* name;
        void (*plant)(LoopbackJudgement&);
        Lines faults;
    } cases[] = {
        {"none", [](LoopbackJudgement&) {}, {}},
        {"gaps on both sides",
         [](LoopbackJudgement& j) { j.tones[0].gaps = 1, j.tones[1].gaps = 3; },
         {u"左声道的测试音中断了 1 次（断音），声音可能时断时续。",
          u"右声道的测试音中断了 3 次（断音），声音可能时断时续。"}},
        {"distortion: one decimal below 10, whole from there",
         [](LoopbackJudgement& j) {
             j.tones[0].distorted = j.tones[1].distorted = true;
             j.tones[0].distortionPercent = 5.44, j.tones[1].distortionPercent = 12.5;
         },
         {u"左声道失真 5.4 %，声音可能发破。", u"右声道失真 13 %，声音可能发破。"}},
        {"distortion that rounds to 10",
         [](LoopbackJudgement& j) {
             j.tones[1].distorted = true, j.tones[1].distortionPercent = 9.96;
         },
         {u"右声道失真 10 %，声音可能发破。"}},
        {"clipped",
         [](LoopbackJudgement& j) { j.clipped = true; },
         {u"录音电平过高，录音被削顶；请调低录音音量后再试。"}},
        {"hum",
         [](LoopbackJudgement& j) {
             j.hum = {60, -34.04};
         },
         {u"录音里有 60 Hz 的嗡嗡声（-34.0 dBFS），可能是接地或线缆的问题。"}},
        {"right quieter",
         [](LoopbackJudgement& j) { j.quieter = ToneChannel::Right, j.quieterByDb = 6.04; },
         {u"右声道比左声道小 6.0 dB。"}},
        {"left quieter",
         [](LoopbackJudgement& j) { j.quieter = ToneChannel::Left, j.quieterByDb = 3.0; },
         {u"左声道比右声道小 3.0 dB。"}},
        {"all at once, in their order",
         [](LoopbackJudgement& j) {
             j.tones[1].gaps = 2, j.tones[0].distorted = true, j.tones[0].distortionPercent = 4;
             j.clipped = true, j.hum = {50, -60}, j.quieter = ToneChannel::Left;
             j.quieterByDb = 4;
         },
         {u"右声道的测试音中断了 2 次（断音），声音可能时断时续。",
          u"左声道失真 4.0 %，声音可能发破。", u"录音电平过高，录音被削顶；请调低录音音量后再试。",
          u"录音里有 50 Hz 的嗡嗡声（-60.0 dBFS），可能是接地或线缆的问题。",
          u"左声道比右声道小 4.0 dB。"}},
        // A tone not heard has nothing more to tell.
        {"gaps in a tone not heard",
         [](LoopbackJudgement& j) { j.tones[1].heard = false, j.tones[1].gaps = 2; },
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackJudgement j{{heard(ToneChannel::Left, RecordedSide::Left),
                             heard(ToneChannel::Right, RecordedSide::Right)},
                            false,
                            true,
                            false,
                            8};
        c.plant(j);
        const LoopbackLines box = ComposeLoopbackLines(j, u"线路输入");
        Lines lines{leftHeard, j.tones[1].heard
                                   ? rightHeard
                                   : u"右声道：没听到（录音里只有 -12.0 dBFS 的噪声）"};
        lines.insert(lines.end(), c.faults.begin(), c.faults.end());
        lines.insert(lines.end(), std::begin(tail), std::end(tail));
        EXPECT_EQ(box.lines, lines);
        EXPECT_EQ(box.information, c.faults.empty() && j.tones[1].heard);
    }
    LoopbackJudgement mono{
        {heard(ToneChannel::Mono, RecordedSide::Neither)}, true, false, false, 8};
    mono.tones[0].gaps = 1, mono.tones[0].distorted = true, mono.tones[0].distortionPercent = 3.05;
    EXPECT_EQ(ComposeLoopbackLines(mono, u"线路输入").lines,
              (Lines{u"测试音：听到，440 Hz，-12.0 dBFS",
                     u"测试音中断了 1 次（断音），声音可能时断时续。",
                     u"测试音失真 3.1 %，声音可能发破。", tail[0], tail[1]}));
}

TEST(DecibelText, OneDecimalNeverInfinityNorNaN) {
    const struct {
        double dbfs;
        std::u16string text;
    } cases[] = {
        {-15.14, u"-15.1"}, {-15.16, u"-15.2"}, {-72.0, u"-72.0"},  {-0.04, u"0.0"},
        {1.25, u"1.3"},     {-96.3, u"-96.3"},  {-96.31, u"-96.3"}, {-200, u"-96.3"},
        {-kInf, u"-96.3"},  {kNaN, u"-96.3"},   {kInf, u"99.9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecibelText(c.dbfs), c.text) << c.dbfs;
    }
}

TEST(LoopbackErrorLines, NameTheFailureAndTheReason) {
    EXPECT_EQ(std::u16string(kLoopbackNoRecorder), u"没有录音设备，无法自动检测。");
    EXPECT_EQ(CannotRecordLine(u"设备正被占用。"), u"无法录音：设备正被占用。");
    EXPECT_EQ(CannotPlayLine(u"设备正被占用。"), u"无法播放测试音：设备正被占用。");
}

// The whole box for every way a check can end; a broken recording never gets a verdict, even one
// whose judgement looks heard.
TEST(ComposeLoopbackBox, EveryOutcomeItsLinesAndIcon) {
    using Kind = LoopbackOutcome::Kind;
    const std::u16string device = u"录音设备：麦克风 (USB Audio)";
    LoopbackJudgement heard{{Tone(ToneChannel::Left, true, 440, -12, -90, RecordedSide::Left),
                             Tone(ToneChannel::Right, true, 440, -12, -90, RecordedSide::Right)},
                            false,
                            true,
                            false,
                            8};
    LoopbackJudgement brokenHeard = heard;
    brokenHeard.broken = true;
    brokenHeard.lostFrames = 4428;
    const auto outcome = [](Kind kind, const char16_t* reason = u"",
                            const LoopbackJudgement& judgement = {}, int lostMs = -1) {
        LoopbackOutcome o;
        o.kind = kind, o.reason = reason, o.judgement = judgement, o.lostMs = lostMs;
        o.recorderName = u"麦克风 (USB Audio)";
        return o;
    };
    const struct {
        const char* name;
        LoopbackOutcome outcome;
        Lines lines;
        bool information;
    } cases[] = {
        {"no recorder", outcome(Kind::NoRecorder), {u"没有录音设备，无法自动检测。"}, false},
        {"cannot record",
         outcome(Kind::CannotRecord, u"设备正被占用。"),
         {u"无法录音：设备正被占用。"},
         false},
        {"cannot play",
         outcome(Kind::CannotPlay, u"设备正被占用。"),
         {u"无法播放测试音：设备正被占用。"},
         false},
        {"judged",
         outcome(Kind::Judged, u"", heard),
         {u"左声道：听到，440 Hz，-12.0 dBFS", u"右声道：听到，440 Hz，-12.0 dBFS",
          u"往返延迟：8 ms", device},
         true},
        {"broken, sized",
         outcome(Kind::Broken, u"", brokenHeard, 100),
         {u"检测时声音丢失了约 100 ms，无法判断。请关闭占用电脑的程序后再试一次。", device},
         false},
        {"broken, not sized",
         outcome(Kind::Broken, u"", brokenHeard, -1),
         {u"检测时声音不完整，无法判断。请关闭占用电脑的程序后再试一次。", device},
         false},
        {"judged but broken: sized from the judgement",
         outcome(Kind::Judged, u"", brokenHeard),
         {u"检测时声音丢失了约 100 ms，无法判断。请关闭占用电脑的程序后再试一次。", device},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const LoopbackLines box = ComposeLoopbackBox(c.outcome);
        EXPECT_EQ(box.lines, c.lines);
        EXPECT_EQ(box.information, c.information);
    }
}

}  // namespace
}  // namespace kelvane
