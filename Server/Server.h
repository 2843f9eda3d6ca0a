// The running server's one owner: InitProgram empties the tables, starts the
// idle supervisor and reads ./config; InitServer starts a listener thread per
// enabled server, each of which accepts control connections, enforces its
// server's limit and starts connection threads; CloseServer stops and joins
// them all and releases every record. (The options are read before, by main.)
#pragma once

#include <string>

bool InitProgram();
// Ends what a failed InitProgram or InitServer started.
void AbandonStart();

// Starts a listener for every server whose State is 1 and looks up the host's
// name and address. False only when the program cannot serve at all.
bool InitServer();

// The body of one server's listener thread.
void ListenInstanceProc(int serverIndex);

// Waits until every listener InitServer started has tried its first bind;
// returns how many are listening.
int WaitForListeners();
// Why listeners could not bind: "ADDRESS port PORT: REASON", a line each.
std::string ListenerFaults();

// Shutdown, after FTPOK is cleared and StopEvent fired: stops the listeners,
// ends every connection, waits for every thread, then releases every record.
void CloseServer();
