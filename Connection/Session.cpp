#include "Connection/Session.h"

#include <cstring>
#include <mutex>

#include "core/Log.h"

bool Send(Session& session, Channel& channel, std::string_view text) {
    ConsoleEchoSent(channel.Fd(), text);
    NetResult sent = session.Serving() ? channel.WriteAll(text.data(), text.size(), NetWaits()) : NetResult{NetStatus::Failed};
    if (sent.Ok()) return true;
    if (Options.Verbose && sent.Error != 0) {  // the reason with its failure line, whole
        ConsolePrintf("Send Error\r\nSending to %s port %u: %s\n", ClientAddressText(session).Text,
                      static_cast<unsigned>(session.Client.Port), std::strerror(sent.Error));
    } else {
        ConsoleText("Send Error\r\n");
    }
    return false;
}

bool Reply(Session& session, std::string_view text) { return Send(session, session.Control, text); }

namespace {

// Builds prefix + middle + suffix into a buffer; returns its length.
size_t FormatBounded(char* buffer, size_t size, std::string_view prefix, std::string_view middle,
                     std::string_view suffix) {
    // SECURITY: the prefix and suffix are ours and always fit; only the middle,
    // which may come from a client, is cut.
    size_t room = size - 1 - prefix.size() - suffix.size();
    if (middle.size() > room) middle = middle.substr(0, room);
    size_t length = 0;
    for (std::string_view part : {prefix, middle, suffix}) {
        if (!part.empty()) std::memcpy(buffer + length, part.data(), part.size());
        length += part.size();
    }
    buffer[length] = '\0';
    // SECURITY: a name (a directory, a file on disk) with a line end in it
    // would end the reply early and could forge the next one: each CR, LF or
    // NUL of the middle is shown as '?'.
    for (size_t i = prefix.size(); i < prefix.size() + middle.size(); ++i)
        if (buffer[i] == '\r' || buffer[i] == '\n' || buffer[i] == '\0') buffer[i] = '?';
    return length;
}

}  // namespace

bool ReplyWith(Session& session, std::string_view prefix, std::string_view middle, std::string_view suffix) {
    size_t length = FormatBounded(session.Reply, sizeof session.Reply, prefix, middle, suffix);
    return Reply(session, std::string_view(session.Reply, length));
}

void CloseDataConnection(Session& session) {
    session.Record.DataSocket = NoSocket;
    session.Data.Close();
    session.DataSecured = false;
    session.EarlyDataFailed = false;
    session.Endpoint.Listener.Reset();
    if (session.Record.HoldsPassivePort) {  // only this thread sets it
        std::lock_guard<std::mutex> hold(SlotLock);
        session.Record.HoldsPassivePort = false;
    }
}

bool KnowAddresses(Session& session) {
    if (!session.AddressesKnown) {
        session.AddressesKnown = session.Client.Family != AddressFamily::None &&
                                 NetLocalAddress(session.Control.Fd(), &session.LocalAddress);
        session.LocalAddress = Unmapped(session.LocalAddress);
    }
    return session.AddressesKnown;
}

ClientAddressText::ClientAddressText(const Session& session) { FormatAddress(session.Client, Text, sizeof Text); }

std::string_view QuotePath(std::string_view path, char (&buffer)[ReplySize]) {
    size_t length = 0;
    for (char c : path) {
        size_t needed = c == '"' ? 2 : 1;
        if (length + needed >= sizeof buffer - 64) break;  // room for the reply around it
        buffer[length++] = c;
        if (c == '"') buffer[length++] = c;
    }
    return std::string_view(buffer, length);
}

ClientPath::ClientPath(Session& session, const char* argument)
    : Built(BuildLocalPath(session.Root, session.Record.LocalDirectory, argument, Text, sizeof Text)),
      Path{Built ? session.RootDirectory() : -1, Built ? BelowRootText(Text, session.Root) : ""},
      Valid(Built && Path.Root >= 0) {}

ListingFormat Session::ListingIn(ListingStyle style) const {
    ListingFormat format;
    format.Style = style;
    format.Facts = Facts;
    format.Now = NowSeconds();
    if (Policy != nullptr) {
        format.Permitted = Policy->Permissions;
        format.Omitted[0] = &Policy->Hide;
        format.Omitted[1] = &Policy->Deny;
    }
    return format;
}
