#include "components/MainWindowWidget.h"

#include "components/HtmlView.h"
#include "components/ProgramIcon.h"
#include "components/QtText.h"
#include "components/WindowSystem.h"
#include "settings/Messages.h"

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

void MainWindowWidget::notePlace() {
    if (isVisible() && windowState() == Qt::WindowNoState)
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
    m_showMaximised = values[4] != 0;
}

void MainWindowWidget::showPlaced() {
    // Asked for before the window was mapped, the maximised state was lost under at least one
    // window manager (openbox): it is asked for once the window is there.
    show();
    if (std::exchange(m_showMaximised, false))
        setWindowState(windowState() | Qt::WindowMaximized);
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
    if (event->type() == QEvent::WindowStateChange) {
        notePlace();
        Q_EMIT changed();
        Q_EMIT placed();
    }
}

void MainWindowWidget::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    notePlace();
    Q_EMIT changed();
    Q_EMIT placed();
}

void MainWindowWidget::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    notePlace();
    Q_EMIT placed();
}

void MainWindowWidget::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    Q_EMIT changed();
}

} // namespace pellamark
