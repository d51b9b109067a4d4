#pragma once
// TPing: the non-visual ping component around one TICMP engine, with an asynchronous name lookup.
//
// Events are plain std::function members, called only while set, with the component as Sender:
//     Ping1->OnEchoReply = [this](QObject* Sender, TICMP* Icmp, std::int32_t Status) {
//         Ping1EchoReply(Sender, Icmp, Status); };
// They run synchronously: OnEchoReply inside Ping(), after Reply has been stored.

#include "icmp/Icmp.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QHostInfo;

class TPing : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString Address READ Address WRITE SetAddress)
    Q_PROPERTY(int Size READ Size WRITE SetSize)
    Q_PROPERTY(int Timeout READ Timeout WRITE SetTimeout)
    Q_PROPERTY(int TTL READ TTL WRITE SetTTL)
    Q_PROPERTY(int Flags READ Flags WRITE SetFlags)

public:
    using TPingDisplay = std::function<void(QObject* Sender, TICMP* Icmp, const QString& Msg)>;
    using TPingRequest = std::function<void(QObject* Sender, TICMP* Icmp)>;
    using TPingReply = std::function<void(QObject* Sender, TICMP* Icmp, std::int32_t Status)>;
    // Error is a corvane::lookup_status value.
    using TDnsLookupDone = std::function<void(QObject* Sender, std::uint16_t Error)>;

    // Throws TICMPException when the engine cannot be built.
    explicit TPing(QObject* owner = nullptr);
    ~TPing() override;

    QString Address() const;
    void SetAddress(const QString& value);
    int Size() const;
    void SetSize(int value);
    int Timeout() const;
    void SetTimeout(int value);
    int TTL() const;
    void SetTTL(int value);
    int Flags() const;
    void SetFlags(int value);

    TIcmpEchoReply Reply() const;
    QString HostIP() const;
    QString DnsResult() const { return m_DnsResult; }
    TICMP* Icmp() const { return m_Icmp.get(); }
    int DnsLookupHandle() const { return m_DnsLookupHandle; }

    virtual std::int32_t Ping();
    virtual void DnsLookup(const QString& HostName);
    void CancelDnsLookup();

    TPingDisplay OnDisplay;
    TPingRequest OnEchoRequest;
    TPingReply OnEchoReply;
    TDnsLookupDone OnDnsLookupDone;

private:
    void IcmpDisplay(TICMP* icmp, const std::string& msg);
    void IcmpEchoRequest(TICMP* icmp);
    void IcmpEchoReply(TICMP* icmp, std::int32_t count);
    void WMDnsLookupDone(const QHostInfo& info);

    std::unique_ptr<TICMP> m_Icmp;
    int m_DnsLookupHandle = 0;
    QString m_DnsResult;
};
