#pragma once

#include <string>

namespace pellamark {

// A new user identifier: five letters a-z then ten digits, from a generator seeded with the clock
// mixed with the operating system's random source.
std::string generateUserId();

} // namespace pellamark
