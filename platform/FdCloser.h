#pragma once
// Owns a file descriptor: closed when the owner goes, unless released.

#include <unistd.h>

#include <utility>

namespace corvane::platform {

struct fd_closer
{
    int fd = -1;
    explicit fd_closer(int f) : fd(f) {}
    fd_closer(const fd_closer&) = delete;
    fd_closer& operator=(const fd_closer&) = delete;
    ~fd_closer()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

} // namespace corvane::platform
