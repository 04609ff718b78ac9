#pragma once

#include "app/MainWindowSurface.h"
#include "components/WindowChannel.h"

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

namespace pellamark {

// The main window in the window process (window/): started when the window is needed, ended
// when it has been put away for the grace period, started again with its last place and size.
// The process's standard input and output are the channel; the process ends on its own when its
// input closes, so it never outlives the program.
class ProcessWindowSurface : public MainWindowSurface {
    Q_OBJECT
public:
    static constexpr int DefaultGraceMs = 10000;

    ProcessWindowSurface(QString program, QProcessEnvironment environment,
                         int graceMs = DefaultGraceMs, QObject* parent = nullptr);
    ~ProcessWindowSurface() override;

    void show() override;
    void hide() override;
    void minimise() override;
    void restoreNormal() override;
    void focus() override;
    void setPageAddress(const QString& address) override;
    void setViewSize(int width, int height) override;
    void prepare() override;
    void end() override;

    bool isShown() const override { return m_shown; }
    int state() const override { return m_state; }
    QSize clientSize() const override { return m_client; }

    // Whether a window process runs now (tests, benchmarks).
    bool isRunning() const;

    // The path of the window program that ships with this one (its name without ".exe").
    static QString defaultProgram(const char* name = "pellamark-window");

private:
    bool ensureRunning();
    void send(WindowMessage::Kind kind);
    void send(const WindowMessage& message);
    void readReports();
    void handle(const WindowMessage& message);
    void processFinished();
    void endProcess();

    QString m_program;
    QProcessEnvironment m_environment;
    QProcess* m_process = nullptr;
    QTimer m_grace;

    bool m_shown = false;
    bool m_ended = false;
    int m_state = 0;
    QSize m_client;
    // Kept across processes: what a new window must show and where.
    QString m_page;
    QSize m_viewSize;
    QByteArray m_placement;
};

} // namespace pellamark
