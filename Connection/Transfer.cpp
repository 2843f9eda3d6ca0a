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

// Closes the data socket when a transfer command ends, whichever way it ends.
struct DataSocketGuard {
    Session& Owner;
    ~DataSocketGuard() { CloseDataSocket(Owner); }
};

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

// Sends the listing of a directory, or the line of a single file.
bool SendListingOf(Session& session, const char* path, const char* name) {
    ListingText listing{session.Transfer(), TransferSize};
    listing.Text[0] = '\0';
    PathKind kind = PathKindOf(path);
    if (kind == PathKind::Directory) {
        DirectoryReader reader(path);
        bool more = reader.IsOpen();
        while (more) {
            more = GetDirectoryList(reader, listing);
            if (!SendListing(session, listing)) return false;
        }
        return true;
    }
    time_t lastWrite;
    int64_t size;
    if (kind != PathKind::Missing && PathTimeAndSize(path, &lastWrite, &size))
        BuildFileUnit(listing, name, lastWrite, size);
    return SendListing(session, listing);
}

}  // namespace

void CommandList(Session& session, char* argument) {
    DataSocketGuard closeData{session};
    const char* name = ListTarget(argument);
    char path[PathSize];
    if (!BuildLocalPath(session.Record, name, path, sizeof path)) {
        Reply(session, Replies::FileNotFound);
        return;
    }
    Reply(session, Replies::ListStarting);
    if (!ConnectDataSocket(session)) {
        Reply(session, Replies::CantOpenDataConnection);
        return;
    }
    if (!SendListingOf(session, path, name)) {
        Reply(session, Replies::TransferAborted);
        return;
    }
    NetShutdownReceive(session.Record.DataSocket.load());
    CloseDataSocket(session);
    Reply(session, Replies::TransferComplete);
}

void CommandRetr(Session& session, char* argument) {
    DataSocketGuard closeData{session};
    if (!ConnectDataSocket(session)) {
        Reply(session, Replies::CantOpenDataConnection);
        return;
    }
    char path[PathSize];
    if (!BuildLocalPath(session.Record, argument, path, sizeof path) || PathKindOf(path) == PathKind::Missing) {
        Reply(session, Replies::FileNotFound);
        return;
    }
    TransferState sending(session.Record, StateSending);
    Reply(session, Replies::OpeningBinary);
    int64_t size = 0;
    FileHandle file(FileOpenRead(path, &size));
    if (file.Fd < 0) {
        Reply(session, Replies::CantOpenFile);
        return;
    }
    int dataSocket = session.Record.DataSocket.load();
    int64_t sent = 0;
    // Only the bytes the file really holds go out: a file that shrinks ends early.
    while (sent < size) {
        long moved = NetSendFile(dataSocket, file.Fd, &sent, static_cast<size_t>(size - sent), session.WakeFd);
        if (moved == 0) break;
        if (moved < 0) {
            Reply(session, moved == NetFileFailed ? Replies::CantReadFile : Replies::TransferAborted);
            return;
        }
        Progress(session);
    }
    NetShutdownReceive(dataSocket);
    CloseDataSocket(session);
    Reply(session, Replies::TransferComplete);
}

void CommandStor(Session& session, char* argument) {
    DataSocketGuard closeData{session};
    if (!ConnectDataSocket(session)) {
        Reply(session, Replies::CantOpenDataConnection);
        return;
    }
    char path[PathSize];
    if (!BuildLocalPath(session.Record, argument, path, sizeof path)) {
        Reply(session, Replies::CantCreateFile);
        return;
    }
    TransferState receiving(session.Record, StateReceiving);
    Reply(session, Replies::OpeningBinary);
    FileHandle file(FileCreate(path));
    if (file.Fd < 0) {
        Reply(session, Replies::CantCreateFile);
        return;
    }
    int dataSocket = session.Record.DataSocket.load();
    char* buffer = session.Transfer();
    for (;;) {
        long got = NetReceive(dataSocket, buffer, TransferSize, session.WakeFd);
        if (got == 0) break;  // the client has sent the whole file
        if (got < 0) {
            Reply(session, Replies::TransferAborted);
            return;
        }
        if (!FileWriteAll(file.Fd, buffer, static_cast<size_t>(got))) {
            Reply(session, Replies::CantWriteFile);
            return;
        }
        Progress(session);
    }
    CloseDataSocket(session);
    Reply(session, Replies::TransferComplete);
}
