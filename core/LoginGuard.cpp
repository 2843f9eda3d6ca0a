#include "core/LoginGuard.h"

#include <cstring>
#include <mutex>
#include <unordered_map>

namespace {

struct Counts {
    int Failures = 0;
    int Abandoned = 0;
    int64_t Last = 0;  // the last failure or abandoned attempt
};

// The host part that identifies a client: 4 bytes of IPv4, 8 of IPv6.
uint64_t HostKey(const NetAddress& client) {
    NetAddress host = Unmapped(client);
    uint64_t key = 0;
    if (host.IsIPv4()) {
        std::memcpy(&key, host.Bytes, 4);
        return key | (uint64_t{1} << 63);  // apart from every IPv6 network's key
    }
    std::memcpy(&key, host.Bytes, 8);
    return key & ~(uint64_t{1} << 63);
}

std::mutex guardLock;
std::unordered_map<uint64_t, Counts> recent;

// Under guardLock: the address's counts, or null; an expired entry is removed.
Counts* FindLocked(uint64_t key, int64_t now) {
    auto found = recent.find(key);
    if (found == recent.end()) return nullptr;
    if (now - found->second.Last >= LoginMemoryMs) {
        recent.erase(found);
        return nullptr;
    }
    return &found->second;
}

// Under guardLock: the address's counts, made when missing.
Counts& EntryLocked(uint64_t key, int64_t now) {
    if (Counts* counts = FindLocked(key, now)) return *counts;
    if (recent.size() >= static_cast<size_t>(LoginGuardCapacity)) {
        auto oldest = recent.begin();
        for (auto i = recent.begin(); i != recent.end(); ++i)
            if (i->second.Last < oldest->second.Last) oldest = i;
        recent.erase(oldest);
    }
    return recent[key];
}

}  // namespace

void NoteLoginFailure(const NetAddress& client, int64_t now) {
    std::lock_guard<std::mutex> hold(guardLock);
    Counts& counts = EntryLocked(HostKey(client), now);
    ++counts.Failures;
    counts.Last = now;
}

void NoteLoginAbandoned(const NetAddress& client, int64_t now) {
    std::lock_guard<std::mutex> hold(guardLock);
    Counts& counts = EntryLocked(HostKey(client), now);
    ++counts.Abandoned;
    counts.Last = now;
}

bool LoginsBarred(const NetAddress& client, int64_t now) {
    std::lock_guard<std::mutex> hold(guardLock);
    if (recent.empty()) return false;
    const Counts* counts = FindLocked(HostKey(client), now);
    return counts != nullptr && counts->Failures >= FailuresBeforeBar;
}

bool LoginAnswersWait(const NetAddress& client, int64_t now) {
    std::lock_guard<std::mutex> hold(guardLock);
    const Counts* counts = FindLocked(HostKey(client), now);
    return counts != nullptr && counts->Abandoned >= AbandonedBeforeWaits;
}

void ForgetLogins() {
    std::lock_guard<std::mutex> hold(guardLock);
    recent.clear();
}
