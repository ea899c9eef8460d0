// What came of one automatic check: the check could not run, the recording was broken twice, or
// a judgement of what was heard. The check's sequence makes it; the form reads it into a box.
#pragma once

#include <string>

#include "signal/loopback_judgement.h"

namespace kelvane {

struct LoopbackOutcome {
    enum class Kind { NoRecorder, CannotRecord, CannotPlay, Judged, Broken };
    Kind kind = Kind::Judged;
    std::u16string reason;  // the platform's words, for CannotRecord and CannotPlay
    LoopbackJudgement judgement;
    std::u16string recorderName;
    int lostMs = -1;  // Broken: the sound lost, whole ms; -1 when it can't be sized
};

}  // namespace kelvane
