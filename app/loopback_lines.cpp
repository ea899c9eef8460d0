#include "app/loopback_lines.h"

namespace kelvane {
namespace {

std::u16string Digits(long value) {
    if (value < 0) {
        return u"-" + Digits(-value);
    }
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

// The tone's name as a line starts with it: "左声道", "右声道", or the one "测试音".
const char16_t* Name(ToneChannel channel) {
    switch (channel) {
        case ToneChannel::Left:
            return u"左声道";
        case ToneChannel::Right:
            return u"右声道";
        case ToneChannel::Mono:
            break;
    }
    return u"测试音";
}

std::u16string Label(ToneChannel channel) {
    return Name(channel) + std::u16string(u"：");
}

std::u16string ToneLine(const ToneJudgement& tone) {
    if (tone.heard) {
        return Label(tone.channel) + (u"听到，" + Digits(tone.hz) + u" Hz，") +
               DecibelText(tone.levelDbfs) + u" dBFS";
    }
    // The louder of the floor and what was found in the tone's place: the floor alone would
    // call a recording that heard the tone at a wrong pitch silent, and the level alone would
    // put a live microphone's room noise far below what it is. Either way it is what the
    // recording held instead of the tone.
    const double noise = tone.levelDbfs > tone.floorDbfs ? tone.levelDbfs : tone.floorDbfs;
    return Label(tone.channel) + (u"没听到（录音里只有 " + DecibelText(noise)) + u" dBFS 的噪声）";
}

// One decimal below 10, whole numbers from there: "5.4", "12".
std::u16string PercentText(double percent) {
    const long tenths = static_cast<long>(percent * 10 + 0.5);
    return tenths < 100 ? Digits(tenths / 10) + u"." + Digits(tenths % 10)
                        : Digits((tenths + 5) / 10);
}

// What the recording showed beyond each tone heard or not, in the order a user would look into
// them: the tone breaking off, then its sound, then the recording's level, its hum, the balance.
void AddFaultLines(const LoopbackJudgement& judgement, std::vector<std::u16string>& lines) {
    for (const ToneJudgement& tone : judgement.tones) {
        if (tone.heard && tone.gaps > 0) {
            const std::u16string whose = tone.channel == ToneChannel::Mono
                                             ? u""
                                             : Name(tone.channel) + std::u16string(u"的");
            lines.push_back(whose + u"测试音中断了 " + Digits(tone.gaps) +
                            u" 次（断音），声音可能时断时续。");
        }
    }
    for (const ToneJudgement& tone : judgement.tones) {
        if (tone.heard && tone.distorted) {
            lines.push_back(Name(tone.channel) + (u"失真 " + PercentText(tone.distortionPercent)) +
                            u" %，声音可能发破。");
        }
    }
    if (judgement.clipped) {
        lines.push_back(u"录音电平过高，录音被削顶；请调低录音音量后再试。");
    }
    if (judgement.hum.hz != 0) {
        lines.push_back(u"录音里有 " + Digits(judgement.hum.hz) + u" Hz 的嗡嗡声（" +
                        DecibelText(judgement.hum.dbfs) + u" dBFS），可能是接地或线缆的问题。");
    }
    if (judgement.quieter != ToneChannel::Mono) {
        const bool right = judgement.quieter == ToneChannel::Right;
        lines.push_back((right ? u"右声道比左声道小 " : u"左声道比右声道小 ") +
                        DecibelText(judgement.quieterByDb) + u" dB。");
    }
}

}  // namespace

std::u16string CannotRecordLine(const std::u16string& reason) {
    return u"无法录音：" + reason;
}

std::u16string CannotPlayLine(const std::u16string& reason) {
    return u"无法播放测试音：" + reason;
}

std::u16string DecibelText(double dbfs) {
    if (!(dbfs >= kSilenceDbfs)) {
        dbfs = kSilenceDbfs;
    } else if (dbfs > 99.9) {
        dbfs = 99.9;
    }
    // Tenths, rounded half away from zero; a value that rounds to nothing has no sign.
    const long tenths = static_cast<long>(dbfs < 0 ? dbfs * 10 - 0.5 : dbfs * 10 + 0.5);
    const long magnitude = tenths < 0 ? -tenths : tenths;
    return (tenths < 0 ? u"-" : u"") + Digits(magnitude / 10) + u"." + Digits(magnitude % 10);
}

LoopbackLines ComposeLoopbackLines(const LoopbackJudgement& judgement,
                                   const std::u16string& recorderName) {
    LoopbackLines box{{}, AllHeard(judgement) && !AnyFault(judgement)};
    bool stereoDevice = false;
    for (const ToneJudgement& tone : judgement.tones) {
        box.lines.push_back(ToneLine(tone));
        stereoDevice = stereoDevice || tone.channel != ToneChannel::Mono;
    }
    const bool anyHeard = AnyHeard(judgement);
    AddFaultLines(judgement, box.lines);
    if (judgement.swapped) {
        box.lines.push_back(u"左右声道接反：左声道的测试音出现在录音的右声道。");
    }
    // Only with something heard: two silent channels are the same too, and say nothing of the
    // device.
    if (judgement.monoRecording && stereoDevice && anyHeard) {
        box.lines.push_back(u"录音设备只有一个声道（或两个声道相同），分不出左右。");
    }
    if (anyHeard) {
        box.lines.push_back(u"往返延迟：" + Digits(judgement.latencyMs) + u" ms");
    }
    box.lines.push_back(u"录音设备：" + recorderName);
    if (!anyHeard) {
        box.lines.push_back(u"如果用的是耳机，录音设备听不到它：请用左、右声道测试音试听。");
    }
    return box;
}

LoopbackLines ComposeLoopbackBox(const LoopbackOutcome& outcome) {
    using Kind = LoopbackOutcome::Kind;
    switch (outcome.kind) {
        case Kind::NoRecorder:
            return {{kLoopbackNoRecorder}, false};
        case Kind::CannotRecord:
            return {{CannotRecordLine(outcome.reason)}, false};
        case Kind::CannotPlay:
            return {{CannotPlayLine(outcome.reason)}, false};
        case Kind::Judged:
            if (!outcome.judgement.broken) {
                return ComposeLoopbackLines(outcome.judgement, outcome.recorderName);
            }
            break;
        case Kind::Broken:
            break;
    }
    // No side is named: the tones' spacing also shrinks when sound was lost on the way out.
    const int lostMs = outcome.kind == Kind::Broken ? outcome.lostMs
                       : outcome.judgement.lostFrames > 0
                           ? (outcome.judgement.lostFrames * 1000 + kToneRate / 2) / kToneRate
                           : -1;
    const std::u16string first =
        lostMs >= 0
            ? u"检测时声音丢失了约 " + Digits(lostMs) +
                  u" ms，无法判断。请关闭占用电脑的程序后再试一次。"
            : std::u16string(u"检测时声音不完整，无法判断。请关闭占用电脑的程序后再试一次。");
    return {{first, u"录音设备：" + outcome.recorderName}, false};
}

}  // namespace kelvane
