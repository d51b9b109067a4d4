#include "support/My_net_tcpip.h"
#include "NetnsLab.h"
#include "TestSupport.h"

#include <QtTest>

#include <arpa/inet.h>

using corvane::test::NetnsLab;

class TestMyNetTcpip : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void dotted_data();
    void dotted();
    void failureValues();
    void lookups();
    void interfacesOfNamespace();
};

void TestMyNetTcpip::dotted_data()
{
    QTest::addColumn<quint32>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("192.168.1.1") << quint32(0xC0A80101) << "192.168.1.1";
    QTest::newRow("zero") << quint32(0) << "0.0.0.0";
    QTest::newRow("all ones") << quint32(0xFFFFFFFF) << "255.255.255.255";
    QTest::newRow("no leading zeros") << quint32(0x0A00FF07) << "10.0.255.7";
}

void TestMyNetTcpip::dotted()
{
    QFETCH(quint32, value);
    QFETCH(QString, text);
    QCOMPARE(ip_to_dotted(value), text);
}

void TestMyNetTcpip::failureValues()
{
    QCOMPARE(winsock_startup(), 0);
    QCOMPARE(host_name_to_ip_text("no-such-host.invalid"), QString("0.0.0.0"));
    QCOMPARE(host_name_to_ip("no-such-host.invalid"), 0u);
    QCOMPARE(host_name_to_ip(QString()), 0u);
    QCOMPARE(ip_text_to_host_name("192.0.2.55"), QString()); // documentation range, no reverse entry
    QCOMPARE(winsock_cleanup(), 0);
}

void TestMyNetTcpip::lookups()
{
    // Host order from the forward lookup, network order from the local address.
    QCOMPARE(host_name_to_ip("localhost"), 0x7F000001u);
    QCOMPARE(host_name_to_ip_text("localhost"), QString("127.0.0.1"));
    QVERIFY(!ip_text_to_host_name("127.0.0.1").isEmpty());
    QVERIFY(get_local_ip() != 0);
}

void TestMyNetTcpip::interfacesOfNamespace()
{
    CORVANE_REQUIRE_ROOT();
    CORVANE_REQUIRE_PROGRAM("ip");
    NetnsLab lab;
    QVERIFY2(lab.ok(), qPrintable(lab.lastError()));
    QVERIFY(lab.addSegment("s"));
    QVERIFY(lab.addHost("h", "s", "10.82.0.5/24"));
    // Veth pairs kept inside the namespace: this kernel may lack the dummy driver.
    const int dummies = 16;
    for (int i = 0; i < dummies; i += 2) {
        QVERIFY(lab.run("h", {"ip", "link", "add", QString("dm%1").arg(i), "type", "veth", "peer", "name",
                              QString("dm%1").arg(i + 1)}).exitCode == 0);
    }
    for (int i = 0; i < dummies; ++i) {
        const QString d = QString("dm%1").arg(i);
        QVERIFY(lab.run("h", {"ip", "addr", "add", QString("10.83.%1.1/%2").arg(i).arg(16 + i), "dev", d}).exitCode == 0);
        QVERIFY(lab.run("h", {"ip", "link", "set", d, "up"}).exitCode == 0);
    }
    NetnsLab::ScopedEnter in(lab, "h");
    QVERIFY(in.ok());
    std::int32_t count = 0;
    interface_list list;
    get_interface_list(count, list);
    QCOMPARE(count, 2 + dummies); // lo, eth0, the veths
    QCOMPARE(int(list.size()), count);
    QCOMPARE(list[0].address, htonl(0x7F000001));
    QCOMPARE(list[0].netmask, htonl(0xFF000000));
    QCOMPARE(list[1].address, htonl(0x0A520005));
    QCOMPARE(list[1].netmask, htonl(0xFFFFFF00));
    // The veths follow in interface order, which need not be their creation order.
    QSet<QPair<quint32, quint32>> want, got;
    for (int i = 0; i < dummies; ++i) {
        want.insert({htonl(0x0A530001u | (quint32(i) << 8)), htonl(~0u << (16 - i))});
        got.insert({list[2 + i].address, list[2 + i].netmask});
    }
    QCOMPARE(got, want);
}

QTEST_GUILESS_MAIN(TestMyNetTcpip)
#include "test_my_net_tcpip.moc"
