// Process-level operating system chores: signals, the console's descriptors,
// wake events and thread ids. Everything here is a thin wrapper over one POSIX
// call (with its EINTR retry), so the rest of the program never includes
// system headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Blocks SIGINT, SIGTERM and SIGHUP in this thread and every thread created
// after it, ignores SIGPIPE (a vanished peer must never kill the process) and
// SIGXFSZ (a file size limit fails the write, like a full disk), and returns
// a descriptor that becomes readable when one of the three arrives (-1 on failure).
int SignalsTakeOver();

enum class ProgramSignal : uint8_t { Interrupt, Terminate, HangUp, Other };

// Reads one pending signal from the descriptor of SignalsTakeOver.
ProgramSignal SignalsConsume(int signalFd);
// Waits for the next signal and reads it.
ProgramSignal SignalsWait(int signalFd);

// Raises the soft limit of open descriptors to the hard one and gives the new
// soft limit.
uint64_t RaiseDescriptorLimit();

// Makes every thread allocate from one heap. With a heap per few threads
// (the allocator's default), the memory of ended connections lies scattered
// among long-lived blocks in many heaps and stays resident; threads rarely
// allocate on the hot paths, and each keeps a small cache of its own.
void UseOneHeap();

// Returns the free memory of the allocator's heaps to the system (after a
// burst of connections has ended, their memory would otherwise stay resident).
void GiveBackFreeMemory();

// The user and group a root-started server runs as (--user, --group).
struct RunAs {
    unsigned User = 0;
    unsigned Group = 0;  // the user's primary group unless a group was named
    std::string Name;
};
// Looks up a user (and a group, when not empty); false with *fault saying why.
bool FindRunAs(const std::string& user, const std::string& group, RunAs* runAs, std::string* fault);
// SECURITY: sets the process's supplementary groups (the user's), group and
// user for good, in every thread; false with *fault when any step fails or
// root could be taken back.
bool DropPrivileges(const RunAs& runAs, std::string* fault);
// Tells the service manager the server's state ("READY=1", "STOPPING=1")
// when it asked for it (NOTIFY_SOCKET); nothing otherwise, or in a build
// without libsystemd.
void NotifyServiceManager(const char* state);

// What the kernel says of this process, for the metrics.
struct ProcessFigures {
    uint64_t ResidentBytes = 0, OpenDescriptors = 0, Threads = 0;
    double CpuSeconds = 0, StartTimeSeconds = 0;  // user and system time; the start, since 1970
};
ProcessFigures ReadProcessFigures();

// Whether the process runs as root.
bool RunningAsRoot();

// Starts a detached thread running body(argument) on a stack of stackSize
// bytes, with SIGINT, SIGTERM and SIGHUP blocked; false when it cannot be started.
bool StartThread(void (*body)(void*), void* argument, size_t stackSize);

// Console output: writes every byte of the text to standard output in as few
// calls as the kernel allows.
void ConsoleWrite(const char* text, size_t length);

// Console input: waits for standard input or for the signal descriptor. Read
// puts the count of bytes read in *count; an unreadable console counts as Ended.
enum class ConsoleInput : uint8_t { Read, Ended, Signalled };
ConsoleInput ConsoleRead(char* buffer, size_t size, int signalFd, size_t* count);

// A wake event is a descriptor that another thread can make readable once and
// for all: the listeners' and the idle supervisor's waits end when the stop
// event fires. (Connection threads are woken by their control socket's
// shutdown instead.)
int WakeCreate();                       // -1 on failure
void WakeSignal(int wakeFd);
void WakeClose(int wakeFd);
// Waits up to timeoutMs milliseconds; true when the event has fired.
bool WakeWait(int wakeFd, int timeoutMs);

// The kernel's numeric id of the calling thread (what the views show).
int CurrentThreadId();
