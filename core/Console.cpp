#include "core/Console.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "Connection/Slots.h"
#include "core/Records.h"
#include "platform/System.h"

// ---- Output -------------------------------------------------------------

namespace {

// Lines from every thread are queued whole, in order, and one writer thread
// moves them to standard output, many in one write when the server is busy:
// the connection threads never wait for the console's file or terminal, nor
// for each other there. Without the writer (before it starts, after it
// stops) texts are written at once.
std::mutex queueLock;
std::condition_variable textQueued;    // the writer waits on it
std::condition_variable queueDrained;  // printers facing a full queue, and flushes, wait on it
std::string queued;                    // under queueLock
bool writing = false;                  // the writer is writing a batch, under queueLock
bool writerStops = false;              // under queueLock
std::thread writer;
constexpr size_t QueueLimit = 1 << 20;  // past this, a printer waits for the writer

void WriterLoop() {
    std::string batch;
    std::unique_lock<std::mutex> hold(queueLock);
    for (;;) {
        textQueued.wait(hold, [] { return !queued.empty() || writerStops; });
        if (queued.empty()) return;  // stopping, and everything is out
        batch.swap(queued);
        writing = true;
        hold.unlock();
        ConsoleWrite(batch.data(), batch.size());
        batch.clear();
        hold.lock();
        writing = false;
        queueDrained.notify_all();
    }
}

void AppendFormat(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Formats onto the end of out, measuring first: for views and long lines.
void AppendFormatV(std::string& out, const char* format, va_list arguments) {
    va_list copy;
    va_copy(copy, arguments);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length < 0) return;
    size_t start = out.size();
    out.resize(start + static_cast<size_t>(length) + 1);
    std::vsnprintf(out.data() + start, static_cast<size_t>(length) + 1, format, arguments);
    out.resize(start + static_cast<size_t>(length));
}

void AppendFormat(std::string& out, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    AppendFormatV(out, format, arguments);
    va_end(arguments);
}

}  // namespace

void ConsoleText(std::string_view text) {
    std::unique_lock<std::mutex> hold(queueLock);
    if (!writer.joinable() || writerStops) {
        ConsoleWrite(text.data(), text.size());
        return;
    }
    queueDrained.wait(hold, [] { return queued.size() < QueueLimit; });
    bool writerIdle = queued.empty() && !writing;
    queued.append(text);
    hold.unlock();
    if (writerIdle) textQueued.notify_one();
}

void ConsoleFlush() {
    std::unique_lock<std::mutex> hold(queueLock);
    queueDrained.wait(hold, [] { return queued.empty() && !writing; });
}

void StartConsoleWriter() {
    std::lock_guard<std::mutex> hold(queueLock);
    writerStops = false;
    try {
        writer = std::thread(WriterLoop);
    } catch (const std::system_error&) {
        // Without the writer, every text is written at once by its own thread.
    }
}

void StopConsoleWriter() {
    {
        std::lock_guard<std::mutex> hold(queueLock);
        writerStops = true;
    }
    textQueued.notify_one();
    if (writer.joinable()) writer.join();
}

void ConsolePrintf(const char* format, ...) {
    char small[2048];  // most lines: formatted on the stack, nothing allocated
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(small, sizeof small, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    if (static_cast<size_t>(length) < sizeof small) {
        ConsoleText(std::string_view(small, static_cast<size_t>(length)));
        return;
    }
    std::string text;
    va_start(arguments, format);
    AppendFormatV(text, format, arguments);
    va_end(arguments);
    ConsoleText(text);
}

// ---- Input --------------------------------------------------------------

namespace {

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
    long got = ConsoleRead(input.Buffer, sizeof input.Buffer, input.SignalFd);
    if (got == ConsoleSignalled) {
        SignalsConsume(input.SignalFd);
        input.Signalled = true;
        return StopSignal;
    }
    if (got <= 0) {
        input.Ended = true;
        return EndOfInput;
    }
    input.Next = 0;
    input.Filled = static_cast<size_t>(got);
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
        AppendFormat(view, "\tState:%d\n", server.State);
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
        AppendFormat(view, "\tPassWord:%s\n", user.PassWord);
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
        } else if (std::strcmp(command, "clear") == 0) {
            int count = ConnectionCount.load();
            for (int i = 0; i < count; ++i)
                if (Connection[i]->InUsed.load() != 0) Quit(i);
        }
    }
    FTPOK = false;
}

void PauseConsole() {
    bool closedByWord = !input.Ended && !input.Signalled;
    if (closedByWord && input.LastDelimiter != '\n' && !SkipLine()) {
        ConsoleText("Press Enter to continue . . .");
        return;
    }
    ConsoleText("Press Enter to continue . . .");
    SkipLine();  // a line, the end of input, or another stop signal
}
