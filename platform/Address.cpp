#include "platform/Address.h"

#include <arpa/inet.h>
#include <cstring>
#include <string>

namespace {

constexpr uint8_t MappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

}  // namespace

NetAddress IPv4Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t port) {
    NetAddress address;
    address.Family = AddressFamily::IPv4;
    address.Bytes[0] = a;
    address.Bytes[1] = b;
    address.Bytes[2] = c;
    address.Bytes[3] = d;
    address.Port = port;
    return address;
}

NetAddress AnyAddress(AddressFamily family, uint16_t port) {
    NetAddress address;
    address.Family = family;
    address.Port = port;
    return address;
}

bool ParseAddress(std::string_view text, NetAddress* address) {
    if (text.empty() || text.size() > INET6_ADDRSTRLEN) return false;
    std::string terminated(text);
    NetAddress parsed;
    if (inet_pton(AF_INET, terminated.c_str(), parsed.Bytes) == 1) {
        parsed.Family = AddressFamily::IPv4;
    } else if (inet_pton(AF_INET6, terminated.c_str(), parsed.Bytes) == 1) {
        parsed.Family = AddressFamily::IPv6;
    } else {
        return false;
    }
    *address = parsed;
    return true;
}

size_t FormatAddress(const NetAddress& address, char* buffer, size_t size) {
    if (size == 0) return 0;
    char text[INET6_ADDRSTRLEN] = "";
    if (address.Family != AddressFamily::None)
        inet_ntop(address.IsIPv4() ? AF_INET : AF_INET6, address.Bytes, text, sizeof text);
    size_t length = std::strlen(text);
    if (length >= size) length = size - 1;
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return length;
}

NetAddress Unmapped(const NetAddress& address) {
    if (!address.IsIPv6() || std::memcmp(address.Bytes, MappedPrefix, sizeof MappedPrefix) != 0) return address;
    NetAddress plain = IPv4Address(address.Bytes[12], address.Bytes[13], address.Bytes[14], address.Bytes[15],
                                   address.Port);
    return plain;
}

bool SameHost(const NetAddress& a, const NetAddress& b) {
    NetAddress left = Unmapped(a);
    NetAddress right = Unmapped(b);
    if (left.Family != right.Family || left.Family == AddressFamily::None) return false;
    return std::memcmp(left.Bytes, right.Bytes, left.IsIPv4() ? 4 : 16) == 0;
}
