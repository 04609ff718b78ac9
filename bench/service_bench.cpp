// Load on the favourites service: N clients, each adding a favourite and then fetching its page,
// for T seconds. Reports throughput, latency, errors, stale lists (a list fetched right after the
// user's own add that does not show it first) and lost writes (acknowledged adds not listed at
// the end). Not a test: run it by hand or with scripts/bench-service.sh.
//
// Without --target the service runs in this process over --database (default: SQLite in a
// temporary folder). With --target HOST:PORT (repeatable) it loads running service processes:
// client c adds through target c mod n and fetches its list through the next target, so a list
// comes from another process than the add whenever there are several. With --every-target the
// list is fetched through every target, which must all answer the same.
#include "service/Service.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

using namespace pellamark::service;
using Clock = std::chrono::steady_clock;

namespace {

struct Target {
    std::string host;
    int port = 0;
};

struct ClientResult {
    long adds = 0;   // acknowledged with 303
    long lists = 0;  // answered with 200
    long errors = 0; // anything else, including transport failures
    long stale = 0;  // a list right after the user's own add without it, or differing by target
    std::map<std::string, long> errorKinds;
    std::vector<double> addMillis;
    std::vector<double> listMillis;

    void fail(const httplib::Result& res) {
        ++errors;
        ++errorKinds[res ? "HTTP " + std::to_string(res->status) : httplib::to_string(res.error())];
    }
};

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * double(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::unique_ptr<httplib::Client> connect(const Target& target) {
    auto cli = std::make_unique<httplib::Client>(target.host, target.port);
    cli->set_connection_timeout(5);
    cli->set_read_timeout(10);
    cli->set_keep_alive(true);
    cli->set_tcp_nodelay(true);
    return cli;
}

// The title of the first (newest) favourite on a page, if any.
std::optional<std::string> newestTitle(const std::string& page) {
    static const std::regex first(
        R"re(<li class="fav">.*?rel="noopener noreferrer" title="[^"]*">([^<]*)</a>)re");
    std::smatch match;
    if (!std::regex_search(page, match, first))
        return std::nullopt;
    return match[1].str();
}

// The number of favourites a page lists.
long listedCount(const std::string& page) {
    static const std::regex count(R"re(<p class="count">(\d+) favourites?</p>)re");
    std::smatch match;
    if (std::regex_search(page, match, count))
        return std::atol(match[1].str().c_str());
    return page.find("No favourites yet") != std::string::npos ? 0 : -1;
}

int usage(const char* program) {
    std::fprintf(stderr,
                 "Usage: %s [--clients N] [--seconds T] [--data DIR | --database LOCATION | "
                 "--target HOST:PORT... [--every-target]]\n",
                 program);
    return 2;
}

} // namespace

// The large-collection modes (service_large.cpp).
int runLarge(int argc, char** argv);

int main(int argc, char** argv) {
    if (argc > 1 && (std::string(argv[1]) == "--large" || std::string(argv[1]) == "--generate"))
        return runLarge(argc, argv);
    int clients = 8;
    double seconds = 5;
    std::optional<StoreLocation> store;
    std::vector<Target> targets;
    bool everyTarget = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--every-target") {
            everyTarget = true;
            continue;
        }
        if (i + 1 >= argc)
            return usage(argv[0]);
        const std::string value = argv[++i];
        if (arg == "--clients") {
            clients = std::atoi(value.c_str());
        } else if (arg == "--seconds") {
            seconds = std::atof(value.c_str());
        } else if (arg == "--data") {
            store = StoreLocation::sqlite(value);
        } else if (arg == "--database") {
            auto parsed = parseStoreLocation(value);
            if (const auto* problem = std::get_if<std::string>(&parsed)) {
                std::fprintf(stderr, "--database: %s\n", problem->c_str());
                return 2;
            }
            store = std::get<StoreLocation>(parsed);
        } else if (arg == "--target") {
            const auto colon = value.rfind(':');
            if (colon == std::string::npos)
                return usage(argv[0]);
            targets.push_back({value.substr(0, colon), std::atoi(value.c_str() + colon + 1)});
        } else {
            return usage(argv[0]);
        }
    }
    if (clients < 1 || seconds <= 0 || (store && !targets.empty()))
        return usage(argv[0]);

    std::filesystem::path ownDataDir;
    if (!store && targets.empty()) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pellamark-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            return 1;
        }
        ownDataDir = pattern;
        store = StoreLocation::sqlite(ownDataDir);
    }

    std::unique_ptr<Service> service;
    std::thread server;
    if (store) {
        ServiceConfig config;
        config.store = *store;
        // Enough workers that every keep-alive client has one.
        config.threads = static_cast<std::size_t>(std::max(32, clients * 2));
        service = std::make_unique<Service>(std::move(config));
        const int port = service->bind("127.0.0.1", 0);
        if (port <= 0) {
            std::fprintf(stderr, "cannot bind\n");
            return 1;
        }
        server = std::thread([&] { service->run(); });
        targets.push_back({"127.0.0.1", port});
    }

    // Users of this run only, so a database kept from an earlier run does not count.
    std::random_device seed;
    const std::string run = std::to_string(std::mt19937(seed())() % 1'000'000'000u);
    auto userOf = [&](int c) { return "bench" + run + "-" + std::to_string(c); };
    auto pathOf = [&](int c) {
        return "/app/fav.asp?userid=" + userOf(c) +
               "&emailid=bench@example.org&pubid=2&version=1.00.00";
    };

    std::vector<ClientResult> results(static_cast<std::size_t>(clients));
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration<double>(seconds);
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            auto& result = results[static_cast<std::size_t>(c)];
            const std::size_t own = static_cast<std::size_t>(c) % targets.size();
            std::vector<std::unique_ptr<httplib::Client>> clis;
            for (const auto& target : targets)
                clis.push_back(connect(target));
            const std::string path = pathOf(c);
            for (long n = 0; Clock::now() < deadline; ++n) {
                const std::string title = "Site " + std::to_string(n);
                const std::string body = "action=add&title=Site+" + std::to_string(n) +
                                         "&url=https%3A%2F%2Fsite" + std::to_string(n) +
                                         ".example.org%2F";
                auto t0 = Clock::now();
                auto res = clis[own]->Post(path.c_str(), body, "application/x-www-form-urlencoded");
                if (!res || res->status != 303) {
                    result.fail(res);
                    continue;
                }
                ++result.adds;
                result.addMillis.push_back(millisSince(t0));
                // Right after the add, the list must show it first, through any process, and
                // the same through all of them.
                std::optional<std::string> firstPage;
                for (std::size_t k = 0; k < (everyTarget ? clis.size() : 1); ++k) {
                    auto& cli = clis[(own + 1 + k) % clis.size()];
                    t0 = Clock::now();
                    res = cli->Get(path.c_str());
                    if (!res || res->status != 200) {
                        result.fail(res);
                        continue;
                    }
                    ++result.lists;
                    result.listMillis.push_back(millisSince(t0));
                    if (newestTitle(res->body) != title || (firstPage && *firstPage != res->body))
                        ++result.stale;
                    if (!firstPage)
                        firstPage = res->body;
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    ClientResult total;
    long found = 0;
    long lost = 0;
    long extra = 0;
    long unchecked = 0;
    auto verifier = connect(targets.front());
    for (int c = 0; c < clients; ++c) {
        auto& result = results[static_cast<std::size_t>(c)];
        total.adds += result.adds;
        total.lists += result.lists;
        total.errors += result.errors;
        total.stale += result.stale;
        for (const auto& [kind, count] : result.errorKinds)
            total.errorKinds[kind] += count;
        total.addMillis.insert(total.addMillis.end(), result.addMillis.begin(),
                               result.addMillis.end());
        total.listMillis.insert(total.listMillis.end(), result.listMillis.begin(),
                                result.listMillis.end());
        auto res = verifier->Get(pathOf(c).c_str());
        const long rows = res && res->status == 200 ? listedCount(res->body) : -1;
        if (rows < 0) {
            ++unchecked;
            continue;
        }
        found += rows;
        lost += std::max(0L, result.adds - rows);
        extra += std::max(0L, rows - result.adds);
    }
    if (service) {
        service->stop();
        server.join();
    }

    const long requests = total.adds + total.lists + total.errors;
    std::printf("clients            %d\n", clients);
    std::printf("service processes  %zu%s\n", targets.size(), service ? " (in this process)" : "");
    std::printf("duration           %.2f s\n", elapsed);
    std::printf("requests           %ld (%.0f per second)\n", requests, requests / elapsed);
    std::printf("adds acknowledged  %ld (%.0f per second)\n", total.adds, total.adds / elapsed);
    std::printf("lists answered     %ld (%.0f per second)\n", total.lists, total.lists / elapsed);
    std::printf("add latency        p50 %.2f ms, p99 %.2f ms\n", percentile(total.addMillis, 0.50),
                percentile(total.addMillis, 0.99));
    std::printf("list latency       p50 %.2f ms, p99 %.2f ms\n", percentile(total.listMillis, 0.50),
                percentile(total.listMillis, 0.99));
    std::printf("errors             %ld\n", total.errors);
    for (const auto& [kind, count] : total.errorKinds)
        std::printf("  %-16s %ld\n", kind.c_str(), count);
    std::printf("stale lists        %ld\n", total.stale);
    std::printf("rows found         %ld\n", found);
    std::printf("lost writes        %ld\n", lost);
    std::printf("unacknowledged rows %ld\n", extra);
    if (unchecked > 0)
        std::printf("users not checked  %ld\n", unchecked);

    if (!ownDataDir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(ownDataDir, ec);
    }
    return total.errors > 0 || total.stale > 0 || lost > 0 || unchecked > 0 ? 1 : 0;
}
