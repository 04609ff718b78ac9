// The desktop tests' copy of the window program keeps a journal of its window.
#include "TestWindowJournal.h"
#include "window/WindowVariant.h"

namespace pellamark {

std::unique_ptr<QObject> makeWindowCompanion() {
    return std::make_unique<TestWindowJournal>();
}

} // namespace pellamark
