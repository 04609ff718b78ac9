#include "TestHttpServer.h"
#include "TestPlatform.h"

#include <winsock2.h>

#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <system_error>

#include <windows.h>

#include <wininet.h>

namespace pellamark::testing::platform {

namespace {

SOCKET sock(Socket socket) {
    return static_cast<SOCKET>(socket);
}

void startWinsock() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        if (const int error = ::WSAStartup(MAKEWORD(2, 2), &data); error != 0) {
            throw std::system_error(error, std::system_category(), "WSAStartup");
        }
    });
}

Socket boundLoopbackSocket(int type, unsigned short& port) {
    startWinsock();
    // Not inheritable, so a child process (the single-instance test) holds no copy.
    const SOCKET s = ::WSASocketW(AF_INET, type, 0, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        throw std::system_error(::WSAGetLastError(), std::system_category(), "socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (type == SOCK_STREAM && ::listen(s, 16) != 0) ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = ::WSAGetLastError();
        ::closesocket(s);
        throw std::system_error(error, std::system_category(), "bind/listen");
    }
    port = ntohs(address.sin_port);
    return static_cast<Socket>(s);
}

} // namespace

Socket listenOnLoopback(unsigned short& port) {
    return boundLoopbackSocket(SOCK_STREAM, port);
}

Socket makeWakeSocket() {
    unsigned short port = 0;
    const Socket s = boundLoopbackSocket(SOCK_DGRAM, port);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    self.sin_port = htons(port);
    if (::connect(sock(s), reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) {
        const int error = ::WSAGetLastError();
        ::closesocket(sock(s));
        throw std::system_error(error, std::system_category(), "connect");
    }
    return s;
}

void wake(Socket wakeSocket) {
    const char byte = 1;
    ::send(sock(wakeSocket), &byte, 1, 0);
}

Socket acceptConnection(Socket listener) {
    const SOCKET connection = ::accept(sock(listener), nullptr, nullptr);
    return connection == INVALID_SOCKET ? NoSocket : static_cast<Socket>(connection);
}

long receiveSome(Socket socket, char* buffer, std::size_t size) {
    return ::recv(sock(socket), buffer, static_cast<int>(size), 0);
}

long sendSome(Socket socket, const char* data, std::size_t size) {
    return ::send(sock(socket), data, static_cast<int>(size), 0);
}

void shutdownSending(Socket socket) {
    ::shutdown(sock(socket), SD_SEND);
}

void shutdownBoth(Socket socket) {
    ::shutdown(sock(socket), SD_BOTH);
}

void closeSocket(Socket socket) {
    ::closesocket(sock(socket));
}

Wait waitFor(Socket socket, bool forWriting, Socket wakeSocket, int timeoutMs) {
    WSAPOLLFD fds[2] = {{sock(socket), static_cast<SHORT>(forWriting ? POLLOUT : POLLIN), 0},
                        {sock(wakeSocket), POLLIN, 0}};
    const int ready = ::WSAPoll(fds, 2, timeoutMs);
    if (ready > 0 && fds[1].revents != 0) {
        return Wait::Woken;
    }
    return ready > 0 && fds[0].revents != 0 ? Wait::Ready : Wait::TimedOut;
}

bool runningUnderWine() {
    // Wine's ntdll exports its version; Windows' does not.
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

unsigned ansiCodePage() {
    return ::GetACP();
}

void setEnvironment(const char* name, const char* value) {
    // Both copies: the C library's and the process's, which Windows keeps apart.
    ::_putenv_s(name, value != nullptr ? value : "");
    ::SetEnvironmentVariableA(name, value);
}

} // namespace pellamark::testing::platform

namespace pellamark::testing {

namespace {

const wchar_t* const InternetSettings =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end()); // ASCII names and addresses only
}

// Tells WinINet in this process to read the settings again.
void announceSettingsChange() {
    ::InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
    ::InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
}

} // namespace

ScopedSystemProxy::ScopedSystemProxy(const std::string& hostAndPort) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, InternetSettings, 0, nullptr, 0, KEY_ALL_ACCESS,
                          nullptr, &key, nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("Internet settings can't be opened");
    }
    for (const char* name : {"ProxyEnable", "ProxyServer", "ProxyOverride"}) {
        Saved saved{name, false, 0, {}};
        DWORD type = 0;
        DWORD size = 0;
        if (::RegQueryValueExW(key, wide(name).c_str(), nullptr, &type, nullptr, &size) ==
            ERROR_SUCCESS) {
            saved.data.resize(size);
            saved.existed = ::RegQueryValueExW(key, wide(name).c_str(), nullptr, &type,
                                               saved.data.data(), &size) == ERROR_SUCCESS;
            saved.type = type;
        }
        m_saved.push_back(std::move(saved));
    }
    const DWORD enable = 1;
    const std::wstring server = wide(hostAndPort);
    ::RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable),
                     sizeof enable);
    ::RegSetValueExW(key, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                     static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
    ::RegDeleteValueW(key, L"ProxyOverride");
    ::RegCloseKey(key);
    announceSettingsChange();
}

ScopedSystemProxy::~ScopedSystemProxy() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, InternetSettings, 0, KEY_ALL_ACCESS, &key) !=
        ERROR_SUCCESS) {
        return;
    }
    for (const Saved& saved : m_saved) {
        if (saved.existed) {
            ::RegSetValueExW(key, wide(saved.name).c_str(), 0, saved.type, saved.data.data(),
                             static_cast<DWORD>(saved.data.size()));
        } else {
            ::RegDeleteValueW(key, wide(saved.name).c_str());
        }
    }
    ::RegCloseKey(key);
    announceSettingsChange();
}

} // namespace pellamark::testing
