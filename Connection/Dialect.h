// The two dialects the server speaks: the one it always has, and the one of
// --extensions. Where they differ by a text or a rule, this table says which,
// chosen once at start; a handler reads as one behaviour. (Which commands
// each dialect knows is in the command table.)
#pragma once

#include <cstdint>

#include "Connection/Replies.h"
#include "FileSystem/Listing.h"

enum class TransferType : uint8_t { Binary, Ascii };

struct Dialect {
    bool Extended;              // the extensions' commands are known (CommandTable.h)
    Replies::Text System;       // SYST's reply
    Replies::Text TooManyUsers;  // the refusal of a connection past the limits
    Replies::Text ListOutside;   // LIST of a path above the root, or too long
    ListingStyle List;          // LIST's lines
    TransferType FirstType;     // the representation type a session starts in
    bool QuotesPaths;           // 257 and 250 replies double the quotes in a path (RFC 959)
    bool NormalisesCwd;         // CWD resolves "." and ".." (and an empty path is the root)
    bool ChecksType;            // TYPE checks its argument, rather than acknowledging any
    bool ListsOnlyWhatExists;   // a listing of nothing is an error; MLSD lists directories only
    bool HearsDuringTransfer;   // ABOR, STAT and NOOP are heard while a transfer runs
    bool PortRules;             // PORT and PASV are IPv4 only, and EPSV ALL binds
    bool DualStack;             // listeners take IPv6 and IPv4 on one socket
};

// The dialect of this run (from --extensions).
const Dialect& Spoken();
