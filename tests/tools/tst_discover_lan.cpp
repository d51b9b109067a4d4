// corvane-scan discover on a /24 of network namespaces: 8 nmbd hosts, 4 plain ones and one whose
// firewall drops all IP. Every host is listed once with the adapter address the test gave it, as
// root (our own ARP) and as an unprivileged user (neighbour table, echo, node status).
#include "NmbdLan.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <map>

using namespace corvane::test;

namespace {

const QString kExe = QStringLiteral(CORVANE_SCAN_EXE);
const QString kScan = QStringLiteral("scan");

const LanPlan& plan()
{
    static const LanPlan lan {"scan",
                              "10.77.50.2",
                              {{"nb1", "10.77.50.11", "PC-ONE", "WGA", {}, false, "00:11:22:33:50:11"},
                               {"nb2", "10.77.50.12", "PC-TWO", "WGA", {}, false, "00:11:22:33:50:12"},
                               {"nb3", "10.77.50.13", "PC-THREE", "WGB", {}, false, "00:11:22:33:50:13"},
                               {"nb4", "10.77.50.14", "PC-FOUR", "WGB", {}, false, "00:11:22:33:50:14"},
                               {"nb5", "10.77.50.70", "PC-FIVE", "WGA", {}, false, "00:11:22:33:50:70"},
                               {"nb6", "10.77.50.71", "PC-SIX", "WGA", {}, false, "00:11:22:33:50:71"},
                               {"nb7", "10.77.50.200", "PC-SEVEN", "WGC", {}, false, "00:11:22:33:50:c8"},
                               {"nb8", "10.77.50.254", "PC-EIGHT", "WGC", {}, false, "00:11:22:33:50:fe"}}};
    return lan;
}

struct Plain
{
    QString host, address, mac;
};
// Up, no name service. The last one drops every IP datagram: only ARP shows it.
const QList<Plain> kPlain {{"plain1", "10.77.50.21", "02:00:00:00:50:21"},
                           {"plain2", "10.77.50.22", "02:00:00:00:50:22"},
                           {"plain3", "10.77.50.100", "02:00:00:00:50:64"},
                           {"plain4", "10.77.50.253", "02:00:00:00:50:fd"}};
const Plain kWall {"wall", "10.77.50.30", "02:00:00:00:50:30"};

QString macText(QString colons)
{
    return colons.toUpper().replace(u':', u'.');
}

} // namespace

class TestDiscoverLan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_lab = std::make_unique<NetnsLab>();
        NetnsLab& lab = *m_lab;
        CORVANE_BUILD_NMBD_LAN(lab, plan());
        for (const Plain& p : kPlain + QList<Plain> {kWall})
            QVERIFY2(lab.addHost(p.host, plan().segment, p.address + QStringLiteral("/24"), p.mac),
                     qPrintable(lab.lastError()));
        for (const QStringList& nft : {QStringList {"nft", "add", "table", "inet", "wall"},
                                       QStringList {"nft", "add", "chain", "inet", "wall", "in",
                                                    "{ type filter hook input priority 0 ; policy drop ; }"}}) {
            const NetnsLab::RunResult wall = lab.run(kWall.host, nft);
            QVERIFY2(wall.exitCode == 0, qPrintable(wall.err));
        }
        // Name peers: avahi on plain1; plain2 is the scanner's resolver and knows plain3.
        CORVANE_REQUIRE_PROGRAM("avahi-daemon");
        CORVANE_REQUIRE_PROGRAM("dnsmasq");
        QVERIFY2(lab.startAvahi(kPlain[0].host, "labplain"), qPrintable(lab.lastError()));
        QVERIFY2(lab.startDnsmasq(kPlain[1].host, {{"plain3.lab.test", kPlain[2].address}}),
                 qPrintable(lab.lastError()));
        QVERIFY2(lab.setResolver(kScan, kPlain[1].address), qPrintable(lab.lastError()));
        QVERIFY2(lab.waitForAvahi(kPlain[0].host, kScan), qPrintable(lab.lastError()));
        // The unprivileged user may send echoes from the scanner, as Debian lets everybody.
        QVERIFY2(lab.setSysctl(kScan, "net.ipv4.ping_group_range", "0 2147483647"), qPrintable(lab.lastError()));
    }

    void cleanupTestCase() { m_lab.reset(); }

    // Root resolves addresses itself; a user has the kernel's resolution of its queries.
    void everyHostOnceWithItsMac_data()
    {
        QTest::addColumn<bool>("asRoot");
        QTest::addColumn<QString>("nmbdShows"); // evidence each nmbd host must show
        QTest::addColumn<QString>("plainShows"); // and each plain host
        QTest::addColumn<QString>("wallShows"); // all the firewalled host shows
        QTest::newRow("root") << true << "arp netbios echo"
                              << "arp echo"
                              << "arp";
        // The kernel's resolution of our query is the firewalled host's only sign.
        QTest::newRow("unprivileged") << false << "netbios neighbour echo"
                                      << "neighbour echo icmp-error"
                                      << "neighbour";
    }

    void everyHostOnceWithItsMac()
    {
        QFETCH(bool, asRoot);
        QFETCH(QString, nmbdShows);
        QFETCH(QString, plainShows);
        QFETCH(QString, wallShows);
        // What an earlier survey left in the scanner's table is no evidence of this one.
        QCOMPARE(m_lab->run(kScan, {"ip", "neigh", "flush", "all"}).exitCode, 0);
        const QStringList argv {kExe, "discover", "--format", "json", "10.77.50.0/24"};
        const NetnsLab::RunResult r
            = asRoot ? m_lab->run(kScan, argv, 30000) : m_lab->runAsUser(kScan, 65534, 65534, argv, 30000);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        std::map<QString, QJsonObject> byIp;
        const QJsonArray devices = QJsonDocument::fromJson(r.out.toUtf8()).array();
        for (const QJsonValue& v : devices)
            QVERIFY2(byIp.emplace(v["address"].toString(), v.toObject()).second, qPrintable(r.out));
        const auto shows = [&](const QString& ip, const QString& mac, const QString& words) {
            QVERIFY2(byIp.count(ip), qPrintable(ip + QStringLiteral(" missing: ") + r.out));
            const QJsonObject& o = byIp[ip];
            QCOMPARE(o["mac"].toString(), macText(mac));
            QStringList evidence;
            for (const QJsonValue& w : o["evidence"].toArray())
                evidence << w.toString();
            for (const QString& w : words.split(u' '))
                QVERIFY2(evidence.contains(w), qPrintable(ip + QStringLiteral(": ") + evidence.join(u',')));
        };
        for (const LanHost& h : plan().hosts) {
            shows(h.address, h.mac, nmbdShows);
            QCOMPARE(byIp[h.address]["name"].toString(), h.netbiosName);
            QCOMPARE(byIp[h.address]["names"].toArray().first()["source"].toString(), QStringLiteral("netbios"));
        }
        for (const Plain& p : kPlain)
            shows(p.address, p.mac, plainShows);
        // Names from the peers, each with its source; the best is the first.
        const auto named = [&](const Plain& p) {
            QStringList names;
            for (const QJsonValue& n : byIp[p.address]["names"].toArray())
                names << n["source"].toString() + u' ' + n["name"].toString();
            return names;
        };
        QCOMPARE(named(kPlain[0]), QStringList {"mdns labplain.local"});
        QCOMPARE(byIp[kPlain[0].address]["name"].toString(), QStringLiteral("labplain.local"));
        QCOMPARE(named(kPlain[2]), QStringList {"dns plain3.lab.test"});
        QCOMPARE(named(kPlain[3]), QStringList {});
        // The firewall leaves nothing but the link's own answer.
        shows(kWall.address, kWall.mac, wallShows);
        QCOMPARE(byIp[kWall.address]["evidence"].toArray(), QJsonArray {wallShows});
        QCOMPARE(devices.size(), plan().hosts.size() + kPlain.size() + 1);
        QVERIFY(!byIp.count(plan().scannerAddress)); // not a device of its own list
        // Address order.
        QStringList order;
        for (const QJsonValue& v : devices)
            order << v["address"].toString();
        QStringList sorted = order;
        std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
            return a.section(u'.', 3).toInt() < b.section(u'.', 3).toInt();
        });
        QCOMPARE(order, sorted);
    }

private:
    std::unique_ptr<NetnsLab> m_lab;
};

QTEST_GUILESS_MAIN(TestDiscoverLan)
#include "tst_discover_lan.moc"
