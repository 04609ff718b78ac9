#include "components/MainWindowWidget.h"

#include "components/HtmlView.h"
#include "components/ProgramIcon.h"
#include "components/QtText.h"
#include "settings/Messages.h"

#include <QAction>
#include <QCloseEvent>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>

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
    if (QScreen* screen = this->screen())
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
        Q_EMIT changed();
        Q_EMIT placed();
    }
}

void MainWindowWidget::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Q_EMIT changed();
    Q_EMIT placed();
}

void MainWindowWidget::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    Q_EMIT placed();
}

void MainWindowWidget::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    Q_EMIT changed();
}

} // namespace pellamark
