// The automatic check's verdict: were the tones played on device 0 heard in a recording made at
// the same time, how loud, at what pitch, in which recorded channel, and how late; and first,
// whether the recording is whole enough to say anything at all.
//
// The recording is 16-bit at kToneRate, one or two interleaved channels. The check plays its
// tones in one buffer (MakeCheckTones), so the right tone starts exactly kRightToneOffsetFrames
// after the left; the caller says where each started on the recording's own clock ("sent": the
// recording position when the output was written plus the tone's place in the output buffer),
// which may be before the recording's first frame when the recording began late.
#pragma once

#include <cstdint>
#include <vector>

#include "signal/test_tone.h"

namespace kelvane {

// Shorter than the menu's tones, so that a recording made twice still ends within seconds.
constexpr int kCheckToneFrames = kToneRate / 2;
constexpr int kCheckGapFrames = kToneRate / 5;
constexpr int kRightToneOffsetFrames = kCheckToneFrames + kCheckGapFrames;
// A tone is looked for from a little before its sent frame (a server that renders ahead of its
// clock is heard "early" by a few ms) up to this much later. It must stay below the distance
// between the tones' starts, or the search for one could take the other.
constexpr int kEarliestFrames = kToneRate / 20;  // 50 ms
constexpr int kMaxLatencyFrames = kToneRate / 2;
static_assert(kEarliestFrames + kMaxLatencyFrames < kRightToneOffsetFrames,
              "the search for one tone must not reach the other");
// The quietest level a 16-bit recording can express: digital silence is reported as this, never
// as minus infinity.
constexpr double kSilenceDbfs = -96.3;
// Heard means all three: at least this loud, this far above the noise in the tone's own band,
// and this close in pitch.
constexpr double kHeardMinDbfs = -60.0;
constexpr double kHeardAboveFloorDb = 20.0;
constexpr double kHeardPitchTolerance = 0.02;
// A whole recording keeps the tones' starts the played distance apart, and each tone as long as
// it was played, to within this; more is sound lost or added on the way.
constexpr int kWholeToleranceFrames = kToneRate / 500;  // 2 ms

// What the check plays: stereo, the left tone, kCheckGapFrames of silence, the right tone; else
// the one tone. Interleaved when stereo.
std::vector<std::int16_t> MakeCheckTones(bool stereo);
int CheckFramesPlayed(bool stereo);

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
    double floorDbfs = kSilenceDbfs;  // the recording's noise near the tone's pitch, in its quiet
    RecordedSide strongerIn = RecordedSide::Neither;
    int onsetFrame = 0;  // where it starts in the recording (may be before frame 0)
    // What else the tone tells of the way it came, in its stronger channel; heard tones only.
    int gaps = 0;                  // times it broke off inside its steady part
    double distortionPercent = 0;  // its harmonics against it
    bool distorted = false;        // that is more than one hears on a sine, and not clipping
    bool clipped = false;          // the recording touched full scale while it played
    // Heard, and kept pace on its own: in step across every break, as long as it was played,
    // found inside where it was looked for, and not heard again in the quiet parts. A recording
    // that lost sound elsewhere still tells this tone's breaks.
    bool whole = false;
};

// Mains hum in the recording's quiet parts; hz 0 when there is none to speak of.
struct Hum {
    int hz = 0;                  // 50 or 60
    double dbfs = kSilenceDbfs;  // the hum and its harmonics together, as one sine's peak
};

struct LoopbackJudgement {
    std::vector<ToneJudgement> tones;  // in the order given
    bool monoRecording = false;        // one channel, or two the same
    // Both tones heard, each stronger in a different recorded channel.
    bool toldApart = false;
    bool swapped = false;  // told apart, left tone in the right channel
    int latencyMs = -1;    // round trip; -1 when no tone was heard
    bool clipped = false;  // any heard tone touched full scale
    Hum hum{};             // looked for when a tone was heard, so the quiet parts are known
    // Both tones heard and this side's the quieter by kQuieterSideDb or more; Mono when neither.
    ToneChannel quieter = ToneChannel::Mono;
    double quieterByDb = 0;
    // The recording lost or gained sound on the way: nothing above may be told as a verdict.
    bool broken = false;
    int lostFrames = -1;  // when broken: the frames lost, -1 where that can't be sized
};

// Samples past the last whole frame are ignored; a channel count other than 1 or 2 gives a
// judgement with nothing heard.
LoopbackJudgement JudgeLoopback(const std::vector<std::int16_t>& samples, int channels,
                                const std::vector<SentTone>& tones);

bool AnyHeard(const LoopbackJudgement& judgement);
// Heard, with something wrong on the way: any of the faults above.
bool AnyFault(const LoopbackJudgement& judgement);
bool AllHeard(const LoopbackJudgement& judgement);

}  // namespace kelvane
