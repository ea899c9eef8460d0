// Where the check's tones lie in a recording, and at what pitch: the fit of the known tone at
// every start it may have, and the best of those starts.
#pragma once

#include <vector>

#include "signal/band_level.h"
#include "signal/loopback_judgement.h"

namespace kelvane {

// The starts a tone is looked for at: every latency from -kEarliestFrames to kMaxLatencyFrames.
constexpr int kSearchFrames = kEarliestFrames + kMaxLatencyFrames + 1;

// The pitch, in Hz, of the longest regular tone in [from, to), on the channel that holds the
// loudest 50 ms near 440 Hz: its rising zero crossings after the band-pass, placed between
// samples by interpolation, over the longest run with no gap wider than one and a half 440 Hz
// periods: a wider one is a crossing missed or a stretch of silence, which the run would count as
// one cycle and so read the pitch low. A crossing counts only after the signal has been below half
// the loudest block's RMS, so noise well under the tone adds none. 0 for fewer than ten cycles.
double MeasurePitch(const Recording& rec, int channels, int from, int to);

// Adds to score[kEarliestFrames + latency], for every latency from -kEarliestFrames up to
// kMaxLatencyFrames, how well the check's tone (at the pitch given) started at sent + latency
// explains each of the recording's first `channels`: the square of their correlation
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
void AddCorrelation(const Recording& rec, int channels, int sent, double hz,
                    std::vector<double>& score, std::vector<double>& envelope);

// The start that fits best within [low, high] of the search window: the envelope's peak, then
// within a quarter period either side of it the carrier's, which has one peak there.
int BestStart(const std::vector<double>& score, const std::vector<double>& envelope, int low = 0,
              int high = kSearchFrames - 1);

}  // namespace kelvane
