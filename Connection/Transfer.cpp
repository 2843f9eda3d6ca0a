// LIST, RETR and STOR: the commands that move bytes over the data connection.
// The data connection is closed on every way out of each of them.
#include <cstring>

#include "Connection/Commands.h"
#include "Connection/Replies.h"
#include "Connection/Session.h"
#include "DataConnection/DataConnection.h"
#include "FileSystem/Listing.h"
#include "FileSystem/Paths.h"
#include "core/Records.h"
#include "platform/Files.h"
#include "platform/Net.h"

namespace {

// Sets a transfer state for the length of a transfer, then back to logged in.
struct TransferState {
    ConnectionRecord& Record;
    TransferState(ConnectionRecord& record, int state) : Record(record) { Record.State = state; }
    ~TransferState() { Record.State = StateLoggedIn; }
};

// Every piece of a transfer that moves counts as activity for the idle supervisor.
void Progress(Session& session) { session.Record.TickCount = 0; }

// Makes the data connection as PORT or PASV set it up; the record shows its socket.
bool OpenDataConnection(Session& session) {
    Descriptor data;
    if (!ConnectDataSocket(session.Endpoint, session.PeerAddress, session.WakeFd, &data)) return false;
    CloseDataConnection(session);  // the passive listener, which has served its turn
    session.Record.DataSocket = data.Get();
    session.Data = Channel(std::move(data));
    return true;
}

bool LocalPathOf(const Session& session, const char* argument, char (&path)[PathSize]) {
    return BuildLocalPath(session.Root, session.Record.LocalDirectory, argument, path, sizeof path);
}

// The path LIST names: its argument without leading options such as "-la".
const char* ListTarget(const char* argument) {
    for (;;) {
        while (*argument == ' ') ++argument;
        if (*argument != '-') return argument;
        while (*argument != '\0' && *argument != ' ') ++argument;
    }
}

// Sends a listing piece and empties it; false when the data connection failed.
bool SendListing(Session& session, ListingText& listing) {
    bool sent = Send(session, session.Data, std::string_view(listing.Text, listing.Used));
    listing.Used = 0;
    listing.Text[0] = '\0';
    if (sent) Progress(session);
    return sent;
}

// Sends the listing of a directory, or the line of a single file, or nothing
// where nothing is. A directory of any size goes out in pieces of the buffer;
// an empty listing is one empty piece.
bool SendListingOf(Session& session, const char* path, const char* name) {
    char text[ListingSize];
    ListingText listing{text, sizeof text};
    text[0] = '\0';
    DirectoryReader reader(path);
    if (!reader.IsOpen()) {
        time_t lastWrite;
        int64_t size;
        if (PathTimeAndSize(path, &lastWrite, &size)) BuildFileUnit(listing, name, lastWrite, size);
        return SendListing(session, listing);
    }
    bool sentAny = false;
    for (bool more = true; more;) {
        more = GetDirectoryList(reader, listing);
        if (listing.Used == 0 && sentAny) continue;  // nothing new to send
        if (!SendListing(session, listing)) return false;
        sentAny = true;
    }
    return true;
}

// Each transfer below sends its preliminary reply itself and returns the
// final one, which its command sends once the data connection is closed.

Replies::Text List(Session& session, const char* argument) {
    const char* name = ListTarget(argument);
    char path[PathSize];
    if (!LocalPathOf(session, name, path)) return Replies::FileNotFound;
    Reply(session, Replies::ListStarting);
    if (!OpenDataConnection(session)) return Replies::CantOpenDataConnection;
    if (!SendListingOf(session, path, name)) return Replies::TransferAborted;
    session.Data.EndReading();
    return Replies::TransferComplete;
}

Replies::Text Retrieve(Session& session, const char* argument) {
    if (!OpenDataConnection(session)) return Replies::CantOpenDataConnection;
    char path[PathSize];
    if (!LocalPathOf(session, argument, path)) return Replies::FileNotFound;
    int64_t size = 0;
    Descriptor file = FileOpenRead(path, &size);
    if (!file.IsOpen() && PathKindOf(path) == PathKind::Missing) return Replies::FileNotFound;
    TransferState sending(session.Record, StateSending);
    Reply(session, Replies::OpeningBinary);
    if (!file.IsOpen()) return Replies::CantOpenFile;  // a directory, or unreadable
    int64_t sent = 0;
    // Only the bytes the file really holds go out: a file that shrinks ends early.
    while (sent < size) {
        NetResult moved = NetSendFile(session.Data.Fd(), file.Get(), &sent, static_cast<size_t>(size - sent),
                                      session.WakeFd);
        if (moved.Status == NetStatus::Ended) break;
        if (moved.Status == NetStatus::FileFailed) return Replies::CantReadFile;
        if (!moved.Ok()) return Replies::TransferAborted;
        Progress(session);
    }
    session.Data.EndReading();
    return Replies::TransferComplete;
}

// Receives the rest of an upload through the connection's buffer.
Replies::Text ReceiveThroughBuffer(Session& session, int file) {
    char* buffer = session.Transfer();
    for (;;) {
        NetResult got = session.Data.Read(buffer, TransferSize, session.WakeFd);
        if (got.Status == NetStatus::Ended) return Replies::TransferComplete;
        if (!got.Ok()) return Replies::TransferAborted;
        if (!FileWriteAll(file, buffer, got.Count)) return Replies::CantWriteFile;
        Progress(session);
    }
}

Replies::Text Store(Session& session, const char* argument) {
    if (!OpenDataConnection(session)) return Replies::CantOpenDataConnection;
    char path[PathSize];
    if (!LocalPathOf(session, argument, path)) return Replies::CantCreateFile;
    TransferState receiving(session.Record, StateReceiving);
    Reply(session, Replies::OpeningBinary);
    Descriptor file = FileCreate(path);
    if (!file.IsOpen()) return Replies::CantCreateFile;
    if (!session.Data.ZeroCopy()) return ReceiveThroughBuffer(session, file.Get());
    for (;;) {
        NetResult got = NetReceiveIntoFile(session.Data.Fd(), file.Get(), session.UploadPipe, session.WakeFd);
        switch (got.Status) {
            case NetStatus::Ok: Progress(session); break;
            case NetStatus::Ended: return Replies::TransferComplete;  // the client has sent the whole file
            case NetStatus::Unsupported: return ReceiveThroughBuffer(session, file.Get());
            case NetStatus::FileFailed: return Replies::CantWriteFile;
            default: return Replies::TransferAborted;
        }
    }
}

// The data connection and the file are closed before the final reply,
// whichever way the transfer ended.
void Finish(Session& session, Replies::Text reply) {
    CloseDataConnection(session);
    Reply(session, reply);
}

}  // namespace

void CommandList(Session& session, char* argument) { Finish(session, List(session, argument)); }

void CommandRetr(Session& session, char* argument) { Finish(session, Retrieve(session, argument)); }

void CommandStor(Session& session, char* argument) { Finish(session, Store(session, argument)); }
