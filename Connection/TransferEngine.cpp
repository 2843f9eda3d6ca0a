#include "Connection/TransferEngine.h"

#include <cstring>
#include <mutex>
#include <string>

#include "Connection/CommandLoop.h"
#include "Connection/Session.h"
#include "DataConnection/AsciiMode.h"
#include "DataConnection/DataConnection.h"
#include "core/Log.h"
#include "core/Metrics.h"
#include "core/Options.h"
#include "core/Records.h"
#include "platform/Files.h"
#include "platform/Net.h"
#include "platform/Tls.h"

namespace {

#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr int64_t PassiveWait = 0;  // a fuzzer's client never makes the data connection
constexpr int64_t ActiveWait = 0;
#else
constexpr int64_t PassiveWait = 60 * 1000;  // milliseconds
constexpr int64_t ActiveWait = 30 * 1000;
#endif

// Every piece of a transfer that moves counts as activity for the idle supervisor.
void Progress(Session& session, size_t count) {
    session.Record.TickCount = 0;
    session.Moved += static_cast<int64_t>(count);
    session.Record.TransferMoved.store(session.Moved, std::memory_order_relaxed);
}

// After a wait was interrupted by the control connection: true to go on.
bool GoOn(Session& session) { return HearDuringTransfer(session); }

// An upload's bytes count against its account's quota as they arrive;
// false once they pass it.
bool WithinQuota(Session& session, size_t count) {
    if (session.Charged == nullptr) return true;
    session.ChargedBytes += static_cast<int64_t>(count);
    CountUsage(*session.Charged, static_cast<int64_t>(count), 0);
    return QuotaAllows(*session.Charged, 0, 0);
}

// A transfer under a rate that is ahead of it waits, hearing the control
// connection meanwhile, until the bytes moved are due: a token bucket whose
// bursts are one step (Session::Piece). Ok when the loop may go on.
NetStatus KeepToRate(Session& session) {
    if (session.Rate == 0 || session.StartedAt < 0) return NetStatus::Ok;
    int64_t due = session.StartedAt + static_cast<int64_t>(static_cast<uint64_t>(session.Moved) * 1000 / session.Rate);
    if (due <= MonotonicMilliseconds()) return NetStatus::Ok;
    NetWaits waits = session.TransferWaits();
    waits.Deadline = due;
    NetStatus waited = NetWaitReadable(NoSocket, waits);
    return waited == NetStatus::TimedOut ? NetStatus::Ok : waited;
}

// The copy loop. A step moves one piece and says how: Ok with its count,
// Ended when the copy is whole, FileFailed, Interrupted when the control
// connection spoke (heard here, and the step called again unless ABOR came
// or the connection is being dropped), or a failure of the data connection.
template <typename Step>
Replies::Text Pump(Session& session, Replies::Text fileFailure, Step step) {
    for (;;) {
        NetResult moved = step(session.TransferWaits());
        if (moved.Count > 0) Progress(session, moved.Count);
        if (moved.Count > 0 && !WithinQuota(session, moved.Count)) return Replies::QuotaExceeded;
        switch (moved.Status) {
            case NetStatus::Ok: break;
            case NetStatus::Ended: return Replies::TransferComplete;
            case NetStatus::FileFailed: return fileFailure;
            case NetStatus::Interrupted:
                if (GoOn(session)) break;
                return Replies::TransferAborted;
            default: return Replies::TransferAborted;
        }
        for (NetStatus kept; (kept = KeepToRate(session)) != NetStatus::Ok;)
            if (kept != NetStatus::Interrupted || !GoOn(session)) return Replies::TransferAborted;
    }
}

// A step's result from a count of bytes moved.
NetResult MovedOk(size_t count) { return NetResult{NetStatus::Ok, count, 0}; }

}  // namespace

TransferScope::TransferScope(Session& session) : Of(session) {
    Of.Transferring = true;
    Of.Moved = 0;
    Of.ChargedBytes = 0;
    Of.ControlFull = false;
    if (!Options.Extensions) return;  // only STAT and "view xfer" show the record's transfer fields
    ConnectionRecord& record = Of.Record;
    record.TransferMoved = 0;
    record.TransferSize = -1;
    {
        std::lock_guard<std::mutex> hold(SlotLock);
        static_assert(sizeof record.TransferCommand == sizeof Of.CommandText);
        std::memcpy(record.TransferCommand, Of.CommandText, sizeof record.TransferCommand);
    }
    record.TransferStart = MonotonicMilliseconds();
}

TransferScope::~TransferScope() {
    Of.Record.TransferStart = 0;
    Of.Transferring = false;
    Of.RestartOffset = 0;
    Of.Allocated = -1;
    Of.Rate = 0;
    Of.Charged = nullptr;
}

namespace {

// A passive port nobody connects to is given up after a minute, a connection
// to the client that cannot be made after half of one; the wait lasts as long
// as its holder.
struct DataDeadline {
    Session& Of;
    explicit DataDeadline(Session& session) : Of(session) {
        Of.DataDeadline = MonotonicMilliseconds() + (Of.Endpoint.Passive ? PassiveWait : ActiveWait);
    }
    ~DataDeadline() { Of.DataDeadline = 0; }
};

void AdoptDataConnection(Session& session, Descriptor data) {
    CloseDataConnection(session);  // the passive listener, which has served its turn
    session.Record.DataSocket = data.Get();
    session.Data = Channel(std::move(data));
}

// One step of the data connection's TLS handshake: Ok, Failed (reported),
// or Interrupted by the control connection.
NetStatus SecureDataConnection(Session& session) {
    std::string reason;
    NetStatus status = session.Data.StartTls(false, session.TransferWaits(), &reason);
    if (status == NetStatus::Ok || status == NetStatus::Failed) Count(Metrics.TlsHandshakes[status == NetStatus::Ok]);
    session.DataSecured = status == NetStatus::Ok;
    if (status == NetStatus::Failed)
        ConsolePrintf("TLS handshake failed on %d (data) from %s: %s\r\n", session.Data.Fd(),
                      ClientAddressText(session).Text, reason.c_str());
    return status;
}

}  // namespace

bool EarlyDataAwaited(const Session& session) {
    return TlsReady() && !session.EarlyDataFailed && session.Endpoint.Passive && session.Endpoint.Listener.IsOpen() &&
           !session.Data.IsOpen();
}

void TakeEarlyDataConnection(Session& session) {
    DataDeadline wait(session);
    Descriptor data;
    DataStatus status = ConnectDataSocket(session.Endpoint, session.Client, session.TransferWaits(), &data);
    session.EarlyDataFailed = status == DataStatus::Failed;  // the transfer command tries again
    if (status != DataStatus::Connected) return;  // the control connection spoke first
    AdoptDataConnection(session, std::move(data));
    if (session.ProtectData && SecureDataConnection(session) == NetStatus::Failed) CloseDataConnection(session);
}

Replies::Text OpenDataConnection(Session& session) {
    if (session.Data.IsOpen()) return {};  // made before the command
    DataDeadline wait(session);
    Descriptor data;
    for (;;) {
        DataStatus status = ConnectDataSocket(session.Endpoint, session.Client, session.TransferWaits(), &data);
        if (status == DataStatus::Connected) break;
        if (status == DataStatus::Failed || !GoOn(session))
            return session.AbortRequested ? Replies::TransferAborted : Replies::CantOpenDataConnection;
    }
    AdoptDataConnection(session, std::move(data));
    return {};
}

Replies::Text ProtectDataConnection(Session& session) {
    if (!session.ProtectData) return {};
    while (!session.DataSecured) {
        NetStatus status = SecureDataConnection(session);
        if (status == NetStatus::Interrupted && GoOn(session)) continue;
        if (status != NetStatus::Ok)
            return session.AbortRequested ? Replies::TransferAborted : Replies::CantOpenDataConnection;
    }
    // SECURITY: a data connection must come from whoever holds this control
    // connection's TLS session, or another client could take the transfer by
    // connecting first with a session of its own.
    if (!session.Data.ResumedTlsOf(session.Control) && !Options.TlsAllowNewDataSessions)
        return Replies::DataSessionNotReused;
    return {};
}

bool AnswerAbort(Session& session) {
    if (!session.AbortRequested) return false;
    session.AbortRequested = false;
    Reply(session, Replies::TransferAborted);
    Reply(session, Replies::AbortOk);
    return true;
}

void TransferStarted(Session& session) { session.StartedAt = MonotonicMilliseconds(); }

bool SendOnData(Session& session, std::string_view text) {
    ConsoleEchoSent(session.Data.Fd(), text);
    Replies::Text outcome = Pump(session, Replies::TransferAborted, [&](NetWaits waits) {
        if (text.empty() || !session.Serving()) return NetResult{text.empty() ? NetStatus::Ended : NetStatus::Failed, 0, 0};
        NetResult sent = session.Data.WriteAll(text.data(), text.size(), waits);
        text.remove_prefix(sent.Count);
        return sent.Ok() ? NetResult{NetStatus::Ok, sent.Count, 0} : sent;
    });
    if (outcome == Replies::TransferComplete) return true;
    ConsoleText("Send Error\r\n");
    return false;
}

Replies::Text SendFile(Session& session, int file, int64_t offset, int64_t size, bool ascii) {
    if (!ascii) {
        return Pump(session, Replies::CantReadFile, [&](NetWaits waits) {
            if (offset >= size) return NetResult{NetStatus::Ended, 0, 0};
            NetResult moved = session.Data.SendFile(file, &offset, session.Piece(static_cast<size_t>(size - offset)), waits);
            // A file that shrank ends before the size it had: the client did
            // not get the file it asked for.
            if (moved.Status == NetStatus::Ended) moved.Status = NetStatus::FileFailed;
            return moved;
        });
    }
    if (offset > 0 && !FileSeek(file, offset)) return Replies::CantReadFile;
    // TYPE A: a piece of the file, converted into twice its room, goes out
    // whole before the next is read; an interrupted send goes on with its rest.
    const size_t Piece = session.Piece(TransferSize / 4);
    char* in = session.Transfer();
    char* out = in + Piece;
    bool lastWasCr = false;
    std::string_view pending;
    size_t pieceBytes = 0;  // the file bytes the pending text stands for
    return Pump(session, Replies::CantReadFile, [&](NetWaits waits) {
        if (pending.empty()) {
            int64_t got = FileRead(file, in, Piece);
            if (got < 0) return NetResult{NetStatus::FileFailed, 0, 0};
            if (got == 0) return NetResult{NetStatus::Ended, 0, 0};
            pieceBytes = static_cast<size_t>(got);
            pending = std::string_view(out, ToNetworkAscii(in, pieceBytes, out, &lastWasCr));
        }
        NetResult sent = session.Data.WriteAll(pending.data(), pending.size(), waits);
        pending.remove_prefix(sent.Count);
        return NetResult{sent.Status, pending.empty() ? pieceBytes : 0, sent.Error};
    });
}

Replies::Text ReadFileThrough(Session& session, int file, int64_t offset, int64_t* end,
                              const std::function<void(const char*, size_t)>& take) {
    if (offset > 0 && !FileSeek(file, offset)) return Replies::CantReadFile;
    char* buffer = session.Transfer();
    return Pump(session, Replies::CantReadFile, [&](NetWaits waits) {
        if (offset >= *end) return NetResult{NetStatus::Ended, 0, 0};
        // A look at the control connection, without waiting, between pieces.
        waits.Deadline = 1;
        NetStatus heard = NetWaitReadable(NoSocket, waits);
        if (heard != NetStatus::TimedOut) return NetResult{heard, 0, 0};
        int64_t got = FileRead(file, buffer, static_cast<size_t>(std::min<int64_t>(*end - offset, TransferSize)));
        if (got < 0) return NetResult{NetStatus::FileFailed, 0, 0};
        if (got == 0) *end = offset;  // the file shrank meanwhile
        take(buffer, static_cast<size_t>(got));
        offset += got;
        return MovedOk(static_cast<size_t>(got));
    });
}

Replies::Text ReceiveFile(Session& session, int file, bool ascii) {
    if (!ascii) return Pump(session, Replies::CantWriteFile, [&](NetWaits waits) {
        return session.Data.ReceiveIntoFile(file, waits);  // a pipe's worth at most: the upload's buffer
    });
    const size_t Piece = session.Piece(TransferSize / 2);
    char* buffer = session.Transfer();
    char* converted = buffer + Piece;
    bool pendingCr = false;
    return Pump(session, Replies::CantWriteFile, [&](NetWaits waits) {
        NetResult got = session.Data.Read(buffer, Piece - 1, waits);
        if (got.Status == NetStatus::Ended && pendingCr && !FileWriteAll(file, "\r", 1))
            return NetResult{NetStatus::FileFailed, 0, 0};
        if (!got.Ok()) return got;
        size_t length = FromNetworkAscii(buffer, got.Count, converted, &pendingCr);
        if (!FileWriteAll(file, converted, length)) return NetResult{NetStatus::FileFailed, 0, 0};
        return MovedOk(got.Count);
    });
}
