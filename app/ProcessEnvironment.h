#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace pellamark {

// Turns the termination requests of the operating system (SIGTERM, SIGINT, SIGHUP) into a call
// on the GUI thread, so they end the program the same way Exit does.
class TerminationWatcher : public QObject {
    Q_OBJECT
public:
    explicit TerminationWatcher(std::function<void()> onRequest, QObject* parent = nullptr);
    ~TerminationWatcher() override;

private:
    void readRequests();

    std::function<void()> m_onRequest;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace pellamark
