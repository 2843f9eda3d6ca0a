// The data connection's mechanics: active (the server connects to where PORT
// said) or passive (the client connects to the port PASV announced). The
// commands that set these up live with the other handlers in Connection/.
#pragma once

#include <cstdint>

#include "platform/Address.h"
#include "platform/Descriptor.h"

// How the next transfer's data connection is made, as PORT or PASV left it.
struct DataEndpoint {
    bool Passive = false;
    Descriptor Listener;      // after PASV, until a transfer takes it
    NetAddress ActiveTarget;  // after PORT; no family before the first PORT
};

// Parses a PORT argument: six numbers 0..255 separated by commas, each an
// optionally signed decimal with blanks allowed before it, blanks allowed at
// the end. False for anything else.
bool ParsePortArgument(const char* argument, uint8_t (&numbers)[6]);

enum class PassiveStatus : uint8_t { Ok, CreateFailed, BindFailed, ListenFailed };

// Opens a passive listener on a port the system picks, for the family of the
// control connection's local address; its port goes to *port.
PassiveStatus OpenPassiveListener(const NetAddress& local, Descriptor* listener, uint16_t* port);

// Makes the data connection for a transfer: connects to the active target, or
// accepts on the passive listener (which it then closes) a connection from
// the control connection's peer only. False when none could be made; waits
// end at once when the wake event fires.
bool ConnectDataSocket(DataEndpoint& endpoint, const NetAddress& peer, int wakeFd, Descriptor* data);
