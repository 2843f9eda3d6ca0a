#include "Manager/Manager.h"

#include "core/Slots.h"
#include "core/Options.h"
#include "core/Records.h"
#include "platform/System.h"

std::thread ManagerThread;

int IdleLimit() { return Options.IdleTimeout; }

void ManagerPass() {
    int count = ConnectionCount.load();
    for (int i = 0; i < count; ++i) {
        ConnectionRecord& slot = *Connection[i];
        // Read before aging: should the slot change hands meanwhile, the Quit
        // below names the old connection and leaves the new one alone.
        uint32_t generation = SlotGeneration(i);
        if (slot.InUsed.load() != 0 && slot.TickCount.fetch_add(1) + 1 > IdleLimit()) Quit(i, generation);
    }
}

void ManagerInstanceProc() {
    while (FTPOK) {
        ManagerPass();
        if (WakeWait(StopEvent, 1000)) return;
    }
}
