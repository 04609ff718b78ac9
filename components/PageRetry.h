#pragma once

#include <QObject>
#include <QTimer>

namespace pellamark {

// When the page view tries a page that could not be shown again: at growing intervals while the
// view is on screen (a few seconds, doubling, at most a minute), soon after the system's network
// comes back, never while the view is put away. Nothing runs between tries: one timer, no polling.
class PageRetry : public QObject {
    Q_OBJECT
public:
    static constexpr int FirstDelayMs = 2000;
    static constexpr int LongestDelayMs = 60000;
    // The network has come back: the service is tried once the new route has settled a moment.
    static constexpr int AfterNetworkMs = 250;

    explicit PageRetry(QObject* parent = nullptr);

    // The page failed: the next try is due after the current interval, which then grows.
    void failed();
    // The page was shown, or another address asked for: nothing more to try.
    void stop();
    void networkChanged();
    void setOnScreen(bool onScreen);

    bool pending() const { return m_failed; }
    // The wait before the next try (tests).
    int nextDelayMs() const { return m_delayMs; }

Q_SIGNALS:
    void retry();

private:
    void schedule(int delayMs);

    QTimer m_timer;
    bool m_failed = false;
    bool m_onScreen = true;
    int m_delayMs = FirstDelayMs;
};

} // namespace pellamark
