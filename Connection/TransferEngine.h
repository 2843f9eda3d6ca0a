// The transfer engine: makes a transfer's data connection (and protects it
// under PROT P), and moves bytes over it in one copy loop that owns the
// progress the idle supervisor and STAT see, and the control connection's
// watch: ABOR and STAT are heard, and a vanished client ends the transfer.
// The commands that use it (LIST, RETR, STOR...) are in Transfer.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "Connection/Replies.h"

struct Session;

// The length of one transfer command: what STAT and ABOR see, and the REST
// offset, which serves one transfer command only.
struct TransferScope {
    Session& Of;
    explicit TransferScope(Session& session);
    ~TransferScope();
};

// Makes the data connection as PORT or PASV set it up; the record shows its
// socket. Returns nothing when it is made, else the final reply.
Replies::Text OpenDataConnection(Session& session);

// Whether a passive listener waits for a data connection that the client may
// make before it sends the transfer command.
bool EarlyDataAwaited(const Session& session);

// Between commands, once the passive listener is ready: takes the client's
// data connection (and under PROT P runs the TLS handshake the client began
// with it) so that clients that set it up before sending the command, as some
// FTPS clients do, are not left waiting. It returns when done or once the
// control connection speaks; the transfer then goes on from there.
void TakeEarlyDataConnection(Session& session);

// After PROT P, the TLS handshake on the data connection, which clients
// start once they have the preliminary reply. Returns nothing when the
// connection may carry the transfer, else the final reply.
Replies::Text ProtectDataConnection(Session& session);

// After a transfer (or a hash) that an ABOR ended, sends the two replies
// RFC 959 gives it: 426 for the transfer, then 226 for the ABOR. False when
// no ABOR came.
bool AnswerAbort(Session& session);

// The file's bytes begin to move: the moment the transfer log measures from.
void TransferStarted(Session& session);

// Sends a text (a listing piece) on the data connection whole, echoed on the
// console first; counts it as progress. False when the data connection failed.
bool SendOnData(Session& session, std::string_view text);

// Sends a file from offset to size (a file that shrinks meanwhile ends with
// 451), or in TYPE A from offset to its end with line ends converted.
// Returns the final reply.
Replies::Text SendFile(Session& session, int file, int64_t offset, int64_t size, bool ascii);

// Reads a file's bytes from offset up to end (or the file's end) through the
// transfer buffer, handing each piece to take, with the control connection
// heard between pieces as during a transfer. Returns the final reply (226
// when every byte was read); *end becomes where reading stopped.
Replies::Text ReadFileThrough(Session& session, int file, int64_t offset, int64_t* end,
                              const std::function<void(const char*, size_t)>& take);

// Receives an upload into a file at its position until the client closes
// the data connection, converting line ends in TYPE A. Returns the final reply.
Replies::Text ReceiveFile(Session& session, int file, bool ascii);
