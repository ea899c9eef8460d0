#include "signal/loopback_judgement.h"

#include "signal/series_math.h"

namespace kelvane {
namespace {

constexpr double kFullScale = 32767.0;
constexpr int kBlockFrames = kToneRate / 20;      // 50 ms: 22 whole cycles of 440 Hz
constexpr int kMinSteadyFrames = kToneRate / 10;  // less of a tone than this is not judged
constexpr int kMaxFrames = 1 << 28;               // keeps frame arithmetic inside int
constexpr double kMaxCrossingGap = 2.0 * kToneRate / kToneHz;
constexpr int kMinCycles = 10;

struct Complex {
    double re = 0, im = 0;
};
Complex operator+(Complex a, Complex b) {
    return {a.re + b.re, a.im + b.im};
}
Complex operator-(Complex a, Complex b) {
    return {a.re - b.re, a.im - b.im};
}
Complex operator*(Complex a, Complex b) {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
Complex operator*(double k, Complex a) {
    return {k * a.re, k * a.im};
}
Complex Conj(Complex a) {
    return {a.re, -a.im};
}
Complex Turn(double angle) {
    return {Cosine(angle), Sine(angle)};
}

// e^(i w n) for n = first, first + 1, ...: one rotation a step, recomputed from the series every
// 1024 steps so that rounding cannot pile up over a recording of several seconds.
class Rotor {
  public:
    Rotor(double w, int first) : w_(w), n_(first), step_(Turn(w)), value_(Turn(w * first)) {}
    Complex Next() {
        const Complex current = value_;
        ++n_;
        value_ = n_ % 1024 == 0 ? Turn(w_ * n_) : value_ * step_;
        return current;
    }

  private:
    double w_;
    int n_;
    Complex step_, value_;
};

struct Recording {
    const std::int16_t* samples;
    int channels;
    int frames;
    double At(int frame, int channel) const {
        return samples[static_cast<std::size_t>(frame) * channels + channel];
    }
};

int Clamp(long long value, int low, int high) {
    return static_cast<int>(value < low ? low : value > high ? high : value);
}

// The level of a sine whose peak squared is given; a sine at full scale is 0 dBFS.
double Dbfs(double peakSquared) {
    const double db = 10 * Log10(peakSquared / (kFullScale * kFullScale));
    return db > kSilenceDbfs ? db : kSilenceDbfs;
}

// Broadband noise over [from, to) of one channel, as the level of a sine of the same power. The
// mean is taken out: a steady offset is not heard.
double NoiseDbfs(const Recording& rec, int channel, int from, int to) {
    double sum = 0, squares = 0;
    for (int f = from; f < to; ++f) {
        const double x = rec.At(f, channel);
        sum += x;
        squares += x * x;
    }
    const double mean = sum / (to - from);
    return Dbfs(2 * (squares / (to - from) - mean * mean));
}

double Mean(const Recording& rec, int channel, int from, int to) {
    double sum = 0;
    for (int f = from; f < to; ++f) {
        sum += rec.At(f, channel);
    }
    return sum / (to - from);
}

// The power of the loudest 50 ms block in [from, to), the mean taken out.
double LoudestBlock(const Recording& rec, int channel, int from, int to, double mean) {
    double loudest = 0;
    for (int block = from; block + kBlockFrames <= to; block += kBlockFrames) {
        double squares = 0;
        for (int f = block; f < block + kBlockFrames; ++f) {
            const double x = rec.At(f, channel) - mean;
            squares += x * x;
        }
        loudest = squares / kBlockFrames > loudest ? squares / kBlockFrames : loudest;
    }
    return loudest;
}

// The pitch, in Hz, of the longest regular tone in [from, to), on the channel that holds the
// loudest 50 ms: its rising zero crossings, placed between samples by interpolation, over the
// longest run with no gap wider than two 440 Hz periods. A crossing counts only after the signal
// has been below half the loudest block's RMS, so noise well under the tone adds none (a tone
// 20 dB over the noise, as a heard one is, stands some 14 noise RMS high). 0 for fewer than ten
// cycles.
double MeasurePitch(const Recording& rec, int channels, int from, int to) {
    if (to - from < kBlockFrames) {
        return 0;
    }
    int channel = 0;
    double mean = 0, loudest = -1;
    for (int c = 0; c < channels; ++c) {
        const double m = Mean(rec, c, from, to), power = LoudestBlock(rec, c, from, to, m);
        if (power > loudest) {
            channel = c;
            mean = m;
            loudest = power;
        }
    }
    const double armBelow = 0.25 * loudest;
    bool armed = false, inRun = false;
    double runStart = 0, last = 0, bestSpan = 0;
    int cycles = 0, bestCycles = 0;
    double previous = rec.At(from, channel) - mean;
    for (int f = from + 1; f < to; ++f) {
        const double x = rec.At(f, channel) - mean;
        if (x < 0 && x * x > armBelow) {
            armed = true;
        } else if (armed && previous < 0 && x >= 0) {
            armed = false;
            const double at = f - 1 + previous / (previous - x);
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
        previous = x;
    }
    return bestCycles < kMinCycles ? 0 : bestCycles * kToneRate / bestSpan;
}

// Adds to score[latency], for every latency up to kMaxLatencyFrames, how well the test tone (at the
// pitch given) started at sent + latency explains one channel: the square of their correlation
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
    constexpr int N = kToneFrames, F = kToneFadeFrames;
    const int a = Clamp(sent, 0, rec.frames);
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
        const double fade = fromEdge < F ? Sine(kPi * fromEdge / (2.0 * F)) : 1.0;
        const double x = fade * fade * tone.Next().im;
        energy[k + 1] = energy[k] + x * x;
    }
    const Complex toFadeOutEnd = Turn(v * (N - 1));
    Rotor lagW(w, sent), lagV(v, sent);
    for (int latency = 0; latency <= kMaxLatencyFrames; ++latency) {
        const int t = sent + latency;
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
            score[latency] += correlation * correlation / inside;
            envelope[latency] += (sum.re * sum.re + sum.im * sum.im) / inside;
        }
    }
}

// The tone at the pitch given over its steady part (after the fade-in, before the fade-out), as
// far as the recording holds it: its power averaged over 50 ms blocks, so that a pitch a fraction
// of a hertz off still counts in full. Silence when less than 0.1 s of it was recorded.
double ToneDbfs(const Recording& rec, int channel, int onset, double hz) {
    const int from = Clamp(static_cast<long long>(onset) + kToneFadeFrames, 0, rec.frames);
    const int to =
        Clamp(static_cast<long long>(onset) + kToneFrames - kToneFadeFrames, 0, rec.frames);
    if (to - from < kMinSteadyFrames) {
        return kSilenceDbfs;
    }
    Rotor rotor(-2 * kPi * hz / kToneRate, from);
    double power = 0;
    int blocks = 0;
    for (int block = from; block + kBlockFrames <= to; block += kBlockFrames, ++blocks) {
        Complex sum;
        for (int f = block; f < block + kBlockFrames; ++f) {
            sum = sum + rec.At(f, channel) * rotor.Next();
        }
        power += sum.re * sum.re + sum.im * sum.im;
    }
    // A sine of peak A sums to A/2 per frame.
    return Dbfs(4 * power / (static_cast<double>(blocks) * kBlockFrames * kBlockFrames));
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

const ToneJudgement* Find(const LoopbackJudgement& judgement, ToneChannel channel) {
    for (const ToneJudgement& tone : judgement.tones) {
        if (tone.channel == channel) {
            return &tone;
        }
    }
    return nullptr;
}

}  // namespace

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
        sent.push_back(Clamp(tone.frame, -(kToneFrames + kMaxLatencyFrames), rec.frames));
    }

    // The pitch comes first, from wherever in its possible span the tone is heard longest: the
    // tone is then looked for at the pitch it has, so a device a little off in rate is still timed.
    std::vector<double> pitch(tones.size());
    for (std::size_t i = 0; i < tones.size(); ++i) {
        const int from = Clamp(sent[i], 0, rec.frames);
        const int to =
            Clamp(static_cast<long long>(sent[i]) + kToneFrames + kMaxLatencyFrames, 0, rec.frames);
        pitch[i] = MeasurePitch(rec, analysed, from, to);
    }

    // One latency for all tones: they went out in one stream, so it is the same for each. Looking
    // for it jointly also keeps a missing left tone from being found in the right one.
    std::vector<double> score(kMaxLatencyFrames + 1, 0.0), envelope(kMaxLatencyFrames + 1, 0.0);
    for (std::size_t i = 0; i < tones.size(); ++i) {
        for (int channel = 0; channel < analysed; ++channel) {
            AddCorrelation(rec, channel, sent[i], pitch[i] > 0 ? pitch[i] : kToneHz, score,
                           envelope);
        }
    }
    int around = 0;
    for (int l = 1; l <= kMaxLatencyFrames; ++l) {
        around = envelope[l] > envelope[around] ? l : around;
    }
    // Within a quarter period either side of the envelope's peak, the carrier has one peak.
    const int quarter = kToneRate / (4 * kToneHz);
    int latency = Clamp(around - quarter, 0, kMaxLatencyFrames);
    for (int l = latency + 1; l <= around + quarter && l <= kMaxLatencyFrames; ++l) {
        latency = score[l] > score[latency] ? l : latency;
    }

    // The floor from the lead-in, before anything was sent; when the recording began too late to
    // have one, from what follows the last tone.
    int quietFrom = 0, quietTo = Clamp(sent[0], 0, rec.frames);
    for (const int s : sent) {
        quietTo = s < quietTo ? Clamp(s, 0, rec.frames) : quietTo;
    }
    if (quietTo - quietFrom < kBlockFrames) {
        int lastEnd = 0;
        for (const int s : sent) {
            const long long end = static_cast<long long>(s) + latency + kToneFrames;
            lastEnd = end > lastEnd ? Clamp(end, 0, rec.frames) : lastEnd;
        }
        quietFrom = lastEnd;
        quietTo = rec.frames;
    }
    double floor[2] = {kSilenceDbfs, kSilenceDbfs};
    for (int channel = 0; channel < analysed && quietTo - quietFrom >= kBlockFrames; ++channel) {
        floor[channel] = NoiseDbfs(rec, channel, quietFrom, quietTo);
    }

    for (std::size_t i = 0; i < tones.size(); ++i) {
        ToneJudgement& tone = judgement.tones[i];
        tone.onsetFrame = sent[i] + latency;
        const double hz = pitch[i] > 0 ? pitch[i] : kToneHz;
        int stronger = 0;
        double level[2] = {kSilenceDbfs, kSilenceDbfs};
        for (int channel = 0; channel < analysed; ++channel) {
            level[channel] = ToneDbfs(rec, channel, tone.onsetFrame, hz);
            stronger = level[channel] > level[stronger] ? channel : stronger;
        }
        tone.hz = static_cast<int>(pitch[i] + 0.5);
        tone.levelDbfs = level[stronger];
        tone.floorDbfs = floor[stronger];
        if (analysed == 2) {
            tone.strongerIn = stronger == 0 ? RecordedSide::Left : RecordedSide::Right;
        }
        const double off = pitch[i] - kToneHz;
        tone.heard = tone.levelDbfs >= kHeardMinDbfs &&
                     tone.levelDbfs - tone.floorDbfs >= kHeardAboveFloorDb && pitch[i] > 0 &&
                     (off < 0 ? -off : off) <= kHeardPitchTolerance * kToneHz;
    }

    const ToneJudgement* left = Find(judgement, ToneChannel::Left);
    const ToneJudgement* right = Find(judgement, ToneChannel::Right);
    judgement.toldApart = left != nullptr && right != nullptr && left->heard && right->heard &&
                          !judgement.monoRecording && left->strongerIn != right->strongerIn;
    judgement.swapped = judgement.toldApart && left->strongerIn == RecordedSide::Right;
    if (AnyHeard(judgement)) {
        judgement.latencyMs = (latency * 1000 + kToneRate / 2) / kToneRate;
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

bool AllHeard(const LoopbackJudgement& judgement) {
    for (const ToneJudgement& tone : judgement.tones) {
        if (!tone.heard) {
            return false;
        }
    }
    return !judgement.tones.empty();
}

}  // namespace kelvane
