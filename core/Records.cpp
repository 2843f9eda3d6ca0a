#include "core/Records.h"

#include <cstring>

std::array<std::unique_ptr<const ServerRecord>, ServerCapacity> Server;
int ServerCount = 0;
std::array<std::unique_ptr<const UserRecord>, UserCapacity> User;
int UserCount = 0;
std::array<std::unique_ptr<ConnectionRecord>, ConnectionCapacity> Connection;
std::atomic<int> ConnectionCount{0};
std::mutex SlotLock;
std::atomic<bool> FTPOK{false};
int StopEvent = -1;
NetAddress LocalIP;
char LocalHostName[1024] = {};

int GetUserByName(const char* name) {
    for (int i = 0; i < UserCount; ++i)
        if (std::strcmp(User[i]->Name, name) == 0) return i;
    return -1;
}

void EmptyTables() {
    for (auto& slot : Connection) slot.reset();
    ConnectionCount = 0;
    for (auto& server : Server) server.reset();
    for (auto& user : User) user.reset();
    ServerCount = 0;
    UserCount = 0;
}
