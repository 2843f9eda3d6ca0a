#include "Server/Server.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "Connection/Slots.h"
#include "Manager/Manager.h"
#include "core/Console.h"
#include "core/Records.h"
#include "platform/Net.h"
#include "platform/System.h"

namespace {

// Room for a burst of clients: when the queue is full the kernel drops their
// handshakes and they wait seconds for a retransmission.
constexpr int ListenBacklog = 128;
constexpr int FirstRestartPause = 100;  // milliseconds; doubled after each failure in a row
constexpr int LongestRestartPause = 3200;

constexpr int NoSocketYet = -2;  // a restart found no descriptor free: try again later

// Opens the server's listening socket; NoSocket (after its message) on failure.
// On a restart, a socket that cannot be created yet is NoSocketYet instead: the
// shortage that failed the accept may still last, and a listener that ended on
// it would leave its server without one for good.
int OpenListener(ServerRecord& server, bool restart) {
    int fd = NetTcpSocket();
    server.Socket = fd;
    if (fd < 0 && restart) return NoSocketYet;
    if (fd < 0) {
        ConsoleText("Thread Closed.Create socket error\n");
        return NoSocket;
    }
    NetSetReuseAddress(fd);
    // With address reuse on, a port another socket holds may be refused at
    // listen instead of bind; it is the same fault either way.
    bool bound = NetBind(fd, 0, static_cast<uint16_t>(server.Port));
    bool listening = bound && NetListen(fd, ListenBacklog);
    if (!listening) {
        ConsoleText(!bound || NetAddressInUse() ? "Thread Closed. Bind socket error\n"
                                                : "Thread Closed.listen socket error\n");
        NetClose(fd);
        return NoSocket;
    }
    return fd;
}

}  // namespace

namespace {

// Accepts and admits connections until accepting fails (the result: NetFailed,
// or NetWoken at shutdown). Every admitted connection resets the restart pause.
long AcceptConnections(int serverIndex, int listener, int* pause) {
    ServerRecord& server = *Server[serverIndex];
    while (FTPOK) {
        long accepted = NetAccept(listener, nullptr, StopEvent);
        if (accepted < 0) return accepted;
        *pause = FirstRestartPause;
        int socket = static_cast<int>(accepted);
        NetSendWithoutDelay(socket);  // a control connection: replies go out at once
        if (server.OnlineConnections.load() < server.MaxConnections) CreateConnection(serverIndex, socket);
        else RefuseConnection(socket);
    }
    return NetWoken;
}

}  // namespace

void ListenInstanceProc(int serverIndex) {
    ServerRecord& server = *Server[serverIndex];
    server.Thread = CurrentThreadId();
    int pause = FirstRestartPause;
    for (bool restart = false;; restart = true) {
        int listener = OpenListener(server, restart);
        if (listener == NoSocket) return;
        if (listener != NoSocketYet) {
            long failure = AcceptConnections(serverIndex, listener, &pause);
            NetClose(listener);
            if (!FTPOK || failure == NetWoken) return;
            ConsolePrintf("%d Server Socket %d error. Restart it.\n", serverIndex, listener);
        }
        // Accept errors such as running out of descriptors last a while: wait
        // before each new socket, longer after each failure in a row.
        if (WakeWait(StopEvent, pause)) return;
        pause = std::min(pause * 2, LongestRestartPause);
    }
}

bool InitServer() {
    for (int i = 0; i < ServerCount; ++i) {
        ServerRecord& server = *Server[i];
        if (server.State != 1) continue;
        server.OnlineConnections = 0;
        server.State = 0;
        try {
            server.Listener = std::thread(ListenInstanceProc, i);
        } catch (const std::system_error&) {
            ConsoleText("Create Server Thread failed.\n");
            break;
        }
    }
    NetHostName(LocalHostName, sizeof LocalHostName);
    ConsolePrintf("Host Name: %s\n", LocalHostName);
    uint32_t address = 0;  // 0.0.0.0 when the name does not resolve
    if (!NetHostAddress(LocalHostName, &address)) address = 0;
    std::memcpy(LocalIP, &address, sizeof LocalIP);
    ConsolePrintf("Local IP: %d.%d.%d.%d\n", LocalIP[0], LocalIP[1], LocalIP[2], LocalIP[3]);
    return true;
}

void CloseServer() {
    for (int i = 0; i < ServerCount; ++i)
        if (Server[i]->Listener.joinable()) Server[i]->Listener.join();
    EndAllConnections();
    if (ManagerThread.joinable()) ManagerThread.join();
    // No thread is left that could reach a record.
    for (auto& slot : Connection) slot.reset();
    ConnectionCount = 0;
    for (auto& server : Server) server.reset();
    for (auto& user : User) user.reset();
}
