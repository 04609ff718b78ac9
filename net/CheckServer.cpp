#include "net/CheckServer.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <thread>

#include "base/BuildConfig.h"
#include "base/Messages.h"
#include "base/RunTimeError.h"
#include "base/ServiceAddress.h"

namespace pellamark {

std::string probeAddress(std::string_view serviceHost) {
    const std::string_view host = serviceHost.empty() ? config::ServiceHost : serviceHost;
    return serviceOrigin(host) + "/app/apphtml.html";
}

namespace {

using Clock = std::chrono::steady_clock;

struct Probe {
    std::string page;
    std::optional<RunTimeError> libraryFailure;
    std::optional<FetchFailure> failure;
};

Probe probe(const UrlFetcher& fetch, const std::string& address,
            std::chrono::milliseconds deadline) {
    Probe result;
    FetchOptions options;
    options.totalTimeout = deadline;
    options.onRunTimeError = [&result](std::int32_t number, const std::string& description) {
        result.libraryFailure.emplace(number, description);
    };
    options.onFailure = [&result](FetchFailure failure) { result.failure = failure; };
    result.page = fetch(address, options);
    return result;
}

bool answered(const Probe& probe) {
    return !probe.libraryFailure && !probe.page.empty();
}

bool wantsNetwork(const Probe& probe, const NetworkWait& wait) {
    if (answered(probe) || probe.libraryFailure)
        return false;
    // A refusal or a page, even an empty one, comes from a machine that was reached.
    return probe.failure == FetchFailure::NoNetwork ||
           (probe.failure == FetchFailure::Other && wait.systemOffline && wait.systemOffline());
}

// Looks again until the network answers or the bound has passed; then the last look decides.
Probe waitForNetwork(const UrlFetcher& fetch, const std::string& address, const NetworkWait& wait,
                     Probe first) {
    const auto deadline = Clock::now() + wait.bound;
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= std::chrono::milliseconds::zero())
            break;
        const auto pause = std::min(wait.interval, left);
        if (wait.pause)
            wait.pause(pause);
        else
            std::this_thread::sleep_for(pause);
        // A look during the wait may not outlast it by much (a name lookup that hangs, say).
        const auto lookDeadline = std::clamp(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()),
            std::chrono::milliseconds(1'000), std::chrono::milliseconds(CheckDeadline));
        first = probe(fetch, address, lookDeadline);
        if (!wantsNetwork(first, wait))
            return first; // the network is there: this look is the check
    }
    return probe(fetch, address, CheckDeadline);
}

} // namespace

bool CheckServer(ServerCheckHost& host, const UrlFetcher& fetch, std::string_view serviceHost,
                 const NetworkWait& wait) {
    // The message to show before giving up; none means the server answered.
    std::string message;
    try {
        const std::string address = probeAddress(serviceHost);
        Probe result = probe(fetch, address, CheckDeadline);
        if (wantsNetwork(result, wait))
            result = waitForNetwork(fetch, address, wait, std::move(result));
        if (result.libraryFailure) {
            message = connectErrorReport(result.libraryFailure->number(),
                                         result.libraryFailure->description());
        } else if (result.page.empty()) {
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
