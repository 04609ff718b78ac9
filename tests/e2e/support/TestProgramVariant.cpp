// The desktop tests' copy of the program: it talks to the service the tests run on their port,
// starts the tests' copy of the window program, lets the window process end as soon after the
// window is put away as PELLAMARK_WINDOW_GRACE_MS says, and keeps a journal of its windows.
#include "TestWindowJournal.h"
#include "app/ChannelWindowSurface.h"
#include "app/ProgramVariant.h"

#include <QtGlobal>

namespace pellamark {

ProgramVariant programVariant() {
    bool ok = false;
    const int graceMs = qEnvironmentVariableIntValue("PELLAMARK_WINDOW_GRACE_MS", &ok);
    return {PELLAMARK_E2E_SERVICE_HOST, QStringLiteral(PELLAMARK_E2E_WINDOW_PROGRAM),
            ok && graceMs >= 0 ? graceMs : ChannelWindowSurface::DefaultGraceMs};
}

std::unique_ptr<QObject> makeProgramCompanion() {
    return std::make_unique<TestWindowJournal>();
}

} // namespace pellamark
