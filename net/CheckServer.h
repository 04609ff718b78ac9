#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "net/OpenUrl.h"

namespace pellamark {

// What the start-up check needs from the program's windows.
class ServerCheckHost {
public:
    virtual ~ServerCheckHost() = default;
    // An OK-only message box without icon, titled with the program's title.
    virtual void MsgBox(const std::string& text) = 0;
    // Closes the main window for good, which ends the program.
    virtual void UnloadMain() = 0;
};

// However the service answers, the check gives up after this long: the program must not wait
// without a window for ever.
inline constexpr std::chrono::seconds CheckDeadline{60};

using UrlFetcher = std::function<std::string(const std::string& url, const FetchOptions&)>;

// Probes the service. Returns true when start-up may go on; false after it has told the user
// and unloaded the main window.
bool CheckServer(ServerCheckHost& host, const UrlFetcher& fetch = OpenUrl,
                 std::string_view serviceHost = {});

// The probe address on the given service host (the built-in one when empty): plain http for
// host[:port], the scheme named otherwise.
std::string probeAddress(std::string_view serviceHost = {});

} // namespace pellamark
