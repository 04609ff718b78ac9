#pragma once

#include "net/CheckServer.h"

#include <filesystem>

namespace pellamark {

// The fetch for a program that stays in memory for weeks after its one use of the network at
// start: on Linux the network library (libcurl, its TLS and its other protocols' libraries, a few
// MB) lives in a module that is loaded for each fetch and unloaded after it. A module that cannot
// be loaded is a failure of the network library (FetchOptions::onRunTimeError). On Windows the
// system's library is small and always there: the fetch is OpenUrl itself.
UrlFetcher transientFetcher(const std::filesystem::path& programFolder);

} // namespace pellamark
