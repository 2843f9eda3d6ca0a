// Network addresses of both families, with a port. Parsing and formatting
// live here so that nothing above the platform layer handles raw socket
// address structures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

enum class AddressFamily : uint8_t { None, IPv4, IPv6 };

struct NetAddress {
    AddressFamily Family = AddressFamily::None;
    uint8_t Bytes[16] = {};  // IPv4 in the first four, first byte first
    uint16_t Port = 0;       // host byte order

    bool IsIPv4() const { return Family == AddressFamily::IPv4; }
    bool IsIPv6() const { return Family == AddressFamily::IPv6; }
};

// An IPv4 address from its four bytes, first byte first.
NetAddress IPv4Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t port = 0);
// The address that stands for every local address of a family.
NetAddress AnyAddress(AddressFamily family, uint16_t port = 0);

// Parses "127.0.0.1" or "::1" (no brackets, no port); false for anything else.
bool ParseAddress(std::string_view text, NetAddress* address);

// The address as text without its port ("127.0.0.1", "::1"); what fits of it
// in size - 1 characters. Returns its length.
size_t FormatAddress(const NetAddress& address, char* buffer, size_t size);

// An IPv6 address that only carries an IPv4 one (::ffff:a.b.c.d) as that
// IPv4 address; any other address unchanged.
NetAddress Unmapped(const NetAddress& address);

// Whether two addresses name the same host, ports aside; an IPv4-mapped IPv6
// address is the same host as its IPv4 address.
bool SameHost(const NetAddress& a, const NetAddress& b);
