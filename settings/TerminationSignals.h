#pragma once

namespace pellamark {

// Makes the termination requests of the operating system (SIGTERM, SIGINT, SIGHUP) end the
// process at once with status 0. For start-up: until the event loop runs, nothing can take the
// requests the way Exit does, and the start-up check may wait on the network for up to its
// deadline. Nothing is written during start-up, so there is nothing to finish; the single-instance
// lock and the tray icon go with the process. Whatever handles the signals later replaces this.
// On Windows, where a windowed program gets no such signals, it does nothing.
void endAtOnceOnTerminationSignals();

} // namespace pellamark
