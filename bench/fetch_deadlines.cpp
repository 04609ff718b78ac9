// How long the start-up check's fetch waits on each kind of server that holds it, with the limits
// the check really uses (no shortened time-outs, unlike the tests). Takes about six minutes.
// Not a test: run it by hand (build target bench_fetch_deadlines).
#include "TestHttpServer.h"
#include "net/CheckServer.h"
#include "net/OpenUrl.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

using pellamark::FetchOptions;
using pellamark::testing::HttpRequest;
using pellamark::testing::HttpResponse;
using pellamark::testing::TestHttpServer;
using namespace std::chrono_literals;

int main() {
    pellamark::testing::ScopedNoProxy noProxy;
    const struct {
        const char* name;
        TestHttpServer::Mode mode;
        std::chrono::seconds hop; // how long each redirect takes (Mode::Answer)
    } cases[] = {
        {"never answers", TestHttpServer::Mode::NeverAnswer, 0s},
        {"headers, then silence", TestHttpServer::Mode::HeadersThenStall, 0s},
        {"drips the body, a byte a second", TestHttpServer::Mode::DripBody, 0s},
        {"drips header lines, a byte a second", TestHttpServer::Mode::DripHeaders, 0s},
        {"a body of 1 GiB", TestHttpServer::Mode::GiantBody, 0s},
        {"redirects to itself, each after 2 s", TestHttpServer::Mode::Answer, 2s},
        {"redirects to itself, each after 7 s", TestHttpServer::Mode::Answer, 7s},
    };
    // As the check sets them.
    FetchOptions options;
    options.totalTimeout = pellamark::CheckDeadline;
    std::printf("limits: connect %lld ms, idle %lld ms, overall %lld ms, body %zu bytes, "
                "%ld redirects\n",
                static_cast<long long>(options.connectTimeout.count()),
                static_cast<long long>(options.idleTimeout.count()),
                static_cast<long long>(options.totalTimeout.count()), options.maxBodyBytes,
                options.maxRedirects);
    for (const auto& c : cases) {
        TestHttpServer server;
        server.setMode(c.mode);
        server.setDripInterval(1s);
        server.setHandler([hop = c.hop](const HttpRequest&) {
            std::this_thread::sleep_for(hop);
            return HttpResponse::redirect("/app/apphtml.html");
        });
        const auto started = std::chrono::steady_clock::now();
        const std::string text = pellamark::OpenUrl(server.url("/app/apphtml.html"), options);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("%-40s gave up after %7.3f s, %zu bytes kept, %zu requests\n", c.name, seconds,
                    text.size(), server.requests().size());
        std::fflush(stdout);
    }
    return 0;
}
