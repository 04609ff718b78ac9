// pellamark-window: the main window of the program and its page view, in a process of their own
// so that the program itself stays light while it waits in the tray. The program starts it; it
// decides nothing: it carries out the commands on its standard input and reports on its standard
// output what the window system does. When its input closes (the program has ended, or has put
// the window away for good) it ends at once.
#include "base/Messages.h"
#include "components/MainWindowWidget.h"
#include "components/QtText.h"
#include "components/QuietConsole.h"
#include "components/WebEngineEnvironment.h"
#include "components/WebHtmlView.h"
#include "components/WindowChannel.h"
#include "components/WindowEndpoint.h"
#include "window/WindowVariant.h"

#include <QApplication>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#ifdef _WIN32
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define fdopen _fdopen
#define STDOUT_FILENO 1
#define STDERR_FILENO 2
#else
#include <unistd.h>
#endif
#ifdef __linux__
#include <csignal>
#include <sys/prctl.h>
#endif

using namespace pellamark;

namespace {

// The channel back to the program: the standard output as it was at start. The standard output
// itself then goes to the standard error, so that nothing else printed can garble a message.
FILE* g_reports = nullptr;

void openReportChannel() {
    const int channel = dup(STDOUT_FILENO);
    g_reports = channel >= 0 ? fdopen(channel, "w") : nullptr;
    dup2(STDERR_FILENO, STDOUT_FILENO);
}

void report(const WindowMessage& message) {
    if (!g_reports)
        return;
    const QByteArray line = encodeWindowMessage(message);
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), g_reports);
    std::fflush(g_reports);
}

// Reads the commands, one line each, and hands them to the GUI thread in order. The end of the
// input ends the process at once, whatever the GUI thread is doing.
class CommandReader : public QThread {
public:
    explicit CommandReader(std::function<void(const QByteArray&)> onLine)
        : m_onLine(std::move(onLine)) {}

protected:
    void run() override {
        std::string line;
        while (std::getline(std::cin, line)) {
            QByteArray bytes = QByteArray::fromStdString(line);
            QMetaObject::invokeMethod(
                qApp, [this, bytes = std::move(bytes)] { m_onLine(bytes); }, Qt::QueuedConnection);
        }
        std::fflush(nullptr);
        std::_Exit(0);
    }

private:
    std::function<void(const QByteArray&)> m_onLine;
};

} // namespace

int main(int argc, char* argv[]) {
#ifdef __linux__
    // Ends with the program even when the program could not close its input (kill -9).
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    openReportChannel();
    prepareWebEngineEnvironment();
    keepConsoleQuiet();
    // The page view draws without OpenGL (see prepareWebEngineEnvironment), so the window
    // system's GL library and its driver need not be loaded, which takes longer than putting
    // the window on screen. A choice of the user's stays.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication app(argc, argv);
    // The program's name: the web engine keeps its data under it.
    QApplication::setApplicationName(qtText(ProgramTitle));
    QGuiApplication::setDesktopFileName(qtText(DesktopFileName));
    const std::unique_ptr<QObject> companion = makeWindowCompanion();
    QApplication::setQuitOnLastWindowClosed(false);

    auto* view = new WebHtmlView; // owned by the window
    MainWindowWidget window(*view);
    QApplication::setWindowIcon(window.windowIcon());

    WindowEndpoint endpoint(window, *view, report);
    QObject::connect(view, &WebHtmlView::zoomChanged, &endpoint, &WindowEndpoint::reportZoom);
    QObject::connect(view, &WebHtmlView::renewWanted, &endpoint, &WindowEndpoint::askRenew);
    endpoint.start();
    CommandReader reader([&endpoint](const QByteArray& line) {
        const auto message = decodeWindowMessage(line);
        if (!message) {
            std::fprintf(stderr, "pellamark-window: unknown command: %s\n",
                         line.left(80).constData());
            return;
        }
        if (!endpoint.carryOut(*message)) {
            std::fprintf(stderr, "pellamark-window: the program speaks version %d, not %d\n",
                         message->numbers[0], WindowChannelVersion);
            std::_Exit(2);
        }
    });
    reader.start();
    return QApplication::exec();
}
