// How many times the automatic check listens, and which listen it shows. A listen that lost sound
// says nothing of the speakers as a whole, though a tone it kept whole still says how that tone
// came. A break heard once may be a stutter of this machine's, where a loose plug or a failing
// driver breaks the sound again: a tone's breaks are named only where two listens that kept that
// tone whole both heard it break. So a listen that lost sound is made again once, and one with
// breaks until a second sighting of the tone confirms them or not, three listens at most.
#pragma once

#include "signal/loopback_judgement.h"

namespace kelvane {

enum class AfterListen { Show, ListenAgain, Broken };

class Listens {
  public:
    // `judgement` is this listen's, `clockKept` whether the recorder kept pace with the clock
    // (where it did not, no part of the recording can be trusted). For Show, judgement is then the
    // one to show, with only its confirmed breaks. Broken: two listens lost sound, and judgement is
    // the last.
    AfterListen Next(LoopbackJudgement& judgement, bool clockKept);

  private:
    // What the listens that kept one tone whole heard of it.
    struct Sightings {
        int made = 0;
        int broke = 0;
        int fewest = 0;  // breaks, in the sighting that broke least
    };
    bool InDoubt() const;
    void NameConfirmed(LoopbackJudgement& judgement) const;

    int made_ = 0;
    bool haveWhole_ = false;
    LoopbackJudgement whole_;  // the last listen that kept every frame
    Sightings sightings_[3];   // by ToneChannel
};

}  // namespace kelvane
