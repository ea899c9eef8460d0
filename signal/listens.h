// How many times the automatic check listens, and which listen it shows. A listen that lost sound
// says nothing of the speakers. A break heard once may be a stutter of this machine's, where a
// loose plug or a failing driver breaks the sound again: a tone's breaks are named only where two
// whole listens both heard that tone break. So a listen that lost sound is made again once, and
// one with breaks until a second whole listen confirms them or not, three listens at most.
#pragma once

#include "signal/loopback_judgement.h"

namespace kelvane {

enum class AfterListen { Show, ListenAgain, Broken };

class Listens {
  public:
    // `judgement` is this listen's, `whole` whether it kept every frame. For Show, judgement is
    // then the one to show, with only its confirmed breaks. Broken: two listens lost sound, and
    // judgement is the last.
    AfterListen Next(LoopbackJudgement& judgement, bool whole);

  private:
    int made_ = 0;
    bool kept_ = false;  // a whole listen with breaks, waiting for another to hear them
    LoopbackJudgement whole_;
};

}  // namespace kelvane
