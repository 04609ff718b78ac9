#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <ostream>
#include <string>

#include "TestHttpServer.h"
#include "net/OpenUrl.h"

using namespace std::chrono_literals;
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

    const std::string text = OpenUrl(server.url("/app/apphtml.html"), quickOptions());
    EXPECT_EQ(text.size(), page.body.size());
    EXPECT_TRUE(text == page.body);
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
};

class OpenUrlBrokenServerTest : public OpenUrlTest,
                                public ::testing::WithParamInterface<BrokenServer> {};

// Each ends with the empty text, is not the library's own failure, and does not hang.
TEST_P(OpenUrlBrokenServerTest, YieldsTheEmptyTextPromptly) {
    if (GetParam().mode == TestHttpServer::Mode::NeverAnswer &&
        pellamark::testing::platform::runningUnderWine()) {
        GTEST_SKIP() << "Wine's WinINet leaves out the receive time-out the session handle hands "
                        "down to its requests, so this fetch would wait for ever";
    }
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

    const auto started = std::chrono::steady_clock::now();
    const std::string text = OpenUrl(server.url("/app/apphtml.html"), options);
    const auto elapsed = std::chrono::steady_clock::now() - started;

    EXPECT_EQ(text, "");
    EXPECT_FALSE(libraryFailed);
    EXPECT_LT(elapsed, 5s);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, OpenUrlBrokenServerTest,
    ::testing::Values(BrokenServer{"ConnectionRefused", std::nullopt},
                      BrokenServer{"ClosesWithoutAnswer", TestHttpServer::Mode::CloseWithoutAnswer},
                      BrokenServer{"NeverAnswers", TestHttpServer::Mode::NeverAnswer}),
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
