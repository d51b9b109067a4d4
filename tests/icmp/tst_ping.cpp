#include "icmp/Ping.h"
#include "TestSupport.h"

#include <QtTest>

#include <cstring>

class TestPing : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void propertiesRoundTrip();
    void beforeAnyEcho();
    void echoThroughComponent();
    void dottedLookupAtOnce();
    void lookupInEventLoop();
    void secondReplacesFirst();
    void cancel();
    void emptyName();
    void unknownName();
};

void TestPing::propertiesRoundTrip()
{
    TPing p;
    // No check on store: out-of-range values come back as stored.
    p.setProperty("Address", "some.name");
    p.setProperty("Size", 70000);
    p.setProperty("Timeout", -5);
    p.setProperty("TTL", 300);
    p.setProperty("Flags", -1);
    QCOMPARE(p.property("Address").toString(), QString("some.name"));
    QCOMPARE(p.Icmp()->Address(), std::string("some.name"));
    QCOMPARE(p.property("Size").toInt(), 70000);
    QCOMPARE(p.Icmp()->Timeout, -5);
    QCOMPARE(p.property("TTL").toInt(), 300);
    QCOMPARE(p.property("Flags").toInt(), -1);
}

void TestPing::beforeAnyEcho()
{
    TPing p;
    const TIcmpEchoReply r = p.Reply();
    const char zero[28] = {};
    QCOMPARE(std::memcmp(&r, zero, 28), 0);
    QVERIFY(p.HostIP().isEmpty());
    QCOMPARE(p.Timeout(), 4000);
    QCOMPARE(p.Size(), 56);
}

void TestPing::echoThroughComponent()
{
    CORVANE_REQUIRE_ROOT();
    TPing p;
    p.SetAddress("127.0.0.1");
    p.SetTimeout(1000);
    QObject* sender = nullptr;
    int status = -1;
    quint32 seenStatus = 99;
    QString seenIp;
    p.OnEchoReply = [&](QObject* s, TICMP* icmp, std::int32_t n) {
        sender = s;
        status = n;
        QVERIFY(icmp == p.Icmp());
        seenStatus = p.Reply().Status;
        seenIp = p.HostIP();
    };
    QCOMPARE(p.Ping(), 1);
    QCOMPARE(sender, &p);
    QCOMPARE(status, 1);
    QCOMPARE(seenStatus, 0u);
    QCOMPARE(seenIp, QString("127.0.0.1"));
}

void TestPing::dottedLookupAtOnce()
{
    TPing p;
    int err = -1;
    p.OnDnsLookupDone = [&](QObject*, std::uint16_t e) { err = e; };
    p.DnsLookup("127.000.000.001");
    QCOMPARE(err, 0);
    QCOMPARE(p.DnsResult(), QString("127.0.0.1"));
    QCOMPARE(p.DnsLookupHandle(), 0);
}

void TestPing::lookupInEventLoop()
{
    TPing p;
    int err = -1, calls = 0;
    p.OnDnsLookupDone = [&](QObject*, std::uint16_t e) { err = e; ++calls; };
    p.DnsLookup("localhost");
    QCOMPARE(calls, 0);
    QVERIFY(p.DnsLookupHandle() != 0);
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 10000);
    QCOMPARE(err, 0);
    QCOMPARE(p.DnsResult(), QString("127.0.0.1"));
    QCOMPARE(p.DnsLookupHandle(), 0);
}

void TestPing::secondReplacesFirst()
{
    TPing p;
    QList<int> errs;
    p.OnDnsLookupDone = [&](QObject*, std::uint16_t e) { errs << e; };
    p.DnsLookup("no-such-host.invalid");
    const int first = p.DnsLookupHandle();
    p.DnsLookup("localhost");
    QVERIFY(p.DnsLookupHandle() != first);
    QTRY_COMPARE_WITH_TIMEOUT(errs.size(), 1, 10000);
    QTest::qWait(300);
    QCOMPARE(errs, QList<int>({0}));
    QCOMPARE(p.DnsResult(), QString("127.0.0.1"));
}

void TestPing::cancel()
{
    TPing p;
    QList<int> errs;
    p.OnDnsLookupDone = [&](QObject*, std::uint16_t e) { errs << e; };
    p.CancelDnsLookup(); // nothing outstanding: no event
    QVERIFY(errs.isEmpty());
    p.DnsLookup("localhost");
    p.CancelDnsLookup();
    QCOMPARE(errs, QList<int>({10004}));
    QTest::qWait(300);
    QCOMPARE(errs.size(), 1);
    QVERIFY(p.DnsResult().isEmpty());
}

void TestPing::emptyName()
{
    TPing p;
    p.DnsLookup("1.2.3.4");
    QVERIFY_THROWS_EXCEPTION(ERangeError, p.DnsLookup(QString()));
    QVERIFY(p.DnsResult().isEmpty());
}

void TestPing::unknownName()
{
    TPing p;
    int err = -1, calls = 0;
    p.OnDnsLookupDone = [&](QObject*, std::uint16_t e) { err = e; ++calls; };
    p.DnsLookup("no-such-host.invalid");
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 15000);
    QVERIFY(err != 0);
    QVERIFY(p.DnsResult().isEmpty());
}

QTEST_GUILESS_MAIN(TestPing)
#include "tst_ping.moc"
