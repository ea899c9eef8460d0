#include "device/loopback_check.h"

#include <iterator>
#include <vector>

#include "signal/loopback_judgement.h"

namespace {

using kelvane::LoopbackOutcome;
using kelvane::ToneChannel;

// Recorded after the last tone: a tone as late as the judgement looks for is still whole.
constexpr int kTailFrames = kelvane::kMaxLatencyFrames;
// Waiting for the recording included: a recorder that never delivers must not hold the user.
constexpr UINT kDeadlineMs = 6000;

template <typename Source>
std::u16string ErrorReason(Source& source, UINT error) {
    wchar_t text[MAXERRORLENGTH] = {};
    source.ErrorText(error, text, static_cast<UINT>(std::size(text)));
    return std::u16string(reinterpret_cast<const char16_t*>(text));
}

}  // namespace

bool LoopbackCheck::Start(HWND notify, int outputChannels) {
    Cancel();
    notify_ = notify;
    outputChannels_ = outputChannels;
    listens_ = {};
    outcome_ = {};
    if (recorder_.DeviceCount() == 0) {
        outcome_.kind = LoopbackOutcome::Kind::NoRecorder;
        return false;
    }
    return Record();
}

bool LoopbackCheck::Record() {
    sentFrame_ = -1;
    clock_ = {};
    WORD channels = 0;
    recorder_.DefaultDevice(outcome_.recorderName, channels);
    const UINT rc = recorder_.Start(notify_, channels >= 2 ? 2 : 1);
    if (rc != MMSYSERR_NOERROR) {
        outcome_.kind = LoopbackOutcome::Kind::CannotRecord;
        outcome_.reason = ErrorReason(recorder_, rc);
        return false;
    }
    SetTimer(notify_, kDeadlineTimer, kDeadlineMs, nullptr);
    running_ = true;
    return true;
}

bool LoopbackCheck::OnRecorded(HWAVEIN device, WAVEHDR* header) {
    if (!running_ || !recorder_.OnData(device, header)) {
        return false;
    }
    if (sentFrame_ < 0 && recorder_.FramesRecorded() > 0) {
        clock_.firstFrames = recorder_.FramesRecorded();
        clock_.firstMs = GetTickCount();
        PlayTones();
        if (outcome_.kind == LoopbackOutcome::Kind::CannotPlay) {
            return true;
        }
    }
    return recorder_.Full() ||
           (sentFrame_ >= 0 &&
            recorder_.FramesRecorded() >=
                sentFrame_ + kelvane::CheckFramesPlayed(outputChannels_ >= 2) + kTailFrames);
}

// The position is read between making the tones ready and handing them over, so that nothing
// slow (opening the device) lies between the two.
void LoopbackCheck::PlayTones() {
    const bool stereo = outputChannels_ >= 2;
    UINT rc = output_.Prepare(notify_, kelvane::MakeCheckTones(stereo), stereo ? 2 : 1);
    int at = 0;
    if (rc == MMSYSERR_NOERROR) {
        at = recorder_.Position();
        rc = output_.Write();
    }
    if (rc != MMSYSERR_NOERROR) {
        outcome_.kind = LoopbackOutcome::Kind::CannotPlay;
        outcome_.reason = ErrorReason(output_, rc);
        return;
    }
    sentFrame_ = at;
}

void LoopbackCheck::Cancel() {
    if (running_) {
        End();
    }
}

void LoopbackCheck::End() {
    KillTimer(notify_, kDeadlineTimer);
    output_.Stop();
    recorder_.Stop();
    running_ = false;
}

bool LoopbackCheck::Finish(LoopbackOutcome& outcome) {
    if (!running_) {
        outcome = outcome_;
        return true;
    }
    // Read while the device still runs: a reset starts its position again.
    clock_.endFrames = recorder_.FramesRecorded();
    clock_.pendingFrames = recorder_.PendingFrames();
    clock_.endPosition = recorder_.DevicePosition();
    clock_.endMs = GetTickCount();
    End();
    outcome = outcome_;
    if (outcome.kind != LoopbackOutcome::Kind::Judged) {
        return true;
    }
    if (sentFrame_ < 0) {
        // Not an error winmm reports: the device was opened and started, and sent nothing back.
        outcome.kind = LoopbackOutcome::Kind::CannotRecord;
        outcome.reason = u"录音设备在 6 秒内没有送来声音。";
        return true;
    }
    std::vector<kelvane::SentTone> tones;
    if (outputChannels_ >= 2) {
        tones = {{ToneChannel::Left, sentFrame_},
                 {ToneChannel::Right, sentFrame_ + kelvane::kRightToneOffsetFrames}};
    } else {
        tones = {{ToneChannel::Mono, sentFrame_}};
    }
    kelvane::LoopbackJudgement& judgement = outcome.judgement;
    judgement = kelvane::JudgeLoopback(recorder_.Samples(), recorder_.Channels(), tones);
    const int lostByClock = kelvane::LostFramesByClock(clock_);
    switch (listens_.Next(judgement, lostByClock == 0)) {
        case kelvane::AfterListen::Show:
            return true;
        case kelvane::AfterListen::ListenAgain:
            if (Record()) {
                return false;
            }
            outcome = outcome_;
            return true;
        case kelvane::AfterListen::Broken:
            break;
    }
    // The spacing of the tones sizes a loss to the frame; the clock only to a buffer or so.
    const int lost = outcome.judgement.lostFrames > 0 ? outcome.judgement.lostFrames : lostByClock;
    outcome.kind = LoopbackOutcome::Kind::Broken;
    outcome.lostMs = lost > 0 ? (lost * 1000 + kelvane::kToneRate / 2) / kelvane::kToneRate : -1;
    return true;
}
