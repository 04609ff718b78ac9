#include "net/CheckServer.h"

#include <exception>
#include <optional>

#include "settings/BuildConfig.h"
#include "settings/Messages.h"
#include "settings/RunTimeError.h"
#include "settings/ServiceAddress.h"

namespace pellamark {

std::string probeAddress(std::string_view serviceHost) {
    const std::string_view host = serviceHost.empty() ? config::ServiceHost : serviceHost;
    return serviceOrigin(host) + "/app/apphtml.html";
}

bool CheckServer(ServerCheckHost& host, const UrlFetcher& fetch, std::string_view serviceHost) {
    // The message to show before giving up; none means the server answered.
    std::string message;
    try {
        std::optional<RunTimeError> libraryFailure;
        FetchOptions options;
        options.totalTimeout = CheckDeadline;
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
