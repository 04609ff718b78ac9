// The store rules, through the store interface, on both stores: what a page lists and counts in
// each order and filter, what tags, renames, edits and changes of several at once do, and the
// upgrade of a database written by the first release.
#include "ServiceTestSupport.h"
#include "service/store/ListSql.h"
#include "service/store/SqliteStore.h"
#include "service/store/Tags.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <tuple>

using namespace pellamark::service;
using namespace pellamark::service::testing;

namespace {

const std::string User = "abcde0123456789";

FavouriteFields fields(std::string title, std::string tags = {}, std::string note = {},
                       std::string url = "https://example.org/") {
    FavouriteFields out{std::move(title), std::move(url), std::move(note), {}};
    for (std::size_t at = 0; at < tags.size();) {
        const auto space = tags.find(' ', at);
        out.tags.push_back(tags.substr(at, space - at));
        at = space == std::string::npos ? tags.size() : space + 1;
    }
    return out;
}

std::string titles(const std::vector<Favourite>& favourites) {
    std::string out;
    for (const auto& favourite : favourites)
        out += (out.empty() ? "" : "|") + favourite.title;
    return out;
}

std::string tagList(const std::vector<TagCount>& tags) {
    std::string out;
    for (const auto& tag : tags)
        out += (out.empty() ? "" : " ") + tag.name + "=" + std::to_string(tag.count);
    return out;
}

class StoreFixture : public ::testing::Test {
protected:
    void open(StoreKind kind) {
        if (const auto why = TestStore::unavailable(kind))
            GTEST_SKIP() << *why;
        location.emplace(kind);
        store = openStore(location->location(), 4);
    }

    // The titles the query lists, walking every page of `limit`, and the total each page says.
    std::string walk(ListQuery query, std::size_t limit, std::int64_t* total = nullptr) {
        query.limit = limit;
        std::vector<Favourite> all;
        for (int pages = 0; pages < 100; ++pages) {
            auto page = store->list(User, query);
            if (total)
                *total = page.total;
            all.insert(all.end(), page.favourites.begin(), page.favourites.end());
            if (!page.next)
                break;
            EXPECT_EQ(page.favourites.size(), limit);
            query.after = page.next;
        }
        return titles(all);
    }

    std::optional<TestStore> location;
    std::unique_ptr<FavouritesStore> store;
};

class Store : public StoreFixture, public ::testing::WithParamInterface<StoreKind> {
protected:
    void SetUp() override { open(GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(Stores, Store, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         [](const auto& info) { return storeKindName(info.param); });

TEST_P(Store, OrdersPageByKeyAndCountTheWholeFilter) {
    for (const char* title : {"banana", "Apple", "cherry", "Éclair", "apple pie"})
        store->add(User, fields(title, std::string(title).starts_with("a") ||
                                               std::string(title).starts_with("A")
                                           ? "fruit/pome"
                                           : "fruit"));
    store->add("someone-else", fields("avocado", "fruit"));

    std::int64_t total = 0;
    ListQuery query;
    EXPECT_EQ(walk(query, 2, &total), "apple pie|Éclair|cherry|Apple|banana");
    EXPECT_EQ(total, 5);
    query.order = Order::Oldest;
    EXPECT_EQ(walk(query, 2), "banana|Apple|cherry|Éclair|apple pie");
    // Case and accents do not put "Éclair" after every plain letter.
    query.order = Order::Title;
    EXPECT_EQ(walk(query, 2), "Apple|apple pie|banana|cherry|Éclair");
    query.tags = {"FRUIT/pome"};
    EXPECT_EQ(walk(query, 1, &total), "Apple|apple pie");
    EXPECT_EQ(total, 2);
    query.search = "pie";
    EXPECT_EQ(walk(query, 1, &total), "apple pie");
    EXPECT_EQ(total, 1);
    EXPECT_EQ(store->count(User), 5);
}

struct SearchCase {
    const char* query;
    const char* expected; // titles, best match first
};

void PrintTo(const SearchCase& c, std::ostream* out) {
    *out << c.query;
}

class Search : public StoreFixture,
               public ::testing::WithParamInterface<std::tuple<StoreKind, SearchCase>> {
protected:
    void SetUp() override { open(std::get<0>(GetParam())); }
};

// The word "garden" in the title, the tags, the address and the note: best matches first in
// that order.
TEST_P(Search, MatchesEveryWordTheLastAsAPrefixBestFirst) {
    store->add(User, fields("Compost", "", "from the garden", "https://compost.example.org/"));
    store->add(User, fields("Seeds", "", "", "https://garden.shop.example.org/"));
    store->add(User, fields("Shed", "garden hobby"));
    store->add(User, fields("Garden tools"));
    store->add(User, fields("Crème brûlée"));
    store->add("someone-else", fields("Garden of theirs"));
    ListQuery query;
    query.search = std::get<1>(GetParam()).query;
    query.order = Order::BestMatch;
    std::int64_t total = -1;
    const std::string expected = std::get<1>(GetParam()).expected;
    EXPECT_EQ(walk(query, 2, &total), expected);
    EXPECT_EQ(total, expected.empty() ? 0 : std::count(expected.begin(), expected.end(), '|') + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Search,
    ::testing::Combine(
        ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
        ::testing::Values(
            // Every word must match; the last is also a prefix, the others not.
            SearchCase{"garden", "Garden tools|Shed|Seeds|Compost"},
            SearchCase{"gard", "Garden tools|Shed|Seeds|Compost"}, SearchCase{"gard tools", ""},
            SearchCase{"garden too", "Garden tools"}, SearchCase{"tools garden", "Garden tools"},
            // Case and accents, both in the text and in the query.
            SearchCase{"CRÈME", "Crème brûlée"}, SearchCase{"creme brulee", "Crème brûlée"},
            // Punctuation only separates words; the address and the tags count.
            SearchCase{"shop.example", "Seeds"}, SearchCase{"hobby", "Shed"}, SearchCase{"zzz", ""},
            // No word at all is no search: everything, newest first.
            SearchCase{"\"'*:&|!()", "Crème brûlée|Garden tools|Shed|Seeds|Compost"})),
    [](const auto& info) {
        return storeKindName(std::get<0>(info.param)) + "_" + std::to_string(info.index);
    });

// Whatever the user's id (the key of this one starts with digits and an "e") and the script.
TEST_P(Store, SearchFindsAUsersOwnWordsInAnyScript) {
    const std::string user = "uuuuu0123456789";
    store->add(user, fields("東京 café", "日本 été"));
    store->add(User, fields("東京 café"));
    for (const char* words : {"cafe", "東京", "日本", "ete", "caf"}) {
        ListQuery query;
        query.search = words;
        EXPECT_EQ(store->list(user, query).total, 1) << words;
    }
}

TEST_P(Store, TagsAreKeptAsTypedMatchedWithoutCaseAndRenamedWithTheirSubtree) {
    const auto a = store->add(User, fields("a", "Work/Clients/Acme home"));
    const auto b = store->add(User, fields("b", "work/clients/beta"));
    const auto c = store->add(User, fields("c", "WORK job"));
    store->add("someone-else", fields("x", "work"));
    EXPECT_EQ(tagList(store->tags(User)),
              "home=1 job=1 WORK=1 Work/Clients/Acme=1 work/clients/beta=1");

    ListQuery query;
    query.order = Order::Oldest;
    query.tags = {"work"};
    EXPECT_EQ(walk(query, 10), "a|b|c");
    query.tags = {"work/CLIENTS"};
    EXPECT_EQ(walk(query, 10), "a|b");
    query.tags = {"work/cli"}; // a prefix of a level is not its parent
    EXPECT_EQ(walk(query, 10), "");
    query.tags = {"work", "home"};
    EXPECT_EQ(walk(query, 10), "a");

    // Onto a tag that is there already (job): the two become one on c, counted once.
    EXPECT_EQ(store->renameTag(User, "work", "job"), 3u);
    EXPECT_EQ(tagList(store->tags(User)), "home=1 job=1 job/Clients/Acme=1 job/clients/beta=1");
    EXPECT_EQ(store->find(User, c)->tags, std::vector<std::string>{"job"});
    EXPECT_EQ(store->find(User, a)->tags, (std::vector<std::string>{"job/Clients/Acme", "home"}));
    // Only the case changes: the tag list shows the new spelling.
    EXPECT_EQ(store->renameTag(User, "JOB/clients", "job/Customers"), 2u);
    EXPECT_EQ(store->renameTag(User, "Job", "Job"), 3u);
    EXPECT_EQ(tagList(store->tags(User)), "home=1 Job=1 Job/Customers/Acme=1 Job/Customers/beta=1");

    EXPECT_EQ(store->removeTag(User, "job/customers"), 2u);
    EXPECT_EQ(tagList(store->tags(User)), "home=1 Job=1");
    EXPECT_EQ(store->find(User, b)->tags, std::vector<std::string>{});
    query.tags = {"job/customers"};
    EXPECT_EQ(walk(query, 10), "");
    EXPECT_EQ(tagList(store->tags("someone-else")), "work=1");
}

TEST_P(Store, EditKeepsTheCreationDateAndChangesOnlyTheUsersOwn) {
    const auto id = store->add(User, fields("old", "a b", "note"));
    const auto other = store->add("someone-else", fields("theirs", "a"));
    const auto created = store->find(User, id)->createdAt;
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));

    EXPECT_TRUE(
        store->edit(User, id, fields("new title", "b c", "new note", "https://new.example/")));
    const auto edited = store->find(User, id);
    ASSERT_TRUE(edited);
    EXPECT_EQ(edited->title, "new title");
    EXPECT_EQ(edited->url, "https://new.example/");
    EXPECT_EQ(edited->note, "new note");
    EXPECT_EQ(edited->tags, (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(edited->createdAt, created);
    EXPECT_GT(edited->modifiedAt, created);
    EXPECT_EQ(tagList(store->tags(User)), "b=1 c=1");
    ListQuery query;
    query.search = "old";
    EXPECT_EQ(walk(query, 10), "") << "the search index still has the old title";
    query.search = "new";
    EXPECT_EQ(walk(query, 10), "new title");

    // Someone else's id: refused, and nothing of either user changes.
    EXPECT_FALSE(store->edit(User, other, fields("taken")));
    EXPECT_FALSE(store->remove(User, std::vector<std::int64_t>{id, other}));
    EXPECT_FALSE(store->tag(User, {id, other}, {"z"}));
    EXPECT_EQ(store->find(User, id)->tags, (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(store->find("someone-else", other)->title, "theirs");
    EXPECT_EQ(store->count(User), 1);
}

TEST_P(Store, SeveralAtOnceTagUntagAndRemoveTogether) {
    std::vector<std::int64_t> ids;
    for (const char* title : {"one", "two", "three"})
        ids.push_back(store->add(User, fields(title, "keep")));
    EXPECT_EQ(store->tag(User, {ids[0], ids[1], ids[1]}, {"Picked", "keep"}), 2u);
    EXPECT_EQ(tagList(store->tags(User)), "keep=3 Picked=2");
    EXPECT_EQ(store->untag(User, {ids[0], ids[2]}, {"PICKED"}), 1u);
    EXPECT_EQ(tagList(store->tags(User)), "keep=3 Picked=1");
    // More tags than a favourite may have: refused, nothing changed.
    std::vector<std::string> many;
    for (int i = 0; i < 20; ++i)
        many.push_back("t" + std::to_string(i));
    EXPECT_THROW(store->tag(User, {ids[0], ids[1]}, many), ChangeRefused);
    EXPECT_EQ(tagList(store->tags(User)), "keep=3 Picked=1");

    EXPECT_EQ(store->remove(User, std::vector<std::int64_t>{ids[0], ids[1]}), 2u);
    EXPECT_EQ(store->count(User), 1);
    EXPECT_EQ(tagList(store->tags(User)), "keep=1");
    ListQuery query;
    query.search = "one";
    EXPECT_EQ(walk(query, 10), "");
}

// Changes at the same time, some refused inside the store (too many tags): each refused one
// changes nothing, and every other one is kept, whichever changes were committed together.
TEST_P(Store, ChangesAtOnceEachKeptOrRefusedAlone) {
    // Tagging both is refused at the second, once the first has its new tag.
    const auto target = store->add(User, fields("target"));
    FavouriteFields full = fields("full");
    for (std::size_t i = 0; i < MaxTagsPerFavourite; ++i)
        full.tags.push_back("t" + std::to_string(i));
    const auto fullId = store->add(User, full);
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                if ((t + i) % 2 == 0) {
                    store->add(User, fields("added", "kept"));
                    continue;
                }
                try {
                    store->tag(User, {target, fullId}, {"x"});
                } catch (const ChangeRefused&) {
                    ++refused;
                }
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(refused, 40);
    EXPECT_EQ(store->count(User), 42);
    EXPECT_EQ(store->tags(User).front().name + "=" +
                  std::to_string(store->tags(User).front().count),
              "kept=40");
    EXPECT_EQ(store->find(User, target)->tags, std::vector<std::string>{});
    EXPECT_EQ(tagList(store->tags(User)).find("x="), std::string::npos);
    std::int64_t total = 0;
    ListQuery query;
    query.tags = {"kept"};
    walk(query, 100, &total);
    EXPECT_EQ(total, 40);
}

// Runs SQL straight on the store's database, as a bulk import would write it; the first field
// of the first row, or empty.
std::string runSql(const TestStore& store, const std::string& sql) {
    if (store.location().kind == StoreLocation::Kind::Postgres)
        return sharedCluster().sql(store.location().connection, sql);
    sqlite3* db = nullptr;
    std::string first;
    EXPECT_EQ(sqlite3_open((store.location().folder / SqliteStore::FileName).c_str(), &db),
              SQLITE_OK);
    const auto keepFirst = [](void* out, int columns, char** values, char**) {
        auto& text = *static_cast<std::string*>(out);
        if (text.empty() && columns > 0 && values[0])
            text = values[0];
        return 0;
    };
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), keepFirst, &first, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
    return first;
}

// After every kind of change, a filter on a tag lists exactly the favourites with that tag or
// one below it, whatever wrote the tags: the store's steps or plain SQL on its tables.
TEST_P(Store, TagFilterFollowsEveryChangeOfTheTags) {
    const auto a = store->add(User, fields("a", "Work/Clients/Acme home"));
    const auto b = store->add(User, fields("b", "work/clients/beta work/x"));
    const auto c = store->add(User, fields("c", "WORK"));
    store->add("someone-else", fields("theirs", "work/clients"));
    const std::vector<std::pair<const char*, std::function<void()>>> steps = {
        {"added", [] {}},
        {"renamed", [&] { store->renameTag(User, "work/clients", "job"); }},
        {"untagged",
         [&] {
             store->untag(User, {a, b}, {"home", "work/x"});
         }},
        {"edited", [&] { store->edit(User, c, fields("c", "job/Clients/x work/y")); }},
        {"tag removed", [&] { store->removeTag(User, "job/clients"); }},
        {"tagged",
         [&] {
             store->tag(User, {a, b, c}, {"work/z"});
         }},
        {"removed", [&] { store->remove(User, b); }},
    };
    const char* const filters[] = {"work", "work/clients", "work/x",      "work/y", "work/z",
                                   "job",  "job/acme",     "job/clients", "home"};
    for (const auto& [step, change] : steps) {
        change();
        for (const char* filter : filters) {
            std::string expected;
            for (const auto& favourite : store->list(User)) {
                bool below = false;
                for (const auto& tag : favourite.tags)
                    below = below || isInSubtree(tagKey(tag), filter);
                if (below)
                    expected = favourite.title + (expected.empty() ? "" : "|") + expected;
            }
            ListQuery query;
            query.order = Order::Oldest;
            query.tags = {filter};
            std::int64_t total = 0;
            EXPECT_EQ(walk(query, 1, &total), expected) << step << ", filter " << filter;
            EXPECT_EQ(total, std::count(expected.begin(), expected.end(), '|') + !expected.empty())
                << step << ", filter " << filter;
        }
    }

    // A link written before its tag, then the tag's key changed, then its links and the tag
    // gone, all by plain statements.
    const std::string id = std::to_string(a);
    runSql(*location, "INSERT INTO favourite_tags (tag_id, favourite_id) VALUES (900, " + id +
                          "); INSERT INTO tags (id, userid, name, tag_key, uses) VALUES (900, '" +
                          User + "', 'Bulk/Made', 'bulk/made', 1)");
    ListQuery query;
    query.tags = {"bulk"};
    EXPECT_EQ(walk(query, 10), "a");
    runSql(*location, "UPDATE tags SET tag_key = 'other/made' WHERE id = 900");
    EXPECT_EQ(walk(query, 10), "");
    query.tags = {"other", "work/z"};
    EXPECT_EQ(walk(query, 10), "a");
    runSql(*location, "DELETE FROM favourite_tags WHERE tag_id = 900; DELETE FROM tags WHERE id "
                      "= 900");
    EXPECT_EQ(walk(query, 10), "");

    // Nothing is left filed once nothing is tagged.
    store->remove(User, std::vector<std::int64_t>{a, c});
    store->removeTag("someone-else", "work");
    query.tags = {"work"};
    EXPECT_EQ(walk(query, 10), "");
    EXPECT_EQ(store->list("someone-else").front().tags, std::vector<std::string>{});
    EXPECT_EQ(runSql(*location, "SELECT count(*) FROM tag_filing"), "0");
}

// The schema of the first release, made as it made it, with favourites in it.
void makeFirstReleaseDatabase(const TestStore& store) {
    const char* const rows = "INSERT INTO favourites (userid, title, url, created_at) VALUES "
                             "('abcde0123456789', 'Crème brûlée', 'https://dessert.example/', 10),"
                             "('abcde0123456789', 'Zebra crossing', 'https://zebra.example/', 20),"
                             "('other', 'Theirs', 'https://other.example/', 30);";
    if (store.location().kind == StoreLocation::Kind::Sqlite) {
        std::filesystem::create_directories(store.location().folder);
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((store.location().folder / SqliteStore::FileName).c_str(), &db),
                  SQLITE_OK);
        const std::string sql =
            std::string("PRAGMA journal_mode=WAL;"
                        "CREATE TABLE favourites ("
                        "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
                        "  userid TEXT NOT NULL,"
                        "  title TEXT NOT NULL,"
                        "  url TEXT NOT NULL,"
                        "  created_at INTEGER NOT NULL);"
                        "CREATE INDEX favourites_by_user ON favourites(userid, id);"
                        "PRAGMA user_version=1;") +
            rows;
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    } else {
        sharedCluster().sql(
            store.location().connection,
            std::string("CREATE TABLE favourites ("
                        "  id bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
                        "  userid text NOT NULL,"
                        "  title text NOT NULL,"
                        "  url text NOT NULL,"
                        "  created_at bigint NOT NULL);"
                        "CREATE INDEX favourites_by_user ON favourites (userid, id);"
                        "CREATE TABLE pellamark_schema (version integer NOT NULL);"
                        "INSERT INTO pellamark_schema VALUES (1);") +
                rows);
    }
}

class Upgrade : public ::testing::TestWithParam<StoreKind> {};

INSTANTIATE_TEST_SUITE_P(Stores, Upgrade, ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         [](const auto& info) { return storeKindName(info.param); });

TEST_P(Upgrade, AFirstReleaseDatabaseKeepsEveryFavouriteAndCanBeSearched) {
    if (const auto why = TestStore::unavailable(GetParam()))
        GTEST_SKIP() << *why;
    TestStore location(GetParam());
    makeFirstReleaseDatabase(location);
    auto store = openStore(location.location(), 2);

    const auto all = store->list(User);
    EXPECT_EQ(titles(all), "Zebra crossing|Crème brûlée");
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].createdAt, 10);
    EXPECT_EQ(all[1].modifiedAt, 10);
    EXPECT_EQ(store->count(User), 2);
    EXPECT_EQ(store->count("other"), 1);
    ListQuery query;
    query.search = "creme";
    EXPECT_EQ(titles(store->list(User, query).favourites), "Crème brûlée");
    query.search = "zebra.exa";
    EXPECT_EQ(titles(store->list(User, query).favourites), "Zebra crossing");
    query = {};
    query.order = Order::Title;
    EXPECT_EQ(titles(store->list(User, query).favourites), "Crème brûlée|Zebra crossing");
    // New favourites go on after the old ids, and tags work on the old ones.
    const auto id = store->add(User, fields("new", "t"));
    EXPECT_GT(id, all[0].id);
    EXPECT_EQ(store->tag(User, {all[1].id}, {"t"}), 1u);
    EXPECT_EQ(tagList(store->tags(User)), "t=2");

    query.tags = {"T"};
    EXPECT_EQ(titles(store->list(User, query).favourites), "Crème brûlée|new");

    // Opening it again changes nothing.
    store.reset();
    EXPECT_EQ(openStore(location.location(), 2)->count(User), 3);
}

// A database of the release before this one: tagged favourites, without the tags' filing.
TEST_P(Upgrade, ASecondReleaseDatabaseFilesItsTaggedFavourites) {
    if (const auto why = TestStore::unavailable(GetParam()))
        GTEST_SKIP() << *why;
    TestStore location(GetParam());
    openStore(location.location(), 2)->add(User, fields("deep", "a/b/c d"));
    openStore(location.location(), 2)->add(User, fields("flat", "a"));
    // As that release kept them: no filing, and search entries of plain words.
    const std::string owner = ownerWord(User);
    runSql(location,
           GetParam() == StoreKind::Sqlite
               ? "DROP TRIGGER link_filed; DROP TRIGGER link_unfiled; DROP TRIGGER link_refiled; "
                 "DROP TRIGGER tag_filed; DROP TRIGGER tag_unfiled; DROP TRIGGER tag_refiled; "
                 "DROP TABLE tag_filing; DROP TABLE tag_counts; DROP TABLE favourites_search; "
                 "CREATE VIRTUAL TABLE "
                 "favourites_search USING fts5(title, address, tags, note, owner, tokenize = "
                 "'unicode61 remove_diacritics 2', prefix = '2 3'); INSERT INTO "
                 "favourites_search(rowid, title, address, tags, note, owner) SELECT id, title, "
                 "'', tags, '', '" +
                     owner + "' FROM favourites; PRAGMA user_version=2"
               : "DROP TABLE tag_filing, tag_counts; DROP FUNCTION count_filing, file_links, "
                 "file_tags, tag_levels, "
                 "own_search, owned_query, owned_search, search_key CASCADE; UPDATE favourites "
                 "SET search = setweight(to_tsvector('simple', title), 'A') || "
                 "to_tsvector('simple', '" +
                     owner + "'); UPDATE pellamark_schema SET version = 2");
    auto store = openStore(location.location(), 2);
    ListQuery query;
    query.tags = {"A"};
    EXPECT_EQ(titles(store->list(User, query).favourites), "flat|deep");
    query.tags = {"a/b", "d"};
    EXPECT_EQ(titles(store->list(User, query).favourites), "deep");
    EXPECT_EQ(store->renameTag(User, "a/b", "e"), 1u);
    EXPECT_EQ(titles(store->list(User, query).favourites), "");
    query.tags = {"e/c"};
    EXPECT_EQ(titles(store->list(User, query).favourites), "deep");
    query = {};
    query.search = "DEE";
    EXPECT_EQ(titles(store->list(User, query).favourites), "deep");
    EXPECT_EQ(titles(store->list("someone-else", query).favourites), "");
    // A user id with the characters the index's own syntax quotes.
    const std::string odd = "it's a \\ 'user'";
    store->add(odd, fields("deep sea"));
    EXPECT_EQ(titles(store->list(odd, query).favourites), "deep sea");
    EXPECT_EQ(titles(store->list(User, query).favourites), "deep");
}

} // namespace
