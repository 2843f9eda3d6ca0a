// Ending connections. Any thread may end a connection with Quit: under
// SlotLock it returns the counts, marks the slot free and shuts the control
// connection down, which wakes the connection's thread out of whatever it
// waits in; that thread closes its sockets itself. Taking slots and running
// their threads is the work of Connection/ConnectionThreads.h.
#pragma once

#include <cstdint>

constexpr uint32_t AnyGeneration = 0;

// Ends the connection in a slot. With a generation, only that connection of the
// slot is ended: a late call from a finished thread never ends a newer one.
void Quit(int slot, uint32_t generation = AnyGeneration);

// The same for a connection silent too long. With goodbye, the thread is
// woken with its sending side still open, and the record's TimedOut tells it
// to say why before it closes.
void QuitForSilence(int slot, uint32_t generation, bool goodbye);

// The same, from the connection's own thread, which has nothing to be woken
// from: the control connection stays open for the thread to close (after TLS's
// closing alert).
void QuitOwn(int slot, uint32_t generation);

// Ends every connection in use ("clear", and the first step of shutdown).
void QuitEveryConnection();

// The slot's current generation (which connection it serves).
uint32_t SlotGeneration(int slot);
