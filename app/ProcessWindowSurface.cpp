#include "app/ProcessWindowSurface.h"

#include "base/Messages.h"
#include "components/QtText.h"
#include "system/ProgramFiles.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

namespace pellamark {

namespace {
// A window process told to end that has not gone after this long is killed.
constexpr int EndTimeoutMs = 3000;
// What is kept of its last line on standard error.
constexpr int LastWordsLimit = 300;
} // namespace

QString ProcessWindowSurface::defaultProgram(const QString& name) {
#ifdef Q_OS_WIN
    const std::string file = name.toStdString() + ".exe";
#else
    const std::string file = name.toStdString();
#endif
    return QString::fromStdString(
        findProgramFile(QCoreApplication::applicationDirPath().toStdString(), ProgramFile::Module,
                        file)
            .string());
}

ProcessWindowSurface::ProcessWindowSurface(QString program, QProcessEnvironment environment,
                                           int graceMs, QObject* parent)
    : ChannelWindowSurface(graceMs, parent), m_program(std::move(program)),
      m_environment(std::move(environment)) {}

ProcessWindowSurface::~ProcessWindowSurface() {
    end();
}

QString ProcessWindowSurface::startWindow() {
    const QString program =
        m_program.contains(QLatin1Char('/')) ? m_program : defaultProgram(m_program);
    if (!QFileInfo::exists(program))
        return qtText(windowProgramMissingReason(program.toStdString()));
    auto* process = new QProcess(this);
    process->setProgram(program);
    process->setProcessEnvironment(m_environment);
    connect(process, &QProcess::readyReadStandardOutput, this,
            [this, process] { readReports(process); });
    connect(process, &QProcess::readyReadStandardError, this,
            [this, process] { forwardErrors(process); });
    connect(process, &QProcess::finished, this, [this, process] {
        forwardErrors(process);
        if (process == m_process) {
            m_process = nullptr;
            windowEnded(endReason(*process));
        }
        process->deleteLater();
    });
    m_lastWords.clear();
    process->start();
    if (!process->waitForStarted()) {
        const QString detail = process->errorString();
        process->disconnect(this);
        process->deleteLater();
        return qtText(windowProgramNotStartedReason(program.toStdString(), detail.toStdString()));
    }
    m_process = process;
    return {};
}

void ProcessWindowSurface::sendLine(const QByteArray& line) {
    if (m_process)
        m_process->write(line);
}

void ProcessWindowSurface::flush() {
    if (m_process)
        m_process->waitForBytesWritten(1000);
}

void ProcessWindowSurface::endWindow() {
    QProcess* process = std::exchange(m_process, nullptr);
    if (!process)
        return;
    // Its input closing is what ends it; a process that hangs is killed.
    process->closeWriteChannel();
    QTimer::singleShot(EndTimeoutMs, process, [process] { process->kill(); });
}

void ProcessWindowSurface::readReports(QProcess* process) {
    while (process == m_process && process->canReadLine())
        lineReceived(process->readLine());
}

void ProcessWindowSurface::forwardErrors(QProcess* process) {
    const QByteArray text = process->readAllStandardError();
    if (text.isEmpty())
        return;
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stderr);
    std::fflush(stderr);
    for (const QByteArray& line : text.split('\n'))
        if (!line.trimmed().isEmpty())
            m_lastWords = line.trimmed().left(LastWordsLimit);
}

QString ProcessWindowSurface::endReason(const QProcess& process) const {
    const std::string lastWords = m_lastWords.toStdString();
    if (process.exitStatus() == QProcess::CrashExit)
        return qtText(windowStoppedReason(process.exitCode(), lastWords));
    return qtText(windowExitedReason(process.exitCode(), lastWords));
}

} // namespace pellamark
