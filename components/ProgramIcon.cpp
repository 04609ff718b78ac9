#include "components/ProgramIcon.h"

// The icons live in a static library, so their resource must be registered by hand.
static void registerIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace pellamark {

QIcon programIcon() {
    static const bool registered = (registerIconResources(), true);
    Q_UNUSED(registered);
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128})
        icon.addFile(QStringLiteral(":/pellamark/pellamark-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace pellamark
