#include "signal/test_tone.h"

#include <cmath>

namespace kelvane {
namespace {

// The fade's gain at a frame of a tone so long: a raised cosine from 0 to 1 over the first fade
// frames, and the same back down over the last, 1 between.
double Envelope(int frame, int frames) {
    const int fromEdge = frame < frames - 1 - frame ? frame : frames - 1 - frame;
    if (fromEdge >= kToneFadeFrames) {
        return 1.0;
    }
    const double s = std::sin(kPi * fromEdge / (2.0 * kToneFadeFrames));
    return s * s;  // (1 - cos(pi * t)) / 2
}

}  // namespace

std::vector<std::int16_t> MakeTestTone(ToneChannel channel) {
    return MakeTestTone(channel, kToneFrames);
}

std::vector<std::int16_t> MakeTestTone(ToneChannel channel, int frames) {
    const int channels = channel == ToneChannel::Mono ? 1 : 2;
    const int on = channel == ToneChannel::Right ? 1 : 0;
    frames = frames > 0 ? frames : 0;
    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames) * channels, 0);
    for (int frame = 0; frame < frames; ++frame) {
        const double value =
            kTonePeak * Envelope(frame, frames) * std::sin(2 * kPi * kToneHz * frame / kToneRate);
        samples[static_cast<std::size_t>(frame) * channels + on] =
            static_cast<std::int16_t>(std::lround(value));
    }
    return samples;
}

}  // namespace kelvane
