#include "settings/TerminationSignals.h"

#include <csignal>
#include <initializer_list>

#include <unistd.h>

namespace pellamark {

namespace {

void endAtOnce(int) {
    ::_exit(0); // async-signal-safe, unlike exit()
}

} // namespace

void endAtOnceOnTerminationSignals() {
    struct sigaction action {};
    action.sa_handler = endAtOnce;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

} // namespace pellamark
