#pragma once

namespace pellamark {

// The termination requests of the operating system (SIGTERM, SIGINT, SIGHUP), in two halves: during
// start-up they end the process at once; once the event loop runs they are only noted, for the
// loop to end the program the way Exit does (TerminationWatcher, app/TerminationWatcher.h, watches
// the descriptor below). On Windows, where a windowed program gets no such signals and the end of
// the session reaches it through the window system, none of this does anything.

// Makes the requests end the process at once with status 0. For start-up: until the event loop
// runs, nothing can take the requests the way Exit does, and the start-up check may wait on the
// network for up to its deadline. Nothing is written during start-up, so there is nothing to
// finish; the single-instance lock and the tray icon go with the process.
void endAtOnceOnTerminationSignals();

// From now on each request only makes this descriptor readable (a self-pipe: a signal handler may
// do no more than write a byte). -1 where there are no termination signals.
int noteTerminationSignals();
// Reads what the requests wrote; true when there was one.
bool takeTerminationRequests();
// The requests get their default handling again.
void stopNotingTerminationSignals();

} // namespace pellamark
