// pellamark-fetch: OpenUrl with the network library, as a module the program loads for its
// start-up check and unloads after it (TransientFetch.h).
#include "net/FetchModule.h"

#include <curl/curl.h>

extern "C" __attribute__((visibility("default"))) std::string
pellamarkOpenUrl(const std::string& url, const pellamark::FetchOptions& options) {
    return pellamark::OpenUrl(url, options);
}

namespace {
// The library's global state goes with the module.
struct GlobalCleanup {
    ~GlobalCleanup() { curl_global_cleanup(); }
} g_cleanup;
} // namespace
