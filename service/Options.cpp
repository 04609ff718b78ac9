#include "Options.h"

#include <charconv>

namespace pellamark::service {

namespace {

std::optional<int> parsePort(const std::string& text) {
    int port = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || port < 0 ||
        port > 65535)
        return std::nullopt;
    return port;
}

} // namespace

std::filesystem::path defaultDataDir(const Environment& env) {
    // A relative XDG_DATA_HOME is invalid by the base directory rules and must be ignored.
    if (const auto xdg = env("XDG_DATA_HOME"); xdg && !xdg->empty() && xdg->front() == '/')
        return std::filesystem::path(*xdg) / "pellamark-service";
    if (const auto home = env("HOME"); home && !home->empty())
        return std::filesystem::path(*home) / ".local" / "share" / "pellamark-service";
    return {};
}

std::optional<std::pair<std::string, int>> parseListenAddress(const std::string& text) {
    std::string host;
    std::string rest;
    if (text.starts_with('[')) {
        const auto close = text.find(']');
        if (close == std::string::npos)
            return std::nullopt;
        host = text.substr(1, close - 1);
        rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':')
            return std::nullopt;
    } else {
        const auto colon = text.find(':');
        if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos)
            return std::nullopt; // a bare IPv6 address needs brackets
        host = text.substr(0, colon);
        if (colon != std::string::npos)
            rest = text.substr(colon);
    }
    if (host.empty())
        return std::nullopt;
    if (rest.empty())
        return std::pair{host, 80};
    const auto port = parsePort(rest.substr(1));
    if (!port)
        return std::nullopt;
    return std::pair{host, *port};
}

std::variant<Options, std::string> parseOptions(const std::vector<std::string>& args,
                                                const Environment& env) {
    Options options;
    std::optional<std::filesystem::path> dataDir;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        auto takeValue = [&]() -> std::optional<std::string> {
            if (value)
                return value;
            if (i + 1 < args.size())
                return args[++i];
            return std::nullopt;
        };
        if (name == "--help" || name == "-h") {
            if (value)
                return "--help takes no value";
            options.help = true;
        } else if (name == "--listen") {
            const auto text = takeValue();
            if (!text)
                return "--listen needs HOST:PORT";
            const auto address = parseListenAddress(*text);
            if (!address)
                return "invalid --listen address: " + *text;
            options.host = address->first;
            options.port = address->second;
        } else if (name == "--data") {
            const auto text = takeValue();
            if (!text || text->empty())
                return "--data needs a folder";
            dataDir = *text;
        } else {
            return "unknown option: " + args[i];
        }
    }
    options.dataDir = dataDir ? *dataDir : defaultDataDir(env);
    if (options.dataDir.empty() && !options.help)
        return "no data folder: set HOME or XDG_DATA_HOME, or pass --data";
    return options;
}

std::string usage(const std::string& program) {
    return "Usage: " + program +
           " [--listen HOST:PORT] [--data DIR]\n"
           "\n"
           "Serves the Pellamark favourites pages.\n"
           "\n"
           "  --listen HOST:PORT  address to listen on (default 127.0.0.1:8480); port 0 picks a\n"
           "                      free port. An IPv6 host goes in brackets: [::1]:8480\n"
           "  --data DIR          folder for the database (default\n"
           "                      ${XDG_DATA_HOME:-$HOME/.local/share}/pellamark-service)\n"
           "  --help              show this text\n"
           "\n"
           "The first line on standard output is \"listening on HOST:PORT\". One line per request\n"
           "is logged on standard error. SIGINT or SIGTERM stops the service.\n";
}

} // namespace pellamark::service
