// A desktop session manager for the desktop tests: it speaks the X session management protocol to
// the programs that connect and is driven line by line on its standard input.
//
// Prints the address for SESSION_MANAGER on its first line, then one line per event:
//   registered <client id> | save-done <0|1> | interact-request | phase2-request | closed
// Commands (each to every connected client):
//   checkpoint        a session save that does not end the session
//   logout            a session save that ends it, should nobody object
//   cancel            the logout is called off
//   complete          the save is over
//   die               the session ends
//   quit              this program ends
#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>

#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<SmsConn> g_clients;
std::vector<IceConn> g_connections;

[[gnu::format(printf, 1, 2)]] void say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::putchar('\n');
    std::fflush(stdout);
}

Status registerClient(SmsConn client, SmPointer, char* previousId) {
    char* id = SmsGenerateClientID(client);
    if (previousId != nullptr)
        std::free(previousId);
    if (id == nullptr)
        return 0;
    const Status status = SmsRegisterClientReply(client, id);
    say("registered %s", id);
    std::free(id);
    return status;
}

void interactRequest(SmsConn client, SmPointer, int) {
    say("interact-request");
    SmsInteract(client);
}

void interactDone(SmsConn, SmPointer, Bool) {}

void saveYourselfRequest(SmsConn, SmPointer, int, Bool, int, Bool, Bool) {}

void phase2Request(SmsConn client, SmPointer) {
    say("phase2-request");
    SmsSaveYourselfPhase2(client);
}

void saveYourselfDone(SmsConn, SmPointer, Bool success) {
    say("save-done %d", success ? 1 : 0);
}

void closeConnection(SmsConn client, SmPointer, int count, char** reasons) {
    SmFreeReasons(count, reasons);
    say("closed");
    IceConn connection = SmsGetIceConnection(client);
    std::erase(g_clients, client);
    std::erase(g_connections, connection);
    SmsCleanUp(client);
    IceSetShutdownNegotiation(connection, False);
    IceCloseConnection(connection);
}

void setProperties(SmsConn, SmPointer, int count, SmProp** properties) {
    for (int i = 0; i < count; ++i)
        SmFreeProperty(properties[i]);
    std::free(properties);
}

void deleteProperties(SmsConn, SmPointer, int count, char** names) {
    for (int i = 0; i < count; ++i)
        std::free(names[i]);
    std::free(names);
}

void getProperties(SmsConn client, SmPointer) {
    SmsReturnProperties(client, 0, nullptr);
}

Status newClient(SmsConn client, SmPointer, unsigned long* mask, SmsCallbacks* callbacks, char**) {
    std::memset(callbacks, 0, sizeof *callbacks);
    callbacks->register_client.callback = registerClient;
    callbacks->interact_request.callback = interactRequest;
    callbacks->interact_done.callback = interactDone;
    callbacks->save_yourself_request.callback = saveYourselfRequest;
    callbacks->save_yourself_phase2_request.callback = phase2Request;
    callbacks->save_yourself_done.callback = saveYourselfDone;
    callbacks->close_connection.callback = closeConnection;
    callbacks->set_properties.callback = setProperties;
    callbacks->delete_properties.callback = deleteProperties;
    callbacks->get_properties.callback = getProperties;
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
            SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask |
            SmsSaveYourselfDoneProcMask | SmsCloseConnectionProcMask | SmsSetPropertiesProcMask |
            SmsDeletePropertiesProcMask | SmsGetPropertiesProcMask;
    g_clients.push_back(client);
    return 1;
}

// A client gone is seen by the message loop below; the library's own handler would end this
// program.
void ignoreIoError(IceConn) {}

// Only local programs of the test reach the listening sockets.
Bool anyHost(char*) {
    return True;
}

void command(const std::string& line) {
    for (SmsConn client : std::vector<SmsConn>(g_clients)) {
        if (line == "checkpoint")
            SmsSaveYourself(client, SmSaveBoth, False, SmInteractStyleAny, False);
        else if (line == "logout")
            SmsSaveYourself(client, SmSaveBoth, True, SmInteractStyleAny, False);
        else if (line == "cancel")
            SmsShutdownCancelled(client);
        else if (line == "complete")
            SmsSaveComplete(client);
        else if (line == "die")
            SmsDie(client);
    }
    for (IceConn connection : g_connections)
        IceFlush(connection);
}

} // namespace

int main() {
    std::signal(SIGPIPE, SIG_IGN);
    IceSetIOErrorHandler(ignoreIoError);
    char error[256] = {};
    if (!SmsInitialize("Pellamark tests", "1.0", newClient, nullptr, anyHost, sizeof error,
                       error)) {
        std::fprintf(stderr, "session manager: %s\n", error);
        return 1;
    }
    int count = 0;
    IceListenObj* listeners = nullptr;
    if (!IceListenForConnections(&count, &listeners, sizeof error, error)) {
        std::fprintf(stderr, "session manager: %s\n", error);
        return 1;
    }
    for (int i = 0; i < count; ++i)
        IceSetHostBasedAuthProc(listeners[i], anyHost);
    char* address = IceComposeNetworkIdList(count, listeners);
    say("%s", address);
    std::free(address);

    std::string pending;
    while (true) {
        std::vector<pollfd> fds;
        fds.push_back({STDIN_FILENO, POLLIN, 0});
        for (int i = 0; i < count; ++i)
            fds.push_back({IceGetListenConnectionNumber(listeners[i]), POLLIN, 0});
        for (IceConn connection : g_connections)
            fds.push_back({IceConnectionNumber(connection), POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0)
            continue;
        if (fds[0].revents != 0) {
            char buffer[256];
            const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0)
                return 0;
            pending.append(buffer, static_cast<std::size_t>(got));
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (line == "quit")
                    return 0;
                command(line);
            }
        }
        for (int i = 0; i < count; ++i) {
            if (fds[1 + static_cast<std::size_t>(i)].revents == 0)
                continue;
            IceAcceptStatus accepted;
            IceConn connection = IceAcceptConnection(listeners[i], &accepted);
            if (connection == nullptr)
                continue;
            IceConnectStatus status;
            while ((status = IceConnectionStatus(connection)) == IceConnectPending) {
                if (IceProcessMessages(connection, nullptr, nullptr) == IceProcessMessagesIOError)
                    break;
            }
            if (status == IceConnectAccepted)
                g_connections.push_back(connection);
            else
                IceCloseConnection(connection);
        }
        for (std::size_t i = 1 + static_cast<std::size_t>(count); i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            const std::size_t before = g_connections.size();
            const IceConn connection = g_connections[i - 1 - static_cast<std::size_t>(count)];
            if (IceProcessMessages(connection, nullptr, nullptr) == IceProcessMessagesIOError) {
                // Gone without a word.
                say("closed");
                for (SmsConn client : std::vector<SmsConn>(g_clients)) {
                    if (SmsGetIceConnection(client) == connection) {
                        std::erase(g_clients, client);
                        SmsCleanUp(client);
                    }
                }
                std::erase(g_connections, connection);
                IceSetShutdownNegotiation(connection, False);
                IceCloseConnection(connection);
            }
            if (g_connections.size() != before)
                break; // poll afresh
        }
    }
}
