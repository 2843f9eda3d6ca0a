#include "core/TransferView.h"

#include <mutex>

#include "core/Log.h"
#include "core/Records.h"
#include "platform/Net.h"

namespace {

int64_t Average(int64_t moved, int64_t elapsed) { return elapsed > 0 ? moved * 1000 / elapsed : moved; }

}  // namespace

std::string TransferFields(const ConnectionRecord& record, int64_t now) {
    int64_t moved = record.TransferMoved.load(std::memory_order_relaxed);
    int64_t size = record.TransferSize.load(std::memory_order_relaxed);
    int64_t elapsed = now - record.TransferStart.load(std::memory_order_relaxed);
    std::string fields;
    AppendFormat(fields, "%lld", static_cast<long long>(moved));
    if (size >= 0) AppendFormat(fields, " of %lld", static_cast<long long>(size));
    AppendFormat(fields, " bytes, %lld B/s in the last second, %lld B/s since the start, %lld.%01lld s",
                 static_cast<long long>(record.TransferLastSecond.load(std::memory_order_relaxed)),
                 static_cast<long long>(Average(moved, elapsed)), static_cast<long long>(elapsed / 1000),
                 static_cast<long long>(elapsed % 1000 / 100));
    return fields;
}

std::string TransferTable() {
    std::string table;
    int64_t now = MonotonicMilliseconds();
    int count = ConnectionCount.load();
    std::lock_guard<std::mutex> hold(SlotLock);  // the command and the client's address
    for (int i = 0; i < count; ++i) {
        const ConnectionRecord& slot = *Connection[i];
        if (slot.InUsed.load() == 0 || slot.TransferStart.load() == 0) continue;
        int user = slot.UserID.load();
        char client[64];
        FormatAddress(slot.Peer, client, sizeof client);
        if (table.empty())
            AppendFormat(table, "%-6s %-15s %-40s %-30s %s\n", "Socket", "Account", "Client", "Command", "Progress");
        AppendFormat(table, "%-6d %-15s %-40s %-30s %s\n", slot.Socket.load(), user >= 0 ? User[user]->Name : "",
                     client, EscapedForConsole(slot.TransferCommand).c_str(), TransferFields(slot, now).c_str());
    }
    return table.empty() ? "no transfers\n" : table;
}

void SampleTransferRates(ConnectionRecord& record) {
    int64_t start = record.TransferStart.load(std::memory_order_relaxed);
    int64_t moved = record.TransferMoved.load(std::memory_order_relaxed);
    if (start != record.SeenStart) record.SeenMoved = 0;  // another transfer since the last look
    record.SeenStart = start;
    record.TransferLastSecond.store(moved - record.SeenMoved, std::memory_order_relaxed);
    record.SeenMoved = moved;
}
