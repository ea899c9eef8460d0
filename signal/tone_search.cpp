#include "signal/tone_search.h"

#include <cmath>

namespace kelvane {
namespace {

constexpr int kBlockFrames = kToneRate / 20;  // 50 ms: 22 whole cycles of 440 Hz
constexpr double kMaxCrossingGap = 1.5 * kToneRate / kToneHz;
constexpr int kMinCycles = 10;

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

}  // namespace

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

void AddCorrelation(const Recording& rec, int channels, int sent, double hz,
                    std::vector<double>& score, std::vector<double>& envelope) {
    constexpr int N = kCheckToneFrames, F = kToneFadeFrames;
    const int a = Clamp(static_cast<long long>(sent) - kEarliestFrames, 0, rec.frames);
    const int b = Clamp(static_cast<long long>(sent) + kMaxLatencyFrames + N, 0, rec.frames);
    if (b <= a || channels < 1 || channels > 2) {
        return;
    }
    const double w = 2 * kPi * hz / kToneRate, v = kPi / F;
    // By channel: the turns are taken once for both, where each costs a dozen emulated steps.
    std::vector<Complex> plain[2], up[2], down[2];
    for (int c = 0; c < channels; ++c) {
        plain[c].resize(b - a + 1), up[c].resize(b - a + 1), down[c].resize(b - a + 1);
    }
    Rotor atW(w, a), atUp(w + v, a), atDown(w - v, a);
    for (int n = a; n < b; ++n) {
        const Complex turnW = atW.Next(), turnUp = atUp.Next(), turnDown = atDown.Next();
        for (int c = 0; c < channels; ++c) {
            const double x = rec.At(n, c);
            plain[c][n - a + 1] = plain[c][n - a] + x * turnW;
            up[c][n - a + 1] = up[c][n - a] + x * turnUp;
            down[c][n - a + 1] = down[c][n - a] + x * turnDown;
        }
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
        const double inside = energy[Clamp(rec.frames - static_cast<long long>(t), 0, N)] -
                              energy[Clamp(-static_cast<long long>(t), 0, N)];
        if (!(inside > 0)) {
            continue;
        }
        const int fadeOut = t + N - F;
        const Complex turnEnd = turnV * toFadeOutEnd;
        for (int c = 0; c < channels; ++c) {
            const Complex sum =
                range(plain[c], t, t + N) -
                0.5 * (range(plain[c], t, t + F) + range(plain[c], fadeOut, t + N)) -
                0.25 * (Conj(turnV) * range(up[c], t, t + F) + turnV * range(down[c], t, t + F)) -
                0.25 * (turnEnd * range(down[c], fadeOut, t + N) +
                        Conj(turnEnd) * range(up[c], fadeOut, t + N));
            const double correlation = (Conj(turnW) * sum).im;
            score[i] += correlation * correlation / inside;
            envelope[i] += Norm(sum) / inside;
        }
    }
}

int BestStart(const std::vector<double>& score, const std::vector<double>& envelope, int low,
              int high) {
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

}  // namespace kelvane
