// With --extensions: FEAT, OPTS, HELP, STAT, MODE, STRU and ALLO, and the
// commands refused outright (SMNT, REIN, STOU).
#include <cstdio>
#include <cstring>
#include <string>

#include "Connection/CommandTable.h"
#include "Connection/Commands.h"
#include "Connection/Replies.h"
#include "Connection/Session.h"
#include "FileSystem/Listing.h"
#include "FileSystem/Paths.h"
#include "core/Log.h"
#include "core/Records.h"
#include "core/TransferView.h"
#include "platform/Net.h"
#include "platform/Beneath.h"
#include "platform/Files.h"
#include "platform/Tls.h"

namespace {

// The argument's first word, and what follows its blank.
std::string_view FirstWord(std::string_view argument, std::string_view* rest) {
    size_t blank = argument.find(' ');
    *rest = blank == std::string_view::npos ? std::string_view() : argument.substr(blank + 1);
    return argument.substr(0, blank);
}

// Sends the status of a path: its LIST lines between a 213 first and last line.
void PathStatus(Session& session, const char* argument) {
    ClientPath path(session, argument);
    if (!path.Valid || KindBeneath(path.Path) == PathKind::Missing) {
        Reply(session, Replies::NoSuchPath);
        return;
    }
    ReplyWith(session, Replies::PathStatusStart, argument, ":\r\n");
    char text[ListingSize];
    ListingText listing{text, sizeof text};
    text[0] = '\0';
    ListingFormat format = session.ListingIn(ListingStyle::Long);
    DirectoryReader reader = ListDirectoryBeneath(path.Path);
    if (!reader.IsOpen()) {
        DirectoryEntry entry;
        if (InfoBeneath(path.Path, &entry) && !entry.IsDirectory) BuildUnit(listing, format, entry, argument);
        if (listing.Used > 0) Reply(session, std::string_view(text, listing.Used));
    } else {
        for (bool more = true; more;) {
            more = GetDirectoryList(reader, listing, format);
            if (listing.Used > 0) Reply(session, std::string_view(text, listing.Used));
            listing.Used = 0;
        }
    }
    Reply(session, Replies::PathStatusEnd);
}

}  // namespace

void CommandFeat(Session& session, char*) {
    char facts[96];
    size_t length = FormatFactNames(session.Facts, true, facts, sizeof facts);
    std::string reply(Replies::FeaturesStart);
    reply += FeatureLines(TlsReady(), std::string_view(facts, length), HashFeature(session.HashKind));
    reply += Replies::FeaturesEnd;
    Reply(session, reply);
}

void CommandOpts(Session& session, char* argument) {
    std::string_view rest;
    std::string_view option = FirstWord(argument, &rest);
    if (IsWord(option, "UTF8") && IsWord(rest, "ON")) {
        Reply(session, Replies::Utf8On);  // names are passed on as bytes: UTF-8 is always on
    } else if (IsWord(option, "HASH")) {
        SelectHash(session, rest);
    } else if (IsWord(option, "MLST")) {
        session.Facts = ParseFactNames(rest);
        char facts[96];
        FormatFactNames(session.Facts, false, facts, sizeof facts);
        char reply[128];
        int length = std::snprintf(reply, sizeof reply, Replies::MlstOptionsFormat, facts);
        Reply(session, std::string_view(reply, static_cast<size_t>(length)));
    } else {
        Reply(session, Replies::OptionUnknown);
    }
}

void CommandHelp(Session& session, char*) {
    std::string reply(Replies::HelpStart);
    reply += HelpList(TlsReady());
    reply += Replies::HelpEnd;
    Reply(session, reply);
}

void CommandStat(Session& session, char* argument) {
    if (session.Transferring) {
        std::string status;
        AppendFormat(status, Replies::TransferStatusFormat, session.Moved);
        AppendFormat(status, " %s: %s\r\n", session.Record.TransferCommand,  // this thread's own writing
                     TransferFields(session.Record, MonotonicMilliseconds()).c_str());
        Reply(session, status + std::string(Replies::TransferStatusEnd));
        return;
    }
    if (argument[0] != '\0') {
        PathStatus(session, argument);
        return;
    }
    std::string status(Replies::StatusStart);
    int user = session.Record.UserID.load();
    AppendFormat(status, " Connected from %s\r\n Logged in as %s\r\n", ClientAddressText(session).Text,
                 user >= 0 && user < UserCount ? User[user]->Name : "");
    AppendFormat(status, " TYPE: %s; STRUcture: File; transfer MODE: Stream\r\n",
                 session.Type == TransferType::Ascii ? "ASCII" : "BINARY");
    status += session.Endpoint.Passive && session.Endpoint.Listener.IsOpen() ? " Waiting for a passive data connection\r\n"
                                                                              : " No data connection\r\n";
    status += Replies::StatusEnd;
    Reply(session, status);
}

void CommandMode(Session& session, char* argument) {
    if (argument[0] == '\0') Reply(session, Replies::ArgumentSyntax);
    else Reply(session, IsWord(argument, "S") ? Replies::ModeOk : Replies::ParameterNotImplemented);
}

void CommandStru(Session& session, char* argument) {
    if (argument[0] == '\0') Reply(session, Replies::ArgumentSyntax);
    else Reply(session, IsWord(argument, "F") ? Replies::StructureOk : Replies::ParameterNotImplemented);
}

void CommandAllo(Session& session, char* argument) {
    // The size announced counts against a quota when the upload begins.
    std::string_view rest;
    std::string size(FirstWord(argument, &rest));
    int64_t bytes = 0;
    session.Allocated = ParseRestOffset(size.c_str(), &bytes) ? bytes : -1;
    Reply(session, Replies::AlloOk);
}

void CommandRefused(Session& session, char*) { Reply(session, Replies::NotImplementedHere); }
