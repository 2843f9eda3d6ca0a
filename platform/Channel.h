// A connection as the protocol code sees it: read, write, close. Control and
// data connections both go through a Channel, plain TCP or, once a handshake
// made it so, TLS; the commands do not know which. The kernel's zero-copy
// moves (sendfile, splice) bypass the channel and are allowed only where
// ZeroCopy() says so: on plain TCP.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/Descriptor.h"
#include "platform/Net.h"
#include "platform/Tls.h"

class Channel {
public:
    Channel() = default;
    explicit Channel(Descriptor socket) : socket_(std::move(socket)) {}
    Channel(Channel&&) = default;
    Channel& operator=(Channel&& other) noexcept {
        Close();
        socket_ = std::move(other.socket_);
        tls_ = std::move(other.tls_);
        return *this;
    }
    ~Channel() { Close(); }

    bool IsOpen() const { return socket_.IsOpen(); }
    int Fd() const { return socket_.Get(); }
    bool Protected() const { return tls_ != nullptr; }
    bool ZeroCopy() const { return !tls_; }

    // Runs the server side of a TLS handshake (or goes on with one that was
    // Interrupted): Ok, Failed with OpenSSL's reason, Woken or Interrupted.
    // A control connection issues session tickets; data connections resume them.
    NetStatus StartTls(bool control, NetWaits waits, std::string* reason) {
        return TlsStream::Handshake(&tls_, Fd(), control, waits, reason);
    }
    // Whether this data connection's TLS handshake resumed the session of
    // that control connection.
    bool ResumedTlsOf(const Channel& control) const { return tls_ && control.tls_ && tls_->ResumedFrom(*control.tls_); }

    // Receives up to size bytes: Ok with the count, Ended, Failed, Woken or Interrupted.
    NetResult Read(void* buffer, size_t size, NetWaits waits) {
        return tls_ ? tls_->Read(Fd(), buffer, size, waits) : NetReceive(Fd(), buffer, size, waits);
    }
    // Sends every byte: Ok, Failed, Woken or Interrupted, with the count that went out.
    NetResult WriteAll(const void* data, size_t length, NetWaits waits) {
        return tls_ ? tls_->WriteAll(Fd(), data, length, waits) : NetSendAll(Fd(), data, length, waits);
    }
    // Ends the receiving direction: a transfer's sending side is done with it.
    void EndReading() {
        if (!tls_) NetShutdownReceive(Fd());  // TLS still reads the peer's closing alert
    }
    // Closes the connection; TLS sends its closing alert first, so that the
    // peer sees a clean end.
    void Close() {
        if (tls_ && IsOpen()) tls_->Shutdown(Fd());
        tls_.reset();
        socket_.Reset();
    }

private:
    Descriptor socket_;
    std::unique_ptr<TlsStream> tls_;
};
