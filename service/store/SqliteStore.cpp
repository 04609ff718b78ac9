#include "service/store/SqliteStore.h"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <iterator>
#include <system_error>

#include <sys/stat.h>

namespace pellamark::service {

namespace {

class Statement {
public:
    Statement(sqlite3* db, const char* sql) : m_db(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            fail("prepare");
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void bind(int index, std::string_view text) {
        if (sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                              SQLITE_TRANSIENT) != SQLITE_OK)
            fail("bind");
    }
    void bind(int index, std::int64_t value) {
        if (sqlite3_bind_int64(m_stmt, index, value) != SQLITE_OK)
            fail("bind");
    }
    // True while there is a row to read.
    bool step() {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        fail("step");
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    std::string text(int column) const {
        const auto* data = sqlite3_column_text(m_stmt, column);
        const int size = sqlite3_column_bytes(m_stmt, column);
        return data ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
    }

private:
    [[noreturn]] void fail(const char* what) const {
        const std::string message = std::string("database ") + what + ": " + sqlite3_errmsg(m_db);
        // Another process holding the write lock past the busy timeout is a passing condition.
        const int code = sqlite3_errcode(m_db) & 0xFF;
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
            throw StoreUnavailable(message);
        throw StoreError(message);
    }

    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

void exec(sqlite3* db, const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        throw StoreError("database: " + text);
    }
}

// Each entry takes the schema from version (index) to version (index + 1). Append, never edit:
// a database in the field may stand at any earlier version.
const char* const kMigrations[] = {
    "CREATE TABLE favourites ("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  userid TEXT NOT NULL,"
    "  title TEXT NOT NULL,"
    "  url TEXT NOT NULL,"
    "  created_at INTEGER NOT NULL"
    ");"
    "CREATE INDEX favourites_by_user ON favourites(userid, id);",
};
static_assert(std::size(kMigrations) == FavouritesStore::kSchemaVersion);

void makePrivateFolder(const std::filesystem::path& dir) {
    std::error_code ec;
    if (std::filesystem::is_directory(dir, ec))
        return;
    if (!dir.parent_path().empty())
        std::filesystem::create_directories(dir.parent_path(), ec);
    if (::mkdir(dir.c_str(), 0700) != 0) {
        const int error = errno;
        if (!std::filesystem::is_directory(dir, ec))
            throw StoreError("cannot create the data folder " + dir.string() + ": " +
                             std::generic_category().message(error));
    }
}

sqlite3* openConnection(const std::filesystem::path& file, int flags) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &db, flags | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close(db);
        throw StoreError("cannot open " + file.string() + ": " + message);
    }
    sqlite3_busy_timeout(db, 5000);
    return db;
}

std::int64_t nowSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace

SqliteStore::SqliteStore(const std::filesystem::path& dataDir) : m_file(dataDir / kFileName) {
    makePrivateFolder(dataDir);
    m_writer = openConnection(m_file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    try {
        ::chmod(m_file.c_str(), 0600);
        exec(m_writer, "PRAGMA journal_mode=WAL;");
        // FULL also syncs the WAL on every commit: an acknowledged add survives a power cut.
        exec(m_writer, "PRAGMA synchronous=FULL;");
        migrate();
        // A second connection for pages: in WAL mode it reads the last commit while the writer
        // waits for its fsync, so listing never queues behind an add.
        m_reader = openConnection(m_file, SQLITE_OPEN_READWRITE);
        exec(m_reader, "PRAGMA query_only=ON;");
    } catch (...) {
        sqlite3_close(m_reader);
        sqlite3_close(m_writer);
        throw;
    }
}

SqliteStore::~SqliteStore() {
    sqlite3_close(m_reader);
    sqlite3_close(m_writer);
}

void SqliteStore::migrate() {
    // IMMEDIATE takes the write lock first, so two processes opening the same new database
    // cannot both run the same migration.
    exec(m_writer, "BEGIN IMMEDIATE;");
    try {
        Statement query(m_writer, "PRAGMA user_version;");
        query.step();
        const auto version = query.integer(0);
        if (version > kSchemaVersion)
            throw StoreError(m_file.string() + " was written by a newer release (schema " +
                             std::to_string(version) + ")");
        for (auto v = version; v < kSchemaVersion; ++v)
            exec(m_writer, kMigrations[v]);
        if (version != kSchemaVersion)
            exec(m_writer, ("PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";").c_str());
        exec(m_writer, "COMMIT;");
    } catch (...) {
        sqlite3_exec(m_writer, "ROLLBACK;", nullptr, nullptr, nullptr);
        throw;
    }
}

std::int64_t SqliteStore::add(std::string_view userId, std::string_view title,
                              std::string_view url) {
    std::lock_guard lock(m_writeMutex);
    Statement insert(m_writer,
                     "INSERT INTO favourites(userid, title, url, created_at) VALUES(?,?,?,?);");
    insert.bind(1, userId);
    insert.bind(2, title);
    insert.bind(3, url);
    insert.bind(4, nowSeconds());
    insert.step();
    return sqlite3_last_insert_rowid(m_writer);
}

bool SqliteStore::remove(std::string_view userId, std::int64_t id) {
    std::lock_guard lock(m_writeMutex);
    Statement erase(m_writer, "DELETE FROM favourites WHERE id = ? AND userid = ?;");
    erase.bind(1, id);
    erase.bind(2, userId);
    erase.step();
    return sqlite3_changes(m_writer) > 0;
}

std::vector<Favourite> SqliteStore::list(std::string_view userId) {
    std::lock_guard lock(m_readMutex);
    Statement query(m_reader, "SELECT id, title, url, created_at FROM favourites WHERE userid = ? "
                              "ORDER BY id DESC;");
    query.bind(1, userId);
    std::vector<Favourite> result;
    while (query.step())
        result.push_back({query.integer(0), query.text(1), query.text(2), query.integer(3)});
    return result;
}

std::int64_t SqliteStore::count(std::string_view userId) {
    std::lock_guard lock(m_readMutex);
    Statement query(m_reader, "SELECT count(*) FROM favourites WHERE userid = ?;");
    query.bind(1, userId);
    query.step();
    return query.integer(0);
}

} // namespace pellamark::service
