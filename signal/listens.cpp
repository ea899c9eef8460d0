#include "signal/listens.h"

namespace kelvane {
namespace {

constexpr int kMostListens = 3;

}  // namespace

// A tone that broke in its only sighting: once more may show it again, or not.
bool Listens::InDoubt() const {
    for (const Sightings& tone : sightings_) {
        if (tone.broke == 1 && tone.made == 1) {
            return true;
        }
    }
    return false;
}

// Only as many as the sighting that heard fewest: a stutter of the machine's in one adds none.
void Listens::NameConfirmed(LoopbackJudgement& judgement) const {
    for (ToneJudgement& tone : judgement.tones) {
        const Sightings& seen = sightings_[static_cast<int>(tone.channel)];
        tone.gaps = seen.broke >= 2 ? seen.fewest : 0;
    }
}

AfterListen Listens::Next(LoopbackJudgement& judgement, bool clockKept) {
    ++made_;
    for (const ToneJudgement& tone : judgement.tones) {
        Sightings& seen = sightings_[static_cast<int>(tone.channel)];
        if (clockKept && tone.whole) {
            ++seen.made;
            if (tone.gaps > 0) {
                seen.fewest =
                    seen.broke++ == 0 || tone.gaps < seen.fewest ? tone.gaps : seen.fewest;
            }
        }
    }
    const bool whole = clockKept && !judgement.broken;
    if (whole) {
        haveWhole_ = true;
        whole_ = judgement;
    }
    if (haveWhole_) {
        if (!InDoubt() || made_ == kMostListens) {
            judgement = whole_;
            NameConfirmed(judgement);
            return AfterListen::Show;
        }
        return AfterListen::ListenAgain;
    }
    return made_ == 1 ? AfterListen::ListenAgain : AfterListen::Broken;
}

}  // namespace kelvane
