#pragma once

namespace pellamark {

// Whether the window system lets a program place its windows. X11 and Windows do; Wayland
// keeps that for the compositor, which places new windows itself and ignores a position a
// program asks for.
bool windowSystemLetsProgramsPlaceWindows();

} // namespace pellamark
