// Listeners: one thread per enabled server accepts control connections and
// enforces the server's connection limit.
#pragma once

// Starts a listener for every server whose State is 1 and looks up the host's
// name and address. False only when the program cannot serve at all.
bool InitServer();

// The body of one server's listener thread.
void ListenInstanceProc(int serverIndex);

// Shutdown, after FTPOK is cleared and StopEvent fired: stops the listeners,
// ends every connection, waits for every thread, then releases every record.
void CloseServer();
