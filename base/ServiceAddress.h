#pragma once

#include <string>
#include <string_view>

namespace pellamark {

// The service's address as the program reaches it, from the host it was built with: either
// "host[:port]", which means plain http, or an address that names its scheme,
// "https://host[:port]" (or "http://..."). No slash at the end; pages are appended to it.
std::string serviceOrigin(std::string_view configuredHost);

} // namespace pellamark
