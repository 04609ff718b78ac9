#include "ServiceTestSupport.h"

#include <libpq-fe.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace pellamark::service::testing {

using pellamark::testing::runToEnd;

namespace {

std::vector<std::string> readLines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

std::unique_ptr<PostgresCluster> PostgresCluster::start() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pellamark-pg-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    ::close(fd);
    if (runToEnd({"/bin/bash", PELLAMARK_PG_CLUSTER_SCRIPT, "start", pattern}) != 0) {
        std::filesystem::remove(pattern);
        throw std::runtime_error("the PostgreSQL test cluster did not start");
    }
    return std::make_unique<PostgresCluster>(pattern, true);
}

PostgresCluster::PostgresCluster(std::filesystem::path stateFile, bool owned)
    : m_stateFile(std::move(stateFile)), m_owned(owned) {
    const auto lines = readLines(m_stateFile);
    if (lines.size() >= 2 && lines[0] == "skip") {
        m_unavailable = lines[1];
    } else if (lines.size() >= 4 && lines[0] == "ok") {
        m_folder = lines[2];
    } else {
        throw std::runtime_error("no PostgreSQL test cluster described in " + m_stateFile.string());
    }
}

PostgresCluster::~PostgresCluster() {
    if (m_owned)
        script("stop");
}

void PostgresCluster::script(const char* command) {
    if (runToEnd({"/bin/bash", PELLAMARK_PG_CLUSTER_SCRIPT, command, m_stateFile.string()}) != 0)
        throw std::runtime_error(std::string("postgres-cluster.sh ") + command + " failed");
}

void PostgresCluster::pause() {
    script("pause");
}

void PostgresCluster::resume() {
    script("resume");
}

std::string PostgresCluster::createDatabase() {
    const std::string name = "t" + std::to_string(::getpid()) + "_" + std::to_string(++m_created);
    const std::string admin = "host=" + m_folder + " port=5432 user=postgres dbname=postgres";
    sql(admin, "CREATE DATABASE " + name);
    return "host=" + m_folder + " port=5432 user=postgres dbname=" + name;
}

void PostgresCluster::dropDatabase(const std::string& connection) {
    const auto at = connection.rfind("dbname=");
    if (at == std::string::npos)
        return;
    const std::string admin = "host=" + m_folder + " port=5432 user=postgres dbname=postgres";
    sql(admin, "DROP DATABASE IF EXISTS " + connection.substr(at + 7) + " WITH (FORCE)");
}

std::string PostgresCluster::sql(const std::string& connection, const std::string& statement) {
    PGconn* conn = PQconnectdb(connection.c_str());
    if (PQstatus(conn) != CONNECTION_OK) {
        const std::string message = PQerrorMessage(conn);
        PQfinish(conn);
        throw std::runtime_error("cannot connect to the test cluster: " + message);
    }
    PGresult* result = PQexec(conn, statement.c_str());
    const auto status = PQresultStatus(result);
    std::string value;
    std::string error;
    if (status == PGRES_TUPLES_OK && PQntuples(result) > 0 && PQnfields(result) > 0)
        value = PQgetvalue(result, 0, 0);
    else if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
        error = PQresultErrorMessage(result);
    PQclear(result);
    PQfinish(conn);
    if (!error.empty())
        throw std::runtime_error(statement + ": " + error);
    return value;
}

PostgresCluster& sharedCluster() {
    static std::mutex mutex;
    static std::unique_ptr<PostgresCluster> cluster;
    std::lock_guard lock(mutex);
    if (!cluster) {
        const char* state = std::getenv("PELLAMARK_TEST_POSTGRES");
        cluster =
            state && *state ? std::make_unique<PostgresCluster>(state) : PostgresCluster::start();
    }
    return *cluster;
}

std::string storeKindName(StoreKind kind) {
    return kind == StoreKind::Sqlite ? "SQLite" : "PostgreSQL";
}

std::optional<std::string> TestStore::unavailable(StoreKind kind) {
    if (kind == StoreKind::Sqlite)
        return std::nullopt;
    return sharedCluster().unavailable();
}

TestStore::TestStore(StoreKind kind) {
    if (kind == StoreKind::Sqlite)
        m_location = StoreLocation::sqlite(m_dir.path() / "data");
    else
        m_location = StoreLocation::postgres(sharedCluster().createDatabase());
}

TestStore::~TestStore() {
    if (m_location.kind != StoreLocation::Kind::Postgres)
        return;
    try {
        sharedCluster().dropDatabase(m_location.connection);
    } catch (const std::exception&) {
        // The cluster goes away with the test run anyway.
    }
}

std::string TestStore::databaseOption() const {
    return m_location.kind == StoreLocation::Kind::Sqlite ? "sqlite:" + m_location.folder.string()
                                                          : m_location.connection;
}

httplib::Client clientFor(int port) {
    httplib::Client cli("127.0.0.1", port);
    cli.set_connection_timeout(5);
    cli.set_read_timeout(10);
    cli.set_write_timeout(10);
    return cli;
}

int countItems(const std::string& page) {
    int count = 0;
    for (auto at = page.find("<li class=\"fav\""); at != std::string::npos;
         at = page.find("<li class=\"fav\"", at + 1))
        ++count;
    return count;
}

std::string readUntilClosed(int fd, bool* closed) {
    timeval wait{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::string answer;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        answer.append(buffer, static_cast<std::size_t>(n));
    if (closed)
        *closed = n == 0 || errno == ECONNRESET;
    return answer;
}

int connectTo(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(port));
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

SlowClients::SlowClients(int port, int count) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(port));
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0 ||
            ::send(fd, "G", 1, MSG_NOSIGNAL) != 1) {
            if (fd >= 0)
                ::close(fd);
            continue;
        }
        m_fds.push_back(fd);
    }
    m_open = static_cast<int>(m_fds.size());
    m_thread = std::thread([this] {
        const std::string head = "GET /app/apphtml.html HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        const std::string filler = "X-a: b\r\n";
        std::vector<bool> closed(m_fds.size(), false);
        for (std::size_t sent = 1; !m_stop; ++sent) {
            const char byte =
                sent < head.size() ? head[sent] : filler[(sent - head.size()) % filler.size()];
            for (std::size_t i = 0; i < m_fds.size(); ++i) {
                if (closed[i])
                    continue;
                pollfd p{m_fds[i], POLLIN, 0};
                char buffer[512];
                const bool ended = (::poll(&p, 1, 0) > 0 &&
                                    ::recv(m_fds[i], buffer, sizeof buffer, MSG_DONTWAIT) <= 0) ||
                                   ::send(m_fds[i], &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) != 1;
                if (ended) {
                    closed[i] = true;
                    --m_open;
                }
            }
            for (int wait = 0; wait < 50 && !m_stop; ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
}

SlowClients::~SlowClients() {
    m_stop = true;
    m_thread.join();
    for (int fd : m_fds)
        ::close(fd);
}

} // namespace pellamark::service::testing
