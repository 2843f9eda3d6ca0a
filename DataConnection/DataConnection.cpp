#include "DataConnection/DataConnection.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>
#include <string_view>

#include "core/Options.h"
#include "core/ProxyProtocol.h"
#include "platform/Net.h"

namespace {

// One number of a PORT argument: blanks, an optional sign, decimal digits.
bool ParsePortNumber(const char*& next, int* value) {
    while (*next == ' ') ++next;
    bool negative = *next == '-';
    if (*next == '+' || *next == '-') ++next;
    int number = 0;
    int digits = 0;
    for (; *next >= '0' && *next <= '9'; ++next, ++digits)
        if (number <= 255) number = number * 10 + (*next - '0');  // past 255 it is refused anyway
    *value = negative ? -number : number;
    return digits > 0;
}

}  // namespace

bool ParsePortArgument(const char* argument, uint8_t (&numbers)[6]) {
    const char* next = argument;
    for (int i = 0; i < 6; ++i) {
        int value = 0;
        if (!ParsePortNumber(next, &value) || value < 0 || value > 255) return false;
        numbers[i] = static_cast<uint8_t>(value);
        if (i < 5 && *next++ != ',') return false;
    }
    while (*next == ' ') ++next;
    return *next == '\0';
}

bool ParseRestOffset(const char* argument, int64_t* offset) {
    int64_t value = 0;
    const char* next = argument;
    for (; *next >= '0' && *next <= '9'; ++next) {
        if (value > (INT64_MAX - 9) / 10) return false;  // SECURITY: no overflow into a negative offset
        value = value * 10 + (*next - '0');
    }
    if (next == argument || *next != '\0') return false;
    *offset = value;
    return true;
}

EprtStatus ParseEprtArgument(const char* argument, NetAddress* target) {
    std::string_view text(argument);
    if (text.size() < 2 || text[0] < 33 || text[0] > 126) return EprtStatus::Malformed;
    char delimiter = text[0];
    std::string_view fields[3];
    text.remove_prefix(1);
    for (std::string_view& field : fields) {
        size_t end = text.find(delimiter);
        if (end == std::string_view::npos) return EprtStatus::Malformed;
        field = text.substr(0, end);
        text.remove_prefix(end + 1);
    }
    if (!text.empty()) return EprtStatus::Malformed;
    if (fields[0] != "1" && fields[0] != "2") return fields[0].empty() ? EprtStatus::Malformed : EprtStatus::UnknownFamily;
    NetAddress address;
    if (!ParseAddress(fields[1], &address) || address.IsIPv4() != (fields[0] == "1")) return EprtStatus::Malformed;
    unsigned port = 0;
    if (fields[2].empty() || fields[2].size() > 5) return EprtStatus::Malformed;
    for (char c : fields[2]) {
        if (c < '0' || c > '9') return EprtStatus::Malformed;
        port = port * 10 + static_cast<unsigned>(c - '0');
    }
    if (port == 0 || port > 65535) return EprtStatus::Malformed;
    address.Port = static_cast<uint16_t>(port);
    *target = address;
    return EprtStatus::Ok;
}

PassiveStatus OpenPassiveListener(const NetAddress& local, bool localOnly, uint16_t low, uint16_t high,
                                  Descriptor* listener, uint16_t* port) {
    auto at = [&](uint16_t port) {
        NetAddress address = localOnly ? local : AnyAddress(local.Family);
        address.Port = port;
        return address;
    };
    Descriptor socket = NetTcpSocket(local.Family);
    if (!socket.IsOpen()) return PassiveStatus::CreateFailed;
    // Every download leaves its port in TIME_WAIT for a minute: without this,
    // a busy server (or a small --passive-ports range) runs out of ports, and
    // the kernel's search for a free one grows long.
    NetSetReuseAddress(socket.Get());
    // The server picks the port itself, from one cursor that starts at random
    // and walks the --passive-ports range or else the system's ephemeral one:
    // left to bind(0), the kernel's search for a free port grows with the
    // ports that a busy hour leaves in TIME_WAIT, and so does every PASV.
    bool ownRange = low != 0;
    if (!ownRange) NetEphemeralPorts(&low, &high);
    static std::atomic<uint32_t> cursor{std::random_device{}()};
    uint32_t count = static_cast<uint32_t>(high - low) + 1;
    uint32_t tries = ownRange ? count : std::min<uint32_t>(count, 64);  // then the kernel's own pick
    bool bound = false;
    for (uint32_t i = 0; i < tries && !bound; ++i) {
        NetStatus status = NetBind(socket.Get(), at(static_cast<uint16_t>(low + cursor.fetch_add(1) % count)));
        if (status == NetStatus::Failed) return PassiveStatus::BindFailed;
        bound = status == NetStatus::Ok;
    }
    if (!bound && (ownRange || NetBind(socket.Get(), at(0)) != NetStatus::Ok)) return PassiveStatus::BindFailed;
    if (NetListen(socket.Get(), 1) != NetStatus::Ok) return PassiveStatus::ListenFailed;
    NetAddress chosen;
    *port = NetLocalAddress(socket.Get(), &chosen) ? chosen.Port : 0;
    *listener = std::move(socket);
    return PassiveStatus::Ok;
}

namespace {

DataStatus StatusOf(NetStatus status) {
    if (status == NetStatus::Ok) return DataStatus::Connected;
    return status == NetStatus::Interrupted ? DataStatus::Interrupted : DataStatus::Failed;
}

}  // namespace

DataStatus ConnectDataSocket(DataEndpoint& endpoint, const NetAddress& peer, NetWaits waits, Descriptor* data) {
    if (!endpoint.Passive) {
        if (endpoint.ActiveTarget.Family == AddressFamily::None) return DataStatus::Failed;  // no PORT yet
        if (data->IsOpen()) return StatusOf(NetFinishConnect(data->Get(), waits));  // a connect under way
        return StatusOf(NetConnect(endpoint.ActiveTarget, waits, data));
    }
    if (!endpoint.Listener.IsOpen()) return DataStatus::Failed;  // no PASV since the last transfer
    for (;;) {
        Descriptor accepted;
        NetAddress from;
        NetStatus status = NetAccept(endpoint.Listener.Get(), waits, &accepted, &from);
        if (status != NetStatus::Ok) return StatusOf(status);
        // SECURITY: only the client's own host may take the passive port, or a
        // trusted load balancer (--proxy-protocol) that relays it and says so
        // in a PROXY header naming the client.
        bool relayed = !SameHost(from, peer) && InAddressBlocks(from, Options.TrustedProxies);
        if (relayed) {
            ProxyHeader header = ReceiveProxyHeader(accepted.Get());
            relayed = header.Status == ProxyHeaderStatus::Proxied && SameHost(header.Source, peer);
        }
        if (relayed || SameHost(from, peer)) {
            endpoint.Listener.Reset();
            *data = std::move(accepted);
            return DataStatus::Connected;
        }
    }
}
