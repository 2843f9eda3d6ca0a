// TCP sockets, one small function per chore. Every socket is non-blocking
// but a control connection, whose thread sleeps in its receive between
// commands; the calls that may wait do so in poll(), together with a wake
// event (see System.h) for the listeners, and with a watched descriptor for
// the connection threads: the control connection. Another thread dropping a
// connection shuts its control connection down, which wakes its thread out
// of a receive, a send or a poll at once; commands that arrive during a
// transfer interrupt the transfer's waits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Address.h"
#include "platform/Descriptor.h"

constexpr int NoSocket = -1;  // what a record shows when no socket is open

enum class NetStatus : uint8_t {
    Ok,
    Ended,         // the peer closed its side: nothing more will arrive
    Failed,        // the call failed; the connection is unusable
    Woken,         // the wake event fired (listeners at shutdown)
    FileFailed,    // the file side of a move between a file and a socket failed
    Unsupported,   // the socket cannot be spliced (reported before anything moved)
    AddressInUse,  // bind or listen found the port taken
    Interrupted,   // the watched descriptor became readable first
    TimedOut,      // the wait's deadline passed
    Exhausted,     // accept found no descriptor or memory left: the listener itself is sound
};

// What a wait watches besides its socket: a wake event (-1: none; listeners
// pass the stop event), whose firing ends it Woken; a descriptor (-1: none;
// a transfer passes its control connection) whose hang-up or error, and
// whose input too when WatchInput, ends it Interrupted; and a deadline
// (MonotonicMilliseconds(), 0: none) after which it ends TimedOut.
struct NetWaits {
    int Wake = -1;
    int Watch = -1;
    int64_t Deadline = 0;
    bool WatchInput = true;
    NetWaits(int wake = -1, int watch = -1, int64_t deadline = 0, bool watchInput = true)  // NOLINT: a wake event alone converts
        : Wake(wake), Watch(watch), Deadline(deadline), WatchInput(watchInput) {}
};

// A steady clock in milliseconds, for deadlines.
int64_t MonotonicMilliseconds();

// A status, the bytes moved when there is a count to give, and the errno of
// a failure, kept for diagnostics.
struct NetResult {
    NetStatus Status = NetStatus::Ok;
    size_t Count = 0;
    int Error = 0;
    bool Ok() const { return Status == NetStatus::Ok; }
};

Descriptor NetTcpSocket(AddressFamily family);  // not open on failure
bool NetSetReuseAddress(int fd);
// The system's ephemeral port range (/proc/sys/net/ipv4/ip_local_port_range),
// read once, at the first call: make that before any sandbox.
void NetEphemeralPorts(uint16_t* low, uint16_t* high);
// Lets an IPv6 socket take IPv4 connections too (as IPv4-mapped addresses).
bool NetSetDualStack(int fd);
NetStatus NetBind(int fd, const NetAddress& local);  // Ok, AddressInUse or Failed
NetStatus NetListen(int fd, int backlog);            // Ok, AddressInUse or Failed

// Turns off Nagle's algorithm, for connections that send whole lines: a line
// that follows an unacknowledged one would otherwise wait for the peer's
// delayed acknowledgement (40 ms on Linux). Bulk data keeps it, to move in
// full segments. Set on a listener, its connections inherit it.
void NetSendWithoutDelay(int fd);

// Keeps TCP urgent data in the stream where it was sent: clients send the
// Telnet "synch" before ABOR as urgent data, and pulled out of the stream it
// would take the line's last byte with it. Inherited like the above.
void NetUrgentInline(int fd);

// Accepts one connection into *accepted (a blocking socket when blocking),
// its peer's address into *peer when peer is not null: Ok, Failed, Woken, or
// Exhausted when the process or system is out of descriptors or memory (the
// connection waits in the queue). A connection that vanished before it could
// be accepted is waited past, not reported. Every call that waits may also end Interrupted when waits.Watch is given.
NetStatus NetAccept(int listenFd, NetWaits waits, Descriptor* accepted, NetAddress* peer, bool blocking = false);

// Connects a new socket to remote: Ok, Failed, Woken or Interrupted, when
// *connected holds the socket still connecting: NetFinishConnect waits on.
NetStatus NetConnect(const NetAddress& remote, NetWaits waits, Descriptor* connected);
NetStatus NetFinishConnect(int fd, NetWaits waits);

// Waits until fd can be read, or written: Ok, Woken, Interrupted or Failed.
NetStatus NetWaitReadable(int fd, NetWaits waits);
NetStatus NetWaitWritable(int fd, NetWaits waits);

// Receives up to size bytes: Ok with the count, Ended, Failed or Woken.
NetResult NetReceive(int fd, void* buffer, size_t size, NetWaits waits);

// Sends every byte, continuing short sends: Ok, Failed, Woken or Interrupted,
// with the count of bytes that went out.
NetResult NetSendAll(int fd, const void* data, size_t length, NetWaits waits);

// Sends up to count bytes of a file from *offset with the kernel's zero-copy
// path, advancing *offset: Ok with the count moved, Ended at the file's end,
// Failed when the socket failed, Woken, or FileFailed when the file could not be read.
NetResult NetSendFile(int socketFd, int fileFd, int64_t* offset, size_t count, NetWaits waits);

bool NetLocalAddress(int fd, NetAddress* address);

void NetShutdownReceive(int fd);
// Shuts both directions down: whoever waits on the socket, in this process
// too, is woken, and nothing more goes out on it.
void NetShutdown(int fd);

// Waits up to timeoutMs milliseconds for fd to hang up (shut down, reset or
// closed by its peer, also with bytes left unread); true when it did. What
// arrives on it meanwhile waits.
bool NetWaitHangUp(int fd, int timeoutMs);

// The host's name (empty when unknown) and its first IPv4 address.
void NetHostName(char* name, size_t size);
bool NetHostAddress(const char* name, NetAddress* address);

// The pipe an upload is spliced through, made by the upload that needs it.
struct SplicePipe {
    Descriptor Read;
    Descriptor Write;
};

// Receives from a socket straight into a file at its current position,
// through the pipe, so that the bytes never pass through user memory: Ok with
// the count moved, Ended when the peer closed, Failed, Woken, Interrupted, FileFailed when
// the file could not be written, or Unsupported, before anything was received,
// when the socket cannot be spliced (the caller then receives through a buffer).
NetResult NetReceiveIntoFile(int socketFd, int fileFd, SplicePipe& pipe, NetWaits waits);
