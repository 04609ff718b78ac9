#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace pellamark {

// Settings the web engine reads from the environment; call before the application object exists.
// Its sandbox stays on, except for a process running as root, where Chromium refuses to start
// with it.
void prepareWebEngineEnvironment();

// Whether the process runs with root rights.
bool runningAsRoot();

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
