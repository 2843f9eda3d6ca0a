// A connection as the protocol code sees it: read, write, close. Control and
// data connections both go through a Channel, so that a protected kind can
// take the place of plain TCP without the commands knowing. The kernel's
// zero-copy moves (sendfile, splice) bypass the channel and are allowed only
// where ZeroCopy() says so.
#pragma once

#include <cstddef>

#include "platform/Descriptor.h"
#include "platform/Net.h"

class Channel {
public:
    Channel() = default;
    explicit Channel(Descriptor socket) : socket_(std::move(socket)) {}

    bool IsOpen() const { return socket_.IsOpen(); }
    int Fd() const { return socket_.Get(); }
    // Plain TCP: the file's bytes may go straight between the socket and the file.
    bool ZeroCopy() const { return true; }

    // Receives up to size bytes: Ok with the count, Ended, Failed or Woken.
    NetResult Read(void* buffer, size_t size, NetWaits waits) { return NetReceive(Fd(), buffer, size, waits); }
    // Sends every byte: Ok, Failed or Woken.
    NetResult WriteAll(const void* data, size_t length, NetWaits waits) { return NetSendAll(Fd(), data, length, waits); }
    // Ends the receiving direction: a transfer's sending side is done with it.
    void EndReading() { NetShutdownReceive(Fd()); }
    void Close() { socket_.Reset(); }

private:
    Descriptor socket_;
};
