#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace pellamark {

// The event loop's half of the termination requests (system/TerminationSignals.h): each request
// becomes a call on the GUI thread, so that it ends the program the same way Exit does.
class TerminationWatcher : public QObject {
    Q_OBJECT
public:
    explicit TerminationWatcher(std::function<void()> onRequest, QObject* parent = nullptr);
    ~TerminationWatcher() override;

private:
    std::function<void()> m_onRequest;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace pellamark
