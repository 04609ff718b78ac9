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

std::string aboutTitle() {
    return "About " + std::string(ProgramTitle);
}

} // namespace pellamark
