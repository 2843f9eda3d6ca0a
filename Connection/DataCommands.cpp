// PORT and PASV, and with the extensions EPRT and EPSV (RFC 2428): how the
// next transfer's data connection is made.
#include <algorithm>
#include <cstdio>
#include <mutex>

#include "Connection/Commands.h"
#include "Connection/Replies.h"
#include "Connection/Session.h"
#include "DataConnection/DataConnection.h"
#include "core/Log.h"
#include "core/Records.h"

namespace {

constexpr uint16_t LowestActivePort = 1024;

// With the extensions: PORT and PASV speak IPv4 only, and EPSV ALL leaves EPSV alone.
bool RefusedByExtensions(Session& session) {
    if (!Spoken().PortRules) return false;
    if (session.EpsvAll) {
        Reply(session, Replies::EpsvAllOnly);
        return true;
    }
    if (KnowAddresses(session) && session.LocalAddress.IsIPv6()) {
        Reply(session, Replies::IPv4CommandOnIPv6);
        return true;
    }
    return false;
}

// Sets an active target up after the checks every way of naming one shares.
bool UseActiveTarget(Session& session, const NetAddress& target) {
    // SECURITY: the data connection goes only to the client's own address and
    // never to a privileged port, so that nobody can aim it at a third party.
    if (!KnowAddresses(session) || !SameHost(target, session.Client) || target.Port < LowestActivePort)
        return false;
    CloseDataConnection(session);  // a passive listener left by an earlier PASV
    session.Endpoint.ActiveTarget = target;
    session.Endpoint.Passive = false;
    session.Record.PassiveMode = 0;
    return true;
}

// SECURITY: with --passive-ports, the clients of one address may hold at
// most a quarter of the range (at least two ports) in listeners at a time,
// so that a few connections cannot take every port from everyone else.
// Reserves one for the connection; false when its address holds its share.
bool ReservePassivePort(Session& session) {
    if (Options.PassivePortLow == 0) return true;
    int share = std::max(2, (Options.PassivePortHigh - Options.PassivePortLow + 1) / 4);
    std::lock_guard<std::mutex> hold(SlotLock);
    int held = 0;
    int count = ConnectionCount.load();
    for (int i = 0; i < count; ++i) {
        const ConnectionRecord& other = *Connection[i];
        if (other.InUsed.load() != 0 && other.HoldsPassivePort && SameHost(other.Peer, session.Client)) ++held;
    }
    if (held >= share) return false;
    session.Record.HoldsPassivePort = true;
    return true;
}

// Opens a passive listener and replies with the failure, or gives its port.
bool UsePassiveListener(Session& session, uint16_t* port) {
    CloseDataConnection(session);  // an earlier listener nobody used
    if (!KnowAddresses(session)) {
        Reply(session, Replies::DataSocketCreateError);
        return false;
    }
    if (!ReservePassivePort(session)) {
        Reply(session, Replies::PassivePortsHeld);
        return false;
    }
    Descriptor listener;
    // With --listen, passive listeners take that address only, as the listeners do.
    bool localOnly = Options.ListenAddress.Family != AddressFamily::None;
    PassiveStatus status = OpenPassiveListener(session.LocalAddress, localOnly, Options.PassivePortLow,
                                               Options.PassivePortHigh, &listener, port);
    if (status != PassiveStatus::Ok) CloseDataConnection(session);  // gives the reservation back
    if (status == PassiveStatus::BindFailed && Options.PassivePortLow != 0) {
        ConsolePrintf("No free passive port in %u-%u for %s port %u.\n", static_cast<unsigned>(Options.PassivePortLow),
                      static_cast<unsigned>(Options.PassivePortHigh), ClientAddressText(session).Text,
                      static_cast<unsigned>(session.Client.Port));
    }
    switch (status) {
        case PassiveStatus::CreateFailed: Reply(session, Replies::DataSocketCreateError); return false;
        case PassiveStatus::BindFailed: Reply(session, Replies::DataSocketBindError); return false;
        case PassiveStatus::ListenFailed: Reply(session, Replies::DataSocketListenError); return false;
        case PassiveStatus::Ok: break;
    }
    session.Record.DataSocket = listener.Get();
    session.Endpoint.Listener = std::move(listener);
    session.Endpoint.Passive = true;
    session.Record.PassiveMode = 1;
    return true;
}

}  // namespace

void CommandPort(Session& session, char* argument) {
    if (RefusedByExtensions(session)) return;
    uint8_t numbers[6];
    if (!ParsePortArgument(argument, numbers)) {
        Reply(session, Replies::PortSyntax);
        return;
    }
    uint16_t port = static_cast<uint16_t>(numbers[4] * 256 + numbers[5]);
    if (UseActiveTarget(session, IPv4Address(numbers[0], numbers[1], numbers[2], numbers[3], port)))
        Reply(session, Replies::PortOk);
    else
        Reply(session, Replies::PortIllegal);
}

void CommandPasv(Session& session, char*) {
    if (RefusedByExtensions(session)) return;
    uint16_t port = 0;
    if (!UsePassiveListener(session, &port)) return;
    // Announce the address the client reached us on (the host name's address
    // may be one that no other host can reach), or the one the operator gave
    // for a server behind NAT.
    NetAddress announced = AnnouncedPassiveAddress();
    const uint8_t* bytes = announced.IsIPv4() ? announced.Bytes : session.LocalAddress.Bytes;
    char reply[64];
    int length = std::snprintf(reply, sizeof reply, Replies::PassiveFormat, bytes[0], bytes[1], bytes[2], bytes[3],
                               port / 256, port % 256);
    Reply(session, std::string_view(reply, static_cast<size_t>(length)));
}

void CommandEprt(Session& session, char* argument) {
    if (session.EpsvAll) {
        Reply(session, Replies::EpsvAllOnly);
        return;
    }
    NetAddress target;
    switch (ParseEprtArgument(argument, &target)) {
        case EprtStatus::Malformed: Reply(session, Replies::ArgumentSyntax); return;
        case EprtStatus::UnknownFamily: Reply(session, Replies::EprtFamilyUnknown); return;
        case EprtStatus::Ok: break;
    }
    Reply(session, UseActiveTarget(session, target) ? Replies::EprtOk : Replies::EprtIllegal);
}

void CommandEpsv(Session& session, char* argument) {
    std::string_view protocol(argument);
    if (protocol == "ALL" || protocol == "all") {
        session.EpsvAll = true;
        Reply(session, Replies::EpsvAllOk);
        return;
    }
    if (!KnowAddresses(session)) {
        Reply(session, Replies::DataSocketCreateError);
        return;
    }
    bool six = session.LocalAddress.IsIPv6();
    if (!protocol.empty() && protocol != (six ? "2" : "1")) {
        Reply(session, protocol == "1" || protocol == "2" ? (six ? Replies::EpsvFamilyIPv6 : Replies::EpsvFamilyIPv4)
                                                          : Replies::ArgumentSyntax);
        return;
    }
    uint16_t port = 0;
    if (!UsePassiveListener(session, &port)) return;
    char reply[64];
    int length = std::snprintf(reply, sizeof reply, Replies::ExtendedPassiveFormat, static_cast<unsigned>(port));
    Reply(session, std::string_view(reply, static_cast<size_t>(length)));
}
