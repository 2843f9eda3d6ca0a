#include "Operator/CommandLine.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <getopt.h>
#include <string>
#include <vector>

#include "core/Accounts.h"
#include "platform/IniFile.h"

#ifndef VOSTRINE_VERSION
#define VOSTRINE_VERSION "unknown"
#endif

namespace {

// getopt_long's values for the two options that act instead of setting
// something; a registry row's value is FirstRowId plus its index (apart from
// getopt's own ':' and '?').
constexpr int HelpId = 1000, VersionId = 1001, HashPasswordId = 1002, FirstRowId = 2000;

// The registry row getopt_long's value names, or null.
const OptionRow* RowOf(int id) {
    auto registry = OptionRegistry();
    size_t index = static_cast<size_t>(id - FirstRowId);
    return id >= FirstRowId && index < registry.size() ? &registry[index] : nullptr;
}

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
        if (row.ValueName != nullptr && row.Expected == nullptr && !row.OptionalValue)  // a number: its range
            help += ", " + ExpectedValue(row).substr(sizeof "a number " - 1);
        if (row.Default != nullptr) help += std::string(" (default: ") + row.Default + ")";
        std::string value = row.ValueName == nullptr ? ""
                            : row.OptionalValue    ? std::string("[=") + row.ValueName + "]"
                                                   : std::string(" ") + row.ValueName;
        line(std::string("--") + row.Name + value, help);
    }
    line("--hash-password", "read a password from standard input, print its yescrypt hash for an account's "
                            "password setting, then exit");
    line("--version", "the version, then exit");
    line("--help", "this text");
    text += "\nSIGHUP reopens the --xferlog and --auth-log files and resolves a host-name --passive-address\n"
            "again; with none of them it stops the server.\n";
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
        options.push_back({row.Name, row.OptionalValue ? optional_argument : row.ValueName ? required_argument : no_argument,
                           nullptr, FirstRowId + index++});
    options.push_back({"help", no_argument, nullptr, HelpId});
    options.push_back({"version", no_argument, nullptr, VersionId});
    options.push_back({"hash-password", no_argument, nullptr, HashPasswordId});
    options.push_back({nullptr, 0, nullptr, 0});
    return options;
}

// The --settings file named on the command line, if any (a first look at
// the command line, which is read whole afterwards).
std::string SettingsFileOf(int argc, char** argv, const std::vector<option>& longOptions) {
    std::string file;
    opterr = 0;
    optind = 1;
    for (int id; (id = getopt_long(argc, argv, ":", longOptions.data(), nullptr)) != -1;)
        if (const OptionRow* row = RowOf(id); row != nullptr && std::strcmp(row->Name, "settings") == 0) file = optarg;
    return file;
}

// Reads a settings file: its [vostrine] section into *options, its
// [account NAME] sections into the accounts' policies. False, after one line
// naming the file, the line and the key, when anything is refused.
bool ReadSettingsFile(const std::string& file, ProgramOptions* options) {
    if (!IniAvailable()) {
        std::fprintf(stderr, "vostrine: %s: this vostrine was built without inih (libinih-dev)\n", file.c_str());
        return false;
    }
    std::string fault;
    int line = ReadIniFile(file, [&](const std::string& section, const std::string& name, const std::string& value,
                                     int at) {
        if (section.rfind("account ", 0) == 0) {
            std::string account = section.substr(sizeof "account " - 1);
            return SetAccountKey(account, file + ":" + std::to_string(at), name, value, &fault);
        }
        if (!section.empty() && section != "vostrine") {
            fault = "[" + section + "]: not a section (only [vostrine] and [account NAME])";
            return false;
        }
        const OptionRow* row = section.empty() || name == "settings" ? nullptr : FindOption(name);
        if (row == nullptr) {
            fault = name + ": " + (section.empty() ? "outside the [vostrine] section" : "not a setting");
            return false;
        }
        if (!row->Set(*row, value.c_str(), *options)) {
            fault = name + " = " + value + ": expected " + ExpectedValue(*row);
            return false;
        }
        return true;
    });
    if (line == 0) return true;
    if (line < 0)
        std::fprintf(stderr, "vostrine: %s: %s\n", file.c_str(), std::strerror(errno));
    else
        std::fprintf(stderr, "vostrine: %s:%d: %s\n", file.c_str(), line,
                     fault.empty() ? "not a [section], a name = value or a comment" : fault.c_str());
    return false;
}

}  // namespace

CommandLineOutcome ReadProgramOptions(int argc, char** argv, ProgramOptions* options) {
    std::vector<option> longOptions = LongOptions();
    // The settings file first; the command line, read after it, wins.
    if (std::string file = SettingsFileOf(argc, argv, longOptions); !file.empty() && !ReadSettingsFile(file, options))
        return CommandLineOutcome::Refused;
    opterr = 0;  // the faults are reported here, in one line
    optind = 1;
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
        if (id == HashPasswordId) return CommandLineOutcome::HashPassword;
        if (id == ':') return Refuse(std::string(argv[optind - 1]) + ": needs a value");
        const OptionRow* found = RowOf(id);
        if (found == nullptr) return Refuse(std::string("unknown option ") + argv[optind - 1]);
        const OptionRow& row = *found;
        const char* value = optarg != nullptr ? optarg : "";
        if (!row.Set(row, value, *options))
            return Refuse(std::string("--") + row.Name + " " + (*value ? value : "\"\"") + ": expected " +
                          ExpectedValue(row));
    }
    if (optind < argc) return Refuse(std::string("unexpected argument ") + argv[optind]);
    if ((options->TlsRequired || options->TlsAllowNewDataSessions || !options->TlsKey.empty() ||
         !options->TlsImplicitPorts.empty()) &&
        options->TlsCertificate.empty())
        return Refuse("the TLS options need --tls-cert");
    if (options->ListenAddress.IsIPv6() && !options->Extensions)
        return Refuse("--listen with an IPv6 address needs --extensions");
    return CommandLineOutcome::Run;
}
