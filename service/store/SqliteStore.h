#pragma once

#include "service/store/FavouritesStore.h"

#include <filesystem>
#include <mutex>

struct sqlite3;

namespace pellamark::service {

// The favourites in one SQLite database file. One writing connection behind a mutex (the service
// is small, writes are fsync-bound anyway, and a single writer cannot lose an update) and one
// reading connection behind another.
class SqliteStore final : public FavouritesStore {
public:
    static constexpr const char* kFileName = "favourites.db";

    // Opens (creating the folder with mode 0700 and the database when needed) and brings the
    // schema up to date. Throws StoreError on failure, also for a database made by a newer release.
    explicit SqliteStore(const std::filesystem::path& dataDir);
    ~SqliteStore() override;
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    std::int64_t add(std::string_view userId, std::string_view title,
                     std::string_view url) override;
    bool remove(std::string_view userId, std::int64_t id) override;
    std::vector<Favourite> list(std::string_view userId) override;
    std::int64_t count(std::string_view userId) override;

    const std::filesystem::path& file() const { return m_file; }

private:
    void migrate();

    std::filesystem::path m_file;
    sqlite3* m_writer = nullptr;
    sqlite3* m_reader = nullptr;
    std::mutex m_writeMutex;
    std::mutex m_readMutex;
};

} // namespace pellamark::service
