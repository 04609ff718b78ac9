#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace pellamark::service {

struct Favourite {
    std::int64_t id = 0;
    std::string title;
    std::string url;
    std::int64_t createdAt = 0; // seconds since the Unix epoch, UTC
};

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The database cannot be used at the moment (a lost connection, a server restarting or busy);
// the same request may well succeed a little later.
class StoreUnavailable : public StoreError {
public:
    using StoreError::StoreError;
};

// The favourites of every user. Every implementation keeps the same rules: ids come from the
// database and grow, lists are newest first, a write returns only once it is committed, and a
// database set up by a newer release is refused.
class FavouritesStore {
public:
    // The version of the schema this release writes; each store records it in the database.
    static constexpr int kSchemaVersion = 1;

    virtual ~FavouritesStore() = default;

    // The new favourite's id.
    virtual std::int64_t add(std::string_view userId, std::string_view title,
                             std::string_view url) = 0;
    // False when the user has no favourite with that id (also when it belongs to someone else).
    virtual bool remove(std::string_view userId, std::int64_t id) = 0;
    // Newest first.
    virtual std::vector<Favourite> list(std::string_view userId) = 0;
    virtual std::int64_t count(std::string_view userId) = 0;
};

// Where the favourites are kept: a SQLite database in a folder, or a PostgreSQL database named by
// a libpq connection string (URI or keyword/value form).
struct StoreLocation {
    enum class Kind { Sqlite, Postgres };
    Kind kind = Kind::Sqlite;
    std::filesystem::path folder;
    std::string connection;

    static StoreLocation sqlite(std::filesystem::path folder) {
        return {Kind::Sqlite, std::move(folder), {}};
    }
    static StoreLocation postgres(std::string connection) {
        return {Kind::Postgres, {}, std::move(connection)};
    }
};

// "sqlite:DIR", "postgresql://..." or "postgres://...", or a libpq keyword/value string such as
// "host=/run/postgresql dbname=favourites". A password in the text is refused: a command line
// is visible to every user of the machine.
std::variant<StoreLocation, std::string> parseStoreLocation(const std::string& text);

// Opens the store, setting up or upgrading its schema. connections bounds how many database
// connections a PostgreSQL store opens at once. Throws StoreError when it cannot.
std::unique_ptr<FavouritesStore> openStore(const StoreLocation& location, std::size_t connections);

} // namespace pellamark::service
