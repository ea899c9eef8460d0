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

// Frequencies between the lines of 50 and 60 Hz hum, each 20 Hz or more from any of them (two of
// the Hann window's bins, where it lets nothing through): the noise beside the hum.
constexpr int kBesideHumHz[] = {30, 80, 220, 270, 330, 380};

}  // namespace

// The tone's complex amplitude read over L frames, half a period of twice its pitch, so that the
// image mixing leaves at twice the pitch cancels and a dip of 1 ms still shows. A silence of D
// frames leaves that read 10 dB down for D - 17 frames, so kLowFrames of them is a silence of
// 0.85 ms or more. Its phase is compared with the read 2L frames before (the two reads do not
// overlap): a tone that runs on unbroken keeps it.
int CountGaps(const Recording& rec, int channel, int onset, double hz) {
    const Steady steady = SteadyPart(rec, onset);
    const int L = static_cast<int>(std::lround(kToneRate / (2 * hz))), P = 2 * L;
    const int kLowFrames = 20;
    const int n = steady.to - steady.from;
    if (L < 1 || n < 2 * P) {
        return 0;
    }
    std::vector<Complex> sums(static_cast<std::size_t>(n) + 1);
    Rotor rotor(-2 * kPi * hz / kToneRate, steady.from);
    for (int k = 0; k < n; ++k) {
        sums[k + 1] = sums[k] + rec.At(steady.from + k, channel) * rotor.Next();
    }
    std::vector<Complex> read(static_cast<std::size_t>(n - L) + 1);
    std::vector<double> power(read.size());
    for (std::size_t k = 0; k < read.size(); ++k) {
        read[k] = sums[k + L] - sums[k];
        power[k] = Norm(read[k]);
    }
    // The tone's own level: the median read, which a few gaps do not move.
    std::vector<double> sorted = power;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double low = sorted[sorted.size() / 2] * std::pow(10.0, -kGapDropDb / 10);

    int gaps = 0, run = 0, lows = 0, lastEnd = -kGapMergeFrames - 1;
    for (std::size_t k = 0; k <= read.size(); ++k) {
        if (k < read.size()) {
            const bool isLow = power[k] < low;
            bool jumped = false;
            if (!isLow && k >= static_cast<std::size_t>(P) && power[k - P] >= low) {
                const Complex turned = read[k] * Conj(read[k - P]);
                jumped = std::fabs(std::atan2(turned.im, turned.re)) > kPhaseJumpRadians;
            }
            if (isLow || jumped) {
                ++run;
                lows += isLow;
                continue;
            }
        }
        // Long enough to be the tone's, not a moment of noise: a phase jump is seen for some
        // P + L reads.
        if (lows >= kLowFrames || run >= L) {
            const int start = static_cast<int>(k) - run;
            gaps += start - lastEnd > kGapMergeFrames;
            lastEnd = static_cast<int>(k);
        }
        run = lows = 0;
    }
    return gaps;
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
