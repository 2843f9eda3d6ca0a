#include "Operator/Console.h"

#include <cctype>
#include <cstring>
#include <mutex>
#include <string>

#include "core/Log.h"
#include "core/LogFiles.h"
#include "core/Options.h"
#include "core/Records.h"
#include "core/Slots.h"
#include "core/TransferView.h"
#include "platform/System.h"

// ---- Input --------------------------------------------------------------

namespace {

bool StopsTheProgram(ProgramSignal signal) {
    // SIGHUP rotates the logs and resolves --passive-address's host name
    // again, when there are any; otherwise it stops the program, like SIGINT
    // and SIGTERM (a closed terminal).
    if (signal != ProgramSignal::HangUp || (!LogFilesConfigured() && Options.PassiveHost.empty())) return true;
    if (LogFilesConfigured()) ReopenLogFiles();
    if (!ResolvePassiveHost())
        ConsolePrintf("%s no longer resolves to an IPv4 address: PASV announces the address it had.\n",
                      Options.PassiveHost.c_str());
    return false;
}

constexpr int EndOfInput = -1;
constexpr int StopSignal = -2;

struct {
    char Buffer[4096];
    size_t Next = 0;
    size_t Filled = 0;
    bool Ended = false;       // standard input is at its end
    bool Signalled = false;   // SIGINT or SIGTERM arrived
    int LastDelimiter = '\n'; // the character that ended the last word
    int SignalFd = -1;
} input;

int NextChar() {
    if (input.Next < input.Filled) return static_cast<unsigned char>(input.Buffer[input.Next++]);
    if (input.Ended) return EndOfInput;
    ConsoleFlush();  // the prompt, and everything before it, is out before we wait
    size_t got = 0;
    for (;;) {
        ConsoleInput read = ConsoleRead(input.Buffer, sizeof input.Buffer, input.SignalFd, &got);
        if (read == ConsoleInput::Read) break;
        if (read == ConsoleInput::Ended) {
            input.Ended = true;
            return EndOfInput;
        }
        if (!StopsTheProgram(SignalsConsume(input.SignalFd))) continue;
        input.Signalled = true;
        return StopSignal;
    }
    input.Next = 0;
    input.Filled = got;
    return static_cast<unsigned char>(input.Buffer[input.Next++]);
}

// Reads up to the end of the current line; false when input ended or a signal came first.
bool SkipLine() {
    for (;;) {
        int c = NextChar();
        if (c < 0) return false;
        if (c == '\n') return true;
    }
}

}  // namespace

void SetConsoleStopSignal(int signalFd) { input.SignalFd = signalFd; }

bool ConsoleReadWord(char* word, size_t size) {
    int c;
    do {
        c = NextChar();
        if (c < 0) return false;
    } while (std::isspace(c));
    size_t length = 0;
    // SECURITY: a word longer than the buffer is cut; the rest of it is read and dropped.
    while (c >= 0 && !std::isspace(c)) {
        if (length + 1 < size) word[length++] = static_cast<char>(c);
        c = NextChar();
    }
    word[length] = '\0';
    input.LastDelimiter = c;
    return true;
}

// ---- Views --------------------------------------------------------------

void ViewConnections() {
    std::string view;
    {
        std::lock_guard<std::mutex> hold(SlotLock);  // the directory texts change under it
        int count = ConnectionCount.load();
        AppendFormat(view, "ConnectionCount:%d\n", count);
        for (int i = 0; i < count; ++i) {
            const ConnectionRecord& slot = *Connection[i];
            AppendFormat(view, "Connection[%d]:\n", i);
            AppendFormat(view, "\tState:%d\n", slot.State.load());
            AppendFormat(view, "\tUserID:%d\n", slot.UserID.load());
            AppendFormat(view, "\tServerID:%d\n", slot.ServerID.load());
            AppendFormat(view, "\tTickCount:%d\n", slot.TickCount.load());
            AppendFormat(view, "\tThisThread:%d\n", slot.ThisThread.load());
            AppendFormat(view, "\tLocalDirectory:%s\n", slot.LocalDirectory);
            AppendFormat(view, "\tCurrentDirectory:%s\n", slot.CurrentDirectory);
            AppendFormat(view, "\tSocket:%d\n", slot.Socket.load());
            AppendFormat(view, "\tDataSocket:%d\n", slot.DataSocket.load());
            AppendFormat(view, "\tPassiveMode:%d\n", static_cast<int>(slot.PassiveMode.load()));
            AppendFormat(view, "\tInUsed:%d\n", static_cast<int>(static_cast<int8_t>(slot.InUsed.load())));
        }
    }
    ConsoleText(view);
}

void ViewServers() {
    std::string view;
    AppendFormat(view, "ServerCount:%d\n", ServerCount);
    for (int i = 0; i < ServerCount; ++i) {
        const ServerRecord& server = *Server[i];
        AppendFormat(view, "Server[%d]:\n", i);
        AppendFormat(view, "\tState:%d\n", server.State.load());
        AppendFormat(view, "\tName:%s\n", server.Name);
        AppendFormat(view, "\tIP::%s\n", server.IP);
        AppendFormat(view, "\tPort:%d\n", server.Port);
        AppendFormat(view, "\tMaxConnections:%d\n", server.MaxConnections);
        AppendFormat(view, "\tOnlineConnections:%d\n", server.OnlineConnections.load());
        AppendFormat(view, "\tWelcomeText:%s\n", server.WelcomeText);
        AppendFormat(view, "\tGoodByeText:%s\n", server.GoodByeText);
        AppendFormat(view, "\tThread:%d\n", server.Thread.load());
        AppendFormat(view, "\tSocket:%d\n", server.Socket.load());
    }
    ConsoleText(view);
}

void ViewUsers() {
    std::string view;
    AppendFormat(view, "UserCount:%d\n", UserCount);
    for (int i = 0; i < UserCount; ++i) {
        const UserRecord& user = *User[i];
        AppendFormat(view, "User[%d]:\n", i);
        AppendFormat(view, "\tName:%s\n", user.Name);
        AppendFormat(view, "\tPassWord:%s\n", Options.HidePasswords ? "****" : user.PassWord);
        AppendFormat(view, "\tServerID:%d\n", user.ServerID);
        AppendFormat(view, "\tMaxConnections:%d\n", user.MaxConnections);
        AppendFormat(view, "\tOnlineConnections:%d\n", user.OnlineConnections.load());
        AppendFormat(view, "\tUserGroup:%d\n", user.UserGroup);
        AppendFormat(view, "\tEnabled:%d\n", static_cast<int>(user.Enabled));
    }
    ConsoleText(view);
}

// ---- The loop -----------------------------------------------------------

void RunConsole() {
    char command[256];
    char argument[256];
    while (FTPOK) {
        ConsoleText("Vostrine>");
        // The end of input and SIGINT/SIGTERM stop the program as "close" does.
        if (!ConsoleReadWord(command, sizeof command)) break;
        if (std::strcmp(command, "close") == 0) {
            FTPOK = false;
        } else if (std::strcmp(command, "view") == 0) {
            if (!ConsoleReadWord(argument, sizeof argument)) break;
            if (std::strcmp(argument, "conn") == 0) ViewConnections();
            else if (std::strcmp(argument, "server") == 0) ViewServers();
            else if (std::strcmp(argument, "user") == 0) ViewUsers();
            else if (std::strcmp(argument, "xfer") == 0 && Options.Extensions) ConsoleText(TransferTable());
        } else if (std::strcmp(command, "clear") == 0) {
            QuitEveryConnection();
        }
    }
    FTPOK = false;
}

void PauseConsole() {
    if (input.Signalled) return;  // a service manager waits for no one to press Enter
    bool closedByWord = !input.Ended;
    if (closedByWord && input.LastDelimiter != '\n' && !SkipLine()) {
        ConsoleText("Press Enter to continue . . .");
        return;
    }
    ConsoleText("Press Enter to continue . . .");
    SkipLine();  // a line, the end of input, or another stop signal
}

void WaitForStopSignal() {
    while (!StopsTheProgram(SignalsWait(input.SignalFd))) {
    }
    input.Signalled = true;
    FTPOK = false;
}
