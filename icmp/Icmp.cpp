#include "icmp/Icmp.h"
#include "platform/Ipv4.h"

#include <QString>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

using corvane::platform::icmp_echo_handle;

namespace {

std::int32_t lookup_error(int gai)
{
    switch (gai) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
        return corvane::lookup_status::host_not_found;
    case EAI_AGAIN:
        return corvane::lookup_status::try_again;
    default:
        return corvane::lookup_status::no_recovery;
    }
}

struct addrinfo_deleter
{
    void operator()(addrinfo* p) const { ::freeaddrinfo(p); }
};

} // namespace

TICMP::TICMP()
{
    // Of the construction failures only "Unable to get ping handle" can happen here, and only when
    // memory runs out. The socket library needs no start on Linux ("Error initialising Winsock"),
    // and no library is loaded ("Unable to register icmp.dll", "Error loading dll functions").
    // Missing ICMP permission is no failure here: the program must still start, and each echo
    // then reports what is missing through OnDisplay.
    m_IcmpHandle.reset(new (std::nothrow) icmp_echo_handle);
    if (!m_IcmpHandle)
        throw TICMPException("Unable to get ping handle");
}

TICMP::~TICMP() = default;

icmp_echo_handle::socket_kind TICMP::SocketKind() const
{
    return m_IcmpHandle->kind();
}

void TICMP::SetAddress(const std::string& value)
{
    if (value == m_Address)
        return;
    m_Address = value;
    m_AddrResolved = false;
}

void TICMP::ResolveAddr()
{
    m_HostAddr = corvane::ipv4::inet_addr_value(QString::fromStdString(m_Address)).value;
    if (m_HostAddr != inaddr_none) {
        m_HostName = m_Address;
    } else {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_flags = AI_CANONNAME;
        addrinfo* found = nullptr;
        const int rc = ::getaddrinfo(m_Address.c_str(), nullptr, &hints, &found);
        std::unique_ptr<addrinfo, addrinfo_deleter> list(found);
        if (rc != 0 || !found) {
            m_LastError = lookup_error(rc);
            if (OnDisplay)
                OnDisplay(this, "Unable to resolve " + m_Address);
            return;
        }
        m_HostAddr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
        m_HostName = found->ai_canonname ? found->ai_canonname : m_Address;
    }
    m_HostIP = corvane::ipv4::dotted(corvane::ipv4::TNetAddr{m_HostAddr}).toStdString();
    m_AddrResolved = true;
}

std::vector<unsigned char> TICMP::RequestData(std::int32_t size)
{
    std::vector<unsigned char> request(static_cast<std::size_t>(std::clamp(size, 0, 65535)), 0x20);
    if (!request.empty())
        std::memcpy(request.data(), payload_text, std::min<std::size_t>(request.size(), sizeof(payload_text) - 1));
    return request;
}

std::int32_t TICMP::Ping()
{
    m_LastError = 0;
    std::int32_t count = 0;

    if (!m_AddrResolved)
        ResolveAddr();

    if (m_HostAddr == inaddr_none) {
        m_LastError = static_cast<std::int32_t>(corvane::platform::ip_status::bad_destination);
        if (OnDisplay)
            OnDisplay(this, "Invalid host address");
        return 0;
    }

    if (Size > std::numeric_limits<std::int32_t>::max() - 28)
        throw EIntOverflow();
    const std::int32_t reply_size = Size + 28;

    // A Size the checks below will refuse gets no buffers: a negative or huge Size must not reach the
    // allocator before it is refused.
    const bool size_ok = Size >= 0 && Size <= 65535;
    std::vector<unsigned char> request = RequestData(size_ok ? Size : 0);
    std::vector<unsigned char> reply(size_ok ? static_cast<std::size_t>(reply_size) : sizeof(TIcmpEchoReply), 0);

    if (OnEchoRequest)
        OnEchoRequest(this);

    TIpOptionInfo options{};
    options.Ttl = static_cast<std::uint8_t>(TTL);
    options.Flags = static_cast<std::uint8_t>(Flags);

    if (TTL < 0 || TTL > 255 || Flags < 0 || Flags > 255 || Timeout < 0 || reply_size < 0 || !size_ok)
        throw ERangeError();

    count = static_cast<std::int32_t>(m_IcmpHandle->send_echo(m_HostAddr, request.data(),
                                                               static_cast<std::uint16_t>(Size), &options,
                                                               reply.data(), static_cast<std::uint32_t>(reply_size),
                                                               static_cast<std::uint32_t>(Timeout)));
    m_LastError = static_cast<std::int32_t>(m_IcmpHandle->last_error());
    std::memcpy(&m_Reply, reply.data(), sizeof(m_Reply));

    // The facility could not even try (no socket permitted, system failure): say so.
    if (!m_IcmpHandle->failure_text().empty() && OnDisplay)
        OnDisplay(this, m_IcmpHandle->failure_text());

    if (OnEchoReply)
        OnEchoReply(this, count);
    return count;
}
