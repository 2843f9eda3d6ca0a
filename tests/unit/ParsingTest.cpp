// What the server reads from clients: command lines, PORT arguments and
// addresses of both families.
#include <gtest/gtest.h>

#include <string>

#include "Connection/CommandTable.h"
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

TEST(CommandTable, FindsExactUpperCaseKeywordsOnlyAndExtensionsOnlyWithThem) {
    for (const char* keyword : {"USER", "PASS", "RETR", "REST", "CDUP", "ABOR", "BYE", "QUIT"})
        EXPECT_NE(FindCommand(keyword, false), nullptr) << keyword;
    for (const char* keyword : {"FEAT", "MLSD", "EPSV", "APPE", "XPWD", "SITE"}) {
        EXPECT_EQ(FindCommand(keyword, false), nullptr) << keyword;
        EXPECT_NE(FindCommand(keyword, true), nullptr) << keyword;
    }
    for (const char* keyword : {"", "user", "HELO", "RETRX", "PWD\tX"}) EXPECT_EQ(FindCommand(keyword, true), nullptr);
    EXPECT_TRUE(FindCommand("USER", false)->Flags & BeforeLogin);
    EXPECT_FALSE(FindCommand("NOOP", false)->Flags & BeforeLogin);
    EXPECT_TRUE(FindCommand("REST", false)->Flags & StubWithoutExtensions);  // known, not implemented without them
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
    NetAddress v4, mapped, other4, v6, v6again, otherMapped;
    ASSERT_TRUE(ParseAddress("10.0.0.1", &v4));
    ASSERT_TRUE(ParseAddress("::ffff:10.0.0.1", &mapped));
    ASSERT_TRUE(ParseAddress("10.0.0.2", &other4));
    ASSERT_TRUE(ParseAddress("2001:db8::1", &v6));
    ASSERT_TRUE(ParseAddress("2001:db8:0::1", &v6again));
    ASSERT_TRUE(ParseAddress("::ffff:10.0.0.2", &otherMapped));
    v6again.Port = 2121;  // ports aside
    EXPECT_TRUE(SameHost(v4, mapped));
    EXPECT_TRUE(SameHost(mapped, v4));
    EXPECT_TRUE(SameHost(v6, v6again));
    EXPECT_FALSE(SameHost(v4, other4));
    EXPECT_FALSE(SameHost(v4, otherMapped));
    EXPECT_FALSE(SameHost(v4, v6));
    EXPECT_FALSE(SameHost(NetAddress{}, NetAddress{}));
    NetAddress plain = Unmapped(mapped);
    EXPECT_TRUE(plain.IsIPv4());
    EXPECT_EQ(plain.Bytes[3], 1);
    EXPECT_TRUE(Unmapped(v6).IsIPv6());
}
