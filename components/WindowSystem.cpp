#include "components/WindowSystem.h"

#include <QGuiApplication>
#include <QString>

namespace pellamark {

bool windowSystemLetsProgramsPlaceWindows() {
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace pellamark
