// LIST, RETR and STOR, and with the extensions NLST, MLSD and APPE: the
// commands that move bytes over the data connection. The data connection is
// closed on every way out of each of them, before the final reply.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Connection/CommandLoop.h"
#include "Connection/Commands.h"
#include "Connection/Replies.h"
#include "Connection/Session.h"
#include "Connection/TransferEngine.h"
#include "FileSystem/Listing.h"
#include "FileSystem/Paths.h"
#include "core/Log.h"
#include "core/LogFiles.h"
#include "core/Metrics.h"
#include "core/Records.h"
#include "platform/Beneath.h"
#include "platform/Files.h"
#include "core/Options.h"

namespace {

// Sets a transfer state for the length of a transfer, then back to logged in.
struct TransferState {
    ConnectionRecord& Record;
    TransferState(ConnectionRecord& record, int state) : Record(record) { Record.State = state; }
    ~TransferState() { Record.State = StateLoggedIn; }
};

// SECURITY: with --tls-required, no listing or file crosses in clear text.
bool RefusedInClear(Session& session) {
    if (!Options.TlsRequired || session.ProtectData) return false;
    Reply(session, Replies::DataMustBeProtected);
    return true;
}

// The path LIST and NLST name: the argument without leading options such as "-la".
const char* ListTarget(const char* argument) {
    for (;;) {
        while (*argument == ' ') ++argument;
        if (*argument != '-') return argument;
        while (*argument != '\0' && *argument != ' ') ++argument;
    }
}

// Sends a listing piece and empties it; false when the data connection failed.
bool SendListing(Session& session, ListingText& listing) {
    bool sent = SendOnData(session, std::string_view(listing.Text, listing.Used));
    listing.Used = 0;
    listing.Text[0] = '\0';
    return sent;
}

// Sends the listing of a directory, or the line of a single file, or nothing
// where nothing is. A directory of any size goes out in pieces of the buffer;
// an empty listing is one empty piece.
bool SendListingOf(Session& session, const ClientPath& path, const char* name, const ListingFormat& format) {
    char text[ListingSize];
    ListingText listing{text, sizeof text};
    text[0] = '\0';
    DirectoryReader reader = ListDirectoryBeneath(path.Path);
    if (!reader.IsOpen()) {
        // A file gets its line; a directory that cannot be read lists as nothing.
        DirectoryEntry entry;
        if (InfoBeneath(path.Path, &entry) && !entry.IsDirectory) BuildUnit(listing, format, entry, name);
        return SendListing(session, listing);
    }
    bool sentAny = false;
    for (bool more = true; more;) {
        more = GetDirectoryList(reader, listing, format);
        if (listing.Used == 0 && sentAny) continue;  // nothing new to send
        if (!SendListing(session, listing)) return false;
        sentAny = true;
    }
    return true;
}

// Each transfer below sends its preliminary reply itself and returns the
// final one, which its command sends once the data connection is closed.

Replies::Text List(Session& session, const char* argument, ListingStyle style) {
    const char* name = style == ListingStyle::Facts ? argument : ListTarget(argument);
    ClientPath path(session, name);
    if (!path.Built) return Spoken().ListOutside;  // above the root, or too long
    if (Spoken().ListsOnlyWhatExists) {
        // A listing of nothing is an error, not an empty listing; MLSD lists directories only.
        PathKind kind = path.Valid ? KindBeneath(path.Path) : PathKind::Missing;
        if (kind == PathKind::Directory && !OpenDirectoryBeneath(path.Path).IsOpen()) kind = PathKind::Missing;
        if (kind == PathKind::Missing) return Replies::NoSuchPath;
        if (style == ListingStyle::Facts && kind != PathKind::Directory) return Replies::NotADirectory;
    }
    TransferScope scope(session);
    Reply(session, Replies::ListStarting);
    if (Replies::Text failed = OpenDataConnection(session); !failed.empty()) return failed;
    if (Replies::Text failed = ProtectDataConnection(session); !failed.empty()) return failed;
    if (!SendListingOf(session, path, name, session.ListingIn(style))) return Replies::TransferAborted;
    session.Data.EndReading();
    return Replies::TransferComplete;
}

Replies::Text Retrieve(Session& session, const char* argument) {
    TransferScope scope(session);
    int64_t offset = session.RestartOffset;
    if (Replies::Text failed = OpenDataConnection(session); !failed.empty()) return failed;
    ClientPath path(session, argument);
    if (!path.Built) return Replies::FileNotFound;
    int64_t size = 0;
    Descriptor file = path.Valid ? OpenReadBeneath(path.Path, &size) : Descriptor();
    if (!file.IsOpen() && (!path.Valid || KindBeneath(path.Path) == PathKind::Missing)) return Replies::FileNotFound;
    if (file.IsOpen() && offset > size) return Replies::RestBeyondEnd;
    session.Record.TransferSize = size - offset;
    bool ascii = session.Type == TransferType::Ascii;
    TransferState sending(session.Record, StateSending);
    Reply(session, ascii ? Replies::OpeningAscii : Replies::OpeningBinary);
    if (!file.IsOpen()) return Replies::CantOpenFile;  // a directory, or unreadable
    if (Replies::Text failed = ProtectDataConnection(session); !failed.empty()) return failed;
    if (session.Policy != nullptr) session.Rate = session.Policy->DownloadRate;
    TransferStarted(session);
    Replies::Text outcome = SendFile(session, file.Get(), offset, size, ascii);
    if (outcome == Replies::TransferComplete) session.Data.EndReading();
    return outcome;
}

enum class StoreMode { Replace, Append };

Replies::Text Store(Session& session, const char* argument, StoreMode mode) {
    TransferScope scope(session);
    int64_t offset = mode == StoreMode::Append ? 0 : session.RestartOffset;
    ClientPath path(session, argument);
    DirectoryEntry existing;
    bool found = path.Valid && InfoBeneath(path.Path, &existing);
    bool exists = found && !existing.IsDirectory;
    int64_t before = exists ? existing.Size : 0;
    bool replaces = mode == StoreMode::Replace && offset == 0;
    AccountPolicy* quota = HasQuota(session.Policy) ? session.Policy : nullptr;
    // An upload whose size ALLO announced, or a new file past the count, that
    // cannot fit is refused before anything moves.
    int64_t announced = std::max<int64_t>(session.Allocated, 0) - (replaces ? before : 0);
    if (quota != nullptr && !QuotaAllows(*quota, announced, exists ? 0 : 1)) return Replies::QuotaExceeded;
    if (Replies::Text failed = OpenDataConnection(session); !failed.empty()) return failed;
    if (!path.Built) return Replies::CantCreateFile;
    if (session.Allocated >= 0) session.Record.TransferSize = session.Allocated;
    // SECURITY: a resumed upload continues the file; an offset past its
    // end would make a sparse file of any size, holes the disk may not hold.
    if (offset > (found ? existing.Size : 0)) return Replies::RestBeyondEnd;
    bool ascii = session.Type == TransferType::Ascii;
    TransferState receiving(session.Record, StateReceiving);
    Reply(session, ascii ? Replies::OpeningAscii : Replies::OpeningBinary);
    // The file is touched only once the data connection is known to be the
    // client's: a refused one must not have emptied it.
    if (Replies::Text failed = ProtectDataConnection(session); !failed.empty()) return failed;
    // REST keeps the bytes before its offset; APPE keeps the whole file.
    unsigned created = FileCreationMode(session.Policy);
    Descriptor file = !path.Valid                ? Descriptor()
                      : mode == StoreMode::Append ? OpenWriteBeneath(path.Path, -1, created)
                      : offset > 0                ? OpenWriteBeneath(path.Path, offset, created)
                                                  : CreateBeneath(path.Path, created);
    if (!file.IsOpen()) return Replies::CantCreateFile;
    int64_t startedAt = FilePosition(file.Get());
    if (quota != nullptr) {
        // What the upload replaces stops counting now; its bytes count as they come.
        CountUsage(*quota, replaces ? -before : 0, exists ? 0 : 1);
        session.Charged = quota;
    }
    if (session.Policy != nullptr) session.Rate = session.Policy->UploadRate;
    TransferStarted(session);
    Replies::Text outcome = ReceiveFile(session, file.Get(), ascii);
    session.Charged = nullptr;
    // An upload the quota stopped leaves nothing of itself: a file it made
    // or replaced goes, one it continued is cut back to where it began.
    if (outcome == Replies::QuotaExceeded && (replaces || !exists)) RemoveFileBeneath(path.Path);
    else if (outcome == Replies::QuotaExceeded) FileTruncate(file.Get(), startedAt);
    // What follows the received bytes of a resumed upload is cut off, however it ended.
    else if (offset > 0) FileTruncate(file.Get(), FilePosition(file.Get()));
    if (quota != nullptr) {
        // The count follows the file as it now is (TYPE A changes line ends).
        DirectoryEntry now;
        bool kept = ExistsBeneath(path.Path) && DescribeOpen(file.Get(), &now);
        int64_t counted = (replaces ? -before : 0) + session.ChargedBytes;
        CountUsage(*quota, (kept ? now.Size : 0) - before - counted, kept ? 0 : -1);
    }
    return outcome;
}

// One line in the transfer log for a file transfer that began to move bytes.
void LogFileTransfer(Session& session, const char* argument, bool outgoing, bool complete) {
    if (session.StartedAt < 0) return;
    int64_t elapsed = MonotonicMilliseconds() - session.StartedAt;
    session.StartedAt = -1;
    if (!complete && session.Moved == 0) return;  // nothing moved
    char path[PathSize];
    if (!NormaliseClientPath(session.Record.CurrentDirectory, argument, path, sizeof path)) return;
    int user = session.Record.UserID.load();
    LogTransfer({std::max<int64_t>(1, (elapsed + 500) / 1000), ClientAddressText(session).Text, session.Moved, path,
                 session.Type == TransferType::Ascii, outgoing, user >= 0 ? User[user]->Name : "", complete,
                 user >= 0 && std::strcmp(User[user]->Name, "anonymous") == 0});
}

// The data connection and the file are closed before the final reply,
// whichever way the transfer ended; an ABOR gets its own reply after it.
// What only this transfer needed is given back: an idle connection holds
// no buffer and no pipe.
void Finish(Session& session, Replies::Text reply) {
    CloseDataConnection(session);  // the channel gives its buffer and pipe back
    session.TransferBuffer.reset();
    if (!AnswerAbort(session)) Reply(session, reply);
}

}  // namespace

void CommandList(Session& session, char* argument) {
    if (RefusedInClear(session)) return;
    Finish(session, List(session, argument, Spoken().List));
}

void CommandNlst(Session& session, char* argument) {
    if (!RefusedInClear(session)) Finish(session, List(session, argument, ListingStyle::Names));
}

void CommandMlsd(Session& session, char* argument) {
    if (!RefusedInClear(session)) Finish(session, List(session, argument, ListingStyle::Facts));
}

namespace {

// A file transfer to its end: the final reply, then its line in the transfer log.
void FileTransfer(Session& session, const char* argument, bool outgoing, Replies::Text reply) {
    bool complete = reply == Replies::TransferComplete && !session.AbortRequested;
    bool aborted = session.AbortRequested || reply == Replies::TransferAborted;
    Count(Metrics.Transfers[outgoing][static_cast<int>(complete  ? TransferResult::Complete
                                                       : aborted ? TransferResult::Aborted
                                                                 : TransferResult::Failed)]);
    Count(Metrics.TransferBytes[outgoing], static_cast<uint64_t>(session.Moved));
    Finish(session, reply);
    LogFileTransfer(session, argument, outgoing, complete);
}

}  // namespace

void CommandRetr(Session& session, char* argument) {
    if (!RefusedInClear(session)) FileTransfer(session, argument, true, Retrieve(session, argument));
}

void CommandStor(Session& session, char* argument) {
    if (!RefusedInClear(session)) FileTransfer(session, argument, false, Store(session, argument, StoreMode::Replace));
}

void CommandAppe(Session& session, char* argument) {
    if (!RefusedInClear(session)) FileTransfer(session, argument, false, Store(session, argument, StoreMode::Append));
}

void CommandAbor(Session& session, char*) {
    // During a transfer the transfer ends and answers; otherwise there is nothing to end.
    if (session.Transferring) session.AbortRequested = true;
    else Reply(session, Replies::NothingToAbort);
}

void CommandRest(Session& session, char* argument) {
    int64_t offset = 0;
    if (!ParseRestOffset(argument, &offset)) {
        Reply(session, Replies::ArgumentSyntax);
        return;
    }
    session.RestartOffset = offset;
    char reply[128];
    int length = std::snprintf(reply, sizeof reply, Replies::RestFormat, offset);
    Reply(session, std::string_view(reply, static_cast<size_t>(length)));
}
