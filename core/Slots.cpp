#include "core/Slots.h"

#include <mutex>

#include "core/Records.h"
#include "platform/Net.h"

namespace {

void End(int slot, uint32_t generation, bool wake) {
    std::lock_guard<std::mutex> hold(SlotLock);
    if (slot < 0 || slot >= ConnectionCount.load()) return;
    ConnectionRecord& record = *Connection[slot];
    if (generation != AnyGeneration && generation != record.Generation) return;
    if (record.InUsed.load() == 0) return;  // already ended: nothing is counted twice
    Server[record.ServerID]->OnlineConnections--;
    if (record.State.load() != StateLoggedOut) User[record.UserID]->OnlineConnections--;
    record.InUsed = 0;
    // Every wait of the connection's thread watches its control connection:
    // shut down, it wakes the thread, which closes the sockets itself. The
    // socket is still open: its thread closes it only after its own End.
    if (wake) NetShutdown(record.Socket.load());
}

}  // namespace

void Quit(int slot, uint32_t generation) { End(slot, generation, true); }

void QuitOwn(int slot, uint32_t generation) { End(slot, generation, false); }

void QuitEveryConnection() {
    int count = ConnectionCount.load();
    for (int i = 0; i < count; ++i) Quit(i);
}

uint32_t SlotGeneration(int slot) {
    std::lock_guard<std::mutex> hold(SlotLock);
    return Connection[slot]->Generation;
}
