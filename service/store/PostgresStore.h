#pragma once

#include "service/store/FavouritesStore.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

typedef struct pg_conn PGconn;

namespace pellamark::service {

// The favourites in a PostgreSQL database, shared by any number of service processes. Nothing
// about the data lives in the process: ids and timestamps come from the database and every call
// reads or writes it, so a list seen through one process right after an add through another
// already shows the add.
//
// Connections are pooled, opened as needed up to a bound. One that breaks (the server restarted,
// the network failed) is dropped and replaced on a later call; until the database answers again,
// calls throw StoreUnavailable instead of waiting.
class PostgresStore final : public FavouritesStore {
public:
    // Connects, and sets up or upgrades the schema (serialised between processes, so several
    // starting at once against an empty database is safe). Throws StoreError when it cannot.
    PostgresStore(std::string connection, std::size_t maxConnections);
    ~PostgresStore() override;
    PostgresStore(const PostgresStore&) = delete;
    PostgresStore& operator=(const PostgresStore&) = delete;

    using FavouritesStore::list;
    FavouritesPage list(std::string_view userId, const ListQuery& query) override;
    FavouritesPage listWithTags(std::string_view userId, const ListQuery& query,
                                std::vector<TagCount>& tags) override;
    std::optional<Favourite> find(std::string_view userId, std::int64_t id) override;
    std::vector<TagCount> tags(std::string_view userId) override;
    std::int64_t count(std::string_view userId) override;

protected:
    void change(const std::function<void(StoreWriter&)>& steps) override;
    void refreshStatistics() override;

private:
    using Clock = std::chrono::steady_clock;

    PGconn* connect();
    PGconn* acquire(bool& fresh);
    void release(PGconn* conn);
    template <typename Call> auto withConnection(bool repeatable, Call&& call);

    const std::string m_connection;
    const std::size_t m_maxConnections;
    std::mutex m_mutex;
    std::condition_variable m_released;
    std::vector<PGconn*> m_idle;
    std::size_t m_open = 0;
    // After a failed connect, calls fail at once until then instead of each waiting to connect.
    Clock::time_point m_retryAfter{};
    std::string m_lastFailure;
};

} // namespace pellamark::service
