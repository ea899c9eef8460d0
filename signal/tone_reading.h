// What one channel holds of a tone once it is found: its level, how long it lasts, and the noise
// beside it; and whether two channels hold the same.
#pragma once

#include <vector>

#include "signal/band_level.h"

namespace kelvane {

// The tone over its steady part (after the fade-in, before the fade-out), as far as the
// recording holds it. Silence when less than 0.1 s of it was recorded.
double ToneDbfs(const Recording& rec, int channel, int onset, double hz);

// How long the tone starting near onset lasts in one channel: from where its level first
// reaches half its middle's, to where it last does, both measured over 10 ms. Each fade is
// half-way up 10 ms from its end, so a whole tone measures kCheckToneFrames - kToneFadeFrames.
// A stretch of silence inside it (a device that ran dry) leaves that as it is; a stretch taken
// out shortens it. -1 where the recording does not hold the tone's whole span.
int ToneLength(const Recording& rec, int channel, int onset, double hz);

// The noise near hz in one channel, wherever no tone plays. The quiet parts hold only a few
// blocks, so each is read at five frequencies 20 Hz apart around hz (two Hann bins, so nearly
// independent), which steadies the figure without reaching out to the 50 or 60 Hz of mains hum.
double QuietDbfs(const Recording& rec, int channel, const std::vector<int>& starts, double hz);

// Two channels are the same when what tells them apart is 40 dB below what they hold: a mono
// microphone delivered twice, perhaps with a last bit of difference.
bool ChannelsSame(const Recording& rec);

}  // namespace kelvane
