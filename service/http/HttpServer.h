#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

struct MHD_Connection;
struct MHD_Daemon;
struct MHD_PostProcessor;

namespace pellamark::service {

// A form posted as multipart/form-data with a file, received as UploadSettings has it.
struct UploadedForm {
    UploadedForm() = default;
    ~UploadedForm();
    UploadedForm(const UploadedForm&) = delete;
    UploadedForm& operator=(const UploadedForm&) = delete;

    std::vector<std::pair<std::string, std::string>> fields; // the fields other than the file
    // The file's bytes in a private temporary file that is gone once closed, positioned at its
    // start; -1 when the form brought no file.
    int file = -1;
    std::size_t fileBytes = 0;
};

struct HttpRequest {
    std::string method;
    std::string path;   // percent-decoded, without the query
    std::string target; // path and query exactly as the client sent them
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Set instead of body for a request taken as an upload.
    std::shared_ptr<UploadedForm> upload;

    // The value of the first request header of that name (in any case), when there is one.
    std::optional<std::string> header(std::string_view name) const;
};

// A file to answer with, from its start to its end; closed with the last of its owners.
struct ResponseFile {
    explicit ResponseFile(int descriptor) : fd(descriptor) {}
    ~ResponseFile();
    ResponseFile(const ResponseFile&) = delete;
    ResponseFile& operator=(const ResponseFile&) = delete;
    int fd;
};

struct HttpResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Sent instead of body when set: a large answer made on disk, not in memory.
    std::shared_ptr<ResponseFile> file;

    void setHeader(std::string name, std::string value) {
        headers.emplace_back(std::move(name), std::move(value));
    }
    void setContent(std::string content, std::string type) {
        body = std::move(content);
        setHeader("Content-Type", std::move(type));
    }
};

// A private file in the folder that no other process can open and that is gone once closed, or -1.
int temporaryFile(const std::string& folder);
// Writes all of the bytes, through interruptions and short writes; false when it cannot.
bool writeAll(int fd, std::string_view bytes);

// Requests that may bring a file much larger than the body bound: forms posted as
// multipart/form-data, read by libmicrohttpd's form reader as they arrive, the file written to a
// temporary file, never held in memory. A request is taken as one when `accepts` says so of its
// head; the file is taken only when the field `gateField` came before it with `gateValue` (a
// form for anything else keeps the body bound). An upload must keep arriving: one that brings
// less than minProgressBytes within a request deadline is cut off.
struct UploadSettings {
    std::function<bool(const HttpRequest& head)> accepts;
    std::string gateField;
    std::string gateValue;
    std::string fileField = "file";
    std::size_t maxBytes = 256 * 1024 * 1024;
    std::string folder = "/tmp"; // where the temporary files are made
    std::size_t minProgressBytes = 16 * 1024;
    // Uploads received (or being served) at once; more are answered 503.
    std::size_t maxAtOnce = 4;
};

struct HttpSettings {
    // Threads that run the handler, and so wait for the store. Reading requests and writing
    // answers is left to a few event-loop threads, each waiting on many connections at once: an
    // idle or slow connection costs a descriptor and a little memory, never a thread.
    std::size_t threads = 32;
    std::size_t maxBodyBytes = 64 * 1024;
    // Connections one client address may hold at once; 0 for no bound (behind a proxy, which is
    // then the only address).
    unsigned connectionsPerAddress = 64;
    // A request's head and body must have arrived within this time from its first byte (or
    // from the connection's start or the previous answer); an idle connection is closed after it.
    std::chrono::milliseconds requestDeadline{10'000};
    UploadSettings upload;
};

// The address the server listens on, as the socket reports it.
struct BoundAddress {
    std::string ip; // numeric, without brackets
    int port = 0;
    bool wildcard = false; // every address of the machine
    bool loopback = false;
};

// An HTTP/1.1 server: a few event loops (libmicrohttpd with epoll) read requests and write
// answers; a complete request is handed to the handler on a worker thread while its connection
// waits aside, so a slow store call holds up no other connection. The completion callback runs
// after each answer has gone out.
class HttpServer {
public:
    using Handler = std::function<void(const HttpRequest&, HttpResponse&)>;
    // The request, its status, and the time from its complete head to the end of the answer.
    using Completed = std::function<void(const HttpRequest&, int, std::chrono::microseconds)>;

    HttpServer(HttpSettings settings, Handler handler, Completed completed);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and listens (0 picks a free port). Returns the port, or -1 when that failed.
    int bind(const std::string& host, int port);
    const BoundAddress& address() const { return m_address; }
    // Serves on the server's own threads until stop(). False when it could not start.
    bool start();
    // Closes every connection; returns once the threads have ended.
    void stop();

private:
    struct Connection;
    struct Callbacks;

    void arm(Connection& connection, std::chrono::milliseconds within);
    void disarm(Connection& connection);
    void watch();
    void work();

    HttpSettings m_settings;
    Handler m_handler;
    Completed m_completed;
    int m_listenFd = -1;
    BoundAddress m_address;
    MHD_Daemon* m_daemon = nullptr;

    // Requests waiting for or in the hands of a worker; their connections are set aside and must
    // all be back before the event loops may stop.
    std::mutex m_jobMutex;
    std::condition_variable m_jobAdded;
    std::condition_variable m_jobDone;
    std::deque<std::function<void()>> m_jobs;
    std::size_t m_unfinished = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_workers;

    // Connections whose request is still arriving, for the deadline watch.
    std::mutex m_watchMutex;
    std::condition_variable m_watchWake;
    std::set<Connection*> m_connections;
    bool m_watchStop = false;
    std::thread m_watcher;

    std::atomic<std::size_t> m_uploads{0};
};

} // namespace pellamark::service
