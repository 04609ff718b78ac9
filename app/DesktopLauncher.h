#pragma once

#include "app/HelperLauncher.h"

#include <QUrl>

#include <filesystem>
#include <functional>

namespace pellamark {

// Linux: the program's files go to the desktop's default handler for their type
// (QDesktopServices, which starts xdg-open directly, without a shell). They are looked for beside
// the program, then in the installed data folder.
class DesktopLauncher : public HelperLauncher {
public:
    using UrlOpener = std::function<bool(const QUrl&)>;

    static constexpr const char* HelpFileName = "pellamark.html";

    explicit DesktopLauncher(const QString& programFolder, UrlOpener opener = {});

    bool openHelp() override;
    bool openProgramFile(const QString& fileName) override;
    QString helpFilePath() const override;

private:
    QString pathOf(const QString& fileName) const;

    std::filesystem::path m_folder;
    UrlOpener m_open;
};

} // namespace pellamark
