#pragma once

namespace pellamark {

// The system's own word on connectivity, for the start-up check: true when the system knows there
// is no network at all; false when it knows of one or offers no such word. The system's source is
// loaded on the first call, which only a failed check makes. Call on the GUI thread.
bool systemSaysOffline();

} // namespace pellamark
