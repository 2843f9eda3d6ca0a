// Connection slots and the two ways anything is written to a socket.
//
// Who owns what: a slot is taken by a listener (CreateConnection) and served by
// one connection thread, which alone uses and closes the slot's sockets. Any
// thread may end the connection with Quit: under SlotLock it returns the counts,
// marks the slot free and fires the thread's wake event, and the thread, woken
// out of whatever it waits in, closes its sockets and detaches from the slot as
// its last act on any record. A slot is taken again only after its previous
// thread has detached, so a finishing thread never writes into a newer
// connection's record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

constexpr uint32_t AnyGeneration = 0;

// Takes a slot for an accepted socket of Server[serverIndex] and starts its
// thread. Returns the slot index, or -1 when the connection was refused (every
// slot busy, or no thread); the socket is then answered and closed.
int CreateConnection(int serverIndex, int socket);

// Ends the connection in a slot. With a generation, only that connection of the
// slot is ended: a late call from a finished thread never ends a newer one.
void Quit(int slot, uint32_t generation = AnyGeneration);

// Sends a text whole, echoing it on the console first. wakeFd as in Net.h.
// (File contents go out with the kernel's sendfile, without an echo.)
bool Send(int socket, std::string_view text, int wakeFd = -1);

// The slot's current generation (which connection it serves).
uint32_t SlotGeneration(int slot);

// Answers an accepted socket that cannot be served with the refusal line and closes it.
void RefuseConnection(int socket);

// Shutdown: ends every connection and waits until every connection thread has
// ended. No new connection may arrive any more (listeners stopped first).
void EndAllConnections();
