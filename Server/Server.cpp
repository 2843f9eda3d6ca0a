#include "Server/Server.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <condition_variable>
#include <mutex>
#include <atomic>
#include <cstring>
#include <system_error>

#include "Connection/ConnectionThreads.h"
#include "Connection/Dialect.h"
#include "Server/Manager.h"
#include "core/Config.h"
#include "core/Log.h"
#include "core/Options.h"
#include "core/Records.h"
#include "platform/Net.h"
#include "platform/System.h"

namespace {

// Room for a burst of clients: when the queue is full the kernel drops their
// handshakes and they wait seconds for a retransmission, or half a minute when
// only the handshake's last packet was dropped and the client, sure it is
// connected, waits for a greeting. Under a thousand busy clients the listener
// gets a thread's share of the CPU, so the queue must hold them all; the
// kernel cuts this to net.core.somaxconn.
constexpr int ListenBacklog = 4096;
constexpr int FirstRestartPause = 100;  // milliseconds; doubled after each failure in a row
constexpr int LongestRestartPause = 3200;
constexpr int FirstShortagePause = 10;  // milliseconds; doubled while accepting finds no descriptor
constexpr int LongestShortagePause = 1000;

enum class ListenerStart { Listening, Failed, NoSocketYet };

// Opens the server's listening socket; Failed (after its message) when it
// cannot. On a restart, a socket that cannot be created yet is NoSocketYet
// instead: the shortage that failed the accept may still last, and a listener
// that ended on it would leave its server without one for good.
// With the extensions a listener takes IPv6 and IPv4 on one dual-stack
// socket, or IPv4 alone where the host has no IPv6 (said once).
AddressFamily ListenerFamily() {
    static std::atomic<bool> ipv6Missing{false};
    if (Options.ListenAddress.Family != AddressFamily::None) return Options.ListenAddress.Family;
    if (!Spoken().DualStack || ipv6Missing) return AddressFamily::IPv4;
    Descriptor probe = NetTcpSocket(AddressFamily::IPv6);
    if (probe.IsOpen() && NetSetDualStack(probe.Get())) return AddressFamily::IPv6;
    if (!ipv6Missing.exchange(true)) ConsoleText("IPv6 is not available: listening on IPv4 only.\n");
    return AddressFamily::IPv4;
}

// The listeners' first binds, which start-up may wait for (to drop its
// privileges once every port is bound), and why those that failed did.
std::mutex startLock;
std::condition_variable listenerTried;
int listenersUntried = 0;
int listenersBound = 0;
std::string bindFaults;  // one line per listener that could not bind

// Why a listener's bind failed, for --verbose and for a service that stops
// because none could bind.
std::string BindFault(const NetAddress& local, int error) {
    char address[64];
    FormatAddress(local, address, sizeof address);
    return std::string(address) + " port " + std::to_string(local.Port) + ": " + std::strerror(error);
}


ListenerStart OpenListener(const ServerRecord& server, bool restart, Descriptor* listener) {
    AddressFamily family = ListenerFamily();
    Descriptor socket = NetTcpSocket(family);
    server.Socket = socket.Get();
    if (!socket.IsOpen() && restart) return ListenerStart::NoSocketYet;
    if (!socket.IsOpen()) {
        int error = errno;
        if (Options.Verbose)
            ConsolePrintf("Thread Closed.Create socket error\nA socket for port %d: %s\n", server.Port,
                          std::strerror(error));
        else
            ConsoleText("Thread Closed.Create socket error\n");
        return ListenerStart::Failed;
    }
    NetSetReuseAddress(socket.Get());
    NetSendWithoutDelay(socket.Get());  // for the connections it accepts: replies go out at once
    NetUrgentInline(socket.Get());      // and ABOR's Telnet synch stays in the stream
    bool anyAddress = Options.ListenAddress.Family == AddressFamily::None;
    if (family == AddressFamily::IPv6 && anyAddress) NetSetDualStack(socket.Get());
    NetAddress local = anyAddress ? AnyAddress(family) : Options.ListenAddress;  // --listen: that address only
    local.Port = static_cast<uint16_t>(server.Port);
    // With address reuse on, a port another socket holds may be refused at
    // listen instead of bind; it is the same fault either way.
    NetStatus status = NetBind(socket.Get(), local);
    bool bound = status == NetStatus::Ok;
    if (bound) status = NetListen(socket.Get(), ListenBacklog);
    if (status != NetStatus::Ok) {
        std::string fault = BindFault(local, errno);
        std::string lines = !bound || status == NetStatus::AddressInUse ? "Thread Closed. Bind socket error\n"
                                                                        : "Thread Closed.listen socket error\n";
        if (Options.Verbose) lines += "Listening on " + fault + "\n";  // with its failure line, whole
        ConsoleText(lines.c_str());
        std::lock_guard<std::mutex> hold(startLock);
        bindFaults += fault + "\n";
        return ListenerStart::Failed;
    }
    *listener = std::move(socket);
    return ListenerStart::Listening;
}

// Accepts and admits connections until accepting fails (the result: Failed,
// with its errno in *error, or Woken at shutdown). Every admitted connection
// resets the restart pause.
NetStatus AcceptConnections(int serverIndex, int listener, int* pause, int* error) {
    const ServerRecord& server = *Server[serverIndex];
    int shortagePause = 0;
    while (FTPOK) {
        Descriptor accepted;
        NetAddress peer;
        // Blocking: its thread sleeps in a receive between commands.
        NetStatus status = NetAccept(listener, StopEvent, &accepted, &peer, true);
        if (status == NetStatus::Failed) *error = errno;
        if (status == NetStatus::Exhausted) {
            // SECURITY: out of descriptors or memory, the listening socket is
            // kept: closed, its port would be free for anyone on the host to
            // take. Accepting pauses, longer while the shortage lasts, and
            // goes on once connections have ended.
            if (shortagePause == 0) ConsolePrintf("%d Server Socket %d: out of descriptors, accepting paused.\n", serverIndex, listener);
            shortagePause = std::min(std::max(shortagePause * 2, FirstShortagePause), LongestShortagePause);
            if (WakeWait(StopEvent, shortagePause)) return NetStatus::Woken;
            continue;
        }
        if (status != NetStatus::Ok) return status;
        shortagePause = 0;
        *pause = FirstRestartPause;
        if (server.OnlineConnections.load() < server.MaxConnections) CreateConnection(serverIndex, accepted.Release(), Unmapped(peer));
        else RefuseConnection(accepted.Release());
    }
    return NetStatus::Woken;
}


void ListenerTried(bool bound) {
    std::lock_guard<std::mutex> hold(startLock);
    --listenersUntried;
    if (bound) ++listenersBound;
    listenerTried.notify_all();
}

}  // namespace

std::string ListenerFaults() {
    std::lock_guard<std::mutex> hold(startLock);
    return bindFaults;
}

int WaitForListeners() {
    std::unique_lock<std::mutex> hold(startLock);
    listenerTried.wait(hold, [] { return listenersUntried <= 0; });
    return listenersBound;
}

void ListenInstanceProc(int serverIndex) {
    const ServerRecord& server = *Server[serverIndex];
    server.Thread = CurrentThreadId();
    int pause = FirstRestartPause;
    for (bool restart = false;; restart = true) {
        Descriptor listener;
        ListenerStart start = OpenListener(server, restart, &listener);
        if (!restart) ListenerTried(start == ListenerStart::Listening);
        if (start == ListenerStart::Failed) return;
        if (start == ListenerStart::Listening) {
            int error = 0;
            NetStatus failure = AcceptConnections(serverIndex, listener.Get(), &pause, &error);
            int number = listener.Get();
            listener.Reset();
            if (!FTPOK || failure == NetStatus::Woken) return;
            if (Options.Verbose)
                ConsolePrintf("%d Server Socket %d error. Restart it.\nAccepting on port %d: %s\n", serverIndex, number,
                              server.Port, std::strerror(error));
            else
                ConsolePrintf("%d Server Socket %d error. Restart it.\n", serverIndex, number);
        }
        // Accept errors such as running out of descriptors last a while: wait
        // before each new socket, longer after each failure in a row.
        if (WakeWait(StopEvent, pause)) return;
        pause = std::min(pause * 2, LongestRestartPause);
    }
}

// Empties the tables, starts the idle supervisor and reads ./config (or
// --config's file). False
// (after its console line) when the program cannot start.
bool InitProgram() {
    EmptyTables();
    FTPOK = true;
    StopEvent = WakeCreate();
    if (StopEvent < 0) return false;
    try {
        ManagerThread = std::thread(ManagerInstanceProc);
    } catch (const std::system_error&) {
        return false;
    }
    // The host's name and address, shown once the listeners start, looked up
    // now (a sandbox may keep the resolver's files closed later): 0.0.0.0
    // when the name does not resolve.
    NetHostName(LocalHostName, sizeof LocalHostName);
    if (!NetHostAddress(LocalHostName, &LocalIP)) LocalIP = AnyAddress(AddressFamily::IPv4);
    if (!LoadConfig(Options.ConfigFile.c_str())) {
        ConsoleText("Load Data false...");
        return false;
    }
    return true;
}

void AbandonStart() {
    FTPOK = false;
    if (StopEvent >= 0) WakeSignal(StopEvent);
    if (ManagerThread.joinable()) ManagerThread.join();
}

bool InitServer() {
    for (int i = 0; i < ServerCount; ++i) {
        const ServerRecord& server = *Server[i];
        if (server.State != 1) continue;
        server.OnlineConnections = 0;
        server.State = 0;
        {
            std::lock_guard<std::mutex> hold(startLock);
            ++listenersUntried;
        }
        try {
            server.Listener = std::thread(ListenInstanceProc, i);
        } catch (const std::system_error&) {
            ListenerTried(false);
            ConsoleText("Create Server Thread failed.\n");
            break;
        }
    }
    ConsolePrintf("Host Name: %s\n", LocalHostName);
    char address[64];
    FormatAddress(LocalIP, address, sizeof address);
    ConsolePrintf("Local IP: %s\n", address);
    return true;
}

void CloseServer() {
    for (int i = 0; i < ServerCount; ++i)
        if (Server[i]->Listener.joinable()) Server[i]->Listener.join();
    EndAllConnections();
    if (ManagerThread.joinable()) ManagerThread.join();
    EmptyTables();  // no thread is left that could reach a record
}
