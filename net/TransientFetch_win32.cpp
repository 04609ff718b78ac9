#include "net/TransientFetch.h"

namespace pellamark {

UrlFetcher transientFetcher(const std::filesystem::path&) {
    return OpenUrl;
}

} // namespace pellamark
