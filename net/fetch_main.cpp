// pellamark-fetch: the program's start-up fetch, in a process of its own, so that the network
// library (libcurl, its TLS and its other protocols' libraries) never comes into the program,
// which waits in the tray for weeks after its one fetch. The program starts it for each fetch and
// reads its answer from its standard output (FetchProgram.h).
#include "net/FetchProgram.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char* argv[]) {
    // Ends with the program, which may end at any moment of its check.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1)
        return 1;
    const auto request =
        pellamark::parseFetchArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!request) {
        std::fprintf(stderr, "pellamark-fetch: started by the program only\n");
        return 2;
    }
    pellamark::FetchAnswer answer;
    pellamark::FetchOptions options = request->second;
    options.onFailure = [&](pellamark::FetchFailure failure) { answer.failure = failure; };
    options.onRunTimeError = [&](std::int32_t number, const std::string& description) {
        answer.runTimeError.emplace(number, description);
    };
    answer.page = pellamark::OpenUrl(request->first, options);
    const std::string output = pellamark::encodeFetchAnswer(answer);
    return std::fwrite(output.data(), 1, output.size(), stdout) == output.size() &&
                   std::fflush(stdout) == 0
               ? 0
               : 1;
}
