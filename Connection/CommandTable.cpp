#include "Connection/CommandTable.h"

#include <algorithm>
#include <vector>

#include "Connection/Commands.h"
#include "core/Metrics.h"

namespace {

using enum KnownBy;
using enum BeforeLogin;
using enum DuringTransfer;
using enum PathIn;

constexpr CommandRow commandTable[] = {
    {.Keyword = "USER", .Handler = CommandUser, .Early = Always},
    {.Keyword = "PASS", .Handler = CommandPass, .Early = Always, .SecretArgument = true},
    {.Keyword = "CWD", .Handler = CommandCwd, .Feature = "TVFS", .Path = Argument},
    {.Keyword = "PWD", .Handler = CommandPwd},
    {.Keyword = "PORT", .Handler = CommandPort},
    {.Keyword = "PASV", .Handler = CommandPasv},
    {.Keyword = "TYPE", .Handler = CommandType},
    {.Keyword = "LIST", .Handler = CommandList, .Needs = PermitList, .Path = AfterOptions},
    {.Keyword = "REST", .Handler = CommandRest, .StubWithoutExtensions = true, .Feature = "REST STREAM"},
    {.Keyword = "CDUP", .Handler = CommandCdup, .StubWithoutExtensions = true},
    {.Keyword = "RETR", .Handler = CommandRetr, .Needs = PermitRead, .Path = Argument},
    {.Keyword = "STOR", .Handler = CommandStor, .Needs = PermitWrite, .Path = Argument},
    {.Keyword = "SIZE", .Handler = CommandSize, .Feature = "SIZE", .Needs = PermitList, .Path = Argument},
    {.Keyword = "DELE", .Handler = CommandDele, .Needs = PermitDelete, .Path = Argument},
    {.Keyword = "RMD", .Handler = CommandRmd, .Needs = PermitRmdir, .Path = Argument},
    {.Keyword = "MKD", .Handler = CommandMkd, .Needs = PermitMkdir, .Path = Argument},
    {.Keyword = "RNFR", .Handler = CommandRnfr, .Needs = PermitRename, .Path = Argument},
    {.Keyword = "RNTO", .Handler = CommandRnto, .Needs = PermitRename, .Path = Argument},
    {.Keyword = "ABOR", .Handler = CommandAbor, .StubWithoutExtensions = true, .Transfer = AtOnce},
    {.Keyword = "SYST", .Handler = CommandSyst, .Early = WithExtensions},
    {.Keyword = "NOOP", .Handler = CommandNoop, .Early = WithExtensions, .Transfer = InTurn},
    {.Keyword = "BYE", .Handler = CommandQuit},
    {.Keyword = "QUIT", .Handler = CommandQuit, .Early = WithExtensions},
    {.Keyword = "FEAT", .Handler = CommandFeat, .Known = Extensions, .Early = WithExtensions},
    {.Keyword = "OPTS", .Handler = CommandOpts, .Known = Extensions, .Early = WithExtensions, .Feature = "UTF8"},
    {.Keyword = "HELP", .Handler = CommandHelp, .Known = Extensions, .Early = WithExtensions},
    {.Keyword = "STAT", .Handler = CommandStat, .Known = Extensions, .Transfer = InTurn,
     .Needs = PermitList, .Path = Argument},
    {.Keyword = "XCUP", .Handler = CommandCdup, .Known = Extensions},
    {.Keyword = "XCWD", .Handler = CommandCwd, .Known = Extensions, .Path = Argument},
    {.Keyword = "XPWD", .Handler = CommandPwd, .Known = Extensions},
    {.Keyword = "XMKD", .Handler = CommandMkd, .Known = Extensions, .Needs = PermitMkdir, .Path = Argument},
    {.Keyword = "XRMD", .Handler = CommandRmd, .Known = Extensions, .Needs = PermitRmdir, .Path = Argument},
    {.Keyword = "NLST", .Handler = CommandNlst, .Known = Extensions, .Needs = PermitList, .Path = AfterOptions},
    {.Keyword = "MLSD", .Handler = CommandMlsd, .Known = Extensions, .Needs = PermitList, .Path = Argument},
    {.Keyword = "MLST", .Handler = CommandMlst, .Known = Extensions, .Feature = "MLST",
     .Needs = PermitList, .Path = Argument},
    {.Keyword = "MDTM", .Handler = CommandMdtm, .Known = Extensions, .Feature = "MDTM",
     .Needs = PermitList, .Path = Argument},
    {.Keyword = "MFMT", .Handler = CommandMfmt, .Known = Extensions, .Feature = "MFMT",
     .Needs = PermitMtime, .Path = AfterOneWord},
    {.Keyword = "APPE", .Handler = CommandAppe, .Known = Extensions, .Needs = PermitAppend, .Path = Argument},
    {.Keyword = "EPSV", .Handler = CommandEpsv, .Known = Extensions, .Feature = "EPSV"},
    {.Keyword = "EPRT", .Handler = CommandEprt, .Known = Extensions, .Feature = "EPRT"},
    {.Keyword = "HASH", .Handler = CommandHash, .Known = Extensions, .Feature = "HASH", .Needs = PermitRead,
     .Path = Argument},
    {.Keyword = "RANG", .Handler = CommandRang, .Known = Extensions},
    {.Keyword = "XCRC", .Handler = CommandXcrc, .Known = Extensions, .Needs = PermitRead, .Path = Argument},
    {.Keyword = "XMD5", .Handler = CommandXmd5, .Known = Extensions, .Needs = PermitRead, .Path = Argument},
    {.Keyword = "XSHA1", .Handler = CommandXsha1, .Known = Extensions, .Needs = PermitRead, .Path = Argument},
    {.Keyword = "XSHA256", .Handler = CommandXsha256, .Known = Extensions, .Needs = PermitRead, .Path = Argument},
    {.Keyword = "XSHA512", .Handler = CommandXsha512, .Known = Extensions, .Needs = PermitRead, .Path = Argument},
    {.Keyword = "MODE", .Handler = CommandMode, .Known = Extensions},
    {.Keyword = "STRU", .Handler = CommandStru, .Known = Extensions},
    {.Keyword = "ALLO", .Handler = CommandAllo, .Known = Extensions},
    {.Keyword = "SITE", .Handler = CommandSite, .Known = Extensions, .Path = AfterTwoWords},
    {.Keyword = "SMNT", .Handler = CommandRefused, .Known = Extensions, .InHelp = false},
    {.Keyword = "REIN", .Handler = CommandRefused, .Known = Extensions, .InHelp = false},
    {.Keyword = "STOU", .Handler = CommandRefused, .Known = Extensions, .InHelp = false},
    // FTPS: before login, and not as activity after it either
    {.Keyword = "AUTH", .Handler = CommandAuth, .Known = Tls, .Early = Always, .Activity = false, .Feature = "AUTH TLS"},
    {.Keyword = "PBSZ", .Handler = CommandPbsz, .Known = Tls, .Early = Always, .Activity = false, .Feature = "PBSZ"},
    {.Keyword = "PROT", .Handler = CommandProt, .Known = Tls, .Early = Always, .Activity = false, .Feature = "PROT"},
    {.Keyword = "CCC", .Handler = CommandCcc, .Known = Tls, .Early = Always, .Activity = false},
};

static_assert(std::size(commandTable) <= MetricCommandRows, "the metrics count commands by row");

bool Knows(const CommandRow& row, bool extensions, bool tls) {
    return row.Known == Every || (row.Known == Extensions && extensions) || (row.Known == Tls && tls);
}

bool IsKeywordEnd(char c) { return c == ' ' || c == '\r' || c == '\n'; }

}  // namespace

const CommandRow* FindCommand(std::string_view keyword, bool extensions, bool tls) {
    for (const CommandRow& row : commandTable)
        if (keyword == row.Keyword) return Knows(row, extensions, tls) ? &row : nullptr;
    return nullptr;
}

int CommandRows() { return static_cast<int>(std::size(commandTable)); }
int CommandRowNumber(const CommandRow& row) { return static_cast<int>(&row - commandTable); }
const char* CommandRowKeyword(int number) { return commandTable[number].Keyword; }

std::string HelpList(bool tls) {
    std::vector<std::string_view> keywords;
    for (const CommandRow& row : commandTable)
        if (row.InHelp && Knows(row, true, tls)) keywords.push_back(row.Keyword);
    std::sort(keywords.begin(), keywords.end());
    std::string list;
    constexpr size_t PerLine = 18;
    for (size_t i = 0; i < keywords.size(); ++i) {
        list += ' ';
        list += keywords[i];
        if (i % PerLine == PerLine - 1 || i + 1 == keywords.size()) list += "\r\n";
    }
    return list;
}

std::string FeatureLines(bool tls, std::string_view mlstFacts, std::string_view hashes) {
    std::vector<std::string> features, tlsFeatures;
    for (const CommandRow& row : commandTable) {
        if (row.Feature == nullptr || !Knows(row, true, tls)) continue;
        std::string line = std::string(" ") + row.Feature;
        if (std::string_view(row.Feature) == "MLST") line += std::string(" ") + std::string(mlstFacts);
        if (std::string_view(row.Feature) == "HASH") line += std::string(" ") + std::string(hashes);
        (row.Known == Tls ? tlsFeatures : features).push_back(line + "\r\n");
    }
    std::sort(features.begin(), features.end());
    std::sort(tlsFeatures.begin(), tlsFeatures.end());
    std::string lines;
    for (const auto& group : {features, tlsFeatures})
        for (const std::string& line : group) lines += line;
    return lines;
}

CommandLine ParseCommandLine(std::string_view line) {
    CommandLine parsed;
    size_t keywordEnd = 0;
    while (keywordEnd < line.size() && !IsKeywordEnd(line[keywordEnd])) ++keywordEnd;
    size_t kept = keywordEnd < KeywordSize - 1 ? keywordEnd : KeywordSize - 1;
    for (size_t i = 0; i < kept; ++i) {
        char c = line[i];
        parsed.Keyword[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    parsed.Keyword[kept] = '\0';
    size_t start = keywordEnd < line.size() ? keywordEnd + 1 : line.size();
    size_t end = start;
    while (end < line.size() && line[end] != '\r' && line[end] != '\n') ++end;
    parsed.Argument = line.substr(start, end - start);
    return parsed;
}

bool IsWord(std::string_view argument, std::string_view upperWord) {
    if (argument.size() != upperWord.size()) return false;
    for (size_t i = 0; i < argument.size(); ++i) {
        char c = argument[i];
        if ((c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) != upperWord[i]) return false;
    }
    return true;
}
