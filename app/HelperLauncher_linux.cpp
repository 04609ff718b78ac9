#include "app/DesktopLauncher.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

namespace pellamark {

DesktopLauncher::DesktopLauncher(QString programFolder, UrlOpener opener)
    : m_folder(std::move(programFolder)), m_open(std::move(opener)) {
    if (!m_open)
        m_open = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

bool DesktopLauncher::openHelp() {
    return openFileBesideProgram(QString::fromLatin1(HelpFileName));
}

bool DesktopLauncher::openFileBesideProgram(const QString& fileName) {
    const QString path = QDir(m_folder).filePath(fileName);
    // The desktop handler would only report a missing file in a window of its own, if at all.
    if (!QFileInfo(path).isFile())
        return false;
    return m_open(QUrl::fromLocalFile(path));
}

QString DesktopLauncher::helpFilePath() const {
    return QDir::toNativeSeparators(QDir(m_folder).filePath(QString::fromLatin1(HelpFileName)));
}

std::unique_ptr<HelperLauncher> makeHelperLauncher(const QString& programFolder) {
    return std::make_unique<DesktopLauncher>(programFolder);
}

} // namespace pellamark
