#include "core/LogFiles.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "core/Log.h"
#include "core/Options.h"
#include "platform/Files.h"

namespace {

std::mutex filesLock;  // the descriptors change under it at a reopen
Descriptor transferLog;
Descriptor authLog;

bool OpenOne(const std::string& path, Descriptor* file) {
    if (path.empty()) return true;
    *file = FileOpenAppend(path.c_str());
    return file->IsOpen();
}

void Append(Descriptor& file, const std::string& line) {
    std::lock_guard<std::mutex> hold(filesLock);
    if (file.IsOpen()) FileWriteAll(file.Get(), line.data(), line.size());  // O_APPEND: one whole line
}

// The local time as ctime writes it, "Mon Dec  7 04:35:37 2026", in English.
void FormatLogTime(time_t moment, char (&text)[32]) {
    static constexpr const char* Days[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* Months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm calendar {};
    if (!LocalCalendarTime(moment, &calendar) || calendar.tm_wday < 0 || calendar.tm_wday > 6 ||
        calendar.tm_mon < 0 || calendar.tm_mon > 11) {
        std::snprintf(text, sizeof text, "Thu Jan  1 00:00:00 1970");
        return;
    }
    std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d", Days[calendar.tm_wday], Months[calendar.tm_mon],
                  calendar.tm_mday, calendar.tm_hour, calendar.tm_min, calendar.tm_sec, calendar.tm_year + 1900);
}

// SECURITY: a client's name or path as one field a log reader can trust:
// every byte outside printable ASCII, the blank that separates fields and the
// backslash that starts an escape are written as \xNN, so no name can split a
// field, end a line or hide from a pattern, and no two names look alike.
std::string FieldText(std::string_view text) {
    std::string field;
    field.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte > ' ' && byte < 0x7f && byte != '\\') {
            field += c;
            continue;
        }
        static constexpr char Hex[] = "0123456789abcdef";
        field += "\\x";
        field += Hex[byte >> 4];
        field += Hex[byte & 15];
    }
    return field;
}

}  // namespace

const char* OpenLogFiles() {
    std::lock_guard<std::mutex> hold(filesLock);
    if (!OpenOne(Options.TransferLog, &transferLog)) return Options.TransferLog.c_str();
    if (!OpenOne(Options.AuthLog, &authLog)) return Options.AuthLog.c_str();
    return nullptr;
}

void ReopenLogFiles() {
    std::lock_guard<std::mutex> hold(filesLock);
    transferLog.Reset();
    authLog.Reset();
    // A file that cannot be opened again is said on the console; its lines are lost until the next reopen.
    if (!OpenOne(Options.TransferLog, &transferLog)) ConsolePrintf("Cannot reopen %s.\n", Options.TransferLog.c_str());
    if (!OpenOne(Options.AuthLog, &authLog)) ConsolePrintf("Cannot reopen %s.\n", Options.AuthLog.c_str());
}

bool LogFilesConfigured() { return !Options.TransferLog.empty() || !Options.AuthLog.empty(); }

void LogTransfer(const TransferRecord& transfer) {
    if (Options.TransferLog.empty()) return;
    // current-time transfer-time remote-host file-size filename transfer-type
    // special-action-flag direction access-mode username service-name
    // authentication-method authenticated-user-id completion-status
    char when[32];
    FormatLogTime(NowSeconds(), when);
    std::string line;
    AppendFormat(line, "%s %" PRId64 " %s %" PRId64 " %s %c _ %c %c %s ftp 0 * %c\n", when, transfer.Seconds,
                 transfer.RemoteHost, transfer.Bytes, FieldText(transfer.Path).c_str(), transfer.Ascii ? 'a' : 'b',
                 transfer.Outgoing ? 'o' : 'i', transfer.Anonymous ? 'a' : 'r', FieldText(transfer.User).c_str(),
                 transfer.Complete ? 'c' : 'i');
    Append(transferLog, line);
}

void LogLogin(const char* host, uint16_t port, std::string_view user, bool ok) {
    if (Options.AuthLog.empty()) return;
    char when[32];
    FormatLogTime(NowSeconds(), when);
    std::string line;
    AppendFormat(line, "%s vostrine: login %s for user %s from %s port %u\n", when, ok ? "ok" : "failed",
                 FieldText(user).c_str(), host, static_cast<unsigned>(port));
    Append(authLog, line);
}
