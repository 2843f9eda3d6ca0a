// What the server reads from clients: command lines, PORT arguments and
// addresses of both families.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Connection/CommandTable.h"
#include "Connection/ControlInput.h"
#include "DataConnection/AsciiMode.h"
#include "DataConnection/DataConnection.h"
#include "platform/Address.h"

TEST(ParseCommandLine, CutsKeywordAndArgument) {
    struct Case {
        std::string Line;
        const char* Keyword;
        std::string Argument;
    };
    const Case cases[] = {
        {"user anonymous", "USER", "anonymous"}, {"NOOP", "NOOP", ""}, {"TYPE", "TYPE", ""}, {"TYPE ", "TYPE", ""},
        {"TYPE I ", "TYPE", "I "}, {"CWD  pub", "CWD", " pub"},  // blanks after the delimiter are the argument's
        {"type A\rrest", "TYPE", "A"},                          // the argument ends at a carriage return
        {"NOOP\rPWD", "NOOP", "PWD"},                           // after a lone CR, the rest is the argument
        {"PWD\tx", "PWD\tX", ""},                               // a tab belongs to the keyword
        {" NOOP", "", "NOOP"}, {"", "", ""}, {"\r", "", ""},
        {"abcdefghijklmnopqrst x", "ABCDEFGHIJKLMNO", "x"},      // 15 characters kept
        {"RETR \xc3\xa9t\xc3\xa9.txt", "RETR", "\xc3\xa9t\xc3\xa9.txt"},
    };
    for (const Case& c : cases) {
        CommandLine parsed = ParseCommandLine(c.Line);
        EXPECT_STREQ(parsed.Keyword, c.Keyword) << c.Line;
        EXPECT_EQ(parsed.Argument, c.Argument) << c.Line;
    }
}

TEST(PortArgument, AcceptsSixNumbersFrom0To255Only) {
    struct Case {
        const char* Argument;
        bool Valid;
        uint8_t First, Fifth, Sixth;
    };
    const Case cases[] = {
        {"192,168,1,20,0,21", true, 192, 0, 21}, {" 127, 0, 0, 1, 4, 1 ", true, 127, 4, 1},
        {"+127,0,0,1,+4,+1", true, 127, 4, 1}, {"0127,0,0,1,4,1", true, 127, 4, 1}, {"-0,0,0,1,4,1", true, 0, 4, 1},
        {"", false, 0, 0, 0}, {"1,2,3,4,5", false, 0, 0, 0}, {"1,2,3,4,5,6,7", false, 0, 0, 0},
        {"1,2,3,4,256,1", false, 0, 0, 0}, {"1,2,3,4,5,-6", false, 0, 0, 0}, {"a,b,c,d,e,f", false, 0, 0, 0},
        {"1,2,3,4,5,6x", false, 0, 0, 0}, {"1,,3,4,5,6", false, 0, 0, 0}, {"1000,2,3,4,5,6", false, 0, 0, 0},
        {"99999999999999999999,2,3,4,5,6", false, 0, 0, 0}, {"1 ,2,3,4,5,6", false, 0, 0, 0},
        {"+,2,3,4,5,6", false, 0, 0, 0}, {"++1,2,3,4,5,6", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        uint8_t n[6] = {};
        ASSERT_EQ(ParsePortArgument(c.Argument, n), c.Valid) << c.Argument;
        if (!c.Valid) continue;
        EXPECT_EQ(n[0], c.First) << c.Argument;
        EXPECT_EQ(n[4], c.Fifth) << c.Argument;
        EXPECT_EQ(n[5], c.Sixth) << c.Argument;
    }
}

TEST(Address, ParsesAndFormatsBothFamilies) {
    struct Case {
        const char* Text;
        AddressFamily Family;
        const char* Formatted;
    };
    const AddressFamily none = AddressFamily::None, v4 = AddressFamily::IPv4, v6 = AddressFamily::IPv6;
    const Case cases[] = {
        {"127.0.0.1", v4, "127.0.0.1"}, {"0.0.0.0", v4, "0.0.0.0"}, {"::1", v6, "::1"},
        {"2001:DB8:0:0:0:0:0:1", v6, "2001:db8::1"}, {"::ffff:10.0.0.1", v6, "::ffff:10.0.0.1"},
        {"256.0.0.1", none, ""}, {"127.0.0", none, ""}, {"[::1]", none, ""}, {"::1%lo", none, ""}, {"", none, ""},
    };
    for (const Case& c : cases) {
        NetAddress address;
        bool parsed = ParseAddress(c.Text, &address);
        EXPECT_EQ(parsed, c.Family != AddressFamily::None) << c.Text;
        if (!parsed) continue;
        EXPECT_EQ(address.Family, c.Family) << c.Text;
        char text[64];
        FormatAddress(address, text, sizeof text);
        EXPECT_STREQ(text, c.Formatted) << c.Text;
    }
    char cut[5];
    EXPECT_EQ(FormatAddress(IPv4Address(192, 168, 1, 20), cut, sizeof cut), 4u);
    EXPECT_STREQ(cut, "192.");
}

TEST(Address, SameHostSeesThroughIPv4MappedAddresses) {
    auto parse = [](const char* text, uint16_t port = 0) {
        NetAddress address;
        EXPECT_TRUE(ParseAddress(text, &address)) << text;
        address.Port = port;  // ports aside
        return address;
    };
    const std::tuple<const char*, const char*, bool> pairs[] = {
        {"10.0.0.1", "::ffff:10.0.0.1", true}, {"::ffff:10.0.0.1", "10.0.0.1", true}, {"2001:db8::1", "2001:db8:0::1", true},
        {"10.0.0.1", "10.0.0.2", false}, {"10.0.0.1", "::ffff:10.0.0.2", false}, {"10.0.0.1", "2001:db8::1", false}};
    for (auto [a, b, same] : pairs) EXPECT_EQ(SameHost(parse(a), parse(b, 2121)), same) << a << " " << b;
    EXPECT_FALSE(SameHost(NetAddress{}, NetAddress{}));
    NetAddress plain = Unmapped(parse("::ffff:10.0.0.1"));
    EXPECT_TRUE(plain.IsIPv4() && plain.Bytes[3] == 1);
    EXPECT_TRUE(Unmapped(parse("2001:db8::1")).IsIPv6());
}

TEST(StripTelnet, DropsCommandSequencesAcrossReceives) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"\xff\xf4\xff\xf2" "ABOR\r\n"}, "ABOR\r\n"},             // interrupt process, data mark
        {{"A\xff\xff" "B"}, "A\xff" "B"},                          // an escaped 0xFF
        {{"A\xff", "\xfb\x01" "B"}, "AB"},                         // WILL ECHO, split over two receives
        {{"A\xff\xfa\x18\x01\xff", "\xf0" "B"}, "AB"},             // a subnegotiation up to IAC SE
        {{"\xff", "\xff", "\xff\xf4X"}, "\xffX"},
    };
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

    const std::pair<const char*, EprtStatus> cases[] = {
        {"|1|127.0.0.1|6000|", EprtStatus::Ok}, {"!2!::1!65535!", EprtStatus::Ok}, {"|3|x|1|", EprtStatus::UnknownFamily},
        {"|1|::1|6000|", EprtStatus::Malformed}, {"|2|127.0.0.1|6000|", EprtStatus::Malformed},
        {"|1|127.0.0.1|0|", EprtStatus::Malformed}, {"|1|127.0.0.1|65536|", EprtStatus::Malformed},
        {"|1|127.0.0.1|60x|", EprtStatus::Malformed}, {"|1|127.0.0.1|6000", EprtStatus::Malformed},
        {"|1|127.0.0.1|6000|x", EprtStatus::Malformed}, {"", EprtStatus::Malformed}, {" 1 127.0.0.1 6000 ", EprtStatus::Malformed},
    };
    for (auto [argument, status] : cases) {
        NetAddress target;
        EXPECT_EQ(ParseEprtArgument(argument, &target), status) << argument;
    }
    NetAddress target;
    ASSERT_EQ(ParseEprtArgument("|2|::1|2121|", &target), EprtStatus::Ok);
    EXPECT_TRUE(target.IsIPv6());
    EXPECT_EQ(target.Port, 2121);
}

TEST(AsciiMode, ConvertsLineEndsPieceByPiece) {
    auto toNetwork = [](std::vector<std::string> pieces) {
        bool lastWasCr = false;
        std::string out;
        for (const std::string& piece : pieces) {
            std::string converted(2 * piece.size(), '\0');
            out += converted.substr(0, ToNetworkAscii(piece.data(), piece.size(), converted.data(), &lastWasCr));
        }
        return out;
    };
    auto fromNetwork = [](std::vector<std::string> pieces) {
        bool pendingCr = false;
        std::string out;
        for (const std::string& piece : pieces) {
            std::string converted(piece.size() + 1, '\0');
            out += converted.substr(0, FromNetworkAscii(piece.data(), piece.size(), converted.data(), &pendingCr));
        }
        return pendingCr ? out + "\r" : out;
    };
    EXPECT_EQ(toNetwork({"a\nb\r\nc\n"}), "a\r\nb\r\nc\r\n");
    EXPECT_EQ(toNetwork({"a\r", "\nb", "\n"}), "a\r\nb\r\n");  // a CR LF split over pieces stays as it is
    EXPECT_EQ(fromNetwork({"a\r\nb\rc\r\n"}), "a\nb\rc\n");
    EXPECT_EQ(fromNetwork({"a\r", "\nb\r", "x", "\r"}), "a\nb\rx\r");
}
