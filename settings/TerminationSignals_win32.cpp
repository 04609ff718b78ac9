#include "settings/TerminationSignals.h"

namespace pellamark {

// A windowed program gets no termination signals; the end of the session reaches it through the
// window system once its event loop runs.
void endAtOnceOnTerminationSignals() {}

} // namespace pellamark
