#pragma once

namespace pellamark {

// What the window system lets the program do with its own windows. X11 and Windows let a
// program place its windows and bring one to the front; Wayland keeps both for the compositor,
// which places new windows itself and refuses (with a warning) a request to activate one.
bool windowSystemLetsProgramsPlaceWindows();
bool windowSystemLetsProgramsActivateWindows();

} // namespace pellamark
