// The pellamark-service executable as scripts and the end-to-end tests start it.
#include "ServiceTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace pellamark::service::testing;

namespace {

// The binary started without a shell, its standard output and error on pipes.
class Child {
public:
    explicit Child(std::vector<std::string> args) {
        args.insert(args.begin(), PELLAMARK_SERVICE_BINARY);
        int out[2];
        int err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        m_out = out[0];
        m_err = err[0];
        if (rc != 0)
            throw std::runtime_error("cannot start " + args[0]);
    }
    ~Child() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        close(m_out);
        close(m_err);
    }

    // The first line on standard output, or empty after a few seconds without one.
    std::string firstLine() {
        std::string line;
        char c = 0;
        while (waitReadable(m_out) && ::read(m_out, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }

    // Everything the child wrote to the stream until it closed it (bounded in time).
    std::string readAll(bool error) {
        const int fd = error ? m_err : m_out;
        std::string text;
        char buffer[4096];
        ssize_t n = 0;
        while (waitReadable(fd) && (n = ::read(fd, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }

    void signal(int number) { kill(m_pid, number); }

    // The exit status, or -1 when the child has not exited within ten seconds.
    int exitCode() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            usleep(10'000);
        }
        return -1;
    }

private:
    static bool waitReadable(int fd) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 10'000) == 1;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
};

TEST(ServiceBinary, AnnouncesItsAddressServesAndStopsCleanlyOnSignals) {
    for (int stopSignal : {SIGTERM, SIGINT}) {
        TempDir dir;
        Child child({"--listen", "127.0.0.1:0", "--data", (dir.path() / "data").string()});
        const std::string line = child.firstLine();
        const std::string prefix = "listening on 127.0.0.1:";
        ASSERT_TRUE(line.starts_with(prefix)) << line;
        const int port = std::stoi(line.substr(prefix.size()));
        ASSERT_GT(port, 0);

        httplib::Client cli("127.0.0.1", port);
        cli.set_connection_timeout(5);
        cli.set_read_timeout(10);
        auto res = cli.Get("/app/apphtml.html");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        res = cli.Post("/app/fav.asp?userid=abcde0123456789&emailid=me@example.org",
                       "action=add&title=t&url=https%3A%2F%2Fexample.org%2F",
                       "application/x-www-form-urlencoded");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 303);

        child.signal(stopSignal);
        EXPECT_EQ(child.exitCode(), 0) << "signal " << stopSignal;
        const std::string log = child.readAll(true);
        EXPECT_NE(log.find("GET /app/apphtml.html 200"), std::string::npos) << log;
        EXPECT_EQ(log.find("me@example.org"), std::string::npos) << log;
        EXPECT_TRUE(std::filesystem::exists(dir.path() / "data" / "favourites.db"));
    }
}

TEST(ServiceBinary, BadOptionsGiveUsageAndExitTwo) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--frobnicate"}, {"--listen", "nohost:99999"}, {"--listen"}}) {
        Child child(args);
        const std::string err = child.readAll(true);
        EXPECT_EQ(child.exitCode(), 2) << args[0];
        EXPECT_NE(err.find("Usage:"), std::string::npos) << err;
    }
    Child help({"--help"});
    EXPECT_NE(help.readAll(false).find("--listen HOST:PORT"), std::string::npos);
    EXPECT_EQ(help.exitCode(), 0);
}

TEST(ServiceBinary, PortInUseIsAFailureNotASilentHang) {
    TempDir dir;
    Child first({"--listen", "127.0.0.1:0", "--data", dir.path().string()});
    const std::string line = first.firstLine();
    ASSERT_FALSE(line.empty());
    const std::string address = line.substr(std::string("listening on ").size());

    Child second({"--listen", address, "--data", dir.path().string()});
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_NE(second.readAll(true).find("cannot listen"), std::string::npos);
}

} // namespace
