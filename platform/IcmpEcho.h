#pragma once
// ICMP echo facility: one echo request, one reply record, on ICMP datagram or raw sockets.

#include <cstdint>
#include <string>

// IP option record of the echo (8 bytes, 32-bit layout).
struct TIpOptionInfo
{
    std::uint8_t Ttl;
    std::uint8_t Tos;
    std::uint8_t Flags;
    std::uint8_t OptionsSize;
    std::uint32_t OptionsData; // a 32-bit pointer in the original layout; always 0 here
};
static_assert(sizeof(TIpOptionInfo) == 8, "TIpOptionInfo must keep its 8-byte layout");

// Echo reply record (28 bytes, 32-bit layout).
struct TIcmpEchoReply
{
    std::uint32_t Address;       // replying host, network order
    std::uint32_t Status;        // IP status, ip_status values
    std::uint32_t RoundTripTime; // milliseconds
    std::uint16_t DataSize;      // bytes of echoed data
    std::uint16_t Reserved;
    std::uint32_t Data; // a 32-bit pointer in the original layout; always 0 here
    TIpOptionInfo Options;
};
static_assert(sizeof(TIcmpEchoReply) == 28, "TIcmpEchoReply must keep its 28-byte layout");

namespace corvane::platform {

// IP status numbers as the Windows ICMP library reports them.
namespace ip_status {
inline constexpr std::uint32_t success = 0;
inline constexpr std::uint32_t buf_too_small = 11001;
inline constexpr std::uint32_t dest_net_unreachable = 11002;
inline constexpr std::uint32_t dest_host_unreachable = 11003;
inline constexpr std::uint32_t dest_prot_unreachable = 11004;
inline constexpr std::uint32_t dest_port_unreachable = 11005;
inline constexpr std::uint32_t no_resources = 11006;
inline constexpr std::uint32_t bad_option = 11007;
inline constexpr std::uint32_t packet_too_big = 11009;
inline constexpr std::uint32_t req_timed_out = 11010;
inline constexpr std::uint32_t bad_route = 11012;
inline constexpr std::uint32_t ttl_expired_transit = 11013;
inline constexpr std::uint32_t ttl_expired_reassem = 11014;
inline constexpr std::uint32_t param_problem = 11015;
inline constexpr std::uint32_t source_quench = 11016;
inline constexpr std::uint32_t bad_destination = 11018;
inline constexpr std::uint32_t general_failure = 11050;
} // namespace ip_status

// Don't-fragment bit of the IP flags byte.
inline constexpr std::uint8_t ip_flag_df = 0x02;

// Internet checksum (RFC 1071) over len bytes.
std::uint16_t icmp_checksum(const void* data, std::size_t len);

// IP status for an ICMP error message of the given type and code; 0 when it is no error we report.
std::uint32_t icmp_error_status(int type, int code);

class icmp_echo_handle
{
public:
    enum class socket_kind
    {
        none,
        datagram,
        raw
    };

    // Never fails for lack of permission: the sockets are opened again at each echo until one opens.
    icmp_echo_handle();
    ~icmp_echo_handle();
    icmp_echo_handle(const icmp_echo_handle&) = delete;
    icmp_echo_handle& operator=(const icmp_echo_handle&) = delete;

    // Sends one echo with exactly size bytes of data and waits at most timeout_ms for its answer.
    // Returns the number of replies (0 or 1). The reply buffer begins with a TIcmpEchoReply, followed
    // by as much of the echoed data as fits. An ICMP error about this echo counts as a reply.
    std::uint32_t send_echo(std::uint32_t dest_net_order, const void* data, std::uint16_t size,
                            const TIpOptionInfo* options, void* reply_buffer, std::uint32_t reply_size,
                            std::uint32_t timeout_ms);

    // Error code of the last send_echo: an ip_status value, 0 after a successful echo.
    std::uint32_t last_error() const { return m_last_error; }
    // Why the last send_echo could not even be tried (no socket permitted, system failure); empty otherwise.
    const std::string& failure_text() const { return m_failure_text; }
    socket_kind kind() const { return m_kind; }

private:
    bool open_socket();
    void drain();
    // The poll events once the socket has something, or 0 at the deadline. Times here are
    // microseconds on the monotonic clock.
    short wait_ready(std::int64_t deadline_us) const;
    // Waits until deadline_us for the answer to (ident, sequence) and fills record from it; sent_us
    // is when the echo left. The answer's IP status, or req_timed_out.
    std::uint32_t wait_reply(std::uint16_t ident, std::uint16_t sequence, std::int64_t deadline_us,
                             std::int64_t sent_us, TIcmpEchoReply& record, unsigned char* data_out,
                             std::uint32_t data_room);

    int m_fd = -1;
    socket_kind m_kind = socket_kind::none;
    std::uint16_t m_ident = 0;
    std::uint16_t m_sequence = 0;
    std::uint32_t m_last_error = 0;
    std::string m_failure_text;
};

} // namespace corvane::platform
