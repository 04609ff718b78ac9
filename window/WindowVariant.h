#pragma once

#include <QObject>

#include <memory>

namespace pellamark {

// What sets one build of the window program apart from another. Its own build links
// WindowVariant.cpp beside main.cpp; the desktop tests' copy links theirs
// (tests/e2e/support/TestWindowVariant.cpp), which keeps a journal of its windows.
//
// Made once the application object exists and kept for the run; none in the program's own build.
std::unique_ptr<QObject> makeWindowCompanion();

} // namespace pellamark
