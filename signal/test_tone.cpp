#include "signal/test_tone.h"

#include "signal/series_math.h"

namespace kelvane {
namespace {

// The fade's gain at a frame: a raised cosine from 0 to 1 over the first fade frames, and the
// same back down over the last, 1 between.
double Envelope(int frame) {
    const int fromEdge = frame < kToneFrames - 1 - frame ? frame : kToneFrames - 1 - frame;
    if (fromEdge >= kToneFadeFrames) {
        return 1.0;
    }
    const double s = Sine(kPi * fromEdge / (2.0 * kToneFadeFrames));
    return s * s;  // (1 - cos(pi * t)) / 2
}

}  // namespace

std::vector<std::int16_t> MakeTestTone(ToneChannel channel) {
    const int channels = channel == ToneChannel::Mono ? 1 : 2;
    const int on = channel == ToneChannel::Right ? 1 : 0;
    std::vector<std::int16_t> samples(static_cast<std::size_t>(kToneFrames) * channels, 0);
    for (int frame = 0; frame < kToneFrames; ++frame) {
        const double value =
            kTonePeak * Envelope(frame) * Sine(2 * kPi * kToneHz * frame / kToneRate);
        const double rounded = value < 0 ? value - 0.5 : value + 0.5;
        samples[static_cast<std::size_t>(frame) * channels + on] =
            static_cast<std::int16_t>(rounded);
    }
    return samples;
}

}  // namespace kelvane
