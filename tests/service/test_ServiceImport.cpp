// Import and export of bookmark files through HTTP, over each store: what a file makes of the
// favourites (merges, dates, tags, skipped kinds), refusals that change nothing, uploads cut off
// or stalled, an import beside the user's own adds, and the export read back in.
#include "ServiceTestSupport.h"
#include "service/http/Text.h"
#include "service/store/Tags.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <limits>
#include <map>
#include <thread>
#include <tuple>

#include <sys/socket.h>
#include <unistd.h>

using namespace pellamark::service;
using namespace pellamark::service::testing;

namespace {

const std::string User = "abcde0123456789";
const std::string Other = "fghij0123456789";

std::string pagePath(const std::string& userId) {
    return "/app/fav.asp?userid=" + userId + "&emailid=a@example.org&pubid=2&version=1.00.00";
}

std::string bookmarkFile(const std::string& entries) {
    return "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<META HTTP-EQUIV=\"Content-Type\" "
           "CONTENT=\"text/html; charset=UTF-8\">\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n"
           "<DL><p>\n" +
           entries + "</DL><p>\n";
}

std::string link(const std::string& url, const std::string& title,
                 const std::string& attributes = {}) {
    return "<DT><A HREF=\"" + url + "\"" + (attributes.empty() ? "" : " " + attributes) + ">" +
           title + "</A>\n";
}

std::string folder(const std::string& name, const std::string& entries,
                   const std::string& attributes = {}) {
    return "<DT><H3" + (attributes.empty() ? "" : " " + attributes) + ">" + name +
           "</H3>\n<DL><p>\n" + entries + "</DL><p>\n";
}

std::string manyLinks(int count, const std::string& prefix) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += link("https://" + prefix + std::to_string(i) + ".example.org/",
                    "Site " + std::to_string(i));
    return out;
}

// A multipart/form-data body of the fields in order; a field with a file name is a file.
struct Part {
    std::string name;
    std::string value;
    std::string fileName = {};
};
const std::string Boundary = "----pellamark-test-boundary";

std::string multipart(const std::vector<Part>& parts) {
    std::string body;
    for (const auto& part : parts) {
        body += "--" + Boundary + "\r\nContent-Disposition: form-data; name=\"" + part.name + "\"";
        if (!part.fileName.empty())
            body += "; filename=\"" + part.fileName + "\"\r\nContent-Type: text/html";
        body += "\r\n\r\n" + part.value + "\r\n";
    }
    return body + "--" + Boundary + "--\r\n";
}

std::vector<Part> importForm(const std::string& file) {
    return {{"action", "import"}, {"file", file, "bookmarks.html"}};
}

// A favourite as one line; a date from the last minute reads "now".
std::string line(const Favourite& f, std::int64_t since) {
    auto date = [&](std::int64_t d) { return d >= since ? std::string("now") : std::to_string(d); };
    return f.url + "|" + f.title + "|" + joinTags(f.tags) + "|" + date(f.createdAt) + "|" +
           date(f.modifiedAt) + "|" + f.note;
}

std::vector<std::string> lines(FavouritesStore& store, const std::string& userId,
                               std::int64_t since = 0) {
    std::vector<std::string> out;
    for (const auto& f : store.list(userId))
        out.push_back(line(f, since == 0 ? std::numeric_limits<std::int64_t>::max() : since));
    std::sort(out.begin(), out.end());
    return out;
}

std::string tagCounts(FavouritesStore& store, const std::string& userId) {
    std::string out;
    for (const auto& tag : store.tags(userId))
        out += (out.empty() ? "" : " ") + tag.name + "=" + std::to_string(tag.count);
    return out;
}

// The tag counts and search entries agree with the favourites, as the per-row steps keep them.
void expectConsistent(FavouritesStore& store, const std::string& userId) {
    std::map<std::string, std::int64_t> counted;
    const auto all = store.list(userId);
    for (const auto& f : all)
        for (const auto& tag : f.tags)
            ++counted[tagKey(tag)];
    std::map<std::string, std::int64_t> kept;
    for (const auto& tag : store.tags(userId))
        kept[tagKey(tag.name)] = tag.count;
    EXPECT_EQ(kept, counted);
    EXPECT_EQ(store.count(userId), static_cast<std::int64_t>(all.size()));
    // A tag's filter finds the favourites with it or with a tag below it, and counts them.
    for (const auto& [key, count] : kept) {
        ListQuery query;
        query.tags = {key};
        const auto below = std::count_if(all.begin(), all.end(), [&](const Favourite& f) {
            return std::any_of(f.tags.begin(), f.tags.end(), [&](const std::string& tag) {
                return tagKey(tag) == key || tagKey(tag).starts_with(key + "/");
            });
        });
        EXPECT_EQ(store.list(userId, query).total, below) << "tag " << key;
    }
    for (const auto& f : all) {
        ListQuery query;
        query.search = f.title.substr(0, f.title.find(' '));
        query.order = Order::BestMatch;
        const auto found = store.list(userId, query).favourites;
        EXPECT_TRUE(std::any_of(found.begin(), found.end(),
                                [&](const Favourite& hit) { return hit.id == f.id; }))
            << "no search entry for " << f.title;
    }
}

void sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            return;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

std::string postHead(const std::string& userId, std::size_t length) {
    return "POST " + pagePath(userId) +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; boundary=" +
           Boundary + "\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
}

class ImportFixture : public ::testing::Test {
protected:
    void start(StoreKind kind, ServiceConfig config = {}) {
        if (const auto why = TestStore::unavailable(kind))
            GTEST_SKIP() << *why;
        since = std::time(nullptr) - 60;
        location.emplace(kind);
        config.store = location->location();
        running = std::make_unique<RunningService>(std::move(config));
        cli = std::make_unique<httplib::Client>(running->client());
    }
    FavouritesStore& store() { return running->service().store(); }

    httplib::Result post(const std::string& userId, const std::vector<Part>& parts,
                         const httplib::Headers& headers = {}) {
        return cli->Post(pagePath(userId).c_str(), headers, multipart(parts),
                         ("multipart/form-data; boundary=" + Boundary).c_str());
    }

    std::int64_t since = 0;
    std::optional<TestStore> location;
    std::unique_ptr<RunningService> running;
    std::unique_ptr<httplib::Client> cli;
};

// A row sends the file as the import form (or the form of its own), with the user's favourites
// `before` already there; `after` empty means they are as they were.
struct ImportCase {
    const char* name;
    std::string file;
    int status;
    std::string message; // the page's notice, or the refusal
    std::vector<std::string> after = {};
    std::string tags = {};
    std::vector<Part> form = {};
    httplib::Headers headers = {};
};

const FavouriteFields Mine{"Mine", "https://a.example.org/", "", {"mine"}};
const std::vector<std::string> OnlyMine = {"https://a.example.org/|Mine|mine|now|now|"};
const std::string BigFile = bookmarkFile(manyLinks(2000, "big")); // past the small limit

void PrintTo(const ImportCase& c, std::ostream* out) {
    *out << c.name;
}

std::string manyTags(int count, const std::string& separator) {
    std::string out;
    for (int i = 1; i <= count; ++i)
        out += (i > 1 ? separator : "") + "t" + std::to_string(i);
    return out;
}

const std::string LongFolder(70, 'L');

ImportCase refused(const char* name, int status, std::string message, std::vector<Part> form,
                   httplib::Headers headers = {}) {
    return {name, "", status, std::move(message), {}, {}, std::move(form), std::move(headers)};
}

const ImportCase ImportCases[] = {
    {"foldersTagsNotesAndDates",
     bookmarkFile(folder("Bookmarks bar",
                         folder("Work", folder("Clients", link("https://acme.example.com/", "Acme",
                                                               "ADD_DATE=\"1600000000\" "
                                                               "LAST_MODIFIED=\"1600000100\" "
                                                               "TAGS=\"urgent,acme\"") +
                                                              "<DD>Their portal &amp; more\n")),
                         "PERSONAL_TOOLBAR_FOLDER=\"true\"") +
                  link("https://top.example.org/", "Top", "ADD_DATE=\"1500000000000\"")),
     200,
     "Imported 2 favourites, merged 0 into favourites already there, skipped 0.",
     {OnlyMine[0],
      "https://acme.example.com/|Acme|Work/Clients urgent acme|1600000000|1600000100|Their "
      "portal & more",
      "https://top.example.org/|Top||1500000000|1500000000|"},
     "acme=1 mine=1 urgent=1 Work/Clients=1"},
    {"addressesAlreadyThereOrTwiceInTheFileAreMerged",
     bookmarkFile(
         folder("Reading", link("https://a.example.org/", "Theirs",
                                "ADD_DATE=\"1400000000\" TAGS=\"x,MINE\"")) +
         link("https://b.example.org/", "Bee", "ADD_DATE=\"1450000000\" TAGS=\"one\"") +
         link("https://b.example.org/", "Bee again", "ADD_DATE=\"1440000000\" TAGS=\"two,one\"") +
         link("https://a.example.org/", "Third", "ADD_DATE=\"1500000000\"")),
     200,
     "Imported 1 favourite, merged 3 into favourites already there, skipped 0.",
     {"https://a.example.org/|Mine|mine Reading x|1400000000|now|",
      "https://b.example.org/|Bee|one two|1440000000|1440000000|"},
     "mine=1 one=1 Reading=1 two=1 x=1"},
    {"skippedKindsAreCounted",
     bookmarkFile(link("javascript:alert(1)", "Bookmarklet") +
                  link("place:sort=8&maxResults=10", "Recent") +
                  link("file:///home/me/notes.txt", "Notes") + link("about:config", "Config") +
                  link("data:text/plain,hi", "Data") + link("https://kept.example.org/", "Kept")),
     200,
     "Imported 1 favourite, merged 0 into favourites already there, skipped 5: 1 javascript: "
     "bookmarklet, 1 place: query, 1 file: address, 1 about: page, 1 data: address.",
     {OnlyMine[0], "https://kept.example.org/|Kept||now|now|"},
     "mine=1"},
    {"tagsAreBoundedLikeTypedOnes",
     bookmarkFile(folder("Top", folder(LongFolder, link("https://tags.example.org/", "Tagged",
                                                        "TAGS=\"" + manyTags(25, ",") + "\"")))),
     200,
     "Imported 1 favourite, merged 0 into favourites already there, skipped 0. 1 title, note or "
     "tag was longer than allowed and cut short. 6 tags were left out (not a tag, or past 20 on a "
     "favourite).",
     {OnlyMine[0], "https://tags.example.org/|Tagged|Top " + manyTags(19, " ") + "|now|now|"},
     "mine=1 t1=1 t10=1 t11=1 t12=1 t13=1 t14=1 t15=1 t16=1 t17=1 t18=1 t19=1 t2=1 t3=1 t4=1 t5=1 "
     "t6=1 t7=1 t8=1 t9=1 Top=1"},
    {"aDamagedFileChangesNothing",
     // Past the first batch of rows, so that some were written before the damage shows.
     [] {
         std::string file = bookmarkFile(manyLinks(1500, "d"));
         file.resize(file.rfind("</DL>"));
         return file + "<DT><A HREF=\"https://cut";
     }(),
     400, "The file ends in the middle of a tag: it was cut short. Nothing was imported."},
    {"notABookmarkFile", "just some text\n", 400,
     "This is not a bookmark file: it has neither the DOCTYPE line of one nor a list of "
     "bookmarks. Nothing was imported."},
    refused("fileBeforeTheAction", 413, "The request is too large.",
            {{"file", BigFile, "bookmarks.html"}, {"action", "import"}}),
    refused("aFileForAnotherAction", 413, "The request is too large.",
            {{"action", "add"}, {"file", BigFile, "bookmarks.html"}}),
    refused("anotherActionAsMultipart", 415,
            "only an import (action=import) is sent as multipart/form-data.",
            {{"action", "add"}, {"title", "T"}, {"url", "https://t.example.org/"}}),
    refused("noFile", 400, "Choose a bookmark file to import (file).", {{"action", "import"}}),
    refused("fromAnotherSitesPage", 403, "The form was sent from a page of another site.",
            importForm(bookmarkFile(link("https://x.example.org/", "X"))),
            {{"Origin", "https://evil.example.net"}}),
};

class Import : public ImportFixture,
               public ::testing::WithParamInterface<std::tuple<StoreKind, ImportCase>> {
protected:
    void SetUp() override { start(std::get<0>(GetParam())); }
};

TEST_P(Import, MakesTheFavouritesTabled) {
    const ImportCase& c = std::get<1>(GetParam());
    store().add(User, Mine);
    store().add(Other, "Someone else's", "https://a.example.org/");

    auto res = post(User, c.form.empty() ? importForm(c.file) : c.form, c.headers);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, c.status) << res->body;
    EXPECT_NE(res->body.find(htmlEscape(c.message)), std::string::npos) << res->body;
    EXPECT_EQ(lines(store(), User, since), c.after.empty() ? OnlyMine : c.after);
    EXPECT_EQ(tagCounts(store(), User), c.after.empty() ? "mine=1" : c.tags);
    expectConsistent(store(), User);
    EXPECT_EQ(store().count(Other), 1);
    if (c.status == 200) {
        EXPECT_EQ(countItems(res->body), static_cast<int>(c.after.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Import,
                         ::testing::Combine(::testing::Values(StoreKind::Sqlite,
                                                              StoreKind::Postgres),
                                            ::testing::ValuesIn(ImportCases)),
                         [](const auto& info) {
                             return storeKindName(std::get<0>(info.param)) + "_" +
                                    std::get<1>(info.param).name;
                         });

class ImportHttp : public ImportFixture, public ::testing::WithParamInterface<StoreKind> {};

INSTANTIATE_TEST_SUITE_P(Stores, ImportHttp,
                         ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres),
                         [](const auto& info) { return storeKindName(info.param); });

TEST_P(ImportHttp, AnUploadTooLargeCutOffOrStalledHalfWayChangesNothing) {
    ServiceConfig config;
    config.requestDeadline = std::chrono::milliseconds(500);
    start(GetParam(), config);
    store().add(User, "Kept", "https://kept.example.org/");
    const std::string body = multipart(importForm(bookmarkFile(manyLinks(3000, "cut"))));

    // Refused on its head alone: a body past the import's own limit (every other request keeps
    // the small one, tabled in the HTTP tests).
    int fd = connectTo(running->port());
    sendAll(fd, postHead(User, 300u * 1024 * 1024));
    EXPECT_TRUE(readUntilClosed(fd).starts_with("HTTP/1.1 413"));
    ::close(fd);
    // Clients that stop sending: while four uploads are under way a fifth must wait, and the
    // service drops them after the deadline.
    std::vector<int> stalled;
    for (int i = 0; i < 4; ++i) {
        stalled.push_back(connectTo(running->port()));
        sendAll(stalled.back(), postHead(User, body.size()) + body.substr(0, body.size() / 2));
    }
    // (Time for the service to read their first parts on a busy machine.)
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto busy = post(User, importForm(bookmarkFile(link("https://busy.example.org/", "Busy"))));
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->status, 503);
    EXPECT_EQ(busy->body, "Too many files are being sent at once. Please try again shortly.\n");
    const auto start = std::chrono::steady_clock::now();
    for (int stalledFd : stalled) {
        EXPECT_EQ(readUntilClosed(stalledFd), "");
        ::close(stalledFd);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    // The client goes away half-way through.
    fd = connectTo(running->port());
    sendAll(fd, postHead(User, body.size()) + body.substr(0, body.size() / 2));
    ::close(fd);
    // A body that is no form at all (once the service has let go of the uploads it dropped: it
    // may do so just after their connections close).
    const auto freed = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do
        busy = cli->Post(pagePath(User).c_str(), "not a form", "multipart/form-data");
    while (busy && busy->status == 503 && std::chrono::steady_clock::now() < freed);
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->status, 400);
    EXPECT_EQ(busy->body, "The form could not be read.\n");

    EXPECT_EQ(lines(store(), User, since),
              std::vector<std::string>{"https://kept.example.org/|Kept||now|now|"});
    // An import that takes longer than the deadline is answered all the same.
    auto res = post(User, importForm(bookmarkFile(manyLinks(30'000, "long"))));
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    // Neither holds on to an upload's place: the whole file goes in afterwards.
    for (int i = 0; i < 5; ++i) {
        auto res =
            post(User, importForm(bookmarkFile(link("https://after.example.org/", "After"))));
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200) << res->body;
    }
    EXPECT_EQ(store().count(User), 30'002);
}

TEST_P(ImportHttp, AnImportBesideTheUsersOwnAddsLosesNeither) {
    start(GetParam());
    std::thread importing([&] {
        auto client = running->client();
        client.set_read_timeout(60, 0);
        auto res = client.Post(pagePath(User).c_str(),
                               multipart(importForm(bookmarkFile(manyLinks(5000, "imported")))),
                               ("multipart/form-data; boundary=" + Boundary).c_str());
        EXPECT_TRUE(res && res->status == 200);
    });
    int added = 0;
    for (int i = 0; i < 40; ++i) {
        auto res = cli->Post(pagePath(User).c_str(),
                             "action=add&title=Typed&url=https%3A%2F%2Ftyped" + std::to_string(i) +
                                 ".example.org%2F&tags=typed",
                             "application/x-www-form-urlencoded");
        added += res && res->status == 303;
    }
    importing.join();
    EXPECT_EQ(added, 40);
    EXPECT_EQ(store().count(User), 5040);
    EXPECT_EQ(tagCounts(store(), User), "typed=40");
}

TEST_P(ImportHttp, AnExportImportedAgainGivesTheSameFavourites) {
    start(GetParam());
    auto res = post(
        User,
        importForm(bookmarkFile(
            folder("Work",
                   folder("Clients", link("https://acme.example.com/", "Acme &amp; Co",
                                          "ADD_DATE=\"1600000000\" LAST_MODIFIED=\"1600000500\"") +
                                         "<DD>first line\nsecond line\n")) +
            link("https://flat.example.org/", "Flat", "ADD_DATE=\"1500000000\" TAGS=\"later\""))));
    ASSERT_TRUE(res && res->status == 200);
    store().add(User, FavouriteFields{"Z\u00fcrich caf\u00e9 <b>",
                                      "https://cafe.example.ch/?a=1&b=2",
                                      "a \"note\"",
                                      {"urgent", "Reisen/Z\u00fcrich", "Work/Clients"}});
    store().add(User, FavouriteFields{"Plain", "https://plain.example.org/", "", {}});

    res = cli->Get((pagePath(User) + "&action=export").c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Disposition"),
              "attachment; filename=\"favourites.html\"");
    EXPECT_TRUE(res->body.starts_with("<!DOCTYPE NETSCAPE-Bookmark-file-1>")) << res->body;

    auto again = post(Other, importForm(res->body));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 200);
    EXPECT_EQ(lines(store(), Other), lines(store(), User));
    EXPECT_EQ(tagCounts(store(), Other), tagCounts(store(), User));
    // Into the same favourites it changes nothing.
    again = post(User, importForm(res->body));
    ASSERT_TRUE(again);
    EXPECT_NE(again->body.find("Imported 0 favourites, merged 4 into favourites already there"),
              std::string::npos);
    EXPECT_EQ(lines(store(), Other), lines(store(), User));

    // The page's keys choose what goes out.
    res = cli->Get((pagePath(User) + "&action=export&tag=work").c_str());
    ASSERT_TRUE(res);
    EXPECT_NE(res->body.find("acme.example.com"), std::string::npos);
    EXPECT_NE(res->body.find("cafe.example.ch"), std::string::npos);
    EXPECT_EQ(res->body.find("flat.example.org"), std::string::npos);
}

} // namespace
