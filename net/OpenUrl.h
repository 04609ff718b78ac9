#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace pellamark {

// Why a fetch brought back no page, as far as the network library can tell.
enum class FetchFailure {
    // No network to speak of yet: the name could not be looked up, or the network or the host
    // cannot be reached (no route, interface down).
    NoNetwork,
    // The server's machine was reached and turned the connection down.
    Refused,
    // Anything else: a time-out, a transfer broken off, a protocol error.
    Other,
};

struct FetchOptions {
    // Time allowed to establish the connection.
    std::chrono::milliseconds connectTimeout{60'000};
    // Give up when no data arrives for this long.
    std::chrono::milliseconds idleTimeout{30'000};
    // Give up when the whole fetch (connection, redirects, body) takes longer than this, however
    // steadily a server trickles its answer.
    std::chrono::milliseconds totalTimeout{60'000};
    // Bytes of body kept at most; the transfer stops there and what was read is returned.
    std::size_t maxBodyBytes = 16u * 1024u * 1024u;
    // Redirects followed at most (http and https only).
    long maxRedirects = 10;
    // Certificates (PEM file) that https servers are verified against instead of the system's.
    // Empty: the system's. Verification itself is never switched off. Ignored on Windows, where the
    // system's certificate store is the only one.
    std::string caFile;
    // Called when the network library itself fails (cannot be loaded or initialised), the one
    // failure of a fetch that is a run-time error rather than an empty answer.
    std::function<void(std::int32_t number, const std::string& description)> onRunTimeError;
    // Called when the transfer failed and the empty text is returned for that reason, with the
    // kind of failure. Not called for an empty page a server did send, nor for the failures
    // reported through onRunTimeError.
    std::function<void(FetchFailure failure)> onFailure;
};

// HTTP GET of `url`: the whole body as text, or the empty text on every failure. Never throws.
std::string OpenUrl(const std::string& url, const FetchOptions& options = {});

} // namespace pellamark
