// What the server counts for Prometheus (--metrics): relaxed atomic counters
// that the command and transfer loops bump without a lock, and the text the
// scrape gets (the exposition format 0.0.4), with the gauges read at scrape.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

enum class Refusal { ServerFull, AddressLimit, FailedLogins, Count };
enum class TransferResult { Complete, Aborted, Failed, Count };
constexpr int MetricCommandRows = 64;  // the command table may not outgrow it (a check there says so)

struct MetricCounters {
    std::atomic<uint64_t> Connections{0};
    std::atomic<uint64_t> Refused[static_cast<int>(Refusal::Count)] = {};
    std::atomic<uint64_t> Logins[2] = {};  // failed, ok
    std::atomic<uint64_t> Commands[MetricCommandRows] = {};  // by the command table's row
    std::atomic<uint64_t> Transfers[2][static_cast<int>(TransferResult::Count)] = {};  // upload, download
    std::atomic<uint64_t> TransferBytes[2] = {};
    std::atomic<uint64_t> TlsHandshakes[2] = {};  // failed, ok
};

extern MetricCounters Metrics;

inline void Count(std::atomic<uint64_t>& counter, uint64_t by = 1) { counter.fetch_add(by, std::memory_order_relaxed); }

// Names the command table's rows for the commands counter: keyword(i) for
// each row below count (set once at start by the command layer).
void NameCommands(const char* (*keyword)(int row), int count);

// The whole scrape: every counter, the connections of each server, and the process's own figures.
std::string RenderMetrics();
