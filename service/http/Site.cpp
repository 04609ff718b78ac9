#include "service/http/Site.h"

#include "service/http/HttpServer.h"

#include <algorithm>
#include <charconv>

#include <arpa/inet.h>

namespace pellamark::service {

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (auto& c : out)
        c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return out;
}

struct HostPort {
    std::string host;
    std::optional<int> port;
};

// "host", "host:port", "[v6]" or "[v6]:port" as in a Host header or an address's authority.
std::optional<HostPort> parseAuthority(std::string_view text) {
    HostPort result;
    std::string_view rest;
    if (text.starts_with('[')) {
        const auto close = text.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        result.host = lower(text.substr(1, close - 1));
        rest = text.substr(close + 1);
    } else {
        const auto colon = text.find(':');
        result.host = lower(text.substr(0, colon));
        if (colon != std::string_view::npos)
            rest = text.substr(colon);
    }
    // A fully qualified name may end in a dot and still name the same host.
    if (result.host.size() > 1 && result.host.back() == '.')
        result.host.pop_back();
    if (result.host.empty() || result.host.find_first_of(" \t/\\@?#[]") != std::string::npos)
        return std::nullopt;
    if (!rest.empty()) {
        if (rest.front() != ':' || rest.size() == 1)
            return std::nullopt;
        int port = 0;
        const auto digits = rest.substr(1);
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
        if (ec != std::errc{} || end != digits.data() + digits.size() || port < 1 || port > 65535)
            return std::nullopt;
        result.port = port;
    }
    return result;
}

int defaultPort(std::string_view scheme) {
    return scheme == "https" ? 443 : 80;
}

enum class IpKind { None, V4, V6 };

// The address in its usual text form when text is an IP address, so that equal addresses
// compare equal.
std::optional<std::string> canonicalIp(const std::string& text, IpKind* kind = nullptr) {
    unsigned char bytes[16];
    char out[INET6_ADDRSTRLEN] = {};
    if (inet_pton(AF_INET, text.c_str(), bytes) == 1) {
        if (kind)
            *kind = IpKind::V4;
        inet_ntop(AF_INET, bytes, out, sizeof out);
        return std::string(out);
    }
    if (inet_pton(AF_INET6, text.c_str(), bytes) == 1) {
        if (kind)
            *kind = IpKind::V6;
        inet_ntop(AF_INET6, bytes, out, sizeof out);
        return std::string(out);
    }
    return std::nullopt;
}

bool isLoopbackIp(const std::string& canonical) {
    return canonical.starts_with("127.") || canonical == "::1" ||
           canonical.starts_with("::ffff:127.");
}

} // namespace

std::string Origin::text() const {
    const bool v6 = host.find(':') != std::string::npos;
    std::string out = scheme + "://" + (v6 ? "[" + host + "]" : host);
    if (port != defaultPort(scheme))
        out += ":" + std::to_string(port);
    return out;
}

std::optional<Origin> parseOrigin(std::string_view text) {
    const auto separator = text.find("://");
    if (separator == std::string_view::npos)
        return std::nullopt;
    Origin origin;
    origin.scheme = lower(text.substr(0, separator));
    if (origin.scheme != "http" && origin.scheme != "https")
        return std::nullopt;
    std::string_view authority = text.substr(separator + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    // Credentials before the host are never part of an origin.
    if (authority.find('@') != std::string_view::npos)
        return std::nullopt;
    const auto hostPort = parseAuthority(authority);
    if (!hostPort)
        return std::nullopt;
    origin.host = hostPort->host;
    origin.port = hostPort->port.value_or(defaultPort(origin.scheme));
    return origin;
}

std::optional<Origin> parsePublicOrigin(std::string_view text) {
    const auto separator = text.find("://");
    if (separator == std::string_view::npos)
        return std::nullopt;
    const auto pathStart = text.find_first_of("/?#", separator + 3);
    if (pathStart != std::string_view::npos && text.substr(pathStart) != "/")
        return std::nullopt;
    return parseOrigin(text);
}

Site::Site(const BoundAddress& bound, std::string_view listenHost,
           std::vector<Origin> publicOrigins)
    : m_publicOrigins(std::move(publicOrigins)), m_wildcard(bound.wildcard),
      m_loopback(bound.loopback) {
    if (const auto ip = canonicalIp(bound.ip))
        m_boundIp = *ip;
    std::string listenName = lower(listenHost);
    if (!listenName.empty() && listenName.back() == '.')
        listenName.pop_back();
    if (!listenName.empty() && !canonicalIp(listenName))
        m_names.push_back(listenName);
    if (m_loopback || m_wildcard || listenName == "localhost")
        m_names.push_back("localhost");
    for (const auto& origin : m_publicOrigins)
        m_names.push_back(origin.host);
}

bool Site::answersFor(std::string_view hostHeader) const {
    const auto hostPort = parseAuthority(hostHeader);
    if (!hostPort)
        return false;
    const std::string& host = hostPort->host;
    if (std::find(m_names.begin(), m_names.end(), host) != m_names.end())
        return true;
    const auto ip = canonicalIp(host);
    if (!ip)
        return false;
    return m_wildcard || *ip == m_boundIp || (m_loopback && isLoopbackIp(*ip));
}

bool Site::isOwnPage(std::string_view originText, std::string_view hostHeader) const {
    const auto origin = parseOrigin(originText);
    if (!origin)
        return false;
    if (std::find(m_publicOrigins.begin(), m_publicOrigins.end(), *origin) != m_publicOrigins.end())
        return true;
    // A public name is reached only as configured: the plain http page of that name is not the
    // service's (anyone on the network path could have written it).
    const auto host = parseAuthority(hostHeader);
    const bool publicName =
        host && std::any_of(m_publicOrigins.begin(), m_publicOrigins.end(),
                            [&](const Origin& o) { return o.host == host->host; });
    return host && !publicName && origin->scheme == "http" && origin->host == host->host &&
           origin->port == host->port.value_or(80);
}

} // namespace pellamark::service
