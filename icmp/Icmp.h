#pragma once
// TICMP: one ICMP echo request to one IPv4 host, blocking for at most Timeout ms.

#include "platform/IcmpEcho.h"
#include "platform/Ipv4.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane {

// Socket error numbers of a host-name lookup, as the Windows socket library reports them: what
// TICMP::LastError holds after a failed resolve and what TPing::OnDnsLookupDone passes. A family of
// its own: ip_status reuses 11001..11004 for other failures.
namespace lookup_status {
inline constexpr std::uint16_t ok = 0;
inline constexpr std::uint16_t cancelled = 10004;
inline constexpr std::uint16_t invalid_argument = 10022;
inline constexpr std::uint16_t host_not_found = 11001;
inline constexpr std::uint16_t try_again = 11002;
inline constexpr std::uint16_t no_recovery = 11003;
inline constexpr std::uint16_t no_data = 11004;
} // namespace lookup_status

} // namespace corvane

// Raised when the engine cannot be built; carries only its text.
class TICMPException : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The general range error: "Range check error".
class ERangeError : public std::runtime_error
{
public:
    ERangeError() : std::runtime_error("Range check error") {}
};

// The integer overflow error: "Integer overflow".
class EIntOverflow : public std::runtime_error
{
public:
    EIntOverflow() : std::runtime_error("Integer overflow") {}
};

class TICMP
{
public:
    using TDisplayHook = std::function<void(TICMP* icmp, const std::string& msg)>;
    using TEchoRequestHook = std::function<void(TICMP* icmp)>;
    using TEchoReplyHook = std::function<void(TICMP* icmp, std::int32_t count)>;

    // 45 characters, copied to the start of the echo data.
    static constexpr char payload_text[] = "Corvane ICMP echo request - LAN survey ping  ";
    static_assert(sizeof(payload_text) - 1 == 45, "the payload text is 45 characters");
    static constexpr std::uint32_t inaddr_none = corvane::ipv4::kInetAddrNone.value;

    TICMP();
    virtual ~TICMP();
    TICMP(const TICMP&) = delete;
    TICMP& operator=(const TICMP&) = delete;

    void SetAddress(const std::string& value);
    const std::string& Address() const { return m_Address; }
    const std::string& HostName() const { return m_HostName; }
    const std::string& HostIP() const { return m_HostIP; }
    std::uint32_t HostAddr() const { return m_HostAddr; }
    bool AddrResolved() const { return m_AddrResolved; }
    const TIcmpEchoReply& Reply() const { return m_Reply; }
    std::int32_t LastError() const { return m_LastError; }

    std::int32_t Size = 56;
    std::int32_t Timeout = 4000;
    std::int32_t TTL = 64;
    std::int32_t Flags = 0;

    TDisplayHook OnDisplay;
    TEchoRequestHook OnEchoRequest;
    TEchoReplyHook OnEchoReply;

    void ResolveAddr();
    std::int32_t Ping();

    // The echo data of a request of size bytes (0..65535): the payload text, padded with spaces.
    static std::vector<unsigned char> RequestData(std::int32_t size);

    // Which socket the echoes go through; none until one could be opened.
    corvane::platform::icmp_echo_handle::socket_kind SocketKind() const;

private:
    std::unique_ptr<corvane::platform::icmp_echo_handle> m_IcmpHandle;
    TIcmpEchoReply m_Reply{};
    std::string m_Address;
    std::string m_HostName;
    std::string m_HostIP;
    std::uint32_t m_HostAddr = inaddr_none;
    std::int32_t m_LastError = 0;
    bool m_AddrResolved = false;
};
