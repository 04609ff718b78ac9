#pragma once

#include "service/http/HttpServer.h"
#include "service/http/Site.h"
#include "service/http/Text.h"
#include "service/pages/Pages.h"
#include "service/store/FavouritesStore.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pellamark::service {

struct ServiceConfig {
    StoreLocation store;
    // Threads serving requests; also the most database connections a PostgreSQL store opens.
    // Two per core: one can wait for the database while the other works, and no more threads
    // (and database sessions) contend for the cores than keep them busy.
    std::size_t threads = std::max(2u, 2 * std::thread::hardware_concurrency());
    // Receives one line per request (no newline). Empty: no request log.
    std::function<void(const std::string&)> log;
    // Where browsers reach the service when that is not the listen address (behind a proxy).
    std::vector<Origin> publicOrigins;
    unsigned connectionsPerAddress = 64;
    std::chrono::milliseconds requestDeadline{10'000};
};

// The favourites web service: the probe page and the favourites page with its add and remove
// forms, over one FavouritesStore.
class Service {
public:
    // Opens the store; throws StoreError when it cannot.
    explicit Service(ServiceConfig config);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Binds to host and port (0 picks a free port). Returns the port, or -1 when binding failed.
    int bind(const std::string& host, int port);
    // Serves until stop(); returns false when the server could not run.
    bool run();
    // Safe from any thread, before, during or after run(); run() returns soon after.
    void stop();

    FavouritesStore& store() { return *m_store; }

private:
    void handle(const HttpRequest& request, HttpResponse& response);
    void route(const HttpRequest& request, HttpResponse& response);
    void showPage(const HttpRequest& request, HttpResponse& response,
                  const std::string& notice = {});
    void exportFavourites(const std::string& userId, PageView view, HttpResponse& response);
    void importFile(const HttpRequest& request, const std::string& userId, HttpResponse& response);
    void changeList(const HttpRequest& request, HttpResponse& response);
    // Carries out the form's action; the status and message of a refusal, when it is one.
    std::optional<std::pair<int, std::string>> applyChange(const std::string& userId,
                                                           const Fields& form);
    void logRequest(const HttpRequest& request, int status, std::chrono::microseconds duration);

    ServiceConfig m_config;
    std::unique_ptr<FavouritesStore> m_store;
    std::unique_ptr<HttpServer> m_server;
    Site m_site;

    enum class State { Idle, Running, Finished };
    std::mutex m_stateMutex;
    std::condition_variable m_stateChanged;
    State m_state = State::Idle;
    bool m_stopRequested = false;
};

// "host:port", with brackets around an IPv6 host.
std::string formatAddress(const std::string& host, int port);

} // namespace pellamark::service
