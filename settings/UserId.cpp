#include "settings/UserId.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <random>

namespace pellamark {

namespace {

// The clock alone would let two users who sign up in the same tick share an identifier, and lets
// anyone who knows roughly when a user signed up guess it; the identifier is the only secret in
// the favourites address. So the clock is mixed with the operating system's random source.
std::mt19937_64 seededGenerator() {
    std::random_device entropy;
    const auto ticks = static_cast<std::uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count());
    std::array<std::uint32_t, 10> words{};
    words[0] = static_cast<std::uint32_t>(ticks);
    words[1] = static_cast<std::uint32_t>(ticks >> 32);
    for (std::size_t i = 2; i < words.size(); ++i) {
        words[i] = entropy();
    }
    std::seed_seq seed(words.begin(), words.end());
    return std::mt19937_64(seed);
}

// A uniform number r with 0 <= r < 1.
double draw(std::mt19937_64& generator) {
    return std::generate_canonical<double, 53>(generator);
}

} // namespace

std::string generateUserId() {
    std::string id;
    id.reserve(15);

    auto generator = seededGenerator();
    for (int i = 0; i < 5; ++i) {
        auto code = static_cast<int>(draw(generator) * 26.0 + 1.0) + 96;
        if (code > 'z') {
            code = 'z'; // generate_canonical may round up to 1.0 on some libraries
        }
        id.push_back(static_cast<char>(code));
    }

    generator = seededGenerator();
    for (int i = 0; i < 10; ++i) {
        auto digit = static_cast<int>(draw(generator) * 10.0);
        if (digit > 9) {
            digit = 9;
        }
        id.push_back(static_cast<char>('0' + digit));
    }
    return id;
}

} // namespace pellamark
