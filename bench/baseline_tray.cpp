// The yardstick for the start-up benchmark: the plainest tray wrapper around a web view, one
// process, showing the page given as its argument. Not part of the program.
#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QWebEngineView>

#include <unistd.h>

namespace {
class Window : public QWebEngineView {
protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        hide();
    }
};
} // namespace

int main(int argc, char* argv[]) {
    if (::geteuid() == 0) // as the program does: Chromium's sandbox refuses root
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::darkGreen);
    const QIcon icon(pixmap);
    QSystemTrayIcon tray(icon);
    tray.setToolTip(QStringLiteral("Baseline"));
    Window window;
    window.setWindowTitle(QStringLiteral("Baseline"));
    window.setWindowIcon(icon);
    window.resize(780, 600);
    QObject::connect(&tray, &QSystemTrayIcon::activated, &window, [&window] {
        window.show();
        window.raise();
        window.activateWindow();
    });
    tray.show();
    window.setUrl(QUrl(QString::fromLocal8Bit(argc > 1 ? argv[1] : "about:blank")));
    window.show();
    return QApplication::exec();
}
