// The program's options and the registry that is their only list: each row
// names an option, its value, its help text, its default and limits, and sets
// its field. The command line (getopt_long's table, --help, every refusal),
// and the checks of the README and the manual page are built from it. The
// options are read once by main before any other thread starts and are
// unchanged afterwards. With none given, the server behaves as it always has;
// everything newer is reached only through its option.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/ProxyProtocol.h"
#include "platform/Address.h"

constexpr int DefaultMaxConnections = 100;
constexpr int MostConnections = 10000;

struct ProgramOptions {
    bool Extensions = false;             // the commands modern clients expect
    NetAddress PassiveAddress;           // announced in 227 (no family: the local address)
    std::string PassiveHost;             // a host name given for it: resolved at start and on SIGHUP
    uint16_t PassivePortLow = 0;         // passive ports (0: any port the system picks)
    uint16_t PassivePortHigh = 0;
    int MaxConnections = DefaultMaxConnections;  // the connection table's size
    std::string TransferLog;
    std::string AuthLog;
    bool HidePasswords = false;
    NetAddress ListenAddress;            // every listener's address (no family: all)
    int IdleTimeout = 120;               // seconds
    bool NoConsole = false;              // run until a signal, reading no input
    std::string TlsCertificate;          // FTPS with this certificate chain
    std::string TlsKey;                  // its key (empty: in the certificate file)
    bool TlsRequired = false;            // no login and no data in clear text
    bool TlsAllowNewDataSessions = false;
    std::vector<uint16_t> TlsImplicitPorts;  // listeners on these ports speak TLS from the first byte
    int MaxPerAddress = 0;               // connections from one client address (0: any)
    std::string ConfigFile = "./config";  // the server and account table
    std::string SettingsFile;            // the settings file read before the command line
    std::string User;                    // run as this user once the listeners are bound
    std::string Group;                   // and this group (empty: the user's own)
    int Sandbox = 0;                     // 1: confine files with Landlock where the kernel can; 2: required
    bool Verbose = false;                // who connects and why failures happen, on the console
    int Umask = -1;                      // files and directories created with it (-1: the process's)
    std::vector<AddressBlock> TrustedProxies;  // connections from these begin with a PROXY protocol header
    NetAddress MetricsAddress;           // where GET /metrics is served, with its port (no family: nowhere)
};

extern ProgramOptions Options;

struct OptionRow {
    const char* Name;       // the long option, without "--"
    const char* ValueName;  // such as "N" or "FILE"; null for a flag
    const char* Help;       // one line of --help
    const char* Default;    // shown in --help; null when there is none to show
    long Minimum = 0;       // for numbers
    long Maximum = 0;
    // Reads the value into its field; false when the value is refused.
    bool (*Set)(const OptionRow& row, const char* value, ProgramOptions& options) = nullptr;
    const char* Expected = nullptr;  // what a refusal says was expected (numbers: their range)
    bool OptionalValue = false;      // a flag that may also take ValueName (--name=value)
};

// Every option, in the order --help shows them.
std::span<const OptionRow> OptionRegistry();

// The address PASV announces: --passive-address's (no family: the control
// connection's own local address). Any thread may read it.
NetAddress AnnouncedPassiveAddress();
// Resolves --passive-address's host name (again, on SIGHUP, for dynamic
// addresses); false, leaving the address as it was, when it does not resolve
// to an IPv4 address. True when there is no host name.
bool ResolvePassiveHost();

// The row of an option's name (without "--"), or null.
const OptionRow* FindOption(std::string_view name);

// What a refusal of the row's value says was expected.
std::string ExpectedValue(const OptionRow& row);

// Reads an octal umask from 000 to 777; false when the text is not one.
bool ParseUmask(std::string_view text, int* mask);
