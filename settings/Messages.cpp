#include "settings/Messages.h"

#include "settings/BuildConfig.h"

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
