// What the automatic check's result box says, line by line, and which icon it shows.
#pragma once

#include <string>
#include <vector>

#include "signal/loopback_judgement.h"
#include "signal/loopback_outcome.h"

namespace kelvane {

// Each of these ends the check alone, in place of the result lines.
inline constexpr const char16_t* kLoopbackNoRecorder = u"没有录音设备，无法自动检测。";
// reason is the platform's own text for the failure.
std::u16string CannotRecordLine(const std::u16string& reason);
std::u16string CannotPlayLine(const std::u16string& reason);

struct LoopbackLines {
    std::vector<std::u16string> lines;
    bool information;  // the box's icon: information, else a warning
};

LoopbackLines ComposeLoopbackLines(const LoopbackJudgement& judgement,
                                   const std::u16string& recorderName);
// The whole box for what came of a check. A broken recording gets no verdict, whatever its
// judgement would say.
LoopbackLines ComposeLoopbackBox(const LoopbackOutcome& outcome);

// A level as the box prints it: one decimal, ASCII minus. Anything below kSilenceDbfs, minus
// infinity and NaN print as kSilenceDbfs: a 16-bit recording holds nothing quieter.
std::u16string DecibelText(double dbfs);

}  // namespace kelvane
