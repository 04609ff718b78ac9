// A normal client's latency while other connections are held open: idle ones that never send a
// byte, and slow ones that drip an endless request head one byte per second. Starts the service
// binary for every scenario, so any build of it can be measured:
//   bench_slow_clients [--service PATH] [--seconds T] [--sources N] [--scenario IDLE:SLOW]...
// The held connections come from N loopback addresses (127.0.0.2 and up), the normal client from
// 127.0.0.1. After the measurement the service gets SIGTERM while the connections are still held,
// and the time until it has exited is printed too. Not a test: run it by hand.
#include "ChildProcess.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

struct Scenario {
    int idle = 0;
    int slow = 0;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * double(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// The service binary on a free port of 127.0.0.1.
class ServiceProcess {
public:
    ServiceProcess(const std::string& binary, const std::filesystem::path& dataDir)
        : m_child({binary, "--listen", "127.0.0.1:0", "--data", dataDir.string()}) {
        const std::string line = m_child.firstLine();
        m_port = pellamark::testing::announcedPort(line);
        if (m_port <= 0)
            throw std::runtime_error("the service did not start: " + line);
    }

    int port() const { return m_port; }

    // Milliseconds from SIGTERM to the exit, or a negative number when it took over ten seconds
    // (the process is then killed).
    double terminate() {
        const auto start = Clock::now();
        m_child.signal(SIGTERM);
        if (m_child.exitCode(10'000) < 0)
            return -1;
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }

private:
    pellamark::testing::Child m_child;
    int m_port = 0;
};

// Holds connections open from one thread: idle ones send nothing, slow ones send the next byte of
// a request head that never ends every dripInterval. A connection the server closes is opened
// again a little later, as a determined client would.
class ConnectionHolder {
public:
    ConnectionHolder(int port, Scenario scenario, int sources)
        : m_port(port), m_sources(std::max(1, sources)) {
        m_head =
            "GET /app/apphtml.html HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
        for (int i = 0; i < scenario.idle + scenario.slow; ++i)
            m_connections.push_back({-1, i >= scenario.idle, false, 0, Clock::now(), i});
        m_thread = std::thread([this] { loop(); });
    }
    ~ConnectionHolder() {
        m_stop = true;
        m_thread.join();
        for (auto& c : m_connections)
            if (c.fd >= 0)
                ::close(c.fd);
    }

    int heldIdle() const { return m_heldIdle; }
    int heldSlow() const { return m_heldSlow; }
    long closedByServer() const { return m_closed; }

private:
    static constexpr auto DripInterval = 1s;
    static constexpr auto ReconnectDelay = 200ms;

    struct Connection {
        int fd;
        bool slow;
        bool connected;
        std::size_t sent;
        Clock::time_point next;
        int index;
    };

    char byteAt(std::size_t index) const {
        static const std::string filler = "X-a: b\r\n";
        return index < m_head.size() ? m_head[index]
                                     : filler[(index - m_head.size()) % filler.size()];
    }

    void open(Connection& c) {
        c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        c.connected = false;
        c.sent = 0;
        if (c.fd < 0) {
            c.next = Clock::now() + ReconnectDelay;
            return;
        }
        sockaddr_in source{};
        source.sin_family = AF_INET;
        source.sin_addr.s_addr = htonl(0x7F000002u + static_cast<unsigned>(c.index % m_sources));
        ::bind(c.fd, reinterpret_cast<sockaddr*>(&source), sizeof source);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(static_cast<std::uint16_t>(m_port));
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(c.fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0 &&
            errno != EINPROGRESS)
            drop(c, false);
    }

    void drop(Connection& c, bool byServer) {
        if (c.fd >= 0)
            ::close(c.fd);
        c.fd = -1;
        c.connected = false;
        c.next = Clock::now() + ReconnectDelay;
        if (byServer)
            ++m_closed;
    }

    void loop() {
        std::mt19937 random(42);
        std::vector<pollfd> polls;
        std::vector<Connection*> polled;
        while (!m_stop) {
            const auto now = Clock::now();
            polls.clear();
            polled.clear();
            int idle = 0;
            int slow = 0;
            for (auto& c : m_connections) {
                if (c.fd < 0 && now >= c.next)
                    open(c);
                if (c.fd < 0)
                    continue;
                if (c.connected && c.slow && now >= c.next) {
                    const char byte = byteAt(c.sent);
                    if (::send(c.fd, &byte, 1, MSG_NOSIGNAL) == 1) {
                        ++c.sent;
                        c.next += DripInterval;
                    } else if (errno != EAGAIN) {
                        drop(c, true);
                        continue;
                    }
                }
                if (c.connected)
                    (c.slow ? slow : idle)++;
                polls.push_back({c.fd, short(c.connected ? POLLIN : POLLOUT), 0});
                polled.push_back(&c);
            }
            m_heldIdle = idle;
            m_heldSlow = slow;
            if (::poll(polls.data(), polls.size(), 20) <= 0)
                continue;
            for (std::size_t i = 0; i < polls.size(); ++i) {
                Connection& c = *polled[i];
                if (polls[i].revents == 0)
                    continue;
                if (!c.connected) {
                    int error = 0;
                    socklen_t length = sizeof error;
                    ::getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &error, &length);
                    if (error != 0) {
                        drop(c, false);
                        continue;
                    }
                    c.connected = true;
                    // Spread the drips over the interval instead of sending all at once.
                    c.next = Clock::now() + std::chrono::milliseconds(random() % 1000);
                    continue;
                }
                // Anything readable from a held connection is the server giving up on it: an
                // answer before it closes, or the close itself.
                char buffer[4096];
                const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
                if (n <= 0 && !(n < 0 && errno == EAGAIN))
                    drop(c, true);
            }
        }
    }

    int m_port;
    int m_sources;
    std::string m_head;
    std::vector<Connection> m_connections;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_heldIdle{0};
    std::atomic<int> m_heldSlow{0};
    std::atomic<long> m_closed{0};
    std::thread m_thread;
};

struct Row {
    Scenario scenario;
    double heldIdleMean = 0;
    int heldIdleMin = 0;
    double heldSlowMean = 0;
    int heldSlowMin = 0;
    long closed = 0;
    long requests = 0;
    long failed = 0;
    double median = 0;
    double p99 = 0;
    double exitMillis = 0;
};

Row measure(const std::string& binary, Scenario scenario, double seconds, int sources) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "pellamark-slow-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    const std::filesystem::path dataDir = pattern;
    Row row;
    row.scenario = scenario;
    {
        ServiceProcess service(binary, dataDir);
        ConnectionHolder holder(service.port(), scenario, sources);
        // Let the held connections build up before the normal client starts.
        const auto settle = Clock::now() + 3s;
        while (Clock::now() < settle &&
               (holder.heldIdle() < scenario.idle || holder.heldSlow() < scenario.slow))
            std::this_thread::sleep_for(20ms);
        std::this_thread::sleep_for(500ms);

        std::vector<int> idleSamples;
        std::vector<int> slowSamples;
        std::vector<double> millis;
        const long closedBefore = holder.closedByServer();
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < end) {
            idleSamples.push_back(holder.heldIdle());
            slowSamples.push_back(holder.heldSlow());
            // A fresh connection per request, as a new visitor would open.
            httplib::Client cli("127.0.0.1", service.port());
            cli.set_connection_timeout(5);
            cli.set_read_timeout(5);
            cli.set_keep_alive(false);
            const auto t0 = Clock::now();
            auto res = cli.Get("/app/fav.asp?userid=normal0000000001&emailid=n@example.org");
            millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
            if (!res || res->status != 200)
                ++row.failed;
            std::this_thread::sleep_for(5ms);
        }
        row.closed = holder.closedByServer() - closedBefore;
        row.requests = static_cast<long>(millis.size());
        row.median = percentile(millis, 0.50);
        row.p99 = percentile(millis, 0.99);
        auto mean = [](const std::vector<int>& v) {
            double sum = 0;
            for (int x : v)
                sum += x;
            return v.empty() ? 0.0 : sum / double(v.size());
        };
        row.heldIdleMean = mean(idleSamples);
        row.heldSlowMean = mean(slowSamples);
        row.heldIdleMin =
            idleSamples.empty() ? 0 : *std::min_element(idleSamples.begin(), idleSamples.end());
        row.heldSlowMin =
            slowSamples.empty() ? 0 : *std::min_element(slowSamples.begin(), slowSamples.end());
        row.exitMillis = service.terminate();
    }
    std::error_code ec;
    std::filesystem::remove_all(dataDir, ec);
    return row;
}

int usage(const char* program) {
    std::fprintf(
        stderr,
        "Usage: %s [--service PATH] [--seconds T] [--sources N] [--scenario IDLE:SLOW]...\n",
        program);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string binary = PELLAMARK_SERVICE_BINARY;
    double seconds = 10;
    int sources = 16;
    std::vector<Scenario> scenarios;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return usage(argv[0]);
        const std::string value = argv[++i];
        if (arg == "--service") {
            binary = value;
        } else if (arg == "--seconds") {
            seconds = std::atof(value.c_str());
        } else if (arg == "--sources") {
            sources = std::atoi(value.c_str());
        } else if (arg == "--scenario") {
            Scenario s;
            if (std::sscanf(value.c_str(), "%d:%d", &s.idle, &s.slow) != 2 || s.idle < 0 ||
                s.slow < 0)
                return usage(argv[0]);
            scenarios.push_back(s);
        } else {
            return usage(argv[0]);
        }
    }
    if (seconds <= 0 || sources < 1)
        return usage(argv[0]);
    if (scenarios.empty())
        scenarios = {{0, 0}, {200, 0}, {0, 33}, {500, 100}};

    // Every held connection is a descriptor here and in the service.
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    std::signal(SIGPIPE, SIG_IGN);

    std::printf("service: %s\nnormal client: %.0f s per scenario, a new connection per request; "
                "held connections from %d address(es)\n\n",
                binary.c_str(), seconds, sources);
    std::printf("%6s %6s | %-15s %-15s %8s | %8s %6s | %9s %9s | %s\n", "idle", "slow", "idle held",
                "slow held", "closed", "requests", "failed", "median ms", "p99 ms",
                "SIGTERM to exit");
    std::fflush(stdout);
    for (const auto& scenario : scenarios) {
        try {
            const Row r = measure(binary, scenario, seconds, sources);
            char idleHeld[32];
            char slowHeld[32];
            std::snprintf(idleHeld, sizeof idleHeld, "%.0f (min %d)", r.heldIdleMean,
                          r.heldIdleMin);
            std::snprintf(slowHeld, sizeof slowHeld, "%.0f (min %d)", r.heldSlowMean,
                          r.heldSlowMin);
            char exitText[32];
            if (r.exitMillis < 0)
                std::snprintf(exitText, sizeof exitText, "over 10 s (killed)");
            else
                std::snprintf(exitText, sizeof exitText, "%.0f ms", r.exitMillis);
            std::printf("%6d %6d | %-15s %-15s %8ld | %8ld %6ld | %9.2f %9.2f | %s\n",
                        r.scenario.idle, r.scenario.slow, idleHeld, slowHeld, r.closed, r.requests,
                        r.failed, r.median, r.p99, exitText);
        } catch (const std::exception& e) {
            std::printf("%6d %6d | %s\n", scenario.idle, scenario.slow, e.what());
        }
        std::fflush(stdout);
    }
    return 0;
}
