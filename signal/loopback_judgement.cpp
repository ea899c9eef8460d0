#include "signal/loopback_judgement.h"

#include <algorithm>
#include <cmath>

#include "signal/band_level.h"
#include "signal/tone_faults.h"

namespace kelvane {
namespace {

constexpr int kBlockFrames = kToneRate / 20;      // 50 ms: 22 whole cycles of 440 Hz
constexpr int kMinSteadyFrames = kToneRate / 10;  // less of a tone than this is not judged
constexpr int kMaxFrames = 1 << 28;               // keeps frame arithmetic inside int
constexpr double kMaxCrossingGap = 1.5 * kToneRate / kToneHz;
constexpr int kMinCycles = 10;
constexpr int kSearchFrames = kEarliestFrames + kMaxLatencyFrames + 1;
// An onset found this close to either end of its search window is the window's, not the tone's.
constexpr int kEdgeFrames = kToneRate / 1000;
// How near a whole number of half periods two tones' fits may be apart and still be on the carrier.
constexpr int kOnCarrierFrames = 5;
// How far from the best fitting tone's start each other tone is looked for.
constexpr int kNearFrames = kRightToneOffsetFrames - kCheckToneFrames - kToneRate / 20;

// One channel of [from, to) through a band-pass around 440 Hz (a biquad, Q 5: 50 Hz hum comes
// out 33 dB down, broadband hiss some 24 dB), so that the zero crossings below are the tone's
// even where hum, rumble or hiss in the room is louder than the tone itself.
std::vector<double> BandPassed(const Recording& rec, int channel, int from, int to) {
    const double w0 = 2 * kPi * kToneHz / kToneRate, alpha = std::sin(w0) / (2 * 5.0);
    const double a0 = 1 + alpha, a1 = -2 * std::cos(w0) / a0, a2 = (1 - alpha) / a0;
    const double b0 = alpha / a0;
    std::vector<double> out(static_cast<std::size_t>(to - from));
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (int f = from; f < to; ++f) {
        const double x = rec.At(f, channel);
        const double y = b0 * (x - x2) - a1 * y1 - a2 * y2;
        x2 = x1, x1 = x, y2 = y1, y1 = y;
        out[f - from] = y;
    }
    return out;
}

// The power of the loudest 50 ms block.
double LoudestBlock(const std::vector<double>& x) {
    double loudest = 0;
    for (std::size_t block = 0; block + kBlockFrames <= x.size(); block += kBlockFrames) {
        double squares = 0;
        for (std::size_t f = block; f < block + kBlockFrames; ++f) {
            squares += x[f] * x[f];
        }
        loudest = squares / kBlockFrames > loudest ? squares / kBlockFrames : loudest;
    }
    return loudest;
}

// The pitch, in Hz, of the longest regular tone in [from, to), on the channel that holds the
// loudest 50 ms near 440 Hz: its rising zero crossings after the band-pass, placed between
// samples by interpolation, over the longest run with no gap wider than one and a half 440 Hz
// periods: a wider one is a crossing missed or a stretch of silence, which the run would count as
// one cycle and so read the pitch low. A crossing counts only after the signal has been below half
// the loudest block's RMS, so noise well under the tone adds none. 0 for fewer than ten cycles.
double MeasurePitch(const Recording& rec, int channels, int from, int to) {
    if (to - from < kBlockFrames) {
        return 0;
    }
    std::vector<double> x;
    double loudest = -1;
    for (int c = 0; c < channels; ++c) {
        std::vector<double> band = BandPassed(rec, c, from, to);
        const double power = LoudestBlock(band);
        if (power > loudest) {
            x.swap(band);
            loudest = power;
        }
    }
    const double armBelow = 0.25 * loudest;
    bool armed = false, inRun = false;
    double runStart = 0, last = 0, bestSpan = 0;
    int cycles = 0, bestCycles = 0;
    for (std::size_t f = 1; f < x.size(); ++f) {
        const double previous = x[f - 1];
        if (x[f] < 0 && x[f] * x[f] > armBelow) {
            armed = true;
        } else if (armed && previous < 0 && x[f] >= 0) {
            armed = false;
            const double at = static_cast<double>(f) - 1 + previous / (previous - x[f]);
            if (!inRun || at - last > kMaxCrossingGap) {
                inRun = true;
                runStart = at;
                cycles = 0;
            } else {
                ++cycles;
            }
            last = at;
            if (cycles > bestCycles) {
                bestCycles = cycles;
                bestSpan = last - runStart;
            }
        }
    }
    return bestCycles < kMinCycles ? 0 : bestCycles * kToneRate / bestSpan;
}

// Adds to score[kEarliestFrames + latency], for every latency from -kEarliestFrames up to
// kMaxLatencyFrames, how well the check's tone (at the pitch given) started at sent + latency
// explains one channel: the square of their correlation
// over the part of the tone inside the recording, divided by that part's energy. This is the
// least-squares fit of the known tone, fades included; for a clean recording it is largest at the
// very frame the tone starts, also when the recording holds only part of it. (The plain
// correlation is not: with the start cut off, a tone a period later overlaps more of the
// recording and wins.)
//
// The same fit also matches a tone of the other sign half a period later, all but its fades, so
// the two can swap places in noise or with a pitch a hundredth of a hertz off. envelope[latency]
// gets the same fit without the carrier (the correlation's magnitude, which no sign or phase
// changes): it has one peak, no sharper than a few frames, within which the carrier fit decides.
//
// With y[n] = x[n] e^(iwn) and the tone's envelope e[k], the correlation at t is
// Im(e^(-iwt) sum e[k] y[t + k]). The envelope is 1 less a raised cosine over each 20 ms fade, so
// the sum takes three running sums of y (as is, and turned by +-pi/F per frame), and every lag
// costs a handful of operations instead of a second's worth.
void AddCorrelation(const Recording& rec, int channel, int sent, double hz,
                    std::vector<double>& score, std::vector<double>& envelope) {
    constexpr int N = kCheckToneFrames, F = kToneFadeFrames;
    const int a = Clamp(static_cast<long long>(sent) - kEarliestFrames, 0, rec.frames);
    const int b = Clamp(static_cast<long long>(sent) + kMaxLatencyFrames + N, 0, rec.frames);
    if (b <= a) {
        return;
    }
    const double w = 2 * kPi * hz / kToneRate, v = kPi / F;
    std::vector<Complex> plain(b - a + 1), up(b - a + 1), down(b - a + 1);
    Rotor atW(w, a), atUp(w + v, a), atDown(w - v, a);
    for (int n = a; n < b; ++n) {
        const double x = rec.At(n, channel);
        plain[n - a + 1] = plain[n - a] + x * atW.Next();
        up[n - a + 1] = up[n - a] + x * atUp.Next();
        down[n - a + 1] = down[n - a] + x * atDown.Next();
    }
    // The sum over [from, to), frames outside the recording being silent.
    const auto range = [a, b](const std::vector<Complex>& sums, int from, int to) {
        from = Clamp(from, a, b);
        to = Clamp(to, a, b);
        return to > from ? sums[to - a] - sums[from - a] : Complex{};
    };
    // The tone's energy before each of its frames, for the part inside the recording.
    std::vector<double> energy(N + 1, 0.0);
    Rotor tone(w, 0);
    for (int k = 0; k < N; ++k) {
        const int fromEdge = k < N - 1 - k ? k : N - 1 - k;
        const double fade = fromEdge < F ? std::sin(kPi * fromEdge / (2.0 * F)) : 1.0;
        const double x = fade * fade * tone.Next().im;
        energy[k + 1] = energy[k] + x * x;
    }
    const Complex toFadeOutEnd = Turn(v * (N - 1));
    Rotor lagW(w, sent - kEarliestFrames), lagV(v, sent - kEarliestFrames);
    for (int i = 0; i < kSearchFrames; ++i) {
        const int t = sent - kEarliestFrames + i;
        const Complex turnW = lagW.Next(), turnV = lagV.Next();
        if (t + N <= a || t >= b) {
            continue;
        }
        const int fadeOut = t + N - F;
        const Complex turnEnd = turnV * toFadeOutEnd;
        const Complex sum =
            range(plain, t, t + N) - 0.5 * (range(plain, t, t + F) + range(plain, fadeOut, t + N)) -
            0.25 * (Conj(turnV) * range(up, t, t + F) + turnV * range(down, t, t + F)) -
            0.25 *
                (turnEnd * range(down, fadeOut, t + N) + Conj(turnEnd) * range(up, fadeOut, t + N));
        const double correlation = (Conj(turnW) * sum).im;
        const double inside = energy[Clamp(rec.frames - static_cast<long long>(t), 0, N)] -
                              energy[Clamp(-static_cast<long long>(t), 0, N)];
        if (inside > 0) {
            score[i] += correlation * correlation / inside;
            envelope[i] += Norm(sum) / inside;
        }
    }
}

// The tone over its steady part (after the fade-in, before the fade-out), as far as the
// recording holds it. Silence when less than 0.1 s of it was recorded.
double ToneDbfs(const Recording& rec, int channel, int onset, double hz) {
    const int from = Clamp(static_cast<long long>(onset) + kToneFadeFrames, 0, rec.frames);
    const int to =
        Clamp(static_cast<long long>(onset) + kCheckToneFrames - kToneFadeFrames, 0, rec.frames);
    Band band;
    AddBand(rec, channel, from, to, hz, band);
    return to - from < kMinSteadyFrames ? kSilenceDbfs : BandDbfs(band);
}

// How long the tone starting near onset lasts in one channel: from where its level first
// reaches half its middle's, to where it last does, both measured over 10 ms. Each fade is
// half-way up 10 ms from its end, so a whole tone measures kCheckToneFrames - kToneFadeFrames.
// A stretch of silence inside it (a device that ran dry) leaves that as it is; a stretch taken
// out shortens it. -1 where the recording does not hold the tone's whole span.
int ToneLength(const Recording& rec, int channel, int onset, double hz) {
    constexpr int W = kToneRate / 100, Slack = kToneRate / 10;
    const int from = Clamp(static_cast<long long>(onset) - Slack, 0, rec.frames);
    const int to = Clamp(static_cast<long long>(onset) + kCheckToneFrames + Slack, 0, rec.frames);
    const int mid = Clamp(static_cast<long long>(onset) + kCheckToneFrames / 4, from, to);
    const int midEnd = Clamp(static_cast<long long>(onset) + 3 * kCheckToneFrames / 4, from, to);
    if (to - from < 2 * W || midEnd - mid < W) {
        return -1;
    }
    const int n = to - from;
    std::vector<Complex> sums(static_cast<std::size_t>(n) + 1);
    Rotor rotor(-2 * kPi * hz / kToneRate, from);
    for (int k = 0; k < n; ++k) {
        sums[k + 1] = sums[k] + rec.At(from + k, channel) * rotor.Next();
    }
    // level[k]: the 10 ms from from + k on.
    std::vector<double> level(static_cast<std::size_t>(n - W) + 1);
    for (int k = 0; k + W <= n; ++k) {
        const Complex d = sums[k + W] - sums[k];
        level[k] = Norm(d);
    }
    double middle = 0;
    for (int f = mid; f + W <= midEnd; ++f) {
        middle += level[f - from];
    }
    middle /= midEnd - W + 1 - mid;
    // Half the amplitude is a quarter of the power.
    int first = -1, last = -1;
    for (int k = 0; k < static_cast<int>(level.size()); ++k) {
        if (level[k] >= middle / 4) {
            first = first < 0 ? k : first;
            last = k;
        }
    }
    // A tone that runs on past either end of what was recorded has no length to tell.
    if (first <= 0 || last + 1 >= static_cast<int>(level.size())) {
        return -1;
    }
    return last - first;
}

// Two channels are the same when what tells them apart is 40 dB below what they hold: a mono
// microphone delivered twice, perhaps with a last bit of difference.
bool ChannelsSame(const Recording& rec) {
    double difference = 0, total = 0;
    for (int f = 0; f < rec.frames; ++f) {
        const double left = rec.At(f, 0), right = rec.At(f, 1);
        difference += (left - right) * (left - right);
        total += left * left + right * right;
    }
    return difference * 1e4 <= total;
}

// The start that fits best within [low, high] of the search window: the envelope's peak, then
// within a quarter period either side of it the carrier's, which has one peak there.
int BestStart(const std::vector<double>& score, const std::vector<double>& envelope, int low = 0,
              int high = kSearchFrames - 1) {
    low = Clamp(low, 0, kSearchFrames - 1);
    high = Clamp(high, low, kSearchFrames - 1);
    int around = low;
    for (int l = low + 1; l <= high; ++l) {
        around = envelope[l] > envelope[around] ? l : around;
    }
    const int quarter = kToneRate / (4 * kToneHz);
    int best = Clamp(around - quarter, low, high);
    for (int l = best + 1; l <= around + quarter && l <= high; ++l) {
        best = score[l] > score[best] ? l : best;
    }
    return best;
}

// The noise near hz in one channel, wherever no tone plays. The quiet parts hold only a few
// blocks, so each is read at five frequencies 20 Hz apart around hz (two Hann bins, so nearly
// independent), which steadies the figure without reaching out to the 50 or 60 Hz of mains hum.
double QuietDbfs(const Recording& rec, int channel, const std::vector<int>& starts, double hz) {
    std::vector<Band> near;
    for (const auto& [from, to] : QuietStretches(starts, rec.frames)) {
        AddBands(rec, channel, from, to, {hz - 40, hz - 20, hz, hz + 20, hz + 40}, near);
    }
    Band band;
    for (const Band& each : near) {
        band.power += each.power, band.blocks += each.blocks;
    }
    return BandDbfs(band);
}

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
        for (int channel = 0; channel < analysed; ++channel) {
            AddCorrelation(rec, channel, sent[i], hz[i], score[i], envelope[i]);
        }
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
