// TCP over IPv4, one small function per chore. Every socket is non-blocking;
// the calls that may wait do so in poll() together with a wake event (see
// System.h), so that a connection dropped from another thread stops waiting at
// once. Pass -1 as wakeFd to wait on the socket alone. Addresses are IPv4 in
// network byte order; ports are in host byte order.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int NoSocket = -1;

// Results of the calls that can wait, beside a count or a descriptor (>= 0).
constexpr long NetFailed = -1;  // the call failed; the connection is unusable
constexpr long NetWoken = -2;   // the wake event fired: the connection is being dropped

int NetTcpSocket();  // NoSocket on failure
bool NetSetReuseAddress(int fd);
bool NetBind(int fd, uint32_t address, uint16_t port);
bool NetListen(int fd, int backlog);
bool NetAddressInUse();  // did the last failed bind or listen find the port taken?

// Turns off Nagle's algorithm, for connections that send whole lines: a line
// that follows an unacknowledged one would otherwise wait for the peer's
// delayed acknowledgement (40 ms on Linux). Bulk data keeps it, to move in
// full segments.
void NetSendWithoutDelay(int fd);

// Accepts one connection; its peer address goes to *peer when peer is not null.
// Returns the new descriptor, NetFailed or NetWoken. A connection that vanished
// before it could be accepted is waited past, not reported.
long NetAccept(int listenFd, uint32_t* peer, int wakeFd);

// Connects a new socket; returns its descriptor, NetFailed or NetWoken.
long NetConnect(uint32_t address, uint16_t port, int wakeFd);

// Receives up to size bytes: the count (0 when the peer closed), NetFailed or NetWoken.
long NetReceive(int fd, void* buffer, size_t size, int wakeFd);

// Sends every byte, continuing short sends; true when all went out.
bool NetSendAll(int fd, const void* data, size_t length, int wakeFd);

// Sends count bytes of a file from *offset with the kernel's zero-copy path,
// advancing *offset. Returns the bytes moved by this call (0 at the file's end),
// NetFailed when the socket failed, NetWoken, or NetFileFailed when the file
// could not be read.
constexpr long NetFileFailed = -3;
long NetSendFile(int socketFd, int fileFd, int64_t* offset, size_t count, int wakeFd);

bool NetLocalAddress(int fd, uint32_t* address, uint16_t* port);
bool NetPeerAddress(int fd, uint32_t* address, uint16_t* port);

void NetShutdownReceive(int fd);
void NetClose(int fd);

// The host's name (empty when unknown) and its first IPv4 address.
void NetHostName(char* name, size_t size);
bool NetHostAddress(const char* name, uint32_t* address);

// Parses a dotted IPv4 address such as "127.0.0.1".
bool NetParseAddress(const char* dotted, uint32_t* address);

// Receives from a socket straight into a file at its current position, through
// a pipe that the caller keeps between calls ({-1, -1} before the first), so
// that the bytes never pass through user memory. Returns the bytes moved by
// this call (0 when the peer closed), NetFailed, NetWoken, NetFileFailed when
// the file could not be written, or NetSpliceUnsupported, before anything was
// received, when the socket cannot be spliced (the caller then receives
// through a buffer).
constexpr long NetSpliceUnsupported = -4;
long NetReceiveIntoFile(int socketFd, int fileFd, int (&pipeFds)[2], int wakeFd);
void NetClosePipe(int (&pipeFds)[2]);
