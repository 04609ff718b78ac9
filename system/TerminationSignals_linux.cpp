#include "system/TerminationSignals.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <initializer_list>

#include <fcntl.h>
#include <unistd.h>

namespace pellamark {

namespace {

int g_pipe[2] = {-1, -1};

void handleWith(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

void endAtOnce(int) {
    ::_exit(0); // async-signal-safe, unlike exit()
}

void note(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

void endAtOnceOnTerminationSignals() {
    handleWith(endAtOnce);
}

int noteTerminationSignals() {
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    handleWith(note);
    return g_pipe[0];
}

bool takeTerminationRequests() {
    std::array<char, 64> buffer{};
    bool requested = false;
    while (g_pipe[0] >= 0 && ::read(g_pipe[0], buffer.data(), buffer.size()) > 0)
        requested = true;
    return requested;
}

void stopNotingTerminationSignals() {
    handleWith(SIG_DFL);
}

} // namespace pellamark
