#include "DataConnection/DataConnection.h"

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

PassiveStatus OpenPassiveListener(const NetAddress& local, Descriptor* listener, uint16_t* port) {
    Descriptor socket = NetTcpSocket(local.Family);
    if (!socket.IsOpen()) return PassiveStatus::CreateFailed;
    if (NetBind(socket.Get(), AnyAddress(local.Family)) != NetStatus::Ok) return PassiveStatus::BindFailed;
    if (NetListen(socket.Get(), 1) != NetStatus::Ok) return PassiveStatus::ListenFailed;
    NetAddress bound;
    *port = NetLocalAddress(socket.Get(), &bound) ? bound.Port : 0;
    *listener = std::move(socket);
    return PassiveStatus::Ok;
}

bool ConnectDataSocket(DataEndpoint& endpoint, const NetAddress& peer, int wakeFd, Descriptor* data) {
    if (!endpoint.Passive) {
        if (endpoint.ActiveTarget.Family == AddressFamily::None) return false;  // no PORT yet
        return NetConnect(endpoint.ActiveTarget, wakeFd, data) == NetStatus::Ok;
    }
    if (!endpoint.Listener.IsOpen()) return false;  // no PASV since the last transfer
    for (;;) {
        Descriptor accepted;
        NetAddress from;
        if (NetAccept(endpoint.Listener.Get(), wakeFd, &accepted, &from) != NetStatus::Ok) return false;
        // SECURITY: only the client's own host may take the passive port.
        if (SameHost(from, peer)) {
            endpoint.Listener.Reset();
            *data = std::move(accepted);
            return true;
        }
    }
}
