#include "service/Options.h"
#include "service/Service.h"
#include "service/http/Input.h"
#include "service/transfer/BookmarkTransfer.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <pthread.h>
#include <thread>
#include <variant>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace pellamark::service;

namespace {

// import and export: one user's favourites in or out as a bookmark file.
int transfer(const std::string& program, const Options& options) {
    if (const auto problem = userIdProblem(options.user)) {
        std::cerr << program << ": --user: " << *problem << "\n";
        return 2;
    }
    try {
        auto store = openStore(options.store, 1);
        if (options.command == Options::Command::Export) {
            // A reader that went away (a closed pipe) is an error to report, not a signal.
            std::signal(SIGPIPE, SIG_IGN);
            int failure = 0;
            exportBookmarkFile(*store, options.user, ListQuery{}, [&](std::string_view piece) {
                if (!failure && !writeAll(STDOUT_FILENO, piece))
                    failure = errno;
            });
            if (failure) {
                std::cerr << program
                          << ": cannot write the bookmark file: " << std::strerror(failure) << "\n";
                return 1;
            }
            return 0;
        }
        const bool standardInput = options.file == "-";
        const int fd =
            standardInput ? STDIN_FILENO : ::open(options.file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            std::cerr << program << ": cannot open " << options.file << ": " << std::strerror(errno)
                      << "\n";
            return 1;
        }
        try {
            const auto report = importBookmarkFile(*store, options.user, fd);
            std::cout << describeImport(report) << std::endl;
        } catch (const ImportFailed& failed) {
            std::cerr << program << ": " << (standardInput ? "standard input" : options.file)
                      << ": " << failed.what() << "\n";
            if (!standardInput)
                ::close(fd);
            return 1;
        }
        if (!standardInput)
            ::close(fd);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << program << ": " << e.what() << "\n";
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::string program = argc > 0 ? argv[0] : "pellamark-service";
    const auto parsed =
        parseOptions(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc),
                     [](const std::string& name) -> std::optional<std::string> {
                         const char* value = std::getenv(name.c_str());
                         return value ? std::optional<std::string>(value) : std::nullopt;
                     });
    if (const auto* problem = std::get_if<std::string>(&parsed)) {
        std::cerr << program << ": " << *problem << "\n\n" << usage(program);
        return 2;
    }
    const auto& options = std::get<Options>(parsed);
    if (options.help) {
        std::cout << usage(program);
        return 0;
    }
    if (options.command != Options::Command::Serve)
        return transfer(program, options);

    // Block the stop signals in every thread (workers inherit the mask) and take them on one
    // thread of our own, where stopping the server is safe.
    // A shell starts background jobs with SIGINT ignored; an ignored signal never reaches
    // sigwait, and a service should still stop on an explicit kill -INT.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    // Every open connection is a descriptor; the usual soft limit of 1024 would cap the service
    // far below what it can hold.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    try {
        ServiceConfig config;
        config.store = options.store;
        config.publicOrigins = options.publicOrigins;
        config.connectionsPerAddress = options.connectionsPerAddress;
        config.log = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
        Service service(std::move(config));
        const int port = service.bind(options.host, options.port);
        if (port < 0) {
            std::cerr << program << ": cannot listen on "
                      << formatAddress(options.host, options.port) << "\n";
            return 1;
        }
        std::cout << "listening on " << formatAddress(options.host, port) << std::endl;

        std::thread signalWaiter([&] {
            int received = 0;
            sigwait(&stopSignals, &received);
            service.stop();
        });
        const bool ok = service.run();
        // Wakes the waiter when the server ended on its own.
        pthread_kill(signalWaiter.native_handle(), SIGTERM);
        signalWaiter.join();
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << program << ": " << e.what() << "\n";
        return 1;
    }
}
