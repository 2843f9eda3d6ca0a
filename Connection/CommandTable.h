// The command table: one row per command, holding its keyword, its handler
// and how the command loop treats it. It is the only list of the commands:
// the dispatch, the login gate, HELP's list and FEAT's lines all read it. A
// new command is one row here and one handler (declared in Commands.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/Accounts.h"

struct Session;

using CommandHandler = void (*)(Session& session, char* argument);

// Which servers know the command.
enum class KnownBy : unsigned char {
    Every,       // every server
    Extensions,  // with --extensions; otherwise unrecognized
    Tls,         // with a TLS certificate loaded
};

// Whether the command passes the login gate before a login.
enum class BeforeLogin : unsigned char { Never, Always, WithExtensions };

// What the command does while a transfer goes on (with --extensions; without
// them every line waits for the transfer's end).
enum class DuringTransfer : unsigned char {
    Waits,    // runs after the transfer, in order
    InTurn,   // runs at once, unless lines already wait: their replies come first
    AtOnce,   // runs at once, whatever waits (ABOR)
};

// Where a command's argument names a path, for an account's denied names.
enum class PathIn : unsigned char {
    None,
    Argument,       // the whole argument
    AfterOptions,   // after leading words such as "-la" (LIST, NLST)
    AfterOneWord,   // after its first word (MFMT's time)
    AfterTwoWords,  // after its first two (SITE CHMOD's mode)
};

struct CommandRow {
    const char* Keyword;
    CommandHandler Handler;
    KnownBy Known = KnownBy::Every;
    BeforeLogin Early = BeforeLogin::Never;
    bool Activity = true;      // passing the gate after login resets the idle count
    bool StubWithoutExtensions = false;  // known without --extensions, answered "500 Command not implemented."
    DuringTransfer Transfer = DuringTransfer::Waits;
    bool SecretArgument = false;  // echoed as **** with --hide-passwords
    bool InHelp = true;           // listed by HELP (not the commands refused outright)
    const char* Feature = nullptr;  // its FEAT line (without the leading blank), if it has one
    uint16_t Needs = 0;             // the permissions an account's settings must give it
    PathIn Path = PathIn::None;     // where its argument names a path
};

// The row of an upper-cased keyword; null for anything that is not a command
// (with the extensions, and TLS, on or off as said).
const CommandRow* FindCommand(std::string_view keyword, bool extensions, bool tls = false);

// The rows by number, for the metrics: how many, the number of a row, the keyword of a number.
int CommandRows();
int CommandRowNumber(const CommandRow& row);
const char* CommandRowKeyword(int number);

// HELP's command list: the keywords known with the extensions (and TLS, when
// a certificate is loaded), sorted, in lines of 18 each starting with a blank
// and ending with CR LF.
std::string HelpList(bool tls);

// FEAT's lines, each " FEATURE\r\n": the features of the extensions sorted,
// then those of TLS when a certificate is loaded. MLST's line is followed by
// the facts given, HASH's by the algorithms.
std::string FeatureLines(bool tls, std::string_view mlstFacts, std::string_view hashes);

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
