#include "components/WebEngineEnvironment.h"

#include <QByteArray>
#include <QtGlobal>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace pellamark {

void prepareWebEngineEnvironment() {
    // The page is drawn by Qt Quick's software scene graph: a page of favourites needs no GPU,
    // and without OpenGL the view comes up quicker, takes no GL driver into memory (some 50 MB
    // with a software GL driver) and does not make the window system's window anew when it
    // joins a window already on screen. A choice of the user's stays.
    if (!qEnvironmentVariableIsSet("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", QByteArrayLiteral("software"));
#ifndef _WIN32
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", QByteArrayLiteral("1"));
#endif
}

} // namespace pellamark
