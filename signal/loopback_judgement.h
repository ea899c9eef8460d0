// The automatic check's verdict: were the test tones played on device 0 heard in a recording made
// at the same time, how loud, at what pitch, in which recorded channel, and how late.
//
// The recording is 16-bit at kToneRate, one or two interleaved channels. Each tone is the one
// MakeTestTone makes; the caller says where it started on the recording's own clock ("sent": the
// recording position when the output was written plus the tone's place in the output buffer),
// which may be before the recording's first frame when the recording began late.
#pragma once

#include <cstdint>
#include <vector>

#include "signal/test_tone.h"

namespace kelvane {

// A tone is looked for from its sent frame up to this much later. It must stay below the 1.3 s
// between the starts of the left and right tones, or the search for one could take the other.
constexpr int kMaxLatencyFrames = kToneRate;  // 1 s
// The quietest level a 16-bit recording can express: digital silence is reported as this, never
// as minus infinity.
constexpr double kSilenceDbfs = -96.3;
// Heard means all three: at least this loud, this far above the floor, and this close in pitch.
constexpr double kHeardMinDbfs = -60.0;
constexpr double kHeardAboveFloorDb = 20.0;
constexpr double kHeardPitchTolerance = 0.02;

struct SentTone {
    ToneChannel channel;
    int frame;
};

// Which recorded channel a tone was stronger in; Neither for a one-channel recording, or two
// channels that are the same.
enum class RecordedSide { Neither, Left, Right };

// Levels in dBFS, where a full-scale sine is 0 (so the test tone is -12.0), never below
// kSilenceDbfs.
struct ToneJudgement {
    ToneChannel channel = ToneChannel::Mono;
    bool heard = false;
    int hz = 0;                       // the pitch heard where the tone was looked for, whole Hz
    double levelDbfs = kSilenceDbfs;  // the tone at that pitch, over its steady part
    double floorDbfs = kSilenceDbfs;  // the recording's noise while nothing played
    RecordedSide strongerIn = RecordedSide::Neither;
    int onsetFrame = 0;  // where it starts in the recording (may be before frame 0)
};

struct LoopbackJudgement {
    std::vector<ToneJudgement> tones;  // in the order given
    bool monoRecording = false;        // one channel, or two the same
    // Both tones heard, each stronger in a different recorded channel.
    bool toldApart = false;
    bool swapped = false;  // told apart, left tone in the right channel
    int latencyMs = -1;    // round trip; -1 when no tone was heard
};

// Samples past the last whole frame are ignored; a channel count other than 1 or 2 gives a
// judgement with nothing heard.
LoopbackJudgement JudgeLoopback(const std::vector<std::int16_t>& samples, int channels,
                                const std::vector<SentTone>& tones);

bool AnyHeard(const LoopbackJudgement& judgement);
bool AllHeard(const LoopbackJudgement& judgement);

}  // namespace kelvane
