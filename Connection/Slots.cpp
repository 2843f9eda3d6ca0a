#include "Connection/Slots.h"

#include <condition_variable>
#include <mutex>
#include <system_error>

#include "Connection/CommandLoop.h"
#include "Connection/Replies.h"
#include "core/Console.h"
#include "core/Records.h"
#include "platform/Net.h"
#include "platform/System.h"

namespace {

std::condition_variable threadDetached;

// A free slot whose previous thread is gone, or a new one; -1 when all are busy.
int FindSlot() {
    int count = ConnectionCount.load();
    for (int i = 0; i < count; ++i)
        if (Connection[i]->InUsed.load() == 0 && !Connection[i]->Attached) return i;
    if (count == ConnectionCapacity) return -1;
    Connection[count] = std::make_unique<ConnectionRecord>();
    Connection[count]->ID = count;
    ConnectionCount.store(count + 1);  // readers see the record before the count
    return count;
}

}  // namespace

int CreateConnection(int serverIndex, int socket) {
    int wakeFd = WakeCreate();
    std::unique_lock<std::mutex> hold(SlotLock);
    int slot = wakeFd < 0 ? -1 : FindSlot();
    if (slot < 0) {
        hold.unlock();
        WakeClose(wakeFd);
        RefuseConnection(socket);
        return -1;
    }
    ConnectionRecord& record = *Connection[slot];
    if (record.Thread.joinable()) record.Thread.join();  // it has detached: only its return is left
    Server[serverIndex]->OnlineConnections++;
    record.Socket = socket;
    record.ServerID = serverIndex;
    record.State = StateLoggedOut;
    record.UserID = -1;
    record.TickCount = 0;
    record.RenameFrom[0] = '\0';
    record.DataIP[0] = '\0';
    record.DataPort = 0;
    record.DataSocket = NoSocket;
    record.PassiveMode = 0;
    if (++record.Generation == AnyGeneration) ++record.Generation;
    record.WakeFd = wakeFd;
    record.Attached = true;
    record.InUsed = 0xFF;
    try {
        record.Thread = std::thread(ConnectionInstanceProc, ConnectionStart{slot, record.Generation, socket, wakeFd});
    } catch (const std::system_error&) {
        record.InUsed = 0;
        record.Attached = false;
        record.WakeFd = -1;
        Server[serverIndex]->OnlineConnections--;
        hold.unlock();
        WakeClose(wakeFd);
        RefuseConnection(socket);
        return -1;
    }
    return slot;
}

void Quit(int slot, uint32_t generation) {
    std::lock_guard<std::mutex> hold(SlotLock);
    if (slot < 0 || slot >= ConnectionCount.load()) return;
    ConnectionRecord& record = *Connection[slot];
    if (generation != AnyGeneration && generation != record.Generation) return;
    if (record.InUsed.load() == 0) return;  // already ended: nothing is counted twice
    Server[record.ServerID]->OnlineConnections--;
    if (record.State.load() != StateLoggedOut) User[record.UserID]->OnlineConnections--;
    record.InUsed = 0;
    // The owner thread leaves any wait at once and closes the sockets itself.
    if (record.WakeFd >= 0) WakeSignal(record.WakeFd);
}

uint32_t SlotGeneration(int slot) {
    std::lock_guard<std::mutex> hold(SlotLock);
    return Connection[slot]->Generation;
}

void RefuseConnection(int socket) {
    Send(socket, Replies::TooManyUsers);
    NetShutdownReceive(socket);
    NetClose(socket);
}

void DetachConnection(int slot, uint32_t generation) {
    std::lock_guard<std::mutex> hold(SlotLock);
    ConnectionRecord& record = *Connection[slot];
    if (generation != record.Generation) return;
    record.Attached = false;
    record.WakeFd = -1;
    threadDetached.notify_all();
}

void EndAllConnections() {
    int count = ConnectionCount.load();
    for (int i = 0; i < count; ++i) Quit(i);
    std::unique_lock<std::mutex> hold(SlotLock);
    threadDetached.wait(hold, [count] {
        for (int i = 0; i < count; ++i)
            if (Connection[i]->Attached) return false;
        return true;
    });
    for (int i = 0; i < count; ++i)
        if (Connection[i]->Thread.joinable()) Connection[i]->Thread.join();
}

bool Send(int socket, std::string_view text, int wakeFd) {
    ConsolePrintf(">>%d:%.*s", socket, static_cast<int>(text.size()), text.data());
    if (NetSendAll(socket, text.data(), text.size(), wakeFd)) return true;
    ConsoleText("Send Error\r\n");
    return false;
}

bool SendEx(int socket, const void* data, size_t length, int wakeFd) {
    return NetSendAll(socket, data, length, wakeFd);
}
