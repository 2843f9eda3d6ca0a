#include "core/Options.h"

#include "platform/Net.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

ProgramOptions Options;

namespace {

// What PASV announces, as four bytes (0: the local address), for every
// thread to read while SIGHUP may change it.
std::atomic<uint32_t> announced{0};

uint32_t Packed(const NetAddress& address) {
    uint32_t packed = 0;
    if (address.IsIPv4()) std::memcpy(&packed, address.Bytes, 4);
    return packed;
}

}  // namespace

NetAddress AnnouncedPassiveAddress() {
    uint32_t packed = announced.load();
    if (packed == 0) packed = Packed(Options.PassiveAddress);
    if (packed == 0) return NetAddress{};
    NetAddress address;
    address.Family = AddressFamily::IPv4;
    std::memcpy(address.Bytes, &packed, 4);
    return address;
}

bool ResolvePassiveHost() {
    if (Options.PassiveHost.empty()) return true;
    NetAddress resolved;
    if (!NetHostAddress(Options.PassiveHost.c_str(), &resolved) || !resolved.IsIPv4() || Packed(resolved) == 0)
        return false;
    announced.store(Packed(resolved));
    return true;
}

namespace {

// A whole decimal number within [low, high].
bool ReadNumber(const char* text, long low, long high, long* number) {
    if (*text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    *number = value;
    return true;
}

// A flag's value: none on the command line (on); in a settings file yes,
// true or 1, or no, false or 0. False for anything else.
bool ReadYesNo(const char* value, bool* on) {
    for (const char* yes : {"", "yes", "true", "1"})
        if (std::strcmp(value, yes) == 0) return *on = true;
    for (const char* no : {"no", "false", "0"})
        if (std::strcmp(value, no) == 0) return !(*on = false);
    return false;
}

template <bool ProgramOptions::*Field>
bool SetFlag(const OptionRow&, const char* value, ProgramOptions& options) {
    return ReadYesNo(value, &(options.*Field));
}

template <int ProgramOptions::*Field>
bool SetNumber(const OptionRow& row, const char* value, ProgramOptions& options) {
    long number = 0;
    if (!ReadNumber(value, row.Minimum, row.Maximum, &number)) return false;
    options.*Field = static_cast<int>(number);
    return true;
}

template <std::string ProgramOptions::*Field>
bool SetFile(const OptionRow&, const char* value, ProgramOptions& options) {
    if (*value == '\0') return false;
    options.*Field = value;
    return true;
}

// An IPv4 address, or a host name resolved at start (ResolvePassiveHost).
bool SetPassiveAddress(const OptionRow&, const char* value, ProgramOptions& options) {
    options.PassiveHost.clear();
    if (ParseAddress(value, &options.PassiveAddress)) return options.PassiveAddress.IsIPv4();
    size_t length = std::strlen(value);
    if (length == 0 || length > 253) return false;
    for (const char* c = value; *c != '\0'; ++c)
        if (!std::isalnum(static_cast<unsigned char>(*c)) && *c != '.' && *c != '-') return false;
    options.PassiveHost = value;
    return true;
}

bool SetListen(const OptionRow&, const char* value, ProgramOptions& options) {
    return ParseAddress(value, &options.ListenAddress);
}

bool SetPassivePorts(const OptionRow& row, const char* value, ProgramOptions& options) {
    const char* dash = std::strchr(value, '-');
    if (dash == nullptr) return false;
    std::string first(value, static_cast<size_t>(dash - value));
    long from = 0, to = 0;
    if (!ReadNumber(first.c_str(), row.Minimum, row.Maximum, &from) ||
        !ReadNumber(dash + 1, row.Minimum, row.Maximum, &to) || from > to)
        return false;
    options.PassivePortLow = static_cast<uint16_t>(from);
    options.PassivePortHigh = static_cast<uint16_t>(to);
    return true;
}

bool SetUmask(const OptionRow&, const char* value, ProgramOptions& options) { return ParseUmask(value, &options.Umask); }

// ADDRESS:PORT, an IPv6 address in brackets: [::1]:9100.
bool SetMetricsAddress(const OptionRow&, const char* value, ProgramOptions& options) {
    std::string_view text = value;
    size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return false;
    std::string_view host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    long port = 0;
    std::string digits(text.substr(colon + 1));
    if (!ParseAddress(host, &options.MetricsAddress) || !ReadNumber(digits.c_str(), 1, 65535, &port)) return false;
    options.MetricsAddress.Port = static_cast<uint16_t>(port);
    return true;
}

bool SetImplicitPorts(const OptionRow& row, const char* value, ProgramOptions& options) {
    options.TlsImplicitPorts.clear();
    for (std::string_view rest = value; !rest.empty();) {
        size_t comma = rest.find(',');
        std::string number(rest.substr(0, comma));
        long port = 0;
        if (!ReadNumber(number.c_str(), row.Minimum, row.Maximum, &port)) return false;
        options.TlsImplicitPorts.push_back(static_cast<uint16_t>(port));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        if (comma != std::string_view::npos && rest.empty()) return false;
    }
    return !options.TlsImplicitPorts.empty();
}

bool SetTrustedProxies(const OptionRow&, const char* value, ProgramOptions& options) {
    return ParseAddressBlocks(value, &options.TrustedProxies);
}

// --sandbox: on (no value, yes), --sandbox=required, or off (no).
bool SetSandbox(const OptionRow& row, const char* value, ProgramOptions& options) {
    bool on = false;
    if (std::strcmp(value, row.ValueName) == 0) options.Sandbox = 2;
    else if (ReadYesNo(value, &on)) options.Sandbox = on ? 1 : 0;
    else return false;
    return true;
}

using O = ProgramOptions;

const OptionRow registry[] = {
    {"extensions", nullptr,
     "the commands modern clients use: FEAT, OPTS, HELP, REST, APPE, MDTM, MFMT, MLSD, MLST, NLST, CDUP, STAT, "
     "ABOR, EPSV, EPRT and IPv6, HASH and the X checksums, SITE CHMOD, TYPE A conversion, ls-style listings",
     nullptr, 0, 0, SetFlag<&O::Extensions>},
    {"passive-address", "A.B.C.D", "the address PASV announces, for a server behind NAT or in a container", nullptr, 0,
     0, SetPassiveAddress, "an IPv4 address such as 203.0.113.5, or a host name"},
    {"passive-ports", "LOW-HIGH", "passive data connections only on ports of this range, from a random start",
     nullptr, 1024, 65535, SetPassivePorts, "LOW-HIGH within 1024-65535"},
    {"max-connections", "N", "connections held at once", "100", 1, MostConnections, SetNumber<&O::MaxConnections>},
    {"xferlog", "FILE", "a line per RETR, STOR and APPE that moved data, in the xferlog format", nullptr, 0, 0,
     SetFile<&O::TransferLog>, "a file name"},
    {"auth-log", "FILE", "a line per login attempt: ok or failed, user, client address and port", nullptr, 0, 0,
     SetFile<&O::AuthLog>, "a file name"},
    {"hide-passwords", nullptr, "PASS's argument and view user's password column shown as ****", nullptr, 0, 0,
     SetFlag<&O::HidePasswords>},
    {"listen", "ADDRESS", "every listener, and every passive one, on this local address only (IPv6 needs "
     "--extensions)", nullptr, 0, 0, SetListen, "an IPv4 or IPv6 address"},
    {"idle-timeout", "SECONDS", "drop connections silent this long", "120", 10, 86400, SetNumber<&O::IdleTimeout>},
    {"max-per-address", "N", "connections at once from one client address", nullptr, 1, MostConnections,
     SetNumber<&O::MaxPerAddress>},
    {"verbose", nullptr,
     "a console line as each connection opens and closes, with the client's address, and after each failure line "
     "one with its address, port or path and the system's reason", nullptr, 0, 0, SetFlag<&O::Verbose>},
    {"no-console", nullptr, "read no console input; run until SIGTERM or SIGINT", nullptr, 0, 0,
     SetFlag<&O::NoConsole>},
    {"tls-cert", "FILE", "offer FTPS (AUTH TLS) with this PEM certificate chain", nullptr, 0, 0,
     SetFile<&O::TlsCertificate>, "a file name"},
    {"tls-key", "FILE", "its PEM private key", "the certificate file", 0, 0, SetFile<&O::TlsKey>, "a file name"},
    {"tls-required", nullptr, "refuse logins before AUTH TLS and data connections before PROT P", nullptr, 0, 0,
     SetFlag<&O::TlsRequired>},
    {"tls-allow-new-data-sessions", nullptr,
     "accept protected data connections that do not resume the control connection's TLS session", nullptr, 0, 0,
     SetFlag<&O::TlsAllowNewDataSessions>},
    {"tls-implicit-ports", "PORT[,...]",
     "implicit FTPS: a server on one of these ports does the TLS handshake before its greeting, and protects data "
     "connections from the start", nullptr, 1, 65535, SetImplicitPorts, "ports from 1 to 65535, comma-separated"},
    {"user", "NAME", "once the listeners are bound and the files opened, run as this user", nullptr, 0, 0,
     SetFile<&O::User>, "a user name"},
    {"group", "NAME", "and this group", "the user's primary group", 0, 0, SetFile<&O::Group>, "a group name"},
    {"sandbox", "required",
     "confine the process's file access to the account roots, the logs and the certificate with Landlock; where the "
     "kernel has none it says so and runs on, unless =required", nullptr, 0, 0, SetSandbox,
     "yes, no or required", true},
    {"umask", "MASK", "files and directories clients create get this octal umask (an account's settings may set "
     "its own)", "the process's", 0, 0, SetUmask, "an octal mask from 000 to 777"},
    {"proxy-protocol", "ADDRESS[,...]",
     "connections from these addresses or blocks (10.0.0.0/8) are a load balancer's: each begins with a PROXY "
     "protocol header (version 1 or 2) naming the client, which is then the client everywhere", nullptr, 0, 0,
     SetTrustedProxies, "IPv4 or IPv6 addresses or blocks such as 10.0.0.0/8, comma-separated"},
    {"metrics", "ADDRESS:PORT", "serve Prometheus metrics at http://ADDRESS:PORT/metrics ([::1]:9100 for IPv6)",
     nullptr, 0, 0, SetMetricsAddress, "ADDRESS:PORT, such as 127.0.0.1:9100"},
    {"config", "FILE", "read the servers and accounts from this file", "./config", 0, 0, SetFile<&O::ConfigFile>,
     "a file name"},
    {"settings", "FILE", "read options from this INI file's [vostrine] section first (name = value; flags yes or no); "
     "the command line wins; its [account NAME] sections set what each account may do", nullptr, 0, 0,
     SetFile<&O::SettingsFile>, "a file name"},
};

}  // namespace

std::span<const OptionRow> OptionRegistry() { return registry; }

const OptionRow* FindOption(std::string_view name) {
    for (const OptionRow& row : registry)
        if (name == row.Name) return &row;
    return nullptr;
}

bool ParseUmask(std::string_view text, int* mask) {
    if (text.empty() || text.size() > 4) return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '7') return false;
        value = value * 8 + (c - '0');
    }
    if (value > 0777) return false;
    *mask = value;
    return true;
}

std::string ExpectedValue(const OptionRow& row) {
    if (row.Expected != nullptr) return row.Expected;
    if (row.ValueName == nullptr) return "yes, no, true, false, 1 or 0";
    return "a number from " + std::to_string(row.Minimum) + " to " + std::to_string(row.Maximum);
}
