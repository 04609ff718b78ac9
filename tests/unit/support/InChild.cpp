#include "InChild.h"

#include <csignal>
#include <cstring>

#include <net/if.h>
#include <netinet/in.h>

#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pellamark::testing {

bool setLoopbackUp(bool up) {
    const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0) {
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool done = ::ioctl(socket, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags =
        static_cast<short>(up ? request.ifr_flags | IFF_UP : request.ifr_flags & ~IFF_UP);
    done = done && ::ioctl(socket, SIOCSIFFLAGS, &request) == 0;
    if (done && !up) {
        // Down alone still routes 127.0.0.1 (its connections then wait instead of failing). Without
        // its address nothing does; the system gives the address back when the interface is up.
        ifreq address{};
        std::strncpy(address.ifr_name, "lo", IFNAMSIZ - 1);
        sockaddr_in none{};
        none.sin_family = AF_INET;
        std::memcpy(&address.ifr_addr, &none, sizeof none);
        done = ::ioctl(socket, SIOCSIFADDR, &address) == 0;
    }
    ::close(socket);
    return done;
}

std::optional<std::string> runInChild(const std::function<std::string()>& body, ChildSetup setup) {
    constexpr int CannotSetUp = 77;
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
            ::_exit(CannotSetUp);
        }
        // Root makes the network alone; anyone else needs a user namespace to make it in.
        if (setup.ownNetwork && ::unshare(CLONE_NEWNET) != 0 &&
            ::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
            ::_exit(CannotSetUp);
        }
        if (setup.fileSizeLimit >= 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{static_cast<rlim_t>(setup.fileSizeLimit),
                               static_cast<rlim_t>(setup.fileSizeLimit)};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                ::_exit(CannotSetUp);
            }
        }
        std::string result;
        try {
            result = body();
        } catch (...) {
            ::_exit(1); // not back into the caller's code, which runs on in the parent
        }
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
