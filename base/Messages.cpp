#include "base/Messages.h"

#include "base/BuildConfig.h"

namespace pellamark {

namespace {

std::string support() {
    return std::string(config::SupportAddress);
}

} // namespace

std::string unreachableMessage() {
    return std::string("The server is unreachable. ") +
           "If you are seeing this message when you start your computer, you will have " +
           "to remove Pellamark from your startup.  This can be done by clicking OK, then "
           "restarting " +
           "Pellamark, and then by clicking Options under the File menu. " +
           "If this not the case, please check your internet connection or firewall. If you "
           "are still have problemss, please contact " +
           support() + ".";
}

std::string loadErrorReport(std::int32_t number, const std::string& description) {
    return "An error occured.  Please report this to " + support() + ": " + std::to_string(number) +
           "\t" + description;
}

std::string connectErrorReport(std::int32_t number, const std::string& description) {
    return "An error occured in connecting with our server.  Please report this to " + support() +
           ": " + std::to_string(number) + "\t" + description;
}

std::string dialogErrorReport(std::int32_t number, const std::string& description) {
    return "An error has occured.  Please contact " + support() +
           " with this information in your email:" + std::to_string(number) + " " + description;
}

std::string helpUnavailableMessage(std::string_view helpFilePath) {
    return "Pellamark Help could not be opened. The help file should be at " +
           std::string(helpFilePath) + " and your desktop needs a program that opens web pages.";
}

std::string pageViewUnavailableMessage(std::string_view reason) {
    return "The page view could not be started (" + std::string(reason) + ").";
}

std::string windowUnavailableMessage(std::string_view reason, int endsInARow, bool trayAvailable) {
    std::string text;
    if (endsInARow <= 0)
        text = "Pellamark could not open its window: ";
    else if (endsInARow == 1)
        text = "Pellamark's window closed right after it opened: ";
    else
        text = "Pellamark's window has closed right after opening " + std::to_string(endsInARow) +
               " times in a row: ";
    text += std::string(reason) + ".";
    if (!trayAvailable)
        return text + " Pellamark ends now; start it again once that is put right.";
    if (endsInARow >= 3)
        return text + " Pellamark will not open it again until you ask for it: choose Restore in "
                      "the tray menu or click the tray icon.";
    return text + " Choose Restore in the tray menu to try again.";
}

std::string windowProgramMissingReason(std::string_view path) {
    return "the file " + std::string(path) + " is missing";
}

std::string windowProgramNotStartedReason(std::string_view path, std::string_view detail) {
    return "the file " + std::string(path) + " could not be started (" + std::string(detail) + ")";
}

namespace {
std::string withLastWords(std::string text, std::string_view lastWords) {
    if (lastWords.empty())
        return text;
    return text + ", saying \"" + std::string(lastWords) + "\"";
}
} // namespace

std::string windowExitedReason(int code, std::string_view lastWords) {
    return withLastWords("it ended with exit code " + std::to_string(code), lastWords);
}

std::string windowStoppedReason(int signal, std::string_view lastWords) {
    return withLastWords("it was stopped by signal " + std::to_string(signal), lastWords);
}

std::string serverErrorPageText(int status) {
    return "The favourites service cannot give out the page just now (it answered " +
           std::to_string(status) + ").";
}

std::string aboutVersion() {
    return "Version " + std::string(config::ShownVersion);
}

std::string profileNotSavedMessage(std::string_view reason) {
    return "Your profile could not be saved. " + std::string(reason) + ".";
}

std::string folderReadOnlyReason(std::string_view folder) {
    return "The folder " + std::string(folder) + " is read-only";
}

std::string fileReadOnlyReason(std::string_view file) {
    return "The file " + std::string(file) + " is read-only";
}

std::string diskFullReason(std::string_view folder) {
    return "The disk that holds the folder " + std::string(folder) + " is full";
}

std::string notAFolderReason(std::string_view path) {
    return std::string(path) + " is in the way of a folder: it is not a folder";
}

std::string missingFolderReason(std::string_view folder) {
    return "The folder " + std::string(folder) + " does not exist";
}

std::string notARegularFileReason(std::string_view path) {
    return std::string(path) + " is not an ordinary file";
}

std::string fileBusyReason(std::string_view file) {
    return "The file " + std::string(file) + " is kept busy by another program";
}

std::string fileFailureReason(std::string_view file, std::string_view detail) {
    return "The file " + std::string(file) + " could not be written (" + std::string(detail) + ")";
}

std::string storeCodeReason(std::int32_t code) {
    switch (code) {
    case 5:
        return "Access to the profile was denied";
    case 8:
        return "There is not enough memory";
    case 112:
        return "The disk is full";
    case 1460:
        return "The profile is kept busy by another program";
    default:
        return "The profile could not be written (error " + std::to_string(code) + ")";
    }
}

std::string aboutTitle() {
    return "About " + std::string(ProgramTitle);
}

} // namespace pellamark
