#include "Connection/CommandLoop.h"

#include <cstring>

#include "Connection/CommandTable.h"
#include "Connection/Replies.h"
#include "Connection/Session.h"
#include "core/Log.h"
#include "core/Records.h"
#include "core/Slots.h"
#include "platform/System.h"

namespace {

// A connection ends when its slot was freed (by itself or by another thread)
// or when the program stops.
bool ConnectionGoesOn(const Session& session) { return FTPOK && session.Serving(); }

// Reads commands until the connection ends. Every complete line is one
// command, in order; a line may arrive over several receives.
void ServeCommands(Session& session) {
    char received[2 * (CommandLineLimit + 2)];
    size_t held = 0;           // bytes of an unfinished line kept from earlier receives
    bool discarding = false;   // inside a line too long to run
    while (ConnectionGoesOn(session)) {
        NetResult got = session.Control.Read(received + held, sizeof received - held, session.WakeFd);
        if (!got.Ok()) return;
        held += got.Count;
        size_t start = 0;
        while (const char* end = static_cast<const char*>(std::memchr(received + start, '\n', held - start))) {
            size_t lineEnd = static_cast<size_t>(end - received);
            size_t length = lineEnd - start;
            if (length > 0 && received[lineEnd - 1] == '\r') --length;
            if (discarding) discarding = false;  // the end of a line already refused
            else if (length > CommandLineLimit) Reply(session, Replies::SyntaxError);
            else RunCommandLine(session, std::string_view(received + start, length));
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

void RunCommandLine(Session& session, std::string_view line) {
    CommandLine command = ParseCommandLine(line);
    // Handlers get the argument as a text of their own, which they may change.
    char argument[CommandLineLimit + 1];
    std::memcpy(argument, command.Argument.data(), command.Argument.size());
    argument[command.Argument.size()] = '\0';

    ConsolePrintf("<<%d:%s %s\r\n", session.Control.Fd(), command.Keyword, argument);
    const CommandRow* row = FindCommand(command.Keyword);
    if (row == nullptr) {
        Reply(session, Replies::SyntaxError);
    } else if (session.Record.State.load() == StateLoggedOut && !(row->Flags & BeforeLogin)) {
        Reply(session, Replies::PleaseLogin);
    } else {
        if (row->Flags & CountsAsActivity) session.Record.TickCount = 0;
        if (row->Handler != nullptr) row->Handler(session, argument);
        else Reply(session, Replies::NotImplemented);
    }
}

void ConnectionInstanceProc(ConnectionStart start) {
    ConnectionRecord& record = *Connection[start.Slot];
    static thread_local int threadId = CurrentThreadId();
    record.ThisThread = threadId;
    Session session(start.Slot, start.Generation, Descriptor(start.Socket), start.WakeFd, record);
    if (ReplyWith(session, Replies::WelcomePrefix, Server[record.ServerID]->WelcomeText, Replies::WelcomeSuffix))
        ServeCommands(session);
    Quit(start.Slot, start.Generation);
    CloseDataConnection(session);
    // The control socket closes with the session.
}
