// Taking a slot for an accepted control connection and running its thread.
//
// A slot is taken by a listener (CreateConnection) and served by one
// connection thread, which alone uses and closes the connection's sockets. Any
// thread may end the connection (Quit, core/Slots.h); the thread then closes
// its sockets and detaches from the slot as its last act on any record. A slot
// is taken again only after its previous thread has detached, so a finishing
// thread never writes into a newer connection's record.
#pragma once

#include "platform/Address.h"

// Takes a slot for an accepted socket of Server[serverIndex] and starts its
// thread. Returns the slot index, or -1 when the connection was refused (every
// slot busy, or no thread); the socket is then answered and closed.
int CreateConnection(int serverIndex, int socket, const NetAddress& peer = NetAddress{});

// Answers an accepted socket that cannot be served with the refusal line and closes it.
void RefuseConnection(int socket);

// A connection relayed by a trusted load balancer, once its PROXY header has
// named the client: the address checks a direct connection meets at accept,
// now for the client; the slot shows its address. False, after the refusal
// was sent, when the client is turned away.
bool AdmitRelayedClient(int slot, int socket, const NetAddress& client);

// Shutdown: ends every connection and waits until every connection thread has
// ended. No new connection may arrive any more (listeners stopped first).
void EndAllConnections();
