#include "core/Slots.h"

#include <mutex>

#include "core/Records.h"
#include "platform/System.h"

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

void QuitEveryConnection() {
    int count = ConnectionCount.load();
    for (int i = 0; i < count; ++i) Quit(i);
}

uint32_t SlotGeneration(int slot) {
    std::lock_guard<std::mutex> hold(SlotLock);
    return Connection[slot]->Generation;
}
