#pragma once

#include "ChildProcess.h"
#include "TempDir.h"
#include "service/Service.h"

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace pellamark::service::testing {

using pellamark::testing::TempDir;

// A throw-away PostgreSQL cluster run by postgres-cluster.sh, described by its state file.
class PostgresCluster {
public:
    // Starts a cluster of this test's own, removed again by the destructor.
    static std::unique_ptr<PostgresCluster> start();
    // One started by someone else (the ctest fixture), left running.
    explicit PostgresCluster(std::filesystem::path stateFile, bool owned = false);
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // Why there is no cluster to use; empty when there is one.
    const std::optional<std::string>& unavailable() const { return m_unavailable; }

    // Stops the server with its data kept, and starts it again.
    void pause();
    void resume();

    // A new, empty database; its libpq connection string.
    std::string createDatabase();
    void dropDatabase(const std::string& connection);
    // Runs SQL as the superuser in the database of that connection string; the first field of
    // the first row, or empty. Throws on an error.
    std::string sql(const std::string& connection, const std::string& statement);

private:
    void script(const char* command);

    std::filesystem::path m_stateFile;
    bool m_owned = false;
    std::optional<std::string> m_unavailable;
    std::string m_folder;
    int m_created = 0;
};

// The cluster the tests share: the one the ctest fixture started (PELLAMARK_TEST_POSTGRES names
// its state file), else one started for this process on first use.
PostgresCluster& sharedCluster();

enum class StoreKind { Sqlite, Postgres };
std::string storeKindName(StoreKind kind);
// Names parameterised tests by their store in test listings.
inline void PrintTo(StoreKind kind, std::ostream* out) {
    *out << storeKindName(kind);
}

// A fresh, empty store for one test: a temporary folder, or a new database on the shared
// cluster dropped again afterwards.
class TestStore {
public:
    // Why a store of that kind cannot be had here; empty when it can.
    static std::optional<std::string> unavailable(StoreKind kind);

    explicit TestStore(StoreKind kind);
    ~TestStore();
    TestStore(const TestStore&) = delete;
    TestStore& operator=(const TestStore&) = delete;

    const StoreLocation& location() const { return m_location; }
    // The text --database takes for this store.
    std::string databaseOption() const;

private:
    TempDir m_dir;
    StoreLocation m_location;
};

// A client of the service on 127.0.0.1:port. Bounded waits: a test must fail, not hang, when the
// service stops answering.
httplib::Client clientFor(int port);

// How many favourites a favourites page lists.
int countItems(const std::string& page);

// The service running in this process on a free port of 127.0.0.1.
class RunningService {
public:
    explicit RunningService(ServiceConfig config) : m_service(withLog(std::move(config))) {
        m_port = m_service.bind("127.0.0.1", 0);
        if (m_port <= 0)
            throw std::runtime_error("cannot bind");
        m_thread = std::thread([this] { m_service.run(); });
    }
    explicit RunningService(const StoreLocation& store) : RunningService(configFor(store)) {}
    ~RunningService() { stop(); }

    static ServiceConfig configFor(const StoreLocation& store) {
        ServiceConfig config;
        config.store = store;
        return config;
    }

    // Returns once every request has been answered and logged.
    void stop() {
        if (m_thread.joinable()) {
            m_service.stop();
            m_thread.join();
        }
    }

    int port() const { return m_port; }
    Service& service() { return m_service; }

    httplib::Client client() const { return clientFor(m_port); }

    std::vector<std::string> log() const {
        std::lock_guard lock(m_logMutex);
        return m_log;
    }

private:
    ServiceConfig withLog(ServiceConfig config) {
        config.log = [this](const std::string& line) {
            std::lock_guard lock(m_logMutex);
            m_log.push_back(line);
        };
        return config;
    }

    mutable std::mutex m_logMutex;
    std::vector<std::string> m_log;
    Service m_service;
    int m_port = 0;
    std::thread m_thread;
};

using pellamark::testing::announcedPort;
using pellamark::testing::Child;

// A plain TCP connection to 127.0.0.1:port, for requests no HTTP client would send; -1 when it
// cannot be made.
int connectTo(int port);
// What the server sends on the connection until it closes it, waiting at most five seconds;
// closed tells whether it did close it (or reset it) in that time.
std::string readUntilClosed(int fd, bool* closed = nullptr);

// Connections to 127.0.0.1:port that send a request head one byte every half second and never
// finish it, as a client on a very slow link or one holding connections on purpose would.
class SlowClients {
public:
    SlowClients(int port, int count);
    ~SlowClients();
    SlowClients(const SlowClients&) = delete;
    SlowClients& operator=(const SlowClients&) = delete;

    // How many of them the server has not closed.
    int open() const { return m_open; }

private:
    std::vector<int> m_fds;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_open{0};
    std::thread m_thread;
};

} // namespace pellamark::service::testing
