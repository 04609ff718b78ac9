#include "TestHttpServer.h"
#include "TestPlatform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pellamark::testing::platform {

namespace {

int fd(Socket socket) {
    return static_cast<int>(socket);
}

Socket boundLoopbackSocket(int type, unsigned short& port) {
    const int s = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (s < 0) {
        throw std::system_error(errno, std::generic_category(), "socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (type == SOCK_STREAM && ::listen(s, 16) != 0) ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        ::close(s);
        throw std::system_error(error, std::generic_category(), "bind/listen");
    }
    port = ntohs(address.sin_port);
    return s;
}

} // namespace

Socket listenOnLoopback(unsigned short& port) {
    return boundLoopbackSocket(SOCK_STREAM, port);
}

Socket makeWakeSocket() {
    unsigned short port = 0;
    const Socket s = boundLoopbackSocket(SOCK_DGRAM, port);
    // Connected to itself, so wake() is a plain send.
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    self.sin_port = htons(port);
    if (::connect(fd(s), reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) {
        const int error = errno;
        ::close(fd(s));
        throw std::system_error(error, std::generic_category(), "connect");
    }
    return s;
}

void wake(Socket wakeSocket) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::send(fd(wakeSocket), &byte, 1, 0);
}

Socket acceptConnection(Socket listener) {
    const int connection = ::accept4(fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return connection < 0 ? NoSocket : connection;
}

long receiveSome(Socket socket, char* buffer, std::size_t size) {
    return static_cast<long>(::recv(fd(socket), buffer, size, 0));
}

long sendSome(Socket socket, const char* data, std::size_t size) {
    return static_cast<long>(::send(fd(socket), data, size, MSG_NOSIGNAL));
}

void shutdownSending(Socket socket) {
    ::shutdown(fd(socket), SHUT_WR);
}

void shutdownBoth(Socket socket) {
    ::shutdown(fd(socket), SHUT_RDWR);
}

void closeSocket(Socket socket) {
    ::close(fd(socket));
}

Wait waitFor(Socket socket, bool forWriting, Socket wakeSocket, int timeoutMs) {
    pollfd fds[2] = {{fd(socket), static_cast<short>(forWriting ? POLLOUT : POLLIN), 0},
                     {fd(wakeSocket), POLLIN, 0}};
    const int ready = ::poll(fds, 2, timeoutMs);
    if (ready > 0 && fds[1].revents != 0) {
        return Wait::Woken;
    }
    return ready > 0 && fds[0].revents != 0 ? Wait::Ready : Wait::TimedOut;
}

bool runningUnderWine() {
    return false;
}

unsigned ansiCodePage() {
    return 0;
}

void setEnvironment(const char* name, const char* value) {
    if (value != nullptr) {
        ::setenv(name, value, 1);
    } else {
        ::unsetenv(name);
    }
}

} // namespace pellamark::testing::platform

namespace pellamark::testing {

ScopedSystemProxy::ScopedSystemProxy(const std::string& hostAndPort) {
    const char* value = std::getenv("http_proxy");
    Saved saved{"http_proxy", value != nullptr, 0, {}};
    if (value != nullptr) {
        saved.data.assign(value, value + std::strlen(value));
    }
    m_saved.push_back(std::move(saved));
    platform::setEnvironment("http_proxy", ("http://" + hostAndPort).c_str());
}

ScopedSystemProxy::~ScopedSystemProxy() {
    for (const Saved& saved : m_saved) {
        const std::string value(saved.data.begin(), saved.data.end());
        platform::setEnvironment(saved.name.c_str(), saved.existed ? value.c_str() : nullptr);
    }
}

} // namespace pellamark::testing
