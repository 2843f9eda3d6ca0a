// TCP sockets, one small function per chore. Every socket is non-blocking;
// the calls that may wait do so in poll() together with a wake event (see
// System.h), so that a connection dropped from another thread stops waiting at
// once. Pass -1 as wakeFd to wait on the socket alone.
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
    Woken,         // the wake event fired: the connection is being dropped
    FileFailed,    // the file side of a move between a file and a socket failed
    Unsupported,   // the socket cannot be spliced (reported before anything moved)
    AddressInUse,  // bind or listen found the port taken
};

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
NetStatus NetBind(int fd, const NetAddress& local);  // Ok, AddressInUse or Failed
NetStatus NetListen(int fd, int backlog);            // Ok, AddressInUse or Failed

// Turns off Nagle's algorithm, for connections that send whole lines: a line
// that follows an unacknowledged one would otherwise wait for the peer's
// delayed acknowledgement (40 ms on Linux). Bulk data keeps it, to move in
// full segments.
void NetSendWithoutDelay(int fd);

// Accepts one connection into *accepted, its peer's address into *peer when
// peer is not null: Ok, Failed or Woken. A connection that vanished before it
// could be accepted is waited past, not reported.
NetStatus NetAccept(int listenFd, int wakeFd, Descriptor* accepted, NetAddress* peer);

// Connects a new socket to remote: Ok, Failed or Woken.
NetStatus NetConnect(const NetAddress& remote, int wakeFd, Descriptor* connected);

// Receives up to size bytes: Ok with the count, Ended, Failed or Woken.
NetResult NetReceive(int fd, void* buffer, size_t size, int wakeFd);

// Sends every byte, continuing short sends: Ok, Failed or Woken.
NetResult NetSendAll(int fd, const void* data, size_t length, int wakeFd);

// Sends up to count bytes of a file from *offset with the kernel's zero-copy
// path, advancing *offset: Ok with the count moved, Ended at the file's end,
// Failed when the socket failed, Woken, or FileFailed when the file could not be read.
NetResult NetSendFile(int socketFd, int fileFd, int64_t* offset, size_t count, int wakeFd);

bool NetLocalAddress(int fd, NetAddress* address);
bool NetPeerAddress(int fd, NetAddress* address);

void NetShutdownReceive(int fd);

// The host's name (empty when unknown) and its first IPv4 address.
void NetHostName(char* name, size_t size);
bool NetHostAddress(const char* name, NetAddress* address);

// The pipe an upload is spliced through, made at the first upload and kept.
struct SplicePipe {
    Descriptor Read;
    Descriptor Write;
};

// Receives from a socket straight into a file at its current position,
// through the pipe, so that the bytes never pass through user memory: Ok with
// the count moved, Ended when the peer closed, Failed, Woken, FileFailed when
// the file could not be written, or Unsupported, before anything was received,
// when the socket cannot be spliced (the caller then receives through a buffer).
NetResult NetReceiveIntoFile(int socketFd, int fileFd, SplicePipe& pipe, int wakeFd);
