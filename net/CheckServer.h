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

// At logon the program may start before the network is up. When the probe fails for want of a
// network (or the system says it has none), the check looks again now and then until the network
// answers or this bound has passed, then checks once more before it tells the user.
struct NetworkWait {
    std::chrono::milliseconds bound{60'000};
    // Between looks.
    std::chrono::milliseconds interval{1'000};
    // Waits the given time; the calling thread sleeps when empty. Termination requests end the
    // process during start-up, so the sleep needs no way out.
    std::function<void(std::chrono::milliseconds)> pause;
    // The system's own word, where it has one: true when it knows there is no connectivity.
    std::function<bool()> systemOffline;
};

// Probes the service. Returns true when start-up may go on; false after it has told the user
// and unloaded the main window.
bool CheckServer(ServerCheckHost& host, const UrlFetcher& fetch = OpenUrl,
                 std::string_view serviceHost = {}, const NetworkWait& wait = {});

// The probe address on the given service host (the built-in one when empty): plain http for
// host[:port], the scheme named otherwise.
std::string probeAddress(std::string_view serviceHost = {});

} // namespace pellamark
