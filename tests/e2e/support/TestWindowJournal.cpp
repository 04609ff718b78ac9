#include "TestWindowJournal.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

namespace pellamark {

TestWindowJournal::TestWindowJournal(QObject* parent) : QObject(parent) {
    const QString path = qEnvironmentVariable("PELLAMARK_TEST_JOURNAL");
    if (path.isEmpty())
        return;
    m_journal.setFileName(path);
    if (!m_journal.open(QIODevice::Append | QIODevice::Text))
        return;
    m_closeRequest = path + QStringLiteral(".close");
    qApp->installEventFilter(this);
    connect(&m_poll, &QTimer::timeout, this, &TestWindowJournal::pollCloseRequest);
    m_poll.start(100);
}

bool TestWindowJournal::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::Show && type != QEvent::Hide && type != QEvent::WindowStateChange)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || !widget->isWindow())
        return false;
    const char* what = type == QEvent::Show ? "show" : type == QEvent::Hide ? "hide" : "state";
    const Qt::WindowStates state = widget->windowState();
    const char* shown = state & Qt::WindowMinimized   ? "minimised"
                        : state & Qt::WindowMaximized ? "maximised"
                                                      : "normal";
    const QString name =
        widget->objectName().isEmpty() ? QStringLiteral("-") : widget->objectName();
    // A window the window system minimises is sent a hide event but stays visible; one the
    // program hides is not.
    const char* visible = widget->isVisible() ? "visible" : "hidden";
    const QString line = QStringLiteral("%1 %2 %3 %4 %5\n")
                             .arg(QLatin1String(what), name, QLatin1String(shown),
                                  QLatin1String(visible), widget->windowTitle());
    m_journal.write(line.toUtf8());
    m_journal.flush();
    return false;
}

void TestWindowJournal::pollCloseRequest() {
    QFile request(m_closeRequest);
    if (!request.open(QIODevice::ReadOnly))
        return;
    const QString name = QString::fromUtf8(request.readAll()).trimmed();
    request.close();
    // The main window and the dialogs live in two processes that watch the same file: the one
    // that has the window takes the request.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == name && widget->windowHandle() != nullptr) {
            request.remove();
            QWindowSystemInterface::handleCloseEvent(widget->windowHandle());
            return;
        }
    }
}

} // namespace pellamark
