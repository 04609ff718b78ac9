#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pellamark::service::testing {

// Firefox as a peer for the bookmark file, headless on a throw-away profile in a folder of the
// test's: on its first start it imports a bookmark file (browser.places.importBookmarksHTML),
// and when told to quit it writes its bookmarks as a file (browser.bookmarks.autoExportHTML).
// It is kept off the network (every connection goes to a closed port of this machine, updates,
// telemetry, captive-portal and safe-browsing checks are off), each step is bounded by a
// timeout, and the whole process group is killed when a step fails.
class FirefoxPeer {
public:
    // Firefox did not start at all (missing, or unable to run here): a reason to skip.
    struct NotStarted : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    // A bookmark as Firefox holds it in places.sqlite.
    struct Place {
        std::vector<std::string> folders; // from the top; Firefox's own root folders left out
        std::string title;
        std::string url;
        std::vector<std::string> tags; // sorted
        std::int64_t added = 0;        // seconds
    };

    struct Result {
        std::vector<Place> places; // in the order of their ids
        std::string exported;      // the bookmark file Firefox wrote on quitting
    };

    // Why Firefox cannot be used here; empty when it can.
    static std::optional<std::string> unavailable();

    explicit FirefoxPeer(std::filesystem::path folder);

    // Starts Firefox on a new profile that imports the file, waits until the import is done,
    // has it quit, and returns what it then holds and what it wrote. Throws NotStarted when
    // Firefox never came up, std::runtime_error for anything else.
    Result importThenExport(const std::filesystem::path& file);

private:
    std::filesystem::path m_folder;
};

} // namespace pellamark::service::testing
