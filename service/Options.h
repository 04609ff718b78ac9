#pragma once

#include "service/http/Site.h"
#include "service/store/FavouritesStore.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace pellamark::service {

struct Options {
    // Serving the pages, or moving one user's favourites in or out as a bookmark file.
    enum class Command { Serve, Import, Export };
    Command command = Command::Serve;
    std::string user; // import and export: whose favourites
    std::string file; // import: the bookmark file, "-" for standard input
    std::string host = "127.0.0.1";
    int port = 8480;
    StoreLocation store;
    std::vector<Origin> publicOrigins;
    unsigned connectionsPerAddress = 64;
    bool help = false;
};

using Environment = std::function<std::optional<std::string>(const std::string& name)>;

// ${XDG_DATA_HOME:-$HOME/.local/share}/pellamark-service; empty when neither is usable.
std::filesystem::path defaultDataDir(const Environment& env);

// The options, or a message saying what is wrong with them.
std::variant<Options, std::string> parseOptions(const std::vector<std::string>& args,
                                                const Environment& env);

// "HOST:PORT", "[V6HOST]:PORT" or a bare "HOST" (port 80, as in an address without a port).
std::optional<std::pair<std::string, int>> parseListenAddress(const std::string& text);

std::string usage(const std::string& program);

} // namespace pellamark::service
