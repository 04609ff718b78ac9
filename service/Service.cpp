#include "Service.h"

#include "Input.h"
#include "Pages.h"
#include "Text.h"

#include <httplib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <thread>
#include <variant>

#include <sys/socket.h>

namespace pellamark::service {

// httplib listens with a backlog of 5 and keeps its socket to itself. A burst of new clients
// overflows so short a queue: the kernel drops their handshakes and they stall for a second or
// fail. Listening again on the bound socket raises the backlog.
class HttpServer : public httplib::Server {
public:
    void widenBacklog() {
        const socket_t sock = svr_sock_;
        if (sock != INVALID_SOCKET)
            ::listen(sock, SOMAXCONN);
    }
};

namespace {

constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kPagePath = "/app/fav.asp";
constexpr std::size_t kMaxBodyBytes = 64 * 1024;

using Clock = std::chrono::steady_clock;

// Set when routing starts, read by the logger: httplib routes and logs a request on one thread.
thread_local Clock::time_point t_requestStart{};

// The query exactly as the client sent it. httplib's own parsing turns '+' into a space, which
// would change an e-mail address such as "a+b@example.org" on its way back in the redirect.
std::string rawQuery(const httplib::Request& req) {
    const auto question = req.target.find('?');
    if (question == std::string::npos)
        return {};
    const auto hash = req.target.find('#', question);
    return req.target.substr(question + 1, hash == std::string::npos ? hash : hash - question - 1);
}

std::string pageAddress(const std::string& query) {
    return query.empty() ? std::string(kPagePath) : std::string(kPagePath) + "?" + query;
}

void setPageHeaders(httplib::Response& res) {
    // The page address carries the user id and e-mail address: keep it out of caches and out of
    // the Referer sent to the sites the user opens.
    res.set_header("Cache-Control", "no-store");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; "
                                              "form-action 'self'; base-uri 'none'");
}

void refuse(httplib::Response& res, int status, std::string_view message,
            std::string_view backAddress) {
    res.status = status;
    setPageHeaders(res);
    res.set_content(messagePage("Request refused", message, backAddress), kHtml);
}

bool isFormBody(const httplib::Request& req) {
    std::string type = req.get_header_value("Content-Type");
    for (auto& c : type)
        c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return type.starts_with("application/x-www-form-urlencoded");
}

std::string utcTimestamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    const auto length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(millis));
    return text;
}

} // namespace

std::string formatAddress(const std::string& host, int port) {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

Service::Service(ServiceConfig config)
    : m_config(std::move(config)), m_store(std::make_unique<FavouritesStore>(m_config.dataDir)),
      m_server(std::make_unique<HttpServer>()) {
    // httplib writes with plain send(): a client that hangs up mid-answer would otherwise end
    // the whole process with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    const std::size_t threads = m_config.threads > 0 ? m_config.threads : 1;
    m_server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // httplib's default also sets SO_REUSEPORT, which lets a second copy bind the same port and
    // silently take half the requests. SO_REUSEADDR alone still allows an immediate restart.
    m_server->set_socket_options([](socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // Headers and body go out in separate writes; without this, Nagle's algorithm holds the
    // body back until the client's delayed ACK, some 40 ms per request.
    m_server->set_tcp_nodelay(true);
    m_server->set_keep_alive_max_count(1000);
    m_server->set_payload_max_length(kMaxBodyBytes);
    installRoutes();
}

Service::~Service() {
    stop();
}

void Service::installRoutes() {
    auto& server = *m_server;

    server.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
        t_requestStart = Clock::now();
        return httplib::Server::HandlerResponse::Unhandled;
    });

    if (m_config.log) {
        server.set_logger(
            [log = m_config.log](const httplib::Request& req, const httplib::Response& res) {
                // The path only: the query holds the user id and e-mail address, the user's
                // secrets.
                std::string line = utcTimestamp() + " " + logSafe(req.method) + " " +
                                   logSafe(req.path) + " " + std::to_string(res.status) + " ";
                if (t_requestStart != Clock::time_point{}) {
                    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                                            Clock::now() - t_requestStart)
                                            .count();
                    char duration[32];
                    std::snprintf(duration, sizeof duration, "%.1fms", micros / 1000.0);
                    line += duration;
                } else {
                    line += "-";
                }
                t_requestStart = {};
                log(line);
            });
    }

    server.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            const std::string text = res.status == 404   ? "Not found.\n"
                                     : res.status == 413 ? "The request is too large.\n"
                                                         : "The request could not be served.\n";
            res.set_content(text, "text/plain; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        }));

    server.set_exception_handler([log = m_config.log](const httplib::Request&,
                                                      httplib::Response& res,
                                                      std::exception_ptr error) {
        std::string what = "unknown error";
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        if (log)
            log(utcTimestamp() + " error: " + logSafe(what));
        res.status = 500;
        res.set_content("The service could not complete the request. Please try again.\n",
                        "text/plain; charset=utf-8");
    });

    server.Get("/app/apphtml.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(probePage(), kHtml);
    });

    server.Get(kPagePath, [this](const httplib::Request& req, httplib::Response& res) {
        const std::string query = rawQuery(req);
        const auto fields = parseFields(query, false);
        const std::string userId = fieldValue(fields, "userid").value_or("");
        if (const auto problem = userIdProblem(userId)) {
            refuse(res, 400, *problem, {});
            return;
        }
        const std::string email = fieldValue(fields, "emailid").value_or("");
        setPageHeaders(res);
        res.set_content(favouritesPage(userId, email, pageAddress(query), m_store->list(userId)),
                        kHtml);
    });

    server.Post(kPagePath, [this](const httplib::Request& req, httplib::Response& res) {
        const std::string query = rawQuery(req);
        const std::string back = pageAddress(query);
        const std::string userId = fieldValue(parseFields(query, false), "userid").value_or("");
        if (const auto problem = userIdProblem(userId)) {
            refuse(res, 400, *problem, {});
            return;
        }
        if (!isFormBody(req)) {
            refuse(res, 415, "Send the form as application/x-www-form-urlencoded.", back);
            return;
        }
        const auto form = parseFields(req.body, true);
        const std::string action = fieldValue(form, "action").value_or("");
        if (action == "add") {
            const auto checked = checkNewFavourite(fieldValue(form, "title").value_or(""),
                                                   fieldValue(form, "url").value_or(""));
            if (const auto* problem = std::get_if<std::string>(&checked)) {
                refuse(res, 400, *problem, back);
                return;
            }
            const auto& favourite = std::get<NewFavourite>(checked);
            m_store->add(userId, favourite.title, favourite.url);
        } else if (action == "remove") {
            const auto id = parseFavouriteId(fieldValue(form, "id").value_or(""));
            if (!id) {
                refuse(res, 400, "The favourite to remove is not given.", back);
                return;
            }
            // An id that is gone or belongs to another user changes nothing; answering with the
            // page keeps a double-clicked Remove harmless and tells a guesser nothing.
            m_store->remove(userId, *id);
        } else {
            refuse(res, 400, "Unknown action.", back);
            return;
        }
        res.status = 303;
        res.set_header("Location", headerSafe(back));
        res.set_header("Cache-Control", "no-store");
    });
}

int Service::bind(const std::string& host, int port) {
    const int bound = port == 0 ? m_server->bind_to_any_port(host)
                                : (m_server->bind_to_port(host, port) ? port : -1);
    if (bound > 0)
        m_server->widenBacklog();
    return bound;
}

bool Service::run() {
    {
        std::lock_guard lock(m_stateMutex);
        if (m_stopRequested || m_state != State::Idle)
            return m_stopRequested;
        m_state = State::Running;
    }
    const bool ok = m_server->listen_after_bind();
    bool requested = false;
    {
        std::lock_guard lock(m_stateMutex);
        m_state = State::Finished;
        requested = m_stopRequested;
    }
    m_stateChanged.notify_all();
    return ok || requested;
}

void Service::stop() {
    std::unique_lock lock(m_stateMutex);
    m_stopRequested = true;
    if (m_state != State::Running)
        return;
    // httplib ignores stop() until its accept loop has started, and must be told only once:
    // wait for the loop, stop it, then wait for run() to return.
    while (m_state == State::Running) {
        if (!m_serverStopped && m_server->is_running()) {
            m_server->stop();
            m_serverStopped = true;
        }
        m_stateChanged.wait_for(lock, std::chrono::milliseconds(5));
    }
}

} // namespace pellamark::service
