// The log files an operator's tools read: the transfer log (--xferlog, in
// the xferlog format that log analysers know) and the login log (--auth-log,
// for fail2ban and the like). Each line is written whole, with one append;
// SIGHUP reopens both, for log rotation.
#pragma once

#include <cstdint>
#include <string_view>

// Opens the files the options name; the name of one that cannot be opened, or null.
const char* OpenLogFiles();
// Closes and opens them again under the same names (after a rotation).
void ReopenLogFiles();
bool LogFilesConfigured();

struct TransferRecord {
    int64_t Seconds;         // how long the transfer took, at least 1
    const char* RemoteHost;  // the client's address
    int64_t Bytes;           // bytes moved
    std::string_view Path;   // the client's path from its root, such as /pub/a.bin
    bool Ascii;              // TYPE A
    bool Outgoing;           // RETR; STOR and APPE come in
    const char* User;
    bool Complete;           // the final reply was 226
    bool Anonymous;          // the account named anonymous: access mode a, as log analysers expect
};
void LogTransfer(const TransferRecord& transfer);

// One login attempt: ok or failed.
void LogLogin(const char* host, uint16_t port, std::string_view user, bool ok);
