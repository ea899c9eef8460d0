// The faults a heard tone shows on its way back, beyond being heard at all: gaps in it (a device
// that ran dry), distortion, a recording driven to full scale; and in the recording's quiet
// parts, mains hum. Each is read from the one recording the automatic check already made.
#pragma once

#include <vector>

#include "signal/band_level.h"
#include "signal/loopback_judgement.h"

namespace kelvane {

// A break: the tone's level 10 dB or more under its own for about 1 ms or longer, or its phase
// jumping by more than this. Breaks closer together than kGapMergeFrames are one. A break after
// which the tone runs on in the phase it had is sound silenced on the way (a loose plug, a device
// that ran dry and skipped ahead): a gap. One after which its phase has moved is sound lost or held
// up, which shifts all that follows: the recording's fault as much as the speakers'.
constexpr double kGapDrop = 0.1;                  // 10 dB down in power
constexpr double kPhaseJumpRadians = 0.5;         // some 29 degrees: a tenth of a period of 440 Hz
constexpr int kGapMergeFrames = kToneRate / 200;  // 5 ms
// Harmonics 2 to 10 over 3 % (-30 dB) of the tone: what a sine starts to sound rough with. A
// microphone's room noise is spread over every frequency, and adds next to nothing at these ten.
constexpr int kTopHarmonic = 10;
constexpr double kDistortionPercent = 3.0;
// A sample this near full scale is clipping: the recording could not hold what it heard.
constexpr int kFullScaleSample = 32700;
// Hum is mains at 50 or 60 Hz with its harmonics up to kHumTopHz (kept 40 Hz and more clear of
// the tone), this far over the noise beside it, and no quieter than kHumMinDbfs: a hum that
// faint is under anything a listener could make out next to the tone.
constexpr int kHumTopHz = 400;
constexpr double kHumAboveNoiseDb = 10.0;
constexpr double kHumMinDbfs = -70.0;
// Both tones heard, their levels this far apart: one side is quieter.
constexpr double kQuieterSideDb = 3.0;

// A heard tone read at its pitch, all along its span, as CountBreaks and SilencedNearFades need:
// read[k] over frames [from + k, from + k + L); its steady part is reads first to last. Empty
// where the recording holds too little of it.
struct ToneReads {
    int onset = 0, from = 0, L = 0, first = 0, last = -1;
    std::vector<Complex> read;
    std::vector<double> power;
    double median = 0;  // of the steady part's reads
};
ToneReads ReadTone(const Recording& rec, int channel, int onset, double hz);

struct Breaks {
    int gaps = 0;     // silenced, the tone's timing kept
    int shifted = 0;  // lost or held up: the tone comes back out of step
};
// In the tone's steady part: from kToneFadeFrames after onset to as long before its end.
Breaks CountBreaks(const ToneReads& tone);
// The frames of the tone's fades, and of the 10 ms beside them that its length is read over,
// where it fell silent: a silence there moves where the tone seems to start or end by as much,
// with no sound lost.
int SilencedNearFades(const ToneReads& tone);
double DistortionPercent(const Recording& rec, int channel, int onset, double hz);
// Anywhere in the tone's span, in any recorded channel.
bool TouchesFullScale(const Recording& rec, int onset);
// In the first `channels` channels' quiet parts, given where each tone starts: the louder hum.
Hum FindHum(const Recording& rec, int channels, const std::vector<int>& starts);

}  // namespace kelvane
