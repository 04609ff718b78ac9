#include "app/ChannelWindowSurface.h"

#include "components/MainWindowWidget.h"

#include <QtGlobal>

namespace pellamark {

namespace {
using Kind = WindowMessage::Kind;
} // namespace

ChannelWindowSurface::ChannelWindowSurface(int graceMs, QObject* parent)
    : MainWindowSurface(parent) {
    m_grace.setSingleShot(true);
    m_grace.setInterval(graceMs);
    connect(&m_grace, &QTimer::timeout, this, [this] {
        if (!m_shown)
            stop();
    });
}

bool ChannelWindowSurface::ensureRunning(bool tellFailure) {
    if (m_running)
        return true;
    if (m_ended || m_waitingForUser)
        return false;
    const QString why = startWindow();
    if (!why.isEmpty()) {
        qWarning("The main window could not be started: %s", qPrintable(why));
        if (tellFailure)
            Q_EMIT unavailable(why, 0);
        return false;
    }
    m_running = true;
    m_askedToShow = false;
    m_startedAt.start();
    send({Kind::Hello, {}, {}, {WindowChannelVersion}});
    // A new window comes back where the last one was, as large, showing what it showed.
    if (!m_placement.isEmpty())
        send({Kind::Placement, {}, m_placement, {}});
    if (!m_page.isEmpty())
        send({Kind::Page, m_page, {}, {}});
    if (m_viewSize.isValid())
        send({Kind::ViewSize, {}, {}, {m_viewSize.width(), m_viewSize.height()}});
    if (m_zoomPercent != 100)
        send({Kind::Zoom, {}, {}, {m_zoomPercent}});
    return true;
}

void ChannelWindowSurface::send(const WindowMessage& message) {
    if (m_running)
        sendLine(encodeWindowMessage(message));
}

void ChannelWindowSurface::command(Kind kind) {
    send({kind, {}, {}, {++m_lastCommand}});
}

void ChannelWindowSurface::show() {
    m_grace.stop();
    if (!ensureRunning(true))
        return;
    m_shown = true;
    m_askedToShow = true;
    command(Kind::Show);
}

void ChannelWindowSurface::hide() {
    m_shown = false;
    // The window comes out of a hide no longer minimised (WindowEndpoint).
    if (m_state == StateMinimised)
        m_state = m_unminimised;
    if (!m_running)
        return;
    command(Kind::Hide);
    m_grace.start();
}

void ChannelWindowSurface::minimise() {
    if (!ensureRunning(true))
        return;
    m_state = StateMinimised;
    command(Kind::Minimise);
}

void ChannelWindowSurface::restoreNormal() {
    m_state = m_unminimised = StateNormal;
    command(Kind::Restore);
}

void ChannelWindowSurface::focus() {
    send({Kind::Focus, {}, {}, {}});
}

void ChannelWindowSurface::PageAddress(const QString& address) {
    m_page = address;
    send({Kind::Page, address, {}, {}});
}

void ChannelWindowSurface::setViewSize(int width, int height) {
    m_viewSize = QSize(width, height);
    send({Kind::ViewSize, {}, {}, {width, height}});
}

void ChannelWindowSurface::prepare() {
    // The window's end starts its page view's engine at once, while the start-up check that
    // follows keeps this side waiting.
    if (!ensureRunning(false))
        return;
    send({Kind::Prepare, {}, {}, {}});
    flush();
    if (!m_shown)
        m_grace.start();
}

void ChannelWindowSurface::end() {
    m_ended = true;
    m_grace.stop();
    stop();
}

void ChannelWindowSurface::allowRestart() {
    m_waitingForUser = false;
}

void ChannelWindowSurface::stop() {
    if (!std::exchange(m_running, false))
        return;
    // A window that lived until it was told to end had come up well.
    if (m_startedAt.elapsed() >= QuickEndMs)
        m_quickEnds = 0;
    endWindow();
}

void ChannelWindowSurface::lineReceived(const QByteArray& line) {
    if (const auto message = decodeWindowMessage(line))
        handle(*message);
    else
        qWarning("The window sent what this program does not know: %s",
                 line.trimmed().left(80).constData());
}

void ChannelWindowSurface::handle(const WindowMessage& message) {
    switch (message.kind) {
    case Kind::Hello:
        if (message.numbers[0] != WindowChannelVersion) {
            qWarning("The window program speaks version %d, not %d", message.numbers[0],
                     WindowChannelVersion);
            stop();
        }
        break;
    case Kind::State:
        // A picture taken before the latest command shows a window that has been changed since.
        if (message.numbers[3] < m_lastCommand)
            break;
        m_state = message.numbers[0];
        if (m_state != StateMinimised)
            m_unminimised = m_state;
        m_client = QSize(message.numbers[1], message.numbers[2]);
        Q_EMIT changed();
        break;
    case Kind::Close:
        Q_EMIT closeCommand();
        break;
    case Kind::Menu:
        Q_EMIT menuChosen(message.text);
        break;
    case Kind::Placed:
        // What a window reports on its way out of sight is not where the user left it.
        if (m_shown)
            m_placement = message.data;
        break;
    case Kind::Zoomed:
        m_zoomPercent = message.numbers[0];
        break;
    case Kind::Renew:
        renew();
        break;
    default:
        break; // commands are not for this side
    }
}

void ChannelWindowSurface::renew() {
    // The same window again, where it was, as it was, from a window process of its own: for the
    // logic nothing has changed, and the old window's last reports are older than the new show.
    const bool shown = m_shown;
    const bool minimised = m_state == StateMinimised;
    stop();
    if (!shown)
        return;
    m_shown = false;
    show();
    if (minimised && m_running) {
        m_state = StateMinimised;
        command(Kind::Minimise);
    }
}

void ChannelWindowSurface::windowEnded(const QString& why) {
    m_running = false;
    m_grace.stop();
    const bool quick = m_startedAt.isValid() && m_startedAt.elapsed() < QuickEndMs;
    const bool wasShown = std::exchange(m_shown, false);
    // Hidden and without a window: the next window comes up as the last one was, unminimised.
    m_state = m_unminimised;
    qWarning("The main window ended by itself: %s", qPrintable(why));
    m_quickEnds = quick ? m_quickEnds + 1 : 0;
    if (m_quickEnds >= QuickEndsBeforeWaiting)
        m_waitingForUser = true;
    if (wasShown)
        Q_EMIT lost();
    if (quick && m_askedToShow)
        Q_EMIT unavailable(why, m_quickEnds);
}

} // namespace pellamark
