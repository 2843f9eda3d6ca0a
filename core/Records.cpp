#include "core/Records.h"

#include <cstring>

std::array<std::unique_ptr<ServerRecord>, ServerCapacity> Server;
int ServerCount = 0;
std::array<std::unique_ptr<UserRecord>, UserCapacity> User;
int UserCount = 0;
std::array<std::unique_ptr<ConnectionRecord>, ConnectionCapacity> Connection;
std::atomic<int> ConnectionCount{0};
std::mutex SlotLock;
std::atomic<bool> FTPOK{false};
int StopEvent = -1;
uint8_t LocalIP[4] = {};
char LocalHostName[1024] = {};

int GetUserByName(const char* name) {
    for (int i = 0; i < UserCount; ++i)
        if (std::strcmp(User[i]->Name, name) == 0) return i;
    return -1;
}
