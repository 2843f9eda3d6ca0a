// With --extensions: digests of files without downloading them. HASH, with
// the algorithm OPTS HASH selects and the byte range RANG sets
// (draft-bryan-ftpext-hash-02), and the older XCRC, XMD5, XSHA1, XSHA256 and
// XSHA512. The file is read through the transfer engine, so ABOR and STAT
// work during a hash as during a transfer.
#include <cstdio>
#include <cstring>
#include <string>

#include "Connection/CommandTable.h"
#include "Connection/Commands.h"
#include "Connection/Replies.h"
#include "Connection/Session.h"
#include "Connection/TransferEngine.h"
#include "DataConnection/DataConnection.h"
#include "core/Accounts.h"
#include "platform/Beneath.h"
#include "platform/Digest.h"

namespace {

struct Algorithm {
    const char* Name;  // as HASH and FEAT name it
    DigestKind Kind;
};

// In FEAT's order.
constexpr Algorithm Algorithms[] = {{"SHA-256", DigestKind::Sha256}, {"SHA-512", DigestKind::Sha512},
                                    {"SHA-1", DigestKind::Sha1}, {"MD5", DigestKind::Md5}, {"CRC32", DigestKind::Crc32}};

const Algorithm& Named(DigestKind kind) {
    for (const Algorithm& algorithm : Algorithms)
        if (algorithm.Kind == kind) return algorithm;
    return Algorithms[0];
}

// A byte range as the client gives it: two offsets, both inclusive.
bool ParseRange(std::string_view text, int64_t* start, int64_t* last) {
    size_t blank = text.find(' ');
    if (blank == std::string_view::npos) return false;
    std::string first(text.substr(0, blank)), second(text.substr(blank + 1));
    return ParseRestOffset(first.c_str(), start) && ParseRestOffset(second.c_str(), last) && *start <= *last;
}

struct Digested {
    Replies::Text Failure;  // empty when the digest was made
    std::string Hex;
    int64_t Start = 0, End = 0;  // the bytes read: from Start up to End, End not included
};

// Digests a file's bytes from start up to end (or its end), as a transfer:
// the control connection is heard meanwhile and an ABOR ends it (the caller
// answers it). A missing file gets 550, anything but a plain file 553.
Digested DigestFile(Session& session, const char* name, DigestKind kind, int64_t start, int64_t end) {
    Digested result;
    ClientPath path(session, name);
    int64_t size = 0;
    Descriptor file = path.Valid ? OpenReadBeneath(path.Path, &size) : Descriptor();
    if (!file.IsOpen()) {
        bool missing = !path.Valid || KindBeneath(path.Path) == PathKind::Missing;
        result.Failure = missing ? Replies::FileNotFound : Replies::HashNotAFile;
        return result;
    }
    if (start > size) {
        result.Failure = Replies::RangeSyntax;
        return result;
    }
    result.Start = start;
    result.End = end < 0 || end > size ? size : end;
    Digest digest(kind);
    TransferScope scope(session);
    session.Record.TransferSize = result.End - start;
    Replies::Text outcome = ReadFileThrough(session, file.Get(), start, &result.End,
                                            [&digest](const char* bytes, size_t length) { digest.Update(bytes, length); });
    session.TransferBuffer.reset();
    if (outcome == Replies::TransferComplete) result.Hex = digest.Hex();
    else result.Failure = outcome;
    return result;
}

}  // namespace

std::string HashFeature(DigestKind selected) {
    std::string line;
    for (const Algorithm& algorithm : Algorithms) {
        if (!DigestAvailable(algorithm.Kind)) continue;
        if (!line.empty()) line += ';';
        line += algorithm.Name;
        if (algorithm.Kind == selected) line += '*';
    }
    return line;
}

void SelectHash(Session& session, std::string_view name) {
    if (!name.empty()) {
        const Algorithm* chosen = nullptr;
        for (const Algorithm& algorithm : Algorithms)
            if (IsWord(name, algorithm.Name) && DigestAvailable(algorithm.Kind)) chosen = &algorithm;
        if (chosen == nullptr) {
            Reply(session, Replies::HashUnknown);
            return;
        }
        session.HashKind = chosen->Kind;
    }
    char reply[64];
    int length = std::snprintf(reply, sizeof reply, Replies::HashSelectedFormat, Named(session.HashKind).Name);
    Reply(session, std::string_view(reply, static_cast<size_t>(length)));
}

void CommandRang(Session& session, char* argument) {
    int64_t start = 0, last = 0;
    if (!ParseRange(argument, &start, &last) && !(start == 1 && last == 0)) {
        Reply(session, Replies::RangeSyntax);
        return;
    }
    if (start == 1 && last == 0) {  // "RANG 1 0" goes back to the whole file
        Reply(session, Replies::RangeReset);
        return;
    }
    session.Range = {true, start, last};
    char reply[96];
    int length = std::snprintf(reply, sizeof reply, Replies::RangeFormat, start, last);
    Reply(session, std::string_view(reply, static_cast<size_t>(length)));
}

void CommandHash(Session& session, char* argument) {
    const ByteRange& range = session.RangeNow;
    const Algorithm& algorithm = Named(session.HashKind);
    if (!DigestAvailable(algorithm.Kind)) {  // a build without OpenSSL
        Reply(session, Replies::NotImplementedHere);
        return;
    }
    // RANG's last byte is included (its offsets stay below INT64_MAX).
    Digested made =
        DigestFile(session, argument, algorithm.Kind, range.Set ? range.Start : 0, range.Set ? range.Last + 1 : -1);
    if (AnswerAbort(session)) return;
    if (!made.Failure.empty()) {
        Reply(session, made.Failure);
        return;
    }
    char prefix[ReplySize];
    std::snprintf(prefix, sizeof prefix, Replies::HashFormat, algorithm.Name, made.Start,
                  made.End > made.Start ? made.End - 1 : made.Start, made.Hex.c_str());
    ReplyWith(session, prefix, argument, "\r\n");
}

namespace {

// "XSHA256 path [start [end]]": trailing numbers are offsets (the end not
// included), unless the whole argument names something.
void Checksum(Session& session, char* argument, DigestKind kind) {
    if (!DigestAvailable(kind)) {
        Reply(session, Replies::NotImplementedHere);
        return;
    }
    int64_t start = 0, end = -1;
    ClientPath whole(session, argument);
    if (!whole.Valid || KindBeneath(whole.Path) == PathKind::Missing) {
        int64_t numbers[2];
        int count = 0;
        for (char* blank; count < 2 && (blank = std::strrchr(argument, ' ')) != nullptr; *blank = '\0', ++count)
            if (!ParseRestOffset(blank + 1, &numbers[count])) break;
        if (count == 1) start = numbers[0];
        if (count == 2) start = numbers[1], end = numbers[0];
    }
    // SECURITY: the account's denied names were checked on the whole
    // argument; the path is checked again without its offsets.
    if (session.Policy != nullptr && AnyNameMatches(argument, session.Policy->Deny)) {
        Reply(session, Replies::PermissionDenied);
        return;
    }
    if (end >= 0 && end < start) {
        Reply(session, Replies::RangeSyntax);
        return;
    }
    Digested made = DigestFile(session, argument, kind, start, end);
    if (AnswerAbort(session)) return;
    if (!made.Failure.empty()) {
        Reply(session, made.Failure == Replies::HashNotAFile ? Replies::FileNotFound : made.Failure);
        return;
    }
    char reply[ReplySize];
    int length = std::snprintf(reply, sizeof reply, Replies::ChecksumFormat, made.Hex.c_str());
    Reply(session, std::string_view(reply, static_cast<size_t>(length)));
}

}  // namespace

void CommandXcrc(Session& session, char* argument) { Checksum(session, argument, DigestKind::Crc32); }
void CommandXmd5(Session& session, char* argument) { Checksum(session, argument, DigestKind::Md5); }
void CommandXsha1(Session& session, char* argument) { Checksum(session, argument, DigestKind::Sha1); }
void CommandXsha256(Session& session, char* argument) { Checksum(session, argument, DigestKind::Sha256); }
void CommandXsha512(Session& session, char* argument) { Checksum(session, argument, DigestKind::Sha512); }
