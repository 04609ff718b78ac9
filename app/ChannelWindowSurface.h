#pragma once

#include "app/MainWindowSurface.h"
#include "components/WindowChannel.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QTimer>

#include <utility>

namespace pellamark {

// The main window at the other end of the window channel: started when the window is needed,
// ended when it has been put away for the grace period, started again with its last place, size
// and page. What the window reports is taken as the truth unless the logic has given a command
// since the window took that picture: then what the logic commanded holds until a newer report
// comes (each command that changes the window is answered by one).
//
// How the other end is started and reached is a subclass's (ProcessWindowSurface; the tests'
// surface keeps the window in this process and delays its messages).
class ChannelWindowSurface : public MainWindowSurface {
    Q_OBJECT
public:
    static constexpr int DefaultGraceMs = 10000;
    // A window that ends by itself this soon after starting has not come up at all.
    static constexpr int QuickEndMs = 5000;
    // After that many quick ends in a row, only the user's asking starts the window again.
    static constexpr int QuickEndsBeforeWaiting = 3;

    explicit ChannelWindowSurface(int graceMs = DefaultGraceMs, QObject* parent = nullptr);

    void show() override;
    void hide() override;
    void minimise() override;
    void restoreNormal() override;
    void focus() override;
    void PageAddress(const QString& address) override;
    void setViewSize(int width, int height) override;
    void prepare() override;
    void end() override;
    void allowRestart() override;

    bool isShown() const override { return m_shown; }
    int state() const override { return m_state; }
    QSize clientSize() const override { return m_client; }

    // Whether the window's end is running now (tests, benchmarks).
    bool isRunning() const { return m_running; }

protected:
    // Starts the window's end: an empty text, or why it could not be started, in plain words.
    virtual QString startWindow() = 0;
    virtual void sendLine(const QByteArray& line) = 0;
    // Closes the channel; the window's end then ends by itself.
    virtual void endWindow() = 0;
    // Gets what was sent on its way before this side blocks for a while.
    virtual void flush() {}

    // For the subclass: a line from the window's end, and its end without being told to.
    void lineReceived(const QByteArray& line);
    void windowEnded(const QString& why);

private:
    bool ensureRunning(bool tellFailure);
    void command(WindowMessage::Kind kind);
    void send(const WindowMessage& message);
    void handle(const WindowMessage& message);
    void stop();
    void renew();

    QTimer m_grace;
    bool m_running = false;
    bool m_ended = false;
    QElapsedTimer m_startedAt;
    int m_quickEnds = 0;
    bool m_waitingForUser = false;
    // Asked to be shown since it started: only such a window's failure is the user's concern.
    bool m_askedToShow = false;

    int m_lastCommand = 0;
    bool m_shown = false;
    int m_state = 0;
    // The state the window has when it is not minimised: what it comes back in.
    int m_unminimised = 0;
    QSize m_client;
    // Kept across windows: what a new window must show and where.
    QString m_page;
    QSize m_viewSize;
    QByteArray m_placement;
    int m_zoomPercent = 100;
};

} // namespace pellamark
