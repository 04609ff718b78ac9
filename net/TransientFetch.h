#pragma once

#include "net/CheckServer.h"

#include <filesystem>

namespace pellamark {

// The fetch for a program that stays in memory for weeks after its one use of the network at
// start: on Linux the network library (libcurl, its TLS and its other protocols' libraries, a few
// MB that unloading would not all give back) works in a helper program started for each fetch
// (pellamark-fetch, FetchProgram.h). A helper that cannot be started, or ends without an answer,
// is a failure of the network library (FetchOptions::onRunTimeError). On Windows the system's
// library is small and always there: the fetch is OpenUrl itself.
UrlFetcher transientFetcher(const std::filesystem::path& programFolder);

} // namespace pellamark
