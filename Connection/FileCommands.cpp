// CWD, SIZE, DELE, RMD, MKD, RNFR and RNTO, and with the extensions CDUP,
// MDTM, MFMT, MLST and SITE CHMOD: commands on single files and directories,
// without a data connection.
#include <cstdio>
#include <cstring>
#include <mutex>

#include "Connection/Commands.h"
#include "Connection/Replies.h"
#include "Connection/Session.h"
#include "FileSystem/Listing.h"
#include "FileSystem/Paths.h"
#include "core/Log.h"
#include "core/Records.h"
#include "platform/Beneath.h"
#include "platform/Files.h"

void CommandCwd(Session& session, char* argument) {
    ConnectionRecord& record = session.Record;
    DirectoryTexts from;  // only this thread writes them: no lock needed to read
    std::memcpy(from.Local, record.LocalDirectory, sizeof from.Local);
    std::memcpy(from.Current, record.CurrentDirectory, sizeof from.Current);
    DirectoryTexts to;
    int root = session.RootDirectory();
    auto isDirectory = [&](const char* local) {
        return KindBeneath({root, BelowRootText(local, session.Root)}) == PathKind::Directory;
    };
    bool moved = Spoken().NormalisesCwd ? ChangeDirectoryNormalised(session.Root, from, argument[0] ? argument : "/", &to, isDirectory)
                            : ChangeDirectory(session.Root, from, argument, &to, isDirectory);
    if (!moved) {
        ReplyWith(session, Replies::CwdFailedPrefix, argument, Replies::CwdFailedSuffix);
        return;
    }
    {
        std::lock_guard<std::mutex> hold(SlotLock);  // the console may be showing them
        std::memcpy(record.LocalDirectory, to.Local, sizeof to.Local);
        std::memcpy(record.CurrentDirectory, to.Current, sizeof to.Current);
    }
    char quoted[ReplySize];
    std::string_view current = to.Current;
    if (Spoken().QuotesPaths) current = QuotePath(current, quoted);
    ReplyWith(session, Replies::DirectoryChangedPrefix, current, Replies::DirectoryChangedSuffix);
}

void CommandCdup(Session& session, char*) {
    char parent[] = "..";
    CommandCwd(session, parent);
}

void CommandSize(Session& session, char* argument) {
    ClientPath path(session, argument);
    int64_t size = -1;
    if (path.Valid) OpenReadBeneath(path.Path, &size);  // a readable regular file only
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
    ClientPath path(session, argument);
    DirectoryEntry gone;
    bool counted = HasQuota(session.Policy) && path.Valid && InfoBeneath(path.Path, &gone);
    if (path.Valid && RemoveFileBeneath(path.Path)) {
        if (counted) CountUsage(*session.Policy, -gone.Size, -1);
        ReplyWith(session, Replies::DeletedPrefix, argument, Replies::DeletedSuffix);
    } else {
        Reply(session, Replies::FileNotFound);
    }
}

void CommandRmd(Session& session, char* argument) {
    ClientPath path(session, argument);
    // The account's root itself is never removed, even when empty.
    if (path.Valid && RemoveDirectoryBeneath(path.Path))
        Reply(session, Replies::DirectoryDeleted);
    else
        Reply(session, Replies::DirectoryNotFound);
}

void CommandMkd(Session& session, char* argument) {
    ClientPath path(session, argument);
    if (!path.Valid || !CreateDirectoryBeneath(path.Path, DirectoryCreationMode(session.Policy))) {
        Reply(session, Replies::DirectoryCreateFailed);
        return;
    }
    char quoted[ReplySize];
    std::string_view name = argument;
    if (Spoken().QuotesPaths) name = QuotePath(name, quoted);
    ReplyWith(session, Replies::DirectoryCreatedPrefix, name, Replies::DirectoryCreatedSuffix);
}

void CommandRnfr(Session& session, char* argument) {
    // SECURITY: a name that would not fit the stored rename source is refused, not cut.
    bool fits = std::strlen(argument) < sizeof session.RenameFrom;
    ClientPath path(session, argument);
    if (fits && path.Valid && ExistsBeneath(path.Path)) {
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
    ClientPath target(session, argument);
    ClientPath source(session, session.RenameFrom);
    // A target that exists is never replaced: its bytes would be lost.
    if (target.Valid && source.Valid && RenameBeneath(source.Path, target.Path))
        Reply(session, Replies::Renamed);
    else
        Reply(session, Replies::RenameFailed);
}

namespace {

// Whether a regular file is at the path; what stat says of it goes to *entry.
bool RegularFile(const ClientPath& path, DirectoryEntry* entry) {
    return path.Valid && InfoBeneath(path.Path, entry) && entry->Kind == FileKind::File;
}

}  // namespace

void CommandMdtm(Session& session, char* argument) {
    DirectoryEntry entry;
    if (!RegularFile(ClientPath(session, argument), &entry)) {
        Reply(session, Replies::FileNotFound);
        return;
    }
    char when[15];
    FormatFactTime(entry.LastWrite, when);
    char reply[32];
    int length = std::snprintf(reply, sizeof reply, Replies::ModifyTimeFormat, when);
    Reply(session, std::string_view(reply, static_cast<size_t>(length)));
}

void CommandMfmt(Session& session, char* argument) {
    char* blank = std::strchr(argument, ' ');
    time_t moment = 0;
    if (blank == nullptr || !ParseFactTime(std::string_view(argument, static_cast<size_t>(blank - argument)), &moment)) {
        Reply(session, Replies::ArgumentSyntax);
        return;
    }
    const char* name = blank + 1;
    ClientPath path(session, name);
    DirectoryEntry entry;
    if (!RegularFile(path, &entry)) {
        Reply(session, Replies::FileNotFound);
        return;
    }
    if (!SetModifyTimeBeneath(path.Path, moment)) {
        Reply(session, Replies::ModifySetFailed);
        return;
    }
    char when[15];
    FormatFactTime(moment, when);
    char prefix[64];
    int length = std::snprintf(prefix, sizeof prefix, Replies::ModifySetFormat, when);
    ReplyWith(session, std::string_view(prefix, static_cast<size_t>(length)), name, "\r\n");
}

void CommandMlst(Session& session, char* argument) {
    std::string_view name = argument[0] != '\0' ? std::string_view(argument) : session.Record.CurrentDirectory;
    ClientPath path(session, argument);
    DirectoryEntry entry;
    if (!path.Valid || !InfoBeneath(path.Path, &entry)) {
        Reply(session, Replies::NoSuchPath);
        return;
    }
    char text[ListingLineLimit + 1024];
    ListingText line{text, sizeof text};
    ListingFormat format = session.ListingIn(ListingStyle::Facts);
    text[0] = ' ';  // the entry's line begins with a blank
    line.Used = 1;
    if (!BuildUnit(line, format, entry, name, argument[0] == '\0' ? "cdir" : nullptr)) {
        Reply(session, Replies::NoSuchPath);
        return;
    }
    ReplyWith(session, Replies::MlstStart, name, "\r\n");
    Reply(session, std::string_view(text, line.Used));
    Reply(session, Replies::MlstEnd);
}

namespace {

// SITE QUOTA: the account's usage and its limits.
void SiteQuota(Session& session) {
    AccountPolicy* policy = session.Policy;
    if (!HasQuota(policy)) {
        Reply(session, Replies::NoQuota);
        return;
    }
    auto limit = [](int64_t value) { return value > 0 ? std::to_string(value) : std::string("unlimited"); };
    long long bytes, files;
    {
        std::lock_guard<std::mutex> hold(policy->UsageLock);
        bytes = policy->UsedBytes, files = policy->UsedFiles;
    }
    char reply[160];
    int length = std::snprintf(reply, sizeof reply, Replies::QuotaFormat, bytes, limit(policy->QuotaBytes).c_str(), files,
                               limit(policy->QuotaFiles).c_str());
    Reply(session, std::string_view(reply, static_cast<size_t>(length)));
}

}  // namespace

void CommandSite(Session& session, char* argument) {
    std::string_view text = argument;
    size_t blank = text.find(' ');
    std::string_view word = text.substr(0, blank);
    if (word.empty()) {
        Reply(session, Replies::ArgumentSyntax);
        return;
    }
    if (IsWord(word, "QUOTA")) {
        SiteQuota(session);
        return;
    }
    if (word != "CHMOD" && word != "chmod") {
        Reply(session, Replies::ParameterNotImplemented);
        return;
    }
    // CHMOD octal-mode path
    std::string_view rest = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
    size_t digits = 0;
    unsigned mode = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '7' && digits < 4)
        mode = mode * 8 + static_cast<unsigned>(rest[digits++] - '0');
    if (digits == 0 || digits >= rest.size() || rest[digits] != ' ') {
        Reply(session, Replies::ArgumentSyntax);
        return;
    }
    // SECURITY: only the permission bits: a client with write access must not
    // make a setuid or setgid program (run by anyone, it would have the
    // server's rights), nor a sticky directory.
    if (mode > 0777) {
        Reply(session, Replies::ChmodSpecialBits);
        return;
    }
    ClientPath path(session, rest.data() + digits + 1);
    // SECURITY: the account's root keeps the mode its operator gave it.
    if (path.Valid && path.Path.IsRoot()) {
        Reply(session, Replies::ChmodRoot);
        return;
    }
    Reply(session, path.Valid && ChangeModeBeneath(path.Path, mode) ? Replies::ChmodOk : Replies::ChmodFailed);
}
