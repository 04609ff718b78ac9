#include "components/WindowSystem.h"

#include <QGuiApplication>
#include <QString>

namespace pellamark {

namespace {

bool onWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

bool windowSystemLetsProgramsPlaceWindows() {
    return !onWayland();
}

bool windowSystemLetsProgramsActivateWindows() {
    return !onWayland();
}

} // namespace pellamark
