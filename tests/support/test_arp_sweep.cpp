// Own address resolution: the frames as bytes, and a sweep of a namespace LAN whose hosts have the
// MACs the test gave them.
#include "NetnsLab.h"
#include "TestSupport.h"
#include "platform/ArpSweep.h"

#include <QtTest>

#include <arpa/inet.h>

using corvane::test::NetnsLab;
using namespace corvane::platform;

namespace {

std::uint32_t net(const char* dotted)
{
    in_addr a {};
    ::inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

QByteArray bytes(const char* hex)
{
    return QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
}

// A reply frame: Ethernet header, then the ARP payload; fields as hex.
QByteArray frame(const char* ethertype, const char* op, const char* sha, const char* spa, const char* tpa,
                 const char* trailer = "")
{
    return bytes("02aabbccddee 0a0000000001") + bytes(ethertype) + bytes("0001 0800 06 04") + bytes(op) + bytes(sha)
        + bytes(spa) + bytes("02aabbccddee") + bytes(tpa) + bytes(trailer);
}

} // namespace

class TestArpSweep : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void request_data()
    {
        QTest::addColumn<QByteArray>("senderMac");
        QTest::addColumn<QByteArray>("senderIp");
        QTest::addColumn<QByteArray>("targetIp");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("who-has 10.77.0.11 tell 10.77.0.2")
            << bytes("02aabbccddee") << QByteArray("10.77.0.2") << QByteArray("10.77.0.11")
            << bytes("ffffffffffff 02aabbccddee 0806 0001 0800 06 04 0001 02aabbccddee 0a4d0002 000000000000 0a4d000b");
        QTest::newRow("high addresses keep their byte order")
            << bytes("00163e7f0102") << QByteArray("192.168.255.254") << QByteArray("192.168.0.1")
            << bytes("ffffffffffff 00163e7f0102 0806 0001 0800 06 04 0001 00163e7f0102 c0a8fffe 000000000000 c0a80001");
    }
    void request()
    {
        QFETCH(QByteArray, senderMac);
        QFETCH(QByteArray, senderIp);
        QFETCH(QByteArray, targetIp);
        QFETCH(QByteArray, expected);
        mac_bytes m {};
        std::copy_n(senderMac.constData(), 6, m.begin());
        const arp_frame f = build_arp_request(m, net(senderIp.constData()), net(targetIp.constData()));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(f.data()), int(f.size())).toHex(' '), expected.toHex(' '));
    }

    void reply_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QByteArray>("senderIp");
        QTest::addColumn<QByteArray>("senderMac");
        const char* host = "001b21000001";
        QTest::newRow("reply") << frame("0806", "0002", host, "0a4d000b", "0a4d0002") << true
                               << QByteArray("10.77.0.11") << bytes(host);
        QTest::newRow("reply padded to 60 bytes")
            << frame("0806", "0002", host, "0a4d000b", "0a4d0002", "000000000000000000000000000000000000") << true
            << QByteArray("10.77.0.11") << bytes(host);
        QTest::newRow("request, not a reply")
            << frame("0806", "0001", host, "0a4d000b", "0a4d0002") << false << QByteArray() << QByteArray();
        QTest::newRow("unknown opcode") << frame("0806", "0003", host, "0a4d000b", "0a4d0002") << false << QByteArray()
                                        << QByteArray();
        QTest::newRow("IPv4 ethertype") << frame("0800", "0002", host, "0a4d000b", "0a4d0002") << false << QByteArray()
                                        << QByteArray();
        QTest::newRow("short by one byte")
            << frame("0806", "0002", host, "0a4d000b", "0a4d0002").chopped(1) << false << QByteArray() << QByteArray();
        QTest::newRow("sender 0.0.0.0 (a probe)")
            << frame("0806", "0002", host, "00000000", "0a4d0002") << false << QByteArray() << QByteArray();
        QTest::newRow("sender 255.255.255.255")
            << frame("0806", "0002", host, "ffffffff", "0a4d0002") << false << QByteArray() << QByteArray();
        QTest::newRow("sender MAC zero") << frame("0806", "0002", "000000000000", "0a4d000b", "0a4d0002") << false
                                         << QByteArray() << QByteArray();
        QTest::newRow("sender MAC broadcast")
            << frame("0806", "0002", "ffffffffffff", "0a4d000b", "0a4d0002") << false << QByteArray() << QByteArray();
        QTest::newRow("gratuitous") << frame("0806", "0002", host, "0a4d000b", "0a4d000b") << false << QByteArray()
                                    << QByteArray();
    }
    void reply()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, accepted);
        QFETCH(QByteArray, senderIp);
        QFETCH(QByteArray, senderMac);
        const std::optional<arp_reply> r
            = parse_arp_reply(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
        QCOMPARE(r.has_value(), accepted);
        if (!accepted)
            return;
        arp_reply expected;
        expected.sender_ip = net(senderIp.constData());
        std::copy_n(senderMac.constData(), 6, expected.sender_mac.begin());
        QVERIFY(*r == expected);
    }

    // As root in a namespace LAN: exactly the hosts there, with their MACs, a host whose firewall
    // drops all IP included; and no neighbour entry of the scanner for an empty address.
    void lan_data()
    {
        QTest::addColumn<int>("rate");
        QTest::newRow("default pace") << 1000;
        QTest::newRow("5000 frames/s") << 5000;
    }
    void lan()
    {
        QFETCH(int, rate);
        CORVANE_REQUIRE_ROOT();
        if (!corvane::test::hasProgram(QStringLiteral("nft")))
            CORVANE_SKIP_OR_FAIL("needs nft (nftables) for the host that drops all IP");
        NetnsLab lab;
        QVERIFY2(lab.ok(), qPrintable(lab.lastError()));
        QVERIFY(lab.addSegment("lan"));
        QVERIFY(lab.addHost("scan", "lan", "10.77.0.2/24"));
        const QList<std::pair<QString, QString>> hosts {{"10.77.0.11", "02:00:5e:10:00:0b"},
                                                        {"10.77.0.12", "00:1b:21:0a:0b:0c"},
                                                        {"10.77.0.254", "02:00:5e:10:00:fe"}};
        for (int i = 0; i < hosts.size(); ++i)
            QVERIFY2(lab.addHost("h" + QString::number(i), "lan", hosts[i].first + "/24", hosts[i].second),
                     qPrintable(lab.lastError()));
        // The last host answers no IP at all, only address resolution.
        const NetnsLab::RunResult nft = lab.run("h2",
                                                {"nft",
                                                 "add table inet wall; add chain inet wall in { type "
                                                 "filter hook input priority 0; policy drop; }"});
        QVERIFY2(nft.exitCode == 0, qPrintable(nft.err));

        std::vector<std::uint32_t> range;
        for (std::uint32_t i = 1; i <= 254; ++i)
            range.push_back(htonl((10u << 24) | (77u << 16) | i));
        NetnsLab::ScopedEnter in(lab, "scan");
        QVERIFY(in.ok());
        QVERIFY(can_resolve_addresses());
        arp_sweep_options options;
        options.rate = rate;
        std::size_t asked = 0;
        options.progress = [&](std::size_t a, std::size_t) { asked = a; };
        const arp_survey survey = resolve_on_link(range, options);
        QVERIFY2(survey.ran, qPrintable(survey.why));
        QCOMPARE(survey.swept.size(), std::size_t(253)); // not its own address
        QCOMPARE(asked, std::size_t(253));
        QStringList found;
        for (const arp_reply& r : survey.replies) {
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &r.sender_ip, text, sizeof text);
            found << QString::fromLatin1(text) + ' '
                    + QByteArray(reinterpret_cast<const char*>(r.sender_mac.data()), 6).toHex(':');
        }
        found.sort();
        QStringList expected;
        for (const auto& [address, mac] : hosts)
            expected << address + ' ' + mac;
        QCOMPARE(found, expected);

        const std::optional<std::vector<neigh_entry>> table = read_neighbours();
        QVERIFY(table);
        for (const neigh_entry& e : *table)
            QVERIFY2(e.state != neigh_state::incomplete && e.state != neigh_state::failed,
                     "the sweep left a pending or failed resolution in the kernel's table");
    }
};

QTEST_GUILESS_MAIN(TestArpSweep)
#include "test_arp_sweep.moc"
