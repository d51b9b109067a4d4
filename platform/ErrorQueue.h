#pragma once
// Reading a UDP socket's error queue (IP_RECVERR): the ICMP errors earlier datagrams met, each with
// the destination it was sent to. The node-status scan and the name queries both end addresses on them.

#include <ctime> // linux/errqueue.h needs timespec declared first
#include <linux/errqueue.h>
#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <optional>

namespace corvane::platform {

struct TQueuedError
{
    std::uint32_t destination = 0; // where the datagram went, network order
    sock_extended_err error {};
    std::optional<sockaddr_in> offender; // who sent the ICMP error, when the kernel says
    bool portUnreachable() const
    {
        return error.ee_origin == SO_EE_ORIGIN_ICMP && error.ee_type == 3 && error.ee_code == 3;
    }
    bool unreachable() const { return error.ee_origin == SO_EE_ORIGIN_ICMP && error.ee_type == 3; }
};

// Reads at most limit entries without waiting and hands each IPv4 one to each; the entries read.
int read_error_queue(int fd, const std::function<void(const TQueuedError&)>& each, int limit = 1024);

} // namespace corvane::platform
