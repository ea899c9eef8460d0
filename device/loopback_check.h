// The automatic check's sequence: record from the default recording device, and once it really
// delivers data (a recording asked for starts late, by a different amount each time), play the
// check's tones on device 0 and note where they went out on the recording's own clock. Then
// check that the recording is whole, and judge what came back. A recording that lost sound says
// nothing of the speakers: it is made again, once, and if that one breaks too the outcome says
// so instead of a verdict. One in which a tone broke is made again too (Listens says when). Both
// devices notify the form's window, so the window never waits.
#pragma once

#include <windows.h>

#include "device/tone_player.h"
#include "device/wave_recorder.h"
#include "signal/listens.h"
#include "signal/loopback_outcome.h"
#include "signal/recording_integrity.h"

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
    // Ends the recording (at its deadline, or when OnRecorded says) and judges it. False when it
    // was broken and is being made again: the check runs on, and Finish comes once more. True
    // with what came of the check otherwise.
    bool Finish(kelvane::LoopbackOutcome& outcome);

  private:
    bool Record();
    void PlayTones();
    void End();

    HWND notify_ = nullptr;
    bool running_ = false;
    kelvane::Listens listens_;
    int outputChannels_ = 0;
    int sentFrame_ = -1;  // where the tones went out on the recording's clock; -1 before
    kelvane::RecorderClock clock_;
    WaveRecorder recorder_;
    TonePlayer output_;
    kelvane::LoopbackOutcome outcome_;
};
