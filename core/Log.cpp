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

// Builds an echo line from its parts without printf, which costs more than
// the rest of a short reply's path.
void Echo(std::string_view mark, int socket, std::initializer_list<std::string_view> parts) {
    char small[512];  // most lines; a small stack keeps an idle connection's memory small
    char number[16];
    auto converted = std::to_chars(number, number + sizeof number, socket);
    size_t length = mark.size() + static_cast<size_t>(converted.ptr - number) + 1;
    for (std::string_view part : parts) length += part.size();
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
    for (std::string_view part : parts) add(part);
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
