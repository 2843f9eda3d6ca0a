// LIST, RETR and STOR: the commands that move bytes over the data connection.
// The data socket is closed on every way out of each of them.
#include <cstring>

#include "Connection/Commands.h"
#include "Connection/Replies.h"
#include "Connection/Session.h"
#include "Connection/Slots.h"
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

// The path LIST names: its argument without leading options such as "-la".
const char* ListTarget(const char* argument) {
    for (;;) {
        while (*argument == ' ') ++argument;
        if (*argument != '-') return argument;
        while (*argument != '\0' && *argument != ' ') ++argument;
    }
}

// Sends the listing text built so far and empties it; false when the data connection failed.
bool SendListing(Session& session, ListingText& listing) {
    bool sent = listing.Used == 0 || Send(session.Record.DataSocket.load(), std::string_view(listing.Text, listing.Used),
                                          session.WakeFd);
    listing.Used = 0;
    listing.Text[0] = '\0';
    if (sent) Progress(session);
    return sent;
}

// Sends the listing of a directory, or the line of a single file, or nothing
// where nothing is. A directory of any size goes out in pieces of the buffer.
bool SendListingOf(Session& session, const char* path, const char* name) {
    char text[ListingSize];
    ListingText listing{text, sizeof text};
    text[0] = '\0';
    DirectoryReader reader(path);
    if (reader.IsOpen()) {
        for (bool more = true; more;) {
            more = GetDirectoryList(reader, listing);
            if (!SendListing(session, listing)) return false;
        }
        return true;
    }
    time_t lastWrite;
    int64_t size;
    if (PathTimeAndSize(path, &lastWrite, &size)) BuildFileUnit(listing, name, lastWrite, size);
    return SendListing(session, listing);
}

// Each transfer below sends its preliminary reply itself and returns the
// final one, which its command sends once the data socket is closed.

Replies::Text List(Session& session, const char* argument) {
    const char* name = ListTarget(argument);
    char path[PathSize];
    if (!BuildLocalPath(session.Record, name, path, sizeof path)) return Replies::FileNotFound;
    Reply(session, Replies::ListStarting);
    if (!ConnectDataSocket(session)) return Replies::CantOpenDataConnection;
    if (!SendListingOf(session, path, name)) return Replies::TransferAborted;
    NetShutdownReceive(session.Record.DataSocket.load());
    return Replies::TransferComplete;
}

Replies::Text Retrieve(Session& session, const char* argument) {
    if (!ConnectDataSocket(session)) return Replies::CantOpenDataConnection;
    char path[PathSize];
    if (!BuildLocalPath(session.Record, argument, path, sizeof path)) return Replies::FileNotFound;
    int64_t size = 0;
    FileHandle file(FileOpenRead(path, &size));
    if (file.Fd < 0 && PathKindOf(path) == PathKind::Missing) return Replies::FileNotFound;
    TransferState sending(session.Record, StateSending);
    Reply(session, Replies::OpeningBinary);
    if (file.Fd < 0) return Replies::CantOpenFile;  // a directory, or unreadable
    int dataSocket = session.Record.DataSocket.load();
    int64_t sent = 0;
    // Only the bytes the file really holds go out: a file that shrinks ends early.
    while (sent < size) {
        long moved = NetSendFile(dataSocket, file.Fd, &sent, static_cast<size_t>(size - sent), session.WakeFd);
        if (moved == 0) break;
        if (moved < 0) return moved == NetFileFailed ? Replies::CantReadFile : Replies::TransferAborted;
        Progress(session);
    }
    NetShutdownReceive(dataSocket);
    return Replies::TransferComplete;
}

Replies::Text Store(Session& session, const char* argument) {
    if (!ConnectDataSocket(session)) return Replies::CantOpenDataConnection;
    char path[PathSize];
    if (!BuildLocalPath(session.Record, argument, path, sizeof path)) return Replies::CantCreateFile;
    TransferState receiving(session.Record, StateReceiving);
    Reply(session, Replies::OpeningBinary);
    FileHandle file(FileCreate(path));
    if (file.Fd < 0) return Replies::CantCreateFile;
    int dataSocket = session.Record.DataSocket.load();
    for (;;) {
        long got = NetReceiveIntoFile(dataSocket, file.Fd, session.UploadPipe, session.WakeFd);
        if (got == NetSpliceUnsupported) break;
        if (got == 0) return Replies::TransferComplete;  // the client has sent the whole file
        if (got == NetFileFailed) return Replies::CantWriteFile;
        if (got < 0) return Replies::TransferAborted;
        Progress(session);
    }
    char* buffer = session.Transfer();
    for (;;) {
        long got = NetReceive(dataSocket, buffer, TransferSize, session.WakeFd);
        if (got == 0) return Replies::TransferComplete;
        if (got < 0) return Replies::TransferAborted;
        if (!FileWriteAll(file.Fd, buffer, static_cast<size_t>(got))) return Replies::CantWriteFile;
        Progress(session);
    }
}

// The data socket and the file are closed before the final reply, whichever
// way the transfer ended.
void Finish(Session& session, Replies::Text reply) {
    CloseDataSocket(session);
    Reply(session, reply);
}

}  // namespace

void CommandList(Session& session, char* argument) { Finish(session, List(session, argument)); }

void CommandRetr(Session& session, char* argument) { Finish(session, Retrieve(session, argument)); }

void CommandStor(Session& session, char* argument) { Finish(session, Store(session, argument)); }
