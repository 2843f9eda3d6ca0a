// The working storage of one connection thread, handed to every command
// handler, and the reply helpers the handlers use. Nothing here is read by
// another thread: what others see of a connection is in its ConnectionRecord.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "Connection/ControlInput.h"
#include "Connection/Dialect.h"
#include "DataConnection/DataConnection.h"
#include "FileSystem/Listing.h"
#include "FileSystem/Paths.h"
#include "core/Options.h"
#include "core/Records.h"
#include "platform/Beneath.h"
#include "platform/Channel.h"
#include "platform/Digest.h"
#include "platform/Net.h"

constexpr size_t ReplySize = 1024;
constexpr size_t TransferSize = 256 * 1024;  // TYPE A's conversion buffer
constexpr size_t ListingSize = 16 * 1024;    // a listing's piece, on the thread's stack
constexpr size_t RenameFromSize = 256;
constexpr size_t LaterLimit = 64 * 1024;  // lines held for after a transfer; past it, the client waits


// A byte range RANG gave: from Start to Last, both included.
struct ByteRange {
    bool Set = false;
    int64_t Start = 0, Last = 0;
};

struct Session {
    Session(int slot, uint32_t generation, Descriptor control, ConnectionRecord& record, const NetAddress& client)
        : Slot(slot), Generation(generation), Record(record), Client(client), Control(std::move(control)) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const int Slot;
    const uint32_t Generation;
    ConnectionRecord& Record;
    // The client's address and port as the connection was accepted: what the
    // logs name, even once the connection has gone.
    const NetAddress Client;

    Channel Control;   // the control connection
    ControlInput Input;  // what the client sent that has not been run yet
    Channel Data;      // the data connection of the transfer under way
    DataEndpoint Endpoint;  // how the next data connection is made
    bool EpsvAll = false;   // after EPSV ALL, only EPSV sets data connections up
    bool ProtectData = false;  // PROT P: data connections are TLS too
    bool DataSecured = false;  // the data connection's TLS handshake is done
    bool EarlyDataFailed = false;  // accepting before the command failed: wait for the command

    // With the extensions: the representation type (RFC 959 starts in ASCII),
    // the offset REST set for the next transfer, and the MLST facts chosen.
    TransferType Type = Spoken().FirstType;
    int64_t RestartOffset = 0;
    unsigned Facts = AllFacts;
    DigestKind HashKind = DigestKind::Sha256;  // OPTS HASH's choice
    ByteRange Range;     // RANG's, for the next command only
    ByteRange RangeNow;  // the range the running command was given

    // With the extensions, the command line being run, cut to fit, for the
    // transfer view; commands run during a transfer do not change it.
    char CommandText[128] = {};

    // The transfer under way, which STAT and ABOR see while it runs.
    bool Transferring = false;
    int64_t Moved = 0;
    bool AbortRequested = false;
    int64_t StartedAt = -1;  // when the file's bytes began to move (ms, steady clock); -1 before
    bool ControlEnded = false;  // the client closed its side of the control connection
    bool ControlFull = false;   // no room left for what the client sends during this transfer
    int64_t DataDeadline = 0;   // while the data connection is being made: when to give up
    uint64_t Rate = 0;          // the account's rate for this transfer, bytes per second (0: none)
    AccountPolicy* Charged = nullptr;  // the account whose quota this upload's bytes count against
    int64_t ChargedBytes = 0;          // what they have counted so far

    // The control connection's local address, learnt at its first PORT or
    // PASV (the client's is Client, known from the start).
    bool AddressesKnown = false;
    NetAddress LocalAddress;

    const char* Root = "";  // the account's root, set at login
    AccountPolicy* Policy = nullptr;  // its settings, set at login; null: every right
    int64_t Allocated = -1;  // the size ALLO announced for the next upload; -1: none
    Descriptor RootFd;      // its directory, opened by the first command that needs it
    char UserName[64] = {};  // as USER named it, for the login log
    int LoginFailures = 0;   // wrong names or passwords on this connection
    char RenameFrom[RenameFromSize] = {};  // RNFR's name, empty when none
    char Reply[ReplySize] = {};

    // The buffer TYPE A transfers convert line ends in, made by the transfer
    // that needs it and given back when the transfer ends. (Binary transfers
    // move through the data connection's Channel.)
    std::unique_ptr<char[]> TransferBuffer;

    char* Transfer() {
        if (!TransferBuffer) TransferBuffer.reset(new char[TransferSize]);
        return TransferBuffer.get();
    }
    // Whether the slot still serves this connection: once another thread
    // ended it, nothing more goes out on it.
    bool Serving() const { return Record.InUsed.load() != 0; }
    // The root's directory descriptor, -1 when it cannot be opened (tried
    // again at the next command).
    int RootDirectory() {
        if (!RootFd.IsOpen()) RootFd = RootOpen(Root);
        return RootFd.Get();
    }
    // How this connection's listings look: the style, the MLST facts chosen,
    // the account's rights in the perm fact, its hidden and denied names left out.
    ListingFormat ListingIn(ListingStyle style) const;
    // Sets the account's root at a login.
    void SetRoot(const char* root) {
        Root = root;
        RootFd.Reset();
    }
    // The most a transfer step moves at once: under a rate, one buffer, so
    // that a burst is never more than that.
    size_t Piece(size_t wanted) const { return Rate == 0 ? wanted : std::min(wanted, TransferSize); }
    // Whether a transfer listens to the control connection for commands:
    // while there is room for them, and until the client closed its side.
    bool HearsCommands() const { return !ControlEnded && !ControlFull && Input.LaterBytes < LaterLimit; }
    // What a transfer's waits watch: the control connection, for its
    // hang-up (another thread dropping the connection shuts it down; a
    // client that reset it has gone) and, while it hears commands, for them,
    // so that with the extensions ABOR and STAT are heard during it.
    NetWaits TransferWaits() const { return NetWaits(-1, Control.Fd(), DataDeadline, HearsCommands()); }
};

// Sends a text on a channel whole, echoing it on the console first as
// ">>socket:text". On a connection that has been ended, nothing is sent and
// the send fails as on a closed socket.
bool Send(Session& session, Channel& channel, std::string_view text);

// Sends one reply on the control connection (a multi-line one in one write).
bool Reply(Session& session, std::string_view text);

// Sends prefix + middle + suffix; the middle (a client's argument, a
// directory, a configured text) is cut so that the whole fits the reply buffer.
bool ReplyWith(Session& session, std::string_view prefix, std::string_view middle, std::string_view suffix);

// Closes the data connection and any passive listener; the record shows none.
void CloseDataConnection(Session& session);

// Learns the control connection's local address once (it does not change);
// false when it or the client's address is unknown. An IPv4 client on a
// dual-stack listener is seen with its IPv4 address.
bool KnowAddresses(Session& session);

// The client's address as text, for logs and console lines.
struct ClientAddressText {
    char Text[64];
    explicit ClientAddressText(const Session& session);
};

// A text for a reply with every double quote doubled (RFC 959's way of
// quoting a path); cut to the reply buffer's room.
std::string_view QuotePath(std::string_view path, char (&buffer)[ReplySize]);

// A client's path as the file system takes it: its text (the account's root
// and the path below it, as the console shows it), and the path below the
// root, which is resolved beneath the root's directory. Not Valid when the
// name climbs above the root, does not fit, or the root cannot be opened.
struct ClientPath {
    char Text[PathSize];
    bool Built;  // the name stays below the root and fits
    Beneath Path;
    bool Valid;  // built, and the root is open
    ClientPath(Session& session, const char* argument);
};
