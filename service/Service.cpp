#include "service/Service.h"

#include "service/http/Input.h"
#include "service/http/Text.h"
#include "service/pages/Pages.h"

#include "service/store/Tags.h"
#include "service/transfer/BookmarkTransfer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <variant>

#include <unistd.h>

namespace pellamark::service {

namespace {

constexpr const char* Html = "text/html; charset=utf-8";
constexpr const char* Plain = "text/plain; charset=utf-8";
constexpr const char* PagePath = "/app/fav.asp";
constexpr const char* ProbePath = "/app/apphtml.html";
constexpr std::size_t MaxBodyBytes = 64 * 1024;
constexpr std::size_t MaxImportBytes = 256 * 1024 * 1024;
// The keys the client puts in the page's address; the page hands them on in every link.
constexpr std::string_view ClientKeys[] = {"userid", "emailid", "pubid", "version"};

// The query exactly as the client sent it. Decoding it as a form would turn '+' into a space,
// which would change an e-mail address such as "a+b@example.org" on its way back in the redirect.
std::string rawQuery(const HttpRequest& request) {
    const auto question = request.target.find('?');
    if (question == std::string::npos)
        return {};
    const auto hash = request.target.find('#', question);
    return request.target.substr(question + 1,
                                 hash == std::string::npos ? hash : hash - question - 1);
}

// The client's own keys as it sent them, in its order, for the page's links.
std::string clientQuery(const std::string& query) {
    std::string out;
    std::string_view rest = query;
    while (!rest.empty()) {
        const auto amp = rest.find('&');
        const std::string_view part = rest.substr(0, amp);
        rest = amp == std::string_view::npos ? std::string_view{} : rest.substr(amp + 1);
        const std::string key = percentDecode(part.substr(0, part.find('=')), false);
        if (std::find(std::begin(ClientKeys), std::end(ClientKeys), key) != std::end(ClientKeys))
            out += (out.empty() ? "" : "&") + std::string(part);
    }
    return out;
}

// What the page's own keys ask for. These come from the page's forms, which encode a blank as
// '+'; the client's keys keep their plus signs (see rawQuery).
PageView viewOf(const std::string& query) {
    const auto fields = parseFields(query, true);
    PageView view;
    view.search = fieldValue(fields, "q").value_or("");
    view.tags = fieldValues(fields, "tag");
    std::erase_if(view.tags, [](const std::string& tag) { return trim(tag).empty(); });
    view.sort = fieldValue(fields, "sort").value_or("");
    view.after = fieldValue(fields, "after").value_or("");
    if (const auto edit = fieldValue(fields, "edit"))
        view.edit = parseFavouriteId(*edit);
    return view;
}

// Why the page's keys cannot be shown, or nothing.
std::optional<std::string> viewProblem(const PageView& view) {
    if (!isValidUtf8(view.search) || utf8Length(view.search) > MaxSearchChars)
        return "The search text is longer than " + std::to_string(MaxSearchChars) +
               " characters or not valid text.";
    if (view.tags.size() > MaxTagsPerFavourite)
        return std::string("Too many tags to filter by at once.");
    for (const auto& tag : view.tags)
        if (auto problem = tagProblem(tag))
            return problem;
    if (!view.sort.empty() && view.sort != "newest" && view.sort != "oldest" &&
        view.sort != "title")
        return std::string("The order (sort) is one of newest, oldest and title.");
    if (!queryFor(view))
        return std::string("The page key (after) is not one this page made.");
    return std::nullopt;
}

std::string pageAddress(const std::string& query) {
    return query.empty() ? std::string(PagePath) : std::string(PagePath) + "?" + query;
}

void setPageHeaders(HttpResponse& response) {
    // The page address carries the user id and e-mail address: keep it out of caches and out of
    // the Referer sent to the sites the user opens. "same-origin" rather than "no-referrer": under
    // the latter a browser sends "Origin: null" with the page's own forms, which the origin check
    // must refuse.
    response.setHeader("Cache-Control", "no-store");
    response.setHeader("Referrer-Policy", "same-origin");
    response.setHeader("X-Content-Type-Options", "nosniff");
    // The style sheet and script are the service's own files, never text inside the page, so
    // nothing a favourite's title smuggles in can run or restyle it.
    response.setHeader(
        "Content-Security-Policy",
        "default-src 'none'; style-src 'self'; script-src 'self'; connect-src 'self'; "
        "form-action 'self'; base-uri 'none'; frame-ancestors 'none'");
}

void refuse(HttpResponse& response, int status, std::string_view message,
            std::string_view backAddress) {
    response.status = status;
    setPageHeaders(response);
    response.setContent(messagePage("Request refused", message, backAddress), Html);
}

void plain(HttpResponse& response, int status, std::string text) {
    response.status = status;
    response.setContent(std::move(text), Plain);
}

std::string contentType(const HttpRequest& request) {
    std::string type = request.header("Content-Type").value_or("");
    for (auto& c : type)
        c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return type;
}

bool isFormBody(const HttpRequest& request) {
    return contentType(request).starts_with("application/x-www-form-urlencoded");
}

// Where an upload is spooled: the temporary folder the environment names, else /tmp.
std::string uploadFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder && *folder == '/' ? folder : "/tmp";
}

bool isRead(const HttpRequest& request) {
    return request.method == "GET" || request.method == "HEAD";
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
    settings.maxBodyBytes = MaxBodyBytes;
    settings.connectionsPerAddress = m_config.connectionsPerAddress;
    settings.requestDeadline = m_config.requestDeadline;
    // A bookmark file of 100,000 favourites with their icons is some 100 MB.
    settings.upload.accepts = [](const HttpRequest& head) {
        return head.path == PagePath && contentType(head).starts_with("multipart/form-data");
    };
    settings.upload.gateField = "action";
    settings.upload.gateValue = "import";
    settings.upload.maxBytes = MaxImportBytes;
    settings.upload.folder = uploadFolder();
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
    if (request.path == ProbePath && isRead(request)) {
        response.setHeader("Cache-Control", "no-store");
        response.setContent(probePage(), Html);
    } else if ((request.path == stylePath() || request.path == scriptPath()) && isRead(request)) {
        // Named by their content: a new release serves them at new paths.
        response.setHeader("Cache-Control", "public, max-age=31536000, immutable");
        response.setHeader("X-Content-Type-Options", "nosniff");
        const bool style = request.path == stylePath();
        response.setContent(std::string(style ? styleSheet() : script()),
                            style ? "text/css; charset=utf-8" : "text/javascript; charset=utf-8");
    } else if (request.path == PagePath && isRead(request)) {
        showPage(request, response);
    } else if (request.path == PagePath && request.method == "POST") {
        changeList(request, response);
    } else {
        plain(response, 404, "Not found.\n");
    }
}

void Service::showPage(const HttpRequest& request, HttpResponse& response,
                       const std::string& notice) {
    const std::string query = rawQuery(request);
    const auto fields = parseFields(query, false);
    const std::string userId = fieldValue(fields, "userid").value_or("");
    if (const auto problem = userIdProblem(userId)) {
        refuse(response, 400, *problem, {});
        return;
    }
    FavouritesPageContent content;
    content.userId = userId;
    content.email = fieldValue(fields, "emailid").value_or("");
    content.clientQuery = clientQuery(query);
    content.pageAddress = pageAddress(query);
    content.view = viewOf(query);
    content.notice = notice;
    if (const auto problem = viewProblem(content.view)) {
        refuse(response, 400, *problem, viewAddress(content.clientQuery, PageView{}));
        return;
    }
    if (isRead(request) && fieldValue(parseFields(query, true), "action") == "export") {
        exportFavourites(userId, content.view, response);
        return;
    }
    const auto listQuery = *queryFor(content.view);
    content.order = listQuery.order;
    content.page = m_store->listWithTags(userId, listQuery, content.tags);
    if (content.view.edit)
        content.editing = m_store->find(userId, *content.view.edit);
    setPageHeaders(response);
    response.setContent(favouritesPage(content), Html);
}

void Service::exportFavourites(const std::string& userId, PageView view, HttpResponse& response) {
    // Every favourite the view matches, not only its page.
    view.after.clear();
    // Written to a temporary file and sent from there: 100,000 favourites make some 25 MB.
    auto file = std::make_shared<ResponseFile>(temporaryFile(uploadFolder()));
    if (file->fd < 0)
        throw std::runtime_error("cannot make a temporary file for the export");
    std::string buffer;
    auto flush = [&] {
        if (!writeAll(file->fd, buffer))
            throw std::runtime_error("cannot write the export: " +
                                     std::string(std::strerror(errno)));
        buffer.clear();
    };
    exportBookmarkFile(*m_store, userId, *queryFor(view), [&](std::string_view piece) {
        buffer += piece;
        if (buffer.size() >= 256 * 1024)
            flush();
    });
    flush();
    response.setHeader("Cache-Control", "no-store");
    response.setHeader("X-Content-Type-Options", "nosniff");
    response.setHeader("Content-Disposition", "attachment; filename=\"favourites.html\"");
    response.setHeader("Content-Type", Html);
    response.file = std::move(file);
}

void Service::changeList(const HttpRequest& request, HttpResponse& response) {
    const std::string query = rawQuery(request);
    const std::string back = pageAddress(query);
    // A browser names the page a form was sent from. A form on another site's page would add
    // or remove on the user's behalf; a client without either header (a script, a tool) is no
    // browser acting for someone else and goes through.
    const auto origin = request.header("Origin");
    const auto source = origin ? origin : request.header("Referer");
    if (source && !m_site.isOwnPage(*source, request.header("Host").value_or(""))) {
        refuse(response, 403, "The form was sent from a page of another site.", {});
        return;
    }
    const std::string userId = fieldValue(parseFields(query, false), "userid").value_or("");
    if (const auto problem = userIdProblem(userId)) {
        refuse(response, 400, *problem, {});
        return;
    }
    if (request.upload) {
        importFile(request, userId, response);
        return;
    }
    if (!isFormBody(request)) {
        refuse(response, 415, "Send the form as application/x-www-form-urlencoded.", back);
        return;
    }
    const auto form = parseFields(request.body, true);
    const auto problem = applyChange(userId, form);
    if (problem) {
        refuse(response, problem->first, problem->second, back);
        return;
    }
    response.status = 303;
    response.setHeader("Location", headerSafe(back));
    response.setHeader("Cache-Control", "no-store");
}

void Service::importFile(const HttpRequest& request, const std::string& userId,
                         HttpResponse& response) {
    const std::string back = pageAddress(rawQuery(request));
    const auto& form = *request.upload;
    if (fieldValue(form.fields, "action") != "import") {
        refuse(response, 415,
               "Send the form as application/x-www-form-urlencoded; only an import (action=import) "
               "is sent as multipart/form-data.",
               back);
        return;
    }
    if (form.file < 0 || form.fileBytes == 0) {
        refuse(response, 400, "Choose a bookmark file to import (file).", back);
        return;
    }
    ImportReport report;
    try {
        report = importBookmarkFile(*m_store, userId, form.file);
    } catch (const ImportFailed& failed) {
        refuse(response, 400, failed.what(), back);
        return;
    }
    if (m_config.log)
        m_config.log(utcTimestamp() + " import: " + std::to_string(report.counts.imported) +
                     " imported, " + std::to_string(report.counts.merged) + " merged, " +
                     std::to_string(report.read.skippedTotal()) + " skipped");
    // The page itself, with what the import did above the list: the counts are this answer's
    // alone, and a redirect would have to carry them in the address.
    showPage(request, response, describeImport(report));
}

std::optional<std::pair<int, std::string>> Service::applyChange(const std::string& userId,
                                                                const Fields& form) {
    using Refusal = std::optional<std::pair<int, std::string>>;
    const std::string action = fieldValue(form, "action").value_or("");
    auto text = [&](const char* key) { return fieldValue(form, key).value_or(""); };
    std::vector<std::int64_t> ids;
    for (const auto& value : fieldValues(form, "id")) {
        const auto id = parseFavouriteId(value);
        if (!id)
            return Refusal{{400, "A favourite's id is not a number."}};
        ids.push_back(*id);
    }
    if (ids.size() > MaxIdsPerChange)
        return Refusal{{400, "At most " + std::to_string(MaxIdsPerChange) +
                                 " favourites can be changed at once."}};
    const Refusal notYours{{404, "That favourite is not yours, or it has been removed."}};

    try {
        if (action == "add" || action == "edit") {
            if (action == "edit" && ids.size() != 1)
                return Refusal{{400, "Say which one favourite to edit (id)."}};
            auto checked = checkFavourite(text("title"), text("url"), text("note"), text("tags"));
            if (const auto* problem = std::get_if<std::string>(&checked))
                return Refusal{{400, *problem}};
            const auto& fields = std::get<FavouriteFields>(checked);
            if (action == "add")
                m_store->add(userId, fields);
            else if (!m_store->edit(userId, ids.front(), fields))
                return notYours;
        } else if (action == "remove") {
            if (ids.empty())
                return Refusal{{400, "The favourite to remove is not given."}};
            // One id that is gone or belongs to another user changes nothing; answering with
            // the page keeps a double-clicked Remove harmless and tells a guesser nothing. Of
            // several, all must be the user's, or none goes.
            if (ids.size() == 1)
                m_store->remove(userId, ids.front());
            else if (!m_store->remove(userId, ids))
                return notYours;
        } else if (action == "tag" || action == "untag") {
            auto checked = checkTags(text("tags") + " " + text("tag"));
            if (const auto* problem = std::get_if<std::string>(&checked))
                return Refusal{{400, *problem}};
            const auto& tags = std::get<std::vector<std::string>>(checked);
            if (tags.empty())
                return Refusal{{400, "Give the tags (tags)."}};
            if (action == "untag" && ids.empty()) {
                // No favourite named: the tag goes from every favourite, its subtree too.
                for (const auto& tag : tags)
                    m_store->removeTag(userId, tag);
            } else if (ids.empty()) {
                return Refusal{{400, "Tick the favourites to tag first."}};
            } else if (!(action == "tag" ? m_store->tag(userId, ids, tags)
                                         : m_store->untag(userId, ids, tags))) {
                return notYours;
            }
        } else if (action == "rename-tag") {
            const std::string from = trim(text("tag"));
            const std::string to = trim(text("to"));
            for (const auto& tag : {from, to})
                if (auto problem = tagProblem(tag))
                    return Refusal{{400, *problem}};
            m_store->renameTag(userId, from, to);
        } else {
            return Refusal{{400, "Unknown action."}};
        }
    } catch (const ChangeRefused& refused) {
        return Refusal{{400, refused.what()}};
    }
    return std::nullopt;
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
