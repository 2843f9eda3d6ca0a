// The command table: one row per command, holding its keyword, its handler
// and the flags the login gate reads. A new command is one row here and one
// handler (declared in Commands.h); nothing else lists the commands.
#pragma once

#include <cstddef>
#include <string_view>

struct Session;

using CommandHandler = void (*)(Session& session, char* argument);

enum CommandFlag : unsigned {
    BeforeLogin = 1u << 0,          // passes the gate before login
    CountsAsActivity = 1u << 1,     // resets the idle count when it passes the gate
    ExtensionOnly = 1u << 2,        // a command only with --extensions; otherwise unrecognized
    StubWithoutExtensions = 1u << 3,  // without --extensions: "500 Command not implemented."
    BeforeLoginExtended = 1u << 4,  // with --extensions, passes the gate before login (not as activity)
    DuringTransfer = 1u << 5,       // with --extensions, runs at once while a transfer goes on
    NeedsTls = 1u << 6,             // a command only when a TLS certificate is loaded
};

struct CommandRow {
    const char* Keyword;
    CommandHandler Handler;
    unsigned Flags;
};

// The row of an upper-cased keyword; null for anything that is not a command
// (with the extensions, and TLS, on or off as said).
const CommandRow* FindCommand(std::string_view keyword, bool extensions, bool tls = false);

// Longest command line, without its line end; longer ones are refused whole.
constexpr size_t CommandLineLimit = 1023;
constexpr size_t KeywordSize = 16;  // a keyword keeps at most 15 characters

// A command line cut into its keyword and argument.
struct CommandLine {
    char Keyword[KeywordSize];   // upper-cased, cut to 15 characters
    std::string_view Argument;   // a view into the line
};

// Cuts a line (without its line end): the keyword runs up to the first blank,
// carriage return or line feed and has its letters a-z upper-cased; after one
// delimiter, the argument runs up to the next carriage return or line feed,
// blanks and case kept.
CommandLine ParseCommandLine(std::string_view line);

// Whether an argument word is the given upper-case word, letters in either case.
bool IsWord(std::string_view argument, std::string_view upperWord);
