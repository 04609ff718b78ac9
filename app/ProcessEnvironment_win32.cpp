// Windows: the termination requests arrive as the end of the session, through Qt.
#include "app/ProcessEnvironment.h"

namespace pellamark {

TerminationWatcher::TerminationWatcher(std::function<void()> onRequest, QObject* parent)
    : QObject(parent), m_onRequest(std::move(onRequest)) {}

TerminationWatcher::~TerminationWatcher() = default;

void TerminationWatcher::readRequests() {}

} // namespace pellamark
