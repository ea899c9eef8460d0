// The automatic check's sequence: record from the default recording device, and once it really
// delivers data (a recording asked for starts late, by a different amount each time), play the
// test tones on device 0 and note where they went out on the recording's own clock. Then judge
// what came back. Both devices notify the form's window, so the window never waits.
#pragma once

#include <windows.h>

#include <string>

#include "signal/loopback_judgement.h"
#include "device/tone_player.h"
#include "device/wave_recorder.h"

struct LoopbackOutcome {
    enum class Kind { NoRecorder, CannotRecord, CannotPlay, Judged };
    Kind kind = Kind::Judged;
    std::u16string reason;  // the platform's words, for CannotRecord and CannotPlay
    kelvane::LoopbackJudgement judgement;
    std::u16string recorderName;
};

class LoopbackCheck {
  public:
    // The form's WM_TIMER id for the check's deadline.
    static constexpr UINT_PTR kDeadlineTimer = 1;

    // Starts recording; the tones follow. outputChannels is what the report gave device 0.
    // False when the check ended at once: Finish says why.
    bool Start(HWND notify, int outputChannels);
    bool Running() const { return running_; }
    // MM_WIM_DATA. True once everything the check needs is recorded: Finish then.
    bool OnRecorded(HWAVEIN device, WAVEHDR* header);
    // MM_WOM_DONE.
    void OnPlayed(HWAVEOUT device) { output_.OnDone(device); }
    // Both devices reset and closed, nothing judged.
    void Cancel();
    // Ends the check (at its deadline, or when OnRecorded says) and says what came of it.
    LoopbackOutcome Finish();

  private:
    void PlayTones();
    void End();

    HWND notify_ = nullptr;
    bool running_ = false;
    int outputChannels_ = 0;
    int sentFrame_ = -1;  // where the tones went out on the recording's clock; -1 before
    WaveRecorder recorder_;
    TonePlayer output_;
    LoopbackOutcome outcome_;
};
