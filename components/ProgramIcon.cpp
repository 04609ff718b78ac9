#include "components/ProgramIcon.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>

// The icons live in a static library, so their resource must be registered by hand.
static void registerIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace pellamark {

QIcon programIcon() {
    static const bool registered = (registerIconResources(), true);
    Q_UNUSED(registered);
    // Decoded by the PNG reader built into Qt, named outright: the icon then needs neither an
    // icon engine nor the image format modules, which a lookup by file name would load.
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128}) {
        QFile file(QStringLiteral(":/pellamark/pellamark-%1.png").arg(size));
        // Without the detection, which asks every image format module whether it can read it.
        QImageReader reader(&file, "png");
        reader.setAutoDetectImageFormat(false);
        const QImage image = reader.read();
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace pellamark
