// TLS for FTPS (RFC 4217), the one place that talks to OpenSSL: the server's
// certificate, loaded once, and a TLS stream per protected connection. TLS
// 1.2 and 1.3 only, OpenSSL's default secure ciphers, no compression, no
// renegotiation. A build without OpenSSL has no TLS: TlsAvailable() says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Net.h"

bool TlsAvailable();

// Loads the certificate chain and its private key (from keyFile, or from the
// certificate file when keyFile is empty). False, with *fault saying which
// file and OpenSSL's reason, when either cannot be used.
bool TlsSetUp(const std::string& certificateFile, const std::string& keyFile, std::string* fault);
// The loaded certificate's subject and expiry, for the start-up line.
std::string TlsCertificateSummary();
// Whether a certificate was loaded: AUTH TLS is offered only then.
bool TlsReady();

// Gives back what OpenSSL keeps for the calling thread; a thread that used
// TLS calls it before it ends.
void TlsThreadEnd();

// The TLS side of one connection, as the server. Made by a handshake, used
// by the Channel that owns the socket.
class TlsStream {
public:
    ~TlsStream();
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    // Runs (or goes on with) the server handshake on fd: Ok, Failed (with
    // OpenSSL's reason in *reason), Woken, or Interrupted when waits.Watch
    // turned readable: call again to go on. issueTickets: hand out session
    // tickets (a control connection does; its data connections resume them).
    static NetStatus Handshake(std::unique_ptr<TlsStream>* stream, int fd, bool issueTickets, NetWaits waits,
                               std::string* reason);

    // Whether this (data connection's) handshake resumed the session of that
    // control connection: not any session, which another client could hold.
    bool ResumedFrom(const TlsStream& control) const;

    // As NetReceive and NetSendAll, through TLS.
    NetResult Read(int fd, void* buffer, size_t size, NetWaits waits);
    NetResult WriteAll(int fd, const void* data, size_t length, NetWaits waits);
    // Whether bytes already received wait inside the stream, which the socket no longer shows.
    bool Pending() const;
    // Sends the closing alert, so that the peer sees a clean end (it does not wait for the peer's).
    void Shutdown(int fd);

private:
    TlsStream() = default;
    void* Ssl = nullptr;
    bool Control = false;  // a control connection: a blocking socket
    uint64_t Token = 0;    // a control connection's mark, carried by its sessions (0: none)
};
