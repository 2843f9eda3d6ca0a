// A connection as the protocol code sees it: read, write, send a file, receive
// into a file, close. Control and data connections both go through a Channel,
// plain TCP or, once a handshake made it so, TLS; the commands do not know
// which. On plain TCP, files move by the kernel's zero-copy (sendfile, and
// splice through a pipe); under TLS through a buffer of the channel's own.
// The buffer and the pipe are made by the first move that needs them and given
// back when the channel closes, so a connection holds them only during a
// transfer.
#pragma once

#include <cstddef>
#include <cstdint>
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
    Channel& operator=(Channel&& other) noexcept;
    ~Channel() { Close(); }

    bool IsOpen() const { return socket_.IsOpen(); }
    int Fd() const { return socket_.Get(); }
    bool Protected() const { return tls_ != nullptr; }

    // Runs the server side of a TLS handshake (or goes on with one that was
    // Interrupted): Ok, Failed with OpenSSL's reason, Woken or Interrupted.
    // A control connection issues session tickets; data connections resume them.
    NetStatus StartTls(bool control, NetWaits waits, std::string* reason) {
        return TlsStream::Handshake(&tls_, Fd(), control, waits, reason);
    }
    // Whether this data connection's TLS handshake resumed the session of
    // that control connection.
    bool ResumedTlsOf(const Channel& control) const { return tls_ && control.tls_ && tls_->ResumedFrom(*control.tls_); }

    // Whether bytes received wait inside TLS, where a wait on the socket would not see them.
    bool Buffered() const { return tls_ && tls_->Pending(); }

    // Receives up to size bytes: Ok with the count, Ended, Failed, Woken or Interrupted.
    NetResult Read(void* buffer, size_t size, NetWaits waits) {
        return tls_ ? tls_->Read(Fd(), buffer, size, waits) : NetReceive(Fd(), buffer, size, waits);
    }
    // Sends every byte: Ok, Failed, Woken or Interrupted, with the count that went out.
    NetResult WriteAll(const void* data, size_t length, NetWaits waits) {
        return tls_ ? tls_->WriteAll(Fd(), data, length, waits) : NetSendAll(Fd(), data, length, waits);
    }

    // Sends up to count bytes of a file from *offset, advancing it by what
    // went out: Ok with that count, Ended at the file's end, FileFailed when
    // the file cannot be read, or Failed, Woken or Interrupted (call again:
    // what was read and not yet sent goes out first).
    NetResult SendFile(int file, int64_t* offset, size_t count, NetWaits waits);
    // Receives what arrives into a file at its position: Ok with the count,
    // Ended when the peer has sent everything, FileFailed when the file
    // cannot be written, or Failed, Woken or Interrupted.
    NetResult ReceiveIntoFile(int file, NetWaits waits);

    // Ends the receiving direction: a transfer's sending side is done with it.
    void EndReading() {
        if (!tls_) NetShutdownReceive(Fd());  // TLS still reads the peer's closing alert
    }
    // Closes the connection; TLS sends its closing alert first, so that the
    // peer sees a clean end.
    void Close();

private:
    char* Buffer();

    Descriptor socket_;
    std::unique_ptr<TlsStream> tls_;
    std::unique_ptr<char[]> buffer_;   // files under TLS, or where splice is refused
    size_t pendingFrom_ = 0, pendingTo_ = 0;  // read from the file, not yet sent
    SplicePipe pipe_;
    bool spliceRefused_ = false;
};
