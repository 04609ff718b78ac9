#include "components/QuietConsole.h"

#include <QLoggingCategory>
#include <QString>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace pellamark {

namespace {

// What the web engine says whenever it draws without OpenGL, as the page view has it do: it
// asks for a shared GL context the view has no use for, then finds none.
constexpr std::array ExpectedWarnings = {
    "Qt WebEngine seems to be initialized from a plugin.",
    "No suitable graphics backend found",
};

QtMessageHandler g_next = nullptr;
bool g_installed = false;

void dropExpected(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg)
        for (const char* expected : ExpectedWarnings)
            if (message.startsWith(QLatin1String(expected)))
                return;
    if (g_next) {
        g_next(type, context, message);
        return;
    }
    const QByteArray line = qFormatLogMessage(type, context, message).toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

void keepConsoleQuiet() {
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    if (!std::exchange(g_installed, true))
        g_next = qInstallMessageHandler(dropExpected);
}

} // namespace pellamark
