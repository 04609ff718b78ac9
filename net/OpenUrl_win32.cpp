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

// The kind of failure behind a request that could not be opened. A refused connection and an
// unreachable host are one error here, so only the name lookup and a disconnected system tell of
// a missing network.
FetchFailure classify(DWORD error) {
    switch (error) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_DISCONNECTED:
        return FetchFailure::NoNetwork;
    default:
        return FetchFailure::Other;
    }
}

// One fetch, shared by the caller and the thread that runs it. WinINet's time-outs bound each
// wait on its own, so a server that sends a byte now and then (or redirects slowly, hop after hop)
// would keep a synchronous fetch going for ever; and closing a handle from another thread, which
// Windows documents as the way to end a call that blocks on it, does not end every such call
// (Wine, for one, keeps InternetOpenUrlA waiting). So the caller waits for the thread only until
// the deadline, then closes what it can and leaves: the thread finishes on its own and frees the
// fetch when the last of the two lets go.
class SharedFetch {
public:
    SharedFetch(std::string url, const FetchOptions& options)
        : url(std::move(url)), connectTimeout(options.connectTimeout),
          idleTimeout(options.idleTimeout), maxBodyBytes(options.maxBodyBytes),
          maxRedirects(options.maxRedirects) {
        InitializeCriticalSection(&m_lock);
        done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    SharedFetch(const SharedFetch&) = delete;
    SharedFetch& operator=(const SharedFetch&) = delete;

    void retain() { InterlockedIncrement(&m_references); }
    void release() {
        if (InterlockedDecrement(&m_references) == 0) {
            delete this;
        }
    }

    // Takes a handle over; false (and the handle closed) once the caller has given up.
    bool adopt(HINTERNET handle, bool isRequest) {
        EnterCriticalSection(&m_lock);
        const bool late = m_abandoned;
        if (!late) {
            (isRequest ? m_request : m_root) = handle;
        }
        LeaveCriticalSection(&m_lock);
        if (late && handle != nullptr) {
            InternetCloseHandle(handle);
        }
        return !late;
    }

    bool abandoned() {
        EnterCriticalSection(&m_lock);
        const bool result = m_abandoned;
        LeaveCriticalSection(&m_lock);
        return result;
    }

    // The caller gives up: no result is taken from here on, and what blocks is closed.
    void abandon() {
        EnterCriticalSection(&m_lock);
        m_abandoned = true;
        LeaveCriticalSection(&m_lock);
        closeHandles();
    }

    // The request of one hop is done with (a redirect answer): closed unless the caller has.
    void closeRequest() { closeSlot(m_request); }

    // Each handle is closed once, by whichever side gets to it first; the request first, as it
    // is the child of the root.
    void closeHandles() {
        closeSlot(m_request);
        closeSlot(m_root);
    }

    const std::string url;
    const std::chrono::milliseconds connectTimeout;
    const std::chrono::milliseconds idleTimeout;
    const std::size_t maxBodyBytes;
    const long maxRedirects;
    HANDLE done = nullptr; // set when the fetch has ended

    // Read by the caller once `done` is set.
    std::string text;
    bool libraryFailed = false;
    DWORD libraryError = 0;
    std::optional<FetchFailure> failure;

private:
    void closeSlot(HINTERNET& slot) {
        EnterCriticalSection(&m_lock);
        HINTERNET handle = slot;
        slot = nullptr;
        LeaveCriticalSection(&m_lock);
        if (handle != nullptr) {
            InternetCloseHandle(handle);
        }
    }

    ~SharedFetch() {
        closeHandles();
        if (done != nullptr) {
            CloseHandle(done);
        }
        DeleteCriticalSection(&m_lock);
    }

    LONG m_references = 1;
    CRITICAL_SECTION m_lock;
    bool m_abandoned = false;
    HINTERNET m_root = nullptr;
    HINTERNET m_request = nullptr;
};

// A transfer broken off half-way (or given up by the caller) is a failure, not a shorter page.
std::string readBody(HINTERNET request, SharedFetch& shared) {
    std::string text;
    char buffer[2048];
    while (!shared.abandoned()) {
        DWORD read = 0;
        if (!InternetReadFile(request, buffer, sizeof buffer, &read)) {
            shared.failure = FetchFailure::Other;
            return {};
        }
        if (read == 0) {
            return text;
        }
        const std::size_t room = shared.maxBodyBytes - text.size();
        if (read >= room) {
            text.append(buffer, room);
            return text;
        }
        text.append(buffer, read);
    }
    return {};
}

// The fetch itself, every hop of it, on one thread.
std::string fetch(SharedFetch& shared) {
    // Preconfigured access uses the system's proxy settings; no dial-up is ever requested.
    HINTERNET root = InternetOpenA("VB OpenUrl", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (root == nullptr) {
        shared.libraryFailed = true;
        shared.libraryError = GetLastError();
        return {};
    }
    if (!shared.adopt(root, false)) {
        return {};
    }

    DWORD connectTimeout = clampedMilliseconds(shared.connectTimeout);
    DWORD receiveTimeout = clampedMilliseconds(shared.idleTimeout);
    InternetSetOptionA(root, INTERNET_OPTION_CONNECT_TIMEOUT, &connectTimeout,
                       sizeof connectTimeout);
    InternetSetOptionA(root, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeout,
                       sizeof receiveTimeout);

    // Reload bypasses the local cache; the request headers ask proxies on the way to do the same.
    static const char headers[] = "Cache-Control: no-cache\r\nPragma: no-cache\r\n";
    std::string address = shared.url;
    for (long redirects = 0;; ++redirects) {
        HINTERNET request = InternetOpenUrlA(
            root, address.c_str(), headers, static_cast<DWORD>(sizeof headers - 1),
            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT,
            0);
        if (request == nullptr) {
            shared.failure = classify(GetLastError());
            return {};
        }
        if (!shared.adopt(request, true)) {
            return {};
        }
        const std::optional<std::string> location = redirectTarget(request);
        if (!location) {
            return readBody(request, shared);
        }
        shared.closeRequest();
        // A redirect that may not be followed leaves no page: the redirect answer isn't one.
        if (shared.maxRedirects >= 0 && redirects >= shared.maxRedirects) {
            return {};
        }
        address = resolve(address, *location);
        if (!isWebAddress(address)) {
            return {};
        }
    }
}

DWORD WINAPI runFetch(void* argument) {
    auto* shared = static_cast<SharedFetch*>(argument);
    try {
        shared->text = fetch(*shared);
    } catch (...) {
        shared->text.clear();
    }
    // The answer first: closing a request whose body was cut off at the cap may take a while (a
    // library that reads the rest to keep the connection), and the caller need not wait for it.
    SetEvent(shared->done);
    shared->closeHandles();
    shared->release();
    return 0;
}

} // namespace

std::string OpenUrl(const std::string& url, const FetchOptions& options) {
    try {
        // The URL opener also speaks ftp and file; only the web is wanted here.
        if (!isWebAddress(url)) {
            return {};
        }
        auto* shared = new SharedFetch(url, options);
        bool finished = false;
        shared->retain(); // the thread's
        HANDLE thread = shared->done != nullptr
                            ? CreateThread(nullptr, 0, &runFetch, shared, 0, nullptr)
                            : nullptr;
        if (thread == nullptr) {
            // No thread to be had: the fetch runs here, bounded by WinINet's time-outs alone.
            shared->release();
            shared->text = fetch(*shared);
            shared->closeHandles();
            finished = true;
        } else {
            CloseHandle(thread);
            // One deadline for the whole fetch, every redirect hop included.
            finished =
                WaitForSingleObject(shared->done, clampedMilliseconds(options.totalTimeout)) ==
                WAIT_OBJECT_0;
            if (!finished) {
                shared->abandon();
            }
        }
        std::string text;
        bool libraryFailed = false;
        DWORD libraryError = 0;
        std::optional<FetchFailure> failure = FetchFailure::Other; // the deadline ran out
        if (finished) {
            text = std::move(shared->text);
            libraryFailed = shared->libraryFailed;
            libraryError = shared->libraryError;
            failure = shared->failure;
        }
        shared->release();
        if (libraryFailed && options.onRunTimeError) {
            options.onRunTimeError(static_cast<std::int32_t>(libraryError),
                                   "The network library could not be initialised");
        } else if (failure && options.onFailure) {
            options.onFailure(*failure);
        }
        return text;
    } catch (...) {
        return {};
    }
}

} // namespace pellamark
