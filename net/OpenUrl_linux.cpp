#include "net/OpenUrl.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include <curl/curl.h>

namespace pellamark {

namespace {

using Clock = std::chrono::steady_clock;

// Thrown inside this file only, for failures of the library itself (as opposed to the network).
struct LibraryFailure {
    CURLcode code;
};

CURLcode globalInit() {
    static std::once_flag once;
    static CURLcode result = CURLE_OK;
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    return result;
}

struct Transfer {
    std::string body;
    std::size_t maxBodyBytes = 0;
    bool capped = false;
    bool outOfMemory = false;
    // The idle clock runs only while a connection is up: establishing one has its own time-out.
    bool connected = false;
    Clock::time_point lastActivity = Clock::now();
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    transfer->lastActivity = Clock::now();
    try {
        const size_t room = transfer->maxBodyBytes - transfer->body.size();
        if (bytes > room) {
            transfer->body.append(data, room);
            transfer->capped = true;
            return 0; // stops the transfer
        }
        transfer->body.append(data, bytes);
        return bytes;
    } catch (...) {
        transfer->outOfMemory = true;
        return 0;
    }
}

size_t onHeader(char*, size_t size, size_t count, void* user) {
    static_cast<Transfer*>(user)->lastActivity = Clock::now();
    return size * count;
}

// Runs once a connection is established or reused, before each request (every redirect too).
int onConnected(void* user, char*, char*, int, int) {
    auto* transfer = static_cast<Transfer*>(user);
    transfer->connected = true;
    transfer->lastActivity = Clock::now();
    return CURL_PREREQFUNC_OK;
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// The kind of failure behind a transfer that ended with `code`.
FetchFailure classify(CURL* handle, CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return FetchFailure::NoNetwork;
    case CURLE_COULDNT_CONNECT: {
        long number = 0;
        if (curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &number) != CURLE_OK)
            return FetchFailure::Other;
        switch (number) {
        case ECONNREFUSED:
            return FetchFailure::Refused;
        case ENETUNREACH:
        case ENETDOWN:
        case EHOSTUNREACH:
        case EADDRNOTAVAIL:
            return FetchFailure::NoNetwork;
        default:
            return FetchFailure::Other;
        }
    }
    default:
        return FetchFailure::Other;
    }
}

template <typename T> void set(CURL* handle, CURLoption option, T value) {
    const CURLcode code = curl_easy_setopt(handle, option, value);
    if (code != CURLE_OK) {
        throw LibraryFailure{code};
    }
}

// Returns true when the transfer ended on its own (its result is then in `result`), false when
// the idle time-out or the overall deadline ran out first.
bool runWithinLimits(CURLM* multi, CURL* easy, Transfer& transfer, const FetchOptions& options,
                     CURLcode& result) {
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
        throw LibraryFailure{CURLE_FAILED_INIT};
    }
    const auto deadline = Clock::now() + options.totalTimeout;
    const auto idleTimeout = options.idleTimeout;
    // The multi handle is cleaned up by the caller, which also detaches the easy handle.
    int running = 1;
    while (true) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            return true;
        }
        if (running == 0) {
            break;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            return false;
        }
        auto wait = std::min(std::chrono::milliseconds(1000),
                             std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
        if (transfer.connected) {
            const auto idle =
                std::chrono::duration_cast<std::chrono::milliseconds>(now - transfer.lastActivity);
            if (idle >= idleTimeout) {
                return false;
            }
            wait = std::min(wait, idleTimeout - idle);
        } else {
            // Connecting: look again soon so the idle clock starts close to the connection.
            wait = std::min(wait, std::max(idleTimeout, std::chrono::milliseconds(1)));
        }
        if (curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait.count()), nullptr) !=
            CURLM_OK) {
            result = CURLE_FAILED_INIT;
            return true;
        }
    }
    int remaining = 0;
    result = CURLE_RECV_ERROR;
    while (CURLMsg* message = curl_multi_info_read(multi, &remaining)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
            result = message->data.result;
        }
    }
    return true;
}

std::string fetch(const std::string& url, const FetchOptions& options,
                  std::optional<FetchFailure>& failure) {
    if (const CURLcode code = globalInit(); code != CURLE_OK) {
        throw LibraryFailure{code};
    }
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi) {
        throw LibraryFailure{CURLE_FAILED_INIT};
    }

    std::unique_ptr<curl_slist, ListDeleter> headers;
    for (const char* header : {"Cache-Control: no-cache", "Pragma: no-cache"}) {
        curl_slist* extended = curl_slist_append(headers.get(), header);
        if (extended == nullptr) {
            throw LibraryFailure{CURLE_OUT_OF_MEMORY};
        }
        (void)headers.release();
        headers.reset(extended);
    }

    Transfer transfer;
    transfer.maxBodyBytes = options.maxBodyBytes;
    CURL* handle = easy.get();
    set(handle, CURLOPT_URL, url.c_str());
    set(handle, CURLOPT_USERAGENT, "VB OpenUrl");
    set(handle, CURLOPT_HTTPHEADER, headers.get());
    set(handle, CURLOPT_HTTPGET, 1L);
    set(handle, CURLOPT_NOSIGNAL, 1L);
    set(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    set(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(handle, CURLOPT_FOLLOWLOCATION, 1L);
    set(handle, CURLOPT_MAXREDIRS, options.maxRedirects);
    set(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeout.count()));
    // The library's own bound as well, for the parts of a transfer the loop below cannot see.
    set(handle, CURLOPT_TIMEOUT_MS,
        static_cast<long>(std::max<std::int64_t>(1, options.totalTimeout.count())));
#if LIBCURL_VERSION_NUM >= 0x075700
    // A name lookup still running at the deadline is abandoned instead of waited for.
    set(handle, CURLOPT_QUICK_EXIT, 1L);
#endif
    if (!options.caFile.empty()) {
        set(handle, CURLOPT_CAINFO, options.caFile.c_str());
    }
    set(handle, CURLOPT_WRITEFUNCTION, &onBody);
    set(handle, CURLOPT_WRITEDATA, static_cast<void*>(&transfer));
    set(handle, CURLOPT_HEADERFUNCTION, &onHeader);
    set(handle, CURLOPT_HEADERDATA, static_cast<void*>(&transfer));
    set(handle, CURLOPT_PREREQFUNCTION, &onConnected);
    set(handle, CURLOPT_PREREQDATA, static_cast<void*>(&transfer));

    CURLcode result = CURLE_OK;
    const bool finished = runWithinLimits(multi.get(), handle, transfer, options, result);
    curl_multi_remove_handle(multi.get(), handle);

    if (!finished || transfer.outOfMemory) {
        failure = FetchFailure::Other;
        return {};
    }
    if (result == CURLE_OK) {
        return std::move(transfer.body);
    }
    // A body larger than the cap: what fits is kept, and the server did answer.
    if (result == CURLE_WRITE_ERROR && transfer.capped) {
        return std::move(transfer.body);
    }
    failure = classify(handle, result);
    return {};
}

} // namespace

std::string OpenUrl(const std::string& url, const FetchOptions& options) {
    try {
        std::optional<FetchFailure> failure;
        std::string text = fetch(url, options, failure);
        if (failure && options.onFailure) {
            options.onFailure(*failure);
        }
        return text;
    } catch (const LibraryFailure& failure) {
        try {
            if (options.onRunTimeError) {
                options.onRunTimeError(static_cast<std::int32_t>(failure.code),
                                       curl_easy_strerror(failure.code));
            }
        } catch (...) {
        }
        return {};
    } catch (...) {
        return {};
    }
}

} // namespace pellamark
