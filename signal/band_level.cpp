#include "signal/band_level.h"

#include <algorithm>
#include <cmath>

#include "signal/loopback_judgement.h"

namespace kelvane {

Complex Turn(double angle) {
    return {std::cos(angle), std::sin(angle)};
}

Rotor::Rotor(double w, int first) : w_(w), n_(first), step_(Turn(w)), value_(Turn(w * first)) {}

int Clamp(long long value, int low, int high) {
    return static_cast<int>(value < low ? low : value > high ? high : value);
}

double Dbfs(double peakSquared) {
    constexpr double kFullScale = 32767.0;
    if (!(peakSquared > 0)) {
        return kSilenceDbfs;
    }
    const double db = 10 * std::log10(peakSquared / (kFullScale * kFullScale));
    return db > kSilenceDbfs ? db : kSilenceDbfs;
}

void AddBands(const Recording& rec, int channel, int from, int to, const std::vector<double>& hz,
              std::vector<Band>& bands) {
    constexpr int W = kBandBlockFrames;
    // The window's sum: that of sin^2 over whole half turns.
    constexpr double weights = W / 2.0;
    bands.resize(hz.size());
    if (from + W > to) {
        return;
    }
    // sin^2(pi (k + 1/2) / W) = (1 - cos(2 pi (k + 1/2) / W)) / 2, its cosine turned rather than
    // taken afresh, once for all the blocks: where the machine emulates every floating-point step,
    // one frequency read cost nearly three times as much with the window made for each block.
    std::vector<double> window(W), block(W);
    Rotor hann(2 * kPi / W, 0);
    const Complex half = Turn(kPi / W);
    for (int k = 0; k < W; ++k) {
        window[k] = (1 - (hann.Next() * half).re) / 2;
    }
    for (int at = from; at + W <= to; at += W / 2) {
        for (int k = 0; k < W; ++k) {
            block[k] = window[k] * rec.At(at + k, channel);
        }
        for (std::size_t i = 0; i < hz.size(); ++i) {
            // Goertzel's recurrence: the block's magnitude at one frequency for one multiply a
            // frame, where the machine may be emulating every floating-point step.
            const double c = 2 * std::cos(2 * kPi * hz[i] / kToneRate);
            double y1 = 0, y2 = 0;
            for (int k = 0; k < W; ++k) {
                const double y0 = block[k] + c * y1 - y2;
                y2 = y1, y1 = y0;
            }
            const double magnitude = y1 * y1 + y2 * y2 - c * y1 * y2;
            // A sine of peak A sums to A/2 of the weights.
            bands[i].power += 4 * magnitude / (weights * weights);
            ++bands[i].blocks;
        }
    }
}

void AddBand(const Recording& rec, int channel, int from, int to, double hz, Band& band) {
    std::vector<Band> one{band};
    AddBands(rec, channel, from, to, {hz}, one);
    band = one[0];
}

double BandDbfs(const Band& band) {
    return band.blocks ? Dbfs(band.PeakSquared()) : kSilenceDbfs;
}

std::vector<std::pair<int, int>> QuietStretches(std::vector<int> starts, int frames) {
    constexpr int Before = kToneRate / 200, After = kToneRate / 20;
    std::sort(starts.begin(), starts.end());
    std::vector<std::pair<int, int>> quiet;
    long long from = 0;
    for (const int start : starts) {
        const int to = Clamp(static_cast<long long>(start) - Before, 0, frames);
        if (to > from) {
            quiet.emplace_back(static_cast<int>(from), to);
        }
        const long long end = static_cast<long long>(start) + kCheckToneFrames + After;
        from = end > from ? end : from;
    }
    if (from < frames) {
        quiet.emplace_back(static_cast<int>(from), frames);
    }
    return quiet;
}

}  // namespace kelvane
