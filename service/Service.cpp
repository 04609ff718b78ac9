#include "service/Service.h"

#include "service/http/Input.h"
#include "service/http/Text.h"
#include "service/pages/Pages.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <variant>

namespace pellamark::service {

namespace {

constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kPlain = "text/plain; charset=utf-8";
constexpr const char* kPagePath = "/app/fav.asp";
constexpr const char* kProbePath = "/app/apphtml.html";
constexpr std::size_t kMaxBodyBytes = 64 * 1024;

// The query exactly as the client sent it. Decoding it as a form would turn '+' into a space,
// which would change an e-mail address such as "a+b@example.org" on its way back in the redirect.
std::string rawQuery(const HttpRequest& req) {
    const auto question = req.target.find('?');
    if (question == std::string::npos)
        return {};
    const auto hash = req.target.find('#', question);
    return req.target.substr(question + 1, hash == std::string::npos ? hash : hash - question - 1);
}

std::string pageAddress(const std::string& query) {
    return query.empty() ? std::string(kPagePath) : std::string(kPagePath) + "?" + query;
}

void setPageHeaders(HttpResponse& res) {
    // The page address carries the user id and e-mail address: keep it out of caches and out of
    // the Referer sent to the sites the user opens. "same-origin" rather than "no-referrer": under
    // the latter a browser sends "Origin: null" with the page's own forms, which the origin check
    // must refuse.
    res.setHeader("Cache-Control", "no-store");
    res.setHeader("Referrer-Policy", "same-origin");
    res.setHeader("X-Content-Type-Options", "nosniff");
    res.setHeader("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; "
                                             "form-action 'self'; base-uri 'none'");
}

void refuse(HttpResponse& res, int status, std::string_view message, std::string_view backAddress) {
    res.status = status;
    setPageHeaders(res);
    res.setContent(messagePage("Request refused", message, backAddress), kHtml);
}

void plain(HttpResponse& res, int status, std::string text) {
    res.status = status;
    res.setContent(std::move(text), kPlain);
}

bool isFormBody(const HttpRequest& req) {
    std::string type = req.header("Content-Type").value_or("");
    for (auto& c : type)
        c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return type.starts_with("application/x-www-form-urlencoded");
}

bool isRead(const HttpRequest& req) {
    return req.method == "GET" || req.method == "HEAD";
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
    : m_config(std::move(config)),
      m_store(openStore(m_config.store, m_config.threads > 0 ? m_config.threads : 1)) {
    // A client that hangs up mid-answer must not end the whole process with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    HttpSettings settings;
    settings.threads = m_config.threads > 0 ? m_config.threads : 1;
    settings.maxBodyBytes = kMaxBodyBytes;
    settings.connectionsPerAddress = m_config.connectionsPerAddress;
    settings.requestDeadline = m_config.requestDeadline;
    HttpServer::Completed completed;
    if (m_config.log)
        completed = [this](const HttpRequest& request, int status,
                           std::chrono::microseconds duration) {
            logRequest(request, status, duration);
        };
    m_server = std::make_unique<HttpServer>(
        settings,
        [this](const HttpRequest& request, HttpResponse& response) { handle(request, response); },
        std::move(completed));
}

Service::~Service() {
    stop();
}

void Service::logRequest(const HttpRequest& request, int status,
                         std::chrono::microseconds duration) {
    // The path only: the query holds the user id and e-mail address, the user's secrets.
    char millis[32];
    std::snprintf(millis, sizeof millis, "%.1fms", double(duration.count()) / 1000.0);
    m_config.log(utcTimestamp() + " " + logSafe(request.method) + " " + logSafe(request.path) +
                 " " + std::to_string(status) + " " + millis);
}

void Service::handle(const HttpRequest& request, HttpResponse& response) {
    try {
        route(request, response);
    } catch (const StoreUnavailable& e) {
        if (m_config.log)
            m_config.log(utcTimestamp() + " error: " + logSafe(e.what()));
        response = HttpResponse{};
        response.setHeader("Retry-After", "5");
        plain(response, 503,
              "The favourites database cannot be reached at the moment. Please try again "
              "shortly.\n");
    } catch (const std::exception& e) {
        if (m_config.log)
            m_config.log(utcTimestamp() + " error: " + logSafe(e.what()));
        response = HttpResponse{};
        plain(response, 500, "The service could not complete the request. Please try again.\n");
    }
}

void Service::route(const HttpRequest& request, HttpResponse& response) {
    // Every browser sends Host. One this service does not answer for is a page on another site
    // whose name was pointed at this address: it gets nothing, not even the probe page.
    const auto host = request.header("Host");
    if (host && !m_site.answersFor(*host)) {
        plain(response, 421, "This service does not answer for that host name.\n");
        return;
    }
    if (request.path == kProbePath && isRead(request)) {
        response.setHeader("Cache-Control", "no-store");
        response.setContent(probePage(), kHtml);
    } else if (request.path == kPagePath && isRead(request)) {
        showPage(request, response);
    } else if (request.path == kPagePath && request.method == "POST") {
        changeList(request, response);
    } else {
        plain(response, 404, "Not found.\n");
    }
}

void Service::showPage(const HttpRequest& req, HttpResponse& res) {
    const std::string query = rawQuery(req);
    const auto fields = parseFields(query, false);
    const std::string userId = fieldValue(fields, "userid").value_or("");
    if (const auto problem = userIdProblem(userId)) {
        refuse(res, 400, *problem, {});
        return;
    }
    const std::string email = fieldValue(fields, "emailid").value_or("");
    setPageHeaders(res);
    res.setContent(favouritesPage(userId, email, pageAddress(query), m_store->list(userId)), kHtml);
}

void Service::changeList(const HttpRequest& req, HttpResponse& res) {
    const std::string query = rawQuery(req);
    const std::string back = pageAddress(query);
    // A browser names the page a form was sent from. A form on another site's page would add
    // or remove on the user's behalf; a client without either header (a script, a tool) is no
    // browser acting for someone else and goes through.
    const auto origin = req.header("Origin");
    const auto source = origin ? origin : req.header("Referer");
    if (source && !m_site.isOwnPage(*source, req.header("Host").value_or(""))) {
        refuse(res, 403, "The form was sent from a page of another site.", {});
        return;
    }
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
    res.setHeader("Location", headerSafe(back));
    res.setHeader("Cache-Control", "no-store");
}

int Service::bind(const std::string& host, int port) {
    const int bound = m_server->bind(host, port);
    if (bound > 0)
        m_site = Site(m_server->address(), host, m_config.publicOrigins);
    return bound;
}

bool Service::run() {
    std::unique_lock lock(m_stateMutex);
    if (m_stopRequested || m_state != State::Idle)
        return m_stopRequested;
    if (!m_server->start()) {
        m_state = State::Finished;
        m_stateChanged.notify_all();
        return false;
    }
    m_state = State::Running;
    m_stateChanged.wait(lock, [this] { return m_stopRequested; });
    // Ends every connection, also those still waiting for a request, and waits for answers in
    // progress; log lines of answered requests are all written when this returns.
    m_server->stop();
    m_state = State::Finished;
    m_stateChanged.notify_all();
    return true;
}

void Service::stop() {
    std::unique_lock lock(m_stateMutex);
    m_stopRequested = true;
    m_stateChanged.notify_all();
    m_stateChanged.wait(lock, [this] { return m_state != State::Running; });
}

} // namespace pellamark::service
