#include "InChild.h"

#include <csignal>

#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pellamark::testing {

std::optional<std::string> runInChild(const std::function<std::string()>& body, ChildSetup setup) {
    constexpr int kCannotSetUp = 77;
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        return std::nullopt;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        return std::nullopt;
    }
    if (child == 0) {
        ::close(pipeEnds[0]);
        if (setup.permissionsHold && ::geteuid() == 0 && ::unshare(CLONE_NEWUSER) != 0) {
            ::_exit(kCannotSetUp);
        }
        if (setup.fileSizeLimit >= 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{static_cast<rlim_t>(setup.fileSizeLimit),
                               static_cast<rlim_t>(setup.fileSizeLimit)};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                ::_exit(kCannotSetUp);
            }
        }
        const std::string result = body();
        std::string_view rest = result;
        while (!rest.empty()) {
            const ssize_t written = ::write(pipeEnds[1], rest.data(), rest.size());
            if (written <= 0) {
                ::_exit(1);
            }
            rest.remove_prefix(static_cast<std::size_t>(written));
        }
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    std::string result;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
        result.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(pipeEnds[0]);
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return std::nullopt;
    }
    return result;
}

} // namespace pellamark::testing
