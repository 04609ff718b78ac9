// Windows: the web engine's sandbox needs nothing special, and the end of the session arrives
// as the application's commitDataRequest.
#include "app/ProcessEnvironment.h"

namespace pellamark {

bool runningAsRoot() {
    return false;
}

void prepareWebEngineEnvironment() {}

TerminationWatcher::TerminationWatcher(std::function<void()> onRequest, QObject* parent)
    : QObject(parent), m_onRequest(std::move(onRequest)) {}

TerminationWatcher::~TerminationWatcher() = default;

void TerminationWatcher::readRequests() {}

} // namespace pellamark
