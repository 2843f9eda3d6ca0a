#include "Server/Manager.h"

#include "core/Slots.h"
#include "core/Options.h"
#include "core/Records.h"
#include "core/TransferView.h"
#include "platform/System.h"

std::thread ManagerThread;

int IdleLimit() { return Options.IdleTimeout; }

namespace {

// The most connections in use since memory was last given back.
int busiest = 0;
// Connections that end in a burst leave their memory in the allocator's
// heaps: once at least this many have ended and half the busiest count is
// gone, it is given back.
constexpr int EndedBeforeTrim = 64;

void GiveBackAfterBurst(int inUse) {
    if (inUse > busiest) busiest = inUse;
    if (busiest - inUse < EndedBeforeTrim || inUse > busiest / 2) return;
    GiveBackFreeMemory();
    busiest = inUse;
}

}  // namespace

void ManagerPass() {
    int count = ConnectionCount.load();
    int inUse = 0;
    for (int i = 0; i < count; ++i) {
        ConnectionRecord& slot = *Connection[i];
        // Read before aging: should the slot change hands meanwhile, the Quit
        // below names the old connection and leaves the new one alone.
        uint32_t generation = SlotGeneration(i);
        if (slot.InUsed.load() == 0) continue;
        ++inUse;
        SampleTransferRates(slot);
        if (slot.TickCount.fetch_add(1) + 1 > IdleLimit()) QuitForSilence(i, generation, Options.Extensions);
    }
    GiveBackAfterBurst(inUse);
}

void ManagerInstanceProc() {
    while (FTPOK) {
        ManagerPass();
        if (WakeWait(StopEvent, 1000)) return;
    }
}
