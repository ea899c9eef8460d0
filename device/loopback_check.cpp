#include "device/loopback_check.h"

#include <iterator>
#include <vector>

namespace {

using kelvane::kToneFrames;
using kelvane::kToneRate;
using kelvane::ToneChannel;

constexpr int kGapFrames = kToneRate * 3 / 10;  // between the left and the right tone
constexpr int kTailFrames = kToneRate / 2;      // recorded after the last tone, for the latency
// Waiting for the recording included: a recorder that never delivers must not hold the user.
constexpr UINT kDeadlineMs = 6000;

std::vector<std::int16_t> TonesToPlay(bool stereo) {
    if (!stereo) {
        return kelvane::MakeTestTone(ToneChannel::Mono);
    }
    std::vector<std::int16_t> samples = kelvane::MakeTestTone(ToneChannel::Left);
    samples.resize(samples.size() + 2 * kGapFrames, 0);
    const std::vector<std::int16_t> right = kelvane::MakeTestTone(ToneChannel::Right);
    samples.insert(samples.end(), right.begin(), right.end());
    return samples;
}

int FramesPlayed(bool stereo) {
    return stereo ? 2 * kToneFrames + kGapFrames : kToneFrames;
}

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
    sentFrame_ = -1;
    outcome_ = {};
    if (recorder_.DeviceCount() == 0) {
        outcome_.kind = LoopbackOutcome::Kind::NoRecorder;
        return false;
    }
    WORD channels = 0;
    recorder_.DefaultDevice(outcome_.recorderName, channels);
    const UINT rc = recorder_.Start(notify, channels >= 2 ? 2 : 1);
    if (rc != MMSYSERR_NOERROR) {
        outcome_.kind = LoopbackOutcome::Kind::CannotRecord;
        outcome_.reason = ErrorReason(recorder_, rc);
        return false;
    }
    SetTimer(notify, kDeadlineTimer, kDeadlineMs, nullptr);
    running_ = true;
    return true;
}

bool LoopbackCheck::OnRecorded(HWAVEIN device, WAVEHDR* header) {
    if (!running_ || !recorder_.OnData(device, header)) {
        return false;
    }
    if (sentFrame_ < 0 && recorder_.FramesRecorded() > 0) {
        PlayTones();
        if (outcome_.kind == LoopbackOutcome::Kind::CannotPlay) {
            return true;
        }
    }
    return sentFrame_ >= 0 && recorder_.FramesRecorded() >=
                                  sentFrame_ + FramesPlayed(outputChannels_ >= 2) + kTailFrames;
}

// The position is read between making the tones ready and handing them over, so that nothing
// slow (opening the device) lies between the two.
void LoopbackCheck::PlayTones() {
    const bool stereo = outputChannels_ >= 2;
    UINT rc = output_.Prepare(notify_, TonesToPlay(stereo), stereo ? 2 : 1);
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

LoopbackOutcome LoopbackCheck::Finish() {
    if (!running_) {
        return outcome_;
    }
    End();
    if (outcome_.kind != LoopbackOutcome::Kind::Judged) {
        return outcome_;
    }
    if (sentFrame_ < 0) {
        // Not an error winmm reports: the device was opened and started, and sent nothing back.
        outcome_.kind = LoopbackOutcome::Kind::CannotRecord;
        outcome_.reason = u"录音设备在 6 秒内没有送来声音。";
        return outcome_;
    }
    std::vector<kelvane::SentTone> tones;
    if (outputChannels_ >= 2) {
        tones = {{ToneChannel::Left, sentFrame_},
                 {ToneChannel::Right, sentFrame_ + kToneFrames + kGapFrames}};
    } else {
        tones = {{ToneChannel::Mono, sentFrame_}};
    }
    outcome_.judgement = kelvane::JudgeLoopback(recorder_.Samples(), recorder_.Channels(), tones);
    return outcome_;
}
