#pragma once

#include <QString>

#include <memory>

namespace pellamark {

// Starts the helper programs the program hands its files to: the help viewer and the editor for
// the files that ship with the program. Never through a shell.
class HelperLauncher {
public:
    virtual ~HelperLauncher() = default;
    // The Help command; false when the viewer could not be started on the help file.
    virtual bool openHelp() = 0;
    // Opens a file that ships with the program (see system/ProgramFiles.h); false when that
    // could not be started.
    virtual bool openProgramFile(const QString& fileName) = 0;
    // Where the help file is expected, for the message shown when it cannot be opened.
    virtual QString helpFilePath() const = 0;
};

// The launcher of this platform for a program living in `programFolder`.
std::unique_ptr<HelperLauncher> makeHelperLauncher(const QString& programFolder);

} // namespace pellamark
