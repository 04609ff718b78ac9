#include "app/ProgramVariant.h"

#include "app/ChannelWindowSurface.h"
#include "base/BuildConfig.h"

namespace pellamark {

ProgramVariant programVariant() {
    return {config::ServiceHost, QStringLiteral("pellamark-window"),
            ChannelWindowSurface::DefaultGraceMs};
}

std::unique_ptr<QObject> makeProgramCompanion() {
    return nullptr;
}

} // namespace pellamark
