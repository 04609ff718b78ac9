// pellamark-window: the main window of the program and its page view, in a process of their own
// so that the program itself stays light while it waits in the tray. The program starts it; it
// decides nothing: it carries out the commands on its standard input and reports on its standard
// output what the window system does. When its input closes (the program has ended, or has put
// the window away for good) it ends at once.
#include "components/MainWindowWidget.h"
#include "components/QtText.h"
#include "components/QuietConsole.h"
#include "components/WebEngineEnvironment.h"
#include "components/WebHtmlView.h"
#include "components/WindowChannel.h"
#include "settings/Messages.h"

#ifdef PELLAMARK_TEST_WINDOW_JOURNAL
#include "components/TestWindowJournal.h"
#endif

#include <QApplication>
#include <QThread>
#include <QTimer>

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

using Kind = WindowMessage::Kind;

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

void carryOut(const WindowMessage& message, MainWindowWidget& window, WebHtmlView& view) {
    switch (message.kind) {
    case Kind::Hello:
        if (message.numbers[0] != WindowChannelVersion) {
            std::fprintf(stderr, "pellamark-window: the program speaks version %d, not %d\n",
                         message.numbers[0], WindowChannelVersion);
            std::_Exit(2);
        }
        break;
    case Kind::Show:
        window.showPlaced();
        break;
    case Kind::Hide:
        window.hide();
        break;
    case Kind::Minimise:
        window.showMinimisedState();
        break;
    case Kind::Restore:
        window.restoreNormalState();
        break;
    case Kind::Focus:
        window.focus();
        break;
    case Kind::Page:
        view.PageAddress(message.text);
        break;
    case Kind::ViewSize:
        window.setViewSize(message.numbers[0], message.numbers[1]);
        break;
    case Kind::Placement:
        window.restorePlacement(message.data);
        break;
    default:
        break; // reports are not for this side
    }
}

} // namespace

int main(int argc, char* argv[]) {
#ifdef __linux__
    // Ends with the program even when the program could not close its input (kill -9).
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    openReportChannel();
    prepareWebEngineEnvironment();
    keepConsoleQuiet();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    // The program's name: the web engine keeps its data under it.
    QApplication::setApplicationName(qtText(ProgramTitle));
    QGuiApplication::setDesktopFileName(qtText(DesktopFileName));
#ifdef PELLAMARK_TEST_WINDOW_JOURNAL
    TestWindowJournal journal;
#endif
    QApplication::setQuitOnLastWindowClosed(false);

    auto* view = new WebHtmlView; // owned by the window
    MainWindowWidget window(*view);
    // The window is there to show the page: the engine starts before the window is first shown,
    // as it would otherwise make the window system's window anew under the user's eyes.
    view->startEngine();
    QApplication::setWindowIcon(window.windowIcon());

    // Reports follow the window system's events once it has settled within one event loop turn.
    QTimer stateReport;
    stateReport.setSingleShot(true);
    stateReport.setInterval(0);
    QObject::connect(&stateReport, &QTimer::timeout, [&window] {
        const QSize client = window.clientSize();
        report({Kind::State, {}, {}, {window.state(), client.width(), client.height()}});
    });
    QTimer placeReport;
    placeReport.setSingleShot(true);
    placeReport.setInterval(0);
    QObject::connect(&placeReport, &QTimer::timeout, [&window] {
        if (window.isVisible())
            report({Kind::Placed, {}, window.placement(), {}});
    });
    QObject::connect(&window, &MainWindowWidget::changed, &stateReport,
                     qOverload<>(&QTimer::start));
    QObject::connect(&window, &MainWindowWidget::placed, &placeReport, qOverload<>(&QTimer::start));
    QObject::connect(&window, &MainWindowWidget::closeCommand, [] {
        report({Kind::Close, {}, {}, {}});
    });
    QObject::connect(&window, &MainWindowWidget::menuChosen, [](const QString& item) {
        report({Kind::Menu, item, {}, {}});
    });

    report({Kind::Hello, {}, {}, {WindowChannelVersion, 0, 0}});
    CommandReader reader([&window, view](const QByteArray& line) {
        if (const auto message = decodeWindowMessage(line))
            carryOut(*message, window, *view);
        else
            std::fprintf(stderr, "pellamark-window: unknown command: %s\n",
                         line.left(80).constData());
    });
    reader.start();
    return QApplication::exec();
}
