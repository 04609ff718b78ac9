#include "app/DesktopSession.h"

#include "app/frmMain.h"

#include <QGuiApplication>

namespace pellamark {

void followDesktopSession(QGuiApplication& app, frmMain& window) {
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window,
                     [&window] { window.sessionEnding(); });
}

} // namespace pellamark
