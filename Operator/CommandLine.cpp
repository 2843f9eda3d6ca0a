#include "Operator/CommandLine.h"

#include <cstdio>
#include <getopt.h>

namespace {

constexpr const char* Usage =
    "Usage: vostrine [options]\n"
    "Serves the servers and accounts of ./config in the working directory.\n"
    "\n"
    "  --extensions   the commands modern clients use: FEAT, OPTS, HELP, REST (resume),\n"
    "                 APPE, MDTM, MFMT, MLSD, MLST, NLST, CDUP, STAT, ABOR, EPSV, EPRT\n"
    "                 and IPv6, SITE CHMOD, TYPE A conversion, ls-style listings\n"
    "  --help         this text\n";

enum OptionId { OptExtensions = 1000, OptHelp };

constexpr option longOptions[] = {
    {"extensions", no_argument, nullptr, OptExtensions},
    {"help", no_argument, nullptr, OptHelp},
    {nullptr, 0, nullptr, 0},
};

CommandLineOutcome Refuse(const char* fault, const char* what) {
    std::fprintf(stderr, "vostrine: %s: %s\n%s", fault, what, Usage);
    return CommandLineOutcome::Refused;
}

}  // namespace

CommandLineOutcome ReadProgramOptions(int argc, char** argv, ProgramOptions* options) {
    opterr = 0;  // the faults are reported here, in one line
    optind = 1;
    for (;;) {
        int index = 0;
        int id = getopt_long(argc, argv, "", longOptions, &index);
        if (id == -1) break;
        switch (id) {
            case OptExtensions: options->Extensions = true; break;
            case OptHelp: std::fputs(Usage, stdout); return CommandLineOutcome::Help;
            default: return Refuse("unknown option", argv[optind - 1]);
        }
    }
    if (optind < argc) return Refuse("unexpected argument", argv[optind]);
    return CommandLineOutcome::Run;
}
