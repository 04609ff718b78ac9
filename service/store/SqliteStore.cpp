#include "service/store/SqliteStore.h"

#include "service/store/Folding.h"
#include "service/store/ListSql.h"
#include "service/store/Tags.h"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <iterator>
#include <system_error>

#include <sys/stat.h>

namespace pellamark::service {

namespace {

// Reading connections: page views run side by side up to this many, which is more than the
// cores a small service has; each keeps this much of the database in memory (KiB), enough for
// the upper levels of every index of a million favourites.
constexpr std::size_t MaxReaders = 3;
constexpr const char* ReaderCache = "PRAGMA cache_size=-4000;";

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) : m_db(db) {
        if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr) !=
            SQLITE_OK)
            fail("prepare");
    }
    // One prepared before, kept by its owner: reset instead of finalised at the end.
    Statement(sqlite3* db, sqlite3_stmt* prepared) : m_db(db), m_stmt(prepared), m_kept(true) {}
    ~Statement() {
        if (m_kept) {
            sqlite3_reset(m_stmt);
            sqlite3_clear_bindings(m_stmt);
        } else {
            sqlite3_finalize(m_stmt);
        }
    }
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
    void bind(int index, double value) {
        if (sqlite3_bind_double(m_stmt, index, value) != SQLITE_OK)
            fail("bind");
    }
    void bind(const std::vector<SqlValue>& values) {
        for (std::size_t i = 0; i < values.size(); ++i)
            std::visit([&](const auto& value) { bind(static_cast<int>(i + 1), value); }, values[i]);
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
    void reset() {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    sqlite3_stmt* handle() const { return m_stmt; }
    std::int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    double real(int column) const { return sqlite3_column_double(m_stmt, column); }
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
    bool m_kept = false;
};

void exec(sqlite3* db, const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        throw StoreError("database: " + text);
    }
}

std::int64_t nowSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

// Fills in what schema 2 derives from each favourite (its sort title and search entry), in
// batches, for the rows a schema 1 database brought along.
void indexExistingRows(sqlite3* db) {
    Statement rows(db, "SELECT id, title, url, userid FROM favourites ORDER BY id");
    Statement sortTitle(db, "UPDATE favourites SET sort_title = ? WHERE id = ?");
    Statement search(db, "INSERT INTO favourites_search(rowid, title, address, tags, note, owner) "
                         "VALUES(?, ?, ?, '', '', ?)");
    while (rows.step()) {
        const auto id = rows.integer(0);
        const auto title = rows.text(1);
        sortTitle.bind(1, titleSortKey(title));
        sortTitle.bind(2, id);
        sortTitle.step();
        sortTitle.reset();
        search.bind(1, id);
        search.bind(2, searchDocument(title));
        search.bind(3, searchDocument(rows.text(2)));
        search.bind(4, ownerWord(rows.text(3)));
        search.step();
        search.reset();
    }
}

struct Migration {
    const char* sql;
    void (*after)(sqlite3*);
    const char* finish;
};

// The levels of tags as a WITH clause "levels(tag_id, userid, tag_key)": each tag of `tags` (a
// query of id, userid and tag_key) under its own key and the key of every level above it.
std::string tagLevels(const std::string& tags) {
    return "WITH RECURSIVE walk(tag_id, userid, tag_key, rest) AS (SELECT id, userid, '', "
           "tag_key || '/' FROM (" +
           tags +
           ") UNION ALL SELECT tag_id, userid, tag_key || CASE tag_key WHEN '' THEN '' ELSE "
           "'/' END || substr(rest, 1, instr(rest, '/') - 1), substr(rest, instr(rest, '/') + "
           "1) FROM walk WHERE rest <> ''), levels AS (SELECT tag_id, userid, tag_key FROM walk "
           "WHERE tag_key <> '') ";
}

// Files the favourites of `links` (a query of favourite_id and tag_id) under every level of the
// tags of `tags`.
std::string fileLinks(const std::string& tags, const std::string& links) {
    return "INSERT OR IGNORE INTO tag_filing(userid, tag_key, favourite_id, tag_id) " +
           tagLevels(tags) +
           "SELECT levels.userid, levels.tag_key, links.favourite_id, levels.tag_id FROM levels "
           "JOIN (" +
           links + ") links ON links.tag_id = levels.tag_id ORDER BY 1, 2, 3;";
}

// Each favourite filed under each of its tags and every level above them ("work/clients/acme"
// under work, work/clients and itself) by the user and in id order, so that a filter on a tag
// with its subtree is one range of the key, in page order. A favourite with two tags below
// "work" is filed there twice, once by each (tag_id). Triggers keep it: whatever statement
// writes the links or the tags, in whichever order, the filing follows.
const std::string TagFiling =
    "CREATE TABLE tag_filing ("
    "  userid TEXT NOT NULL,"
    "  tag_key TEXT NOT NULL,"
    "  favourite_id INTEGER NOT NULL,"
    "  tag_id INTEGER NOT NULL,"
    "  PRIMARY KEY (userid, tag_key, favourite_id, tag_id)"
    ") WITHOUT ROWID;"
    "CREATE INDEX tag_filing_by_link ON tag_filing(tag_id, favourite_id);" +
    fileLinks("SELECT id, userid, tag_key FROM tags", "SELECT favourite_id, tag_id FROM "
                                                      "favourite_tags") +
    // How many favourites are filed under each level, each once however many of its tags file
    // it there: the count a filter by one tag shows, without counting thousands of entries.
    "CREATE TABLE tag_counts ("
    "  userid TEXT NOT NULL,"
    "  tag_key TEXT NOT NULL,"
    "  favourites INTEGER NOT NULL,"
    "  PRIMARY KEY (userid, tag_key)"
    ") WITHOUT ROWID;"
    "INSERT INTO tag_counts SELECT userid, tag_key, count(DISTINCT favourite_id) FROM tag_filing "
    "GROUP BY userid, tag_key;"
    "CREATE TRIGGER filing_counted AFTER INSERT ON tag_filing WHEN NOT EXISTS (SELECT 1 FROM "
    "tag_filing WHERE userid = NEW.userid AND tag_key = NEW.tag_key AND favourite_id = "
    "NEW.favourite_id AND tag_id <> NEW.tag_id) BEGIN INSERT INTO tag_counts(userid, tag_key, "
    "favourites) VALUES (NEW.userid, NEW.tag_key, 1) ON CONFLICT DO UPDATE SET favourites = "
    "favourites + 1; END;"
    "CREATE TRIGGER filing_uncounted AFTER DELETE ON tag_filing WHEN NOT EXISTS (SELECT 1 FROM "
    "tag_filing WHERE userid = OLD.userid AND tag_key = OLD.tag_key AND favourite_id = "
    "OLD.favourite_id) BEGIN UPDATE tag_counts SET favourites = favourites - 1 WHERE userid = "
    "OLD.userid AND tag_key = OLD.tag_key; DELETE FROM tag_counts WHERE userid = OLD.userid AND "
    "tag_key = OLD.tag_key AND favourites <= 0; END;"
    "CREATE TRIGGER link_filed AFTER INSERT ON favourite_tags BEGIN " +
    fileLinks("SELECT id, userid, tag_key FROM tags WHERE id = NEW.tag_id",
              "SELECT NEW.favourite_id AS favourite_id, NEW.tag_id AS tag_id") +
    " END;"
    "CREATE TRIGGER link_unfiled AFTER DELETE ON favourite_tags BEGIN "
    "DELETE FROM tag_filing WHERE tag_id = OLD.tag_id AND favourite_id = OLD.favourite_id; END;"
    "CREATE TRIGGER link_refiled AFTER UPDATE ON favourite_tags BEGIN "
    "DELETE FROM tag_filing WHERE tag_id = OLD.tag_id AND favourite_id = OLD.favourite_id; " +
    fileLinks("SELECT id, userid, tag_key FROM tags WHERE id = NEW.tag_id",
              "SELECT NEW.favourite_id AS favourite_id, NEW.tag_id AS tag_id") +
    " END;"
    // A tag made after its links (as a bulk copy may) files them then.
    "CREATE TRIGGER tag_filed AFTER INSERT ON tags BEGIN " +
    fileLinks("SELECT NEW.id AS id, NEW.userid AS userid, NEW.tag_key AS tag_key",
              "SELECT favourite_id, tag_id FROM favourite_tags WHERE tag_id = NEW.id") +
    " END;"
    "CREATE TRIGGER tag_unfiled AFTER DELETE ON tags BEGIN "
    "DELETE FROM tag_filing WHERE tag_id = OLD.id; END;"
    "CREATE TRIGGER tag_refiled AFTER UPDATE OF id, userid, tag_key ON tags BEGIN "
    "DELETE FROM tag_filing WHERE tag_id = OLD.id; " +
    fileLinks("SELECT NEW.id AS id, NEW.userid AS userid, NEW.tag_key AS tag_key",
              "SELECT favourite_id, tag_id FROM favourite_tags WHERE tag_id = NEW.id") +
    " END;"
    // Search entries keyed by their owner (see ownedDocument), without the prefix indexes that
    // keyed words make useless: the earlier entries, their words each owner word and word.
    "CREATE VIRTUAL TABLE owned_search USING fts5("
    "  title, address, tags, note, owner, tokenize = 'unicode61 remove_diacritics 2');" +
    [] {
        std::string columns;
        for (const char* column : {"title", "address", "tags", "note"})
            columns += std::string(", CASE ") + column + " WHEN '' THEN '' ELSE owner || replace(" +
                       column + ", ' ', ' ' || owner) END";
        return "INSERT INTO owned_search(rowid, title, address, tags, note, owner) SELECT rowid" +
               columns + ", owner FROM favourites_search;";
    }() +
    "DROP TABLE favourites_search;"
    "ALTER TABLE owned_search RENAME TO favourites_search;";

// Each entry takes the schema from version (index) to version (index + 1). Append, never edit:
// a database in the field may stand at any earlier version.
const Migration Migrations[] = {
    {"CREATE TABLE favourites ("
     "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
     "  userid TEXT NOT NULL,"
     "  title TEXT NOT NULL,"
     "  url TEXT NOT NULL,"
     "  created_at INTEGER NOT NULL"
     ");"
     "CREATE INDEX favourites_by_user ON favourites(userid, id);",
     nullptr, nullptr},
    // Notes, tags (the favourite's own list for showing it; the tags table with a count per tag
    // and the links for filtering), the per-user total, title order and full-text search. The
    // search entry holds the words already folded (see Folding.h); the tokenizer's own folding
    // only adds to it.
    {"ALTER TABLE favourites ADD COLUMN modified_at INTEGER NOT NULL DEFAULT 0;"
     "ALTER TABLE favourites ADD COLUMN note TEXT NOT NULL DEFAULT '';"
     "ALTER TABLE favourites ADD COLUMN tags TEXT NOT NULL DEFAULT '';"
     "ALTER TABLE favourites ADD COLUMN sort_title TEXT NOT NULL DEFAULT '';"
     "UPDATE favourites SET modified_at = created_at;"
     "CREATE TABLE tags ("
     "  id INTEGER PRIMARY KEY,"
     "  userid TEXT NOT NULL,"
     "  name TEXT NOT NULL,"
     "  tag_key TEXT NOT NULL,"
     "  uses INTEGER NOT NULL,"
     "  UNIQUE (userid, tag_key)"
     ");"
     "CREATE TABLE favourite_tags ("
     "  tag_id INTEGER NOT NULL,"
     "  favourite_id INTEGER NOT NULL,"
     "  PRIMARY KEY (tag_id, favourite_id)"
     ") WITHOUT ROWID;"
     "CREATE INDEX favourite_tags_by_favourite ON favourite_tags(favourite_id, tag_id);"
     "CREATE TABLE owners (userid TEXT PRIMARY KEY, favourites INTEGER NOT NULL) WITHOUT ROWID;"
     "INSERT INTO owners SELECT userid, count(*) FROM favourites GROUP BY userid;"
     "CREATE VIRTUAL TABLE favourites_search USING fts5("
     "  title, address, tags, note, owner,"
     "  tokenize = 'unicode61 remove_diacritics 2', prefix = '2 3');",
     indexExistingRows,
     "CREATE INDEX favourites_by_title ON favourites(userid, sort_title, id);"
     // The tag list of a page from the index alone.
     "CREATE INDEX tags_listed ON tags(userid, tag_key, uses, name);"},
    {TagFiling.c_str(), nullptr, nullptr},
};
static_assert(std::size(Migrations) == FavouritesStore::SchemaVersion);

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

// The match score: the weight of the column of every place a word of the query is found, so
// that a title match outranks a note match. Like PostgreSQL's ts_rank it needs nothing but the
// row itself; bm25 would count every favourite of every user that has a common word, for each
// search.
void matchScore(const Fts5ExtensionApi* api, Fts5Context* fts, sqlite3_context* context, int argc,
                sqlite3_value** weights) {
    int found = 0;
    if (api->xInstCount(fts, &found) != SQLITE_OK) {
        sqlite3_result_error(context, "cannot read the match", -1);
        return;
    }
    double score = 0;
    for (int i = 0; i < found; ++i) {
        int phrase = 0;
        int column = 0;
        int offset = 0;
        if (api->xInst(fts, i, &phrase, &column, &offset) == SQLITE_OK && column < argc)
            score += sqlite3_value_double(weights[column]);
    }
    // Lower first, as bm25 and the page key have it.
    sqlite3_result_double(context, -score);
}

void addMatchScore(sqlite3* db) {
    fts5_api* api = nullptr;
    Statement find(db, "SELECT fts5(?1)");
    if (sqlite3_bind_pointer(find.handle(), 1, &api, "fts5_api_ptr", nullptr) != SQLITE_OK)
        throw StoreError("database: no full-text search");
    find.step();
    if (!api || api->xCreateFunction(api, "match_score", nullptr, matchScore, nullptr) != SQLITE_OK)
        throw StoreError("database: no full-text search");
}

Favourite favouriteAt(const Statement& row) {
    return {row.integer(0),
            row.text(1),
            row.text(2),
            row.integer(3),
            row.integer(4),
            row.text(5),
            splitStoredTags(row.text(6))};
}

class Writer final : public StoreWriter {
public:
    Writer(sqlite3* db, std::map<std::string, sqlite3_stmt*>& prepared)
        : m_db(db), m_prepared(prepared), m_now(nowSeconds()) {}

    std::int64_t insert(std::string_view userId, const FavouriteFields& fields) override {
        return insertRow(userId, fields, m_now, m_now);
    }

    void update(std::string_view userId, std::int64_t id, const FavouriteFields& fields) override {
        Statement row = statement("UPDATE favourites SET title = ?, url = ?, note = ?, tags = ?, "
                                  "sort_title = ?, modified_at = ? WHERE id = ?");
        row.bind(1, fields.title);
        row.bind(2, fields.url);
        row.bind(3, fields.note);
        row.bind(4, joinTags(fields.tags));
        row.bind(5, titleSortKey(fields.title));
        row.bind(6, m_now);
        row.bind(7, id);
        row.step();
        Statement search =
            statement("UPDATE favourites_search SET title = ?2, address = ?3, tags = ?4, "
                      "note = ?5, owner = ?6 WHERE rowid = ?1");
        bindSearch(search, userId, id, fields);
        search.step();
    }

    void erase(std::int64_t id) override {
        Statement row = statement("DELETE FROM favourites WHERE id = ?");
        row.bind(1, id);
        row.step();
        Statement search = statement("DELETE FROM favourites_search WHERE rowid = ?");
        search.bind(1, id);
        search.step();
    }

    std::vector<Favourite> load(std::string_view userId,
                                const std::vector<std::int64_t>& ids) override {
        // The writer holds the database's write lock: nobody else can change these meanwhile.
        Statement row = statement(std::string("SELECT ") + FavouriteColumns +
                                  " FROM favourites f WHERE f.id = ? AND f.userid = ?");
        std::vector<Favourite> found;
        for (const auto id : ids) {
            row.bind(1, id);
            row.bind(2, userId);
            if (row.step())
                found.push_back(favouriteAt(row));
            row.reset();
        }
        return found;
    }

    std::vector<std::int64_t> tagged(std::string_view userId, std::string_view key) override {
        Statement rows =
            statement("SELECT DISTINCT favourite_id FROM tag_filing WHERE userid = ? AND "
                      "tag_key = ?");
        rows.bind(1, userId);
        rows.bind(2, key);
        std::vector<std::int64_t> ids;
        while (rows.step())
            ids.push_back(rows.integer(0));
        return ids;
    }

    void link(std::string_view userId, std::int64_t id, std::string_view name) override {
        Statement tag =
            statement("INSERT INTO tags(userid, name, tag_key, uses) VALUES(?, ?, ?, 1) "
                      "ON CONFLICT(userid, tag_key) DO UPDATE SET uses = uses + 1 "
                      "RETURNING id");
        tag.bind(1, userId);
        tag.bind(2, name);
        tag.bind(3, tagKey(name));
        tag.step();
        const auto tagId = tag.integer(0);
        tag.reset();
        Statement link = statement("INSERT INTO favourite_tags(tag_id, favourite_id) VALUES(?, ?)");
        link.bind(1, tagId);
        link.bind(2, id);
        link.step();
    }

    void unlink(std::string_view userId, std::int64_t id, std::string_view name) override {
        Statement tag =
            statement("UPDATE tags SET uses = uses - 1 WHERE userid = ? AND tag_key = ? "
                      "RETURNING id, uses");
        tag.bind(1, userId);
        tag.bind(2, tagKey(name));
        if (!tag.step())
            return;
        const auto tagId = tag.integer(0);
        const auto uses = tag.integer(1);
        tag.reset();
        Statement link =
            statement("DELETE FROM favourite_tags WHERE tag_id = ? AND favourite_id = ?");
        link.bind(1, tagId);
        link.bind(2, id);
        link.step();
        if (uses <= 0) {
            Statement gone = statement("DELETE FROM tags WHERE id = ?");
            gone.bind(1, tagId);
            gone.step();
        }
    }

    void respell(std::string_view userId, std::string_view name) override {
        Statement tag = statement("UPDATE tags SET name = ? WHERE userid = ? AND tag_key = ?");
        tag.bind(1, name);
        tag.bind(2, userId);
        tag.bind(3, tagKey(name));
        tag.step();
    }

    void countFavourites(std::string_view userId, std::int64_t delta) override {
        Statement owner = statement("INSERT INTO owners(userid, favourites) VALUES(?, ?) ON "
                                    "CONFLICT(userid) DO UPDATE SET favourites = favourites + "
                                    "excluded.favourites");
        owner.bind(1, userId);
        owner.bind(2, delta);
        owner.step();
    }

    // The bulk steps: the same statements, prepared once, run in the one transaction; in
    // process, a row costs no round trip.
    void addresses(std::string_view userId,
                   const std::function<void(std::int64_t, std::string_view)>& each) override {
        Statement rows = statement("SELECT id, url FROM favourites WHERE userid = ? ORDER BY id");
        rows.bind(1, userId);
        while (rows.step()) {
            const auto* url = sqlite3_column_text(rows.handle(), 1);
            each(rows.integer(0), std::string_view(reinterpret_cast<const char*>(url),
                                                   static_cast<std::size_t>(
                                                       sqlite3_column_bytes(rows.handle(), 1))));
        }
    }

    std::vector<std::int64_t>
    insertMany(std::string_view userId, const std::vector<ImportedFavourite>& favourites) override {
        std::vector<std::int64_t> ids;
        ids.reserve(favourites.size());
        for (const auto& favourite : favourites) {
            const auto& fields = favourite.fields;
            const std::int64_t added = favourite.added.value_or(m_now);
            ids.push_back(insertRow(userId, fields, added, favourite.modified.value_or(added)));
        }
        return ids;
    }

    void linkMany(std::string_view userId,
                  const std::vector<std::pair<std::int64_t, std::string>>& links) override {
        for (const auto& [id, name] : links)
            link(userId, id, name);
    }

    void redate(const std::vector<std::pair<std::int64_t, std::int64_t>>& createdAt) override {
        for (const auto& [id, date] : createdAt) {
            Statement row = statement("UPDATE favourites SET created_at = ? WHERE id = ?");
            row.bind(1, date);
            row.bind(2, id);
            row.step();
        }
    }

private:
    // The row and its search entry; the new id.
    std::int64_t insertRow(std::string_view userId, const FavouriteFields& fields,
                           std::int64_t createdAt, std::int64_t modifiedAt) {
        Statement row =
            statement("INSERT INTO favourites(userid, title, url, created_at, modified_at, "
                      "note, tags, sort_title) VALUES(?, ?, ?, ?, ?, ?, ?, ?)");
        row.bind(1, userId);
        row.bind(2, fields.title);
        row.bind(3, fields.url);
        row.bind(4, createdAt);
        row.bind(5, modifiedAt);
        row.bind(6, fields.note);
        row.bind(7, joinTags(fields.tags));
        row.bind(8, titleSortKey(fields.title));
        row.step();
        const auto id = sqlite3_last_insert_rowid(m_db);
        Statement search =
            statement("INSERT INTO favourites_search(rowid, title, address, tags, note, "
                      "owner) VALUES(?, ?, ?, ?, ?, ?)");
        bindSearch(search, userId, id, fields);
        search.step();
        return id;
    }

    // Prepared once for the writing connection: every change uses the same few statements.
    Statement statement(const std::string& sql) {
        auto found = m_prepared.find(sql);
        if (found == m_prepared.end()) {
            sqlite3_stmt* prepared = nullptr;
            if (sqlite3_prepare_v3(m_db, sql.c_str(), static_cast<int>(sql.size()),
                                   SQLITE_PREPARE_PERSISTENT, &prepared, nullptr) != SQLITE_OK)
                throw StoreError(std::string("database prepare: ") + sqlite3_errmsg(m_db));
            found = m_prepared.emplace(sql, prepared).first;
        }
        return Statement(m_db, found->second);
    }

    static void bindSearch(Statement& search, std::string_view userId, std::int64_t id,
                           const FavouriteFields& fields) {
        search.bind(1, id);
        const std::string owner = ownerWord(userId);
        search.bind(2, ownedDocument(owner, searchDocument(fields.title)));
        search.bind(3, ownedDocument(owner, searchDocument(fields.url)));
        search.bind(4, ownedDocument(owner, searchDocument(joinTags(fields.tags))));
        search.bind(5, ownedDocument(owner, searchDocument(fields.note)));
        search.bind(6, owner);
    }

    sqlite3* m_db;
    std::map<std::string, sqlite3_stmt*>& m_prepared;
    std::int64_t m_now;
};

} // namespace

// A reading connection of the pool for as long as it lives.
class SqliteStore::Reader {
public:
    explicit Reader(SqliteStore& store) : m_store(store) {
        std::unique_lock lock(store.m_readMutex);
        store.m_readerReleased.wait(
            lock, [&] { return !store.m_idleReaders.empty() || store.m_readers < MaxReaders; });
        if (!store.m_idleReaders.empty()) {
            m_db = store.m_idleReaders.back();
            store.m_idleReaders.pop_back();
            m_prepared = &store.m_prepared[m_db];
            return;
        }
        ++store.m_readers;
        lock.unlock();
        try {
            m_db = openConnection(store.m_file, SQLITE_OPEN_READWRITE);
            exec(m_db, "PRAGMA query_only=ON;");
            exec(m_db, ReaderCache);
            addMatchScore(m_db);
            lock.lock();
            m_prepared = &store.m_prepared[m_db];
            lock.unlock();
        } catch (...) {
            sqlite3_close(m_db);
            lock.lock();
            --store.m_readers;
            store.m_readerReleased.notify_one();
            throw;
        }
    }
    ~Reader() {
        {
            std::lock_guard lock(m_store.m_readMutex);
            m_store.m_idleReaders.push_back(m_db);
        }
        m_store.m_readerReleased.notify_one();
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    sqlite3* db() const { return m_db; }

    Statement statement(const std::string& sql) {
        auto found = m_prepared->find(sql);
        if (found == m_prepared->end()) {
            // The texts vary only with the shape of a query (how many tags, a search or none):
            // a bound that no one reaches in use, against a client sending every shape there is.
            if (m_prepared->size() >= 64) {
                for (auto& [text, prepared] : *m_prepared)
                    sqlite3_finalize(prepared);
                m_prepared->clear();
            }
            sqlite3_stmt* prepared = nullptr;
            if (sqlite3_prepare_v3(m_db, sql.c_str(), static_cast<int>(sql.size()),
                                   SQLITE_PREPARE_PERSISTENT, &prepared, nullptr) != SQLITE_OK)
                throw StoreError(std::string("database prepare: ") + sqlite3_errmsg(m_db));
            found = m_prepared->emplace(sql, prepared).first;
        }
        return Statement(m_db, found->second);
    }

private:
    SqliteStore& m_store;
    sqlite3* m_db = nullptr;
    std::map<std::string, sqlite3_stmt*>* m_prepared = nullptr;
};

SqliteStore::SqliteStore(const std::filesystem::path& dataDir) : m_file(dataDir / FileName) {
    makePrivateFolder(dataDir);
    m_writer = openConnection(m_file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    try {
        ::chmod(m_file.c_str(), 0600);
        exec(m_writer, "PRAGMA journal_mode=WAL;");
        // FULL also syncs the WAL on every commit: an acknowledged add survives a power cut.
        exec(m_writer, "PRAGMA synchronous=FULL;");
        // Statement journals in memory: a change in a savepoint whose triggers file its tags
        // would otherwise write one to a temporary file for every statement.
        exec(m_writer, "PRAGMA temp_store=MEMORY;");
        migrate();
    } catch (...) {
        sqlite3_close(m_writer);
        throw;
    }
}

SqliteStore::~SqliteStore() {
    for (auto& [reader, statements] : m_prepared)
        for (auto& [text, prepared] : statements)
            sqlite3_finalize(prepared);
    for (sqlite3* reader : m_idleReaders)
        sqlite3_close(reader);
    for (auto& [text, prepared] : m_writerPrepared)
        sqlite3_finalize(prepared);
    sqlite3_close(m_writer);
}

void SqliteStore::migrate() {
    // IMMEDIATE takes the write lock first, so two processes opening the same new database
    // cannot both run the same migration. The whole upgrade is one transaction: a failure
    // halfway leaves the database as it was.
    exec(m_writer, "BEGIN IMMEDIATE;");
    try {
        Statement query(m_writer, "PRAGMA user_version;");
        query.step();
        const auto version = query.integer(0);
        query.reset();
        if (version > SchemaVersion)
            throw StoreError(m_file.string() + " was written by a newer release (schema " +
                             std::to_string(version) + ")");
        for (auto v = version; v < SchemaVersion; ++v) {
            const auto& migration = Migrations[v];
            exec(m_writer, migration.sql);
            if (migration.after)
                migration.after(m_writer);
            if (migration.finish)
                exec(m_writer, migration.finish);
        }
        if (version != SchemaVersion)
            exec(m_writer, ("PRAGMA user_version=" + std::to_string(SchemaVersion) + ";").c_str());
        exec(m_writer, "COMMIT;");
    } catch (...) {
        sqlite3_exec(m_writer, "ROLLBACK;", nullptr, nullptr, nullptr);
        throw;
    }
}

struct SqliteStore::PendingChange {
    const std::function<void(StoreWriter&)>* steps = nullptr;
    std::exception_ptr error;
    bool done = false;
};

void SqliteStore::change(const std::function<void(StoreWriter&)>& steps) {
    PendingChange mine;
    mine.steps = &steps;
    std::unique_lock lock(m_queueMutex);
    m_queue.push_back(&mine);
    while (!mine.done) {
        if (m_committing) {
            m_committed.wait(lock);
            continue;
        }
        // This thread commits every change waiting now, its own among them.
        m_committing = true;
        const auto changes = std::move(m_queue);
        m_queue.clear();
        lock.unlock();
        commitTogether(changes);
        lock.lock();
        m_committing = false;
        m_committed.notify_all();
    }
    if (mine.error)
        std::rethrow_exception(mine.error);
}

// One transaction for all the changes: each runs in a savepoint, so that one that fails is
// undone alone and the others still commit. Each change learns its outcome only after the
// commit.
void SqliteStore::commitTogether(const std::vector<PendingChange*>& changes) {
    auto failAll = [&](std::exception_ptr error) {
        for (auto* change : changes) {
            if (!change->error)
                change->error = error;
            change->done = true;
        }
    };
    try {
        exec(m_writer, "BEGIN IMMEDIATE;");
    } catch (...) {
        failAll(std::current_exception());
        return;
    }
    try {
        for (auto* change : changes) {
            exec(m_writer, "SAVEPOINT change;");
            try {
                Writer writer(m_writer, m_writerPrepared);
                (*change->steps)(writer);
            } catch (...) {
                change->error = std::current_exception();
                // Undoing the savepoint fails only with the transaction itself broken; then
                // nothing of it commits.
                exec(m_writer, "ROLLBACK TO change;");
            }
            exec(m_writer, "RELEASE change;");
        }
        exec(m_writer, "COMMIT;");
    } catch (...) {
        sqlite3_exec(m_writer, "ROLLBACK;", nullptr, nullptr, nullptr);
        const auto error = std::current_exception();
        for (auto* change : changes)
            change->error = error;
    }
    for (auto* change : changes)
        change->done = true;
}

FavouritesPage SqliteStore::list(std::string_view userId, const ListQuery& query) {
    const auto statements = listStatements(Dialect::Sqlite, userId, query);
    Reader reader(*this);
    // One statement, so the rows and the count come from the same commit.
    FavouritesPage page;
    std::string lastSortTitle;
    double lastScore = 0;
    Statement rows = reader.statement(statements.rows.sql);
    rows.bind(statements.rows.parameters);
    while (rows.step()) {
        if (page.favourites.size() == query.limit) {
            const auto& last = page.favourites.back();
            page.next = pageKeyOf(statements.order, last.id, lastSortTitle, lastScore);
            break;
        }
        page.favourites.push_back(favouriteAt(rows));
        lastSortTitle = rows.text(7);
        lastScore = rows.real(8);
        page.total = rows.integer(9);
    }
    return page;
}

std::optional<Favourite> SqliteStore::find(std::string_view userId, std::int64_t id) {
    Reader reader(*this);
    Statement row = reader.statement(std::string("SELECT ") + FavouriteColumns +
                                     " FROM favourites f WHERE f.id = ? AND f.userid = ?");
    row.bind(1, id);
    row.bind(2, userId);
    if (!row.step())
        return std::nullopt;
    return favouriteAt(row);
}

std::vector<TagCount> SqliteStore::tags(std::string_view userId) {
    Reader reader(*this);
    Statement rows = reader.statement(
        "SELECT name, uses FROM tags WHERE userid = ? AND uses > 0 ORDER BY tag_key");
    rows.bind(1, userId);
    std::vector<TagCount> tags;
    while (rows.step())
        tags.push_back({rows.text(0), rows.integer(1)});
    return tags;
}

std::int64_t SqliteStore::count(std::string_view userId) {
    Reader reader(*this);
    Statement query =
        reader.statement("SELECT coalesce((SELECT favourites FROM owners WHERE userid = ?), 0)");
    query.bind(1, userId);
    query.step();
    return query.integer(0);
}

} // namespace pellamark::service
