#include "app/ProcessWindowSurface.h"

#include "settings/ProgramFiles.h"

#include <QCoreApplication>
#include <QtGlobal>

namespace pellamark {

namespace {
using Kind = WindowMessage::Kind;
// A window process told to end that has not gone after this long is killed.
constexpr int EndTimeoutMs = 3000;
} // namespace

QString ProcessWindowSurface::defaultProgram(const char* name) {
#ifdef Q_OS_WIN
    const std::string file = std::string(name) + ".exe";
#else
    const std::string file = name;
#endif
    return QString::fromStdString(
        findProgramFile(QCoreApplication::applicationDirPath().toStdString(), ProgramFile::Module,
                        file)
            .string());
}

ProcessWindowSurface::ProcessWindowSurface(QString program, QProcessEnvironment environment,
                                           int graceMs, QObject* parent)
    : MainWindowSurface(parent), m_program(std::move(program)),
      m_environment(std::move(environment)) {
    m_grace.setSingleShot(true);
    m_grace.setInterval(graceMs);
    connect(&m_grace, &QTimer::timeout, this, [this] {
        if (!m_shown)
            endProcess();
    });
}

ProcessWindowSurface::~ProcessWindowSurface() {
    m_ended = true;
    endProcess();
}

bool ProcessWindowSurface::isRunning() const {
    return m_process != nullptr;
}

bool ProcessWindowSurface::ensureRunning() {
    if (m_process)
        return true;
    if (m_ended)
        return false;
    auto* process = new QProcess(this);
    process->setProgram(m_program);
    process->setProcessEnvironment(m_environment);
    // Its messages go where this program's go; its output is the channel.
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(process, &QProcess::readyReadStandardOutput, this, [this, process] {
        if (process == m_process)
            readReports();
    });
    connect(process, &QProcess::finished, this, [this, process] {
        if (process == m_process)
            processFinished();
        process->deleteLater();
    });
    process->start();
    if (!process->waitForStarted()) {
        qWarning("The window program %s could not be started: %s", qPrintable(m_program),
                 qPrintable(process->errorString()));
        process->deleteLater();
        return false;
    }
    m_process = process;
    send({Kind::Hello, {}, {}, {WindowChannelVersion, 0, 0}});
    // A new window comes back where the last one was, as large, showing what it showed.
    if (!m_placement.isEmpty())
        send({Kind::Placement, {}, m_placement, {}});
    if (!m_page.isEmpty())
        send({Kind::Page, m_page, {}, {}});
    if (m_viewSize.isValid())
        send({Kind::ViewSize, {}, {}, {m_viewSize.width(), m_viewSize.height(), 0}});
    return true;
}

void ProcessWindowSurface::send(Kind kind) {
    send({kind, {}, {}, {}});
}

void ProcessWindowSurface::send(const WindowMessage& message) {
    if (m_process)
        m_process->write(encodeWindowMessage(message));
}

void ProcessWindowSurface::show() {
    m_grace.stop();
    if (!ensureRunning())
        return;
    m_shown = true;
    send(Kind::Show);
}

void ProcessWindowSurface::hide() {
    m_shown = false;
    send(Kind::Hide);
    if (m_process)
        m_grace.start();
}

void ProcessWindowSurface::minimise() {
    if (ensureRunning())
        send(Kind::Minimise);
}

void ProcessWindowSurface::restoreNormal() {
    send(Kind::Restore);
}

void ProcessWindowSurface::focus() {
    send(Kind::Focus);
}

void ProcessWindowSurface::setPageAddress(const QString& address) {
    m_page = address;
    send({Kind::Page, address, {}, {}});
}

void ProcessWindowSurface::setViewSize(int width, int height) {
    m_viewSize = QSize(width, height);
    send({Kind::ViewSize, {}, {}, {width, height, 0}});
}

void ProcessWindowSurface::prepare() {
    // The window process starts its page view's engine at once, while the start-up check that
    // follows keeps this process waiting.
    if (!ensureRunning())
        return;
    m_process->waitForBytesWritten(1000);
    if (!m_shown)
        m_grace.start();
}

void ProcessWindowSurface::end() {
    m_ended = true;
    m_grace.stop();
    endProcess();
}

void ProcessWindowSurface::readReports() {
    while (m_process && m_process->canReadLine()) {
        const QByteArray line = m_process->readLine();
        if (const auto message = decodeWindowMessage(line))
            handle(*message);
        else
            qWarning("The window process sent what this program does not know: %s",
                     line.trimmed().left(80).constData());
    }
}

void ProcessWindowSurface::handle(const WindowMessage& message) {
    switch (message.kind) {
    case Kind::Hello:
        if (message.numbers[0] != WindowChannelVersion) {
            qWarning("The window program %s speaks version %d, not %d", qPrintable(m_program),
                     message.numbers[0], WindowChannelVersion);
            m_process->kill();
        }
        break;
    case Kind::State:
        m_state = message.numbers[0];
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
    default:
        break; // commands are not for this side
    }
}

void ProcessWindowSurface::processFinished() {
    m_process = nullptr;
    m_grace.stop();
    if (m_shown) {
        m_shown = false;
        Q_EMIT lost();
    }
}

void ProcessWindowSurface::endProcess() {
    QProcess* process = m_process;
    if (!process)
        return;
    m_process = nullptr;
    // Its input closing is what ends it; a process that hangs is killed.
    process->closeWriteChannel();
    QTimer::singleShot(EndTimeoutMs, process, [process] { process->kill(); });
}

} // namespace pellamark
