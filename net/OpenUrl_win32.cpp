#include "net/OpenUrl.h"

#include <windows.h>

#include <wininet.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>

namespace pellamark {

namespace {

struct InternetHandle {
    HINTERNET handle = nullptr;
    explicit InternetHandle(HINTERNET h) : handle(h) {}
    ~InternetHandle() {
        if (handle != nullptr) {
            InternetCloseHandle(handle);
        }
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
};

bool startsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

DWORD clampedMilliseconds(std::chrono::milliseconds value) {
    const auto count = value.count();
    if (count <= 0) {
        return 1;
    }
    return count > 0x7fffffff ? 0x7fffffffu : static_cast<DWORD>(count);
}

bool isWebAddress(std::string_view url) {
    return startsWithIgnoreCase(url, "http://") || startsWithIgnoreCase(url, "https://");
}

// Where a redirect answer sends the client; nothing for any other answer. WinINet's own
// following knows neither the bound nor the rule that only web addresses are followed.
std::optional<std::string> redirectTarget(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr)) {
        return std::nullopt;
    }
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) {
        return std::nullopt;
    }
    std::string location(256, '\0');
    for (;;) {
        size = static_cast<DWORD>(location.size());
        if (HttpQueryInfoA(request, HTTP_QUERY_LOCATION, location.data(), &size, nullptr)) {
            location.resize(size);
            return location;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            return std::nullopt; // no Location: the answer is the page
        }
        location.resize(size + 1);
    }
}

// The absolute address of `location` as seen from `base`; empty when it can't be made.
std::string resolve(const std::string& base, const std::string& location) {
    std::string combined(base.size() + location.size() + 64, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD size = static_cast<DWORD>(combined.size());
        if (InternetCombineUrlA(base.c_str(), location.c_str(), combined.data(), &size, 0)) {
            combined.resize(size);
            return combined;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            break;
        }
        combined.resize(size + 1);
    }
    return {};
}

std::string readBody(HINTERNET request, const FetchOptions& options) {
    std::string text;
    char buffer[2048];
    while (true) {
        DWORD read = 0;
        if (!InternetReadFile(request, buffer, sizeof buffer, &read)) {
            // A transfer broken off half-way is a failure, not a shorter page.
            return {};
        }
        if (read == 0) {
            break;
        }
        const std::size_t room = options.maxBodyBytes - text.size();
        if (read >= room) {
            text.append(buffer, room);
            break;
        }
        text.append(buffer, read);
    }
    return text;
}

std::string fetch(const std::string& url, const FetchOptions& options) {
    // The URL opener also speaks ftp and file; only the web is wanted here.
    if (!isWebAddress(url)) {
        return {};
    }

    // Preconfigured access uses the system's proxy settings; no dial-up is ever requested.
    InternetHandle root(
        InternetOpenA("VB OpenUrl", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (root.handle == nullptr) {
        const DWORD error = GetLastError();
        if (options.onRunTimeError) {
            options.onRunTimeError(static_cast<std::int32_t>(error),
                                   "The network library could not be initialised");
        }
        return {};
    }

    DWORD connectTimeout = clampedMilliseconds(options.connectTimeout);
    DWORD receiveTimeout = clampedMilliseconds(options.idleTimeout);
    InternetSetOptionA(root.handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connectTimeout,
                       sizeof connectTimeout);
    InternetSetOptionA(root.handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeout,
                       sizeof receiveTimeout);

    // Reload bypasses the local cache; the request headers ask proxies on the way to do the same.
    static const char headers[] = "Cache-Control: no-cache\r\nPragma: no-cache\r\n";
    std::string address = url;
    for (long redirects = 0;; ++redirects) {
        InternetHandle request(InternetOpenUrlA(
            root.handle, address.c_str(), headers, static_cast<DWORD>(sizeof headers - 1),
            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT,
            0));
        if (request.handle == nullptr) {
            return {};
        }
        const std::optional<std::string> location = redirectTarget(request.handle);
        if (!location) {
            return readBody(request.handle, options);
        }
        // A redirect that may not be followed leaves no page: the redirect answer isn't one.
        if (options.maxRedirects >= 0 && redirects >= options.maxRedirects) {
            return {};
        }
        address = resolve(address, *location);
        if (!isWebAddress(address)) {
            return {};
        }
    }
}

} // namespace

std::string OpenUrl(const std::string& url, const FetchOptions& options) {
    try {
        return fetch(url, options);
    } catch (...) {
        return {};
    }
}

} // namespace pellamark
