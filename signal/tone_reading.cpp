#include "signal/tone_reading.h"

#include "signal/loopback_judgement.h"

namespace kelvane {
namespace {

constexpr int kMinSteadyFrames = kToneRate / 10;  // less of a tone than this is not judged

}  // namespace

double ToneDbfs(const Recording& rec, int channel, int onset, double hz) {
    const int from = Clamp(static_cast<long long>(onset) + kToneFadeFrames, 0, rec.frames);
    const int to =
        Clamp(static_cast<long long>(onset) + kCheckToneFrames - kToneFadeFrames, 0, rec.frames);
    Band band;
    AddBand(rec, channel, from, to, hz, band);
    return to - from < kMinSteadyFrames ? kSilenceDbfs : BandDbfs(band);
}

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

bool ChannelsSame(const Recording& rec) {
    double difference = 0, total = 0;
    for (int f = 0; f < rec.frames; ++f) {
        const double left = rec.At(f, 0), right = rec.At(f, 1);
        difference += (left - right) * (left - right);
        total += left * left + right * right;
    }
    return difference * 1e4 <= total;
}

}  // namespace kelvane
