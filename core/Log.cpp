#include "core/Log.h"

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <mutex>

#include "platform/System.h"

namespace {

// Texts are queued and written by one writer thread, in batches. A printer
// appends its text and goes on; it wakes the writer only when the writer
// sleeps with nothing queued. Woken, the writer lets a moment pass for more
// texts to join before it writes them all at once: a busy server makes a few
// hundred writes a second however many lines it prints, and nobody is woken
// per line. Everything is under queueLock but the write itself.
struct LogQueue {
    std::mutex Lock;
    std::condition_variable WriterWaits;   // the writer: for texts, or for its batch to fill
    std::condition_variable PrintersWait;  // flushes, and printers held back by a full queue
    std::string Queued;
    std::string Batch;          // the writer's: what it is writing
    uint64_t Appended = 0;      // texts queued so far
    uint64_t Written = 0;       // texts written so far
    bool WriterStarted = false;
    bool WriterIdle = false;    // the writer sleeps until a text arrives
    int FlushesWaiting = 0;
};
// Never destroyed: the writer may still wait on it while the program ends.
LogQueue& queue = *new LogQueue;

constexpr auto BatchDelay = std::chrono::milliseconds(2);  // how long a batch gathers texts
constexpr size_t QueueLimit = 1 << 20;  // past this, printers wait for the writer

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t WriterStackSize = 1 << 20;
#else
constexpr size_t WriterStackSize = 64 << 10;
#endif

bool BatchReady() { return queue.FlushesWaiting > 0 || queue.Queued.size() >= QueueLimit; }

void WriterThread(void*) {
    std::unique_lock<std::mutex> hold(queue.Lock);
    for (;;) {
        queue.WriterIdle = queue.Queued.empty();
        queue.WriterWaits.wait(hold, [] { return !queue.Queued.empty(); });
        queue.WriterIdle = false;
        queue.WriterWaits.wait_for(hold, BatchDelay, BatchReady);
        queue.Batch.swap(queue.Queued);
        uint64_t upTo = queue.Appended;
        hold.unlock();
        ConsoleWrite(queue.Batch.data(), queue.Batch.size());
        queue.Batch.clear();
        hold.lock();
        queue.Written = upTo;
        queue.PrintersWait.notify_all();
    }
}

// Under queue.Lock: starts the writer at the first text. Without one (the
// thread could not start) the caller writes itself.
bool WriterRunning() {
    if (!queue.WriterStarted) queue.WriterStarted = StartThread(WriterThread, nullptr, WriterStackSize);
    return queue.WriterStarted;
}

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

}  // namespace

void ConsoleText(std::string_view text) {
    std::unique_lock<std::mutex> hold(queue.Lock);
    if (!WriterRunning()) {
        ConsoleWrite(text.data(), text.size());  // in order: the lock is held
        return;
    }
    queue.Queued.append(text);
    ++queue.Appended;
    if (queue.Queued.size() >= QueueLimit) {
        queue.WriterWaits.notify_one();
        queue.PrintersWait.wait(hold, [] { return queue.Queued.size() < QueueLimit; });
    } else if (queue.WriterIdle) {
        queue.WriterIdle = false;  // one wakeup per batch
        hold.unlock();
        queue.WriterWaits.notify_one();
    }
}

namespace {

// The length of a valid UTF-8 sequence at the start of text (2 to 4 bytes),
// or 0 when it is not one: overlong forms, surrogates and code points past
// U+10FFFF are not.
size_t Utf8Sequence(std::string_view text) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char first = byte(0);
    size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC2 ? 2 : 0;
    if (length == 0 || first > 0xF4 || text.size() < length) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 0;
    unsigned char second = byte(1);
    if ((first == 0xE0 && second < 0xA0) || (first == 0xED && second > 0x9F) || (first == 0xF0 && second < 0x90) ||
        (first == 0xF4 && second > 0x8F))
        return 0;
    return length;
}

// SECURITY: what a client sent is shown, never obeyed, by the operator's
// terminal: control bytes (below 0x20, and 0x7F) and bytes that are not
// valid UTF-8 are written as \xNN. A CR LF pair ends a line and stays.
// Calls out(text) for each piece of the escaped text.
template <typename Out>
void Escape(std::string_view text, Out out) {
    static constexpr char Hex[] = "0123456789abcdef";
    size_t plain = 0;  // the start of the run not yet given out
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t keep = 0;
        if (c >= 0x20 && c < 0x7F) keep = 1;
        else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') keep = 2;
        else if (c >= 0x80) keep = Utf8Sequence(text.substr(i));
        if (keep > 0) {
            i += keep;
            continue;
        }
        out(text.substr(plain, i - plain));
        char escaped[4] = {'\\', 'x', Hex[c >> 4], Hex[c & 15]};
        out(std::string_view(escaped, 4));
        plain = ++i;
    }
    out(text.substr(plain));
}

}  // namespace

std::string EscapedForConsole(std::string_view text) {
    std::string escaped;
    Escape(text, [&](std::string_view piece) { escaped += piece; });
    return escaped;
}

namespace {

// Builds an echo line from its parts without printf, which costs more than
// the rest of a short reply's path. The client's parts are escaped.
void Echo(std::string_view mark, int socket, std::initializer_list<std::string_view> parts) {
    char small[512];  // most lines; a small stack keeps an idle connection's memory small
    char number[16];
    auto converted = std::to_chars(number, number + sizeof number, socket);
    size_t length = mark.size() + static_cast<size_t>(converted.ptr - number) + 1;
    for (std::string_view part : parts) Escape(part, [&](std::string_view piece) { length += piece.size(); });
    std::string large;
    char* line = small;
    if (length > sizeof small) {
        large.resize(length);
        line = large.data();
    }
    size_t used = 0;
    auto add = [&](std::string_view part) {
        if (!part.empty()) std::memcpy(line + used, part.data(), part.size());
        used += part.size();
    };
    add(mark);
    add(std::string_view(number, static_cast<size_t>(converted.ptr - number)));
    add(":");
    for (std::string_view part : parts) Escape(part, add);
    ConsoleText(std::string_view(line, used));
}

// A text as the echo shows it: up to its first NUL byte.
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

}  // namespace

void ConsoleEchoReceived(int socket, const char* keyword, const char* argument) {
    Echo("<<", socket, {keyword, " ", argument, "\r\n"});
}

void ConsoleEchoSent(int socket, std::string_view text) { Echo(">>", socket, {UpToNul(text)}); }

void ConsoleFlush() {
    std::unique_lock<std::mutex> hold(queue.Lock);
    uint64_t upTo = queue.Appended;
    if (queue.Written >= upTo) return;
    ++queue.FlushesWaiting;
    queue.WriterWaits.notify_one();
    queue.PrintersWait.wait(hold, [upTo] { return queue.Written >= upTo; });
    --queue.FlushesWaiting;
}

void AppendFormat(std::string& out, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    AppendFormatV(out, format, arguments);
    va_end(arguments);
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
