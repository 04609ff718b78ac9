#pragma once

#include "app/ChannelWindowSurface.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>

namespace pellamark {

// The main window in the window process (window/). The process's standard input and output are
// the channel; the process ends on its own when its input closes, so it never outlives the
// program. What it writes to its standard error goes on to this program's, and its last line
// says why, should it end by itself.
class ProcessWindowSurface : public ChannelWindowSurface {
    Q_OBJECT
public:
    // `program` is the window program's path, or the name (without ".exe") of the one that ships
    // with this program, which is looked for anew at every start: a file put back since the
    // last start is found.
    ProcessWindowSurface(QString program, QProcessEnvironment environment,
                         int graceMs = DefaultGraceMs, QObject* parent = nullptr);
    ~ProcessWindowSurface() override;

    // The path of the window program that ships with this one (its name without ".exe").
    static QString defaultProgram(const QString& name = QStringLiteral("pellamark-window"));

protected:
    QString startWindow() override;
    void sendLine(const QByteArray& line) override;
    void endWindow() override;
    void flush() override;

private:
    void readReports(QProcess* process);
    void forwardErrors(QProcess* process);
    QString endReason(const QProcess& process) const;

    QString m_program;
    QProcessEnvironment m_environment;
    QProcess* m_process = nullptr;
    QByteArray m_lastWords;
};

} // namespace pellamark
