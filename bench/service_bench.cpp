// Load on the favourites service: N clients, each adding a favourite and then fetching its page,
// for T seconds. Reports throughput, latency, errors and lost writes (acknowledged adds that are
// not in the database at the end). Not a test: run it by hand or with scripts/bench-service.sh.
#include "Service.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace pellamark::service;
using Clock = std::chrono::steady_clock;

namespace {

struct ClientResult {
    long adds = 0;   // acknowledged with 303
    long lists = 0;  // answered with 200
    long errors = 0; // anything else, including transport failures
    std::map<std::string, long> errorKinds;
    std::vector<double> addMillis;

    void fail(const httplib::Result& res) {
        ++errors;
        ++errorKinds[res ? "HTTP " + std::to_string(res->status) : httplib::to_string(res.error())];
    }
    std::vector<double> listMillis;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * double(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

int usage(const char* program) {
    std::fprintf(stderr, "Usage: %s [--clients N] [--seconds T] [--data DIR]\n", program);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    int clients = 8;
    double seconds = 5;
    std::filesystem::path dataDir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return usage(argv[0]);
        if (arg == "--clients")
            clients = std::atoi(argv[++i]);
        else if (arg == "--seconds")
            seconds = std::atof(argv[++i]);
        else if (arg == "--data")
            dataDir = argv[++i];
        else
            return usage(argv[0]);
    }
    if (clients < 1 || seconds <= 0)
        return usage(argv[0]);

    const bool ownDataDir = dataDir.empty();
    if (ownDataDir) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pellamark-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            return 1;
        }
        dataDir = pattern;
    }

    int exitCode = 0;
    {
        // Enough workers that every keep-alive client has one.
        Service service({dataDir, static_cast<std::size_t>(std::max(32, clients * 2)), {}});
        const int port = service.bind("127.0.0.1", 0);
        if (port <= 0) {
            std::fprintf(stderr, "cannot bind\n");
            return 1;
        }
        std::thread server([&] { service.run(); });

        std::vector<ClientResult> results(static_cast<std::size_t>(clients));
        std::vector<std::thread> threads;
        const auto start = Clock::now();
        const auto deadline = start + std::chrono::duration<double>(seconds);
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                auto& result = results[static_cast<std::size_t>(c)];
                httplib::Client cli("127.0.0.1", port);
                cli.set_connection_timeout(5);
                cli.set_read_timeout(10);
                cli.set_keep_alive(true);
                cli.set_tcp_nodelay(true);
                const std::string path = "/app/fav.asp?userid=bench" + std::to_string(c) +
                                         "&emailid=bench@example.org&pubid=2&version=1.00.00";
                for (long n = 0; Clock::now() < deadline; ++n) {
                    const std::string body = "action=add&title=Site+" + std::to_string(n) +
                                             "&url=https%3A%2F%2Fsite" + std::to_string(n) +
                                             ".example.org%2F";
                    auto t0 = Clock::now();
                    auto res = cli.Post(path.c_str(), body, "application/x-www-form-urlencoded");
                    auto t1 = Clock::now();
                    if (res && res->status == 303) {
                        ++result.adds;
                        result.addMillis.push_back(
                            std::chrono::duration<double, std::milli>(t1 - t0).count());
                    } else {
                        result.fail(res);
                    }
                    t0 = Clock::now();
                    res = cli.Get(path.c_str());
                    t1 = Clock::now();
                    if (res && res->status == 200) {
                        ++result.lists;
                        result.listMillis.push_back(
                            std::chrono::duration<double, std::milli>(t1 - t0).count());
                    } else {
                        result.fail(res);
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
        for (int c = 0; c < clients; ++c) {
            auto& result = results[static_cast<std::size_t>(c)];
            total.adds += result.adds;
            total.lists += result.lists;
            total.errors += result.errors;
            for (const auto& [kind, count] : result.errorKinds)
                total.errorKinds[kind] += count;
            total.addMillis.insert(total.addMillis.end(), result.addMillis.begin(),
                                   result.addMillis.end());
            total.listMillis.insert(total.listMillis.end(), result.listMillis.begin(),
                                    result.listMillis.end());
            const long rows = static_cast<long>(service.store().count("bench" + std::to_string(c)));
            found += rows;
            lost += std::max(0L, result.adds - rows);
            extra += std::max(0L, rows - result.adds);
        }
        service.stop();
        server.join();

        const long requests = total.adds + total.lists + total.errors;
        std::printf("clients            %d\n", clients);
        std::printf("duration           %.2f s\n", elapsed);
        std::printf("requests           %ld (%.0f per second)\n", requests, requests / elapsed);
        std::printf("adds acknowledged  %ld (%.0f per second)\n", total.adds, total.adds / elapsed);
        std::printf("lists answered     %ld (%.0f per second)\n", total.lists,
                    total.lists / elapsed);
        std::printf("add latency        p50 %.2f ms, p99 %.2f ms\n",
                    percentile(total.addMillis, 0.50), percentile(total.addMillis, 0.99));
        std::printf("list latency       p50 %.2f ms, p99 %.2f ms\n",
                    percentile(total.listMillis, 0.50), percentile(total.listMillis, 0.99));
        std::printf("errors             %ld\n", total.errors);
        for (const auto& [kind, count] : total.errorKinds)
            std::printf("  %-16s %ld\n", kind.c_str(), count);
        std::printf("rows found         %ld\n", found);
        std::printf("lost writes        %ld\n", lost);
        std::printf("unacknowledged rows %ld\n", extra);
        if (total.errors > 0 || lost > 0)
            exitCode = 1;
    }
    if (ownDataDir) {
        std::error_code ec;
        std::filesystem::remove_all(dataDir, ec);
    }
    return exitCode;
}
