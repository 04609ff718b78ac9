#include "app/TerminationWatcher.h"

#include "system/TerminationSignals.h"

#include <QSocketNotifier>

namespace pellamark {

TerminationWatcher::TerminationWatcher(std::function<void()> onRequest, QObject* parent)
    : QObject(parent), m_onRequest(std::move(onRequest)) {
    const int requests = noteTerminationSignals();
    if (requests < 0)
        return;
    m_notifier = new QSocketNotifier(requests, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        if (takeTerminationRequests() && m_onRequest)
            m_onRequest();
    });
}

TerminationWatcher::~TerminationWatcher() {
    stopNotingTerminationSignals();
}

} // namespace pellamark
