#include "components/WebEngineEnvironment.h"

#include <QByteArray>
#include <QtGlobal>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace pellamark {

void prepareWebEngineEnvironment() {
#ifndef _WIN32
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", QByteArrayLiteral("1"));
#endif
}

} // namespace pellamark
