#include "Connection/ConnectionThreads.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <vector>

#include "Connection/CommandLoop.h"
#include "Connection/Dialect.h"
#include "Connection/Replies.h"
#include "core/Log.h"
#include "core/LoginGuard.h"
#include "core/Metrics.h"
#include "core/Options.h"
#include "core/Records.h"
#include "core/Slots.h"
#include "platform/Net.h"
#include "platform/System.h"
#include "platform/Tls.h"

namespace {

// A connection thread's stack: what the deepest command needs (a listing
// piece, a few paths and reply texts) with room to spare. Only the pages a
// thread touches take memory. Sanitized builds need several times more.
// Threads kept waiting for the next connection; more end when their connection does.
constexpr int MostIdleThreads = 32;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t ConnectionStackSize = 2 << 20;
#else
constexpr size_t ConnectionStackSize = 256 << 10;
#endif

// Connection threads. A thread that has served its connection waits for the
// next one instead of ending, so that a busy server does not pay for starting
// and ending a thread per connection. All of this is under SlotLock.
std::condition_variable threadDetached;      // a thread left its slot, or ended
std::condition_variable connectionArrived;   // idle threads wait on it
std::vector<ConnectionStart> arrivedConnections;
int idleThreads = 0;
int connectionThreads = 0;
bool threadsEnd = false;

// Under SlotLock: the thread leaves its slot, which may then be taken again;
// after this it touches no record of that connection.
void DetachLocked(const ConnectionStart& start) {
    ConnectionRecord& record = *Connection[start.Slot];
    if (start.Generation == record.Generation) record.Attached = false;
    threadDetached.notify_all();
}

void ConnectionThread(ConnectionStart start) {
    for (;;) {
        ConnectionInstanceProc(start);
        std::unique_lock<std::mutex> hold(SlotLock);
        DetachLocked(start);
        if (idleThreads >= MostIdleThreads && arrivedConnections.empty()) {
            // After a burst, the threads beyond a few end: an idle thread keeps its stack's pages.
            hold.unlock();
            TlsThreadEnd();
            hold.lock();
            --connectionThreads;
            threadDetached.notify_all();
            return;
        }
        ++idleThreads;
        connectionArrived.wait(hold, [] { return !arrivedConnections.empty() || threadsEnd; });
        --idleThreads;
        if (arrivedConnections.empty()) {  // shutdown
            hold.unlock();
            TlsThreadEnd();  // before shutdown may go on to the program's end
            hold.lock();
            --connectionThreads;
            threadDetached.notify_all();
            return;
        }
        start = arrivedConnections.back();
        arrivedConnections.pop_back();
    }
}

void ConnectionThreadBody(void* argument) {
    ConnectionStart start = *static_cast<ConnectionStart*>(argument);
    delete static_cast<ConnectionStart*>(argument);
    ConnectionThread(start);
}

// A free slot whose previous thread is gone, or a new one; -1 when all are busy.
int FindSlot() {
    int count = ConnectionCount.load();
    for (int i = 0; i < count; ++i)
        if (Connection[i]->InUsed.load() == 0 && !Connection[i]->Attached) return i;
    if (count >= Options.MaxConnections) return -1;
    Connection[count] = std::make_unique<ConnectionRecord>();
    Connection[count]->ID = count;
    ConnectionCount.store(count + 1);  // readers see the record before the count
    return count;
}

// Under SlotLock: how many connections in use come from the address.
int ConnectionsFromLocked(const NetAddress& peer) {
    int count = ConnectionCount.load();
    int from = 0;
    for (int i = 0; i < count; ++i)
        if (Connection[i]->InUsed.load() != 0 && SameHost(Connection[i]->Peer, peer)) ++from;
    return from;
}

// Sends a refusal line to a socket nobody will serve, and closes it.
void Refuse(int socket, std::string_view text) {
    Descriptor refused(socket);
    ConsoleEchoSent(socket, text);
    if (!NetSendAll(socket, text.data(), text.size(), -1).Ok()) ConsoleText("Send Error\r\n");
    NetShutdownReceive(socket);
}

}  // namespace

bool AdmitRelayedClient(int slot, int socket, const NetAddress& client) {
    std::string_view refusal;
    if (LoginsBarred(client, MonotonicMilliseconds())) refusal = Replies::TooManyFailedLogins;
    std::unique_lock<std::mutex> hold(SlotLock);
    // Counted before this connection takes the client's address.
    if (refusal.empty() && Options.MaxPerAddress > 0 && ConnectionsFromLocked(client) >= Options.MaxPerAddress)
        refusal = Replies::TooManyFromAddress;
    Connection[slot]->Peer = client;
    hold.unlock();
    if (refusal.empty()) return true;
    Count(Metrics.Refused[static_cast<int>(refusal == Replies::TooManyFromAddress ? Refusal::AddressLimit
                                                                                   : Refusal::FailedLogins)]);
    ConsoleEchoSent(socket, refusal);
    NetSendAll(socket, refusal.data(), refusal.size(), -1);
    return false;
}

int CreateConnection(int serverIndex, int socket, const NetAddress& peer) {
    // A balancer's connections are checked once its header names the client.
    bool relayed = InAddressBlocks(peer, Options.TrustedProxies);
    // SECURITY: an address that failed to log in too often recently is turned
    // away until those failures are old.
    if (!relayed && LoginsBarred(peer, MonotonicMilliseconds())) {
        Count(Metrics.Refused[static_cast<int>(Refusal::FailedLogins)]);
        Refuse(socket, Replies::TooManyFailedLogins);
        return -1;
    }
    std::unique_lock<std::mutex> hold(SlotLock);
    // SECURITY: one address may not take every slot (--max-per-address).
    if (!relayed && Options.MaxPerAddress > 0 && ConnectionsFromLocked(peer) >= Options.MaxPerAddress) {
        hold.unlock();
        Count(Metrics.Refused[static_cast<int>(Refusal::AddressLimit)]);
        Refuse(socket, Replies::TooManyFromAddress);
        return -1;
    }
    int slot = FindSlot();
    if (slot < 0) {
        hold.unlock();
        RefuseConnection(socket);
        return -1;
    }
    ConnectionRecord& record = *Connection[slot];
    Server[serverIndex]->OnlineConnections++;
    record.Socket = socket;
    record.ServerID = serverIndex;
    record.State = StateLoggedOut;
    record.UserID = -1;
    record.TickCount = 0;
    record.DataSocket = NoSocket;
    record.PassiveMode = 0;
    record.Peer = peer;
    record.HoldsPassivePort = false;
    record.TimedOut = false;
    if (++record.Generation == AnyGeneration) ++record.Generation;
    record.Attached = true;
    record.InUsed = 0xFF;
    ConnectionStart start{slot, record.Generation, socket, peer};
    Count(Metrics.Connections);
    if (idleThreads > static_cast<int>(arrivedConnections.size())) {
        arrivedConnections.push_back(start);
        hold.unlock();  // so that the thread woken below need not wait for the lock
        connectionArrived.notify_one();
        return slot;
    }
    ++connectionThreads;
    hold.unlock();  // starting a thread takes a while; nobody else needs to wait for it
    // Detached: shutdown waits for the threads to end instead.
    auto* argument = new ConnectionStart(start);
    if (!StartThread(ConnectionThreadBody, argument, ConnectionStackSize)) {
        delete argument;
        QuitOwn(slot, start.Generation);  // the socket stays open for the refusal
        hold.lock();
        --connectionThreads;
        DetachLocked(start);
        hold.unlock();
        RefuseConnection(socket);
        return -1;
    }
    return slot;
}

void RefuseConnection(int socket) {
    Count(Metrics.Refused[static_cast<int>(Refusal::ServerFull)]);
    Refuse(socket, Spoken().TooManyUsers);
}

void EndAllConnections() {
    QuitEveryConnection();
    int count = ConnectionCount.load();
    std::unique_lock<std::mutex> hold(SlotLock);
    // After detaching, a thread touches no record any more.
    threadDetached.wait(hold, [count] {
        for (int i = 0; i < count; ++i)
            if (Connection[i]->Attached) return false;
        return true;
    });
    threadsEnd = true;
    connectionArrived.notify_all();
    threadDetached.wait(hold, [] { return connectionThreads == 0; });
}
