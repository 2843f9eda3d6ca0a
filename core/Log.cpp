#include "core/Log.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/System.h"

#include <initializer_list>

namespace {

// One thread at a time writes to the console, holding writeLock. A thread
// that finds it taken queues its text and goes on at once; the holder writes
// whatever is queued before it lets go, and looks again after letting go, so
// no text is left behind. Busy servers thus write many lines per call, and
// nobody is ever woken just to print.
std::mutex writeLock;
std::mutex queueLock;
std::string queued;  // under queueLock
std::string batch;   // under writeLock: what the holder is writing
constexpr size_t QueueLimit = 1 << 20;  // past this, a printer waits its turn to write

// Writes what is queued until nothing is; the caller holds writeLock.
void DrainLocked() {
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(queueLock);
            if (queued.empty()) return;
            batch.swap(queued);
        }
        ConsoleWrite(batch.data(), batch.size());
        batch.clear();
    }
}

// Lets writeLock go, writing what others queued meanwhile.
void UnlockAfterDraining() {
    for (;;) {
        DrainLocked();
        writeLock.unlock();
        {
            std::lock_guard<std::mutex> hold(queueLock);
            if (queued.empty()) return;
        }
        if (!writeLock.try_lock()) return;  // the new holder writes it
    }
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
    if (writeLock.try_lock()) {
        DrainLocked();  // older texts first
        ConsoleWrite(text.data(), text.size());
    } else {
        bool full;
        {
            std::lock_guard<std::mutex> hold(queueLock);
            queued.append(text);
            full = queued.size() >= QueueLimit;
        }
        if (full) writeLock.lock();
        else if (!writeLock.try_lock()) return;  // its holder will write our text
    }
    UnlockAfterDraining();
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
    writeLock.lock();
    UnlockAfterDraining();
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
