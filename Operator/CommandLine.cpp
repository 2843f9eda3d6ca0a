#include "Operator/CommandLine.h"

#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <string>
#include <vector>

#ifndef VOSTRINE_VERSION
#define VOSTRINE_VERSION "unknown"
#endif

namespace {

// getopt_long's values for the two options that act instead of setting
// something; a registry row's value is its index.
constexpr int HelpId = 1000, VersionId = 1001;

std::string Usage() {
    std::string text =
        "Usage: vostrine [options]\n"
        "Serves the servers and accounts of ./config in the working directory.\n\n";
    // Each option's help starts in column 30 and wraps before column 80.
    constexpr size_t HelpColumn = 30, Width = 79;
    auto line = [&text](std::string left, const std::string& help) {
        left = "  " + left;
        text += left;
        size_t column = left.size();
        if (column >= HelpColumn) text += "\n", column = 0;
        size_t at = 0;
        while (at < help.size()) {
            size_t end = help.find(' ', at);
            if (end == std::string::npos) end = help.size();
            std::string word = help.substr(at, end - at);
            if (column > HelpColumn && column + 1 + word.size() > Width) text += "\n", column = 0;
            if (column < HelpColumn) text += std::string(HelpColumn - column, ' '), column = HelpColumn;
            else text += ' ', ++column;
            text += word;
            column += word.size();
            at = end + 1;
        }
        text += "\n";
    };
    for (const OptionRow& row : OptionRegistry()) {
        std::string help = row.Help;
        if (row.ValueName != nullptr && row.Expected == nullptr)  // a number: its range
            help += ", " + ExpectedValue(row).substr(sizeof "a number " - 1);
        if (row.Default != nullptr) help += std::string(" (default: ") + row.Default + ")";
        line(std::string("--") + row.Name + (row.ValueName ? std::string(" ") + row.ValueName : ""), help);
    }
    line("--version", "the version, then exit");
    line("--help", "this text");
    text += "\nSIGHUP reopens the --xferlog and --auth-log files; without them it stops the server.\n";
    return text;
}

CommandLineOutcome Refuse(const std::string& fault) {
    std::fprintf(stderr, "vostrine: %s\n%s", fault.c_str(), Usage().c_str());
    return CommandLineOutcome::Refused;
}

std::vector<option> LongOptions() {
    std::vector<option> options;
    int index = 0;
    for (const OptionRow& row : OptionRegistry())
        options.push_back({row.Name, row.ValueName ? required_argument : no_argument, nullptr, index++});
    options.push_back({"help", no_argument, nullptr, HelpId});
    options.push_back({"version", no_argument, nullptr, VersionId});
    options.push_back({nullptr, 0, nullptr, 0});
    return options;
}

}  // namespace

CommandLineOutcome ReadProgramOptions(int argc, char** argv, ProgramOptions* options) {
    opterr = 0;  // the faults are reported here, in one line
    optind = 1;
    std::vector<option> longOptions = LongOptions();
    auto registry = OptionRegistry();
    for (;;) {
        int id = getopt_long(argc, argv, ":", longOptions.data(), nullptr);
        if (id == -1) break;
        if (id == HelpId) {
            std::fputs(Usage().c_str(), stdout);
            return CommandLineOutcome::Help;
        }
        if (id == VersionId) {
            std::puts("vostrine " VOSTRINE_VERSION);
            return CommandLineOutcome::Help;
        }
        if (id == ':') return Refuse(std::string(argv[optind - 1]) + ": needs a value");
        if (id < 0 || static_cast<size_t>(id) >= registry.size()) return Refuse(std::string("unknown option ") + argv[optind - 1]);
        const OptionRow& row = registry[static_cast<size_t>(id)];
        const char* value = optarg != nullptr ? optarg : "";
        if (!row.Set(row, value, *options))
            return Refuse(std::string("--") + row.Name + " " + (*value ? value : "\"\"") + ": expected " +
                          ExpectedValue(row));
    }
    if (optind < argc) return Refuse(std::string("unexpected argument ") + argv[optind]);
    if ((options->TlsRequired || options->TlsAllowNewDataSessions || !options->TlsKey.empty()) &&
        options->TlsCertificate.empty())
        return Refuse("the TLS options need --tls-cert");
    if (options->ListenAddress.IsIPv6() && !options->Extensions)
        return Refuse("--listen with an IPv6 address needs --extensions");
    return CommandLineOutcome::Run;
}
