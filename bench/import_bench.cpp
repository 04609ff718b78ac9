// Bookmark file import and export through HTTP against a running service process: an import of
// a small file (10,000 bookmarks), one of a large file (100,000, ~100 MB with ICON data) while
// another user views pages and adds, and an export of the 100,000. Reports the times, the
// service's resident memory sampled throughout the large import (from /proc), and the other
// user's latencies meanwhile. Not a test: scripts/bench-service.sh --import runs it.
//
//   bench_service_import --target HOST:PORT --pid PID --small FILE --large FILE
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

const std::string Boundary = "----pellamark-bench-boundary";

std::string pagePath(const std::string& user) {
    return "/app/fav.asp?userid=" + user + "&emailid=bench@example.org&pubid=2&version=1.00.00";
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The process's resident memory now, in MB; VmHWM for its peak since it started.
double memoryOf(int pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atof(line.c_str() + std::strlen(field) + 1) / 1024.0;
    return 0;
}

// The import form with the file streamed from disk, never read into memory whole.
httplib::Result importFile(httplib::Client& client, const std::string& user,
                           const std::filesystem::path& file) {
    const std::string head = "--" + Boundary +
                             "\r\nContent-Disposition: form-data; name=\"action\"\r\n\r\nimport\r\n"
                             "--" +
                             Boundary +
                             "\r\nContent-Disposition: form-data; name=\"file\"; "
                             "filename=\"bookmarks.html\"\r\nContent-Type: text/html\r\n\r\n";
    const std::string tail = "\r\n--" + Boundary + "--\r\n";
    const std::size_t fileSize = std::filesystem::file_size(file);
    auto in = std::make_shared<std::ifstream>(file, std::ios::binary);
    std::vector<char> buffer(256 * 1024);
    return client.Post(
        pagePath(user).c_str(), head.size() + fileSize + tail.size(),
        [&, in](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset < head.size())
                return sink.write(head.data() + offset, head.size() - offset);
            if (offset < head.size() + fileSize) {
                in->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
                return sink.write(buffer.data(), static_cast<std::size_t>(in->gcount()));
            }
            const std::size_t at = offset - head.size() - fileSize;
            return sink.write(tail.data() + at, tail.size() - at);
        },
        ("multipart/form-data; boundary=" + Boundary).c_str());
}

std::string notice(const std::string& page) {
    static const std::regex text("<p class=\"notice\" role=\"status\">([^<]*)</p>");
    std::smatch match;
    return std::regex_search(page, match, text) ? match[1].str() : "(no notice)";
}

struct Latencies {
    std::mutex mutex;
    std::vector<double> pages;
    std::vector<double> adds;
    int errors = 0;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

void printLatencies(const char* what, const std::vector<double>& values) {
    std::printf("  %-11s %5zu requests, p50 %.1f ms, p99 %.1f ms, max %.1f ms\n", what,
                values.size(), percentile(values, 0.5), percentile(values, 0.99),
                values.empty() ? 0.0 : *std::max_element(values.begin(), values.end()));
}

} // namespace

int main(int argc, char** argv) {
    std::string target;
    int pid = 0;
    std::filesystem::path small, large;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--target")
            target = argv[i + 1];
        else if (arg == "--pid")
            pid = std::atoi(argv[i + 1]);
        else if (arg == "--small")
            small = argv[i + 1];
        else if (arg == "--large")
            large = argv[i + 1];
    }
    const auto colon = target.rfind(':');
    if (target.empty() || colon == std::string::npos || pid <= 0 || small.empty() ||
        large.empty()) {
        std::fprintf(stderr, "usage: %s --target HOST:PORT --pid PID --small FILE --large FILE\n",
                     argv[0]);
        return 2;
    }
    const std::string host = target.substr(0, colon);
    const int port = std::atoi(target.c_str() + colon + 1);
    auto clientFor = [&] {
        httplib::Client client(host, port);
        client.set_read_timeout(120, 0);
        client.set_write_timeout(120, 0);
        return client;
    };
    auto client = clientFor();
    bool ok = true;

    auto start = Clock::now();
    auto res = importFile(client, "benchsmall000001", small);
    std::printf("import of %s (%.1f MB): %.2f s, status %d: %s\n", small.filename().c_str(),
                double(std::filesystem::file_size(small)) / 1e6, secondsSince(start),
                res ? res->status : -1, res ? notice(res->body).c_str() : "no answer");
    ok = ok && res && res->status == 200;

    // Another user with favourites of their own, viewing pages and adding while the large
    // import runs; the memory sampled every 10 ms.
    const std::string other = "benchother000001";
    for (int i = 0; i < 50; ++i)
        client.Post(pagePath(other).c_str(),
                    "action=add&title=Own&url=https%3A%2F%2Fown" + std::to_string(i) +
                        ".example.org%2F",
                    "application/x-www-form-urlencoded");
    std::atomic<bool> done{false};
    Latencies latencies;
    double peakSampled = 0;
    std::thread sampler([&] {
        while (!done) {
            peakSampled = std::max(peakSampled, memoryOf(pid, "VmRSS:"));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    auto load = [&](bool adds) {
        auto mine = clientFor();
        for (int n = 0; !done; ++n) {
            const auto begin = Clock::now();
            auto answer = adds ? mine.Post(pagePath(other).c_str(),
                                           "action=add&title=During&url=https%3A%2F%2Fduring" +
                                               std::to_string(n) + ".example.org%2F",
                                           "application/x-www-form-urlencoded")
                               : mine.Get(pagePath(other).c_str());
            const double millis = secondsSince(begin) * 1000;
            {
                std::lock_guard lock(latencies.mutex);
                (adds ? latencies.adds : latencies.pages).push_back(millis);
                latencies.errors += !answer || answer->status != (adds ? 303 : 200);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    };
    std::thread viewer(load, false);
    std::thread adder(load, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    start = Clock::now();
    res = importFile(client, "benchlarge000001", large);
    const double largeSeconds = secondsSince(start);
    done = true;
    viewer.join();
    adder.join();
    sampler.join();
    std::printf("import of %s (%.1f MB): %.2f s, status %d: %s\n", large.filename().c_str(),
                double(std::filesystem::file_size(large)) / 1e6, largeSeconds,
                res ? res->status : -1, res ? notice(res->body).c_str() : "no answer");
    ok = ok && res && res->status == 200;
    std::printf("service resident memory: %.1f MB at most while importing (sampled every 10 ms), "
                "peak since its start %.1f MB\n",
                peakSampled, memoryOf(pid, "VmHWM:"));
    std::printf("another user's requests during the import (%d errors):\n", latencies.errors);
    printLatencies("page views", latencies.pages);
    printLatencies("adds", latencies.adds);
    auto all = latencies.pages;
    all.insert(all.end(), latencies.adds.begin(), latencies.adds.end());
    printLatencies("all", all);

    start = Clock::now();
    res = client.Get((pagePath("benchlarge000001") + "&action=export").c_str());
    std::printf("export of the 100,000: %.2f s, status %d, %.1f MB; service peak resident memory "
                "since its start %.1f MB\n",
                secondsSince(start), res ? res->status : -1,
                res ? double(res->body.size()) / 1e6 : 0.0, memoryOf(pid, "VmHWM:"));
    ok = ok && res && res->status == 200;
    return ok ? 0 : 1;
}
