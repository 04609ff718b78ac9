// Windows: the help viewer and the text editor are started from a command line, with a normal,
// activated window, exactly as the program always has.
#include "app/HelperLauncher.h"

#include <QDir>

#include <windows.h>

namespace pellamark {

namespace {

// The folder is not quoted: the viewer and the editor take the rest of the line as one path.
bool runCommandLine(const QString& commandLine) {
    const QByteArray line = commandLine.toLocal8Bit();
    return WinExec(line.constData(), SW_SHOWNORMAL) > 31;
}

class CommandLineLauncher : public HelperLauncher {
public:
    explicit CommandLineLauncher(QString folder) : m_folder(QDir::toNativeSeparators(folder)) {}

    bool openHelp() override {
        return runCommandLine(QStringLiteral("hh.exe ") + m_folder +
                              QStringLiteral("\\pellamark.chm"));
    }
    bool openProgramFile(const QString& fileName) override {
        return runCommandLine(QStringLiteral("notepad.exe ") + m_folder + QLatin1Char('\\') +
                              fileName);
    }
    QString helpFilePath() const override { return m_folder + QStringLiteral("\\pellamark.chm"); }

private:
    QString m_folder;
};

} // namespace

std::unique_ptr<HelperLauncher> makeHelperLauncher(const QString& programFolder) {
    return std::make_unique<CommandLineLauncher>(programFolder);
}

} // namespace pellamark
