#pragma once
// What the one-echo facility and the sweep share: opening an ICMP socket, the echo options, and
// reading one answer or error off the socket in a form both can match.

#include "platform/Clock.h"
#include "platform/IcmpEcho.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace corvane::platform {

inline constexpr std::size_t icmp_header_size = 8;
// Room for any datagram the socket can hand us.
inline constexpr std::size_t icmp_receive_room = 65536 + 512;

// Microseconds on the monotonic clock: when echoes left, waits and deadlines.
inline std::int64_t monotonic_us()
{
    return monotonic_ns() / 1000;
}

// A wait of us microseconds for ppoll, exact rather than rounded up to whole milliseconds; none when
// us is not positive.
timespec wait_timespec(std::int64_t us);

struct icmp_socket
{
    int fd = -1;
    icmp_echo_handle::socket_kind kind = icmp_echo_handle::socket_kind::none;
    std::uint16_t ident = 0; // the identifier the requests carry
    std::string failure_text; // why no socket opened
};

// The datagram socket first (no privilege needed), then the raw one. fd -1 and the reasons when neither opens.
icmp_socket open_icmp_socket();

// IP status for the errno of a failed send.
std::uint32_t send_errno_status(int err);

// Sets TTL, TOS and the don't-fragment bit of the echo. 0, bad_option for TTL 0 (Linux refuses it),
// or general_failure with failure_text set.
std::uint32_t apply_echo_options(int fd, const TIpOptionInfo* options, std::string& failure_text);

// Header and checksum in front of size bytes of data; the checksum only for raw sockets (the
// kernel writes it, and the identifier, on datagram ones).
std::vector<unsigned char> echo_request_packet(std::uint16_t ident, std::uint16_t sequence, const void* data,
                                               std::uint16_t size, bool raw);

struct icmp_message
{
    enum class type
    {
        other, // not an answer to an echo: skip it
        reply,
        error
    };
    type what = type::other;
    std::uint16_t ident = 0;    // of the reply, or of the request an error quotes
    std::uint16_t sequence = 0;
    std::uint32_t from = 0;     // network order: who replied, or who reported the error
    std::uint32_t destination = 0; // errors: where the echo they quote was sent (network order)
    std::uint32_t status = 0;   // errors: the IP status
    std::uint8_t ttl = 0, tos = 0, flags = 0; // of the packet that came (not set for queued errors)
    std::size_t data_at = 0, data_len = 0;    // echoed data inside the buffer
    std::int64_t stamp_us = -1; // kernel receive time (CLOCK_REALTIME, SO_TIMESTAMPNS), -1 when not given
};

// One entry of a datagram socket's error queue (IP_RECVERR). False when the queue gave nothing.
bool read_icmp_error_queue(int fd, std::vector<unsigned char>& buf, icmp_message& m);
// One packet waiting on the socket. False when nothing could be read.
bool read_icmp_packet(int fd, bool raw, std::vector<unsigned char>& buf, icmp_message& m);

// A reply or error carrying the identifier and sequence of the echo.
bool is_answer_to(const icmp_message& m, std::uint16_t ident, std::uint16_t sequence);

// The one-echo record of an answer read into buf: address, round trip, IP options of the packet,
// and for a reply the size of the echoed data, cut to data_room, and the data itself unless data_out
// is null. The answer's IP status.
std::uint32_t fill_echo_record(const icmp_message& m, const std::vector<unsigned char>& buf,
                               std::uint32_t round_trip_ms, TIcmpEchoReply& record, unsigned char* data_out,
                               std::uint32_t data_room);

} // namespace corvane::platform
