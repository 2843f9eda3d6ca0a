#include "DataConnection/DataConnection.h"

#include <cstdio>

#include "Connection/Commands.h"
#include "Connection/Replies.h"
#include "Connection/Session.h"
#include "core/Records.h"
#include "platform/Net.h"

namespace {

constexpr uint16_t LowestActivePort = 1024;

// Learns the control connection's addresses once; they do not change.
bool KnowAddresses(Session& session) {
    uint16_t port;
    if (!session.AddressesKnown)
        session.AddressesKnown = NetPeerAddress(session.Socket, &session.PeerAddress, &port) &&
                                 NetLocalAddress(session.Socket, &session.LocalAddress, &port);
    return session.AddressesKnown;
}

}  // namespace

bool ParsePortArgument(const char* argument, uint8_t (&numbers)[6]) {
    const char* next = argument;
    for (int i = 0; i < 6; ++i) {
        while (*next == ' ') ++next;
        int value = 0;
        int digits = 0;
        while (*next >= '0' && *next <= '9' && digits < 4) {
            value = value * 10 + (*next++ - '0');
            ++digits;
        }
        if (digits == 0 || value > 255) return false;
        numbers[i] = static_cast<uint8_t>(value);
        if (i < 5 && *next++ != ',') return false;
    }
    while (*next == ' ') ++next;
    return *next == '\0';
}

void CommandPort(Session& session, char* argument) {
    uint8_t numbers[6];
    if (!ParsePortArgument(argument, numbers)) {
        Reply(session, Replies::PortSyntax);
        return;
    }
    ConnectionRecord& record = session.Record;
    char dotted[sizeof record.DataIP];
    std::snprintf(dotted, sizeof dotted, "%d.%d.%d.%d", numbers[0], numbers[1], numbers[2], numbers[3]);
    uint16_t port = static_cast<uint16_t>(numbers[4] * 256 + numbers[5]);
    uint32_t address = 0;
    // SECURITY: the data connection goes only to the client's own address and
    // never to a privileged port, so that nobody can aim it at a third party.
    if (!NetParseAddress(dotted, &address) || !KnowAddresses(session) || address != session.PeerAddress ||
        port < LowestActivePort) {
        Reply(session, Replies::PortIllegal);
        return;
    }
    CloseDataSocket(session);  // a passive listener left by an earlier PASV
    std::snprintf(record.DataIP, sizeof record.DataIP, "%s", dotted);
    record.DataPort = port;
    record.PassiveMode = 0;
    Reply(session, Replies::PortOk);
}

void CommandPasv(Session& session, char*) {
    ConnectionRecord& record = session.Record;
    CloseDataSocket(session);  // an earlier listener nobody used
    int listener = KnowAddresses(session) ? NetTcpSocket() : NoSocket;
    if (listener < 0) {
        Reply(session, Replies::DataSocketCreateError);
        return;
    }
    if (!NetBind(listener, 0, 0)) {
        NetClose(listener);
        Reply(session, Replies::DataSocketBindError);
        return;
    }
    if (!NetListen(listener, 1)) {
        NetClose(listener);
        Reply(session, Replies::DataSocketListenError);
        return;
    }
    uint32_t anyAddress = 0;
    uint16_t port = 0;
    NetLocalAddress(listener, &anyAddress, &port);
    // Announce the address the client reached us on: the host name's address
    // may be one that no other host can reach.
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&session.LocalAddress);
    record.DataSocket = listener;
    record.PassiveMode = 1;
    char reply[64];
    int length = std::snprintf(reply, sizeof reply, Replies::PassiveFormat, bytes[0], bytes[1], bytes[2], bytes[3],
                               port / 256, port % 256);
    Reply(session, std::string_view(reply, static_cast<size_t>(length)));
}

bool ConnectDataSocket(Session& session) {
    ConnectionRecord& record = session.Record;
    if (record.PassiveMode.load() == 0) {
        uint32_t address = 0;
        if (!NetParseAddress(record.DataIP, &address)) return false;  // no PORT yet
        long connected = NetConnect(address, static_cast<uint16_t>(record.DataPort), session.WakeFd);
        if (connected < 0) return false;
        CloseDataSocket(session);
        record.DataSocket = static_cast<int>(connected);
        return true;
    }
    int listener = record.DataSocket.load();
    if (listener < 0) return false;  // no PASV since the last transfer
    for (;;) {
        uint32_t from = 0;
        long accepted = NetAccept(listener, &from, session.WakeFd);
        if (accepted < 0) return false;
        // SECURITY: only the client's own host may take the passive port.
        if (from == session.PeerAddress) {
            CloseDataSocket(session);
            record.DataSocket = static_cast<int>(accepted);
            return true;
        }
        NetClose(static_cast<int>(accepted));
    }
}
