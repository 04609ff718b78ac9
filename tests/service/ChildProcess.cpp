#include "ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace pellamark::testing {

int runToEnd(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Child::Child(std::vector<std::string> args, const Options& options) : m_ownGroup(options.ownGroup) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO,
                                     options.input.empty() ? "/dev/null" : options.input.c_str(),
                                     O_RDONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (m_ownGroup) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = options.environment;
    std::vector<char*> envp;
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    const int rc = posix_spawn(&m_pid, argv[0], &actions, &attributes, argv.data(),
                               environment.empty() ? environ : envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    m_out = out[0];
    m_err = err[0];
    if (rc != 0) {
        ::close(m_out);
        ::close(m_err);
        m_pid = -1;
        throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
    }
    m_reader = std::thread([this] { drain(); });
}

Child::~Child() {
    if (m_pid > 0) {
        ::kill(m_ownGroup ? -m_pid : m_pid, SIGKILL);
        reap(0);
    } else if (m_ownGroup && m_exit >= 0) {
        // What it started may outlive it, holding our pipes.
        ::kill(-m_lastPid, SIGKILL);
    }
    // The pipes close with the child (and any child of its own that kept them).
    m_reader.join();
    ::close(m_out);
    ::close(m_err);
}

void Child::drain() {
    pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            std::lock_guard lock(m_mutex);
            if (n > 0) {
                (i == 0 ? m_outText : m_errText).append(buffer, static_cast<std::size_t>(n));
            } else {
                (i == 0 ? m_outClosed : m_errClosed) = true;
                fds[i].fd = -1;
                --open;
            }
            m_changed.notify_all();
        }
    }
}

std::string Child::firstLine() {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::seconds(10),
                       [this] { return m_outText.find('\n') != std::string::npos || m_outClosed; });
    return m_outText.substr(0, m_outText.find('\n'));
}

std::string Child::readAll(bool error) {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::seconds(30),
                       [&] { return error ? m_errClosed : m_outClosed; });
    return error ? m_errText : m_outText;
}

void Child::signal(int number) {
    if (m_pid > 0)
        ::kill(m_pid, number);
}

std::string Child::outputTail(std::size_t limit) {
    std::lock_guard lock(m_mutex);
    const auto tail = [limit](const std::string& text) {
        return text.substr(text.size() > limit ? text.size() - limit : 0);
    };
    return tail(m_outText) + tail(m_errText);
}

bool Child::reap(int options) {
    int status = 0;
    if (m_pid <= 0 || ::waitpid(m_pid, &status, options) != m_pid)
        return false;
    m_lastPid = m_pid;
    m_pid = -1;
    m_exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

bool Child::running() {
    reap(WNOHANG);
    return m_pid > 0;
}

int Child::exitCode(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!reap(WNOHANG) && m_pid > 0 && std::chrono::steady_clock::now() < deadline)
        ::usleep(1'000);
    return m_pid > 0 ? -1 : m_exit;
}

int announcedPort(const std::string& line) {
    const auto colon = line.rfind(':');
    if (!line.starts_with("listening on ") || colon == std::string::npos)
        return 0;
    return std::atoi(line.c_str() + colon + 1);
}

} // namespace pellamark::testing
