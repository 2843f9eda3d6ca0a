// The data connection's mechanics: active (the server connects to where PORT
// said) or passive (the client connects to the port PASV announced). The
// commands that set these up live with the other handlers in Connection/.
#pragma once

#include <cstdint>

#include "platform/Address.h"
#include "platform/Descriptor.h"
#include "platform/Net.h"

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

// Parses REST's offset: decimal digits only, at most a 63-bit number.
bool ParseRestOffset(const char* argument, int64_t* offset);

// Parses an EPRT argument (RFC 2428): a delimiter, the family (1 or 2), the
// address, the port, each ended by the delimiter, such as "|1|10.0.0.1|6000|".
enum class EprtStatus : uint8_t { Ok, Malformed, UnknownFamily };
EprtStatus ParseEprtArgument(const char* argument, NetAddress* target);

enum class PassiveStatus : uint8_t { Ok, CreateFailed, BindFailed, ListenFailed };

// Opens a passive listener on the control connection's local address
// (localOnly), or on every address of its family (a data connection may
// arrive on another local address behind NAT or a proxy), on a port the
// system picks or, with a range (low > 0), on the first free port of the
// range from a random start, each tried once (BindFailed when every one is
// taken); its port goes to *port.
PassiveStatus OpenPassiveListener(const NetAddress& local, bool localOnly, uint16_t low, uint16_t high,
                                  Descriptor* listener, uint16_t* port);

enum class DataStatus : uint8_t { Connected, Failed, Interrupted };

// Makes the data connection for a transfer: connects to the active target, or
// accepts on the passive listener (which it then closes) a connection from
// the control connection's peer only. Failed when none could be made;
// Interrupted when the watched descriptor (the control connection) turned
// readable or hung up first: call again, with *data as it was left, to go on
// waiting.
DataStatus ConnectDataSocket(DataEndpoint& endpoint, const NetAddress& peer, NetWaits waits, Descriptor* data);
