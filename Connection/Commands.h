// The command handlers, each reached through its row of the command table
// (CommandTable.cpp). Each sends its reply lines on the control connection and
// returns to the command loop; argument is the command's argument text
// (possibly empty), which a handler may change in place.
#pragma once

#include <string>
#include <string_view>

#include "platform/Digest.h"

struct Session;

// Login and basic commands
void CommandUser(Session& session, char* argument);
void CommandPass(Session& session, char* argument);
void CommandPwd(Session& session, char* argument);
void CommandType(Session& session, char* argument);
void CommandSyst(Session& session, char* argument);
void CommandNoop(Session& session, char* argument);
void CommandQuit(Session& session, char* argument);

// Directories and files
void CommandCwd(Session& session, char* argument);
void CommandSize(Session& session, char* argument);
void CommandDele(Session& session, char* argument);
void CommandRmd(Session& session, char* argument);
void CommandMkd(Session& session, char* argument);
void CommandRnfr(Session& session, char* argument);
void CommandRnto(Session& session, char* argument);

// Data connection and transfers
void CommandPort(Session& session, char* argument);
void CommandPasv(Session& session, char* argument);
void CommandList(Session& session, char* argument);
void CommandRetr(Session& session, char* argument);
void CommandStor(Session& session, char* argument);

// With the extensions (Extensions.cpp, and beside their kin above)
void CommandFeat(Session& session, char* argument);
void CommandOpts(Session& session, char* argument);
void CommandHelp(Session& session, char* argument);
void CommandStat(Session& session, char* argument);
void CommandAbor(Session& session, char* argument);
void CommandMode(Session& session, char* argument);
void CommandStru(Session& session, char* argument);
void CommandAllo(Session& session, char* argument);
void CommandSite(Session& session, char* argument);
void CommandRefused(Session& session, char* argument);  // SMNT, REIN, STOU: 502
void CommandCdup(Session& session, char* argument);
void CommandMdtm(Session& session, char* argument);
void CommandMfmt(Session& session, char* argument);
void CommandMlst(Session& session, char* argument);
void CommandRest(Session& session, char* argument);
void CommandNlst(Session& session, char* argument);
void CommandMlsd(Session& session, char* argument);
void CommandAppe(Session& session, char* argument);
void CommandEpsv(Session& session, char* argument);
void CommandEprt(Session& session, char* argument);

// Digests of files (Hashing.cpp); with OPTS HASH and FEAT's HASH line
void CommandHash(Session& session, char* argument);
void CommandRang(Session& session, char* argument);
void CommandXcrc(Session& session, char* argument);
void CommandXmd5(Session& session, char* argument);
void CommandXsha1(Session& session, char* argument);
void CommandXsha256(Session& session, char* argument);
void CommandXsha512(Session& session, char* argument);
std::string HashFeature(DigestKind selected);            // "SHA-256*;SHA-512;..."
void SelectHash(Session& session, std::string_view name);  // OPTS HASH [name]

// FTPS (Security.cpp), with a TLS certificate
void CommandAuth(Session& session, char* argument);
void CommandPbsz(Session& session, char* argument);
void CommandProt(Session& session, char* argument);
void CommandCcc(Session& session, char* argument);
// The server side of the control connection's TLS handshake (after AUTH, or
// at once on an implicit FTPS port); false, reported, when it failed.
bool StartControlTls(Session& session);
