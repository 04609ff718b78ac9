#include "TestHttpServer.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace pellamark::testing {

using namespace platform;

namespace {

constexpr int RequestWaitMs = 5000;
constexpr std::size_t MaxRequestHeadBytes = 64 * 1024;

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

HttpRequest parseRequestHead(std::string_view head) {
    HttpRequest request;
    std::size_t lineEnd = head.find("\r\n");
    std::string_view requestLine = head.substr(0, lineEnd);
    std::size_t firstSpace = requestLine.find(' ');
    std::size_t secondSpace = requestLine.find(' ', firstSpace + 1);
    if (firstSpace != std::string_view::npos) {
        request.method = std::string(requestLine.substr(0, firstSpace));
        request.target =
            std::string(requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1));
    }
    while (lineEnd != std::string_view::npos) {
        std::size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        std::string_view line = head.substr(start, lineEnd - start);
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        request.headers.emplace_back(std::string(trim(line.substr(0, colon))),
                                     std::string(trim(line.substr(colon + 1))));
    }
    return request;
}

} // namespace

std::string HttpRequest::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (equalsIgnoreCase(key, name)) {
            return value;
        }
    }
    return {};
}

int HttpRequest::headerCount(std::string_view name) const {
    return static_cast<int>(std::count_if(headers.begin(), headers.end(), [&](const auto& h) {
        return equalsIgnoreCase(h.first, name);
    }));
}

HttpResponse HttpResponse::text(std::string body, int status) {
    HttpResponse response;
    response.status = status;
    response.headers.emplace_back("Content-Type", "text/html");
    response.body = std::move(body);
    return response;
}

HttpResponse HttpResponse::redirect(std::string location, int status) {
    HttpResponse response;
    response.status = status;
    response.headers.emplace_back("Location", std::move(location));
    response.body = "moved";
    return response;
}

TestHttpServer::TestHttpServer() {
    m_wake = makeWakeSocket();
    try {
        m_listener = listenOnLoopback(m_port);
    } catch (...) {
        closeSocket(m_wake);
        throw;
    }
    m_acceptor = std::thread([this] { acceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
    stop();
    closeSocket(m_wake);
}

void TestHttpServer::setHandler(Handler handler) {
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
}

void TestHttpServer::setMode(Mode mode) {
    std::lock_guard lock(m_mutex);
    m_mode = mode;
}

void TestHttpServer::setDripInterval(std::chrono::milliseconds interval) {
    std::lock_guard lock(m_mutex);
    m_dripInterval = interval;
}

std::string TestHttpServer::hostAndPort() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

std::string TestHttpServer::url(std::string_view path) const {
    return "http://" + hostAndPort() + std::string(path);
}

std::vector<HttpRequest> TestHttpServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int TestHttpServer::connectionsAccepted() const {
    std::lock_guard lock(m_mutex);
    return m_connectionsAccepted;
}

void TestHttpServer::stop() {
    if (m_stopping.exchange(true)) {
        return;
    }
    wake(m_wake);
    if (m_acceptor.joinable()) {
        m_acceptor.join();
    }
    closeSocket(m_listener);
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(m_mutex);
        for (const Socket connection : m_connections) {
            shutdownBoth(connection);
        }
        workers.swap(m_workers);
    }
    for (auto& worker : workers) {
        worker.join();
    }
}

bool TestHttpServer::waitFor(Socket socket, bool forWriting, int timeoutMs) const {
    return platform::waitFor(socket, forWriting, m_wake, timeoutMs) == Wait::Ready;
}

bool TestHttpServer::pause(std::chrono::milliseconds time) const {
    // The wake socket stands in for the socket waited on too: only stop() makes it readable.
    platform::waitFor(m_wake, false, m_wake, static_cast<int>(time.count()));
    return !m_stopping;
}

void TestHttpServer::acceptLoop() {
    while (!m_stopping) {
        if (!waitFor(m_listener, false, -1)) {
            return;
        }
        const Socket connection = acceptConnection(m_listener);
        if (connection == NoSocket) {
            continue;
        }
        std::lock_guard lock(m_mutex);
        m_connections.push_back(connection);
        ++m_connectionsAccepted;
        m_workers.emplace_back([this, connection] { serve(connection); });
    }
}

void TestHttpServer::serve(Socket connection) {
    auto sendAll = [&](std::string_view data) {
        while (!data.empty()) {
            if (!waitFor(connection, true, RequestWaitMs)) {
                return false;
            }
            const long sent = sendSome(connection, data.data(), data.size());
            if (sent <= 0) {
                return false;
            }
            data.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    };

    std::string head;
    char buffer[4096];
    bool complete = false;
    while (!complete && head.size() < MaxRequestHeadBytes &&
           waitFor(connection, false, RequestWaitMs)) {
        const long received = receiveSome(connection, buffer, sizeof buffer);
        if (received <= 0) {
            break;
        }
        head.append(buffer, static_cast<std::size_t>(received));
        complete = head.find("\r\n\r\n") != std::string::npos;
    }

    Mode mode = Mode::CloseWithoutAnswer;
    Handler handler;
    HttpRequest request;
    std::chrono::milliseconds dripInterval{};
    if (complete) {
        request = parseRequestHead(head.substr(0, head.find("\r\n\r\n") + 2));
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
        mode = m_mode;
        handler = m_handler;
        dripInterval = m_dripInterval;
    }
    const auto holdSilent = [&] {
        while (waitFor(connection, false, -1) &&
               receiveSome(connection, buffer, sizeof buffer) > 0) {
        }
    };

    switch (mode) {
    case Mode::Answer: {
        HttpResponse response;
        response.status = 404;
        if (handler) {
            response = handler(request);
        }
        // Clients go by the code; the reason phrase is free text.
        std::string out = "HTTP/1.1 " + std::to_string(response.status) + " Status\r\n";
        for (const auto& [key, value] : response.headers) {
            out += key + ": " + value + "\r\n";
        }
        out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
        out += "Connection: close\r\n\r\n";
        if (request.method != "HEAD") {
            out += response.body;
        }
        sendAll(out);
        shutdownSending(connection);
        // Let the client read everything before the socket goes away.
        while (waitFor(connection, false, RequestWaitMs) &&
               receiveSome(connection, buffer, sizeof buffer) > 0) {
        }
        break;
    }
    case Mode::NeverAnswer:
        holdSilent();
        break;
    case Mode::HeadersThenStall:
        if (sendAll("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n")) {
            holdSilent();
        }
        break;
    case Mode::DripBody:
    case Mode::DripHeaders: {
        const bool headers = mode == Mode::DripHeaders;
        if (!sendAll(headers ? "HTTP/1.1 200 OK\r\n"
                             : "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n")) {
            break;
        }
        // Short header lines, so that each one is complete within the client's idle time.
        const std::string_view drip = headers ? "X: 1\r\n" : "d";
        for (std::size_t i = 0; pause(dripInterval); ++i) {
            if (!sendAll(drip.substr(i % drip.size(), 1))) {
                break;
            }
        }
        break;
    }
    case Mode::GiantBody: {
        constexpr std::size_t Giant = std::size_t(1) << 30;
        if (!sendAll("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(Giant) + "\r\n\r\n")) {
            break;
        }
        const std::string chunk(1 << 20, 'g');
        for (std::size_t sent = 0; sent < Giant && !m_stopping && sendAll(chunk);
             sent += chunk.size()) {
        }
        break;
    }
    case Mode::EndlessBody: {
        if (!sendAll("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                     "Connection: close\r\n\r\n")) {
            break;
        }
        std::string chunk(16 * 1024, '\0');
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            chunk[i] = static_cast<char>('a' + i % 26);
        }
        while (!m_stopping && sendAll(chunk)) {
        }
        break;
    }
    case Mode::CloseWithoutAnswer:
        break;
    }

    std::lock_guard lock(m_mutex);
    m_connections.erase(std::find(m_connections.begin(), m_connections.end(), connection));
    closeSocket(connection);
}

namespace {
const char* const ProxyVariables[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                      "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};
} // namespace

ScopedNoProxy::ScopedNoProxy() {
    for (const char* name : ProxyVariables) {
        if (const char* value = std::getenv(name)) {
            m_saved.emplace_back(name, value);
        }
        setEnvironment(name, nullptr);
    }
}

ScopedNoProxy::~ScopedNoProxy() {
    for (const char* name : ProxyVariables) {
        setEnvironment(name, nullptr);
    }
    for (const auto& [name, value] : m_saved) {
        setEnvironment(name.c_str(), value.c_str());
    }
}

} // namespace pellamark::testing
