// The working storage of one connection thread, handed to every command
// handler, and the reply helpers the handlers use. Nothing here is read by
// another thread: what others see of a connection is in its ConnectionRecord.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "DataConnection/DataConnection.h"
#include "FileSystem/Paths.h"
#include "core/Records.h"
#include "platform/Channel.h"
#include "platform/Net.h"

constexpr size_t ReplySize = 1024;
constexpr size_t TransferSize = 256 * 1024;  // an upload's receive buffer
constexpr size_t ListingSize = 16 * 1024;    // a listing's piece, on the thread's stack
constexpr size_t RenameFromSize = 256;

struct Session {
    Session(int slot, uint32_t generation, Descriptor control, int wakeFd, ConnectionRecord& record)
        : Slot(slot), Generation(generation), WakeFd(wakeFd), Record(record), Control(std::move(control)) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const int Slot;
    const uint32_t Generation;
    const int WakeFd;  // fires when the connection is dropped
    ConnectionRecord& Record;

    Channel Control;   // the control connection
    Channel Data;      // the data connection of the transfer under way
    DataEndpoint Endpoint;  // how the next data connection is made

    // The control connection's two addresses, learnt at its first PORT or PASV.
    bool AddressesKnown = false;
    NetAddress PeerAddress;
    NetAddress LocalAddress;

    const char* Root = "";  // the account's root, set at login
    char RenameFrom[RenameFromSize] = {};  // RNFR's name, empty when none
    char Reply[ReplySize] = {};

    // The buffer uploads move bytes through when they cannot be spliced,
    // allocated at the first such upload and kept for the connection's life.
    std::unique_ptr<char[]> TransferBuffer;
    // The pipe uploads are spliced through, made at the first upload.
    SplicePipe UploadPipe;

    char* Transfer() {
        if (!TransferBuffer) TransferBuffer.reset(new char[TransferSize]);
        return TransferBuffer.get();
    }
    // Whether the slot still serves this connection: once another thread
    // ended it, nothing more goes out on it.
    bool Serving() const { return Record.InUsed.load() != 0; }
};

// Sends a text on a channel whole, echoing it on the console first as
// ">>socket:text". On a connection that has been ended, nothing is sent and
// the send fails as on a closed socket.
bool Send(Session& session, Channel& channel, std::string_view text);

// Sends one reply line on the control connection.
bool Reply(Session& session, std::string_view text);

// Sends prefix + middle + suffix; the middle (a client's argument, a
// directory, a configured text) is cut so that the whole fits the reply buffer.
bool ReplyWith(Session& session, std::string_view prefix, std::string_view middle, std::string_view suffix);

// Closes the data connection and any passive listener; the record shows none.
void CloseDataConnection(Session& session);

// Learns the control connection's addresses once; they do not change.
bool KnowAddresses(Session& session);
