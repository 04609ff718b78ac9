#pragma once

#include "net/OpenUrl.h"

#include <optional>
#include <string>
#include <vector>

namespace pellamark {

// What passes between the program and its fetch program (pellamark-fetch, Linux): the fetch's
// address and options as the helper's arguments; its answer on the helper's output: one line
// ("page", "failure KIND" or "error NUMBER DESCRIPTION"), then the page.
inline constexpr const char* FetchProgramName = "pellamark-fetch";

std::vector<std::string> fetchArguments(const std::string& url, const FetchOptions& options);
// The address and the options (without callbacks) from the arguments after the program's name.
std::optional<std::pair<std::string, FetchOptions>>
parseFetchArguments(const std::vector<std::string>& arguments);

struct FetchAnswer {
    std::string page;
    std::optional<FetchFailure> failure;
    std::optional<std::pair<std::int32_t, std::string>> runTimeError;
};
std::string encodeFetchAnswer(const FetchAnswer& answer);
// Empty for output that is not an answer (a helper that died half-way).
std::optional<FetchAnswer> decodeFetchAnswer(const std::string& output);

} // namespace pellamark
