// The test tone played on device 0: a 440 Hz sine, 1.0 s from the menu, peak at -12 dBFS, with
// 20 ms raised-cosine fades at both ends so that it starts and stops without a click. 16-bit PCM
// at 44,100 Hz, one channel or two interleaved with the other channel exactly silent.
#pragma once

#include <cstdint>
#include <vector>

namespace kelvane {

constexpr double kPi = 3.14159265358979323846;

constexpr int kToneRate = 44100;
constexpr int kToneFrames = kToneRate;  // 1.0 s
constexpr int kToneHz = 440;
constexpr int kToneFadeFrames = kToneRate / 50;  // 20 ms
// -12 dBFS of full scale (32767), rounded.
constexpr int kTonePeak = 8231;

enum class ToneChannel { Mono, Left, Right };

// 16-bit samples, interleaved left-right unless Mono: kToneFrames of them, or frames (none for
// zero or less).
std::vector<std::int16_t> MakeTestTone(ToneChannel channel);
std::vector<std::int16_t> MakeTestTone(ToneChannel channel, int frames);

}  // namespace kelvane
