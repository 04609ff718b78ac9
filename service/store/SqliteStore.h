#pragma once

#include "service/store/FavouritesStore.h"

#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace pellamark::service {

// The favourites in one SQLite database file. One writing connection behind a mutex (the service
// is small, writes are fsync-bound anyway, and a single writer cannot lose an update) and a few
// reading connections, which in WAL mode read the last commit while the writer waits for its
// fsync.
class SqliteStore final : public FavouritesStore {
public:
    static constexpr const char* FileName = "favourites.db";

    // Opens (creating the folder with mode 0700 and the database when needed) and brings the
    // schema up to date. Throws StoreError on failure, also for a database made by a newer release.
    explicit SqliteStore(const std::filesystem::path& dataDir);
    ~SqliteStore() override;
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    using FavouritesStore::list;
    FavouritesPage list(std::string_view userId, const ListQuery& query) override;
    std::optional<Favourite> find(std::string_view userId, std::int64_t id) override;
    std::vector<TagCount> tags(std::string_view userId) override;
    std::int64_t count(std::string_view userId) override;

    const std::filesystem::path& file() const { return m_file; }

protected:
    void change(const std::function<void(StoreWriter&)>& steps) override;

private:
    class Reader;
    void migrate();

    std::filesystem::path m_file;
    sqlite3* m_writer = nullptr;
    // Changes wait here while another thread commits; the next to commit takes every waiting
    // change into one transaction (each in a savepoint of its own), so that they share the
    // wait for the disk.
    struct PendingChange;
    void commitTogether(const std::vector<PendingChange*>& changes);
    std::mutex m_queueMutex;
    std::condition_variable m_committed;
    std::vector<PendingChange*> m_queue;
    bool m_committing = false;
    std::map<std::string, sqlite3_stmt*> m_writerPrepared; // used by the committing thread
    std::vector<sqlite3*> m_idleReaders;
    // Each reading connection's prepared statements by their text, used only by the thread that
    // holds the connection: a page view prepares nothing twice.
    std::map<sqlite3*, std::map<std::string, sqlite3_stmt*>> m_prepared;
    std::size_t m_readers = 0;
    std::mutex m_readMutex;
    std::condition_variable m_readerReleased;
};

} // namespace pellamark::service
