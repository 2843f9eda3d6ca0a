// A file or socket descriptor that closes itself: every descriptor the server
// opens is held by one of these, so that no path out of a function leaks one.
#pragma once

#include <utility>

void DescriptorClose(int fd);  // ignores -1

class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(other.Release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { DescriptorClose(fd_); }

    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int Release() { return std::exchange(fd_, -1); }
    void Reset(int fd = -1) { DescriptorClose(std::exchange(fd_, fd)); }

private:
    int fd_ = -1;
};
