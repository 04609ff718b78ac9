#include "service/store/FavouritesStore.h"

#include "service/store/PostgresStore.h"
#include "service/store/SqliteStore.h"

#include <libpq-fe.h>

namespace pellamark::service {

std::variant<StoreLocation, std::string> parseStoreLocation(const std::string& text) {
    if (text.starts_with("sqlite:")) {
        if (text.size() == 7)
            return std::string("sqlite: needs a folder, as in sqlite:/var/lib/pellamark");
        return StoreLocation::sqlite(text.substr(7));
    }
    const bool uri = text.starts_with("postgresql://") || text.starts_with("postgres://");
    if (!uri && text.find('=') == std::string::npos)
        return "unknown database " + text + ": give sqlite:DIR or a PostgreSQL connection string";

    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(text.c_str(), &error);
    if (!options) {
        std::string reason = error ? error : "out of memory";
        PQfreemem(error);
        while (!reason.empty() && reason.back() == '\n')
            reason.pop_back();
        return "invalid PostgreSQL connection string: " + reason;
    }
    bool hasPassword = false;
    for (const PQconninfoOption* option = options; option->keyword; ++option)
        if (std::string_view(option->keyword) == "password" && option->val && *option->val)
            hasPassword = true;
    PQconninfoFree(options);
    if (hasPassword)
        return std::string("the database password must not be on the command line, where every "
                           "user of the machine can read it: put it in ~/.pgpass (or the file "
                           "PGPASSFILE names) or in PGPASSWORD");
    return StoreLocation::postgres(text);
}

std::unique_ptr<FavouritesStore> openStore(const StoreLocation& location, std::size_t connections) {
    if (location.kind == StoreLocation::Kind::Postgres)
        return std::make_unique<PostgresStore>(location.connection, connections);
    return std::make_unique<SqliteStore>(location.folder);
}

} // namespace pellamark::service
