// Process-level operating system chores: signals, the console's descriptors,
// wake events and thread ids. Everything here is a thin wrapper over one POSIX
// call (with its EINTR retry), so the rest of the program never includes
// system headers.
#pragma once

#include <cstddef>
#include <cstdint>

// Blocks SIGINT and SIGTERM in this thread and every thread created after it,
// ignores SIGPIPE (a vanished peer must never kill the process) and SIGXFSZ
// (a file size limit fails the write, like a full disk), and returns a
// descriptor that becomes readable when SIGINT or SIGTERM arrives (-1 on failure).
int SignalsTakeOver();

// Reads and discards one pending signal from the descriptor of SignalsTakeOver.
void SignalsConsume(int signalFd);

// Console output: writes every byte of the text to standard output in as few
// calls as the kernel allows.
void ConsoleWrite(const char* text, size_t length);

// Console input: waits for standard input or for the signal descriptor. Read
// puts the count of bytes read in *count; an unreadable console counts as Ended.
enum class ConsoleInput : uint8_t { Read, Ended, Signalled };
ConsoleInput ConsoleRead(char* buffer, size_t size, int signalFd, size_t* count);

// A wake event is a descriptor that another thread can make readable once and
// for all; the blocking calls of Net.h and Files.h return early when it fires.
int WakeCreate();                       // -1 on failure
void WakeSignal(int wakeFd);
void WakeClose(int wakeFd);
// Waits up to timeoutMs milliseconds; true when the event has fired.
bool WakeWait(int wakeFd, int timeoutMs);

// The kernel's numeric id of the calling thread (what the views show).
int CurrentThreadId();
