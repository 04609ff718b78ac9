// Linux: the files go to the desktop's own handlers (DesktopLauncher).
#include "app/DesktopLauncher.h"

namespace pellamark {

std::unique_ptr<HelperLauncher> makeHelperLauncher(const QString& programFolder) {
    return std::make_unique<DesktopLauncher>(programFolder);
}

} // namespace pellamark
