#include "TestHttpServer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pellamark::testing {

namespace {

constexpr int kRequestWaitMs = 5000;
constexpr std::size_t kMaxRequestHeadBytes = 64 * 1024;

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
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    m_wakeRead = wake[0];
    m_wakeWrite = wake[1];

    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0) {
        throw std::system_error(errno, std::generic_category(), "socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 16) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        int error = errno;
        ::close(m_listener);
        throw std::system_error(error, std::generic_category(), "bind/listen");
    }
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { acceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
    stop();
    ::close(m_wakeRead);
    ::close(m_wakeWrite);
}

void TestHttpServer::setHandler(Handler handler) {
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
}

void TestHttpServer::setMode(Mode mode) {
    std::lock_guard lock(m_mutex);
    m_mode = mode;
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
    char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(m_wakeWrite, &byte, 1);
    if (m_acceptor.joinable()) {
        m_acceptor.join();
    }
    ::close(m_listener);
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(m_mutex);
        for (int connection : m_connections) {
            ::shutdown(connection, SHUT_RDWR);
        }
        workers.swap(m_workers);
    }
    for (auto& worker : workers) {
        worker.join();
    }
}

bool TestHttpServer::waitFor(int fd, short events, int timeoutMs) const {
    pollfd fds[2] = {{fd, events, 0}, {m_wakeRead, POLLIN, 0}};
    int ready = ::poll(fds, 2, timeoutMs);
    if (ready <= 0 || fds[1].revents != 0) {
        return false;
    }
    return fds[0].revents != 0;
}

void TestHttpServer::acceptLoop() {
    while (!m_stopping) {
        if (!waitFor(m_listener, POLLIN, -1)) {
            return;
        }
        int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            continue;
        }
        std::lock_guard lock(m_mutex);
        m_connections.push_back(connection);
        ++m_connectionsAccepted;
        m_workers.emplace_back([this, connection] { serve(connection); });
    }
}

void TestHttpServer::serve(int connection) {
    auto sendAll = [&](std::string_view data) {
        while (!data.empty()) {
            if (!waitFor(connection, POLLOUT, kRequestWaitMs)) {
                return false;
            }
            ssize_t sent = ::send(connection, data.data(), data.size(), MSG_NOSIGNAL);
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
    while (!complete && head.size() < kMaxRequestHeadBytes &&
           waitFor(connection, POLLIN, kRequestWaitMs)) {
        ssize_t received = ::recv(connection, buffer, sizeof buffer, 0);
        if (received <= 0) {
            break;
        }
        head.append(buffer, static_cast<std::size_t>(received));
        complete = head.find("\r\n\r\n") != std::string::npos;
    }

    Mode mode = Mode::CloseWithoutAnswer;
    Handler handler;
    HttpRequest request;
    if (complete) {
        request = parseRequestHead(head.substr(0, head.find("\r\n\r\n") + 2));
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
        mode = m_mode;
        handler = m_handler;
    }

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
        ::shutdown(connection, SHUT_WR);
        // Let the client read everything before the socket goes away.
        while (waitFor(connection, POLLIN, kRequestWaitMs) &&
               ::recv(connection, buffer, sizeof buffer, 0) > 0) {
        }
        break;
    }
    case Mode::NeverAnswer:
        while (waitFor(connection, POLLIN, -1) &&
               ::recv(connection, buffer, sizeof buffer, 0) > 0) {
        }
        break;
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
    ::close(connection);
}

namespace {
const char* const kProxyVariables[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                       "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};
} // namespace

ScopedNoProxy::ScopedNoProxy() {
    for (const char* name : kProxyVariables) {
        if (const char* value = std::getenv(name)) {
            m_saved.emplace_back(name, value);
        }
        ::unsetenv(name);
    }
}

ScopedNoProxy::~ScopedNoProxy() {
    for (const char* name : kProxyVariables) {
        ::unsetenv(name);
    }
    for (const auto& [name, value] : m_saved) {
        ::setenv(name.c_str(), value.c_str(), 1);
    }
}

} // namespace pellamark::testing
