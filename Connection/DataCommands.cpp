// PORT and PASV: how the next transfer's data connection is made.
#include <cstdio>

#include "Connection/Commands.h"
#include "Connection/Replies.h"
#include "Connection/Session.h"
#include "DataConnection/DataConnection.h"

namespace {

constexpr uint16_t LowestActivePort = 1024;

}  // namespace

void CommandPort(Session& session, char* argument) {
    uint8_t numbers[6];
    if (!ParsePortArgument(argument, numbers)) {
        Reply(session, Replies::PortSyntax);
        return;
    }
    uint16_t port = static_cast<uint16_t>(numbers[4] * 256 + numbers[5]);
    NetAddress target = IPv4Address(numbers[0], numbers[1], numbers[2], numbers[3], port);
    // SECURITY: the data connection goes only to the client's own address and
    // never to a privileged port, so that nobody can aim it at a third party.
    if (!KnowAddresses(session) || !SameHost(target, session.PeerAddress) || port < LowestActivePort) {
        Reply(session, Replies::PortIllegal);
        return;
    }
    CloseDataConnection(session);  // a passive listener left by an earlier PASV
    session.Endpoint.ActiveTarget = target;
    session.Endpoint.Passive = false;
    session.Record.PassiveMode = 0;
    Reply(session, Replies::PortOk);
}

void CommandPasv(Session& session, char*) {
    CloseDataConnection(session);  // an earlier listener nobody used
    if (!KnowAddresses(session)) {
        Reply(session, Replies::DataSocketCreateError);
        return;
    }
    Descriptor listener;
    uint16_t port = 0;
    switch (OpenPassiveListener(session.LocalAddress, &listener, &port)) {
        case PassiveStatus::CreateFailed: Reply(session, Replies::DataSocketCreateError); return;
        case PassiveStatus::BindFailed: Reply(session, Replies::DataSocketBindError); return;
        case PassiveStatus::ListenFailed: Reply(session, Replies::DataSocketListenError); return;
        case PassiveStatus::Ok: break;
    }
    session.Record.DataSocket = listener.Get();
    session.Endpoint.Listener = std::move(listener);
    session.Endpoint.Passive = true;
    session.Record.PassiveMode = 1;
    // Announce the address the client reached us on: the host name's address
    // may be one that no other host can reach.
    const uint8_t* bytes = session.LocalAddress.Bytes;
    char reply[64];
    int length = std::snprintf(reply, sizeof reply, Replies::PassiveFormat, bytes[0], bytes[1], bytes[2], bytes[3],
                               port / 256, port % 256);
    Reply(session, std::string_view(reply, static_cast<size_t>(length)));
}
