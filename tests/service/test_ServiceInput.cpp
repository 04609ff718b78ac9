// Input rules, option parsing and the store's on-disk guarantees, checked without HTTP.
#include "ServiceTestSupport.h"
#include "service/Options.h"
#include "service/http/Input.h"
#include "service/http/Text.h"
#include "service/store/Folding.h"
#include "service/store/SqliteStore.h"
#include "service/store/Tags.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fstream>
#include <map>
#include <sys/stat.h>

using namespace pellamark::service;
using namespace pellamark::service::testing;

namespace {

struct AddressCase {
    const char* url;
    bool accepted;
};

class AddressRule : public ::testing::TestWithParam<AddressCase> {};

TEST_P(AddressRule, OnlyAbsoluteHttpAddressesWithAHost) {
    EXPECT_EQ(!addressProblem(GetParam().url).has_value(), GetParam().accepted) << GetParam().url;
}

INSTANTIATE_TEST_SUITE_P(
    Table, AddressRule,
    ::testing::Values(
        AddressCase{"http://example.org", true},
        AddressCase{"HTTPS://Example.org/path?q=1#top", true},
        AddressCase{"hTTp://user:pw@host.example:8080/", true},
        AddressCase{"http://[::1]:8480/app", true},
        AddressCase{"https://xn--bcher-kva.example/b\xC3\xBC"
                    "cher",
                    true},
        AddressCase{"javascript:alert(1)", false},
        AddressCase{"javascript://example.org/%0Aalert(1)", false},
        AddressCase{"data:text/html,hi", false}, AddressCase{"file:///etc/passwd", false},
        AddressCase{"mailto:someone@example.org", false},
        AddressCase{"ftp://files.example.org/", false}, AddressCase{"https:///path", false},
        AddressCase{"//example.org/", false}, AddressCase{"example.org", false},
        AddressCase{"http:/example.org", false}, AddressCase{"http://", false},
        AddressCase{"http://:80/", false}, AddressCase{"http://user@/", false},
        AddressCase{"http://[::1/", false}, AddressCase{"http://host:99999/", false},
        AddressCase{"http://host:8o/", false}, AddressCase{"http://exa mple.org/", false},
        AddressCase{"http://example.org/\r\nSet-Cookie:x", false},
        AddressCase{"http://example.org/\xFF", false}, AddressCase{"", false}));

struct TagCase {
    const char* tag;
    bool accepted;
};

class TagRule : public ::testing::TestWithParam<TagCase> {};

TEST_P(TagRule, LettersDigitsAndAFewMarksWithSlashesBetweenLevels) {
    EXPECT_EQ(!tagProblem(GetParam().tag).has_value(), GetParam().accepted) << GetParam().tag;
}

INSTANTIATE_TEST_SUITE_P(
    Table, TagRule,
    ::testing::Values(TagCase{"work", true}, TagCase{"Work/Clients/acme-2", true},
                      TagCase{"c++", true}, TagCase{"v1.2_beta", true},
                      TagCase{"caf\xC3\xA9", true},
                      TagCase{"\xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB8", true},
                      TagCase{"a<b", false}, TagCase{"a\"b", false}, TagCase{"a'b", false},
                      TagCase{"a&b", false}, TagCase{"#tag", false}, TagCase{"a b", false},
                      TagCase{"/work", false}, TagCase{"work/", false}, TagCase{"a//b", false},
                      TagCase{"\xC2\xA0"
                              "nbsp",
                              false},
                      TagCase{"\xE2\x80\x94"
                              "dash",
                              false},
                      TagCase{"", false}));

TEST(TagRules, SplitRenameAndSubtree) {
    EXPECT_EQ(splitTags(" Work, home  WORK,,c++\tx "),
              (std::vector<std::string>{"Work", "home", "c++", "x"}));
    EXPECT_FALSE(tagProblem(std::string(64, 'a')));
    EXPECT_TRUE(tagProblem(std::string(65, 'a')));
    EXPECT_TRUE(isInSubtree("work/clients", "work"));
    EXPECT_FALSE(isInSubtree("workshop", "work"));
    EXPECT_EQ(renamedTag("Work/Clients/Acme", "work/clients", "Jobs"), "Jobs/Acme");
    EXPECT_EQ(renamedTag("WORK", "work", "job"), "job");
    EXPECT_EQ(renamedTag("workshop", "work", "job"), std::nullopt);
    EXPECT_EQ(tagKey("\xC3\x89T\xC3\x89"), "\xC3\xA9t\xC3\xA9"); // case only, accents kept
}

TEST(SearchText, WordsAreFoldedAndSplitAtEverythingButLettersAndDigits) {
    EXPECT_EQ(searchDocument("Cr\xC3\xA8me BR\xC3\x9BL\xC3\x89"
                             "E, \xC5\x92uvre & Stra\xC3\x9F"
                             "e"),
              "creme brulee oeuvre strasse");
    EXPECT_EQ(searchDocument("https://www.Example.org/a-b_c?x=1#top"),
              "https www example org a b c x 1 top");
    EXPECT_EQ(searchDocument("e\xCC\x81t\xC3\xA9 \xCE\x91\xCE\x98\xCE\x97\xCE\x9D\xCE\x91"),
              "ete \xCE\xB1\xCE\xB8\xCE\xB7\xCE\xBD\xCE\xB1"); // a combining accent, Greek capitals
    EXPECT_EQ(searchDocument("\"'*:&|!() -- \xE2\x80\x94"), "");
    EXPECT_LT(titleSortKey("\xC3\xA9"
                           "cole"),
              titleSortKey("Zebra"));
}

TEST(FavouriteInput, TitleIsCleanedAndBothFieldsTrimmed) {
    const auto result =
        checkNewFavourite("  Line one\nline\ttwo \r\n", "\t https://example.org \n");
    const auto* favourite = std::get_if<NewFavourite>(&result);
    ASSERT_NE(favourite, nullptr);
    EXPECT_EQ(favourite->title, "Line one line two");
    EXPECT_EQ(favourite->url, "https://example.org");

    EXPECT_TRUE(std::holds_alternative<std::string>(
        checkNewFavourite("bad \xC3\x28 text", "https://example.org")));

    // A note keeps its lines; other control characters become blanks.
    const auto full = checkFavourite("t", "https://example.org", " one\r\ntwo\x01three ", "a, b");
    ASSERT_TRUE(std::holds_alternative<FavouriteFields>(full));
    EXPECT_EQ(std::get<FavouriteFields>(full).note, "one\ntwo three");
    EXPECT_EQ(std::get<FavouriteFields>(full).tags, (std::vector<std::string>{"a", "b"}));
}

TEST(FieldParsing, PlusIsASpaceOnlyInFormBodies) {
    const auto query = parseFields("userid=abc&emailid=a+b%40x.org&flag&=v&bad=%4G%4", false);
    EXPECT_EQ(fieldValue(query, "emailid"), "a+b@x.org");
    EXPECT_EQ(fieldValue(query, "flag"), "");
    EXPECT_EQ(fieldValue(query, "bad"), "%4G%4");
    EXPECT_EQ(fieldValue(query, "missing"), std::nullopt);

    const auto form = parseFields("title=a+b%2Bc&title=second", true);
    EXPECT_EQ(fieldValue(form, "title"), "a b+c"); // the first of repeated fields wins

    const std::string awkward = "a b&c=d+e/\xC3\xA9";
    EXPECT_EQ(percentDecode(percentEncode(awkward), true), awkward);
}

TEST(TextSafety, HeaderAndLogOutputCannotBreakTheirLine) {
    EXPECT_EQ(headerSafe("/p?a=b c\r\nX: y"), "/p?a=b%20c%0D%0AX:%20y");
    EXPECT_EQ(logSafe("/p\nfake 200"), "/p\\x0Afake 200");
}

Environment fakeEnv(std::map<std::string, std::string> values) {
    return [values = std::move(values)](const std::string& name) -> std::optional<std::string> {
        const auto it = values.find(name);
        return it == values.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
}

TEST(ServiceOptions, DefaultsAndDataFolder) {
    const auto env = fakeEnv({{"HOME", "/home/u"}});
    const auto options = std::get<Options>(parseOptions({}, env));
    EXPECT_EQ(options.host, "127.0.0.1");
    EXPECT_EQ(options.port, 8480);
    EXPECT_EQ(options.store.kind, StoreLocation::Kind::Sqlite);
    EXPECT_EQ(options.store.folder, "/home/u/.local/share/pellamark-service");
    EXPECT_FALSE(options.help);

    EXPECT_EQ(defaultDataDir(fakeEnv({{"HOME", "/home/u"}, {"XDG_DATA_HOME", "/xdg"}})),
              "/xdg/pellamark-service");
    EXPECT_EQ(defaultDataDir(fakeEnv({{"HOME", "/home/u"}, {"XDG_DATA_HOME", "rel"}})),
              "/home/u/.local/share/pellamark-service");
    EXPECT_TRUE(std::holds_alternative<std::string>(parseOptions({}, fakeEnv({}))));
    EXPECT_EQ(std::get<Options>(parseOptions({"--data", "/d"}, fakeEnv({}))).store.folder, "/d");
}

// The options in one line, to compare parsed command lines with the table below.
std::string summary(const Options& options) {
    std::string text = formatAddress(options.host, options.port);
    text += options.store.kind == StoreLocation::Kind::Sqlite
                ? " sqlite:" + options.store.folder.string()
                : " postgresql:" + options.store.connection;
    for (const auto& origin : options.publicOrigins)
        text += " origin:" + origin.text();
    if (options.connectionsPerAddress != 64)
        text += " per-address:" + std::to_string(options.connectionsPerAddress);
    return text;
}

struct OptionCase {
    std::vector<std::string> args;
    std::string expected; // empty: the arguments must be refused
};

void PrintTo(const OptionCase& c, std::ostream* out) {
    for (const auto& arg : c.args)
        *out << arg << (&arg == &c.args.back() ? "" : " ");
}

class CommandLine : public ::testing::TestWithParam<OptionCase> {};

TEST_P(CommandLine, ParsesOrRefuses) {
    const auto& c = GetParam();
    const auto result = parseOptions(c.args, fakeEnv({{"HOME", "/h"}}));
    if (c.expected.empty()) {
        EXPECT_TRUE(std::holds_alternative<std::string>(result))
            << summary(std::get<Options>(result));
        return;
    }
    const auto* options = std::get_if<Options>(&result);
    ASSERT_NE(options, nullptr) << std::get<std::string>(result);
    EXPECT_EQ(summary(*options), c.expected);
}

const std::string HomeStore = " sqlite:/h/.local/share/pellamark-service";

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLine,
    ::testing::Values(
        OptionCase{{"--listen", "0.0.0.0:0"}, "0.0.0.0:0" + HomeStore},
        OptionCase{{"--listen=localhost:9000"}, "localhost:9000" + HomeStore},
        OptionCase{{"--listen", "[::1]:8480"}, "[::1]:8480" + HomeStore},
        OptionCase{{"--listen", "example.org"}, "example.org:80" + HomeStore},
        OptionCase{{"--listen", "h:65536"}, ""}, OptionCase{{"--listen", "h:-1"}, ""},
        OptionCase{{"--listen", "h:"}, ""}, OptionCase{{"--listen", ":80"}, ""},
        OptionCase{{"--listen", "::1:80"}, ""}, OptionCase{{"--listen", "[::1]x"}, ""},
        OptionCase{{"--listen"}, ""}, OptionCase{{"--data"}, ""}, OptionCase{{"--port", "80"}, ""},
        OptionCase{{"extra"}, ""},
        // Where the favourites are kept.
        OptionCase{{"--database", "sqlite:/srv/fav"}, "127.0.0.1:8480 sqlite:/srv/fav"},
        OptionCase{{"--database=postgresql://fav@db.example.org/favourites?sslmode=require"},
                   "127.0.0.1:8480 postgresql:postgresql://fav@db.example.org/favourites"
                   "?sslmode=require"},
        OptionCase{{"--database", "host=/run/postgresql dbname=fav"},
                   "127.0.0.1:8480 postgresql:host=/run/postgresql dbname=fav"},
        OptionCase{{"--database", "postgres://fav:secret@db/fav"}, ""},
        OptionCase{{"--database", "postgresql://fav@db/fav?password=secret"}, ""},
        OptionCase{{"--database", "host=db password=secret"}, ""},
        OptionCase{{"--database", "host='unclosed"}, ""},
        OptionCase{{"--database", "mysql://db/fav"}, ""},
        OptionCase{{"--database", "/srv/fav"}, ""}, OptionCase{{"--database", "sqlite:"}, ""},
        OptionCase{{"--data", "/d", "--database", "sqlite:/e"}, ""},
        // Where browsers reach it, and what one address may hold.
        OptionCase{
            {"--public-origin", "https://Fav.Example.org/", "--public-origin", "http://[::1]:8480"},
            "127.0.0.1:8480" + HomeStore +
                " origin:https://fav.example.org origin:http://[::1]:8480"},
        OptionCase{{"--public-origin", "https://fav.example.org:443"},
                   "127.0.0.1:8480" + HomeStore + " origin:https://fav.example.org"},
        OptionCase{{"--public-origin", "https://fav.example.org/app"}, ""},
        OptionCase{{"--public-origin", "ftp://fav.example.org"}, ""},
        OptionCase{{"--public-origin", "https://me@fav.example.org"}, ""},
        OptionCase{{"--public-origin", "fav.example.org"}, ""},
        OptionCase{{"--connections-per-address", "0"},
                   "127.0.0.1:8480" + HomeStore + " per-address:0"},
        OptionCase{{"--connections-per-address", "-1"}, ""},
        OptionCase{{"--connections-per-address", "many"}, ""}));

int modeOf(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

TEST(FavouritesStoreFiles, PrivateFolderAndFileAndDurableSettings) {
    TempDir dir;
    const auto data = dir.path() / "nested" / "data";
    SqliteStore store(data);
    store.add("u", "t", "https://example.org/");
    EXPECT_EQ(modeOf(data), 0700);
    EXPECT_EQ(modeOf(store.file()), 0600);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(store.file().c_str(), &db), SQLITE_OK);
    auto pragma = [db](const char* sql) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
        std::string value;
        if (sqlite3_step(stmt) == SQLITE_ROW)
            value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        sqlite3_finalize(stmt);
        return value;
    };
    EXPECT_EQ(pragma("PRAGMA journal_mode;"), "wal");
    EXPECT_EQ(pragma("PRAGMA user_version;"), std::to_string(SqliteStore::SchemaVersion));
    EXPECT_EQ(pragma("SELECT count(*) FROM favourites;"), "1");
    sqlite3_close(db);
}

TEST(FavouritesStoreFiles, RefusesADatabaseFromANewerRelease) {
    TempDir dir;
    {
        SqliteStore store(dir.path());
        store.add("u", "t", "https://example.org/");
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir.path() / SqliteStore::FileName).c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version=99;", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    EXPECT_THROW(SqliteStore{dir.path()}, StoreError);
}

TEST(FavouritesStoreFiles, UnusableDataFolderIsAnError) {
    TempDir dir;
    const auto file = dir.path() / "plain-file";
    { std::ofstream(file) << "x"; }
    EXPECT_THROW(SqliteStore{file}, StoreError);
}

} // namespace
