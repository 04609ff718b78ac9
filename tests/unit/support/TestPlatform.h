#pragma once

#include <cstddef>
#include <cstdint>

// The few operating system calls the test support needs, one file per platform: sockets for the
// test HTTP server and the process environment.
namespace pellamark::testing::platform {

// A socket descriptor of either platform.
using Socket = std::intptr_t;
inline constexpr Socket NoSocket = -1;

// A TCP socket listening on 127.0.0.1 with an ephemeral port. Throws std::system_error.
Socket listenOnLoopback(unsigned short& port);
// A UDP socket on 127.0.0.1 that wake() makes readable for good, so that every wait on it ends.
Socket makeWakeSocket();
void wake(Socket wakeSocket);

// NoSocket on failure.
Socket acceptConnection(Socket listener);
// Bytes moved, 0 at the end of the stream, below 0 on failure.
long receiveSome(Socket socket, char* buffer, std::size_t size);
long sendSome(Socket socket, const char* data, std::size_t size);
void shutdownSending(Socket socket);
void shutdownBoth(Socket socket);
void closeSocket(Socket socket);

enum class Wait { Ready, Woken, TimedOut };
// Waits until `socket` can be read (or written) or `wakeSocket` can be read; -1 waits for ever.
// Woken takes precedence over Ready.
Wait waitFor(Socket socket, bool forWriting, Socket wakeSocket, int timeoutMs);

// Whether this Windows program runs under Wine rather than Windows; false on Linux.
bool runningUnderWine();

// The code page the Windows store converts names and texts to (GetACP); 0 on Linux, whose store
// keeps UTF-8 as it is.
unsigned ansiCodePage();

// Sets a variable of the process environment; a null value removes it.
void setEnvironment(const char* name, const char* value);

} // namespace pellamark::testing::platform
