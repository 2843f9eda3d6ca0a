#include "platform/Net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Waits until fd is ready for the given poll events (or, with none, hangs
// up), the wake event fires or the watched descriptor turns readable or hangs
// up: Ok when ready, Woken, Interrupted, TimedOut or Failed.
NetStatus WaitFor(int fd, short events, NetWaits waits) {
    for (;;) {
        short watched = waits.WatchInput ? POLLIN : 0;  // hang-ups and errors are reported regardless
        pollfd polled[3] = {{fd, events, 0}, {waits.Wake, POLLIN, 0}, {waits.Watch, watched, 0}};
        int timeout = -1;
        if (waits.Deadline != 0) {
            int64_t left = waits.Deadline - MonotonicMilliseconds();
            timeout = left > 0 ? static_cast<int>(left) : 0;  // past it, one look at what is ready
        }
        int ready = poll(polled, 3, timeout);  // a negative descriptor is left out by poll itself
        if (ready == 0) return NetStatus::TimedOut;
        if (ready < 0) {
            if (errno == EINTR) continue;
            return NetStatus::Failed;
        }
        if (polled[1].revents & POLLIN) return NetStatus::Woken;
        if (polled[2].revents != 0) return NetStatus::Interrupted;
        if (polled[0].revents != 0) return NetStatus::Ok;  // ready, or an error the next call reports
    }
}

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

NetResult Failure(NetStatus status, int error = errno) { return NetResult{status, 0, error}; }

// The socket address of a NetAddress, and its length.
socklen_t ToSockaddr(const NetAddress& address, sockaddr_storage* storage) {
    std::memset(storage, 0, sizeof *storage);
    if (address.IsIPv6()) {
        auto* six = reinterpret_cast<sockaddr_in6*>(storage);
        six->sin6_family = AF_INET6;
        std::memcpy(&six->sin6_addr, address.Bytes, 16);
        six->sin6_port = htons(address.Port);
        return sizeof *six;
    }
    auto* four = reinterpret_cast<sockaddr_in*>(storage);
    four->sin_family = AF_INET;
    std::memcpy(&four->sin_addr, address.Bytes, 4);
    four->sin_port = htons(address.Port);
    return sizeof *four;
}

bool FromSockaddr(const sockaddr_storage& storage, NetAddress* address) {
    NetAddress result;
    if (storage.ss_family == AF_INET) {
        const auto& four = reinterpret_cast<const sockaddr_in&>(storage);
        result.Family = AddressFamily::IPv4;
        std::memcpy(result.Bytes, &four.sin_addr, 4);
        result.Port = ntohs(four.sin_port);
    } else if (storage.ss_family == AF_INET6) {
        const auto& six = reinterpret_cast<const sockaddr_in6&>(storage);
        result.Family = AddressFamily::IPv6;
        std::memcpy(result.Bytes, &six.sin6_addr, 16);
        result.Port = ntohs(six.sin6_port);
    } else {
        return false;
    }
    *address = result;
    return true;
}

NetStatus BindOrListenStatus(bool done) {
    if (done) return NetStatus::Ok;
    return errno == EADDRINUSE ? NetStatus::AddressInUse : NetStatus::Failed;
}

}  // namespace

int64_t MonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void DescriptorClose(int fd) {
    if (fd >= 0) close(fd);  // not retried on EINTR: Linux has released the descriptor already
}

Descriptor NetTcpSocket(AddressFamily family) {
    int domain = family == AddressFamily::IPv6 ? AF_INET6 : AF_INET;
    return Descriptor(socket(domain, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
}

void NetEphemeralPorts(uint16_t* low, uint16_t* high) {
    static const std::pair<uint16_t, uint16_t> range = [] {
        unsigned first = 32768, last = 60999;  // Linux's default
        if (FILE* file = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
            unsigned a = 0, b = 0;
            if (std::fscanf(file, "%u %u", &a, &b) == 2 && a >= 1024 && a <= b && b <= 65535) first = a, last = b;
            std::fclose(file);
        }
        return std::pair<uint16_t, uint16_t>(static_cast<uint16_t>(first), static_cast<uint16_t>(last));
    }();
    *low = range.first;
    *high = range.second;
}

bool NetSetReuseAddress(int fd) {
    int on = 1;
    return setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool NetSetDualStack(int fd) {
    int off = 0;
    return setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) == 0;
}

NetStatus NetBind(int fd, const NetAddress& local) {
    sockaddr_storage storage;
    socklen_t length = ToSockaddr(local, &storage);
    return BindOrListenStatus(bind(fd, reinterpret_cast<sockaddr*>(&storage), length) == 0);
}

NetStatus NetListen(int fd, int backlog) { return BindOrListenStatus(listen(fd, backlog) == 0); }

void NetUrgentInline(int fd) {
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_OOBINLINE, &on, sizeof on);
}

void NetSendWithoutDelay(int fd) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

NetStatus NetAccept(int listenFd, NetWaits waits, Descriptor* accepted, NetAddress* peer, bool blocking) {
    for (;;) {
        sockaddr_storage remote{};
        socklen_t length = sizeof remote;
        int flags = blocking ? SOCK_CLOEXEC : SOCK_NONBLOCK | SOCK_CLOEXEC;
        int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&remote), &length, flags);
        if (fd >= 0) {
            accepted->Reset(fd);
            if (peer != nullptr && !FromSockaddr(remote, peer)) *peer = NetAddress{};
            return NetStatus::Ok;
        }
        switch (errno) {
            case EINTR:
            // The connection failed before it was taken (Linux reports the
            // network's errors of a pending connection here): the next one.
            case ECONNABORTED: case EPROTO: case ENETDOWN: case ENOPROTOOPT: case EHOSTDOWN:
            case ENONET: case EHOSTUNREACH: case EOPNOTSUPP: case ENETUNREACH: case EPERM:
                continue;
            case EMFILE: case ENFILE: case ENOBUFS: case ENOMEM: return NetStatus::Exhausted;
            default: break;
        }
        if (!WouldBlock(errno)) return NetStatus::Failed;
        NetStatus waited = WaitFor(listenFd, POLLIN, waits);
        if (waited != NetStatus::Ok) return waited;
    }
}

NetStatus NetConnect(const NetAddress& remote, NetWaits waits, Descriptor* connected) {
    Descriptor socket = NetTcpSocket(remote.Family);
    if (!socket.IsOpen()) return NetStatus::Failed;
    sockaddr_storage storage;
    socklen_t length = ToSockaddr(remote, &storage);
    bool done = connect(socket.Get(), reinterpret_cast<sockaddr*>(&storage), length) == 0;
    if (!done && errno != EINPROGRESS && errno != EINTR) return NetStatus::Failed;
    *connected = std::move(socket);
    if (done) return NetStatus::Ok;
    NetStatus status = NetFinishConnect(connected->Get(), waits);
    if (status != NetStatus::Ok && status != NetStatus::Interrupted) connected->Reset();
    return status;
}

NetStatus NetFinishConnect(int fd, NetWaits waits) {
    NetStatus waited = WaitFor(fd, POLLOUT, waits);
    if (waited != NetStatus::Ok) return waited;
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) return NetStatus::Failed;
    return NetStatus::Ok;
}

NetStatus NetWaitReadable(int fd, NetWaits waits) { return WaitFor(fd, POLLIN, waits); }

NetStatus NetWaitWritable(int fd, NetWaits waits) { return WaitFor(fd, POLLOUT, waits); }

NetResult NetReceive(int fd, void* buffer, size_t size, NetWaits waits) {
    for (;;) {
        ssize_t got = recv(fd, buffer, size, 0);
        if (got > 0) return NetResult{NetStatus::Ok, static_cast<size_t>(got), 0};
        if (got == 0) return NetResult{NetStatus::Ended, 0, 0};
        if (errno == EINTR) continue;
        if (!WouldBlock(errno)) return Failure(NetStatus::Failed);
        NetStatus waited = WaitFor(fd, POLLIN, waits);
        if (waited != NetStatus::Ok) return Failure(waited, 0);
    }
}

NetResult NetSendAll(int fd, const void* data, size_t length, NetWaits waits) {
    const char* next = static_cast<const char*>(data);
    size_t total = length;
    while (length > 0) {
        ssize_t sent = send(fd, next, length, MSG_NOSIGNAL);
        if (sent >= 0) {
            next += sent;
            length -= static_cast<size_t>(sent);
            continue;
        }
        if (errno == EINTR) continue;
        if (!WouldBlock(errno)) return NetResult{NetStatus::Failed, total - length, errno};
        NetStatus waited = WaitFor(fd, POLLOUT, waits);
        if (waited != NetStatus::Ok) return NetResult{waited, total - length, 0};
    }
    return NetResult{NetStatus::Ok, total, 0};
}

NetResult NetSendFile(int socketFd, int fileFd, int64_t* offset, size_t count, NetWaits waits) {
    constexpr size_t largestStep = 0x7ffff000;  // what one sendfile call moves at most
    if (count > largestStep) count = largestStep;
    for (;;) {
        off_t position = static_cast<off_t>(*offset);
        ssize_t moved = sendfile(socketFd, fileFd, &position, count);
        if (moved > 0) {
            *offset = position;
            return NetResult{NetStatus::Ok, static_cast<size_t>(moved), 0};
        }
        if (moved == 0) return NetResult{NetStatus::Ended, 0, 0};
        if (errno == EINTR) continue;
        if (WouldBlock(errno)) {
            NetStatus waited = WaitFor(socketFd, POLLOUT, waits);
            if (waited != NetStatus::Ok) return Failure(waited, 0);
            continue;
        }
        if (errno == EIO || errno == EINVAL || errno == EOVERFLOW || errno == ENOMEM)
            return Failure(NetStatus::FileFailed);
        return Failure(NetStatus::Failed);
    }
}

bool NetLocalAddress(int fd, NetAddress* address) {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    return getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 && FromSockaddr(local, address);
}

void NetShutdownReceive(int fd) { shutdown(fd, SHUT_RD); }

void NetShutdown(int fd) { shutdown(fd, SHUT_RDWR); }

bool NetWaitHangUp(int fd, int timeoutMs) {
    int64_t deadline = MonotonicMilliseconds() + timeoutMs;
    return WaitFor(fd, POLLRDHUP, NetWaits(-1, -1, deadline)) == NetStatus::Ok;
}

void NetHostName(char* name, size_t size) {
    if (size == 0) return;
    if (gethostname(name, size) != 0) name[0] = '\0';
    name[size - 1] = '\0';
}

bool NetHostAddress(const char* name, NetAddress* address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return false;
    sockaddr_storage storage{};
    std::memcpy(&storage, found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);
    return FromSockaddr(storage, address);
}

NetResult NetReceiveIntoFile(int socketFd, int fileFd, SplicePipe& pipe, NetWaits waits) {
    constexpr int PipeSize = 1 << 20;  // the most one step moves
    if (!pipe.Read.IsOpen()) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return Failure(NetStatus::Unsupported);
        pipe.Read.Reset(ends[0]);
        pipe.Write.Reset(ends[1]);
        fcntl(pipe.Write.Get(), F_SETPIPE_SZ, PipeSize);  // a smaller pipe only means smaller steps
    }
    ssize_t got;
    for (;;) {
        got = splice(socketFd, nullptr, pipe.Write.Get(), nullptr, PipeSize, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (got >= 0) break;
        if (errno == EINTR) continue;
        if (errno == EINVAL) return Failure(NetStatus::Unsupported);
        if (!WouldBlock(errno)) return Failure(NetStatus::Failed);
        NetStatus waited = WaitFor(socketFd, POLLIN, waits);  // the pipe is empty: the socket has nothing yet
        if (waited != NetStatus::Ok) return Failure(waited, 0);
    }
    if (got == 0) return NetResult{NetStatus::Ended, 0, 0};
    for (size_t left = static_cast<size_t>(got); left > 0;) {
        ssize_t put = splice(pipe.Read.Get(), nullptr, fileFd, nullptr, left, SPLICE_F_MOVE);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            int error = put < 0 ? errno : 0;
            pipe.Read.Reset();  // what is left in it is lost with it
            pipe.Write.Reset();
            return Failure(NetStatus::FileFailed, error);
        }
        left -= static_cast<size_t>(put);
    }
    return NetResult{NetStatus::Ok, static_cast<size_t>(got), 0};
}
