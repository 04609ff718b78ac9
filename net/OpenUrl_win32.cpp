#include "net/OpenUrl.h"

#include <windows.h>

#include <wininet.h>

#include <algorithm>
#include <cctype>
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

std::string fetch(const std::string& url, const FetchOptions& options) {
    // The URL opener also speaks ftp and file; only the web is wanted here.
    if (!startsWithIgnoreCase(url, "http://") && !startsWithIgnoreCase(url, "https://")) {
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
    InternetHandle request(
        InternetOpenUrlA(root.handle, url.c_str(), headers, static_cast<DWORD>(sizeof headers - 1),
                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (request.handle == nullptr) {
        return {};
    }

    std::string text;
    char buffer[2048];
    while (true) {
        DWORD read = 0;
        if (!InternetReadFile(request.handle, buffer, sizeof buffer, &read)) {
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

} // namespace

std::string OpenUrl(const std::string& url, const FetchOptions& options) {
    try {
        return fetch(url, options);
    } catch (...) {
        return {};
    }
}

} // namespace pellamark
