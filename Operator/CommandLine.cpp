#include "Operator/CommandLine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

namespace {

constexpr const char* Usage =
    "Usage: vostrine [options]\n"
    "Serves the servers and accounts of ./config in the working directory.\n"
    "\n"
    "  --extensions              the commands modern clients use: FEAT, OPTS, HELP, REST (resume),\n"
    "                            APPE, MDTM, MFMT, MLSD, MLST, NLST, CDUP, STAT, ABOR, EPSV, EPRT\n"
    "                            and IPv6, SITE CHMOD, TYPE A conversion, ls-style listings\n"
    "  --passive-address A.B.C.D announce this address in PASV replies (behind NAT)\n"
    "  --passive-ports LOW-HIGH  passive data connections on ports in this range only\n"
    "  --max-connections N       connections held at once, 1 to 10000 (default 100)\n"
    "  --xferlog FILE            a line per file transfer, in the xferlog format\n"
    "  --auth-log FILE           a line per login attempt, ok or failed\n"
    "  --hide-passwords          PASS's argument and the password column shown as ****\n"
    "  --listen ADDRESS          listen on this local address only\n"
    "  --idle-timeout SECONDS    drop connections silent this long, 10 to 86400 (default 120)\n"
    "  --max-per-address N       connections at once from one client address, 1 to 10000\n"
    "  --no-console              read no console input; run until SIGTERM or SIGINT\n"
    "  --tls-cert FILE           offer FTPS (AUTH TLS) with this PEM certificate chain\n"
    "  --tls-key FILE            its PEM private key (default: the certificate file)\n"
    "  --tls-required            refuse logins before AUTH TLS and data connections before PROT P\n"
    "  --tls-allow-new-data-sessions  accept protected data connections that do not resume\n"
    "                            the control connection's TLS session\n"
    "  --help                    this text\n"
    "\n"
    "SIGHUP reopens the --xferlog and --auth-log files; without them it stops the server.\n";

enum OptionId {
    OptExtensions = 1000, OptPassiveAddress, OptPassivePorts, OptMaxConnections, OptXferlog, OptAuthLog,
    OptHidePasswords, OptListen, OptIdleTimeout, OptNoConsole, OptTlsCert, OptTlsKey, OptTlsRequired,
    OptTlsAllowNew, OptMaxPerAddress, OptHelp
};

constexpr option longOptions[] = {
    {"extensions", no_argument, nullptr, OptExtensions},
    {"passive-address", required_argument, nullptr, OptPassiveAddress},
    {"passive-ports", required_argument, nullptr, OptPassivePorts},
    {"max-connections", required_argument, nullptr, OptMaxConnections},
    {"xferlog", required_argument, nullptr, OptXferlog},
    {"auth-log", required_argument, nullptr, OptAuthLog},
    {"hide-passwords", no_argument, nullptr, OptHidePasswords},
    {"listen", required_argument, nullptr, OptListen},
    {"idle-timeout", required_argument, nullptr, OptIdleTimeout},
    {"no-console", no_argument, nullptr, OptNoConsole},
    {"tls-cert", required_argument, nullptr, OptTlsCert},
    {"tls-key", required_argument, nullptr, OptTlsKey},
    {"tls-required", no_argument, nullptr, OptTlsRequired},
    {"tls-allow-new-data-sessions", no_argument, nullptr, OptTlsAllowNew},
    {"max-per-address", required_argument, nullptr, OptMaxPerAddress},
    {"help", no_argument, nullptr, OptHelp},
    {nullptr, 0, nullptr, 0},
};

CommandLineOutcome Refuse(const char* fault, const char* what) {
    std::fprintf(stderr, "vostrine: %s: %s\n%s", fault, what, Usage);
    return CommandLineOutcome::Refused;
}

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

bool ReadPortRange(const char* text, uint16_t* low, uint16_t* high) {
    const char* dash = std::strchr(text, '-');
    if (dash == nullptr) return false;
    std::string first(text, static_cast<size_t>(dash - text));
    long from = 0, to = 0;
    if (!ReadNumber(first.c_str(), 1024, 65535, &from) || !ReadNumber(dash + 1, 1024, 65535, &to) || from > to)
        return false;
    *low = static_cast<uint16_t>(from);
    *high = static_cast<uint16_t>(to);
    return true;
}

}  // namespace

CommandLineOutcome ReadProgramOptions(int argc, char** argv, ProgramOptions* options) {
    opterr = 0;  // the faults are reported here, in one line
    optind = 1;
    for (;;) {
        int id = getopt_long(argc, argv, ":", longOptions, nullptr);
        if (id == -1) break;
        long number = 0;
        switch (id) {
            case OptExtensions: options->Extensions = true; break;
            case OptPassiveAddress:
                if (!ParseAddress(optarg, &options->PassiveAddress) || !options->PassiveAddress.IsIPv4())
                    return Refuse("--passive-address needs an IPv4 address such as 203.0.113.5, not", optarg);
                break;
            case OptPassivePorts:
                if (!ReadPortRange(optarg, &options->PassivePortLow, &options->PassivePortHigh))
                    return Refuse("--passive-ports needs LOW-HIGH within 1024-65535, not", optarg);
                break;
            case OptMaxConnections:
                if (!ReadNumber(optarg, 1, MostConnections, &number))
                    return Refuse("--max-connections needs a number from 1 to 10000, not", optarg);
                options->MaxConnections = static_cast<int>(number);
                break;
            case OptXferlog:
                if (*optarg == '\0') return Refuse("--xferlog needs a file name, not", "an empty one");
                options->TransferLog = optarg;
                break;
            case OptAuthLog:
                if (*optarg == '\0') return Refuse("--auth-log needs a file name, not", "an empty one");
                options->AuthLog = optarg;
                break;
            case OptHidePasswords: options->HidePasswords = true; break;
            case OptListen:
                if (!ParseAddress(optarg, &options->ListenAddress))
                    return Refuse("--listen needs an IPv4 or IPv6 address, not", optarg);
                break;
            case OptIdleTimeout:
                if (!ReadNumber(optarg, 10, 86400, &number))
                    return Refuse("--idle-timeout needs a number of seconds from 10 to 86400, not", optarg);
                options->IdleTimeout = static_cast<int>(number);
                break;
            case OptNoConsole: options->NoConsole = true; break;
            case OptTlsCert: options->TlsCertificate = optarg; break;
            case OptTlsKey: options->TlsKey = optarg; break;
            case OptTlsRequired: options->TlsRequired = true; break;
            case OptTlsAllowNew: options->TlsAllowNewDataSessions = true; break;
            case OptMaxPerAddress:
                if (!ReadNumber(optarg, 1, MostConnections, &number))
                    return Refuse("--max-per-address needs a number from 1 to 10000, not", optarg);
                options->MaxPerAddress = static_cast<int>(number);
                break;
            case OptHelp: std::fputs(Usage, stdout); return CommandLineOutcome::Help;
            case ':': return Refuse("this option needs a value", argv[optind - 1]);
            default: return Refuse("unknown option", argv[optind - 1]);
        }
    }
    if (optind < argc) return Refuse("unexpected argument", argv[optind]);
    if ((options->TlsRequired || options->TlsAllowNewDataSessions || !options->TlsKey.empty()) &&
        options->TlsCertificate.empty())
        return Refuse("the TLS options need", "--tls-cert");
    if (options->ListenAddress.IsIPv6() && !options->Extensions)
        return Refuse("--listen with an IPv6 address needs", "--extensions");
    return CommandLineOutcome::Run;
}
