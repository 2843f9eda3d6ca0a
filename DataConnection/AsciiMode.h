// TYPE A: files are stored with LF line ends and travel with CR LF (RFC 959).
// Both conversions work piece by piece, carrying a CR across pieces.
#pragma once

#include <cstddef>

// For sending: every LF not already preceded by a CR gets one. `out` has room
// for twice `length`; *lastWasCr carries the previous piece's last byte.
size_t ToNetworkAscii(const char* in, size_t length, char* out, bool* lastWasCr);

// For storing: CR LF becomes LF; any other CR stays. A CR that ends a piece is
// held in *pendingCr until the next byte shows what it is (at the end of the
// data, write a held CR as it is). `out` has room for `length` + 1.
size_t FromNetworkAscii(const char* in, size_t length, char* out, bool* pendingCr);
