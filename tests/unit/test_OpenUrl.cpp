#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "TestHttpServer.h"
#include "net/OpenUrl.h"
#include "net/TransientFetch.h"

using namespace std::chrono_literals;
using pellamark::FetchFailure;
using pellamark::FetchOptions;
using pellamark::OpenUrl;
using pellamark::testing::HttpRequest;
using pellamark::testing::HttpResponse;
using pellamark::testing::TestHttpServer;

namespace {

class OpenUrlTest : public ::testing::Test {
protected:
    // Short enough that a hang shows up as a failure instead of a stuck test run.
    static FetchOptions quickOptions() {
        FetchOptions options;
        options.connectTimeout = 5s;
        options.idleTimeout = 5s;
        return options;
    }

    pellamark::testing::ScopedNoProxy noProxy;
    TestHttpServer server;
};

std::string patternedBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        // Every byte value, shifted on each round so a repeated or dropped block shows.
        bytes[i] = static_cast<char>((i + i / 256) % 256);
    }
    return bytes;
}

struct ServedPage {
    const char* name;
    int status;
    std::string body;
};

void PrintTo(const ServedPage& value, std::ostream* out) {
    *out << value.name << " (" << value.body.size() << " bytes)";
}

class OpenUrlServedPageTest : public OpenUrlTest,
                              public ::testing::WithParamInterface<ServedPage> {};

// Whatever the status, a body is an answer; no body is no answer.
TEST_P(OpenUrlServedPageTest, ReturnsTheBodyAsServed) {
    const ServedPage& page = GetParam();
    server.setHandler(
        [&](const HttpRequest&) { return HttpResponse::text(page.body, page.status); });

    FetchOptions options = quickOptions();
    std::optional<FetchFailure> failure;
    options.onFailure = [&](FetchFailure kind) { failure = kind; };
    const std::string text = OpenUrl(server.url("/app/apphtml.html"), options);
    EXPECT_EQ(text.size(), page.body.size());
    EXPECT_TRUE(text == page.body);
    EXPECT_FALSE(failure) << "a page was served, even if empty";
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, OpenUrlServedPageTest,
    ::testing::Values(ServedPage{"OneCharacter", 200, "x"}, ServedPage{"EmptyBody", 200, ""},
                      ServedPage{"MissingPage", 404, "<html>Not here</html>"},
                      ServedPage{"ServerError", 500, "oops"},
                      // Every byte value, over many reads, in order.
                      ServedPage{"LongBinary", 200, patternedBytes(100 * 1000 + 7)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OpenUrlTest, SendsTheAgentNameAndAsksForAFreshCopy) {
    server.setHandler([](const HttpRequest&) { return HttpResponse::text("ok"); });

    ASSERT_EQ(OpenUrl(server.url("/app/apphtml.html"), quickOptions()), "ok");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/app/apphtml.html");
    EXPECT_EQ(requests[0].header("User-Agent"), "VB OpenUrl");
    EXPECT_EQ(requests[0].headerCount("User-Agent"), 1);
    EXPECT_EQ(requests[0].header("Cache-Control"), "no-cache");
    EXPECT_EQ(requests[0].header("Pragma"), "no-cache");
}

TEST_F(OpenUrlTest, EveryCallAsksTheServerAgain) {
    int served = 0;
    server.setHandler(
        [&](const HttpRequest&) { return HttpResponse::text("page " + std::to_string(++served)); });
    const std::string url = server.url("/app/apphtml.html");

    EXPECT_EQ(OpenUrl(url, quickOptions()), "page 1");
    EXPECT_EQ(OpenUrl(url, quickOptions()), "page 2");
}

struct RedirectCase {
    const char* name;
    long maxRedirects;
    // Where /start sends the client; "{base}" stands for the test server's address, "{other}"
    // for the host and port of a second server that must never be contacted.
    std::string firstLocation;
    std::string expected;
};

class OpenUrlRedirectTest : public OpenUrlTest,
                            public ::testing::WithParamInterface<RedirectCase> {};

TEST_P(OpenUrlRedirectTest, FollowsWebRedirectsWithinTheBound) {
    const RedirectCase& redirect = GetParam();
    std::string firstLocation = redirect.firstLocation;
    TestHttpServer other;
    if (auto at = firstLocation.find("{base}"); at != std::string::npos) {
        firstLocation.replace(at, 6, server.url(""));
    }
    if (auto at = firstLocation.find("{other}"); at != std::string::npos) {
        firstLocation.replace(at, 7, other.hostAndPort());
    }
    server.setHandler([&](const HttpRequest& request) {
        if (request.target == "/start") {
            return HttpResponse::redirect(firstLocation);
        }
        if (request.target == "/hop") {
            return HttpResponse::redirect("/final", 301);
        }
        if (request.target == "/loop") {
            return HttpResponse::redirect("/loop");
        }
        if (request.target == "/final") {
            return HttpResponse::text("final page");
        }
        return HttpResponse::text("", 404);
    });
    FetchOptions options = quickOptions();
    options.maxRedirects = redirect.maxRedirects;

    EXPECT_EQ(OpenUrl(server.url("/start"), options), redirect.expected);
    EXPECT_EQ(other.connectionsAccepted(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Redirects, OpenUrlRedirectTest,
    ::testing::Values(RedirectCase{"RelativeLocation", 10, "/final", "final page"},
                      RedirectCase{"AbsoluteLocation", 10, "{base}/final", "final page"},
                      RedirectCase{"TwoHopsWithinBound", 2, "/hop", "final page"},
                      RedirectCase{"TwoHopsOverBound", 1, "/hop", ""},
                      RedirectCase{"EndlessLoop", 10, "/loop", ""},
                      RedirectCase{"ToFtp", 10, "ftp://{other}/final", ""},
                      RedirectCase{"ToFile", 10, "file:///etc/hostname", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OpenUrlTest, OnlyWebAddressesAreFetched) {
    bool libraryFailed = false;
    FetchOptions options = quickOptions();
    options.onRunTimeError = [&](std::int32_t, const std::string&) { libraryFailed = true; };

    EXPECT_EQ(OpenUrl("file:///etc/hostname", options), "");
    EXPECT_EQ(OpenUrl("ftp://127.0.0.1:" + std::to_string(server.port()) + "/", options), "");
    EXPECT_EQ(OpenUrl("not an address", options), "");
    EXPECT_EQ(OpenUrl("", options), "");
    EXPECT_FALSE(libraryFailed);
    EXPECT_EQ(server.connectionsAccepted(), 0);
}

struct BrokenServer {
    const char* name;
    std::optional<TestHttpServer::Mode> mode; // none: the server is gone
    FetchFailure failure;
    const char* address = nullptr; // instead of the server's
};

class OpenUrlBrokenServerTest : public OpenUrlTest,
                                public ::testing::WithParamInterface<BrokenServer> {};

// Each ends with the empty text, is not the library's own failure, and does not hang.
TEST_P(OpenUrlBrokenServerTest, YieldsTheEmptyTextPromptly) {
    if (GetParam().mode) {
        server.setMode(*GetParam().mode);
    } else {
        server.stop();
    }
    bool libraryFailed = false;
    FetchOptions options;
    options.connectTimeout = 2s;
    options.idleTimeout = 300ms;
    options.onRunTimeError = [&](std::int32_t, const std::string&) { libraryFailed = true; };
    std::vector<FetchFailure> failures;
    options.onFailure = [&](FetchFailure kind) { failures.push_back(kind); };

    const auto started = std::chrono::steady_clock::now();
    const std::string text =
        OpenUrl(GetParam().address ? GetParam().address : server.url("/app/apphtml.html"), options);
    const auto elapsed = std::chrono::steady_clock::now() - started;

    EXPECT_EQ(text, "");
    EXPECT_FALSE(libraryFailed);
    EXPECT_LT(elapsed, 5s);
#ifdef _WIN32
    // WinINet (Wine's, at least) may take a connection closed without an answer for an empty page.
    if (failures.empty() && GetParam().failure == FetchFailure::Other) {
        return;
    }
#endif
    EXPECT_EQ(failures, std::vector<FetchFailure>{GetParam().failure});
}

// WinINet has one error for a refused and an unreachable connection.
#ifdef _WIN32
constexpr FetchFailure RefusedAs = FetchFailure::Other;
#else
constexpr FetchFailure RefusedAs = FetchFailure::Refused;
#endif

INSTANTIATE_TEST_SUITE_P(
    Failures, OpenUrlBrokenServerTest,
    ::testing::Values(BrokenServer{"ConnectionRefused", std::nullopt, RefusedAs},
                      BrokenServer{"ClosesWithoutAnswer", TestHttpServer::Mode::CloseWithoutAnswer,
                                   FetchFailure::Other},
                      // Reserved: never resolves, with a network or without.
                      BrokenServer{"NameNotFound", std::nullopt, FetchFailure::NoNetwork,
                                   "http://pellamark.invalid/"}),
    [](const auto& info) { return std::string(info.param.name); });

// Every way a server can hold a fetch ends by one of its two limits: the idle time-out for a
// server that falls silent, the overall deadline for one that keeps sending a little, however
// slowly. A body over the cap ends at the cap.
struct DeadlineCase {
    const char* name;
    TestHttpServer::Mode mode;
    std::size_t expectedSize;
    // What ends it: the idle time-out, the overall deadline or neither (the server's answer).
    enum class EndedBy { Idle, Deadline, Answer } endedBy;
};

void PrintTo(const DeadlineCase& value, std::ostream* out) {
    *out << value.name;
}

class OpenUrlDeadlineTest : public OpenUrlTest,
                            public ::testing::WithParamInterface<DeadlineCase> {};

TEST_P(OpenUrlDeadlineTest, EndsWithinItsLimits) {
    const DeadlineCase& c = GetParam();
    server.setMode(c.mode);
    server.setDripInterval(100ms);
    // A redirect loop whose every hop is answered slowly: no single wait is long, and the
    // redirect bound is far away.
    server.setHandler([](const HttpRequest&) {
        std::this_thread::sleep_for(300ms);
        return HttpResponse::redirect("/again");
    });
    FetchOptions options;
    options.connectTimeout = 2s;
    options.idleTimeout = 1s;
    options.totalTimeout = 3s;
    options.maxRedirects = 1000;
    options.maxBodyBytes = 4u << 20;

    const auto started = std::chrono::steady_clock::now();
    const std::string text = OpenUrl(server.url("/app/apphtml.html"), options);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    std::cout << c.name << ": gave up after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() << " ms\n";

    EXPECT_EQ(text.size(), c.expectedSize);
    // The library keeps its own clock, in whole milliseconds.
    constexpr auto clockSlack = 50ms;
    // Wine's WinINet leaves out the receive time-out, so there the deadline ends a silent server.
    const auto endedBy =
        c.endedBy == DeadlineCase::EndedBy::Idle && pellamark::testing::platform::runningUnderWine()
            ? DeadlineCase::EndedBy::Deadline
            : c.endedBy;
    switch (endedBy) {
    case DeadlineCase::EndedBy::Idle:
        EXPECT_GE(elapsed, options.idleTimeout - clockSlack);
        EXPECT_LT(elapsed, options.totalTimeout);
        break;
    case DeadlineCase::EndedBy::Deadline:
        EXPECT_GE(elapsed, options.totalTimeout - clockSlack);
        EXPECT_LT(elapsed, options.totalTimeout + 1500ms);
        break;
    case DeadlineCase::EndedBy::Answer:
        EXPECT_LT(elapsed, options.totalTimeout);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, OpenUrlDeadlineTest,
    ::testing::Values(DeadlineCase{"NeverAnswers", TestHttpServer::Mode::NeverAnswer, 0,
                                   DeadlineCase::EndedBy::Idle},
                      DeadlineCase{"HeadersThenStall", TestHttpServer::Mode::HeadersThenStall, 0,
                                   DeadlineCase::EndedBy::Idle},
                      DeadlineCase{"DripsTheBody", TestHttpServer::Mode::DripBody, 0,
                                   DeadlineCase::EndedBy::Deadline},
                      DeadlineCase{"DripsHeadersWithoutEnd", TestHttpServer::Mode::DripHeaders, 0,
                                   DeadlineCase::EndedBy::Deadline},
                      DeadlineCase{"GiantBody", TestHttpServer::Mode::GiantBody, 4u << 20,
                                   DeadlineCase::EndedBy::Answer},
                      DeadlineCase{"SlowRedirectLoop", TestHttpServer::Mode::Answer, 0,
                                   DeadlineCase::EndedBy::Deadline}),
    [](const auto& info) { return std::string(info.param.name); });

struct CapCase {
    const char* name;
    std::size_t bodySize;
    std::size_t expectedSize;
};

class OpenUrlCapTest : public OpenUrlTest, public ::testing::WithParamInterface<CapCase> {};

// A body over the cap is cut at the cap: the server did answer, so the prefix is the answer.
TEST_P(OpenUrlCapTest, KeepsAtMostTheCap) {
    const std::string body = patternedBytes(GetParam().bodySize);
    server.setHandler([&](const HttpRequest&) { return HttpResponse::text(body); });
    FetchOptions options = quickOptions();
    options.maxBodyBytes = 64 * 1024;

    const std::string text = OpenUrl(server.url("/"), options);

    EXPECT_EQ(text.size(), GetParam().expectedSize);
    EXPECT_TRUE(text == body.substr(0, GetParam().expectedSize));
}

INSTANTIATE_TEST_SUITE_P(Sizes, OpenUrlCapTest,
                         ::testing::Values(CapCase{"JustUnder", 64 * 1024 - 1, 64 * 1024 - 1},
                                           CapCase{"Exactly", 64 * 1024, 64 * 1024},
                                           CapCase{"JustOver", 64 * 1024 + 1, 64 * 1024},
                                           CapCase{"FarOver", 1024 * 1024, 64 * 1024}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OpenUrlTest, EndlessBodyStopsAtTheCap) {
    server.setMode(TestHttpServer::Mode::EndlessBody);
    FetchOptions options = quickOptions();
    options.maxBodyBytes = 64 * 1024;

    const auto started = std::chrono::steady_clock::now();
    const std::string text = OpenUrl(server.url("/"), options);

    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    ASSERT_EQ(text.size(), 64u * 1024u);
    EXPECT_EQ(text.substr(0, 27), "abcdefghijklmnopqrstuvwxyza");
}

TEST_F(OpenUrlTest, GoesThroughTheProxyTheSystemNames) {
    TestHttpServer proxy;
    proxy.setHandler([](const HttpRequest&) { return HttpResponse::text("via proxy"); });
    pellamark::testing::ScopedSystemProxy systemProxy(proxy.hostAndPort());

    EXPECT_EQ(OpenUrl("http://pellamark-probe.invalid/app/apphtml.html", quickOptions()),
              "via proxy");

    const auto requests = proxy.requests();
    ASSERT_EQ(requests.size(), 1u);
    // Wine's WinINet names the default port in the address; both forms are the same address.
    std::string target = requests[0].target;
    if (const auto port = target.find(":80/"); port != std::string::npos) {
        target.erase(port, 3);
    }
    EXPECT_EQ(target, "http://pellamark-probe.invalid/app/apphtml.html");
    EXPECT_EQ(requests[0].header("User-Agent"), "VB OpenUrl");
    EXPECT_EQ(requests[0].header("Cache-Control"), "no-cache");
    EXPECT_TRUE(server.requests().empty());
}

} // namespace

#ifndef _WIN32
// The program's fetch, through its helper program: the same answer and failure kinds as OpenUrl;
// a helper that cannot be started is a failure of the network library, not an empty answer.
TEST_F(OpenUrlTest, TheProgramsFetchThroughItsHelperAnswersAsOpenUrlDoes) {
    server.setHandler([](const HttpRequest&) { return HttpResponse::text("through the helper"); });
    struct Case {
        const char* name;
        std::filesystem::path folder;
        std::string url;
        std::string page;
        std::optional<FetchFailure> failure;
        std::optional<std::int32_t> error;
    };
    const Case cases[] = {
        {"page", PELLAMARK_FETCH_PROGRAM_DIR, server.url("/app/apphtml.html"), "through the helper",
         std::nullopt, std::nullopt},
        {"refused", PELLAMARK_FETCH_PROGRAM_DIR, "http://127.0.0.1:9/app/apphtml.html", "",
         FetchFailure::Refused, std::nullopt},
        {"no helper", "/nonexistent/pellamark", server.url("/app/apphtml.html"), "", std::nullopt,
         ENOENT},
    };
    for (const Case& c : cases) {
        std::optional<FetchFailure> failure;
        std::optional<std::pair<std::int32_t, std::string>> error;
        FetchOptions options = quickOptions();
        options.onFailure = [&](FetchFailure kind) { failure = kind; };
        options.onRunTimeError = [&](std::int32_t number, const std::string& description) {
            error.emplace(number, description);
        };
        EXPECT_EQ(pellamark::transientFetcher(c.folder)(c.url, options), c.page) << c.name;
        EXPECT_EQ(failure, c.failure) << c.name;
        EXPECT_EQ(error ? std::optional(error->first) : std::nullopt, c.error) << c.name;
        if (error) {
            EXPECT_NE(error->second.find("pellamark-fetch"), std::string::npos) << error->second;
        }
    }
}
#endif
