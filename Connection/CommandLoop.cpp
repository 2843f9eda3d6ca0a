#include "Connection/CommandLoop.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "Connection/CommandTable.h"
#include "Connection/ConnectionThreads.h"
#include "Connection/Commands.h"
#include "Connection/Replies.h"
#include "Connection/Session.h"
#include "Connection/TransferEngine.h"
#include "core/Log.h"
#include "core/Metrics.h"
#include "core/Options.h"
#include "core/ProxyProtocol.h"
#include "core/Records.h"
#include "core/Slots.h"
#include "platform/System.h"
#include "platform/Tls.h"

namespace {

constexpr int64_t GoodbyeWait = 1000;  // milliseconds

// A connection ends when its slot was freed (by itself or by another thread)
// or when the program stops.
bool ConnectionGoesOn(const Session& session) { return FTPOK && session.Serving(); }

// Runs the lines that arrived while a transfer went on, in order.
void RunLaterLines(Session& session) {
    session.ControlFull = false;
    ControlInput& input = session.Input;
    for (size_t i = 0; i < input.Later.size() && ConnectionGoesOn(session); ++i) {
        if (input.Later[i].TooLong) Reply(session, Replies::SyntaxError);
        else RunCommandLine(session, input.Later[i].Text);
    }
    input.Later.clear();
    input.Later.shrink_to_fit();  // an idle connection holds no such memory
    input.LaterBytes = 0;
}

// Reads commands until the connection ends. Every complete line is one
// command, in order; a line may arrive over several receives.
void ServeCommands(Session& session) {
    ControlInput& input = session.Input;
    while (ConnectionGoesOn(session)) {
        std::string_view line;
        switch (TakeLine(input, &line)) {
            case LineStatus::Line: RunCommandLine(session, line); break;
            case LineStatus::TooLong: Reply(session, Replies::SyntaxError); break;
            case LineStatus::NeedMore: {
                if (EarlyDataAwaited(session) && !session.Control.Buffered()) {
                    NetWaits orListener(-1, session.Endpoint.Listener.Get());
                    if (NetWaitReadable(session.Control.Fd(), orListener) == NetStatus::Interrupted) {
                        TakeEarlyDataConnection(session);
                        break;
                    }
                }
                NetResult got = session.Control.Read(input.Free(), input.FreeSize(), NetWaits());
                if (!got.Ok()) return;
                input.Received(got.Count);
                break;
            }
        }
        if (!input.Later.empty()) RunLaterLines(session);
    }
}

// The path a command's argument names, where its row says it is.
std::string_view NamedPath(PathIn where, std::string_view argument) {
    auto skipWord = [&argument] {
        size_t blank = argument.find(' ');
        argument = blank == std::string_view::npos ? std::string_view() : argument.substr(blank + 1);
    };
    switch (where) {
        case PathIn::None: return {};
        case PathIn::Argument: return argument;
        case PathIn::AfterOptions:
            while (!argument.empty() && (argument[0] == ' ' || argument[0] == '-')) {
                if (argument[0] == '-') skipWord();
                else argument.remove_prefix(1);
            }
            return argument;
        case PathIn::AfterOneWord: skipWord(); return argument;
        case PathIn::AfterTwoWords: skipWord(); skipWord(); return argument;
    }
    return argument;
}

// The rights a command needs: its row's, with three that depend on what it
// is asked: STOR after REST appends, STAT without a path lists nothing, and
// SITE CHMOD changes modes.
uint16_t NeededPermissions(const Session& session, const CommandRow& row, std::string_view argument) {
    if (row.Handler == CommandStor && session.RestartOffset > 0) return PermitAppend;
    if (row.Handler == CommandStat && argument.empty()) return 0;
    if (row.Handler == CommandSite && argument.size() >= 6 && IsWord(argument.substr(0, 6), "CHMOD ")) return PermitChmod;
    return row.Needs;
}

// SECURITY: an account's settings may withhold commands and names; every
// command is held to them here, before its handler runs.
bool Permitted(Session& session, const CommandRow& row, const char* keyword, std::string_view argument) {
    const AccountPolicy* policy = session.Policy;
    if (policy == nullptr || session.Record.State.load() == StateLoggedOut) return true;
    uint16_t missing = NeededPermissions(session, row, argument) & ~policy->Permissions;
    std::string_view path = NamedPath(row.Path, argument);
    if (missing == 0 && !(row.Path != PathIn::None && AnyNameMatches(path, policy->Deny))) return true;
    if (Options.Verbose)
        ConsolePrintf("Connection %d: account %s may not %s: %s\n", session.Control.Fd(), policy->Name.c_str(), keyword,
                      missing != 0 ? PermissionName(static_cast<uint16_t>(missing & -missing)) : "a denied name");
    Reply(session, Replies::PermissionDenied);
    return false;
}

// SECURITY: a connection from a trusted load balancer (--proxy-protocol)
// names its client in a PROXY header first, and that client is then the
// client everywhere: the address checks, the data connections, the logs.
// Without a valid header within the wait, or for the balancer's own health
// checks, it is closed without a word; from anyone else no header is read.
bool LearnRelayedClient(ConnectionStart& start) {
    ProxyHeader header = ReceiveProxyHeader(start.Socket);
    if (header.Status != ProxyHeaderStatus::Proxied) {
        if (Options.Verbose && header.Status == ProxyHeaderStatus::Invalid)
            ConsolePrintf("Connection %d: no valid PROXY protocol header from the balancer\n", start.Socket);
        return false;
    }
    start.Client = header.Source;
    return AdmitRelayedClient(start.Slot, start.Socket, start.Client);
}

bool SpeaksImplicitTls(const ServerRecord& server) {
    for (uint16_t port : Options.TlsImplicitPorts)
        if (port == server.Port) return true;
    return false;
}

// Implicit FTPS: the connection is TLS from its first byte, and its data
// connections are protected from the start, as after PROT P.
bool StartImplicitTls(Session& session) {
    if (!StartControlTls(session)) return false;
    session.ProtectData = true;
    return true;
}

}  // namespace

void RunCommandLine(Session& session, std::string_view line) {
    CommandLine command = ParseCommandLine(line);
    session.RangeNow = std::exchange(session.Range, ByteRange{});
    // Handlers get the argument as a text of their own, which they may change.
    char argument[CommandLineLimit + 1];
    std::memcpy(argument, command.Argument.data(), command.Argument.size());
    argument[command.Argument.size()] = '\0';

    bool extended = Spoken().Extended;
    const CommandRow* row = FindCommand(command.Keyword, extended, TlsReady());
    bool hidden = Options.HidePasswords && row != nullptr && row->SecretArgument;
    ConsoleEchoReceived(session.Control.Fd(), command.Keyword, hidden ? "****" : argument);
    if (row == nullptr) {
        Reply(session, Replies::SyntaxError);
        return;
    }
    Count(Metrics.Commands[CommandRowNumber(*row)]);
    if (session.Record.State.load() == StateLoggedOut) {
        // SECURITY: before a login nothing counts as activity (a successful
        // PASS does): the idle limit ends a connection that never logs in,
        // however many USER or PASS it sends.
        bool early = row->Early == BeforeLogin::Always || (extended && row->Early == BeforeLogin::WithExtensions);
        if (!early) {
            Reply(session, Replies::PleaseLogin);
            return;
        }
    } else if (row->Activity) {
        session.Record.TickCount = 0;
    }
    if (extended && !session.Transferring) {  // for STAT and "view xfer", which the extensions bring
        std::string_view parts[] = {command.Keyword, " ", argument};
        size_t length = 0;
        for (std::string_view part : parts) {
            size_t room = std::min(part.size(), sizeof session.CommandText - 1 - length);
            std::memcpy(session.CommandText + length, part.data(), room);
            length += room;
        }
        session.CommandText[length] = '\0';
    }
    if (row->StubWithoutExtensions && !extended) Reply(session, Replies::NotImplemented);
    else if (Permitted(session, *row, command.Keyword, argument)) row->Handler(session, argument);
}

bool HearDuringTransfer(Session& session) {
    if (!session.Serving()) return false;  // dropped: the shutdown of the control connection woke us
    ControlInput& input = session.Input;
    if (!session.HearsCommands()) {
        // SECURITY: only a hang-up ends such a wait: the client reset the
        // control connection, and an abandoned transfer does not hold the slot.
        QuitOwn(session.Slot, session.Generation);
        return false;
    }
    if (input.FreeSize() == 0) {
        session.ControlFull = true;  // the client waits until the transfer ends
        return true;
    }
    NetResult got = session.Control.Read(input.Free(), input.FreeSize(), NetWaits());
    if (got.Status == NetStatus::Ended) {
        // A client that pipelined its commands and closed its side still gets
        // its file and its replies; one with nothing left to ask has gone.
        session.ControlEnded = true;
        bool waiting = !input.Later.empty() ||
                       std::memchr(input.Buffer + input.Start, '\n', input.Held - input.Start) != nullptr;
        if (waiting) return true;
    }
    if (!got.Ok()) {
        // SECURITY: a client that vanishes ends its transfer and its connection
        // at once: an abandoned transfer does not hold the slot.
        QuitOwn(session.Slot, session.Generation);
        return false;
    }
    input.Received(got.Count);
    if (!Spoken().HearsDuringTransfer) return true;  // the lines wait for the transfer's end
    for (;;) {
        std::string_view line;
        LineStatus status = TakeLine(input, &line);
        if (status == LineStatus::NeedMore) break;
        if (status == LineStatus::Line) {
            CommandLine command = ParseCommandLine(line);
            const CommandRow* row = FindCommand(command.Keyword, true, TlsReady());
            bool now = row != nullptr && (row->Transfer == DuringTransfer::AtOnce ||
                                          (row->Transfer == DuringTransfer::InTurn && input.Later.empty()));
            if (now) {
                RunCommandLine(session, line);
                continue;
            }
        }
        input.Later.push_back({std::string(status == LineStatus::Line ? line : std::string_view()),
                               status == LineStatus::TooLong});
        input.LaterBytes += line.size() + 1;
    }
    return !session.AbortRequested;
}

void ConnectionInstanceProc(ConnectionStart start) {
    ConnectionRecord& record = *Connection[start.Slot];
    static thread_local int threadId = CurrentThreadId();
    record.ThisThread = threadId;
    if (InAddressBlocks(start.Client, Options.TrustedProxies) && !LearnRelayedClient(start)) {
        QuitOwn(start.Slot, start.Generation);
        Descriptor closed(start.Socket);
        return;
    }
    Session session(start.Slot, start.Generation, Descriptor(start.Socket), record, start.Client);
    if (Options.Verbose)
        ConsolePrintf("Connection %d from %s port %u\n", start.Socket, ClientAddressText(session).Text,
                      static_cast<unsigned>(start.Client.Port));
    // On an implicit FTPS port the handshake comes first; a failed one ends
    // the connection without a word.
    bool ready = !SpeaksImplicitTls(*Server[record.ServerID]) || StartImplicitTls(session);
    if (ready && ReplyWith(session, Replies::WelcomePrefix, Server[record.ServerID]->WelcomeText, Replies::WelcomeSuffix))
        ServeCommands(session);
    if (record.TimedOut.load()) {
        // Its slot is already free, so Reply would send nothing: the goodbye
        // goes out directly, with a short wait for a client that reads nothing.
        ConsoleEchoSent(session.Control.Fd(), Replies::TimedOut);
        session.Control.WriteAll(Replies::TimedOut.data(), Replies::TimedOut.size(),
                                 NetWaits(-1, -1, MonotonicMilliseconds() + GoodbyeWait, false));
    }
    QuitOwn(start.Slot, start.Generation);
    CloseDataConnection(session);
    if (Options.Verbose) ConsolePrintf("Connection %d closed\n", start.Socket);
    // The control socket closes with the session.
}
