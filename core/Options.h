// The command-line options, read once by main before any other thread
// starts and unchanged afterwards. With none given, the server behaves as it
// always has; everything newer is reached only through its option.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Address.h"

constexpr int DefaultMaxConnections = 100;
constexpr int MostConnections = 10000;
constexpr int DefaultIdleTimeout = 120;

struct ProgramOptions {
    bool Extensions = false;             // --extensions: the commands modern clients expect
    NetAddress PassiveAddress;           // --passive-address: announced in 227 (no family: the local address)
    uint16_t PassivePortLow = 0;         // --passive-ports LOW-HIGH (0: any port the system picks)
    uint16_t PassivePortHigh = 0;
    int MaxConnections = DefaultMaxConnections;  // --max-connections: the connection table's size
    std::string TransferLog;             // --xferlog FILE
    std::string AuthLog;                 // --auth-log FILE
    bool HidePasswords = false;          // --hide-passwords
    NetAddress ListenAddress;            // --listen: every listener's address (no family: all)
    int IdleTimeout = DefaultIdleTimeout;  // --idle-timeout SECONDS
    bool NoConsole = false;              // --no-console: run until a signal, reading no input
    std::string TlsCertificate;          // --tls-cert FILE: FTPS with this certificate chain
    std::string TlsKey;                  // --tls-key FILE (default: the certificate file)
    bool TlsRequired = false;            // --tls-required: no login and no data in clear text
    bool TlsAllowNewDataSessions = false;  // --tls-allow-new-data-sessions
    int MaxPerAddress = 0;               // --max-per-address N: connections from one client address (0: any)
};

extern ProgramOptions Options;

// Whether the extensions are on.
inline bool Extended() { return Options.Extensions; }
