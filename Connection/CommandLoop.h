// The thread that serves one control connection: greeting, framing, the
// login gate and the dispatch through the command table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/Address.h"

struct Session;

struct ConnectionStart {
    int Slot;
    uint32_t Generation;
    int Socket;
    NetAddress Client;  // the client's address, as accepted
};

// Serves one connection to its end: its counts returned, its sockets closed.
// The caller then detaches the thread from the slot.
void ConnectionInstanceProc(ConnectionStart start);

// Runs one command line (without its line end) through the gate and the dispatch.
void RunCommandLine(Session& session, std::string_view line);

// Reads what the client sent while a transfer runs (the control connection
// turned readable): ABOR, STAT and NOOP run at once, every other line waits
// for the transfer's end. False when the transfer must stop: ABOR came, or
// the connection is being dropped.
bool HearDuringTransfer(Session& session);
