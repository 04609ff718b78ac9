#include "base/ServiceAddress.h"

#include <cctype>

namespace pellamark {

namespace {

// The scheme the text begins with ("https" for "HTTPS://x"), lower-cased; empty when none.
std::string schemeOf(std::string_view text) {
    const auto end = text.find("://");
    if (end == std::string_view::npos || end == 0) {
        return {};
    }
    std::string scheme;
    for (char c : text.substr(0, end)) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u) && c != '+' && c != '-' && c != '.') {
            return {};
        }
        scheme.push_back(static_cast<char>(std::tolower(u)));
    }
    return std::isalpha(static_cast<unsigned char>(scheme.front())) ? scheme : std::string();
}

} // namespace

std::string serviceOrigin(std::string_view configuredHost) {
    const std::string scheme = schemeOf(configuredHost);
    std::string origin = scheme.empty()
                             ? "http://" + std::string(configuredHost)
                             : scheme + std::string(configuredHost.substr(scheme.size()));
    while (!origin.empty() && origin.back() == '/') {
        origin.pop_back();
    }
    return origin;
}

} // namespace pellamark
