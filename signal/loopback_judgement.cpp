#include "signal/loopback_judgement.h"

#include <algorithm>
#include <cmath>

#include "signal/band_level.h"
#include "signal/tone_faults.h"
#include "signal/tone_reading.h"
#include "signal/tone_search.h"

namespace kelvane {
namespace {

constexpr int kMaxFrames = 1 << 28;  // keeps frame arithmetic inside int
// An onset found this close to either end of its search window is the window's, not the tone's.
constexpr int kEdgeFrames = kToneRate / 1000;
// How near a whole number of half periods two tones' fits may be apart and still be on the carrier.
constexpr int kOnCarrierFrames = 5;
// How far from the best fitting tone's start each other tone is looked for.
constexpr int kNearFrames = kRightToneOffsetFrames - kCheckToneFrames - kToneRate / 20;

const ToneJudgement* Find(const LoopbackJudgement& judgement, ToneChannel channel) {
    for (const ToneJudgement& tone : judgement.tones) {
        if (tone.channel == channel) {
            return &tone;
        }
    }
    return nullptr;
}

}  // namespace

std::vector<std::int16_t> MakeCheckTones(bool stereo) {
    if (!stereo) {
        return MakeTestTone(ToneChannel::Mono, kCheckToneFrames);
    }
    std::vector<std::int16_t> samples = MakeTestTone(ToneChannel::Left, kCheckToneFrames);
    samples.resize(samples.size() + 2 * kCheckGapFrames, 0);
    const std::vector<std::int16_t> right = MakeTestTone(ToneChannel::Right, kCheckToneFrames);
    samples.insert(samples.end(), right.begin(), right.end());
    return samples;
}

int CheckFramesPlayed(bool stereo) {
    return stereo ? kRightToneOffsetFrames + kCheckToneFrames : kCheckToneFrames;
}

LoopbackJudgement JudgeLoopback(const std::vector<std::int16_t>& samples, int channels,
                                const std::vector<SentTone>& tones) {
    LoopbackJudgement judgement;
    for (const SentTone& sent : tones) {
        judgement.tones.push_back({});
        judgement.tones.back().channel = sent.channel;
    }
    if (channels != 1 && channels != 2) {
        return judgement;
    }
    const std::size_t whole = samples.size() / channels;
    const Recording rec{samples.data(), channels,
                        whole > kMaxFrames ? kMaxFrames : static_cast<int>(whole)};
    judgement.monoRecording = channels == 1 || ChannelsSame(rec);
    const int analysed = judgement.monoRecording ? 1 : 2;
    if (tones.empty() || rec.frames == 0) {
        return judgement;
    }

    // A sent frame further out than this puts the tone wholly outside the recording whatever the
    // latency; bringing it in keeps the arithmetic inside int and changes no verdict.
    std::vector<int> sent;
    for (const SentTone& tone : tones) {
        sent.push_back(Clamp(tone.frame, -(kCheckToneFrames + kMaxLatencyFrames), rec.frames));
    }

    // The pitch comes first, from wherever in its possible span the tone is heard longest: the
    // tone is then looked for at the pitch it has, so a device a little off in rate is still timed.
    std::vector<double> pitch(tones.size()), hz(tones.size());
    for (std::size_t i = 0; i < tones.size(); ++i) {
        const int from = Clamp(static_cast<long long>(sent[i]) - kEarliestFrames, 0, rec.frames);
        const int to = Clamp(static_cast<long long>(sent[i]) + kCheckToneFrames + kMaxLatencyFrames,
                             0, rec.frames);
        pitch[i] = MeasurePitch(rec, analysed, from, to);
        hz[i] = pitch[i] > 0 ? pitch[i] : kToneHz;
    }

    // They went out in one stream, so one latency holds for all: the best fitting tone's. Each
    // tone is then looked for near it, no further than a tone that starts later could be without
    // reaching the next one: so a missing left tone is not found in the right one, and a
    // recording that lost sound between them shows as tones no longer the played distance apart.
    std::vector<std::vector<double>> score(tones.size(), std::vector<double>(kSearchFrames)),
        envelope = score;
    std::size_t reference = 0;
    for (std::size_t i = 0; i < tones.size(); ++i) {
        AddCorrelation(rec, analysed, sent[i], hz[i], score[i], envelope[i]);
        const auto peak = [&](std::size_t t) {
            return *std::max_element(envelope[t].begin(), envelope[t].end());
        };
        reference = peak(i) > peak(reference) ? i : reference;
    }
    const int found = BestStart(score[reference], envelope[reference]);
    const int latency = found - kEarliestFrames;
    std::vector<int> own(tones.size()), spans(tones.size());
    std::vector<bool> present(tones.size());  // loud enough and at its pitch, heard or not
    // Where a fade fell silent, the tone's start and end are known only to within that silence.
    std::vector<int> fadesSilenced(tones.size());
    bool added = false;  // something came back longer than it went out: no loss can be sized
    for (std::size_t i = 0; i < tones.size(); ++i) {
        own[i] = BestStart(score[i], envelope[i], found - kNearFrames, found + kNearFrames);
        spans[i] = sent[i] - kEarliestFrames + own[i];
    }

    for (std::size_t i = 0; i < tones.size(); ++i) {
        ToneJudgement& tone = judgement.tones[i];
        tone.onsetFrame = spans[i];
        int stronger = 0;
        double level[2] = {kSilenceDbfs, kSilenceDbfs};
        for (int channel = 0; channel < analysed; ++channel) {
            level[channel] = ToneDbfs(rec, channel, tone.onsetFrame, hz[i]);
            stronger = level[channel] > level[stronger] ? channel : stronger;
        }
        tone.hz = static_cast<int>(pitch[i] + 0.5);
        tone.levelDbfs = level[stronger];
        tone.floorDbfs = QuietDbfs(rec, stronger, spans, hz[i]);
        if (analysed == 2) {
            tone.strongerIn = stronger == 0 ? RecordedSide::Left : RecordedSide::Right;
        }
        const double off = pitch[i] - kToneHz;
        present[i] = tone.levelDbfs >= kHeardMinDbfs && pitch[i] > 0 &&
                     (off < 0 ? -off : off) <= kHeardPitchTolerance * kToneHz;
        tone.heard = present[i] && tone.levelDbfs - tone.floorDbfs >= kHeardAboveFloorDb;
        const ToneReads reads =
            present[i] ? ReadTone(rec, stronger, tone.onsetFrame, hz[i]) : ToneReads{};
        bool keptPace = true;
        if (tone.heard) {
            const Breaks breaks = CountBreaks(reads);
            tone.gaps = breaks.gaps;
            // Out of step after a break: sound was lost or held up on the way, so nothing after
            // it can be timed. Not sized: the phase tells the shift only to within a period.
            keptPace = breaks.shifted == 0;
            tone.clipped = TouchesFullScale(rec, tone.onsetFrame);
            tone.distortionPercent = DistortionPercent(rec, stronger, tone.onsetFrame, hz[i]);
            // Clipping is the recording's, and would be told as the speaker's distortion.
            tone.distorted = !tone.clipped && tone.distortionPercent > kDistortionPercent;
            judgement.clipped = judgement.clipped || tone.clipped;
        }
        if (!present[i]) {
            continue;
        }
        fadesSilenced[i] = SilencedNearFades(reads);
        // Quiet parts that hold the tone's pitch loud enough to be heard hold the tone itself
        // where it should not be: a device that ran dry and played the rest of it later, say.
        // Heard or not (not only because the quiet parts hold as much), nothing is timed then,
        // and whatever else they hold (hum) is the tone's too.
        if (tone.floorDbfs >= kHeardMinDbfs) {
            keptPace = false;
        }
        // Is it whole? Found away from the edges of where it was looked for, and as long as it
        // was played.
        const auto atEdge = [](int at, int low, int high) {
            return at <= low + kEdgeFrames || at >= high - kEdgeFrames;
        };
        if (atEdge(own[i], 0, kSearchFrames - 1) ||
            atEdge(own[i], found - kNearFrames, found + kNearFrames)) {
            keptPace = false;
        }
        // A tone cut flat at full scale reaches half its middle sooner on its fades, and so reads
        // longer with nothing added: its length says nothing. Its start, and the other tone's,
        // still do.
        const int length = TouchesFullScale(rec, tone.onsetFrame)
                               ? -1
                               : ToneLength(rec, stronger, tone.onsetFrame, hz[i]);
        const int shortBy = kCheckToneFrames - kToneFadeFrames - length;
        // Silence on a fade makes the tone read shorter with nothing lost; never longer.
        if (length >= 0 && (shortBy > kWholeToleranceFrames + fadesSilenced[i] ||
                            -shortBy > kWholeToleranceFrames)) {
            keptPace = false;
            judgement.lostFrames = shortBy > judgement.lostFrames ? shortBy : judgement.lostFrames;
            added = added || shortBy < 0;
        }
        tone.whole = tone.heard && keptPace;
        judgement.broken = judgement.broken || !keptPace;
    }

    const ToneJudgement* left = Find(judgement, ToneChannel::Left);
    const ToneJudgement* right = Find(judgement, ToneChannel::Right);
    judgement.toldApart = left != nullptr && right != nullptr && left->heard && right->heard &&
                          !judgement.monoRecording && left->strongerIn != right->strongerIn;
    judgement.swapped = judgement.toldApart && left->strongerIn == RecordedSide::Right;
    if (left != nullptr && right != nullptr && present[left - judgement.tones.data()] &&
        present[right - judgement.tones.data()]) {
        // Both went out in one buffer: the distance between their starts cannot change on a
        // whole way back.
        const std::size_t l = static_cast<std::size_t>(left - judgement.tones.data()),
                          r = static_cast<std::size_t>(right - judgement.tones.data());
        const int moved = own[r] - own[l];
        // A silence on a fade pulls the fit of its tone a few half periods off (the carrier fits
        // as well there, with the other sign), no further than the silence, and on the carrier:
        // sound lost moves the tone by any number of frames.
        const double halfPeriod = kToneRate / (2 * hz[r]);
        const bool onCarrier =
            std::fabs(moved - halfPeriod * std::lround(moved / halfPeriod)) <= kOnCarrierFrames;
        const int tolerance =
            kWholeToleranceFrames + (onCarrier ? fadesSilenced[l] + fadesSilenced[r] : 0);
        if (moved < -tolerance || moved > tolerance) {
            judgement.broken = true;
            if (-moved > judgement.lostFrames) {
                judgement.lostFrames = -moved;
            }
            added = added || moved > 0;
        }
    }
    if (added) {
        judgement.lostFrames = -1;
    }
    if (left != nullptr && right != nullptr && left->heard && right->heard) {
        const double leftLouderBy = left->levelDbfs - right->levelDbfs;
        if (std::fabs(leftLouderBy) >= kQuieterSideDb) {
            judgement.quieter = leftLouderBy > 0 ? ToneChannel::Right : ToneChannel::Left;
            judgement.quieterByDb = std::fabs(leftLouderBy);
        }
    }
    if (AnyHeard(judgement)) {
        judgement.hum = FindHum(rec, analysed, spans);
    }
    if (AnyHeard(judgement)) {
        // A server that renders ahead of its own clock is heard a little before it was sent.
        judgement.latencyMs = latency <= 0 ? 0 : (latency * 1000 + kToneRate / 2) / kToneRate;
    }
    return judgement;
}

bool AnyHeard(const LoopbackJudgement& judgement) {
    for (const ToneJudgement& tone : judgement.tones) {
        if (tone.heard) {
            return true;
        }
    }
    return false;
}

bool AnyFault(const LoopbackJudgement& judgement) {
    for (const ToneJudgement& tone : judgement.tones) {
        if (tone.gaps > 0 || tone.distorted) {
            return true;
        }
    }
    return judgement.clipped || judgement.hum.hz != 0 || judgement.quieter != ToneChannel::Mono;
}

bool AllHeard(const LoopbackJudgement& judgement) {
    for (const ToneJudgement& tone : judgement.tones) {
        if (!tone.heard) {
            return false;
        }
    }
    return !judgement.tones.empty();
}

}  // namespace kelvane
