// The thread that serves one control connection: greeting, framing, the
// command table, the login gate and the dispatch to the handlers.
#pragma once

#include <cstddef>
#include <cstdint>

struct Session;

struct ConnectionStart {
    int Slot;
    uint32_t Generation;
    int Socket;
    int WakeFd;
};

// Serves one connection to its end: its counts returned, its sockets closed.
// The caller then detaches the thread from the slot.
void ConnectionInstanceProc(ConnectionStart start);

// The command ids, equal to their rows in the command table.
enum CommandId {
    CmdUSER, CmdPASS, CmdCWD, CmdPWD, CmdPORT, CmdPASV, CmdTYPE, CmdLIST, CmdREST, CmdCDUP, CmdRETR, CmdSTOR,
    CmdSIZE, CmdDELE, CmdRMD, CmdMKD, CmdRNFR, CmdRNTO, CmdABOR, CmdSYST, CmdNOOP, CmdBYE, CmdQUIT,
    CmdUnrecognized
};

// The id of an upper-cased keyword; CmdUnrecognized for anything else.
int GetCommandID(const char* keyword);

// Longest command line, without its line end; longer ones are refused whole.
constexpr size_t CommandLineLimit = 1023;

// Runs one command line (without its line end) through the gate and the dispatch.
void RunCommandLine(Session& session, const char* line, size_t length);
