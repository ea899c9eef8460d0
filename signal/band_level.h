// How the automatic check reads a recording: one channel's level at one frequency, over
// Hann-windowed blocks, and the parts of the recording where no tone plays. The verdict on each
// tone and the faults found in it read the recording the same way, so that their figures are
// like for like.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace kelvane {

struct Complex {
    double re = 0, im = 0;
};
// Inline: the loops that read a recording make one or two of these a frame.
inline Complex operator+(Complex a, Complex b) {
    return {a.re + b.re, a.im + b.im};
}
inline Complex operator-(Complex a, Complex b) {
    return {a.re - b.re, a.im - b.im};
}
inline Complex operator*(Complex a, Complex b) {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
inline Complex operator*(double k, Complex a) {
    return {k * a.re, k * a.im};
}
inline Complex Conj(Complex a) {
    return {a.re, -a.im};
}
inline double Norm(Complex a) {  // the magnitude squared
    return a.re * a.re + a.im * a.im;
}
Complex Turn(double angle);

// e^(i w n) for n = first, first + 1, ...: one rotation a step, recomputed afresh every 1024 steps
// so that rounding cannot pile up over a recording of several seconds.
class Rotor {
  public:
    Rotor(double w, int first);
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

// 16-bit frames, one or more channels interleaved.
struct Recording {
    const std::int16_t* samples;
    int channels;
    int frames;
    double At(int frame, int channel) const {
        return samples[static_cast<std::size_t>(frame) * channels + channel];
    }
};

int Clamp(long long value, int low, int high);

// The level of a sine whose peak squared is given; a sine at full scale is 0 dBFS, and nothing
// is quieter than kSilenceDbfs.
double Dbfs(double peakSquared);

// A sine's level at one frequency: Hann-windowed blocks of kBandBlockFrames, half overlapping,
// their peaks squared summed. The window keeps what is a few of its 10 Hz bins away out.
constexpr int kBandBlockFrames = 4410;  // 0.1 s
struct Band {
    double power = 0;
    int blocks = 0;
    double PeakSquared() const { return blocks ? power / blocks : 0; }
};
void AddBand(const Recording& rec, int channel, int from, int to, double hz, Band& band);
// The same at several frequencies, bands[i] for hz[i]; bands is made as long as hz.
void AddBands(const Recording& rec, int channel, int from, int to, const std::vector<double>& hz,
              std::vector<Band>& bands);
double BandDbfs(const Band& band);

// Where no tone plays, given where each tone starts: before the first, between them and after
// the last, with 5 ms to spare before each and 50 ms after, where a room still rings with it.
std::vector<std::pair<int, int>> QuietStretches(std::vector<int> starts, int frames);

}  // namespace kelvane
