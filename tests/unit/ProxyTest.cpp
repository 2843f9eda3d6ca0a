// The PROXY protocol header as HAProxy's send-proxy and send-proxy-v2 write
// it, and the trusted address blocks that decide who may send one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ProxyProtocol.h"

namespace {

using enum ProxyHeaderStatus;

std::string V2(int command, int family, std::string addresses, std::string after = "") {
    std::string header("\r\n\r\n\0\r\nQUIT\n", 12);
    size_t length = addresses.size() + after.size();
    return header + char(0x20 | command) + char(family) + char(length >> 8) + char(length & 0xFF) + addresses + after;
}

const std::string IPv4Pair("\xc6\x33\x64\x09\x7f\x00\x00\x01\x10\x92\x00\x15", 12);  // 198.51.100.9:4242 to 127.0.0.1:21

}  // namespace

// What a header read: its status, and for a relayed connection the client and the header's length.
std::string Read(const std::string& received) {
    ProxyHeader header = ParseProxyHeader(received);
    const char* names[] = {"more", "client", "local", "invalid"};
    std::string text = names[static_cast<int>(header.Status)];
    char address[64];
    if (header.Status == Proxied) FormatAddress(header.Source, address, sizeof address);
    if (header.Status == Proxied) text += std::string(" ") + address + ":" + std::to_string(header.Source.Port);
    return header.Length > 0 ? text + " " + std::to_string(header.Length) : text;
}

TEST(ProxyHeader, VersionsOneAndTwo) {
    const std::string six = std::string(15, '\0') + "\x01" + std::string(15, '\0') + "\x01" + std::string("\0\x50\0\x15", 4);
    const std::pair<std::string, std::string> cases[] = {
        {"PROXY TCP4 203.0.113.7 127.0.0.1 5555 21\r\n", "client 203.0.113.7:5555 42"},
        {"PROXY TCP6 2001:db8::1 ::1 65535 21\r\nUSER x\r\n", "client 2001:db8::1:65535 37"},
        {"PROXY UNKNOWN whatever\r\n", "local 24"}, {"PROXY TCP4 203.0.113.7 127.0.0.1 5555", "more"}, {"PRO", "more"},
        {"\r\n\r\n\0\r\n", "more"}, {"USER alice\r\n", "invalid"},
        {"PROXY TCP4 2001:db8::1 127.0.0.1 5555 21\r\n", "invalid"},   // a family its address does not have
        {"PROXY TCP4 203.0.113.7 127.0.0.1 05555 21\r\n", "invalid"},  // a leading zero
        {"PROXY TCP4 203.0.113.7 127.0.0.1 65536 21\r\n", "invalid"}, {"PROXY TCP4 203.0.113.7  127.0.0.1 5555 21\r\n", "invalid"},
        {"PROXY " + std::string(110, 'x'), "invalid"},  // past the longest line without its end
        {V2(1, 0x11, IPv4Pair), "client 198.51.100.9:4242 28"},
        {V2(1, 0x11, IPv4Pair, std::string("\x03\x00\x04xxxx", 7)), "client 198.51.100.9:4242 35"},  // an extension
        {V2(1, 0x21, six), "client ::1:80 52"}, {V2(0, 0x00, ""), "local 16"}, {V2(1, 0x00, ""), "local 16"},
        {V2(1, 0x11, IPv4Pair).substr(0, 20), "more"}, {V2(1, 0x11, IPv4Pair.substr(0, 8)), "invalid"},
        {V2(2, 0x11, IPv4Pair), "invalid"}, {V2(1, 0x12, IPv4Pair), "invalid"},  // an unknown command, UDP
        {V2(1, 0x11, IPv4Pair, std::string(600, 'x')), "invalid"},  // longer than any header read
    };
    for (const auto& [received, expected] : cases) EXPECT_EQ(Read(received), expected) << received.substr(0, 40);
}

TEST(AddressBlocks, ParseAndMatch) {
    std::vector<AddressBlock> blocks;
    for (const char* refused : {"", "10.0.0.0/33", "10.0.0.0/", "nowhere", "10.0.0.1,", "::1/129"})
        EXPECT_FALSE(ParseAddressBlocks(refused, &blocks)) << refused;
    ASSERT_TRUE(ParseAddressBlocks("10.0.0.0/8,192.0.2.7,2001:db8::/33", &blocks));
    const std::pair<const char*, bool> cases[] = {
        {"10.255.0.1", true}, {"11.0.0.1", false}, {"192.0.2.7", true}, {"192.0.2.8", false},
        {"::ffff:10.1.2.3", true}, {"2001:db8:7fff::1", true}, {"2001:db8:8000::1", false}, {"::1", false}};
    for (auto [text, in] : cases) {
        NetAddress address;
        ASSERT_TRUE(ParseAddress(text, &address));
        EXPECT_EQ(InAddressBlocks(address, blocks), in) << text;
    }
}
