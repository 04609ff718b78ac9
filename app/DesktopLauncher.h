#pragma once

#include "app/HelperLauncher.h"

#include <QUrl>

#include <functional>

namespace pellamark {

// Linux: files beside the program go to the desktop's default handler for their type
// (QDesktopServices, which starts xdg-open directly, without a shell).
class DesktopLauncher : public HelperLauncher {
public:
    using UrlOpener = std::function<bool(const QUrl&)>;

    static constexpr const char* HelpFileName = "pellamark.html";

    explicit DesktopLauncher(QString programFolder, UrlOpener opener = {});

    bool openHelp() override;
    bool openFileBesideProgram(const QString& fileName) override;
    QString helpFilePath() const override;

private:
    QString m_folder;
    UrlOpener m_open;
};

} // namespace pellamark
