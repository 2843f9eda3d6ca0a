#include "platform/Net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

thread_local bool lastBindFoundPortTaken = false;

// Waits until fd is ready for the given poll events or the wake event fires.
// Returns 0 when ready, NetWoken, or NetFailed.
long WaitFor(int fd, short events, int wakeFd) {
    for (;;) {
        pollfd waits[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        int count = wakeFd >= 0 ? 2 : 1;
        int ready = poll(waits, count, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return NetFailed;
        }
        if (count == 2 && (waits[1].revents & POLLIN)) return NetWoken;
        if (waits[0].revents != 0) return 0;  // ready, or an error the next call reports
    }
}

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = address;
    result.sin_port = htons(port);
    return result;
}

}  // namespace

int NetTcpSocket() { return socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP); }

bool NetSetReuseAddress(int fd) {
    int on = 1;
    return setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool NetBind(int fd, uint32_t address, uint16_t port) {
    sockaddr_in local = MakeAddress(address, port);
    bool bound = bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    lastBindFoundPortTaken = !bound && errno == EADDRINUSE;
    return bound;
}

bool NetListen(int fd, int backlog) {
    bool listening = listen(fd, backlog) == 0;
    lastBindFoundPortTaken = !listening && errno == EADDRINUSE;
    return listening;
}

bool NetAddressInUse() { return lastBindFoundPortTaken; }

void NetSendWithoutDelay(int fd) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

long NetAccept(int listenFd, uint32_t* peer, int wakeFd) {
    for (;;) {
        sockaddr_in remote{};
        socklen_t length = sizeof remote;
        int fd = accept4(listenFd, reinterpret_cast<sockaddr*>(&remote), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            if (peer != nullptr) *peer = remote.sin_addr.s_addr;
            return fd;
        }
        if (errno == EINTR) continue;
        if (!WouldBlock(errno)) return NetFailed;
        long waited = WaitFor(listenFd, POLLIN, wakeFd);
        if (waited != 0) return waited;
    }
}

long NetConnect(uint32_t address, uint16_t port, int wakeFd) {
    int fd = NetTcpSocket();
    if (fd < 0) return NetFailed;
    sockaddr_in remote = MakeAddress(address, port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0) return fd;
    if (errno != EINPROGRESS && errno != EINTR) {
        close(fd);
        return NetFailed;
    }
    long waited = WaitFor(fd, POLLOUT, wakeFd);
    int error = 0;
    socklen_t length = sizeof error;
    if (waited == 0 && (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0))
        waited = NetFailed;
    if (waited != 0) {
        close(fd);
        return waited;
    }
    return fd;
}

long NetReceive(int fd, void* buffer, size_t size, int wakeFd) {
    for (;;) {
        ssize_t got = recv(fd, buffer, size, 0);
        if (got >= 0) return got;
        if (errno == EINTR) continue;
        if (!WouldBlock(errno)) return NetFailed;
        long waited = WaitFor(fd, POLLIN, wakeFd);
        if (waited != 0) return waited;
    }
}

bool NetSendAll(int fd, const void* data, size_t length, int wakeFd) {
    const char* next = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t sent = send(fd, next, length, MSG_NOSIGNAL);
        if (sent >= 0) {
            next += sent;
            length -= static_cast<size_t>(sent);
            continue;
        }
        if (errno == EINTR) continue;
        if (!WouldBlock(errno) || WaitFor(fd, POLLOUT, wakeFd) != 0) return false;
    }
    return true;
}

long NetSendFile(int socketFd, int fileFd, int64_t* offset, size_t count, int wakeFd) {
    constexpr size_t largestStep = 0x7ffff000;  // what one sendfile call moves at most
    if (count > largestStep) count = largestStep;
    for (;;) {
        off_t position = static_cast<off_t>(*offset);
        ssize_t moved = sendfile(socketFd, fileFd, &position, count);
        if (moved >= 0) {
            *offset = position;
            return moved;
        }
        if (errno == EINTR) continue;
        if (WouldBlock(errno)) {
            long waited = WaitFor(socketFd, POLLOUT, wakeFd);
            if (waited != 0) return waited;
            continue;
        }
        if (errno == EIO || errno == EINVAL || errno == EOVERFLOW || errno == ENOMEM) return NetFileFailed;
        return NetFailed;
    }
}

bool NetLocalAddress(int fd, uint32_t* address, uint16_t* port) {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 || local.sin_family != AF_INET)
        return false;
    *address = local.sin_addr.s_addr;
    *port = ntohs(local.sin_port);
    return true;
}

bool NetPeerAddress(int fd, uint32_t* address, uint16_t* port) {
    sockaddr_in remote{};
    socklen_t length = sizeof remote;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &length) != 0 || remote.sin_family != AF_INET)
        return false;
    *address = remote.sin_addr.s_addr;
    *port = ntohs(remote.sin_port);
    return true;
}

void NetShutdownReceive(int fd) { shutdown(fd, SHUT_RD); }

void NetClose(int fd) {
    if (fd >= 0) close(fd);  // not retried on EINTR: Linux has released the descriptor already
}

void NetHostName(char* name, size_t size) {
    if (size == 0) return;
    if (gethostname(name, size) != 0) name[0] = '\0';
    name[size - 1] = '\0';
}

bool NetHostAddress(const char* name, uint32_t* address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return false;
    *address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return true;
}

bool NetParseAddress(const char* dotted, uint32_t* address) {
    in_addr parsed{};
    if (inet_pton(AF_INET, dotted, &parsed) != 1) return false;
    *address = parsed.s_addr;
    return true;
}

void NetClosePipe(int (&pipeFds)[2]) {
    for (int& fd : pipeFds) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

long NetReceiveIntoFile(int socketFd, int fileFd, int (&pipeFds)[2], int wakeFd) {
    constexpr int PipeSize = 1 << 20;  // the most one step moves
    if (pipeFds[0] < 0) {
        if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return NetSpliceUnsupported;
        fcntl(pipeFds[1], F_SETPIPE_SZ, PipeSize);  // a smaller pipe only means smaller steps
    }
    ssize_t got;
    for (;;) {
        got = splice(socketFd, nullptr, pipeFds[1], nullptr, PipeSize, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (got >= 0) break;
        if (errno == EINTR) continue;
        if (errno == EINVAL) return NetSpliceUnsupported;
        if (!WouldBlock(errno)) return NetFailed;
        long waited = WaitFor(socketFd, POLLIN, wakeFd);  // the pipe is empty: the socket has nothing yet
        if (waited != 0) return waited;
    }
    for (size_t left = static_cast<size_t>(got); left > 0;) {
        ssize_t put = splice(pipeFds[0], nullptr, fileFd, nullptr, left, SPLICE_F_MOVE);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            NetClosePipe(pipeFds);  // what is left in it is lost with it
            return NetFileFailed;
        }
        left -= static_cast<size_t>(put);
    }
    return got;
}
