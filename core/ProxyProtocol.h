// The PROXY protocol (HAProxy's, versions 1 and 2): a load balancer that
// relays a client's connection first sends one header naming the client.
// Only connections from the proxies the operator trusts (--proxy-protocol)
// are read for it; the parser is a pure function of the bytes received.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "platform/Address.h"

// The longest header read: a version 1 line is at most 107 bytes; a version
// 2 header with its addresses and the extensions HAProxy adds fits in 536.
constexpr size_t ProxyHeaderLimit = 536;

enum class ProxyHeaderStatus {
    NeedMore,  // a header has begun and is not complete yet
    Proxied,   // a relayed connection: Source is the client's address and port
    Local,     // the proxy's own connection (a health check, or version 1 UNKNOWN): no client
    Invalid,   // not a header, or one the protocol does not allow
};

struct ProxyHeader {
    ProxyHeaderStatus Status = ProxyHeaderStatus::NeedMore;
    size_t Length = 0;   // the header's bytes (Proxied and Local): the FTP bytes follow them
    NetAddress Source;   // with its port
};

// Reads a header from the start of the bytes received so far.
ProxyHeader ParseProxyHeader(std::string_view received);

// Receives a header from a socket exactly, never a byte of what follows it
// (the client's own): byte by byte up to a version 1 line's end, the fixed
// part and then the announced length for version 2. Invalid when none
// arrives complete within 10 seconds.
ProxyHeader ReceiveProxyHeader(int socket);

// An address block: an address and how many of its leading bits must match.
struct AddressBlock {
    NetAddress Address;
    int PrefixBits = 0;
};

// Parses "192.0.2.7", "10.0.0.0/8" or "2001:db8::/32", comma-separated; false
// (leaving *blocks as it was) when any item is not one.
bool ParseAddressBlocks(std::string_view text, std::vector<AddressBlock>* blocks);

// Whether the address (an IPv4-mapped one as its IPv4 address) lies in a block.
bool InAddressBlocks(const NetAddress& address, const std::vector<AddressBlock>& blocks);
