// What the server reads from clients: command lines, PORT, EPRT and REST
// arguments, addresses of both families, Telnet controls and ASCII line ends.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Connection/CommandTable.h"
#include "Connection/ControlInput.h"
#include "DataConnection/AsciiMode.h"
#include "DataConnection/DataConnection.h"
#include "platform/Address.h"

namespace {

NetAddress Parsed(const char* text, uint16_t port = 0) {
    NetAddress address;
    EXPECT_TRUE(ParseAddress(text, &address)) << text;
    address.Port = port;
    return address;
}

}  // namespace

TEST(ParseCommandLine, CutsKeywordAndArgument) {
    const std::tuple<std::string, const char*, std::string> cases[] = {
        {"user anonymous", "USER", "anonymous"}, {"NOOP", "NOOP", ""}, {"TYPE", "TYPE", ""}, {"TYPE ", "TYPE", ""},
        {"TYPE I ", "TYPE", "I "}, {"CWD  pub", "CWD", " pub"},  // blanks after the delimiter are the argument's
        {"type A\rrest", "TYPE", "A"},                          // the argument ends at a carriage return
        {"NOOP\rPWD", "NOOP", "PWD"},                           // after a lone CR, the rest is the argument
        {"PWD\tx", "PWD\tX", ""},                               // a tab belongs to the keyword
        {" NOOP", "", "NOOP"}, {"", "", ""}, {"\r", "", ""},
        {"abcdefghijklmnopqrst x", "ABCDEFGHIJKLMNO", "x"},      // 15 characters kept
        {"RETR \xc3\xa9t\xc3\xa9.txt", "RETR", "\xc3\xa9t\xc3\xa9.txt"}};
    for (const auto& [line, keyword, argument] : cases) {
        CommandLine parsed = ParseCommandLine(line);
        EXPECT_EQ(std::string(parsed.Keyword) + "|" + std::string(parsed.Argument), keyword + ("|" + argument)) << line;
    }
}

TEST(PortArgument, AcceptsSixNumbersFrom0To255Only) {
    const std::pair<const char*, std::vector<int>> valid[] = {
        {"192,168,1,20,0,21", {192, 168, 1, 20, 0, 21}}, {" 127, 0, 0, 1, 4, 1 ", {127, 0, 0, 1, 4, 1}},
        {"+127,0,0,1,+4,+1", {127, 0, 0, 1, 4, 1}}, {"0127,0,0,1,4,1", {127, 0, 0, 1, 4, 1}}, {"-0,0,0,1,4,1", {0, 0, 0, 1, 4, 1}}};
    for (const auto& [argument, expected] : valid) {
        uint8_t n[6] = {};
        ASSERT_TRUE(ParsePortArgument(argument, n)) << argument;
        EXPECT_EQ(std::vector<int>(n, n + 6), expected) << argument;
    }
    for (const char* argument : {"", "1,2,3,4,5", "1,2,3,4,5,6,7", "1,2,3,4,256,1", "1,2,3,4,5,-6", "a,b,c,d,e,f", "1,2,3,4,5,6x",
                                 "1,,3,4,5,6", "1000,2,3,4,5,6", "99999999999999999999,2,3,4,5,6", "1 ,2,3,4,5,6",
                                 "+,2,3,4,5,6", "++1,2,3,4,5,6"}) {
        uint8_t n[6];
        EXPECT_FALSE(ParsePortArgument(argument, n)) << argument;
    }
}

TEST(Address, ComparesHostsAcrossFamiliesAndFormatsWithinItsRoom) {
    NetAddress refused;
    EXPECT_FALSE(ParseAddress("::1%lo", &refused) || ParseAddress("[::1]", &refused));
    char cut[5];
    EXPECT_EQ(FormatAddress(IPv4Address(192, 168, 1, 20), cut, sizeof cut), 4u);
    EXPECT_STREQ(cut, "192.");
    // The same host, ports aside, seen through IPv4-mapped addresses.
    const std::tuple<const char*, const char*, bool> pairs[] = {
        {"10.0.0.1", "::ffff:10.0.0.1", true}, {"::ffff:10.0.0.1", "10.0.0.1", true}, {"2001:db8::1", "2001:db8:0::1", true},
        {"10.0.0.1", "10.0.0.2", false}, {"10.0.0.1", "::ffff:10.0.0.2", false}, {"10.0.0.1", "2001:db8::1", false}};
    for (auto [a, b, same] : pairs) EXPECT_EQ(SameHost(Parsed(a), Parsed(b, 2121)), same) << a << " " << b;
    EXPECT_FALSE(SameHost(NetAddress{}, NetAddress{}));
    NetAddress plain = Unmapped(Parsed("::ffff:10.0.0.1"));
    EXPECT_TRUE(plain.IsIPv4() && plain.Bytes[3] == 1);
    EXPECT_TRUE(Unmapped(Parsed("2001:db8::1")).IsIPv6());
}

TEST(StripTelnet, DropsCommandSequencesAcrossReceives) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"\xff\xf4\xff\xf2" "ABOR\r\n"}, "ABOR\r\n"},             // interrupt process, data mark
        {{"A\xff\xff" "B"}, "A\xff" "B"},                          // an escaped 0xFF
        {{"A\xff", "\xfb\x01" "B"}, "AB"},                         // WILL ECHO, split over two receives
        {{"A\xff\xfa\x18\x01\xff", "\xf0" "B"}, "AB"},             // a subnegotiation up to IAC SE
        {{"\xff", "\xff", "\xff\xf4X"}, "\xffX"}};
    for (const auto& [pieces, expected] : cases) {
        TelnetState state = TelnetState::Data;
        std::string kept;
        for (std::string piece : pieces) kept.append(piece.data(), StripTelnet(state, piece.data(), piece.size()));
        EXPECT_EQ(kept, expected);
    }
}

TEST(RestAndEprtArguments, AreReadStrictly) {
    int64_t offset = -1;
    EXPECT_TRUE(ParseRestOffset("5368709121", &offset));
    EXPECT_EQ(offset, 5368709121LL);
    for (const char* bad : {"", "-1", "+1", "12x", " 1", "99999999999999999999"}) EXPECT_FALSE(ParseRestOffset(bad, &offset)) << bad;
    const EprtStatus ok = EprtStatus::Ok, bad = EprtStatus::Malformed;
    const std::pair<const char*, EprtStatus> cases[] = {
        {"|1|127.0.0.1|6000|", ok}, {"!2!::1!65535!", ok}, {"|3|x|1|", EprtStatus::UnknownFamily}, {"|1|::1|6000|", bad},
        {"|2|127.0.0.1|6000|", bad}, {"|1|127.0.0.1|0|", bad}, {"|1|127.0.0.1|65536|", bad}, {"|1|127.0.0.1|60x|", bad},
        {"|1|127.0.0.1|6000", bad}, {"|1|127.0.0.1|6000|x", bad}, {"", bad}, {" 1 127.0.0.1 6000 ", bad}};
    NetAddress target;
    for (auto [argument, status] : cases) EXPECT_EQ(ParseEprtArgument(argument, &target), status) << argument;
    ASSERT_EQ(ParseEprtArgument("|2|::1|2121|", &target), ok);
    EXPECT_TRUE(target.IsIPv6() && target.Port == 2121);
}

TEST(AsciiMode, ConvertsLineEndsPieceByPiece) {
    auto convert = [](std::vector<std::string> pieces, bool toNetwork) {
        bool carried = false;  // a CR at the end of the last piece
        std::string out;
        for (const std::string& piece : pieces) {
            std::string converted(2 * piece.size() + 1, '\0');
            out += converted.substr(0, toNetwork ? ToNetworkAscii(piece.data(), piece.size(), converted.data(), &carried)
                                                 : FromNetworkAscii(piece.data(), piece.size(), converted.data(), &carried));
        }
        return carried && !toNetwork ? out + "\r" : out;
    };
    EXPECT_EQ(convert({"a\nb\r\nc\n"}, true), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(convert({"a\r", "\nb", "\n"}, true), "a\r\nb\r\n");  // a CR LF split over pieces stays as it is
    EXPECT_EQ(convert({"a\r\nb\rc\r\n"}, false), "a\nb\rc\n");
    EXPECT_EQ(convert({"a\r", "\nb\r", "x", "\r"}, false), "a\nb\rx\r");
}
