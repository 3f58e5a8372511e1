#include "engine/QelStat.h"

namespace qel {

// The controls start at their design positions (member initialisers); the animation is created
// stopped, and no cancel has been asked for.
TfrmQelProcess::TfrmQelProcess() {
    AnimationPlaying = false;
    AnimationStopFrame = 34;
    CancelRequested = false;
}

}  // namespace qel
