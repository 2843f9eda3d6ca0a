#include "Connection/CommandLoop.h"

#include <cstring>

#include "Connection/Commands.h"
#include "Connection/Replies.h"
#include "Connection/Session.h"
#include "Connection/Slots.h"
#include "core/Console.h"
#include "core/Records.h"
#include "platform/Net.h"
#include "platform/System.h"

namespace {

struct CommandRow {
    int Id;
    const char* Keyword;
};

constexpr CommandRow cmds[] = {
    {CmdUSER, "USER"}, {CmdPASS, "PASS"}, {CmdCWD, "CWD"},   {CmdPWD, "PWD"},   {CmdPORT, "PORT"},
    {CmdPASV, "PASV"}, {CmdTYPE, "TYPE"}, {CmdLIST, "LIST"}, {CmdREST, "REST"}, {CmdCDUP, "CDUP"},
    {CmdRETR, "RETR"}, {CmdSTOR, "STOR"}, {CmdSIZE, "SIZE"}, {CmdDELE, "DELE"}, {CmdRMD, "RMD"},
    {CmdMKD, "MKD"},   {CmdRNFR, "RNFR"}, {CmdRNTO, "RNTO"}, {CmdABOR, "ABOR"}, {CmdSYST, "SYST"},
    {CmdNOOP, "NOOP"}, {CmdBYE, "BYE"},   {CmdQUIT, "QUIT"}, {CmdUnrecognized, ""},
};

using Handler = void (*)(Session&, char*);

Handler HandlerOf(int id) {
    switch (id) {
        case CmdUSER: return CommandUser;
        case CmdPASS: return CommandPass;
        case CmdCWD: return CommandCwd;
        case CmdPWD: return CommandPwd;
        case CmdPORT: return CommandPort;
        case CmdPASV: return CommandPasv;
        case CmdTYPE: return CommandType;
        case CmdLIST: return CommandList;
        case CmdRETR: return CommandRetr;
        case CmdSTOR: return CommandStor;
        case CmdSIZE: return CommandSize;
        case CmdDELE: return CommandDele;
        case CmdRMD: return CommandRmd;
        case CmdMKD: return CommandMkd;
        case CmdRNFR: return CommandRnfr;
        case CmdRNTO: return CommandRnto;
        case CmdSYST: return CommandSyst;
        case CmdNOOP: return CommandNoop;
        case CmdBYE:
        case CmdQUIT: return CommandQuit;
        default: return nullptr;  // REST, CDUP, ABOR
    }
}

bool IsKeywordEnd(char c) { return c == ' ' || c == '\r' || c == '\n'; }

// A connection ends when its slot was freed (by itself or by another thread)
// or when the program stops.
bool ConnectionGoesOn(const Session& session) { return FTPOK && session.Record.InUsed.load() != 0; }

// Reads commands until the connection ends. Every complete line is one
// command, in order; a line may arrive over several receives.
void ServeCommands(Session& session) {
    char received[2 * (CommandLineLimit + 2)];
    size_t held = 0;           // bytes of an unfinished line kept from earlier receives
    bool discarding = false;   // inside a line too long to run
    while (ConnectionGoesOn(session)) {
        long got = NetReceive(session.Socket, received + held, sizeof received - held, session.WakeFd);
        if (got <= 0) return;
        held += static_cast<size_t>(got);
        size_t start = 0;
        while (const char* end = static_cast<const char*>(std::memchr(received + start, '\n', held - start))) {
            size_t lineEnd = static_cast<size_t>(end - received);
            size_t length = lineEnd - start;
            if (length > 0 && received[lineEnd - 1] == '\r') --length;
            if (discarding) discarding = false;  // the end of a line already refused
            else if (length > CommandLineLimit) Reply(session, Replies::SyntaxError);
            else RunCommandLine(session, received + start, length);
            start = lineEnd + 1;
            if (!ConnectionGoesOn(session)) return;
        }
        std::memmove(received, received + start, held - start);
        held -= start;
        // SECURITY: an unfinished line may not outgrow the limit; it is refused
        // now and its bytes are dropped up to its line end.
        size_t pending = held > 0 && received[held - 1] == '\r' ? held - 1 : held;
        if (!discarding && pending > CommandLineLimit) {
            Reply(session, Replies::SyntaxError);
            discarding = true;
        }
        if (discarding) held = 0;
    }
}

}  // namespace

int GetCommandID(const char* keyword) {
    for (const CommandRow& row : cmds)
        if (std::strcmp(row.Keyword, keyword) == 0) return row.Id;
    return CmdUnrecognized;
}

void RunCommandLine(Session& session, const char* line, size_t length) {
    // Keyword: up to the first blank or line end; at most 15 characters are kept.
    char keyword[16];
    size_t keywordEnd = 0;
    while (keywordEnd < length && !IsKeywordEnd(line[keywordEnd])) ++keywordEnd;
    size_t kept = keywordEnd < sizeof keyword - 1 ? keywordEnd : sizeof keyword - 1;
    for (size_t i = 0; i < kept; ++i) {
        char c = line[i];
        keyword[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    keyword[kept] = '\0';
    // Argument: after one delimiter, up to the next carriage return or line end.
    char argument[CommandLineLimit + 1];
    size_t argumentStart = keywordEnd < length ? keywordEnd + 1 : length;
    size_t argumentLength = 0;
    while (argumentStart + argumentLength < length && line[argumentStart + argumentLength] != '\r' &&
           line[argumentStart + argumentLength] != '\n')
        ++argumentLength;  // blanks belong to the argument, leading and trailing ones too
    std::memcpy(argument, line + argumentStart, argumentLength);
    argument[argumentLength] = '\0';

    ConsolePrintf("<<%d:%s %s\r\n", session.Socket, keyword, argument);
    int id = GetCommandID(keyword);
    int state = session.Record.State.load();
    if (id == CmdUnrecognized) {
        Reply(session, Replies::SyntaxError);
    } else if (state == StateLoggedOut && id != CmdUSER && id != CmdPASS) {
        Reply(session, Replies::PleaseLogin);
    } else if (state != StateLoggedOut && state != StateLoggedIn) {
        Reply(session, Replies::Reading);
    } else {
        session.Record.TickCount = 0;
        if (Handler handler = HandlerOf(id)) handler(session, argument);
        else Reply(session, Replies::NotImplemented);
    }
}

void ConnectionInstanceProc(ConnectionStart start) {
    ConnectionRecord& record = *Connection[start.Slot];
    static thread_local int threadId = CurrentThreadId();
    record.ThisThread = threadId;
    Session session(start.Slot, start.Generation, start.Socket, start.WakeFd, record);
    if (ReplyWith(session, Replies::WelcomePrefix, Server[record.ServerID]->WelcomeText, Replies::WelcomeSuffix))
        ServeCommands(session);
    Quit(start.Slot, start.Generation);
    CloseDataSocket(session);
    NetClose(start.Socket);
}
