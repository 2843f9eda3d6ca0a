// Slots and the idle supervisor, driven directly: aging, dropping, and the
// rules that keep counts right when several threads end one connection.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/Slots.h"
#include "Server/Manager.h"
#include "core/Records.h"
#include "platform/Net.h"
#include "tests/unit/TestFiles.h"

namespace {

// One server, one account and one logged-in connection of generation 7, each counted once.
struct SlotsTest : ::testing::Test {
    int control[2] = {-1, -1};  // the connection's control socket, and its client

    void SetUp() override {
        FTPOK = true;
        (Server[0] = std::make_unique<ServerRecord>())->OnlineConnections = 1;
        (User[0] = std::make_unique<UserRecord>())->OnlineConnections = 1;
        ServerCount = UserCount = ConnectionCount = 1;
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, control), 0);
        ConnectionRecord& slot = *(Connection[0] = std::make_unique<ConnectionRecord>());
        slot.InUsed = 0xFF;
        slot.State = StateLoggedIn;
        slot.UserID = 0;
        slot.Generation = 7;
        slot.Socket = control[0];
    }
    void TearDown() override {
        close(control[0]);
        close(control[1]);
        EmptyTables();
    }
};

}  // namespace

TEST_F(SlotsTest, SupervisorDropsAConnectionPastTheLimitOnly) {
    Connection[0]->TickCount = IdleLimit() - 1;
    ManagerPass();
    EXPECT_EQ(Connection[0]->TickCount, IdleLimit());
    EXPECT_NE(Connection[0]->InUsed, 0);
    EXPECT_FALSE(NetWaitHangUp(control[0], 0));

    ManagerPass();
    EXPECT_EQ(Connection[0]->InUsed + Server[0]->OnlineConnections + User[0]->OnlineConnections, 0);
    EXPECT_TRUE(NetWaitHangUp(control[0], 0)) << "the owner thread is woken to close its sockets";

    ManagerPass();  // a free slot is neither aged nor dropped again
    EXPECT_EQ(Connection[0]->TickCount, IdleLimit() + 1);
    EXPECT_EQ(Server[0]->OnlineConnections, 0);
}

TEST_F(SlotsTest, QuitCountsOnceAndOnlyForItsGeneration) {
    Quit(0, 6);  // a late call from the slot's previous connection
    EXPECT_NE(Connection[0]->InUsed, 0);
    EXPECT_EQ(Server[0]->OnlineConnections, 1);

    QuitOwn(0, 7);
    Quit(0, 7);
    Quit(0);
    EXPECT_EQ(Connection[0]->InUsed + Server[0]->OnlineConnections + User[0]->OnlineConnections, 0);
    EXPECT_FALSE(NetWaitHangUp(control[0], 0)) << "its own thread closes it, after TLS's alert";
}
