#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <string_view>

namespace pellamark {

// What sets one build of the program apart from another. The program's own build links
// ProgramVariant.cpp beside main.cpp; the desktop tests' copy links theirs
// (tests/e2e/support/TestProgramVariant.cpp), which talks to the service the tests run, ends its
// window process sooner and keeps a journal of its windows.
struct ProgramVariant {
    // The service: host[:port], or an address with its scheme.
    std::string_view serviceHost;
    // The window program's name, found beside the program or in the installed layout.
    QString windowProgram;
    // How long the window process outlives a window put away.
    int windowGraceMs = 0;
};

ProgramVariant programVariant();
// Made once the application object exists and kept for the run; none in the program's own build.
std::unique_ptr<QObject> makeProgramCompanion();

} // namespace pellamark
