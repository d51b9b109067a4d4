#include "icmp/Ping.h"
#include "platform/Ipv4.h"

#include <QHostAddress>
#include <QHostInfo>

#include <stdexcept>

namespace lookup_status = corvane::lookup_status;

namespace {

// The lookup service cannot refuse a cancel; only a handle it never gave out is an error.
// The lookup is left to finish and its completion is ignored by handle: Qt 6.4's abortHostLookup
// leaks the callback of a lookup that has not started yet.
int cancel_async_request(int handle)
{
    if (handle <= 0)
        return lookup_status::invalid_argument;
    return 0;
}

} // namespace

TPing::TPing(QObject* owner) : QObject(owner)
{
    // An exception from the engine leaves no component behind: members unwind, nothing leaks.
    m_Icmp = std::make_unique<TICMP>();
    m_Icmp->OnDisplay = [this](TICMP* icmp, const std::string& msg) { IcmpDisplay(icmp, msg); };
    m_Icmp->OnEchoRequest = [this](TICMP* icmp) { IcmpEchoRequest(icmp); };
    m_Icmp->OnEchoReply = [this](TICMP* icmp, std::int32_t count) { IcmpEchoReply(icmp, count); };
}

TPing::~TPing()
{
    // Whatever the cancel does, the engine goes with the component.
    try {
        CancelDnsLookup();
    } catch (...) {
    }
    m_Icmp.reset();
}

QString TPing::Address() const
{
    return m_Icmp ? QString::fromStdString(m_Icmp->Address()) : QString();
}

void TPing::SetAddress(const QString& value)
{
    if (m_Icmp)
        m_Icmp->SetAddress(value.toStdString());
}

int TPing::Size() const
{
    return m_Icmp ? m_Icmp->Size : 0;
}

void TPing::SetSize(int value)
{
    if (m_Icmp)
        m_Icmp->Size = value;
}

int TPing::Timeout() const
{
    return m_Icmp ? m_Icmp->Timeout : 0;
}

void TPing::SetTimeout(int value)
{
    if (m_Icmp)
        m_Icmp->Timeout = value;
}

int TPing::TTL() const
{
    return m_Icmp ? m_Icmp->TTL : 0;
}

void TPing::SetTTL(int value)
{
    if (m_Icmp)
        m_Icmp->TTL = value;
}

int TPing::Flags() const
{
    return m_Icmp ? m_Icmp->Flags : 0;
}

void TPing::SetFlags(int value)
{
    if (m_Icmp)
        m_Icmp->Flags = value;
}

TIcmpEchoReply TPing::Reply() const
{
    return m_Icmp ? m_Icmp->Reply() : TIcmpEchoReply{};
}

QString TPing::HostIP() const
{
    return m_Icmp ? QString::fromStdString(m_Icmp->HostIP()) : QString();
}

std::int32_t TPing::Ping()
{
    return m_Icmp ? m_Icmp->Ping() : 0;
}

void TPing::DnsLookup(const QString& HostName)
{
    if (m_DnsLookupHandle != 0) {
        cancel_async_request(m_DnsLookupHandle);
        m_DnsLookupHandle = 0;
    }
    m_DnsResult.clear();
    if (HostName.isEmpty())
        throw ERangeError();

    const QByteArray name = HostName.toUtf8();
    // inet_addr's rules: shorthand and octal forms are addresses, "255.255.255.255" is not.
    if (const corvane::ipv4::TNetAddr addr = corvane::ipv4::inet_addr_value(HostName);
        addr != corvane::ipv4::kInetAddrNone) {
        m_DnsResult = corvane::ipv4::dotted(addr);
        if (OnDnsLookupDone)
            OnDnsLookupDone(this, lookup_status::ok);
        return;
    }

    // The completion is delivered on this object's thread and dropped if the component is gone.
    const int handle = QHostInfo::lookupHost(HostName, this, [this](const QHostInfo& info) { WMDnsLookupDone(info); });
    if (handle <= 0) // the lookup service hands out positive ids only
        throw std::runtime_error(QString::asprintf("%s: can't start DNS lookup, error #%d", name.constData(),
                                                   int{lookup_status::invalid_argument})
                                     .toStdString());
    m_DnsLookupHandle = handle;
}

void TPing::CancelDnsLookup()
{
    if (m_DnsLookupHandle == 0)
        return;
    if (const int err = cancel_async_request(m_DnsLookupHandle); err != 0)
        throw std::runtime_error(QString::asprintf("WSACancelAsyncRequest failed, error #%d", err).toStdString());
    m_DnsLookupHandle = 0;
    if (OnDnsLookupDone)
        OnDnsLookupDone(this, lookup_status::cancelled);
}

void TPing::WMDnsLookupDone(const QHostInfo& info)
{
    // A completion of a lookup that was cancelled or replaced changes nothing.
    if (info.lookupId() != m_DnsLookupHandle || m_DnsLookupHandle == 0)
        return;
    m_DnsLookupHandle = 0;

    std::uint16_t error = lookup_status::ok;
    QString first;
    switch (info.error()) {
    case QHostInfo::NoError:
        for (const QHostAddress& a : info.addresses()) {
            if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                first = a.toString();
                break;
            }
        }
        if (first.isEmpty())
            error = lookup_status::no_data;
        break;
    case QHostInfo::HostNotFound:
        error = lookup_status::host_not_found;
        break;
    default:
        error = lookup_status::no_recovery;
        break;
    }
    if (error == lookup_status::ok)
        m_DnsResult = first;
    if (OnDnsLookupDone)
        OnDnsLookupDone(this, error);
}

void TPing::IcmpDisplay(TICMP* icmp, const std::string& msg)
{
    if (OnDisplay)
        OnDisplay(this, icmp, QString::fromStdString(msg));
}

void TPing::IcmpEchoRequest(TICMP* icmp)
{
    if (OnEchoRequest)
        OnEchoRequest(this, icmp);
}

void TPing::IcmpEchoReply(TICMP* icmp, std::int32_t count)
{
    if (OnEchoReply)
        OnEchoReply(this, icmp, count);
}
