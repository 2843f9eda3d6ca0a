// The per-address memory of failed and abandoned logins: what counts, what
// is kept apart, when it is forgotten, and the table's bound.
#include <gtest/gtest.h>

#include <tuple>

#include "core/LoginGuard.h"

namespace {

NetAddress Address(const char* text) {
    NetAddress address;
    EXPECT_TRUE(ParseAddress(text, &address)) << text;
    return address;
}

struct LoginGuardTest : ::testing::Test {
    void SetUp() override { ForgetLogins(); }
    void TearDown() override { ForgetLogins(); }
};

TEST_F(LoginGuardTest, CountsPerHostAndForgetsTenMinutesAfterTheLast) {
    NetAddress guesser = Address("192.0.2.7");
    for (int i = 0; i < FailuresBeforeBar - 1; ++i) NoteLoginFailure(guesser, 1000 + i);
    EXPECT_FALSE(LoginsBarred(guesser, 2000));
    NoteLoginFailure(guesser, 5000);
    const std::tuple<const char*, int64_t, bool> cases[] = {
        {"192.0.2.7", 5000, true}, {"::ffff:192.0.2.7", 5000, true},  // the same host on a dual-stack listener
        {"192.0.2.8", 5000, false},                                    // its neighbour
        {"192.0.2.7", 5000 + LoginMemoryMs - 1, true}, {"192.0.2.7", 5000 + LoginMemoryMs, false}};  // from the last
    for (auto [address, at, barred] : cases) EXPECT_EQ(LoginsBarred(Address(address), at), barred) << address << " " << at;
}

TEST_F(LoginGuardTest, AnIPv6HostIsItsSlash64) {
    for (int i = 0; i < AbandonedBeforeWaits; ++i) NoteLoginAbandoned(Address("2001:db8:1:2::1"), 100);
    EXPECT_TRUE(LoginAnswersWait(Address("2001:db8:1:2:ffff::9"), 100));
    EXPECT_FALSE(LoginAnswersWait(Address("2001:db8:1:3::1"), 100));
    EXPECT_FALSE(LoginsBarred(Address("2001:db8:1:2::1"), 100));  // abandoned is not failed
}

TEST_F(LoginGuardTest, AFullTableDropsTheOldestEntry) {
    NetAddress old = Address("198.51.100.1");
    for (int i = 0; i < FailuresBeforeBar; ++i) NoteLoginFailure(old, 10);
    NetAddress fresh = Address("198.51.100.2");
    for (int i = 0; i < FailuresBeforeBar; ++i) NoteLoginFailure(fresh, 20);
    for (uint32_t i = 0; i < LoginGuardCapacity - 2; ++i) {
        NoteLoginFailure(IPv4Address(10, uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)), 30);
    }
    EXPECT_TRUE(LoginsBarred(old, 40));
    NoteLoginFailure(Address("203.0.113.9"), 40);  // one more address: the oldest gives way
    EXPECT_FALSE(LoginsBarred(old, 40));
    EXPECT_TRUE(LoginsBarred(fresh, 40));
}

}  // namespace
