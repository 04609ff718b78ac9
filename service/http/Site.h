#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellamark::service {

struct BoundAddress;

// An origin: scheme, host (lower case, IPv6 without brackets) and port (the scheme's default
// filled in).
struct Origin {
    std::string scheme;
    std::string host;
    int port = 0;

    bool operator==(const Origin&) const = default;
    // "https://favourites.example.org", the default port left out.
    std::string text() const;
};

// The origin of an absolute http or https address ("scheme://host[:port]", anything after the
// host part ignored, as in a Referer); nothing when it is not one.
std::optional<Origin> parseOrigin(std::string_view text);

// An address given with --public-origin: an origin with at most a "/" after it.
std::optional<Origin> parsePublicOrigin(std::string_view text);

// The names this service answers for and the pages it accepts forms from.
//
// A Host header names the service when its host part is one of the service's names (the
// --listen host, a --public-origin host, or localhost on a loopback or all-address listen), or
// is the address it listens on (any address when it listens on all of them, any loopback
// address when on loopback). A page on another site that has its own name point at this
// service (DNS rebinding) therefore sends a Host the service does not answer.
//
// A form is the service's own when its Origin (or, without one, its Referer) is a public origin,
// or plain http on the address the request was sent to (its Host) when that is not a public
// name.
class Site {
public:
    Site() = default;
    Site(const BoundAddress& bound, std::string_view listenHost, std::vector<Origin> publicOrigins);

    bool answersFor(std::string_view hostHeader) const;
    bool isOwnPage(std::string_view origin, std::string_view hostHeader) const;

private:
    std::vector<std::string> m_names;
    std::vector<Origin> m_publicOrigins;
    std::string m_boundIp;
    bool m_wildcard = false;
    bool m_loopback = false;
};

} // namespace pellamark::service
