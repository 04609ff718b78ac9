#include "service/Options.h"
#include "service/Service.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <pthread.h>
#include <thread>
#include <variant>

#include <sys/resource.h>

using namespace pellamark::service;

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
