// The working storage of one connection thread, handed to every command
// handler, and the reply helpers the handlers use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "core/Records.h"

constexpr size_t ReplySize = 1024;
constexpr size_t PathSize = 1024;       // a local path holds at most 1023 characters
constexpr size_t TransferSize = 256 * 1024;  // an upload's receive buffer
constexpr size_t ListingSize = 16 * 1024;    // a listing's piece, on the thread's stack

struct Session {
    int Slot;
    uint32_t Generation;
    int Socket;   // the control connection
    int WakeFd;   // fires when the connection is dropped
    ConnectionRecord& Record;
    char Reply[ReplySize] = {};

    Session(int slot, uint32_t generation, int socket, int wakeFd, ConnectionRecord& record)
        : Slot(slot), Generation(generation), Socket(socket), WakeFd(wakeFd), Record(record) {}
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session();
    // The control connection's two addresses, learnt at its first PORT or PASV.
    bool AddressesKnown = false;
    uint32_t PeerAddress = 0;
    uint32_t LocalAddress = 0;
    // The buffer uploads move bytes through when they cannot be spliced,
    // allocated at the first such upload and kept for the connection's life.
    std::unique_ptr<char[]> TransferBuffer;
    // The pipe uploads are spliced through, made at the first upload.
    int UploadPipe[2] = {-1, -1};

    char* Transfer() {
        if (!TransferBuffer) TransferBuffer.reset(new char[TransferSize]);
        return TransferBuffer.get();
    }
};

// Sends one reply line on the control connection.
bool Reply(Session& session, std::string_view text);

// Sends prefix + middle + suffix; the middle (a client's argument, a
// directory, a configured text) is cut so that the whole fits the reply buffer.
bool ReplyWith(Session& session, std::string_view prefix, std::string_view middle, std::string_view suffix);

// The data socket is closed by its owner thread only, here.
void CloseDataSocket(Session& session);
