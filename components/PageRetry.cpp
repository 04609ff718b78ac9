#include "components/PageRetry.h"

#include <algorithm>

namespace pellamark {

PageRetry::PageRetry(QObject* parent) : QObject(parent) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_failed && m_onScreen)
            Q_EMIT retry();
    });
}

void PageRetry::failed() {
    // Each try that fails again doubles the wait; the first failure waits the shortest.
    m_delayMs = m_failed ? std::min(m_delayMs * 2, LongestDelayMs) : FirstDelayMs;
    m_failed = true;
    schedule(m_delayMs);
}

void PageRetry::stop() {
    m_failed = false;
    m_delayMs = FirstDelayMs;
    m_timer.stop();
}

void PageRetry::networkChanged() {
    if (m_failed)
        schedule(AfterNetworkMs);
}

void PageRetry::setOnScreen(bool onScreen) {
    m_onScreen = onScreen;
    if (!onScreen)
        m_timer.stop();
    else if (m_failed && !m_timer.isActive())
        schedule(m_delayMs);
}

void PageRetry::schedule(int delayMs) {
    if (m_onScreen)
        m_timer.start(delayMs);
}

} // namespace pellamark
