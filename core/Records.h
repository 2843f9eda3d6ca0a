// The records and global tables that every thread shares.
//
// Servers, users and their directories are filled once by the configuration
// reader, before any other thread starts; the tables hold them const, so
// their configured fields cannot change afterwards. Only the live fields,
// marked mutable, change while the server runs. Connection slots are
// allocated on demand and reused: their fields are what other threads read
// (the console's views, the idle supervisor, Quit); everything that only the
// connection's own thread uses lives in its Session (Connection/Session.h).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Address.h"

constexpr int ServerCapacity = 12;
constexpr int UserCapacity = 500;
constexpr int ConnectionCapacity = 10000;  // the most --max-connections allows; 100 without it
constexpr int DirectoryCapacity = 10;

struct ServerRecord {
    int ID = 0;
    mutable std::atomic<int> State{0};  // 1: start a listener; the start sets it to 0
    char Name[20] = {};
    int Port = 0;
    int MaxConnections = 0;
    mutable std::atomic<int> OnlineConnections{0};
    mutable std::atomic<int> LoginsPausing{0};  // connections waiting out a login pause
    char WelcomeText[1024] = {};
    char GoodByeText[1024] = {};
    char IP[32] = {};                        // shown by the console only
    mutable std::atomic<int> Thread{0};      // the listener thread's id, 0 when none runs
    mutable std::atomic<int> Socket{0};      // the listening socket
    mutable std::thread Listener;            // joined at shutdown
};

struct DirectoryRecord {
    char Name[256] = {};
    char Path[1024] = {};
};

struct UserRecord {
    char Name[16] = {};
    char PassWord[16] = {};  // empty: any password is accepted
    std::array<std::unique_ptr<const DirectoryRecord>, DirectoryCapacity> Directories;
    int DirectoryCount = 0;
    int MaxConnections = 0;
    mutable std::atomic<int> OnlineConnections{0};
    int ServerID = 0;
    int UserGroup = 0;
    int16_t Enabled = 0;
};

// Connection states.
constexpr int StateLoggedOut = 0;
constexpr int StateLoggedIn = 1;
constexpr int StateSending = 3;    // RETR
constexpr int StateReceiving = 4;  // STOR

struct ConnectionRecord {
    std::atomic<int> Socket{-1};
    int ID = 0;
    std::atomic<int> State{StateLoggedOut};
    std::atomic<int> UserID{-1};
    std::atomic<int> ServerID{0};
    std::atomic<int> TickCount{0};
    std::atomic<int> ThisThread{0};  // the connection thread's id
    // Written by the connection's own thread while it holds SlotLock, so that
    // the console can show them whole.
    char LocalDirectory[1024] = {};
    char CurrentDirectory[1024] = {};
    std::atomic<int> DataSocket{-1};  // the open data or passive socket, -1 when none
    std::atomic<int16_t> PassiveMode{0};
    std::atomic<uint8_t> InUsed{0};   // 0xFF while the slot serves a connection
    NetAddress Peer;                  // the client's address, under SlotLock
    bool HoldsPassivePort = false;    // a passive listener of --passive-ports' range, under SlotLock
    std::atomic<bool> TimedOut{false};  // ended for its silence and owed a goodbye

    // The transfer or hash under way, for "view xfer" and STAT: its command
    // line (under SlotLock), bytes moved, size (-1: not known), start (steady
    // milliseconds; 0: none under way), and the bytes the idle supervisor saw
    // move in its last second, with what it saw at its last pass (its own).
    char TransferCommand[128] = {};
    std::atomic<int64_t> TransferMoved{0};
    std::atomic<int64_t> TransferSize{-1};
    std::atomic<int64_t> TransferStart{0};
    std::atomic<int64_t> TransferLastSecond{0};
    int64_t SeenStart = 0, SeenMoved = 0;

    // Slot bookkeeping, all under SlotLock.
    uint32_t Generation = 0;  // raised each time the slot is taken
    bool Attached = false;    // the connection's thread has not finished with the slot yet
};

extern std::array<std::unique_ptr<const ServerRecord>, ServerCapacity> Server;
extern int ServerCount;
extern std::array<std::unique_ptr<const UserRecord>, UserCapacity> User;
extern int UserCount;
extern std::array<std::unique_ptr<ConnectionRecord>, ConnectionCapacity> Connection;
extern std::atomic<int> ConnectionCount;

// Guards slot allocation, the login counts and the directory texts of the
// connection records.
extern std::mutex SlotLock;

extern std::atomic<bool> FTPOK;   // the run flag; "close" clears it
extern int StopEvent;             // a wake event fired at shutdown (platform/System.h)
extern NetAddress LocalIP;        // the host's IPv4 address, printed at start
extern char LocalHostName[1024];

// Index of the first user whose Name equals name exactly, or -1.
int GetUserByName(const char* name);

// Releases every record and sets every count to zero: before a configuration
// is read, after one is refused, and at shutdown once no thread is left.
void EmptyTables();
