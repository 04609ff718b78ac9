#include "window/WindowVariant.h"

namespace pellamark {

std::unique_ptr<QObject> makeWindowCompanion() {
    return nullptr;
}

} // namespace pellamark
