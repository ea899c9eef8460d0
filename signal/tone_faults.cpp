#include "signal/tone_faults.h"

#include <algorithm>
#include <cmath>

namespace kelvane {
namespace {

struct Steady {
    int from, to;
};

Steady SteadyPart(const Recording& rec, int onset) {
    return {
        Clamp(static_cast<long long>(onset) + kToneFadeFrames, 0, rec.frames),
        Clamp(static_cast<long long>(onset) + kCheckToneFrames - kToneFadeFrames, 0, rec.frames)};
}

// One channel of [from, to) with mains hum and rumble taken out: a high-pass at 300 Hz (a
// Butterworth biquad: 50 Hz comes out 31 dB down, 440 Hz 1 dB) whose ringing dies within a
// millisecond, so that a break of one still shows. Read at the tone's pitch over a millisecond, a
// hum louder than the tone would otherwise beat with it, and read as breaks all along. It starts
// 10 ms early, where the recording has them, to settle.
std::vector<double> HumRemoved(const Recording& rec, int channel, int from, int to) {
    const double w0 = 2 * kPi * 300 / kToneRate, alpha = std::sin(w0) / (2 * std::sqrt(0.5));
    const double a0 = 1 + alpha, a1 = -2 * std::cos(w0) / a0, a2 = (1 - alpha) / a0;
    const double b0 = (1 + std::cos(w0)) / (2 * a0), b1 = -2 * b0;
    std::vector<double> out(static_cast<std::size_t>(to > from ? to - from : 0));
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (int f = Clamp(static_cast<long long>(from) - kToneRate / 100, 0, from); f < to; ++f) {
        const double x = rec.At(f, channel);
        const double y = b0 * (x + x2) + b1 * x1 - a1 * y1 - a2 * y2;
        x2 = x1, x1 = x, y2 = y1, y1 = y;
        if (f >= from) {
            out[f - from] = y;
        }
    }
    return out;
}

// Frequencies between the lines of 50 and 60 Hz hum, each 20 Hz or more from any of them (two of
// the Hann window's bins, where it lets nothing through): the noise beside the hum.
constexpr int kBesideHumHz[] = {30, 80, 220, 270, 330, 380};

}  // namespace

// The tone's complex amplitude read over L frames, half a period of twice its pitch, so that the
// image mixing leaves at twice the pitch cancels and a dip of 1 ms still shows; over the whole
// tone, so that the fades' reads carry its phase too.
ToneReads ReadTone(const Recording& rec, int channel, int onset, double hz) {
    ToneReads tone;
    tone.onset = onset;
    tone.from = Clamp(onset, 0, rec.frames);
    tone.L = static_cast<int>(std::lround(kToneRate / (2 * hz)));
    const int to = Clamp(static_cast<long long>(onset) + kCheckToneFrames, 0, rec.frames);
    const Steady steady = SteadyPart(rec, onset);
    if (tone.L < 1 || steady.to - steady.from < 4 * tone.L) {
        return tone;
    }
    const std::vector<double> x = HumRemoved(rec, channel, tone.from, to);
    std::vector<Complex> sums(x.size() + 1);
    Rotor rotor(-2 * kPi * hz / kToneRate, tone.from);
    for (std::size_t k = 0; k < x.size(); ++k) {
        sums[k + 1] = sums[k] + x[k] * rotor.Next();
    }
    for (std::size_t k = 0; k + tone.L < sums.size(); ++k) {
        tone.read.push_back(sums[k + tone.L] - sums[k]);
        tone.power.push_back(Norm(tone.read.back()));
    }
    tone.first = steady.from - tone.from;
    tone.last = steady.to - tone.from - tone.L;
    // The tone's own level: the median read of its steady part, which a few gaps do not move.
    std::vector<double> sorted(tone.power.begin() + tone.first, tone.power.begin() + tone.last + 1);
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    tone.median = sorted[sorted.size() / 2];
    return tone;
}

// A silence of D frames leaves a read 10 dB down for D - 17 frames, so kLowFrames of them is a
// silence of 0.85 ms or more. Its phase is compared with the read 2L frames before (the two reads
// do not overlap): a tone that runs on unbroken keeps it. Across a break, the read 2L before it
// and the one L after it (both clear of it) say whether the tone came back in step.
Breaks CountBreaks(const ToneReads& tone) {
    const int L = tone.L, P = 2 * L, reads = static_cast<int>(tone.read.size());
    const int kLowFrames = 20;
    const std::vector<double>& power = tone.power;
    const double low = tone.median * kGapDrop;
    Breaks breaks;
    if (reads == 0) {
        return breaks;
    }
    const auto turned = [&](int a, int b) {
        const Complex t = tone.read[b] * Conj(tone.read[a]);
        return std::fabs(std::atan2(t.im, t.re)) > kPhaseJumpRadians;
    };
    // A read its phase can be taken from, on a fade too.
    const auto clear = [&](int k) { return k >= 0 && k < reads && power[k] >= low; };

    int run = 0, lows = 0, lastEnd = -kGapMergeFrames - 1;
    bool lastShifted = false;
    for (int k = tone.first; k <= tone.last + 1; ++k) {
        if (k <= tone.last) {
            const bool isLow = power[k] < low;
            const bool jumped =
                !isLow && k - P >= tone.first && power[k - P] >= low && turned(k - P, k);
            if (isLow || jumped) {
                ++run;
                lows += isLow;
                continue;
            }
        }
        // Long enough to be the tone's, not a moment of noise: a phase jump is seen for some
        // P + L reads.
        if (lows >= kLowFrames || run >= L) {
            // A silence the steady part's edge cuts off is followed out onto the fade. A tone that
            // does not come back after it (or was not there before it) ended early (or began
            // late): its length tells, not its breaks.
            const int start = k - run;
            int before = start - 1, after = k;
            while (before >= 0 && power[before] < low) {
                --before;
            }
            while (after < reads && power[after] < low) {
                ++after;
            }
            before -= P, after += L;
            if (clear(before) && clear(after)) {
                const bool shifted = lows == 0 || turned(before, after);
                if (start - lastEnd > kGapMergeFrames) {
                    ++(shifted ? breaks.shifted : breaks.gaps);
                    lastShifted = shifted;
                } else if (shifted && !lastShifted) {
                    // One break, told apart from another by less than kGapMergeFrames: out of step.
                    --breaks.gaps, ++breaks.shifted;
                    lastShifted = true;
                }
                lastEnd = k;
            }
        }
        run = lows = 0;
    }
    return breaks;
}

// A stretch moves where the tone's level crosses half its middle, read over W, by up to its own
// length and W more. It counts when the tone is heard on both sides of it, or when it covers the
// very start of the fade in, or its very end, and no more of the tone than the fade: a tone that
// starts late, or stops early, by more than that has lost sound, which is no silence.
int SilencedNearFades(const ToneReads& tone) {
    constexpr int N = kCheckToneFrames, F = kToneFadeFrames, W = kToneRate / 100;
    const int L = tone.L, reads = static_cast<int>(tone.read.size());
    int silenced = 0;
    for (int zone = 0; zone < 2 && reads > 0; ++zone) {
        const int zoneFrom = zone ? N - F - W : 0, zoneTo = zone ? N : F + W;
        int run = 0, runFrom = 0;
        bool before = false;
        for (int k = zoneFrom; k + L <= zoneTo + 1; ++k) {
            const int at = tone.onset + k - tone.from;
            // The player's envelope at the read's middle: a raised sine, squared, over each fade.
            const int middle = k + L / 2, edge = middle < N - 1 - middle ? middle : N - 1 - middle;
            const double s = edge < F ? std::sin(kPi * edge / (2.0 * F)) : 1.0;
            // Only where the tone should hold a tenth of its amplitude or more: lower down, noise
            // alone reads as loud as the fade.
            const bool heard = k + L <= zoneTo && at >= 0 && at < reads && s * s >= 0.1;
            if (heard && tone.power[at] < tone.median * s * s * s * s * kGapDrop) {
                runFrom = run++ ? runFrom : k;
                continue;
            }
            if (run > 0 && ((before && heard) || (!zone && !before && heard && k <= F) ||
                            (zone && before && runFrom >= N - F))) {
                silenced += run + L + W;
            }
            before = before || heard;
            run = 0;
        }
    }
    return silenced;
}

double DistortionPercent(const Recording& rec, int channel, int onset, double hz) {
    const Steady steady = SteadyPart(rec, onset);
    std::vector<double> multiples;
    for (int k = 1; k <= kTopHarmonic && k * hz < kToneRate / 2; ++k) {
        multiples.push_back(k * hz);
    }
    std::vector<Band> bands;
    AddBands(rec, channel, steady.from, steady.to, multiples, bands);
    double harmonics = 0;
    for (std::size_t k = 1; k < bands.size(); ++k) {
        harmonics += bands[k].PeakSquared();
    }
    const double tone = bands.empty() ? 0 : bands[0].PeakSquared();
    return tone > 0 ? 100 * std::sqrt(harmonics / tone) : 0;
}

bool TouchesFullScale(const Recording& rec, int onset) {
    const int from = Clamp(onset, 0, rec.frames);
    const int to = Clamp(static_cast<long long>(onset) + kCheckToneFrames, 0, rec.frames);
    for (int f = from; f < to; ++f) {
        for (int c = 0; c < rec.channels; ++c) {
            if (std::fabs(rec.At(f, c)) >= kFullScaleSample) {
                return true;
            }
        }
    }
    return false;
}

Hum FindHum(const Recording& rec, int channels, const std::vector<int>& starts) {
    const std::vector<std::pair<int, int>> quiet = QuietStretches(starts, rec.frames);
    Hum found;
    // Read all at once, each over every quiet stretch: first the noise beside the hum, then the
    // lines of each family.
    std::vector<double> hz(std::begin(kBesideHumHz), std::end(kBesideHumHz));
    for (const int mains : {50, 60}) {
        for (int line = mains; line <= kHumTopHz; line += mains) {
            hz.push_back(line);
        }
    }
    for (int channel = 0; channel < channels; ++channel) {
        std::vector<Band> bands;
        for (const auto& [from, to] : quiet) {
            AddBands(rec, channel, from, to, hz, bands);
        }
        bands.resize(hz.size());
        std::size_t next = 0;
        double beside = 0;
        for (; next < std::size(kBesideHumHz); ++next) {
            beside += bands[next].PeakSquared() / std::size(kBesideHumHz);
        }
        // Each family's lines also let through a quarter of the other's fundamental (50 and 60
        // Hz are one bin apart), so the true one is the louder in all.
        for (const int mains : {50, 60}) {
            double total = 0, loudest = 0;
            for (int line_hz = mains; line_hz <= kHumTopHz; line_hz += mains) {
                const double line = bands[next++].PeakSquared();
                total += line;
                loudest = line > loudest ? line : loudest;
            }
            const double dbfs = Dbfs(total);
            if (loudest >= beside * std::pow(10.0, kHumAboveNoiseDb / 10) && dbfs >= kHumMinDbfs &&
                (found.hz == 0 || dbfs > found.dbfs)) {
                found = {mains, dbfs};
            }
        }
    }
    return found;
}

}  // namespace kelvane
