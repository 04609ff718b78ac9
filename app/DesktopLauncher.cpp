#include "app/DesktopLauncher.h"

#include "system/ProgramFiles.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

namespace pellamark {

DesktopLauncher::DesktopLauncher(const QString& programFolder, UrlOpener opener)
    : m_folder(programFolder.toStdString()), m_open(std::move(opener)) {
    if (!m_open)
        m_open = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

bool DesktopLauncher::openHelp() {
    return openProgramFile(QString::fromLatin1(HelpFileName));
}

QString DesktopLauncher::pathOf(const QString& fileName) const {
    return QString::fromStdString(
        findProgramFile(m_folder, ProgramFile::Data, fileName.toStdString()).string());
}

bool DesktopLauncher::openProgramFile(const QString& fileName) {
    const QString path = pathOf(fileName);
    // The desktop handler would only report a missing file in a window of its own, if at all.
    if (!QFileInfo(path).isFile())
        return false;
    return m_open(QUrl::fromLocalFile(path));
}

QString DesktopLauncher::helpFilePath() const {
    return QDir::toNativeSeparators(pathOf(QString::fromLatin1(HelpFileName)));
}

} // namespace pellamark
