#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

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

// The favourites of every user in one SQLite database. One writing connection behind a mutex (the
// service is small, writes are fsync-bound anyway, and a single writer cannot lose an update) and
// one reading connection behind another.
class FavouritesStore {
public:
    static constexpr int kSchemaVersion = 1;
    static constexpr const char* kFileName = "favourites.db";

    // Opens (creating the folder with mode 0700 and the database when needed) and brings the
    // schema up to date. Throws StoreError on failure, also for a database made by a newer release.
    explicit FavouritesStore(const std::filesystem::path& dataDir);
    ~FavouritesStore();
    FavouritesStore(const FavouritesStore&) = delete;
    FavouritesStore& operator=(const FavouritesStore&) = delete;

    // The new favourite's id.
    std::int64_t add(std::string_view userId, std::string_view title, std::string_view url);
    // False when the user has no favourite with that id (also when it belongs to someone else).
    bool remove(std::string_view userId, std::int64_t id);
    // Newest first.
    std::vector<Favourite> list(std::string_view userId) const;
    std::int64_t count(std::string_view userId) const;

    const std::filesystem::path& file() const { return m_file; }

private:
    void migrate();

    std::filesystem::path m_file;
    sqlite3* m_writer = nullptr;
    sqlite3* m_reader = nullptr;
    std::mutex m_writeMutex;
    mutable std::mutex m_readMutex;
};

} // namespace pellamark::service
