#include "Connection/CommandTable.h"

#include "Connection/Commands.h"

namespace {

constexpr unsigned Login = BeforeLogin | CountsAsActivity;
constexpr unsigned Plain = CountsAsActivity;
constexpr unsigned Stub = CountsAsActivity | StubWithoutExtensions;    // known, not implemented without them
constexpr unsigned Extra = CountsAsActivity | ExtensionOnly;
constexpr unsigned Early = BeforeLoginExtended;  // and counted as activity after login
constexpr unsigned Secure = NeedsTls | BeforeLogin;  // FTPS: before login, not as activity then

constexpr CommandRow commandTable[] = {
    {"USER", CommandUser, Login},
    {"PASS", CommandPass, Login},
    {"CWD", CommandCwd, Plain},
    {"PWD", CommandPwd, Plain},
    {"PORT", CommandPort, Plain},
    {"PASV", CommandPasv, Plain},
    {"TYPE", CommandType, Plain},
    {"LIST", CommandList, Plain},
    {"REST", CommandRest, Stub},
    {"CDUP", CommandCdup, Stub},
    {"RETR", CommandRetr, Plain},
    {"STOR", CommandStor, Plain},
    {"SIZE", CommandSize, Plain},
    {"DELE", CommandDele, Plain},
    {"RMD", CommandRmd, Plain},
    {"MKD", CommandMkd, Plain},
    {"RNFR", CommandRnfr, Plain},
    {"RNTO", CommandRnto, Plain},
    {"ABOR", CommandAbor, Stub | DuringTransfer},
    {"SYST", CommandSyst, Plain | Early},
    {"NOOP", CommandNoop, Plain | Early | DuringTransfer},
    {"BYE", CommandQuit, Plain},
    {"QUIT", CommandQuit, Plain | Early},
    // With --extensions only
    {"FEAT", CommandFeat, Extra | Early},
    {"OPTS", CommandOpts, Extra | Early},
    {"HELP", CommandHelp, Extra | Early},
    {"STAT", CommandStat, Extra | DuringTransfer},
    {"XCUP", CommandCdup, Extra},
    {"XCWD", CommandCwd, Extra},
    {"XPWD", CommandPwd, Extra},
    {"XMKD", CommandMkd, Extra},
    {"XRMD", CommandRmd, Extra},
    {"NLST", CommandNlst, Extra},
    {"MLSD", CommandMlsd, Extra},
    {"MLST", CommandMlst, Extra},
    {"MDTM", CommandMdtm, Extra},
    {"MFMT", CommandMfmt, Extra},
    {"APPE", CommandAppe, Extra},
    {"EPSV", CommandEpsv, Extra},
    {"EPRT", CommandEprt, Extra},
    {"MODE", CommandMode, Extra},
    {"STRU", CommandStru, Extra},
    {"ALLO", CommandAllo, Extra},
    {"SITE", CommandSite, Extra},
    {"SMNT", CommandRefused, Extra},
    {"REIN", CommandRefused, Extra},
    {"STOU", CommandRefused, Extra},
    // With a TLS certificate only
    {"AUTH", CommandAuth, Secure},
    {"PBSZ", CommandPbsz, Secure},
    {"PROT", CommandProt, Secure},
    {"CCC", CommandCcc, Secure},
};

bool IsKeywordEnd(char c) { return c == ' ' || c == '\r' || c == '\n'; }

}  // namespace

const CommandRow* FindCommand(std::string_view keyword, bool extensions, bool tls) {
    for (const CommandRow& row : commandTable) {
        if (keyword != row.Keyword) continue;
        if (((row.Flags & ExtensionOnly) && !extensions) || ((row.Flags & NeedsTls) && !tls)) return nullptr;
        return &row;
    }
    return nullptr;
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
