#include "service/Options.h"

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

std::optional<unsigned> parseCount(const std::string& text) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
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
    std::optional<StoreLocation> store;
    std::string storeOption;
    std::size_t first = 0;
    if (!args.empty() && (args[0] == "import" || args[0] == "export")) {
        options.command = args[0] == "import" ? Options::Command::Import : Options::Command::Export;
        first = 1;
    }
    const bool transfer = options.command != Options::Command::Serve;
    bool hasFile = false;
    for (std::size_t i = first; i < args.size(); ++i) {
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
        if (transfer && (name == "--listen" || name == "--public-origin" ||
                         name == "--connections-per-address"))
            return name + " is for serving the pages, not for " + args[0];
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
        } else if (name == "--data" || name == "--database") {
            const auto text = takeValue();
            if (name == "--data" && (!text || text->empty()))
                return "--data needs a folder";
            if (!text)
                return "--database needs sqlite:DIR or a PostgreSQL connection string";
            if (store && storeOption != name)
                return "give either --data or --database, not both";
            storeOption = name;
            if (name == "--data") {
                store = StoreLocation::sqlite(*text);
            } else {
                auto parsed = parseStoreLocation(*text);
                if (auto* problem = std::get_if<std::string>(&parsed))
                    return "--database: " + *problem;
                store = std::get<StoreLocation>(std::move(parsed));
            }
        } else if (name == "--public-origin") {
            const auto text = takeValue();
            const auto origin = text ? parsePublicOrigin(*text) : std::nullopt;
            if (!origin)
                return "--public-origin needs an address such as https://favourites.example.org" +
                       (text ? " (not " + *text + ")" : std::string());
            options.publicOrigins.push_back(*origin);
        } else if (name == "--connections-per-address") {
            const auto text = takeValue();
            const auto value = text ? parseCount(*text) : std::nullopt;
            if (!value)
                return "--connections-per-address needs a number (0 for no limit)";
            options.connectionsPerAddress = *value;
        } else if (name == "--user" && transfer) {
            const auto text = takeValue();
            if (!text || text->empty())
                return "--user needs the user id (userid)";
            options.user = *text;
        } else if (options.command == Options::Command::Import && !hasFile &&
                   (name == "-" || !name.starts_with("-"))) {
            options.file = name;
            hasFile = true;
        } else if (transfer && (!name.starts_with("-") || name == "-")) {
            return "unexpected argument: " + args[i];
        } else {
            return "unknown option: " + args[i];
        }
    }
    if (transfer && !options.help) {
        if (options.user.empty())
            return args[0] + " needs --user USERID";
        if (options.command == Options::Command::Import && !hasFile)
            return "import needs the bookmark file (FILE, or - for standard input)";
    }
    options.store = store ? *store : StoreLocation::sqlite(defaultDataDir(env));
    if (options.store.kind == StoreLocation::Kind::Sqlite && options.store.folder.empty() &&
        !options.help)
        return "no data folder: set HOME or XDG_DATA_HOME, or pass --data or --database";
    return options;
}

std::string usage(const std::string& program) {
    return "Usage: " + program +
           " [--listen HOST:PORT] [--data DIR | --database LOCATION]\n"
           "       [--public-origin URL]... [--connections-per-address N]\n"
           "       " +
           program +
           " import --user USERID [--data DIR | --database LOCATION] FILE\n"
           "       " +
           program +
           " export --user USERID [--data DIR | --database LOCATION]\n"
           "\n"
           "Serves the Pellamark favourites pages. import reads a bookmark file (as browsers\n"
           "export it; - for standard input) into the user's favourites, all of it or nothing,\n"
           "and says what it did; export writes the user's favourites as one to standard output.\n"
           "\n"
           "  --listen HOST:PORT  address to listen on (default 127.0.0.1:8480); port 0 picks a\n"
           "                      free port. An IPv6 host goes in brackets: [::1]:8480\n"
           "  --data DIR          keep the favourites in a SQLite database in DIR (default\n"
           "                      ${XDG_DATA_HOME:-$HOME/.local/share}/pellamark-service)\n"
           "  --database LOCATION where to keep the favourites, one of\n"
           "                        sqlite:DIR  a SQLite database in DIR, as --data DIR; for one\n"
           "                                    service process\n"
           "                        postgresql://USER@HOST[:PORT]/DATABASE[?OPTIONS], or a libpq\n"
           "                                    keyword string such as\n"
           "                                    \"host=/run/postgresql dbname=favourites\": a\n"
           "                                    PostgreSQL database that any number of service\n"
           "                                    processes can share\n"
           "                      The PostgreSQL password is never given here (a command line is\n"
           "                      visible to every user): libpq reads it from ~/.pgpass, the file\n"
           "                      PGPASSFILE names, or PGPASSWORD, and the other PG* variables\n"
           "                      apply too. The tables are created on the first start; the role\n"
           "                      needs the right to create them then.\n"
           "  --public-origin URL the address browsers use when it is not the --listen address,\n"
           "                      such as https://favourites.example.org behind a reverse proxy;\n"
           "                      may be repeated. Requests naming another host are refused\n"
           "                      (421), and so are forms sent from other sites' pages (403).\n"
           "  --connections-per-address N\n"
           "                      connections one client address may hold open at once (default\n"
           "                      64; 0: no limit, for a service only a reverse proxy reaches)\n"
           "  --user USERID       import and export: whose favourites\n"
           "  --help              show this text\n"
           "\n"
           "The first line on standard output is \"listening on HOST:PORT\". One line per request\n"
           "is logged on standard error. SIGINT or SIGTERM stops the service.\n"
           "\n"
           "The favourites page, /app/fav.asp, takes the client's keys userid, emailid, pubid and\n"
           "version, and these:\n"
           "  q=TEXT              search: every word in the title, address, tags or note, the\n"
           "                      last also as the start of a word, case and accents ignored;\n"
           "                      best matches first unless sort is given\n"
           "  tag=TAG             only favourites with the tag or one below it (work takes in\n"
           "                      work/clients); repeated: all of them\n"
           "  sort=ORDER          newest (the default), oldest or title\n"
           "  after=KEY           the next page of 100, by the key the page's Next link gives\n"
           "  edit=ID             the page with that favourite's edit form\n"
           "Forms are posted to the same address as application/x-www-form-urlencoded, with\n"
           "  action=add          title, url, and optionally tags and note\n"
           "  action=edit         id, title, url, tags, note (the creation date is kept)\n"
           "  action=remove       id, repeatable: several at once, all of them the user's or none\n"
           "  action=tag          id (repeatable) and tags: add the tags to each\n"
           "  action=untag        id (repeatable) and tags; without an id the tags (with what "
           "lies\n"
           "                      below them) go from every favourite\n"
           "  action=rename-tag   tag and to: the tag and its subtree, on every favourite\n"
           "  action=import       sent as multipart/form-data, the field action first, then the\n"
           "                      bookmark file in the field file (up to 256 MiB): folders\n"
           "                      become tags, an address already there gets the new tags and\n"
           "                      keeps the earlier date; answered with the page and the counts\n"
           "A GET with action=export (and q, tag, sort) answers the favourites it matches as a\n"
           "bookmark file to save.\n"
           "Tags are separated by blanks or commas; a tag is letters, digits and - _ . + with\n"
           "/ between levels, up to 64 characters, 20 per favourite, matched without regard to\n"
           "case. A refused form is answered 400 (404 for a favourite that is not the user's),\n"
           "403 from another site's page, 421 for another host name, and changes nothing; a\n"
           "change is answered 303 back to the page.\n";
}

} // namespace pellamark::service
