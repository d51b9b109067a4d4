#include "icmp/Icmp.h"
#include "NetnsLab.h"
#include "TestSupport.h"

#include <QtTest>

#include <arpa/inet.h>

using corvane::test::NetnsLab;

class TestIcmp : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void loopbackEcho_data();
    void loopbackEcho();
    void rangeChecks_data();
    void rangeChecks();
    void overflow();
    void broadcastNeverPinged();
    void unresolvableName();
    void resolveOnce();
    void namespaceEchoes();
};

void TestIcmp::loopbackEcho_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("0") << 0;
    QTest::newRow("44") << 44;
    QTest::newRow("45") << 45;
    QTest::newRow("46") << 46;
    QTest::newRow("56") << 56;
    QTest::newRow("65507 largest on loopback") << 65507;
}

void TestIcmp::loopbackEcho()
{
    CORVANE_REQUIRE_ROOT();
    QFETCH(int, size);
    TICMP icmp;
    icmp.SetAddress("127.0.0.1");
    icmp.Size = size;
    icmp.Timeout = 2000;
    QStringList seen;
    icmp.OnEchoRequest = [&](TICMP*) { seen << "request"; };
    icmp.OnEchoReply = [&](TICMP*, std::int32_t n) { seen << QString("reply %1").arg(n); };
    QCOMPARE(icmp.Ping(), 1);
    QCOMPARE(seen, QStringList({"request", "reply 1"}));
    QCOMPARE(icmp.Reply().Status, 0u);
    QCOMPARE(icmp.LastError(), 0);
    QCOMPARE(icmp.Reply().Address, htonl(INADDR_LOOPBACK));
    QCOMPARE(int(icmp.Reply().DataSize), size);
    QVERIFY(icmp.Reply().Options.Ttl > 0);
    QCOMPARE(QByteArray(icmp.HostIP().c_str()), QByteArray("127.0.0.1"));
}

void TestIcmp::rangeChecks_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("ttl");
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<bool>("refused");
    QTest::newRow("ttl 255") << 56 << 255 << 0 << 500 << false;
    QTest::newRow("ttl 256") << 56 << 256 << 0 << 500 << true;
    QTest::newRow("ttl -1") << 56 << -1 << 0 << 500 << true;
    QTest::newRow("flags 256") << 56 << 64 << 256 << 500 << true;
    QTest::newRow("flags df") << 56 << 64 << 2 << 500 << false;
    QTest::newRow("timeout -1") << 56 << 64 << 0 << -1 << true;
    QTest::newRow("timeout 0") << 56 << 64 << 0 << 0 << false;
    QTest::newRow("size 65535") << 65535 << 64 << 0 << 500 << false;
    QTest::newRow("size 65536") << 65536 << 64 << 0 << 500 << true;
    QTest::newRow("size -1") << -1 << 64 << 0 << 500 << true;
    QTest::newRow("size -29") << -29 << 64 << 0 << 500 << true;
}

void TestIcmp::rangeChecks()
{
    CORVANE_REQUIRE_ROOT();
    QFETCH(int, size);
    QFETCH(int, ttl);
    QFETCH(int, flags);
    QFETCH(int, timeout);
    QFETCH(bool, refused);
    TICMP icmp;
    icmp.SetAddress("127.0.0.1");
    icmp.Size = size;
    icmp.TTL = ttl;
    icmp.Flags = flags;
    icmp.Timeout = timeout;
    int requests = 0, replies = 0;
    icmp.OnEchoRequest = [&](TICMP*) { ++requests; };
    icmp.OnEchoReply = [&](TICMP*, std::int32_t) { ++replies; };
    if (refused) {
        try {
            icmp.Ping();
            QFAIL("no range error");
        } catch (const ERangeError& e) {
            QCOMPARE(QByteArray(e.what()), QByteArray("Range check error"));
        }
        QCOMPARE(requests, 1);
        QCOMPARE(replies, 0);
    } else {
        const int n = icmp.Ping();
        QCOMPARE(replies, 1);
        if (size == 65535) { // too large for one IP datagram: refused by the stack, not by the checks
            QCOMPARE(n, 0);
            QCOMPARE(icmp.Reply().Status, corvane::platform::ip_status::packet_too_big);
        } else if (timeout > 0) {
            QCOMPARE(n, 1);
        }
    }
}

void TestIcmp::overflow()
{
    TICMP icmp;
    icmp.SetAddress("127.0.0.1");
    icmp.Size = std::numeric_limits<std::int32_t>::max() - 27;
    int requests = 0;
    icmp.OnEchoRequest = [&](TICMP*) { ++requests; };
    QVERIFY_THROWS_EXCEPTION(EIntOverflow, icmp.Ping());
    QCOMPARE(requests, 0);
}

void TestIcmp::broadcastNeverPinged()
{
    TICMP icmp;
    icmp.SetAddress("255.255.255.255");
    QStringList texts;
    int hooks = 0;
    icmp.OnDisplay = [&](TICMP*, const std::string& m) { texts << QString::fromStdString(m); };
    icmp.OnEchoRequest = [&](TICMP*) { ++hooks; };
    icmp.OnEchoReply = [&](TICMP*, std::int32_t) { ++hooks; };
    QCOMPARE(icmp.Ping(), 0);
    QCOMPARE(icmp.LastError(), 11018);
    QCOMPARE(texts.last(), QString("Invalid host address"));
    QCOMPARE(hooks, 0);
}

void TestIcmp::unresolvableName()
{
    TICMP icmp;
    icmp.SetAddress("no-such-host.invalid");
    QStringList texts;
    int hooks = 0;
    icmp.OnDisplay = [&](TICMP*, const std::string& m) { texts << QString::fromStdString(m); };
    icmp.OnEchoReply = [&](TICMP*, std::int32_t) { ++hooks; };
    QCOMPARE(icmp.Ping(), 0);
    QCOMPARE(texts, QStringList({"Unable to resolve no-such-host.invalid", "Invalid host address"}));
    QCOMPARE(icmp.LastError(), 11018);
    QCOMPARE(hooks, 0);
    QVERIFY(!icmp.AddrResolved());
    // A failed resolution is tried again at the next echo.
    texts.clear();
    QCOMPARE(icmp.Ping(), 0);
    QCOMPARE(texts.size(), 2);
}

void TestIcmp::resolveOnce()
{
    CORVANE_REQUIRE_ROOT();
    TICMP icmp;
    icmp.Timeout = 1000;
    icmp.SetAddress("localhost");
    QCOMPARE(icmp.Ping(), 1);
    QVERIFY(icmp.AddrResolved());
    QCOMPARE(QByteArray(icmp.HostIP().c_str()), QByteArray("127.0.0.1"));
    QVERIFY(!icmp.HostName().empty());
    // Same text: the resolution stays; a different text is resolved afresh.
    icmp.SetAddress("localhost");
    QVERIFY(icmp.AddrResolved());
    icmp.SetAddress("127.0.0.2");
    QVERIFY(!icmp.AddrResolved());
    QCOMPARE(icmp.Ping(), 1);
    QCOMPARE(QByteArray(icmp.HostIP().c_str()), QByteArray("127.0.0.2"));
}

void TestIcmp::namespaceEchoes()
{
    CORVANE_REQUIRE_ROOT();
    CORVANE_REQUIRE_PROGRAM("ip");
    NetnsLab lab;
    QVERIFY2(lab.ok(), qPrintable(lab.lastError()));
    QVERIFY(lab.addSegment("a"));
    QVERIFY(lab.addSegment("b"));
    QVERIFY(lab.addHost("pc", "a", "10.81.1.2/24"));
    QVERIFY(lab.addRouter("gw", {{"a", "10.81.1.1/24"}, {"b", "10.81.2.1/24"}}));
    QVERIFY(lab.addHost("far", "b", "10.81.2.9/24"));
    QVERIFY(lab.addRoute("pc", {"default", "via", "10.81.1.1"}));
    QVERIFY(lab.addRoute("far", {"default", "via", "10.81.2.1"}));
    QVERIFY(lab.addRoute("gw", {"unreachable", "10.81.9.0/24"}));
    QVERIFY(lab.addRoute("pc", {"unreachable", "10.81.8.0/24"}));

    NetnsLab::ScopedEnter in(lab, "pc");
    QVERIFY(in.ok());
    struct Row { const char* addr; int ttl; int count; std::uint32_t status; const char* from; };
    const Row rows[] = {
        {"10.81.2.9", 64, 1, 0, "10.81.2.9"},
        {"10.81.2.9", 1, 1, corvane::platform::ip_status::ttl_expired_transit, "10.81.1.1"},
        {"10.81.9.5", 64, 1, corvane::platform::ip_status::dest_host_unreachable, "10.81.1.1"},
        {"10.81.8.5", 64, 0, corvane::platform::ip_status::dest_host_unreachable, "0.0.0.0"},
        {"10.81.1.77", 64, 0, corvane::platform::ip_status::req_timed_out, "0.0.0.0"},
    };
    for (const Row& r : rows) {
        TICMP icmp;
        icmp.SetAddress(r.addr);
        icmp.TTL = r.ttl;
        icmp.Timeout = 1500;
        int replyHook = -1;
        icmp.OnEchoReply = [&](TICMP*, std::int32_t n) { replyHook = n; };
        const int n = icmp.Ping();
        in_addr a{icmp.Reply().Address};
        const QString where = QString("%1 ttl %2").arg(r.addr).arg(r.ttl);
        QVERIFY2(n == r.count, qPrintable(where));
        QCOMPARE(replyHook, r.count);
        QVERIFY2(icmp.Reply().Status == r.status, qPrintable(where + " status " + QString::number(icmp.Reply().Status)));
        QCOMPARE(QString(inet_ntoa(a)), QString(r.from));
        QCOMPARE(icmp.LastError(), std::int32_t(r.status));
    }

    // Permission: the unprivileged user gets a clear text, then pings once the range is opened.
    const QString probe = QCoreApplication::applicationFilePath();
    QVERIFY(lab.setSysctl("far", "net.ipv4.ping_group_range", "1 0"));
    auto shut = lab.runAsUser("far", 65534, 65534, {probe, "--probe", "10.81.2.1"});
    QVERIFY2(shut.out.contains("count=0") && shut.out.contains("ICMP sockets not permitted"), qPrintable(shut.out + shut.err));
    QVERIFY(lab.setSysctl("far", "net.ipv4.ping_group_range", "0 2147483647"));
    auto open = lab.runAsUser("far", 65534, 65534, {probe, "--probe", "10.81.2.1"});
    QVERIFY2(open.out.contains("count=1 status=0 kind=datagram"), qPrintable(open.out + open.err));
}

// Run by the test itself inside a namespace as another user.
static int probeMain(const char* address)
{
    TICMP icmp;
    icmp.SetAddress(address);
    icmp.Timeout = 1500;
    icmp.OnDisplay = [](TICMP*, const std::string& m) { std::printf("display=%s\n", m.c_str()); };
    const int n = icmp.Ping();
    const char* kind = icmp.SocketKind() == corvane::platform::icmp_echo_handle::socket_kind::datagram ? "datagram"
        : icmp.SocketKind() == corvane::platform::icmp_echo_handle::socket_kind::raw                   ? "raw"
                                                                                                        : "none";
    std::printf("count=%d status=%u kind=%s\n", n, icmp.Reply().Status, kind);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--probe") == 0)
        return probeMain(argv[2]);
    QCoreApplication app(argc, argv);
    TestIcmp t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_icmp.moc"
