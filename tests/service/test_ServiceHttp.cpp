// The service through real HTTP on 127.0.0.1, as the client's HTML view and the sign-up flow use
// it, over each store.
#include "ServiceTestSupport.h"
#include "service/http/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <latch>
#include <regex>
#include <set>
#include <tuple>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace pellamark::service;
using namespace pellamark::service::testing;

namespace {

const std::string FormType = "application/x-www-form-urlencoded";
const std::string User = "abcde0123456789";
const std::string PublicOrigin = "https://favourites.example.org";

std::string pagePath(const std::string& userId, const std::string& email = "a@example.org") {
    return "/app/fav.asp?userid=" + userId + "&emailid=" + email + "&pubid=2&version=1.00.00";
}

std::string addForm(const std::string& title, const std::string& url) {
    return "action=add&title=" + percentEncode(title) + "&url=" + percentEncode(url);
}

std::vector<std::string> itemIds(const std::string& page) {
    static const std::regex idField(R"re(name="id" value="(\d+)")re");
    std::vector<std::string> ids;
    for (std::sregex_iterator it(page.begin(), page.end(), idField), end; it != end; ++it)
        ids.push_back((*it)[1]);
    return ids;
}

std::string storeName(const ::testing::TestParamInfo<StoreKind>& info) {
    return storeKindName(info.param);
}

const auto BothStores = ::testing::Values(StoreKind::Sqlite, StoreKind::Postgres);

// The service over a fresh store of the given kind, skipped when that kind cannot be had here.
class ServiceFixture : public ::testing::Test {
protected:
    void start(StoreKind kind, ServiceConfig config = {}) {
        if (const auto why = TestStore::unavailable(kind))
            GTEST_SKIP() << *why;
        store.emplace(kind);
        config.store = store->location();
        config.publicOrigins = {*parsePublicOrigin(PublicOrigin)};
        running = std::make_unique<RunningService>(std::move(config));
        cli = std::make_unique<httplib::Client>(running->client());
    }

    std::string page(const std::string& userId) {
        auto res = cli->Get(pagePath(userId).c_str());
        EXPECT_TRUE(res);
        if (!res)
            return {};
        EXPECT_EQ(res->status, 200);
        return res->body;
    }
    int add(const std::string& userId, const std::string& title, const std::string& url) {
        auto res = cli->Post(pagePath(userId).c_str(), addForm(title, url), FormType.c_str());
        return res ? res->status : -1;
    }

    std::optional<TestStore> store;
    std::unique_ptr<RunningService> running;
    std::unique_ptr<httplib::Client> cli;
};

class ServiceHttp : public ServiceFixture, public ::testing::WithParamInterface<StoreKind> {
protected:
    void SetUp() override { start(GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(Stores, ServiceHttp, BothStores, storeName);

TEST_P(ServiceHttp, NewUserHasAnEmptyListAndMissingUserIdIsRefused) {
    EXPECT_EQ(countItems(page(User)), 0);
    EXPECT_NE(page(User).find("No favourites yet"), std::string::npos);

    for (const char* path : {"/app/fav.asp", "/app/fav.asp?emailid=a@example.org&pubid=2",
                             "/app/fav.asp?userid=&emailid=a@example.org"}) {
        auto res = cli->Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 400) << path;
        EXPECT_NE(res->body.find("userid"), std::string::npos) << path;
    }
}

TEST_P(ServiceHttp, AddListsNewestFirstAndRemoveTakesOnlyThatOne) {
    ASSERT_EQ(add(User, "First site", "https://first.example.org/"), 303);
    ASSERT_EQ(add(User, "Second site", "http://second.example.org/x?a=1"), 303);
    ASSERT_EQ(add(User, "Third site", "HTTPS://third.example.org"), 303);

    std::string body = page(User);
    ASSERT_EQ(countItems(body), 3);
    const auto third = body.find("Third site");
    const auto second = body.find("Second site");
    const auto first = body.find("First site");
    ASSERT_NE(first, std::string::npos);
    EXPECT_LT(third, second);
    EXPECT_LT(second, first);
    EXPECT_NE(body.find(R"(href="https://first.example.org/" target="_blank")"), std::string::npos);
    EXPECT_NE(body.find("rel=\"noopener"), std::string::npos);

    // Ids are listed newest first as well: the middle one is "Second site".
    const auto ids = itemIds(body);
    ASSERT_EQ(ids.size(), 3u);
    auto res = cli->Post(pagePath(User).c_str(), "action=remove&id=" + ids[1], FormType.c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 303);

    body = page(User);
    EXPECT_EQ(countItems(body), 2);
    EXPECT_EQ(body.find("Second site"), std::string::npos);
    EXPECT_NE(body.find("First site"), std::string::npos);
    EXPECT_NE(body.find("Third site"), std::string::npos);
}

TEST_P(ServiceHttp, UsersAreKeptApartAndCannotRemoveEachOthersFavourites) {
    ASSERT_EQ(add("aaaaa0000000001", "Alice's bank", "https://bank.example.org/"), 303);
    ASSERT_EQ(add("bbbbb0000000002", "Bob's forum", "https://forum.example.org/"), 303);

    const std::string alice = page("aaaaa0000000001");
    const std::string bob = page("bbbbb0000000002");
    EXPECT_EQ(countItems(alice), 1);
    EXPECT_EQ(countItems(bob), 1);
    EXPECT_EQ(alice.find("forum.example.org"), std::string::npos);
    EXPECT_EQ(bob.find("bank.example.org"), std::string::npos);

    // Bob posts a removal of Alice's favourite: answered like any removal, nothing changes.
    const auto aliceIds = itemIds(alice);
    ASSERT_EQ(aliceIds.size(), 1u);
    auto res = cli->Post(pagePath("bbbbb0000000002").c_str(), "action=remove&id=" + aliceIds[0],
                         FormType.c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 303);
    EXPECT_EQ(countItems(page("aaaaa0000000001")), 1);
    EXPECT_EQ(countItems(page("bbbbb0000000002")), 1);
}

TEST_P(ServiceHttp, HostileTextIsEscapedEverywhere) {
    const std::vector<std::string> titles = {
        "<script>alert(1)</script>",
        "\"><img src=x onerror=alert(2)>",
        "Tom & Jerry's 'quoted' page",
    };
    for (const auto& title : titles)
        ASSERT_EQ(add(User, title, "https://example.org/"), 303) << title;
    ASSERT_EQ(add(User, "quote in address", "https://example.org/\"onmouseover=\"alert(3)"), 303);

    const std::string hostileEmail = percentEncode("<script>alert(4)</script>@example.org");
    auto res = cli->Get(pagePath(User, hostileEmail).c_str());
    ASSERT_TRUE(res);
    const std::string& body = res->body;
    // The page's one script element is its own file's.
    EXPECT_EQ(body.find("<script"), body.rfind("<script src=\"/app/page-"));
    EXPECT_EQ(body.find("<img"), std::string::npos);
    EXPECT_EQ(body.find("\"onmouseover"), std::string::npos);
    EXPECT_EQ(body.find("Tom & Jerry"), std::string::npos);
    for (const auto& title : titles)
        EXPECT_NE(body.find(htmlEscape(title)), std::string::npos) << title;
    EXPECT_NE(body.find("&lt;script&gt;alert(4)"), std::string::npos);
}

// The page's style and script are files of the service's own, so the page's policy allows no
// text inside the page to run or restyle it.
TEST_P(ServiceHttp, StyleAndScriptAreTheServicesOwnFilesUnderAStrictPolicy) {
    auto res = cli->Get(pagePath(User).c_str());
    ASSERT_TRUE(res);
    const auto policy = res->get_header_value("Content-Security-Policy");
    EXPECT_NE(policy.find("script-src 'self'"), std::string::npos) << policy;
    EXPECT_EQ(policy.find("unsafe"), std::string::npos) << policy;
    static const std::regex assets(R"re((?:href|src)="(/app/page-[0-9a-f]+\.(css|js))")re");
    int found = 0;
    for (std::sregex_iterator it(res->body.begin(), res->body.end(), assets), end; it != end;
         ++it, ++found) {
        auto asset = cli->Get((*it)[1].str().c_str());
        ASSERT_TRUE(asset);
        EXPECT_EQ(asset->status, 200);
        EXPECT_EQ(asset->get_header_value("Content-Type")
                      .find((*it)[2] == "css" ? "text/css" : "text/javascript"),
                  0u);
        EXPECT_GT(asset->body.size(), 1000u);
    }
    EXPECT_EQ(found, 2);
    EXPECT_EQ(cli->Get("/app/page-0000000000000000.js")->status, 404);
}

TEST_P(ServiceHttp, LimitsAreInclusive) {
    // 200 two-byte characters: the title limit counts characters, not bytes.
    std::string title;
    for (int i = 0; i < 200; ++i)
        title += "\xC3\xA9";
    const std::string url = "https://example.org/" + std::string(2048 - 20, 'a');
    ASSERT_EQ(url.size(), 2048u);
    EXPECT_EQ(add(User, title, url), 303);
    const std::string body = page(User);
    EXPECT_EQ(countItems(body), 1);
    EXPECT_NE(body.find(title), std::string::npos);
}

TEST_P(ServiceHttp, RedirectReturnsToTheSameAddressAsSent) {
    // The client puts the e-mail address in unencoded, so a plus sign must survive the round trip.
    const std::string path = pagePath(User, "first+tag@example.org");
    auto res = cli->Post(path.c_str(), addForm("x", "https://example.org/"), FormType.c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 303);
    EXPECT_EQ(res->get_header_value("Location"), path);

    auto pageRes = cli->Get(res->get_header_value("Location").c_str());
    ASSERT_TRUE(pageRes);
    EXPECT_NE(pageRes->body.find("first+tag@example.org"), std::string::npos);
    EXPECT_EQ(countItems(pageRes->body), 1);
    // The page's own forms must carry its origin ("no-referrer" would make it "null") while the
    // sites it links to learn nothing of its address.
    EXPECT_EQ(pageRes->get_header_value("Referrer-Policy"), "same-origin");
}

TEST_P(ServiceHttp, LogHasOneLinePerRequestWithoutTheUsersSecrets) {
    ASSERT_EQ(add("zzzzz9999999999", "t", "https://example.org/"), 303);
    page("zzzzz9999999999");
    cli->Get("/app/apphtml.html");
    running->stop();

    const auto log = running->log();
    ASSERT_EQ(log.size(), 3u);
    // A line is written when its answer has gone out, so lines of requests that overlap on the
    // server's threads may come in any order.
    for (const char* expected :
         {"POST /app/fav.asp 303", "GET /app/fav.asp 200", "GET /app/apphtml.html 200"}) {
        EXPECT_EQ(std::count_if(log.begin(), log.end(),
                                [&](const std::string& line) {
                                    return line.find(expected) != std::string::npos;
                                }),
                  1)
            << expected;
    }
    for (const std::string& line : log) {
        EXPECT_EQ(line.find("zzzzz"), std::string::npos) << line;
        EXPECT_EQ(line.find("example.org"), std::string::npos) << line;
        EXPECT_NE(line.find("ms"), std::string::npos) << line;
    }
}

TEST_P(ServiceHttp, FavouritesSurviveARestartOnTheSameStore) {
    for (const char* title : {"one", "two"})
        ASSERT_EQ(add(User, title, "https://example.org/"), 303);
    cli.reset();
    running.reset();

    RunningService again(store->location());
    auto res = again.client().Get(pagePath(User).c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(countItems(res->body), 2);
    EXPECT_LT(res->body.find(">two<"), res->body.find(">one<"));
}

// Connections that never finish their request must not keep anyone else waiting.
TEST_P(ServiceHttp, NormalClientIsAnsweredWhileSlowClientsHoldConnections) {
    SlowClients slow(running->port(), 50);
    ASSERT_EQ(slow.open(), 50);
    ASSERT_EQ(add(User, "t", "https://example.org/"), 303);
    EXPECT_EQ(countItems(page(User)), 1);
    EXPECT_EQ(slow.open(), 50) << "held connections are closed only by their deadline";
}

// One table for every request the service refuses, and the nearest ones it must accept. Each
// row is sent as a POST of its form (a sound add unless given) to the user's page, or as the
// method it names. "{self}" stands for the address the service listens on.
std::string manyTags(int count) {
    std::string tags;
    for (int i = 0; i < count; ++i)
        tags += "t" + std::to_string(i) + "+";
    return tags;
}

std::string manyIds(int count) {
    std::string ids;
    for (int i = 1; i <= count; ++i)
        ids += "&id=" + std::to_string(i);
    return ids;
}

struct Request {
    const char* name;
    int status;
    httplib::Headers headers = {};
    std::string form = addForm("Added", "https://added.example.org/");
    std::string method = "POST";
    std::string path = pagePath(User);
    std::string type = FormType;
};

void PrintTo(const Request& request, std::ostream* out) {
    *out << request.name;
}

class ServiceRefusal : public ServiceFixture,
                       public ::testing::WithParamInterface<std::tuple<StoreKind, Request>> {
protected:
    void SetUp() override { start(std::get<0>(GetParam())); }
};

TEST_P(ServiceRefusal, AnswersAsTabledAndChangesOnlyWhatItAccepts) {
    const Request& request = std::get<1>(GetParam());
    ASSERT_EQ(add(User, "Kept", "https://kept.example.org/"), 303);
    const std::string before = page(User);

    const std::string self = "127.0.0.1:" + std::to_string(running->port());
    httplib::Headers headers;
    for (auto [name, value] : request.headers) {
        for (auto at = value.find("{self}"); at != std::string::npos; at = value.find("{self}"))
            value.replace(at, 6, self);
        headers.emplace(name, value);
    }
    auto res = request.method == "GET"
                   ? cli->Get(request.path.c_str(), headers)
                   : cli->Post(request.path.c_str(), headers, request.form, request.type.c_str());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, request.status) << res->body;

    const std::string after = page(User);
    if (request.status == 303) {
        EXPECT_EQ(countItems(after), 2);
        EXPECT_NE(after.find("added.example.org"), std::string::npos);
    } else {
        EXPECT_FALSE(res->body.empty());
        EXPECT_TRUE(res->get_header_value("Location").empty());
        EXPECT_EQ(after, before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ServiceRefusal,
    ::testing::Combine(
        BothStores,
        ::testing::Values(
            // What the form says. The address rule itself is tabled in the input tests; one
            // refused address shows it applies here.
            Request{"javascriptAddress", 400, {}, addForm("x", "javascript:alert(1)")},
            Request{"tooLongAddress",
                    400,
                    {},
                    addForm("x", "https://example.org/" + std::string(2029, 'a'))},
            Request{"emptyTitle", 400, {}, addForm("", "https://example.org/")},
            Request{"blankTitle", 400, {}, addForm(" \t ", "https://example.org/")},
            Request{"longTitle", 400, {}, addForm(std::string(201, 't'), "https://example.org/")},
            Request{"noUrl", 400, {}, "action=add&title=x"},
            Request{"noTitle", 400, {}, "action=add&url=https%3A%2F%2Fexample.org%2F"},
            Request{"unknownAction", 400, {}, "action=rename&id=1&title=x"},
            Request{"noAction", 400, {}, "title=x&url=https%3A%2F%2Fexample.org%2F"},
            Request{"badId", 400, {}, "action=remove&id=1%20OR%201%3D1"},
            Request{"noId", 400, {}, "action=remove"},
            Request{"noUserId",
                    400,
                    {},
                    addForm("x", "https://example.org/"),
                    "POST",
                    "/app/fav.asp?emailid=a@example.org"},
            Request{"otherBodyType",
                    415,
                    {},
                    R"({"action":"add"})",
                    "POST",
                    pagePath(User),
                    "application/json"},
            Request{"bodyOverTheLimit", 413, {}, std::string(64 * 1024 + 1, 'a')},
            // The new fields and actions. Rules of tags and notes themselves are tabled in the
            // input tests; these show that a refusal changes nothing and says why.
            Request{"addWithTagsAndNote",
                    303,
                    {},
                    addForm("x", "https://added.example.org/") +
                        "&tags=Work%2Fclients,+home&note=line%0D%0Atwo"},
            Request{"tooManyTags",
                    400,
                    {},
                    addForm("x", "https://added.example.org/") + "&tags=" + manyTags(21)},
            Request{"tagWithBadCharacter",
                    400,
                    {},
                    addForm("x", "https://added.example.org/") + "&tags=a%3Cb"},
            Request{"tagWithEmptyLevel",
                    400,
                    {},
                    addForm("x", "https://added.example.org/") + "&tags=work%2F%2Fx"},
            Request{"noteTooLong",
                    400,
                    {},
                    addForm("x", "https://added.example.org/") + "&note=" + std::string(4001, 'n')},
            Request{"dataAddress", 400, {}, addForm("x", "data:text/html,hi")},
            Request{"editSomeoneElsesId",
                    404,
                    {},
                    "action=edit&id=999999&title=x&url=https%3A%2F%2Fx.example%2F"},
            Request{"editWithoutId", 400, {}, "action=edit&title=x&url=https%3A%2F%2Fx.example%2F"},
            Request{
                "editToJavascript", 400, {}, "action=edit&id=1&title=x&url=javascript%3Aalert(1)"},
            // Several at once: one that is not the user's and none goes, the user's own neither.
            Request{"removeSeveralOneNotOwn", 404, {}, "action=remove&id=1&id=2&id=999999"},
            Request{"tagSomeoneElsesIds", 404, {}, "action=tag&id=999998&id=999999&tags=x"},
            Request{"tagWithoutTags", 400, {}, "action=tag&id=1"},
            Request{"tagWithoutIds", 400, {}, "action=tag&tags=x"},
            Request{"tooManyIds", 400, {}, "action=remove" + manyIds(501)},
            Request{"renameToBadTag", 400, {}, "action=rename-tag&tag=a&to=%3Cb%3E"},
            Request{"renameWithoutTarget", 400, {}, "action=rename-tag&tag=a"},
            Request{"badOrder", 400, {}, {}, "GET", pagePath(User) + "&sort=random"},
            Request{"badPageKey", 400, {}, {}, "GET", pagePath(User) + "&after=x"},
            Request{"badTagFilter", 400, {}, {}, "GET", pagePath(User) + "&tag=a%3Cb"},
            Request{"editFromAnotherSite",
                    403,
                    {{"Origin", "http://attacker.example"}},
                    "action=edit&id=1&title=x&url=https%3A%2F%2Fx.example%2F"},
            Request{"renameFromAnotherSite",
                    403,
                    {{"Referer", "http://attacker.example/"}},
                    "action=rename-tag&tag=a&to=b"},
            // Where the form comes from: only the service's own pages may change a list.
            Request{"otherSitesOrigin", 403, {{"Origin", "http://attacker.example"}}},
            Request{"opaqueOrigin", 403, {{"Origin", "null"}}},
            Request{"ownHostOtherPort", 403, {{"Origin", "http://127.0.0.1:1"}}},
            Request{"ownAddressOverHttps", 403, {{"Origin", "https://{self}"}}},
            Request{"otherSitesReferer", 403, {{"Referer", "http://attacker.example/page"}}},
            Request{
                "originOutranksReferer",
                403,
                {{"Origin", "http://attacker.example"}, {"Referer", "http://{self}/app/fav.asp"}}},
            Request{
                "publicNameOverPlainHttp",
                403,
                {{"Host", "favourites.example.org"}, {"Origin", "http://favourites.example.org"}}},
            Request{"ownOrigin", 303, {{"Origin", "http://{self}"}}},
            Request{"ownReferer", 303, {{"Referer", "http://{self}" + pagePath(User)}}},
            Request{"neitherHeader", 303},
            Request{"publicOrigin",
                    303,
                    {{"Host", "favourites.example.org"}, {"Origin", PublicOrigin}}},
            // Which host the request names: another site's name pointed at this address.
            Request{"otherHostName",
                    421,
                    {{"Host", "attacker.example"}, {"Origin", "http://attacker.example"}}},
            Request{"otherHostNameReading", 421, {{"Host", "attacker.example"}}, {}, "GET"},
            Request{"otherAddress", 421, {{"Host", "10.1.2.3:8480"}}, {}, "GET"},
            Request{"localhostName",
                    303,
                    {{"Host", "localhost:8480"}, {"Origin", "http://localhost:8480"}}},
            Request{"readingFromAnotherSite",
                    200,
                    {{"Origin", "http://attacker.example"}},
                    {},
                    "GET"})),
    [](const auto& info) {
        return storeKindName(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
    });

struct Load {
    int threads;
    int addsPerThread;
};

void PrintTo(const Load& load, std::ostream* out) {
    *out << load.threads << "x" << load.addsPerThread;
}

class ServiceConcurrency : public ServiceFixture,
                           public ::testing::WithParamInterface<std::tuple<StoreKind, Load>> {
protected:
    void SetUp() override { start(std::get<0>(GetParam())); }
};

// Many threads adding to one user's list at once: every acknowledged add must be listed. The
// burst case opens 32 connections at the same moment, more than a short listen queue holds.
TEST_P(ServiceConcurrency, ParallelAddsAreAllKept) {
    const int threadCount = std::get<1>(GetParam()).threads;
    const int addsPerThread = std::get<1>(GetParam()).addsPerThread;

    std::atomic<int> acknowledged{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    std::latch ready(threadCount);
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            auto client = running->client();
            ready.arrive_and_wait();
            for (int i = 0; i < addsPerThread; ++i) {
                const std::string title = "t" + std::to_string(t) + "-" + std::to_string(i);
                auto res =
                    client.Post(pagePath(User).c_str(),
                                addForm(title, "https://example.org/" + title), FormType.c_str());
                (res && res->status == 303 ? acknowledged : failures)++;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();

    EXPECT_EQ(failures, 0);
    EXPECT_EQ(acknowledged, threadCount * addsPerThread);
    // The page shows the total and the first hundred; the store has them all, once each.
    EXPECT_NE(page(User).find(">" + std::to_string(threadCount * addsPerThread) + " favourites<"),
              std::string::npos);
    const auto listed = running->service().store().list(User);
    std::set<std::int64_t> ids;
    for (const auto& favourite : listed)
        ids.insert(favourite.id);
    EXPECT_EQ(listed.size(), std::size_t(threadCount * addsPerThread));
    EXPECT_EQ(ids.size(), listed.size());
}

INSTANTIATE_TEST_SUITE_P(Load, ServiceConcurrency,
                         ::testing::Combine(BothStores,
                                            ::testing::Values(Load{8, 50}, Load{32, 5})),
                         [](const auto& info) {
                             const Load load = std::get<1>(info.param);
                             return storeKindName(std::get<0>(info.param)) + "_" +
                                    std::to_string(load.threads) + "x" +
                                    std::to_string(load.addsPerThread);
                         });

// The bounds on what one client can hold, independent of the store.
class ServiceConnections : public ServiceFixture {};

// Whether the server has closed the connection, waiting up to five seconds for it.
bool closedByServer(int fd) {
    bool closed = false;
    readUntilClosed(fd, &closed);
    return closed;
}

TEST_F(ServiceConnections, AnAddressBeyondItsLimitIsTurnedAwayUntilItLetsGo) {
    ServiceConfig config;
    config.connectionsPerAddress = 3;
    start(StoreKind::Sqlite, config);
    std::vector<int> held;
    for (int i = 0; i < 3; ++i)
        held.push_back(connectTo(running->port()));
    // Accepted into the queue by the kernel, then closed by the service at once.
    const int extra = connectTo(running->port());
    ASSERT_GE(extra, 0);
    EXPECT_TRUE(closedByServer(extra));
    ::close(extra);

    // The slot is free once the service has seen the close.
    ::close(held.back());
    held.pop_back();
    int status = -1;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (status < 0 && std::chrono::steady_clock::now() < giveUp) {
        auto res = running->client().Get("/app/apphtml.html");
        status = res ? res->status : -1;
        if (!res)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(status, 200);
    for (int fd : held)
        ::close(fd);
}

TEST_F(ServiceConnections, ARequestThatNeverCompletesIsCutOffAtItsDeadline) {
    ServiceConfig config;
    config.requestDeadline = std::chrono::milliseconds(300);
    start(StoreKind::Sqlite, config);
    // A byte every half second would keep an inactivity timeout from ever firing.
    SlowClients slow(running->port(), 3);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (slow.open() > 0 && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(slow.open(), 0);
}

} // namespace
