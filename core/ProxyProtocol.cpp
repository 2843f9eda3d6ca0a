#include "core/ProxyProtocol.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/Net.h"

namespace {

constexpr std::string_view V1Start = "PROXY ";
constexpr size_t V1Limit = 107;
constexpr char V2Signature[12] = {'\r', '\n', '\r', '\n', '\0', '\r', '\n', 'Q', 'U', 'I', 'T', '\n'};
constexpr size_t V2Fixed = 16;  // the signature, version and command, family, length

ProxyHeader Outcome(ProxyHeaderStatus status, size_t length = 0, NetAddress source = {}) {
    return ProxyHeader{status, length, source};
}

// A decimal port without sign or leading zero, 0 to 65535.
bool ParsePort(std::string_view text, uint16_t* port) {
    if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0')) return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 65535) return false;
    *port = static_cast<uint16_t>(value);
    return true;
}

// "PROXY TCP4 SRC DST SPORT DPORT\r\n", "PROXY TCP6 ...", or "PROXY UNKNOWN ...\r\n".
ProxyHeader ParseVersion1(std::string_view received) {
    size_t end = received.find("\r\n");
    if (end == std::string_view::npos)
        return Outcome(received.size() < V1Limit ? ProxyHeaderStatus::NeedMore : ProxyHeaderStatus::Invalid);
    if (end + 2 > V1Limit) return Outcome(ProxyHeaderStatus::Invalid);
    std::string_view line = received.substr(V1Start.size(), end - V1Start.size());
    std::string_view fields[5];
    size_t count = 0;
    while (!line.empty() && count < 5) {
        size_t blank = line.find(' ');
        fields[count++] = line.substr(0, blank);
        line = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
    }
    if (count >= 1 && fields[0] == "UNKNOWN") return Outcome(ProxyHeaderStatus::Local, end + 2);
    bool four = count == 5 && fields[0] == "TCP4", six = count == 5 && fields[0] == "TCP6";
    NetAddress source, destination;
    uint16_t sourcePort = 0, destinationPort = 0;
    if ((!four && !six) || !line.empty() || !ParseAddress(fields[1], &source) ||
        !ParseAddress(fields[2], &destination) || source.IsIPv4() != four || destination.IsIPv4() != four ||
        !ParsePort(fields[3], &sourcePort) || !ParsePort(fields[4], &destinationPort))
        return Outcome(ProxyHeaderStatus::Invalid);
    source.Port = sourcePort;
    return Outcome(ProxyHeaderStatus::Proxied, end + 2, source);
}

// The signature, then version 2 and a command, a family, the length of what
// follows, the addresses (source first), and extensions, which are skipped.
ProxyHeader ParseVersion2(std::string_view received) {
    if (received.size() < V2Fixed) return Outcome(ProxyHeaderStatus::NeedMore);
    auto byte = [&received](size_t at) { return static_cast<uint8_t>(received[at]); };
    size_t length = V2Fixed + (static_cast<size_t>(byte(14)) << 8 | byte(15));
    int command = byte(12) & 0x0F;
    if ((byte(12) >> 4) != 2 || command > 1 || length > ProxyHeaderLimit) return Outcome(ProxyHeaderStatus::Invalid);
    if (received.size() < length) return Outcome(ProxyHeaderStatus::NeedMore);
    if (command == 0) return Outcome(ProxyHeaderStatus::Local, length);  // LOCAL: the proxy's own
    NetAddress source;
    size_t addressBytes = byte(13) == 0x11 ? 4 : byte(13) == 0x21 ? 16 : 0;  // TCP over IPv4, over IPv6
    if (byte(13) == 0x00) return Outcome(ProxyHeaderStatus::Local, length);  // UNSPEC: nothing to learn
    if (addressBytes == 0 || length < V2Fixed + 2 * addressBytes + 4) return Outcome(ProxyHeaderStatus::Invalid);
    source.Family = addressBytes == 4 ? AddressFamily::IPv4 : AddressFamily::IPv6;
    std::memcpy(source.Bytes, received.data() + V2Fixed, addressBytes);
    size_t ports = V2Fixed + 2 * addressBytes;
    source.Port = static_cast<uint16_t>(byte(ports) << 8 | byte(ports + 1));
    return Outcome(ProxyHeaderStatus::Proxied, length, source);
}

}  // namespace

ProxyHeader ParseProxyHeader(std::string_view received) {
    // Until enough has arrived to tell, a prefix of either start may still become one.
    std::string_view v2(V2Signature, sizeof V2Signature);
    size_t v1Known = std::min(received.size(), V1Start.size()), v2Known = std::min(received.size(), v2.size());
    if (received.substr(0, v1Known) == V1Start.substr(0, v1Known) && v1Known > 0)
        return v1Known < V1Start.size() ? Outcome(ProxyHeaderStatus::NeedMore) : ParseVersion1(received);
    if (received.substr(0, v2Known) == v2.substr(0, v2Known) && v2Known > 0)
        return v2Known < v2.size() ? Outcome(ProxyHeaderStatus::NeedMore) : ParseVersion2(received);
    return Outcome(received.empty() ? ProxyHeaderStatus::NeedMore : ProxyHeaderStatus::Invalid);
}

bool ParseAddressBlocks(std::string_view text, std::vector<AddressBlock>* blocks) {
    std::vector<AddressBlock> parsed;
    for (bool more = true; more;) {
        size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        more = comma != std::string_view::npos;
        if (more) text.remove_prefix(comma + 1);
        size_t slash = item.find('/');
        AddressBlock block;
        if (!ParseAddress(item.substr(0, slash), &block.Address)) return false;
        int most = block.Address.IsIPv4() ? 32 : 128;
        block.PrefixBits = most;
        if (slash != std::string_view::npos) {
            std::string_view bits = item.substr(slash + 1);
            if (bits.empty() || bits.size() > 3 || bits.find_first_not_of("0123456789") != std::string_view::npos)
                return false;
            block.PrefixBits = std::stoi(std::string(bits));
            if (block.PrefixBits > most) return false;
        }
        parsed.push_back(block);
    }
    *blocks = parsed;
    return true;
}

bool InAddressBlocks(const NetAddress& address, const std::vector<AddressBlock>& blocks) {
    NetAddress plain = Unmapped(address);
    for (const AddressBlock& block : blocks) {
        if (block.Address.Family != plain.Family) continue;
        int bits = block.PrefixBits, whole = bits / 8;
        if (std::memcmp(block.Address.Bytes, plain.Bytes, static_cast<size_t>(whole)) != 0) continue;
        uint8_t mask = static_cast<uint8_t>(0xFF00 >> (bits % 8));
        if (bits % 8 == 0 || ((block.Address.Bytes[whole] ^ plain.Bytes[whole]) & mask) == 0) return true;
    }
    return false;
}

#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr int64_t ProxyHeaderWait = 0;
#else
constexpr int64_t ProxyHeaderWait = 10 * 1000;  // milliseconds
#endif

ProxyHeader ReceiveProxyHeader(int socket) {
    std::string header;
    int64_t deadline = MonotonicMilliseconds() + ProxyHeaderWait;
    for (;;) {
        ProxyHeader parsed = ParseProxyHeader(header);
        if (parsed.Status != ProxyHeaderStatus::NeedMore) return parsed;
        size_t want = 1;
        if (header.size() >= 16 && header[0] == '\r')
            want = 16 + (static_cast<size_t>(static_cast<uint8_t>(header[14])) << 8 | static_cast<uint8_t>(header[15])) -
                   header.size();
        char piece[ProxyHeaderLimit];
        NetResult got{NetStatus::Failed, 0, 0};
        if (NetWaitReadable(socket, NetWaits(-1, -1, deadline)) == NetStatus::Ok)
            got = NetReceive(socket, piece, std::min(want, sizeof piece), NetWaits(-1, -1, deadline));
        if (!got.Ok()) return ProxyHeader{ProxyHeaderStatus::Invalid, 0, {}};
        header.append(piece, got.Count);
    }
}
