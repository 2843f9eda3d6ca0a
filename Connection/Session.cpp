#include "Connection/Session.h"

#include <cstring>

#include "Connection/Slots.h"
#include "platform/Net.h"

Session::~Session() { NetClosePipe(UploadPipe); }

bool Reply(Session& session, std::string_view text) { return Send(session.Socket, text, session.WakeFd); }

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
        std::memcpy(buffer + length, part.data(), part.size());
        length += part.size();
    }
    buffer[length] = '\0';
    return length;
}

}  // namespace

bool ReplyWith(Session& session, std::string_view prefix, std::string_view middle, std::string_view suffix) {
    size_t length = FormatBounded(session.Reply, sizeof session.Reply, prefix, middle, suffix);
    return Reply(session, std::string_view(session.Reply, length));
}

void CloseDataSocket(Session& session) {
    int dataSocket = session.Record.DataSocket.exchange(NoSocket);
    NetClose(dataSocket);
}
