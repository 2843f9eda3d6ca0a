// The data connection: active (the server connects to where PORT said) or
// passive (the client connects to the port PASV announced).
#pragma once

#include <cstdint>

struct Session;

// Parses a PORT argument: six numbers 0..255 separated by commas, blanks
// allowed before each number and at the end. False for anything else.
bool ParsePortArgument(const char* argument, uint8_t (&numbers)[6]);

// Makes the data connection for a transfer; true when the record's DataSocket
// holds a connected socket. Waits end at once when the connection is dropped.
bool ConnectDataSocket(Session& session);
