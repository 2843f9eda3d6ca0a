#include "core/Metrics.h"

#include <cinttypes>
#include <cstdio>

#include "core/Records.h"
#include "platform/System.h"

MetricCounters Metrics;

namespace {

const char* (*commandKeyword)(int) = nullptr;
int commandCount = 0;

void Line(std::string& text, const char* name, const std::string& labels, uint64_t value) {
    text += name;
    if (!labels.empty()) text += "{" + labels + "}";
    text += " " + std::to_string(value) + "\n";
}

void Header(std::string& text, const char* name, const char* type, const char* help) {
    text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

// A label value with backslashes, quotes and line ends escaped, as the format asks.
std::string Quoted(const std::string& value) {
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '\\' || c == '"') quoted += '\\';
        if (c == '\n') quoted += "\\n";
        else quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

void NameCommands(const char* (*keyword)(int row), int count) {
    commandKeyword = keyword;
    commandCount = count < MetricCommandRows ? count : MetricCommandRows;
}

std::string RenderMetrics() {
    std::string text;
    Header(text, "vostrine_connections", "gauge", "Control connections open now.");
    for (int i = 0; i < ServerCount; ++i)
        Line(text, "vostrine_connections", "server=" + Quoted(Server[i]->Name), Server[i]->OnlineConnections.load());
    Header(text, "vostrine_connections_total", "counter", "Control connections accepted.");
    Line(text, "vostrine_connections_total", "", Metrics.Connections.load());
    Header(text, "vostrine_connections_refused_total", "counter", "Control connections turned away, by reason.");
    const char* reasons[] = {"server_full", "address_limit", "failed_logins"};
    for (int i = 0; i < static_cast<int>(Refusal::Count); ++i)
        Line(text, "vostrine_connections_refused_total", std::string("reason=\"") + reasons[i] + "\"", Metrics.Refused[i].load());
    Header(text, "vostrine_logins_total", "counter", "Logins, by result.");
    Line(text, "vostrine_logins_total", "result=\"ok\"", Metrics.Logins[1].load());
    Line(text, "vostrine_logins_total", "result=\"failed\"", Metrics.Logins[0].load());
    Header(text, "vostrine_commands_total", "counter", "Commands run, by keyword.");
    for (int i = 0; i < commandCount; ++i)
        if (uint64_t count = Metrics.Commands[i].load()) Line(text, "vostrine_commands_total", "command=" + Quoted(commandKeyword(i)), count);
    Header(text, "vostrine_transfers_total", "counter", "File transfers, by direction and result.");
    const char* directions[] = {"upload", "download"}, *results[] = {"complete", "aborted", "failed"};
    for (int d = 0; d < 2; ++d)
        for (int r = 0; r < static_cast<int>(TransferResult::Count); ++r)
            Line(text, "vostrine_transfers_total", std::string("direction=\"") + directions[d] + "\",result=\"" + results[r] + "\"",
                 Metrics.Transfers[d][r].load());
    Header(text, "vostrine_transfer_bytes_total", "counter", "File bytes moved, by direction.");
    for (int d = 0; d < 2; ++d)
        Line(text, "vostrine_transfer_bytes_total", std::string("direction=\"") + directions[d] + "\"", Metrics.TransferBytes[d].load());
    Header(text, "vostrine_tls_handshakes_total", "counter", "TLS handshakes, by result.");
    Line(text, "vostrine_tls_handshakes_total", "result=\"ok\"", Metrics.TlsHandshakes[1].load());
    Line(text, "vostrine_tls_handshakes_total", "result=\"failed\"", Metrics.TlsHandshakes[0].load());
    ProcessFigures process = ReadProcessFigures();
    Header(text, "vostrine_threads", "gauge", "Threads of the process.");
    Line(text, "vostrine_threads", "", process.Threads);
    Header(text, "process_resident_memory_bytes", "gauge", "Resident memory size in bytes.");
    Line(text, "process_resident_memory_bytes", "", process.ResidentBytes);
    Header(text, "process_open_fds", "gauge", "Number of open file descriptors.");
    Line(text, "process_open_fds", "", process.OpenDescriptors);
    char seconds[64];
    Header(text, "process_cpu_seconds_total", "counter", "Total user and system CPU time spent in seconds.");
    std::snprintf(seconds, sizeof seconds, "process_cpu_seconds_total %.2f\n", process.CpuSeconds);
    text += seconds;
    Header(text, "process_start_time_seconds", "gauge", "Start time of the process since unix epoch in seconds.");
    std::snprintf(seconds, sizeof seconds, "process_start_time_seconds %.2f\n", process.StartTimeSeconds);
    text += seconds;
    return text;
}
