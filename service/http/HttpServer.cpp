#include "service/http/HttpServer.h"

#include <microhttpd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pellamark::service {

using Clock = std::chrono::steady_clock;

// What the server keeps per TCP connection. The request fields are touched only by the thread
// serving the connection; the deadline also by the watch, under its mutex.
struct HttpServer::Connection {
    HttpServer* server = nullptr;
    int fd = -1;
    Clock::time_point deadline{};
    bool armed = false;

    bool headComplete = false;
    bool tooLarge = false;
    bool answered = false;
    // Set by the worker before it hands the connection back to its event loop.
    bool responseReady = false;
    HttpResponse response;
    int status = 0;
    Clock::time_point headTime{};
    HttpRequest request;

    // An upload in progress (see UploadSettings).
    MHD_PostProcessor* form = nullptr;
    bool uploadCounted = false;
    bool gateOpen = false;      // the gate field came with its value
    bool receivingFile = false; // the part being read is the file, going to the upload's file
    std::size_t fieldBytes = 0; // the other fields so far
    std::size_t bodyBytes = 0;  // the whole body so far
    std::size_t sinceProgress = 0;
    std::optional<HttpResponse> refusal; // answered once the body has arrived

    ~Connection() { endUpload(); }
    void endUpload();
};

ResponseFile::~ResponseFile() {
    if (fd >= 0)
        ::close(fd);
}

UploadedForm::~UploadedForm() {
    if (file >= 0)
        ::close(file);
}

std::optional<std::string> HttpRequest::header(std::string_view name) const {
    auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
    for (const auto& [key, value] : headers)
        if (key.size() == name.size() &&
            std::equal(key.begin(), key.end(), name.begin(),
                       [&](char a, char b) { return lower(a) == lower(b); }))
            return value;
    return std::nullopt;
}

namespace {

std::optional<std::size_t> parseLength(const std::optional<std::string>& text) {
    if (!text)
        return std::nullopt;
    std::size_t value = 0;
    const auto* end = text->data() + text->size();
    const auto [ptr, ec] = std::from_chars(text->data(), end, value);
    if (ec != std::errc{} || ptr != end)
        return std::nullopt;
    return value;
}

MHD_Response* fileResponse(const ResponseFile& file) {
    const off_t size = ::lseek(file.fd, 0, SEEK_END);
    // The server reads and closes a descriptor of its own.
    const int fd = size >= 0 ? ::fcntl(file.fd, F_DUPFD_CLOEXEC, 0) : -1;
    if (fd < 0)
        return nullptr;
    MHD_Response* response = MHD_create_response_from_fd(static_cast<std::uint64_t>(size), fd);
    if (!response)
        ::close(fd);
    return response;
}

MHD_Result queue(MHD_Connection* connection, const HttpResponse& answer) {
    MHD_Response* response =
        answer.file ? fileResponse(*answer.file)
                    : MHD_create_response_from_buffer(answer.body.size(),
                                                      const_cast<char*>(answer.body.data()),
                                                      MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    for (const auto& [name, value] : answer.headers)
        MHD_add_response_header(response, name.c_str(), value.c_str());
    const MHD_Result result =
        MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    return result;
}

HttpResponse plainText(int status, std::string text) {
    HttpResponse response;
    response.status = status;
    response.setContent(std::move(text), "text/plain; charset=utf-8");
    return response;
}

} // namespace

int temporaryFile(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    // A file system without unnamed files: a named one, unlinked at once.
    std::string name = folder + "/pellamark-upload-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(name.c_str());
    return fd;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

namespace {

BoundAddress describe(int fd) {
    BoundAddress address;
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return address;
    char text[INET6_ADDRSTRLEN] = {};
    if (storage.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(storage);
        inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        address.port = ntohs(v4.sin_port);
        const auto ip = ntohl(v4.sin_addr.s_addr);
        address.wildcard = ip == INADDR_ANY;
        address.loopback = (ip >> 24) == 127;
    } else if (storage.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(storage);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        address.port = ntohs(v6.sin6_port);
        address.wildcard = IN6_IS_ADDR_UNSPECIFIED(&v6.sin6_addr);
        address.loopback = IN6_IS_ADDR_LOOPBACK(&v6.sin6_addr);
    }
    address.ip = text;
    return address;
}

// As many connections as the descriptor limit leaves room for, after the server's own (an
// epoll set and a wake-up channel per thread), the database's (one per thread at most) and a
// margin for files.
unsigned connectionLimit(std::size_t threads) {
    rlimit limit{};
    std::size_t available = 1024;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        available = static_cast<std::size_t>(limit.rlim_cur);
    const std::size_t reserved = 3 * threads + 64;
    const std::size_t usable = available > reserved + 16 ? available - reserved : 16;
    return static_cast<unsigned>(std::min<std::size_t>(usable, 100'000));
}

} // namespace

void HttpServer::Connection::endUpload() {
    if (form)
        MHD_destroy_post_processor(form);
    form = nullptr;
    request.upload.reset();
    if (uploadCounted)
        --server->m_uploads;
    uploadCounted = false;
    gateOpen = receivingFile = false;
    fieldBytes = bodyBytes = sinceProgress = 0;
    refusal.reset();
}

// libmicrohttpd's C callbacks, forwarding to the server.
struct HttpServer::Callbacks {
    static HttpServer::Connection* stateOf(MHD_Connection* connection) {
        const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return info ? static_cast<HttpServer::Connection*>(info->socket_context) : nullptr;
    }

    static void connectionChanged(void* cls, MHD_Connection* connection, void** socketContext,
                                  MHD_ConnectionNotificationCode code) {
        auto& server = *static_cast<HttpServer*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto* state = new HttpServer::Connection;
            state->server = &server;
            const auto* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            state->fd = info ? info->connect_fd : -1;
            *socketContext = state;
            server.arm(*state, server.m_settings.requestDeadline);
        } else if (auto* state = static_cast<HttpServer::Connection*>(*socketContext)) {
            // Called before the socket is closed: once it is out of the watch, the watch can no
            // longer touch a descriptor number that a new connection may reuse.
            {
                std::lock_guard lock(server.m_watchMutex);
                server.m_connections.erase(state);
            }
            delete state;
            *socketContext = nullptr;
        }
    }

    // Called with the request line, before the target is split and decoded.
    static void* requestStarted(void*, const char* uri, MHD_Connection* connection) {
        auto* state = stateOf(connection);
        if (state) {
            state->endUpload();
            state->headComplete = false;
            state->tooLarge = false;
            state->answered = false;
            state->responseReady = false;
            state->status = 0;
            state->request = HttpRequest{};
            state->request.target = uri ? uri : "";
        }
        return state;
    }

    static MHD_Result access(void* cls, MHD_Connection* connection, const char* url,
                             const char* method, const char*, const char* uploadData,
                             std::size_t* uploadSize, void** requestContext) {
        auto& server = *static_cast<HttpServer*>(cls);
        auto* state = static_cast<HttpServer::Connection*>(*requestContext);
        if (!state)
            return MHD_NO;
        auto& request = state->request;

        if (!state->headComplete) {
            state->headComplete = true;
            state->headTime = Clock::now();
            request.method = method ? method : "";
            request.path = url ? url : "";
            MHD_get_connection_values(connection, MHD_HEADER_KIND, &Callbacks::addHeader, &request);
            const auto& upload = server.m_settings.upload;
            const bool isUpload =
                request.method == "POST" && upload.accepts && upload.accepts(request);
            const auto length = parseLength(request.header("Content-Length"));
            if (length && *length > (isUpload ? upload.maxBytes : server.m_settings.maxBodyBytes))
                return answer(connection, *state, plainText(413, "The request is too large.\n"));
            if (isUpload) {
                if (server.m_uploads.fetch_add(1) >= upload.maxAtOnce) {
                    --server.m_uploads;
                    auto busy = plainText(503, "Too many files are being sent at once. Please "
                                               "try again shortly.\n");
                    busy.setHeader("Retry-After", "5");
                    return answer(connection, *state, busy);
                }
                state->uploadCounted = true;
                state->form =
                    MHD_create_post_processor(connection, 64 * 1024, &Callbacks::formPart, state);
                if (!state->form)
                    return answer(connection, *state,
                                  plainText(400, "The form could not be read.\n"));
                request.upload = std::make_shared<UploadedForm>();
            }
            if (length.value_or(0) == 0 && !request.header("Transfer-Encoding"))
                server.disarm(*state);
            else
                server.arm(*state, server.m_settings.requestDeadline);
            return MHD_YES;
        }
        if (state->form)
            return receiveForm(connection, *state, uploadData, uploadSize);
        if (*uploadSize > 0) {
            // A chunked body has no length up front: past the bound the rest is read and
            // dropped, and the deadline ends one that never stops.
            if (!state->tooLarge &&
                request.body.size() + *uploadSize > server.m_settings.maxBodyBytes) {
                state->tooLarge = true;
                request.body.clear();
            }
            if (!state->tooLarge)
                request.body.append(uploadData, *uploadSize);
            *uploadSize = 0;
            return MHD_YES;
        }
        if (state->responseReady) {
            // Back from the worker.
            state->responseReady = false;
            return answer(connection, *state, state->response);
        }
        server.disarm(*state);
        if (state->tooLarge)
            return answer(connection, *state, plainText(413, "The request is too large.\n"));
        return dispatch(server, connection, *state);
    }

    // The next piece of an upload's body, or its end.
    static MHD_Result receiveForm(MHD_Connection* connection, HttpServer::Connection& state,
                                  const char* data, std::size_t* size) {
        auto& server = *state.server;
        const auto& settings = server.m_settings.upload;
        if (*size > 0) {
            state.bodyBytes += *size;
            // A chunked body has no length up front: past the bound the rest is dropped, and
            // far past it the connection is closed.
            if (state.bodyBytes > settings.maxBytes && !state.refusal)
                state.refusal = plainText(413, "The request is too large.\n");
            if (state.bodyBytes > settings.maxBytes + settings.maxBytes / 4)
                return MHD_NO;
            if (!state.refusal && MHD_post_process(state.form, data, *size) != MHD_YES &&
                !state.refusal)
                state.refusal = plainText(400, "The form could not be read.\n");
            // Progress keeps an upload alive; a trickle does not.
            state.sinceProgress += *size;
            if (state.sinceProgress >= settings.minProgressBytes) {
                state.sinceProgress = 0;
                server.arm(state, server.m_settings.requestDeadline);
            }
            *size = 0;
            return MHD_YES;
        }
        if (state.responseReady) {
            state.responseReady = false;
            return answer(connection, state, state.response);
        }
        server.disarm(state);
        // Also says whether the form ended as a form must.
        const bool complete = MHD_destroy_post_processor(state.form) == MHD_YES;
        state.form = nullptr;
        if (!state.refusal && !complete)
            state.refusal = plainText(400, "The form could not be read.\n");
        if (state.refusal)
            return answer(connection, state, *state.refusal);
        auto& upload = *state.request.upload;
        if (upload.file >= 0 && ::lseek(upload.file, 0, SEEK_SET) != 0)
            return answer(connection, state, plainText(500, "The file could not be received.\n"));
        return dispatch(server, connection, state);
    }

    // One part of a form, as libmicrohttpd's form reader hands it over in pieces.
    static MHD_Result formPart(void* cls, MHD_ValueKind, const char* key, const char* filename,
                               const char*, const char*, const char* data, std::uint64_t offset,
                               std::size_t size) {
        auto& state = *static_cast<HttpServer::Connection*>(cls);
        if (state.refusal)
            return MHD_YES;
        const auto& server = *state.server;
        const auto& settings = server.m_settings.upload;
        auto& upload = *state.request.upload;
        const std::string_view name = key ? key : "";
        // A part begins at offset 0; the file's first piece may come empty, then again at 0.
        const bool fileGoesOn = state.receivingFile && upload.fileBytes == 0;
        if (offset == 0 && !fileGoesOn) {
            state.receivingFile = false;
            if (filename && name == settings.fileField) {
                if (!state.gateOpen || upload.file >= 0) {
                    state.refusal = plainText(413, "The request is too large.\n");
                    return MHD_YES;
                }
                upload.file = temporaryFile(settings.folder);
                if (upload.file < 0) {
                    state.refusal = plainText(500, "The file could not be received.\n");
                    return MHD_YES;
                }
                state.receivingFile = true;
            } else {
                upload.fields.emplace_back(std::string(name), std::string());
            }
        }
        if (state.receivingFile) {
            if (!writeAll(upload.file, std::string_view(data, size))) {
                state.refusal = errno == ENOSPC || errno == EDQUOT
                                    ? plainText(507, "There is no room to receive the file.\n")
                                    : plainText(500, "The file could not be received.\n");
                return MHD_YES;
            }
            upload.fileBytes += size;
            return MHD_YES;
        }
        state.fieldBytes += size;
        if (state.fieldBytes > server.m_settings.maxBodyBytes) {
            state.refusal = plainText(413, "The request is too large.\n");
            return MHD_YES;
        }
        if (upload.fields.empty())
            return MHD_YES;
        auto& [fieldName, value] = upload.fields.back();
        value.append(data, size);
        if (fieldName == settings.gateField)
            state.gateOpen = value == settings.gateValue;
        return MHD_YES;
    }

    // Hands the complete request to a worker, its connection set aside until the answer is ready.
    static MHD_Result dispatch(HttpServer& server, MHD_Connection* connection,
                               HttpServer::Connection& state) {
        {
            std::lock_guard lock(server.m_jobMutex);
            if (!server.m_stopping) {
                MHD_suspend_connection(connection);
                ++server.m_unfinished;
                server.m_jobs.push_back([&server, &state, connection] {
                    HttpResponse response;
                    try {
                        server.m_handler(state.request, response);
                    } catch (...) {
                        response = plainText(500, "The request could not be served.\n");
                    }
                    state.response = std::move(response);
                    state.responseReady = true;
                    MHD_resume_connection(connection);
                });
                server.m_jobAdded.notify_one();
                return MHD_YES;
            }
        }
        return answer(connection, state, plainText(503, "The service is stopping.\n"));
    }

    static MHD_Result addHeader(void* cls, MHD_ValueKind, const char* key, const char* value) {
        if (key)
            static_cast<HttpRequest*>(cls)->headers.emplace_back(key, value ? value : "");
        return MHD_YES;
    }

    static MHD_Result answer(MHD_Connection* connection, HttpServer::Connection& state,
                             const HttpResponse& response) {
        state.answered = true;
        state.status = response.status;
        return queue(connection, response);
    }

    static void requestEnded(void* cls, MHD_Connection*, void** requestContext,
                             MHD_RequestTerminationCode) {
        auto& server = *static_cast<HttpServer*>(cls);
        auto* state = static_cast<HttpServer::Connection*>(*requestContext);
        if (!state)
            return;
        if (state->answered && server.m_completed)
            server.m_completed(state->request, state->status,
                               std::chrono::duration_cast<std::chrono::microseconds>(
                                   Clock::now() - state->headTime));
        state->answered = false;
        state->headComplete = false;
        // The upload's file goes now, not when the kept-alive connection closes.
        state->endUpload();
        // The next request on a kept-alive connection has the same time to arrive.
        server.arm(*state, server.m_settings.requestDeadline);
    }
};

HttpServer::HttpServer(HttpSettings settings, Handler handler, Completed completed)
    : m_settings(settings), m_handler(std::move(handler)), m_completed(std::move(completed)) {}

HttpServer::~HttpServer() {
    stop();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

int HttpServer::bind(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return -1;
    int fd = -1;
    for (const addrinfo* candidate = found; candidate && fd < 0; candidate = candidate->ai_next) {
        fd = ::socket(candidate->ai_family, candidate->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                      candidate->ai_protocol);
        if (fd < 0)
            continue;
        // SO_REUSEADDR allows an immediate restart; SO_REUSEPORT is left off, so a second copy
        // cannot bind the same port and silently take half the requests.
        int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        // A burst of new clients must not overflow the queue while the threads are busy.
        if (::bind(fd, candidate->ai_addr, candidate->ai_addrlen) != 0 ||
            ::listen(fd, SOMAXCONN) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0)
        return -1;
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    m_listenFd = fd;
    m_address = describe(fd);
    return m_address.port;
}

bool HttpServer::start() {
    if (m_listenFd < 0 || m_daemon)
        return false;
    const std::size_t workers = std::max<std::size_t>(1, m_settings.threads);
    // Reading and writing is cheap: a loop per core, a few at most, carry thousands of
    // connections.
    const unsigned loops = std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
    const unsigned idleSeconds = static_cast<unsigned>(
        std::max<long long>(1, (m_settings.requestDeadline.count() + 999) / 1000));
    {
        std::lock_guard lock(m_jobMutex);
        m_stopping = false;
    }
    m_daemon = MHD_start_daemon(
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME, 0, nullptr,
        nullptr, &Callbacks::access, this, MHD_OPTION_LISTEN_SOCKET, m_listenFd,
        MHD_OPTION_THREAD_POOL_SIZE, loops,
        // Also bounds how long an answer may wait for a client that does not read it.
        MHD_OPTION_CONNECTION_TIMEOUT, idleSeconds, MHD_OPTION_CONNECTION_LIMIT,
        connectionLimit(workers + loops), MHD_OPTION_PER_IP_CONNECTION_LIMIT,
        m_settings.connectionsPerAddress, MHD_OPTION_NOTIFY_CONNECTION,
        &Callbacks::connectionChanged, this, MHD_OPTION_URI_LOG_CALLBACK,
        &Callbacks::requestStarted, this, MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::requestEnded,
        this, MHD_OPTION_SIGPIPE_HANDLED_BY_APP, 1, MHD_OPTION_END);
    if (!m_daemon)
        return false;
    // The daemon owns and closes the socket from now on.
    m_listenFd = -1;
    for (std::size_t i = 0; i < workers; ++i)
        m_workers.emplace_back([this] { work(); });
    {
        std::lock_guard lock(m_watchMutex);
        m_watchStop = false;
    }
    m_watcher = std::thread([this] { watch(); });
    return true;
}

void HttpServer::stop() {
    if (!m_daemon)
        return;
    // Requests from now on are answered at once; those already with a worker finish first, as
    // the event loops may stop only with every connection back in their hands.
    {
        std::unique_lock lock(m_jobMutex);
        m_stopping = true;
        m_jobAdded.notify_all();
        m_jobDone.wait(lock, [this] { return m_unfinished == 0; });
    }
    MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
    for (auto& worker : m_workers)
        worker.join();
    m_workers.clear();
    {
        std::lock_guard lock(m_watchMutex);
        m_watchStop = true;
    }
    m_watchWake.notify_all();
    if (m_watcher.joinable())
        m_watcher.join();
}

void HttpServer::work() {
    std::unique_lock lock(m_jobMutex);
    for (;;) {
        m_jobAdded.wait(lock, [this] { return !m_jobs.empty() || m_stopping; });
        if (m_jobs.empty())
            return;
        auto job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        job();
        lock.lock();
        --m_unfinished;
        m_jobDone.notify_all();
    }
}

void HttpServer::arm(Connection& connection, std::chrono::milliseconds within) {
    std::lock_guard lock(m_watchMutex);
    connection.deadline = Clock::now() + within;
    connection.armed = true;
    m_connections.insert(&connection);
}

void HttpServer::disarm(Connection& connection) {
    std::lock_guard lock(m_watchMutex);
    connection.armed = false;
    m_connections.erase(&connection);
}

// Ends connections whose request has not arrived in time. The event loop cannot tell a client
// that sends a byte now and then from a slow network, so this is what bounds how long a
// connection can be held without ever completing a request.
void HttpServer::watch() {
    std::unique_lock lock(m_watchMutex);
    while (!m_watchStop) {
        const auto now = Clock::now();
        for (auto it = m_connections.begin(); it != m_connections.end();) {
            Connection* connection = *it;
            if (connection->armed && connection->deadline <= now) {
                // The connection's own thread sees the end of the stream and closes it.
                ::shutdown(connection->fd, SHUT_RDWR);
                connection->armed = false;
                it = m_connections.erase(it);
            } else {
                ++it;
            }
        }
        m_watchWake.wait_for(lock, std::chrono::milliseconds(200));
    }
}

} // namespace pellamark::service
