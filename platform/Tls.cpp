#include "platform/Tls.h"

#ifdef VOSTRINE_WITH_TLS

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdio>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

SSL_CTX* context = nullptr;

std::string OpenSslReason() {
    unsigned long error = ERR_get_error();
    char text[256] = "unknown reason";
    if (error != 0) ERR_error_string_n(error, text, sizeof text);
    ERR_clear_error();
    return text;
}

SSL* AsSsl(void* ssl) { return static_cast<SSL*>(ssl); }

// SECURITY: every control connection's sessions carry a mark of their own,
// sealed inside the session tickets the server alone can open, so that a
// data connection can be matched to the control connection whose session it
// resumed. Marks are never reused while the process runs.
std::atomic<uint64_t> nextToken{1};

bool MarkSession(SSL_SESSION* session, uint64_t token) {
    return session != nullptr && token != 0 && SSL_SESSION_set1_ticket_appdata(session, &token, sizeof token) == 1;
}

uint64_t SessionMark(SSL_SESSION* session) {
    void* data = nullptr;
    size_t length = 0;
    uint64_t token = 0;
    if (session != nullptr && SSL_SESSION_get0_ticket_appdata(session, &data, &length) == 1 && length == sizeof token)
        std::memcpy(&token, data, sizeof token);
    return token;
}

// Called as a ticket is made: the session inside it carries the connection's mark.
int MarkTicket(SSL* ssl, void*) {
    auto* stream = static_cast<const uint64_t*>(SSL_get_app_data(ssl));
    if (stream != nullptr && *stream != 0) MarkSession(SSL_get0_session(ssl), *stream);
    return 1;
}

// After an SSL call that did not finish: waits for what it needs. Ok to call
// it again, Ended when the peer closed, or the failure.
NetStatus WaitForTls(SSL* ssl, int result, int fd, NetWaits waits, std::string* reason) {
    switch (SSL_get_error(ssl, result)) {
        case SSL_ERROR_WANT_READ: return NetWaitReadable(fd, waits);
        case SSL_ERROR_WANT_WRITE: return NetWaitWritable(fd, waits);
        case SSL_ERROR_ZERO_RETURN: return NetStatus::Ended;
        case SSL_ERROR_SYSCALL:
            if (errno == EINTR) return NetStatus::Ok;
            if (reason != nullptr) *reason = errno != 0 ? "the connection failed" : "the peer closed the connection";
            ERR_clear_error();
            return errno == 0 ? NetStatus::Ended : NetStatus::Failed;
        default:
            if (reason != nullptr) *reason = OpenSslReason();
            else ERR_clear_error();
            return NetStatus::Failed;
    }
}

}  // namespace

// Whether a PEM file holds a private key at all (OpenSSL's own reason for
// one that does not, "unsupported", says nothing to an operator).
bool HoldsPrivateKey(const std::string& file) {
    std::FILE* opened = std::fopen(file.c_str(), "r");
    if (opened == nullptr) return true;  // OpenSSL says why it cannot be read
    char line[256];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, opened) != nullptr)
        found = std::strstr(line, "PRIVATE KEY-----") != nullptr;
    std::fclose(opened);
    return found;
}

bool TlsAvailable() { return true; }

std::string TlsCertificateSummary() {
    X509* certificate = context != nullptr ? SSL_CTX_get0_certificate(context) : nullptr;
    if (certificate == nullptr) return "";
    char subject[256] = "";
    X509_NAME_oneline(X509_get_subject_name(certificate), subject, sizeof subject);
    std::string summary = std::string("certificate ") + subject;
    if (BIO* text = BIO_new(BIO_s_mem())) {
        if (ASN1_TIME_print(text, X509_get0_notAfter(certificate)) == 1) {
            char* data = nullptr;
            long length = BIO_get_mem_data(text, &data);
            summary += ", valid until " + std::string(data, static_cast<size_t>(length));
        }
        BIO_free(text);
    }
    return summary;
}

bool TlsSetUp(const std::string& certificateFile, const std::string& keyFile, std::string* fault) {
    const std::string& key = keyFile.empty() ? certificateFile : keyFile;
    SSL_CTX* made = SSL_CTX_new(TLS_server_method());
    if (made == nullptr) {
        *fault = "TLS: " + OpenSslReason();
        return false;
    }
    SSL_CTX_set_min_proto_version(made, TLS1_2_VERSION);
    // No compression (CRIME), no renegotiation, a clean end where a client
    // closes without its alert; the server's cipher order.
    SSL_CTX_set_options(made, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF |
                                  SSL_OP_CIPHER_SERVER_PREFERENCE);
    SSL_CTX_set_mode(made, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Data connections resume the control connection's session.
    static const unsigned char sessionContext[] = "vostrine";
    SSL_CTX_set_session_id_context(made, sessionContext, sizeof sessionContext - 1);
    SSL_CTX_set_session_cache_mode(made, SSL_SESS_CACHE_SERVER);
    SSL_CTX_set_session_ticket_cb(made, MarkTicket, nullptr, nullptr);
    if (SSL_CTX_use_certificate_chain_file(made, certificateFile.c_str()) != 1) {
        *fault = certificateFile + ": " + OpenSslReason();
    } else if (SSL_CTX_use_PrivateKey_file(made, key.c_str(), SSL_FILETYPE_PEM) != 1) {
        *fault = key + ": " + (HoldsPrivateKey(key) ? OpenSslReason() : std::string("holds no private key (--tls-key)"));
        ERR_clear_error();
    } else if (SSL_CTX_check_private_key(made) != 1) {
        *fault = key + ": " + OpenSslReason();
    } else {
        context = made;
        return true;
    }
    SSL_CTX_free(made);
    return false;
}

bool TlsReady() { return context != nullptr; }

void TlsThreadEnd() {
    if (context != nullptr) OPENSSL_thread_stop();
}

TlsStream::~TlsStream() { SSL_free(AsSsl(Ssl)); }

NetStatus TlsStream::Handshake(std::unique_ptr<TlsStream>* stream, int fd, bool issueTickets, NetWaits waits,
                               std::string* reason) {
    if (!*stream) {
        SSL* ssl = SSL_new(context);
        if (ssl == nullptr || SSL_set_fd(ssl, fd) != 1) {
            SSL_free(ssl);
            *reason = OpenSslReason();
            return NetStatus::Failed;
        }
        // Only the control connection hands out session tickets, for its data
        // connections to resume; a data connection that sent them too would
        // put messages in the way of a client that only writes (lftp then
        // ends an upload early).
        if (!issueTickets) SSL_set_num_tickets(ssl, 0);
        if (issueTickets) {
            // A control connection is idle most of its life: no buffers while it is.
            SSL_set_mode(ssl, SSL_MODE_RELEASE_BUFFERS);
        } else {
            // A data connection moves bulk: read what the socket holds in one
            // call, not a record header at a time.
            SSL_set_read_ahead(ssl, 1);
            SSL_set_default_read_buffer_len(ssl, 64 * 1024);
        }
        stream->reset(new TlsStream);
        (*stream)->Ssl = ssl;
        (*stream)->Control = issueTickets;
        if (issueTickets) (*stream)->Token = nextToken.fetch_add(1);
        SSL_set_app_data(ssl, &(*stream)->Token);  // for MarkTicket
    }
    SSL* ssl = AsSsl((*stream)->Ssl);
    for (;;) {
        ERR_clear_error();
        int result = SSL_accept(ssl);
        if (result == 1) {
            // A session resumed by its id, from the cache, carries the mark too.
            if ((*stream)->Control) MarkSession(SSL_get0_session(ssl), (*stream)->Token);
            return NetStatus::Ok;
        }
        NetStatus waited = WaitForTls(ssl, result, fd, waits, reason);
        if (waited == NetStatus::Ended) {
            *reason = "the client closed the connection during the handshake";
            return NetStatus::Failed;
        }
        if (waited != NetStatus::Ok) return waited;
    }
}

bool TlsStream::ResumedFrom(const TlsStream& control) const {
    SSL* ssl = AsSsl(Ssl);
    return SSL_session_reused(ssl) == 1 && control.Token != 0 && SessionMark(SSL_get0_session(ssl)) == control.Token;
}

bool TlsStream::Pending() const { return SSL_has_pending(AsSsl(Ssl)) == 1; }

NetResult TlsStream::Read(int fd, void* buffer, size_t size, NetWaits waits) {
    SSL* ssl = AsSsl(Ssl);
    // A control connection waits for its next command outside OpenSSL: a
    // read that blocked inside it would hold a record buffer (16 KiB) for
    // as long as the client stays silent; released between records, an idle
    // connection holds none.
    if (Control && SSL_has_pending(ssl) != 1) {
        NetStatus ready = NetWaitReadable(fd, waits);
        if (ready != NetStatus::Ok) return NetResult{ready, 0, 0};
    }
    for (;;) {
        size_t got = 0;
        ERR_clear_error();
        int result = SSL_read_ex(ssl, buffer, size, &got);
        if (result == 1) {
            // One call gives one record (16 KiB at most): take every record
            // already here, so that a large buffer fills with few calls. On a
            // control connection's blocking socket, only what OpenSSL holds:
            // a read from the socket would wait for the client's next line.
            char* bytes = static_cast<char*>(buffer);
            size_t more = 0;
            while (got < size && (!Control || SSL_has_pending(ssl) == 1) &&
                   SSL_read_ex(ssl, bytes + got, size - got, &more) == 1)
                got += more;
            ERR_clear_error();
            return NetResult{NetStatus::Ok, got, 0};
        }
        NetStatus waited = WaitForTls(ssl, result, fd, waits, nullptr);
        if (waited == NetStatus::Ended) return NetResult{NetStatus::Ended, 0, 0};
        if (waited != NetStatus::Ok) return NetResult{waited, 0, 0};
    }
}

NetResult TlsStream::WriteAll(int fd, const void* data, size_t length, NetWaits waits) {
    SSL* ssl = AsSsl(Ssl);
    const char* next = static_cast<const char*>(data);
    size_t total = length;
    while (length > 0) {
        size_t written = 0;
        ERR_clear_error();
        int result = SSL_write_ex(ssl, next, length, &written);
        if (result == 1) {
            next += written;
            length -= written;
            continue;
        }
        NetStatus waited = WaitForTls(ssl, result, fd, waits, nullptr);
        if (waited == NetStatus::Ended) waited = NetStatus::Failed;
        if (waited != NetStatus::Ok) return NetResult{waited, total - length, 0};
    }
    return NetResult{NetStatus::Ok, total, 0};
}

void TlsStream::Shutdown(int fd) {
    (void)fd;
    ERR_clear_error();
    SSL_shutdown(AsSsl(Ssl));  // queues and sends the alert; the socket's close follows
    ERR_clear_error();
}

#else  // built without OpenSSL

bool TlsAvailable() { return false; }
std::string TlsCertificateSummary() { return ""; }
bool TlsSetUp(const std::string&, const std::string&, std::string* fault) {
    *fault = "this vostrine was built without OpenSSL";
    return false;
}
bool TlsReady() { return false; }
void TlsThreadEnd() {}
TlsStream::~TlsStream() {}
NetStatus TlsStream::Handshake(std::unique_ptr<TlsStream>*, int, bool, NetWaits, std::string* reason) {
    *reason = "no TLS";
    return NetStatus::Failed;
}
bool TlsStream::ResumedFrom(const TlsStream&) const { return false; }
bool TlsStream::Pending() const { return false; }
NetResult TlsStream::Read(int, void*, size_t, NetWaits) { return NetResult{NetStatus::Failed, 0, 0}; }
NetResult TlsStream::WriteAll(int, const void*, size_t, NetWaits) { return NetResult{NetStatus::Failed, 0, 0}; }
void TlsStream::Shutdown(int) {}

#endif
