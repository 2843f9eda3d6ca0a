#include "platform/Channel.h"

#include <algorithm>

#include "platform/Files.h"

namespace {

constexpr size_t BufferSize = 256 * 1024;  // TLS writes whole records from it

}  // namespace

Channel& Channel::operator=(Channel&& other) noexcept {
    Close();
    socket_ = std::move(other.socket_);
    tls_ = std::move(other.tls_);
    buffer_ = std::move(other.buffer_);
    pendingFrom_ = other.pendingFrom_;
    pendingTo_ = other.pendingTo_;
    pipe_ = std::move(other.pipe_);
    spliceRefused_ = other.spliceRefused_;
    return *this;
}

char* Channel::Buffer() {
    if (!buffer_) buffer_.reset(new char[BufferSize]);
    return buffer_.get();
}

NetResult Channel::SendFile(int file, int64_t* offset, size_t count, NetWaits waits) {
    if (!tls_) return NetSendFile(Fd(), file, offset, count, waits);
    if (pendingFrom_ == pendingTo_) {
        int64_t got = FileReadAt(file, Buffer(), std::min(count, BufferSize), *offset);
        if (got < 0) return NetResult{NetStatus::FileFailed, 0, 0};
        if (got == 0) return NetResult{NetStatus::Ended, 0, 0};
        pendingFrom_ = 0;
        pendingTo_ = static_cast<size_t>(got);
    }
    // An interrupted TLS write must be retried with the same bytes: they stay
    // in the buffer until they have gone out.
    NetResult sent = tls_->WriteAll(Fd(), buffer_.get() + pendingFrom_, pendingTo_ - pendingFrom_, waits);
    pendingFrom_ += sent.Count;
    *offset += static_cast<int64_t>(sent.Count);
    return sent;
}

NetResult Channel::ReceiveIntoFile(int file, NetWaits waits) {
    if (!tls_ && !spliceRefused_) {
        NetResult got = NetReceiveIntoFile(Fd(), file, pipe_, waits);
        if (got.Status != NetStatus::Unsupported) return got;
        spliceRefused_ = true;  // nothing moved yet: on through the buffer
    }
    NetResult got = Read(Buffer(), BufferSize, waits);
    if (got.Ok() && !FileWriteAll(file, buffer_.get(), got.Count)) return NetResult{NetStatus::FileFailed, 0, 0};
    return got;
}

void Channel::Close() {
    if (tls_ && IsOpen()) tls_->Shutdown(Fd());
    tls_.reset();
    socket_.Reset();
    buffer_.reset();
    pendingFrom_ = pendingTo_ = 0;
    pipe_.Read.Reset();
    pipe_.Write.Reset();
    spliceRefused_ = false;
}
