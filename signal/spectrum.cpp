#include "signal/spectrum.h"

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

void AddBand(const Recording& rec, int channel, int from, int to, double hz, Band& band) {
    constexpr int W = kBandBlockFrames;
    // The window's sum: that of sin^2 over whole half turns.
    constexpr double weights = W / 2.0;
    const double w = 2 * kPi * hz / kToneRate;
    for (int block = from; block + W <= to; block += W / 2) {
        Complex sum;
        Rotor rotor(-w, block);
        // sin^2(pi (k + 1/2) / W) = (1 - cos(2 pi (k + 1/2) / W)) / 2, the cosine turned with the
        // rest rather than taken afresh: a check reads some thirty frequencies over every block.
        Rotor hann(2 * kPi / W, 0);
        const Complex half = Turn(kPi / W);
        for (int k = 0; k < W; ++k) {
            const double s2 = (1 - (hann.Next() * half).re) / 2;
            sum = sum + (s2 * rec.At(block + k, channel)) * rotor.Next();
        }
        // A sine of peak A sums to A/2 of the weights.
        band.power += 4 * Norm(sum) / (weights * weights);
        ++band.blocks;
    }
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
