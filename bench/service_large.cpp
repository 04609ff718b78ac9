// The favourites service at scale: one user with 100,000 favourites among 1,000,000 of 10,000
// users, generated straight into a store (one transaction of plain SQL, as no person adds a
// million favourites through a page), then measured through HTTP with N clients at once.
//
//   bench_service --generate --database LOCATION
//   bench_service --large --target HOST:PORT [--clients N] [--seconds T]
//
// The data: "big" has 100,000 favourites; "small-0" to "small-999" have 20 each (the pages of
// scripts/bench-service.sh's wrk run); "user-0" to "user-8998" share the rest. Titles and
// addresses are made of words drawn with the skew of real text, a tenth of the favourites have a
// note, each has 1 to 4 tags out of some 400, hierarchical ones among them; "work/clients" has
// 5,000 of big's favourites below it.
#include "service/store/FavouritesStore.h"
#include "service/store/Folding.h"
#include "service/store/ListSql.h"
#include "service/store/Tags.h"

#include <httplib.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace pellamark::service;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int Favourites = 1'000'000;
constexpr int Users = 10'000;
constexpr int BigFavourites = 100'000;
constexpr int SmallUsers = 1'000;
constexpr int SmallFavourites = 20;
const char* const BigUser = "big";

const std::vector<std::string> Words = {
    "the",       "how",        "guide",      "best",       "new",           "review",
    "garden",    "news",       "recipe",     "home",       "tips",          "music",
    "learn",     "free",       "blog",       "online",     "city",          "travel",
    "photo",     "design",     "world",      "project",    "data",          "food",
    "health",    "tomato",     "code",       "time",       "school",        "market",
    "sport",     "history",    "science",    "book",       "film",          "art",
    "open",      "source",     "linux",      "kitchen",    "bread",         "coffee",
    "café",      "crème",      "weather",    "map",        "bike",          "train",
    "river",     "mountain",   "forest",     "tomorrow",   "today",         "football",
    "chess",     "guitar",     "piano",      "python",     "rust",          "server",
    "network",   "security",   "privacy",    "money",      "bank",          "tax",
    "insurance", "family",     "children",   "garden",     "plants",        "flowers",
    "roses",     "soil",       "compost",    "seeds",      "harvest",       "autumn",
    "winter",    "spring",     "summer",     "holiday",    "hotel",         "flight",
    "beach",     "island",     "lake",       "camping",    "hiking",        "running",
    "yoga",      "doctor",     "dentist",    "pharmacy",   "library",       "museum",
    "theatre",   "concert",    "festival",   "podcast",    "video",         "stream",
    "game",      "puzzle",     "crossword",  "journal",    "diary",         "calendar",
    "notes",     "email",      "office",     "meeting",    "report",        "invoice",
    "budget",    "shop",       "store",      "sale",       "discount",      "furniture",
    "lamp",      "chair",      "table",      "sofa",       "paint",         "tools",
    "repair",    "car",        "engine",     "tyres",      "electric",      "solar",
    "energy",    "heating",    "water",      "recipes",    "soup",          "salad",
    "cake",      "chocolate",  "cheese",     "wine",       "beer",          "tea",
    "dinner",    "lunch",      "breakfast",  "vegan",      "baking",        "pasta",
    "pizza",     "curry",      "spices",     "market",     "farm",          "animals",
    "dogs",      "cats",       "birds",      "fish",       "horses",        "zoo",
    "park",      "playground", "university", "course",     "lecture",       "exam",
    "maths",     "physics",    "chemistry",  "biology",    "language",      "french",
    "german",    "spanish",    "italian",    "dictionary", "translation",   "poetry",
    "novel",     "author",     "writing",    "printing",   "camera",        "lens",
    "drone",     "phone",      "laptop",     "keyboard",   "monitor",       "printer",
    "backup",    "cloud",      "storage",    "database",   "query",         "index",
    "search",    "engine",     "browser",    "extension",  "theme",         "font",
    "icons",     "colours",    "tutorial",   "example",    "documentation", "manual",
    "reference", "forum",      "community",  "support",    "issue",         "release",
    "update",    "download",   "install",    "package",    "version",       "changelog",
    "roadmap",   "team",       "work",       "job",        "career",        "interview",
    "salary",    "startup",    "company",    "client",     "customer",      "contract",
    "lawyer",    "court",      "election",   "council",    "neighbourhood", "tomb",
    "church",    "castle",     "bridge",     "tower",      "street",        "square",
    "station",   "airport",    "harbour"};

const std::vector<std::string> Sites = {
    "example",    "kitchenlab", "gardenweb",     "citynews",   "openwiki",    "devnotes",
    "travelhub",  "photobay",   "bookshelf",     "filmclub",   "musicbox",    "sportdaily",
    "healthline", "codeforge",  "linuxdocs",     "rustlang",   "pyguide",     "mapworld",
    "bikeshop",   "trainline",  "weatherly",     "recipebox",  "cafeplaza",   "homefix",
    "toolshed",   "energywise", "moneytalk",     "banknow",    "schoolnet",   "unicourse",
    "langbase",   "poemhouse",  "novelist",      "camerashop", "phonezone",   "cloudbox",
    "dbnotes",    "searchly",   "fontfarm",      "themeshop",  "supportdesk", "forumland",
    "jobboard",   "careerhub",  "startupweekly", "lawcorner",  "councilnews", "castletours"};
const std::vector<std::string> Domains = {"org", "com", "net", "de", "fr", "co.uk", "io", "eu"};

// The words titles, addresses and notes are made of: the words above, among several thousand
// made-up ones standing for the names and rare words real titles are full of, so that a word
// such as "garden" is in about one title of a hundred and fifty, not in one of ten.
std::vector<std::string> vocabulary() {
    const std::vector<std::string> syllables = {"ka", "lo", "ven", "mar", "ti",  "sel", "dro",
                                                "pa", "nu", "rim", "go",  "bes", "tal", "fi",
                                                "or", "em", "qua", "zen", "hul", "ri"};
    std::vector<std::string> out;
    std::size_t real = 0;
    for (std::size_t made = 0; out.size() < 6000; ++made) {
        const bool takeReal = real < Words.size() && (out.size() < 5 || out.size() % 15 == 0);
        if (takeReal) {
            out.push_back(Words[real++]);
            continue;
        }
        std::string word;
        for (std::size_t n = made, parts = 2 + made % 2; parts > 0; --parts, n /= syllables.size())
            word += syllables[n % syllables.size()];
        out.push_back(word);
    }
    return out;
}

const std::vector<std::string> Vocabulary = vocabulary();

// Draws index i of n with a probability falling as 1 / (i + 1), as words do in text.
class Skewed {
public:
    explicit Skewed(std::size_t n) {
        double sum = 0;
        for (std::size_t i = 0; i < n; ++i)
            m_cumulative.push_back(sum += 1.0 / double(i + 1));
    }
    std::size_t operator()(std::mt19937_64& random) const {
        std::uniform_real_distribution<double> pick(0, m_cumulative.back());
        return std::lower_bound(m_cumulative.begin(), m_cumulative.end(), pick(random)) -
               m_cumulative.begin();
    }

private:
    std::vector<double> m_cumulative;
};

struct Generated {
    std::int64_t id;
    std::string userId;
    std::string title;
    std::string url;
    std::int64_t createdAt;
    std::string note;
    std::vector<std::string> tags;
};

// The tag pool: top-level words, and below some of them a second and a third level.
std::vector<std::string> tagPool() {
    std::vector<std::string> tags;
    const std::vector<std::string> parents = {"home", "work",  "reading", "cooking", "travel",
                                              "dev",  "music", "family",  "money",   "learning"};
    for (const auto& word : std::vector<std::string>(Words.begin() + 40, Words.begin() + 200))
        tags.push_back(word);
    for (const auto& parent : parents)
        for (int i = 0; i < 20; ++i)
            tags.push_back(parent + "/" + Words[(i * 7 + parent.size()) % Words.size()]);
    for (int i = 0; i < 40; ++i)
        tags.push_back("dev/" + Words[200 + i % 40] + "/" + Words[60 + i]);
    // Kept for big's 5,000 ("work/clients" and below), never drawn for anyone else.
    std::erase_if(tags, [](const std::string& tag) { return tag.starts_with("work/clients"); });
    std::sort(tags.begin(), tags.end());
    tags.erase(std::unique(tags.begin(), tags.end(),
                           [](const auto& a, const auto& b) { return tagKey(a) == tagKey(b); }),
               tags.end());
    return tags;
}

class Generator {
public:
    Generator()
        : m_words(Words.size()), m_sites(Sites.size()), m_tags(tagPool()),
          m_tagPick(m_tags.size()) {
        // Which user each favourite is: big's 100,000 and the small users' 20 each spread over
        // the whole id range, as years of adding would.
        m_owners.reserve(Favourites);
        for (int i = 0; i < BigFavourites; ++i)
            m_owners.push_back(-1);
        for (int u = 0; u < SmallUsers; ++u)
            for (int i = 0; i < SmallFavourites; ++i)
                m_owners.push_back(-2 - u);
        const int others = Users - 1 - SmallUsers;
        for (int i = 0; static_cast<int>(m_owners.size()) < Favourites; ++i)
            m_owners.push_back(i % others);
        std::shuffle(m_owners.begin(), m_owners.end(), m_random);
    }

    const std::vector<std::string>& pool() const { return m_tags; }

    Generated next(std::int64_t id) {
        const int owner = m_owners[static_cast<std::size_t>(id - 1)];
        Generated favourite;
        favourite.id = id;
        favourite.userId = owner == -1  ? std::string(BigUser)
                           : owner < -1 ? "small-" + std::to_string(-2 - owner)
                                        : "user-" + std::to_string(owner);
        const int length = 3 + int(m_random() % 6);
        for (int w = 0; w < length; ++w) {
            std::string word = Vocabulary[m_words(m_random)];
            if (w == 0)
                word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
            favourite.title += (w ? " " : "") + word;
        }
        const auto& site = Sites[m_sites(m_random)];
        favourite.url = "https://" + std::string(m_random() % 3 ? "www." : "") + site + "." +
                        Domains[m_random() % Domains.size()] + "/";
        for (int p = 0, parts = 1 + int(m_random() % 3); p < parts; ++p)
            favourite.url += (p ? "-" : "") + Vocabulary[m_words(m_random)];
        if (m_random() % 4 == 0)
            favourite.url += "?id=" + std::to_string(m_random() % 100000);
        favourite.createdAt = 1'500'000'000 + id * 300;
        if (m_random() % 10 == 0) {
            for (int w = 0, words = 5 + int(m_random() % 20); w < words; ++w)
                favourite.note += (w ? " " : "") + Vocabulary[m_words(m_random)];
            favourite.note += ".";
        }
        const int tags = 1 + int(m_random() % 4);
        if (owner == -1 && m_big++ % 20 == 0)
            favourite.tags.push_back("work/clients/" + Sites[m_big / 20 % 25]);
        while (static_cast<int>(favourite.tags.size()) < tags) {
            const auto& tag = m_tags[m_tagPick(m_random)];
            if (std::find(favourite.tags.begin(), favourite.tags.end(), tag) ==
                favourite.tags.end())
                favourite.tags.push_back(tag);
        }
        return favourite;
    }

private:
    std::mt19937_64 m_random{20261209};
    Skewed m_words;
    Skewed m_sites;
    std::vector<std::string> m_tags;
    Skewed m_tagPick;
    std::vector<int> m_owners;
    int m_big = 0;
};

// Tags per user as the store keeps them: an id, the name, and the favourites linked.
struct TagRows {
    std::map<std::pair<std::string, std::string>, std::int64_t> ids; // (user, key) -> id
    std::vector<std::tuple<std::int64_t, std::string, std::string, std::string>> rows;
    std::vector<std::int64_t> uses;

    std::int64_t idOf(const std::string& userId, const std::string& name) {
        const auto key = std::make_pair(userId, tagKey(name));
        auto it = ids.find(key);
        if (it == ids.end()) {
            const auto id = static_cast<std::int64_t>(rows.size()) + 1;
            it = ids.emplace(key, id).first;
            rows.emplace_back(id, userId, name, key.second);
            uses.push_back(0);
        }
        ++uses[static_cast<std::size_t>(it->second - 1)];
        return it->second;
    }
};

void check(sqlite3* db, int rc) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
}

int generateSqlite(const std::filesystem::path& folder) {
    openStore(StoreLocation::sqlite(folder), 1); // the schema
    sqlite3* db = nullptr;
    check(db, sqlite3_open((folder / "favourites.db").c_str(), &db));
    check(db, sqlite3_exec(db, "PRAGMA synchronous=OFF; BEGIN;", nullptr, nullptr, nullptr));
    auto prepare = [&](const char* sql) {
        sqlite3_stmt* statement = nullptr;
        check(db, sqlite3_prepare_v2(db, sql, -1, &statement, nullptr));
        return statement;
    };
    auto text = [](sqlite3_stmt* s, int i, const std::string& value) {
        sqlite3_bind_text(s, i, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    };
    auto run = [&](sqlite3_stmt* s) {
        check(db, sqlite3_step(s));
        sqlite3_reset(s);
    };
    sqlite3_stmt* row = prepare("INSERT INTO favourites(id, userid, title, url, created_at, "
                                "modified_at, note, tags, sort_title) VALUES(?,?,?,?,?,?,?,?,?)");
    sqlite3_stmt* search = prepare("INSERT INTO favourites_search(rowid, title, address, tags, "
                                   "note, owner) VALUES(?,?,?,?,?,?)");
    sqlite3_stmt* link = prepare("INSERT INTO favourite_tags(tag_id, favourite_id) VALUES(?,?)");
    Generator generator;
    TagRows tags;
    std::map<std::string, std::int64_t> owners;
    for (std::int64_t id = 1; id <= Favourites; ++id) {
        const auto f = generator.next(id);
        sqlite3_bind_int64(row, 1, id);
        text(row, 2, f.userId);
        text(row, 3, f.title);
        text(row, 4, f.url);
        sqlite3_bind_int64(row, 5, f.createdAt);
        sqlite3_bind_int64(row, 6, f.createdAt);
        text(row, 7, f.note);
        text(row, 8, joinTags(f.tags));
        text(row, 9, titleSortKey(f.title));
        run(row);
        sqlite3_bind_int64(search, 1, id);
        const std::string owner = ownerWord(f.userId);
        text(search, 2, ownedDocument(owner, searchDocument(f.title)));
        text(search, 3, ownedDocument(owner, searchDocument(f.url)));
        text(search, 4, ownedDocument(owner, searchDocument(joinTags(f.tags))));
        text(search, 5, ownedDocument(owner, searchDocument(f.note)));
        text(search, 6, owner);
        run(search);
        for (const auto& tag : f.tags) {
            sqlite3_bind_int64(link, 1, tags.idOf(f.userId, tag));
            sqlite3_bind_int64(link, 2, id);
            run(link);
        }
        ++owners[f.userId];
    }
    sqlite3_stmt* tag =
        prepare("INSERT INTO tags(id, userid, name, tag_key, uses) VALUES(?,?,?,?,?)");
    for (const auto& [id, userId, name, key] : tags.rows) {
        sqlite3_bind_int64(tag, 1, id);
        text(tag, 2, userId);
        text(tag, 3, name);
        text(tag, 4, key);
        sqlite3_bind_int64(tag, 5, tags.uses[static_cast<std::size_t>(id - 1)]);
        run(tag);
    }
    sqlite3_stmt* owner = prepare("INSERT INTO owners(userid, favourites) VALUES(?,?)");
    for (const auto& [userId, count] : owners) {
        text(owner, 1, userId);
        sqlite3_bind_int64(owner, 2, count);
        run(owner);
    }
    for (auto* statement : {row, search, link, tag, owner})
        sqlite3_finalize(statement);
    check(db, sqlite3_exec(db,
                           "COMMIT; ANALYZE; INSERT INTO favourites_search(favourites_search) "
                           "VALUES('optimize');",
                           nullptr, nullptr, nullptr));
    sqlite3_close(db);
    return 0;
}

void pgRun(PGconn* conn, const std::string& sql) {
    PGresult* result = PQexec(conn, sql.c_str());
    const auto status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_COPY_IN) {
        std::fprintf(stderr, "postgresql: %s: %s\n", sql.substr(0, 80).c_str(),
                     PQresultErrorMessage(result));
        std::exit(1);
    }
    PQclear(result);
}

// A value for COPY's text format.
std::string copyField(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\' || c == '\t' || c == '\n' || c == '\r')
            out += c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r";
        else
            out += c;
    }
    return out;
}

class Copy {
public:
    Copy(PGconn* conn, const std::string& sql) : m_conn(conn) { pgRun(conn, sql); }
    void row(const std::vector<std::string>& fields) {
        for (std::size_t i = 0; i < fields.size(); ++i)
            m_buffer += (i ? "\t" : "") + copyField(fields[i]);
        m_buffer += '\n';
        if (m_buffer.size() > (1 << 20))
            flush();
    }
    void end() {
        flush();
        PQputCopyEnd(m_conn, nullptr);
        PGresult* result = PQgetResult(m_conn);
        if (PQresultStatus(result) != PGRES_COMMAND_OK) {
            std::fprintf(stderr, "postgresql copy: %s\n", PQresultErrorMessage(result));
            std::exit(1);
        }
        PQclear(result);
    }

private:
    void flush() {
        PQputCopyData(m_conn, m_buffer.data(), static_cast<int>(m_buffer.size()));
        m_buffer.clear();
    }
    PGconn* m_conn;
    std::string m_buffer;
};

int generatePostgres(const std::string& connection) {
    openStore(StoreLocation::postgres(connection), 1); // the schema
    PGconn* conn = PQconnectdb(connection.c_str());
    if (PQstatus(conn) != CONNECTION_OK) {
        std::fprintf(stderr, "postgresql: %s\n", PQerrorMessage(conn));
        return 1;
    }
    pgRun(conn, "BEGIN");
    pgRun(conn, "DROP INDEX favourites_search");
    pgRun(conn, "CREATE TEMPORARY TABLE staging (id bigint, userid text, title text, url text, "
                "created_at bigint, note text, tags text, sort_title text, s_title text, s_tags "
                "text, s_url text, s_note text, s_owner text) ON COMMIT DROP");
    Generator generator;
    TagRows tags;
    std::map<std::string, std::int64_t> owners;
    std::vector<std::pair<std::int64_t, std::int64_t>> links;
    {
        Copy copy(conn, "COPY staging FROM STDIN");
        for (std::int64_t id = 1; id <= Favourites; ++id) {
            const auto f = generator.next(id);
            const std::string joined = joinTags(f.tags);
            copy.row({std::to_string(id), f.userId, f.title, f.url, std::to_string(f.createdAt),
                      f.note, joined, titleSortKey(f.title), searchDocument(f.title),
                      searchDocument(joined), searchDocument(f.url), searchDocument(f.note),
                      ownerWord(f.userId)});
            for (const auto& tag : f.tags)
                links.emplace_back(tags.idOf(f.userId, tag), id);
            ++owners[f.userId];
        }
        copy.end();
    }
    pgRun(conn, "INSERT INTO favourites (id, userid, title, url, created_at, modified_at, note, "
                "tags, sort_title, search) SELECT id, userid, title, url, created_at, created_at, "
                "note, tags, sort_title, setweight(to_tsvector('simple', s_title), 'A') || "
                "setweight(to_tsvector('simple', s_tags), 'B') || setweight(to_tsvector('simple', "
                "s_url), 'C') || setweight(to_tsvector('simple', s_note), 'D') || "
                "to_tsvector('simple', s_owner) FROM staging");
    {
        Copy copy(conn, "COPY tags (id, userid, name, tag_key, uses) FROM STDIN");
        for (const auto& [id, userId, name, key] : tags.rows)
            copy.row({std::to_string(id), userId, name, key,
                      std::to_string(tags.uses[static_cast<std::size_t>(id - 1)])});
        copy.end();
    }
    {
        Copy copy(conn, "COPY favourite_tags (tag_id, favourite_id) FROM STDIN");
        for (const auto& [tag, favourite] : links)
            copy.row({std::to_string(tag), std::to_string(favourite)});
        copy.end();
    }
    {
        Copy copy(conn, "COPY owners (userid, favourites) FROM STDIN");
        for (const auto& [userId, count] : owners)
            copy.row({userId, std::to_string(count)});
        copy.end();
    }
    pgRun(conn, "CREATE INDEX favourites_search ON favourites USING gin (search) WITH "
                "(gin_pending_list_limit = 256)");
    pgRun(conn, "SELECT setval(pg_get_serial_sequence('favourites', 'id'), (SELECT max(id) FROM "
                "favourites))");
    pgRun(conn, "SELECT setval(pg_get_serial_sequence('tags', 'id'), (SELECT max(id) FROM tags))");
    pgRun(conn, "COMMIT");
    pgRun(conn, "VACUUM ANALYZE");
    PQfinish(conn);
    return 0;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1,
                           static_cast<std::size_t>(p * double(values.size() - 1) + 0.5))];
}

struct Figure {
    std::string name;
    std::vector<double> millis;
    long errors = 0;
    std::string sample; // the last answer, for its checks
};

std::string pagePath(const std::string& userId, const std::string& more = {}) {
    return "/app/fav.asp?userid=" + userId + "&emailid=bench@example.org&pubid=2&version=1.00.00" +
           more;
}

std::string nextLink(const std::string& page) {
    static const std::regex next(R"re(<a rel="next" href="([^"]*)")re");
    std::smatch match;
    if (!std::regex_search(page, match, next))
        return {};
    std::string link = match[1];
    for (auto at = link.find("&amp;"); at != std::string::npos; at = link.find("&amp;", at + 1))
        link.replace(at, 5, "&");
    return link;
}

long countOf(const std::string& page) {
    static const std::regex count(R"re(<p class="count">(\d+) favourites?</p>)re");
    std::smatch match;
    return std::regex_search(page, match, count) ? std::atol(match[1].str().c_str()) : -1;
}

int measure(const std::string& host, int port, int clients, double seconds) {
    auto connect = [&] {
        auto cli = std::make_unique<httplib::Client>(host, port);
        cli->set_keep_alive(true);
        cli->set_read_timeout(30);
        // A form's head and body go out in two writes: without this, every post would wait for
        // the server's delayed acknowledgement (40 ms).
        cli->set_tcp_nodelay(true);
        return cli;
    };
    // The 500th page's address, by following 499 "next" links from the first.
    auto walker = connect();
    std::string path = pagePath(BigUser);
    for (int page = 1; page < 500 && !path.empty(); ++page) {
        auto res = walker->Get(path.c_str());
        path = res && res->status == 200 ? nextLink(res->body) : std::string();
    }
    if (path.empty()) {
        std::fprintf(stderr, "large: no 500th page\n");
        return 1;
    }
    const std::string page500 = path;

    struct Kind {
        const char* name;
        std::function<httplib::Result(httplib::Client&, long)> send;
        int expected;
    };
    const std::string form = "application/x-www-form-urlencoded";
    std::int64_t editId = 0;
    {
        auto res = walker->Get(pagePath(BigUser).c_str());
        static const std::regex id(R"re(name="id" value="(\d+)")re");
        std::smatch match;
        if (res && std::regex_search(res->body, match, id))
            editId = std::atoll(match[1].str().c_str());
    }
    const std::vector<Kind> kinds = {
        {"first page (100 newest)",
         [&](httplib::Client& c, long) { return c.Get(pagePath(BigUser).c_str()); }, 200},
        {"500th page by its key", [&](httplib::Client& c, long) { return c.Get(page500.c_str()); },
         200},
        {"search \"garden tom\"",
         [&](httplib::Client& c, long) {
             return c.Get(pagePath(BigUser, "&q=garden+tom").c_str());
         },
         200},
        {"tag work/clients (5,000)",
         [&](httplib::Client& c, long) {
             return c.Get(pagePath(BigUser, "&tag=work%2Fclients").c_str());
         },
         200},
        {"page of a 20-favourite user",
         [&](httplib::Client& c, long n) {
             return c.Get(pagePath("small-" + std::to_string(n % SmallUsers)).c_str());
         },
         200},
        {"edit",
         [&](httplib::Client& c, long n) {
             return c.Post(pagePath(BigUser).c_str(),
                           "action=edit&id=" + std::to_string(editId) + "&title=Edited+" +
                               std::to_string(n) +
                               "&url=https%3A%2F%2Fedited.example.org%2F&tags=edited+work%"
                               "2Fclients%2Facme&note=n",
                           form.c_str());
         },
         303},
        {"add",
         [&](httplib::Client& c, long n) {
             return c.Post(pagePath(BigUser).c_str(),
                           "action=add&title=Added+site+" + std::to_string(n) +
                               "&url=https%3A%2F%2Fadded.example.org%2F&tags=added",
                           form.c_str());
         },
         303},
    };

    std::printf("clients %d, %.0f s per figure\n", clients, seconds);
    std::printf("%-30s %9s %9s %9s %8s %7s\n", "figure", "requests", "p50 ms", "p99 ms", "errors",
                "total");
    int failures = 0;
    for (const auto& kind : kinds) {
        std::vector<Figure> results(static_cast<std::size_t>(clients));
        std::vector<std::thread> threads;
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        for (int c = 0; c < clients; ++c)
            threads.emplace_back([&, c] {
                auto cli = connect();
                auto& result = results[static_cast<std::size_t>(c)];
                for (long n = c; Clock::now() < deadline; n += clients) {
                    const auto start = Clock::now();
                    auto res = kind.send(*cli, n);
                    const double ms =
                        std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                    if (!res || res->status != kind.expected) {
                        ++result.errors;
                        continue;
                    }
                    result.millis.push_back(ms);
                    if (kind.expected == 200)
                        result.sample = std::move(res->body);
                }
            });
        for (auto& thread : threads)
            thread.join();
        Figure all;
        for (auto& result : results) {
            all.millis.insert(all.millis.end(), result.millis.begin(), result.millis.end());
            all.errors += result.errors;
            if (!result.sample.empty())
                all.sample = result.sample;
        }
        const long total = all.sample.empty() ? -1 : countOf(all.sample);
        std::printf("%-30s %9zu %9.2f %9.2f %8ld %7s\n", kind.name, all.millis.size(),
                    percentile(all.millis, 0.5), percentile(all.millis, 0.99), all.errors,
                    total < 0 ? "-" : std::to_string(total).c_str());
        failures += all.errors > 0;
    }
    return failures ? 1 : 0;
}

} // namespace

int runLarge(int argc, char** argv) {
    std::string mode = argv[1];
    std::string database;
    std::string target;
    int clients = 8;
    double seconds = 5;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--database")
            database = argv[i + 1];
        else if (arg == "--target")
            target = argv[i + 1];
        else if (arg == "--clients")
            clients = std::atoi(argv[i + 1]);
        else if (arg == "--seconds")
            seconds = std::atof(argv[i + 1]);
    }
    if (mode == "--generate") {
        auto parsed = parseStoreLocation(database);
        if (const auto* problem = std::get_if<std::string>(&parsed)) {
            std::fprintf(stderr, "--database: %s\n", problem->c_str());
            return 2;
        }
        const auto& location = std::get<StoreLocation>(parsed);
        const auto start = Clock::now();
        const int rc = location.kind == StoreLocation::Kind::Sqlite
                           ? generateSqlite(location.folder)
                           : generatePostgres(location.connection);
        std::printf("generated %d favourites of %d users in %.0f s\n", Favourites, Users,
                    std::chrono::duration<double>(Clock::now() - start).count());
        return rc;
    }
    const auto colon = target.rfind(':');
    if (colon == std::string::npos || clients < 1) {
        std::fprintf(stderr, "Usage: %s --large --target HOST:PORT [--clients N] [--seconds T]\n",
                     argv[0]);
        return 2;
    }
    return measure(target.substr(0, colon), std::atoi(target.c_str() + colon + 1), clients,
                   seconds);
}
