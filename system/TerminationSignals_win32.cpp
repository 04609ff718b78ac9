#include "system/TerminationSignals.h"

namespace pellamark {

void endAtOnceOnTerminationSignals() {}

int noteTerminationSignals() {
    return -1;
}

bool takeTerminationRequests() {
    return false;
}

void stopNotingTerminationSignals() {}

} // namespace pellamark
