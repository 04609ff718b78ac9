#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <new>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TestHttpServer.h"
#include "base/BuildConfig.h"
#include "base/Messages.h"
#include "base/RunTimeError.h"
#include "net/CheckServer.h"

#ifndef _WIN32
#include "InChild.h"
#include "TempDir.h"
#include "system/SingleInstance.h"
#include "system/TerminationSignals.h"

#include <csignal>
#include <iostream>

#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace std::chrono_literals;
using namespace pellamark;
using pellamark::testing::HttpRequest;
using pellamark::testing::HttpResponse;
using pellamark::testing::TestHttpServer;

namespace {

// Records what the check asked of the windows, in order.
class RecordingHost : public ServerCheckHost {
public:
    void MsgBox(const std::string& text) override { calls.push_back("MsgBox: " + text); }
    void UnloadMain() override { calls.push_back("UnloadMain"); }
    std::vector<std::string> calls;
};

const std::string Support(config::SupportAddress);

TEST(CheckServerProbe, FetchesTheProbeAddressOnceWithDefaultLimits) {
    RecordingHost host;
    std::vector<std::string> fetched;
    FetchOptions seen;
    auto fetch = [&](const std::string& url, const FetchOptions& options) {
        fetched.push_back(url);
        seen = options;
        return std::string("ok");
    };

    EXPECT_TRUE(CheckServer(host, fetch, "svc.example"));

    EXPECT_EQ(fetched, std::vector<std::string>{"http://svc.example/app/apphtml.html"});
    EXPECT_EQ(probeAddress("https://svc.example"), "https://svc.example/app/apphtml.html");
    const FetchOptions defaults;
    EXPECT_EQ(seen.connectTimeout, defaults.connectTimeout);
    EXPECT_EQ(seen.idleTimeout, defaults.idleTimeout);
    EXPECT_EQ(seen.totalTimeout, 60s);
    EXPECT_EQ(seen.maxBodyBytes, defaults.maxBodyBytes);
    EXPECT_EQ(seen.maxRedirects, defaults.maxRedirects);
}

struct Outcome {
    const char* name;
    std::function<std::string(const std::string&, const FetchOptions&)> fetch;
    bool goesOn;
    std::vector<std::string> calls;
};

void PrintTo(const Outcome& value, std::ostream* out) {
    *out << value.name;
}

class CheckServerOutcomeTest : public ::testing::TestWithParam<Outcome> {};

TEST_P(CheckServerOutcomeTest, TellsTheUserThenUnloads) {
    RecordingHost host;
    EXPECT_EQ(CheckServer(host, GetParam().fetch, "svc.example"), GetParam().goesOn);
    EXPECT_EQ(host.calls, GetParam().calls);
}

std::string answer(std::string text) {
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, CheckServerOutcomeTest,
    ::testing::Values(
        Outcome{"OneCharacter", [](auto&, auto&) { return answer("x"); }, true, {}},
        Outcome{"EmptyAnswer",
                [](auto&, auto&) { return answer(""); },
                false,
                {"MsgBox: " + unreachableMessage(), "UnloadMain"}},
        Outcome{"LibraryFailure",
                [](auto&, const FetchOptions& options) {
                    options.onRunTimeError(2, "Failed initialization");
                    return answer("");
                },
                false,
                {"MsgBox: " + connectErrorReport(2, "Failed initialization"), "UnloadMain"}},
        // The library's failure decides even if some text came back with it.
        Outcome{"LibraryFailureWithText",
                [](auto&, const FetchOptions& options) {
                    options.onRunTimeError(12029, "Cannot connect");
                    return answer("partial");
                },
                false,
                {"MsgBox: " + connectErrorReport(12029, "Cannot connect"), "UnloadMain"}},
        Outcome{
            "FetcherThrowsRunTimeError",
            [](auto&, auto&) -> std::string { throw RunTimeError(5, "Access denied"); },
            false,
            {"MsgBox: An error occured.  Please report this to " + Support + ": 5\tAccess denied",
             "UnloadMain"}},
        Outcome{"FetcherRunsOutOfMemory",
                [](auto&, auto&) -> std::string { throw std::bad_alloc(); },
                false,
                {"MsgBox: " + loadErrorReport(errnum::OutOfMemory, "Out of memory"), "UnloadMain"}},
        Outcome{
            "FetcherThrowsSomethingElse",
            [](auto&, auto&) -> std::string { throw 42; },
            false,
            {"MsgBox: " + loadErrorReport(errnum::Unexpected, "Unknown failure"), "UnloadMain"}}),
    [](const auto& info) { return std::string(info.param.name); });

// The wait for a network, with fetches that answer from a script (one per look; the last one
// repeats) and the system's word on connectivity.
struct WaitCase {
    const char* name;
    std::vector<std::optional<FetchFailure>> looks; // none: an empty page was served
    bool systemOffline;
    std::size_t fetches; // 0: more than one, until the bound
};

void PrintTo(const WaitCase& value, std::ostream* out) {
    *out << value.name;
}

class CheckServerWaitTest : public ::testing::TestWithParam<WaitCase> {};

TEST_P(CheckServerWaitTest, WaitsOnlyForAMissingNetwork) {
    const WaitCase& c = GetParam();
    std::size_t fetches = 0;
    auto fetch = [&](const std::string&, const FetchOptions& options) {
        const auto& look = c.looks[std::min(fetches++, c.looks.size() - 1)];
        if (look)
            options.onFailure(*look);
        return std::string();
    };
    NetworkWait wait;
    wait.bound = 200ms;
    wait.interval = 20ms;
    wait.systemOffline = [&] { return c.systemOffline; };
    RecordingHost host;

    EXPECT_FALSE(CheckServer(host, fetch, "svc.example", wait));
    EXPECT_EQ(host.calls,
              (std::vector<std::string>{"MsgBox: " + unreachableMessage(), "UnloadMain"}));
    if (c.fetches == 0)
        EXPECT_GT(fetches, 2u);
    else
        EXPECT_EQ(fetches, c.fetches);
}

INSTANTIATE_TEST_SUITE_P(
    Looks, CheckServerWaitTest,
    ::testing::Values(
        WaitCase{"RefusedAtOnce", {FetchFailure::Refused}, false, 1},
        WaitCase{"EmptyPageAtOnce", {std::nullopt}, false, 1},
        WaitCase{"TimedOutAtOnce", {FetchFailure::Other}, false, 1},
        WaitCase{"RefusedWhileTheSystemSaysOffline", {FetchFailure::Refused}, true, 1},
        WaitCase{"TimedOutWhileTheSystemSaysOffline", {FetchFailure::Other}, true, 0},
        // The network comes: the server's answer decides at once.
        WaitCase{"NoNetworkThenEmptyPage", {FetchFailure::NoNetwork, std::nullopt}, false, 2},
        WaitCase{"NoNetworkThroughout", {FetchFailure::NoNetwork}, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// With the real fetch: a served probe page lets the start go on, a stopped server does not.
TEST(CheckServerWithServer, AnswersAsTheServerDoes) {
    pellamark::testing::ScopedNoProxy noProxy;
    TestHttpServer server;
    server.setHandler([](const HttpRequest& request) {
        return request.target == "/app/apphtml.html" ? HttpResponse::text("<html>up</html>")
                                                     : HttpResponse::text("", 404);
    });
    RecordingHost host;

    EXPECT_TRUE(CheckServer(host, OpenUrl, server.hostAndPort()));
    EXPECT_TRUE(host.calls.empty());
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].header("User-Agent"), "VB OpenUrl");

    server.stop();
    EXPECT_FALSE(CheckServer(host, OpenUrl, server.hostAndPort()));
    EXPECT_EQ(host.calls,
              (std::vector<std::string>{"MsgBox: " + unreachableMessage(), "UnloadMain"}));
}

// The check runs before the event loop, which is what normally takes termination requests. A
// copy of the start-up (the lock taken, the signals armed as the program arms them) held by a
// server that drips its answer must still end at once, with status 0 and the lock freed.
// Linux only: a windowed Windows program gets no such signals (the call does nothing there).
#ifndef _WIN32
// The wait under real conditions: the check runs in a process with a network of its own whose
// loopback, where the server listens, is down until the case brings it up (or up from the start).
struct NetworkCase {
    const char* name;
    std::optional<std::chrono::milliseconds> networkAfter; // none: never
    bool serverListens;
    std::chrono::milliseconds bound;
    bool goesOn;
    std::chrono::milliseconds atLeast, below; // the time the check took
};

void PrintTo(const NetworkCase& value, std::ostream* out) {
    *out << value.name;
}

class CheckServerNetworkTest : public ::testing::TestWithParam<NetworkCase> {};

TEST_P(CheckServerNetworkTest, WaitsForTheNetworkWithinTheBound) {
    const NetworkCase& c = GetParam();
    const pellamark::testing::ChildSetup setup{.ownNetwork = true};
    if (!pellamark::testing::runInChild([] { return std::string(); }, setup)) {
        GTEST_SKIP() << "cannot make a network namespace here (no privilege, no user namespaces)";
    }
    const auto outcome = pellamark::testing::runInChild(
        [&c] {
            using pellamark::testing::setLoopbackUp;
            pellamark::testing::ScopedNoProxy noProxy;
            // The server starts with the loopback up and keeps listening while it is down.
            if (!setLoopbackUp(true))
                return std::string("the loopback cannot be set up");
            TestHttpServer server;
            server.setHandler([](const HttpRequest&) { return HttpResponse::text("<html/>"); });
            if (!c.serverListens)
                server.stop();
            if (c.networkAfter != 0ms && !setLoopbackUp(false))
                return std::string("the loopback cannot be taken down");
            std::thread network([&c] {
                if (c.networkAfter > 0ms) {
                    std::this_thread::sleep_for(*c.networkAfter);
                    setLoopbackUp(true);
                }
            });
            NetworkWait wait;
            wait.bound = c.bound;
            wait.interval = 250ms;
            RecordingHost host;
            const auto started = std::chrono::steady_clock::now();
            const bool goesOn = CheckServer(host, OpenUrl, server.hostAndPort(), wait);
            const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - started);
            network.join();
            setLoopbackUp(true); // the server stops through it
            std::string result = std::to_string(took.count()) + (goesOn ? " on" : " off");
            for (const std::string& call : host.calls)
                result += "\n" + call;
            return result;
        },
        setup);
    ASSERT_TRUE(outcome) << "the check's process did not end normally";
    std::cout << c.name << ": " << *outcome << "\n";
    const std::size_t space = outcome->find(' ');
    ASSERT_NE(space, std::string::npos) << *outcome;
    const std::chrono::milliseconds took(std::stol(outcome->substr(0, space)));
    std::string expected = std::string(c.goesOn ? " on" : " off");
    if (!c.goesOn)
        expected += "\nMsgBox: " + unreachableMessage() + "\nUnloadMain";
    EXPECT_EQ(outcome->substr(space), expected);
    EXPECT_GE(took, c.atLeast);
    EXPECT_LT(took, c.below);
}

INSTANTIATE_TEST_SUITE_P(
    Conditions, CheckServerNetworkTest,
    ::testing::Values(NetworkCase{"NetworkAfterTwoSeconds", 2s, true, 30s, true, 2s, 10s},
                      NetworkCase{"NoNetworkForTheWholeWait", std::nullopt, true, 1500ms, false,
                                  1500ms, 10s},
                      NetworkCase{"NetworkUpServerRefuses", 0ms, false, 30s, false, 0ms, 2s}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CheckServerWithServer, ATerminationSignalEndsTheCheckAtOnce) {
    pellamark::testing::ScopedNoProxy noProxy;
    pellamark::testing::TempDir dir;
    const std::string lockFolder = (dir / "pellamark").string();
    int portPipe[2];
    ASSERT_EQ(::pipe(portPipe), 0);
    // Forked before the server starts its threads; the child learns the port through the pipe.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        endAtOnceOnTerminationSignals();
        SingleInstance instance;
        unsigned short port = 0;
        if (instance.acquire(lockFolder) != SingleInstance::Result::First ||
            ::read(portPipe[0], &port, sizeof port) != sizeof port) {
            ::_exit(3);
        }
        RecordingHost host;
        CheckServer(host, OpenUrl, "127.0.0.1:" + std::to_string(port));
        ::_exit(4); // the check ended on its own: not what is tested
    }
    TestHttpServer server;
    server.setMode(TestHttpServer::Mode::DripBody);
    server.setDripInterval(200ms);
    const unsigned short port = server.port();
    ASSERT_EQ(::write(portPipe[1], &port, sizeof port), static_cast<ssize_t>(sizeof port));
    for (int i = 0; i < 200 && server.requests().empty(); ++i) {
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_EQ(server.requests().size(), 1u) << "the check did not start";
    std::this_thread::sleep_for(500ms); // well into the dripping answer

    const auto signalled = std::chrono::steady_clock::now();
    ::kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const auto elapsed = std::chrono::steady_clock::now() - signalled;
    std::cout << "SIGTERM during the check: ended after "
              << std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count() << " ms\n";

    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_LT(elapsed, 1s);
    SingleInstance next;
    EXPECT_EQ(next.acquire(lockFolder), SingleInstance::Result::First);
    ::close(portPipe[0]);
    ::close(portPipe[1]);
}
#endif

} // namespace
