#include "components/MainWindowWidget.h"

#include "base/Messages.h"
#include "components/HtmlView.h"
#include "components/ProgramIcon.h"
#include "components/QtText.h"
#include "components/WindowSystem.h"

#include <QAction>
#include <QCloseEvent>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>

#include <utility>

namespace pellamark {

MainWindowWidget::MainWindowWidget(HtmlView& view, QWidget* parent)
    : QMainWindow(parent), m_view(view) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(qtText(ProgramTitle));
    setWindowIcon(programIcon());
    QFont font(QStringLiteral("Verdana"));
    font.setPointSizeF(8.25);
    font.setWeight(QFont::Normal);
    setFont(font);

    auto addItem = [this](QMenu* menu, const char* name, const QString& caption) {
        QAction* action = menu->addAction(caption);
        const QString item = QString::fromLatin1(name);
        action->setObjectName(item);
        connect(action, &QAction::triggered, this, [this, item] { Q_EMIT menuChosen(item); });
    };
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("file"));
    addItem(file, "menuoptions", QStringLiteral("Options"));
    addItem(file, "menuclose", QStringLiteral("Exit"));
    QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("menuhelp"));
    addItem(help, "menupmhelp", QStringLiteral("Pellamark Help"));
    addItem(help, "menuabout", QStringLiteral("About"));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    QWidget* page = m_view.widget();
    page->setParent(client);
    page->setObjectName(QStringLiteral("HTML1"));
    page->setGeometry(ViewMargin, ViewMargin, DesignClientWidth - 2 * ViewMargin,
                      DesignClientHeight - 2 * ViewMargin);
    page->show();

    resize(DesignClientWidth, DesignClientHeight + menuBar()->sizeHint().height());
    m_reported.client = clientSize();

    m_settle.setSingleShot(true);
    m_settle.setInterval(0);
    connect(&m_settle, &QTimer::timeout, this, &MainWindowWidget::reportIfSettled);
    m_sizeFollows.setSingleShot(true);
    m_sizeFollows.setInterval(SizeFollowsStateMs);
    connect(&m_sizeFollows, &QTimer::timeout, this, [this] {
        m_awaitingSize = false;
        reportIfSettled();
    });
    // Centred where the window system lets a program place its windows; elsewhere (Wayland) the
    // compositor places it.
    if (QScreen* screen = this->screen(); screen && windowSystemLetsProgramsPlaceWindows())
        move(screen->availableGeometry().center() - rect().center());
}

int MainWindowWidget::state() const {
    const Qt::WindowStates state = windowState();
    if (state & Qt::WindowMinimized)
        return StateMinimised;
    if (state & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return StateMaximised;
    return StateNormal;
}

QSize MainWindowWidget::clientSize() const {
    if (layout())
        layout()->activate();
    return centralWidget()->size();
}

void MainWindowWidget::setViewSize(int width, int height) {
    m_view.Width(width);
    m_view.Height(height);
}

void MainWindowWidget::showMinimisedState() {
    setWindowState(windowState() | Qt::WindowMinimized);
}

void MainWindowWidget::restoreNormalState() {
    setWindowState(windowState() &
                   ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

void MainWindowWidget::focus() {
    raise();
    activateWindow();
}

void MainWindowWidget::windowSystemEvent() {
    // A hidden window's changes are seen when it is shown again.
    if (!isVisible())
        return;
    const int now = state();
    const QSize client = clientSize();
    if (now == StateMinimised || now == m_reportedUnminimised)
        m_awaitingSize = false;
    else if (client != m_reported.client)
        m_awaitingSize = false; // the size has come (or came first)
    else if (!m_awaitingSize) {
        m_awaitingSize = true;
        m_sizeFollows.start();
    }
    if (!m_awaitingSize)
        m_sizeFollows.stop();
    m_settle.start();
}

void MainWindowWidget::reportWhenSettled() {
    m_reportAsked = true;
    m_settle.start();
}

void MainWindowWidget::reportIfSettled() {
    if (m_awaitingSize)
        return;
    const Picture now{state(), clientSize()};
    if (now == m_reported && !std::exchange(m_reportAsked, false))
        return;
    m_reportAsked = false;
    m_reported = now;
    if (now.state != StateMinimised)
        m_reportedUnminimised = now.state;
    notePlace();
    Q_EMIT changed();
    Q_EMIT placed();
}

void MainWindowWidget::notePlace() {
    // Only a settled window in the normal state is where the user put it.
    if (isVisible() && windowState() == Qt::WindowNoState && !m_awaitingSize)
        m_normalPlace = QRect(frameGeometry().topLeft(), size());
}

QByteArray MainWindowWidget::placement() const {
    // The frame's place, as a new window is placed by it, and the window's size, in the normal
    // state.
    const QRect normal = m_normalPlace.isValid() ? m_normalPlace : geometry();
    const bool maximised = windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen);
    QByteArray text;
    for (int value : {normal.x(), normal.y(), normal.width(), normal.height(), maximised ? 1 : 0})
        text += QByteArray::number(value) + ' ';
    return text.trimmed();
}

void MainWindowWidget::restorePlacement(const QByteArray& placement) {
    const QList<QByteArray> fields = placement.split(' ');
    if (fields.size() != 5)
        return;
    int values[5] = {};
    for (int i = 0; i < 5; ++i) {
        bool ok = false;
        values[i] = fields[i].toInt(&ok);
        if (!ok)
            return;
    }
    if (values[2] <= 0 || values[3] <= 0)
        return;
    move(values[0], values[1]);
    resize(values[2], values[3]);
    m_normalPlace = QRect(values[0], values[1], values[2], values[3]);
    m_reported = {StateNormal, clientSize()};
    m_showMaximised = values[4] != 0;
}

void MainWindowWidget::showPlaced() {
    // Asked for before the window is mapped, the window system maps it maximised at once, and
    // the window is reported once, maximised, when its size has followed.
    if (std::exchange(m_showMaximised, false))
        setWindowState(windowState() | Qt::WindowMaximized);
    show();
}

void MainWindowWidget::hideUnminimised() {
    hide();
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
}

void MainWindowWidget::closeEvent(QCloseEvent* event) {
    // Only the window system's close is the user's close command; every other close (the
    // program ending) goes through.
    if (!event->spontaneous()) {
        event->accept();
        return;
    }
    event->ignore();
    Q_EMIT closeCommand();
}

void MainWindowWidget::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        windowSystemEvent();
}

void MainWindowWidget::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    windowSystemEvent();
}

void MainWindowWidget::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    notePlace();
    Q_EMIT placed();
}

void MainWindowWidget::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Every display is reported; whether it changed anything is the logic's to tell.
    m_reportAsked = true;
    windowSystemEvent();
}

} // namespace pellamark
