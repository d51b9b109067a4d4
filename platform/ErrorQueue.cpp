#include "platform/ErrorQueue.h"

#include <sys/socket.h>

#include <cstring>

namespace corvane::platform {

int read_error_queue(int fd, const std::function<void(const TQueuedError&)>& each, int limit)
{
    int read = 0;
    for (; read < limit; ++read) {
        sockaddr_in to {};
        alignas(cmsghdr) std::uint8_t control[256];
        std::uint8_t payload[64];
        iovec iov {payload, sizeof payload};
        msghdr msg {};
        msg.msg_name = &to;
        msg.msg_namelen = sizeof to;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        if (::recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
            break;
        if (to.sin_family != AF_INET)
            continue;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR
                || c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
                continue;
            TQueuedError e;
            e.destination = to.sin_addr.s_addr;
            // Copied, not cast: the control buffer promises no alignment for the record.
            std::memcpy(&e.error, CMSG_DATA(c), sizeof e.error);
            if (c->cmsg_len >= CMSG_LEN(sizeof e.error + sizeof(sockaddr_in))) {
                sockaddr_in offender {};
                std::memcpy(&offender, CMSG_DATA(c) + sizeof e.error, sizeof offender);
                if (offender.sin_family == AF_INET)
                    e.offender = offender;
            }
            each(e);
        }
    }
    return read;
}

} // namespace corvane::platform
