#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "TestPlatform.h"

namespace pellamark::testing {

struct HttpRequest {
    std::string method;
    // As sent on the request line: a path, or an absolute address when sent to a proxy.
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;

    // The value of the first header of that name (case-insensitive), or "" when absent.
    std::string header(std::string_view name) const;
    // How many headers of that name were sent.
    int headerCount(std::string_view name) const;
};

struct HttpResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    static HttpResponse text(std::string body, int status = 200);
    static HttpResponse redirect(std::string location, int status = 302);
};

// A small HTTP/1.1 server on 127.0.0.1 with an ephemeral port, serving on its own threads.
// Every connection carries one request and is closed after the answer. Besides answering through
// a handler it can misbehave in ways a well-written server library would not allow.
class TestHttpServer {
public:
    enum class Mode {
        Answer,             // read the request, answer with the handler's response
        NeverAnswer,        // read the request, then keep the connection open and silent
        EndlessBody,        // answer 200 with a body that never ends (no length, no chunks)
        CloseWithoutAnswer, // read the request, then close the connection
        HeadersThenStall,   // answer the headers of a 100-byte body, then fall silent
        DripBody,           // answer the headers, then the body one byte at a time
        DripHeaders,        // answer the status, then header lines without end, byte by byte
        GiantBody           // answer 200 with a body of 1 GiB, as fast as the client reads
    };
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    // Listens at once; throws std::system_error when no socket can be had.
    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    // Without a handler every request is answered 404 with an empty body.
    void setHandler(Handler handler);
    void setMode(Mode mode);
    // The pause between the dripped bytes.
    void setDripInterval(std::chrono::milliseconds interval);

    unsigned short port() const { return m_port; }
    // "127.0.0.1:<port>"
    std::string hostAndPort() const;
    // "http://127.0.0.1:<port>" + path
    std::string url(std::string_view path = "/") const;

    // Requests received so far, in the order their headers were complete.
    std::vector<HttpRequest> requests() const;
    // Connections accepted so far, whether or not a request came over them.
    int connectionsAccepted() const;

    // Closes the listening socket and every open connection; afterwards connections are refused.
    // Safe to call more than once.
    void stop();

private:
    void acceptLoop();
    void serve(platform::Socket connection);
    bool waitFor(platform::Socket socket, bool forWriting, int timeoutMs) const;
    // Sleeps; false when the server is stopping.
    bool pause(std::chrono::milliseconds time) const;

    platform::Socket m_listener = platform::NoSocket;
    platform::Socket m_wake = platform::NoSocket; // readable once stop() has been called
    unsigned short m_port = 0;
    std::atomic<bool> m_stopping{false};

    mutable std::mutex m_mutex;
    Handler m_handler;
    Mode m_mode = Mode::Answer;
    std::chrono::milliseconds m_dripInterval{1000};
    std::vector<HttpRequest> m_requests;
    int m_connectionsAccepted = 0;
    std::vector<platform::Socket> m_connections;
    std::vector<std::thread> m_workers;
    std::thread m_acceptor;
};

// Clears the proxy variables for its lifetime and puts the earlier values back afterwards, so a
// proxy set on the machine running the tests does not carry requests meant for a local server.
class ScopedNoProxy {
public:
    ScopedNoProxy();
    ~ScopedNoProxy();
    ScopedNoProxy(const ScopedNoProxy&) = delete;
    ScopedNoProxy& operator=(const ScopedNoProxy&) = delete;

private:
    std::vector<std::pair<std::string, std::string>> m_saved;
};

// Sends the web requests of this process through a proxy at `hostAndPort` for its lifetime, set
// the way a user sets it: the http_proxy variable on Linux, the per-user Internet settings on
// Windows (which every program of that user reads, so tests that fetch must not run meanwhile).
// The earlier settings come back afterwards.
class ScopedSystemProxy {
public:
    explicit ScopedSystemProxy(const std::string& hostAndPort);
    ~ScopedSystemProxy();
    ScopedSystemProxy(const ScopedSystemProxy&) = delete;
    ScopedSystemProxy& operator=(const ScopedSystemProxy&) = delete;

    struct Saved {
        std::string name;
        bool existed = false;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
    };

private:
    std::vector<Saved> m_saved;
};

} // namespace pellamark::testing
