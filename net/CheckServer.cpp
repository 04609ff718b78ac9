#include "net/CheckServer.h"

#include <exception>
#include <optional>

#include "settings/BuildConfig.h"
#include "settings/RunTimeError.h"

namespace pellamark {

namespace {

std::string support() {
    return std::string(config::SupportAddress);
}

} // namespace

std::string probeAddress(std::string_view serviceHost) {
    const std::string_view host = serviceHost.empty() ? config::ServiceHost : serviceHost;
    return "http://" + std::string(host) + "/app/apphtml.html";
}

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

bool CheckServer(ServerCheckHost& host, const UrlFetcher& fetch, std::string_view serviceHost) {
    // The message to show before giving up; none means the server answered.
    std::string message;
    try {
        std::optional<RunTimeError> libraryFailure;
        FetchOptions options;
        options.onRunTimeError = [&libraryFailure](std::int32_t number,
                                                   const std::string& description) {
            libraryFailure.emplace(number, description);
        };
        const std::string page = fetch(probeAddress(serviceHost), options);
        if (libraryFailure) {
            message = connectErrorReport(libraryFailure->number(), libraryFailure->description());
        } else if (page.empty()) {
            message = unreachableMessage();
        } else {
            return true;
        }
    } catch (...) {
        const RunTimeError error = describeException(std::current_exception());
        message = loadErrorReport(error.number(), error.description());
    }
    // Failures of the message box or the unload itself go to the caller's own trap: repeating
    // them here would show a second box and unload twice.
    host.MsgBox(message);
    host.UnloadMain();
    return false;
}

} // namespace pellamark
