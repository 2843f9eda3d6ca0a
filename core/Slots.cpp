#include "core/Slots.h"

#include <mutex>

#include "core/Records.h"
#include "platform/Net.h"

namespace {

enum class Wake : uint8_t { No, Fully, ForGoodbye };

void End(int slot, uint32_t generation, Wake wake) {
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
    // Woken for a goodbye, only its receiving side is shut: the thread still
    // sends its last reply.
    record.TimedOut = wake == Wake::ForGoodbye;
    if (wake == Wake::Fully) NetShutdown(record.Socket.load());
    if (wake == Wake::ForGoodbye) NetShutdownReceive(record.Socket.load());
}

}  // namespace

void Quit(int slot, uint32_t generation) { End(slot, generation, Wake::Fully); }

void QuitOwn(int slot, uint32_t generation) { End(slot, generation, Wake::No); }

void QuitForSilence(int slot, uint32_t generation, bool goodbye) {
    End(slot, generation, goodbye ? Wake::ForGoodbye : Wake::Fully);
}

void QuitEveryConnection() {
    int count = ConnectionCount.load();
    for (int i = 0; i < count; ++i) Quit(i);
}

uint32_t SlotGeneration(int slot) {
    std::lock_guard<std::mutex> hold(SlotLock);
    return Connection[slot]->Generation;
}
