#include "signal/listens.h"

namespace kelvane {
namespace {

constexpr int kMostListens = 3;

bool AnyBreak(const LoopbackJudgement& judgement) {
    for (const ToneJudgement& tone : judgement.tones) {
        if (tone.gaps > 0) {
            return true;
        }
    }
    return false;
}

// Each tone keeps its breaks only where `before` (none: nullptr) broke in that tone as well, and
// only as many as both heard: a stutter of the machine's in one listen adds none.
void KeepConfirmedBreaks(LoopbackJudgement& shown, const LoopbackJudgement* before) {
    for (ToneJudgement& tone : shown.tones) {
        int again = 0;
        for (std::size_t i = 0; before != nullptr && i < before->tones.size(); ++i) {
            again = before->tones[i].channel == tone.channel ? before->tones[i].gaps : again;
        }
        tone.gaps = again < tone.gaps ? again : tone.gaps;
    }
}

}  // namespace

AfterListen Listens::Next(LoopbackJudgement& judgement, bool whole) {
    ++made_;
    if (whole) {
        if (kept_ || !AnyBreak(judgement) || made_ == kMostListens) {
            KeepConfirmedBreaks(judgement, kept_ ? &whole_ : nullptr);
            return AfterListen::Show;
        }
        kept_ = true;
        whole_ = judgement;
        return AfterListen::ListenAgain;
    }
    // A whole listen before this one waits for another; at the last, it holds without the
    // breaks it heard only once.
    if (kept_ && made_ == kMostListens) {
        judgement = whole_;
        KeepConfirmedBreaks(judgement, nullptr);
        return AfterListen::Show;
    }
    return kept_ || made_ == 1 ? AfterListen::ListenAgain : AfterListen::Broken;
}

}  // namespace kelvane
