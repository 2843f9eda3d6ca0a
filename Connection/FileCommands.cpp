// CWD, SIZE, DELE, RMD, MKD, RNFR and RNTO: commands on single files and
// directories, without a data connection.
#include <cstdio>
#include <cstring>
#include <mutex>

#include "Connection/Commands.h"
#include "Connection/Replies.h"
#include "Connection/Session.h"
#include "FileSystem/Paths.h"
#include "core/Log.h"
#include "core/Records.h"
#include "platform/Files.h"

namespace {

// The local path of an argument, kept below the account's root.
struct LocalPath {
    char Text[PathSize];
    bool Valid;
    LocalPath(const Session& session, const char* argument)
        : Valid(BuildLocalPath(session.Root, session.Record.LocalDirectory, argument, Text, sizeof Text)) {}
};

}  // namespace

void CommandCwd(Session& session, char* argument) {
    ConnectionRecord& record = session.Record;
    DirectoryTexts from;  // only this thread writes them: no lock needed to read
    std::memcpy(from.Local, record.LocalDirectory, sizeof from.Local);
    std::memcpy(from.Current, record.CurrentDirectory, sizeof from.Current);
    DirectoryTexts to;
    if (!ChangeDirectory(session.Root, from, argument, &to)) {
        ReplyWith(session, Replies::CwdFailedPrefix, argument, Replies::CwdFailedSuffix);
        return;
    }
    {
        std::lock_guard<std::mutex> hold(SlotLock);  // the console may be showing them
        std::memcpy(record.LocalDirectory, to.Local, sizeof to.Local);
        std::memcpy(record.CurrentDirectory, to.Current, sizeof to.Current);
    }
    ReplyWith(session, Replies::DirectoryChangedPrefix, to.Current, Replies::DirectoryChangedSuffix);
}

void CommandSize(Session& session, char* argument) {
    LocalPath path(session, argument);
    int64_t size = path.Valid ? FileSize(path.Text) : -1;
    if (size < 0) {
        if (path.Valid) ConsolePrintf("%s\r\n", path.Text);
        Reply(session, Replies::SizeNotFound);
        return;
    }
    char reply[32];
    int length = std::snprintf(reply, sizeof reply, Replies::SizeFormat, size);
    Reply(session, std::string_view(reply, static_cast<size_t>(length)));
}

void CommandDele(Session& session, char* argument) {
    LocalPath path(session, argument);
    if (path.Valid && FileRemove(path.Text))
        ReplyWith(session, Replies::DeletedPrefix, argument, Replies::DeletedSuffix);
    else
        Reply(session, Replies::FileNotFound);
}

void CommandRmd(Session& session, char* argument) {
    LocalPath path(session, argument);
    // The account's root itself is never removed, even when empty.
    bool isRoot = path.Valid && std::strcmp(path.Text, session.Root) == 0;
    if (path.Valid && !isRoot && DirectoryRemove(path.Text))
        Reply(session, Replies::DirectoryDeleted);
    else
        Reply(session, Replies::DirectoryNotFound);
}

void CommandMkd(Session& session, char* argument) {
    LocalPath path(session, argument);
    if (path.Valid && DirectoryCreate(path.Text))
        ReplyWith(session, Replies::DirectoryCreatedPrefix, argument, Replies::DirectoryCreatedSuffix);
    else
        Reply(session, Replies::DirectoryCreateFailed);
}

void CommandRnfr(Session& session, char* argument) {
    // SECURITY: a name that would not fit the stored rename source is refused, not cut.
    bool fits = std::strlen(argument) < sizeof session.RenameFrom;
    LocalPath path(session, argument);
    if (fits && path.Valid && PathKindOf(path.Text) != PathKind::Missing) {
        std::strcpy(session.RenameFrom, argument);
        Reply(session, Replies::RenameReady);
    } else {
        ReplyWith(session, Replies::RenameSourceMissingPrefix, argument, Replies::RenameSourceMissingSuffix);
    }
}

void CommandRnto(Session& session, char* argument) {
    if (session.RenameFrom[0] == '\0') {  // no RNFR on this connection
        Reply(session, Replies::RenameFailed);
        return;
    }
    // The stored name is joined to the directory current now, at RNTO.
    LocalPath target(session, argument);
    LocalPath source(session, session.RenameFrom);
    // A target that exists is never replaced: its bytes would be lost.
    if (target.Valid && source.Valid && PathRenameNoReplace(source.Text, target.Text))
        Reply(session, Replies::Renamed);
    else
        Reply(session, Replies::RenameFailed);
}
