// A node-status scan of a private LAN: seven nmbd hosts (one local master browser, some with
// aliases), two hosts without nmbd and empty addresses, scanned from a scanner namespace.
#include "NameTables.h"
#include "NetnsLab.h"
#include "TestSupport.h"

#include <QtTest>

#include <map>

#include "netbios/nbtscan.h"
#include "netbios/netBios_procs.h"

using corvane::test::NetnsLab;

namespace {

struct PlannedHost
{
    const char* host;
    const char* address;
    const char* name;
    const char* workgroup;
    QStringList aliases;
    bool master;
};

const QString kSubnet = QStringLiteral("10.77.10.");

const std::vector<PlannedHost>& plan()
{
    static const std::vector<PlannedHost> hosts{
        {"nb1", "10.77.10.11", "LANMASTER", "WGMASTER", {}, true},
        {"nb2", "10.77.10.12", "PC-TWO", "WGTWO", {QStringLiteral("FILES2")}, false},
        {"nb3", "10.77.10.13", "PC3", "OFFICE", {}, false},
        {"nb4", "10.77.10.14", "FIFTEENCHARSPC4", "ACCOUNTING", {QStringLiteral("A4"), QStringLiteral("B4")}, false},
        {"nb5", "10.77.10.15", "PC5", "WG5", {}, false},
        {"nb6", "10.77.10.36", "LASTPC", "WGSIX", {QStringLiteral("PRINTSRV")}, false},
        // Queried after some 200 empty addresses, whose queries still wait for address resolution.
        {"nb7", "10.77.10.201", "FARPC", "WGSIX", {}, false},
    };
    return hosts;
}

// Hosts that exist (they answer ping) but run no NetBIOS name service.
const QStringList kSilent{QStringLiteral("10.77.10.21"), QStringLiteral("10.77.10.22")};

} // namespace

class TestLanScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        CORVANE_REQUIRE_ROOT();
        CORVANE_REQUIRE_PROGRAM("ip");
        CORVANE_REQUIRE_PROGRAM("nmbd");
        CORVANE_REQUIRE_PROGRAM("nmblookup");
        m_lab = std::make_unique<NetnsLab>();
        NetnsLab& lab = *m_lab;
        QVERIFY(lab.addSegment(QStringLiteral("lan")));
        QVERIFY(lab.addHost(QStringLiteral("scan"), QStringLiteral("lan"), kSubnet + QStringLiteral("2/24")));
        for (const auto& h : plan()) {
            QVERIFY(lab.addHost(QLatin1String(h.host), QStringLiteral("lan"), QLatin1String(h.address) + QStringLiteral("/24")));
            NetnsLab::NmbdConfig c;
            c.netbiosName = QLatin1String(h.name);
            c.workgroup = QLatin1String(h.workgroup);
            c.aliases = h.aliases;
            c.localMaster = h.master;
            QVERIFY2(lab.startNmbd(QLatin1String(h.host), c), qPrintable(lab.lastError()));
        }
        for (int i = 0; i < kSilent.size(); ++i)
            QVERIFY(lab.addHost(QStringLiteral("quiet%1").arg(i), QStringLiteral("lan"), kSilent[i] + QStringLiteral("/24")));
        QVERIFY2(lab.ok(), qPrintable(lab.lastError()));
        // All peers start together; the master's election is the long wait (about 20 s).
        for (const auto& h : plan())
            QVERIFY2(lab.waitForNmbd(QLatin1String(h.host), QStringLiteral("scan")), qPrintable(lab.lastError()));
        QVERIFY2(lab.waitForMasterBrowser(QStringLiteral("nb1"), QStringLiteral("scan")), qPrintable(lab.lastError()));
        for (const auto& h : plan())
            m_expected[QLatin1String(h.address)] = lab.nmblookupTable(QStringLiteral("scan"), QLatin1String(h.address));
    }

    void cleanupTestCase() { m_lab.reset(); }

    void labIsTheLanWeMeant()
    {
        NetnsLab& lab = *m_lab;
        for (const QString& quiet : kSilent) {
            const auto r = lab.run(QStringLiteral("scan"), {QStringLiteral("ping"), QStringLiteral("-c1"),
                                                            QStringLiteral("-W2"), quiet});
            QVERIFY2(r.exitCode == 0, qPrintable(quiet + QStringLiteral(" is down: ") + r.out));
        }
        for (const auto& h : plan()) {
            const auto& t = m_expected[QLatin1String(h.address)];
            QVERIFY2(t.contains(NetnsLab::NameEntry{QLatin1String(h.name), 0x20, false}), h.host);
            for (const QString& a : h.aliases)
                QVERIFY2(t.contains(NetnsLab::NameEntry{a, 0x00, false}), h.host);
            QCOMPARE(t.contains(NetnsLab::NameEntry{QLatin1String(h.workgroup), 0x1d, false}), h.master);
        }
        QVERIFY(m_expected[QStringLiteral("10.77.10.11")].contains(
            NetnsLab::NameEntry{QStringLiteral("..__MSBROWSE__."), 0x01, true}));
    }

    void scanDeliversExactlyTheNmbdHosts_data()
    {
        QTest::addColumn<int>("last");
        QTest::newRow("first 40 addresses") << 40;
        QTest::newRow("the /24, mostly empty addresses") << 254;
    }

    void scanDeliversExactlyTheNmbdHosts()
    {
        QFETCH(int, last);
        std::vector<PlannedHost> inRange;
        for (const auto& h : plan())
            if (QString::fromLatin1(h.address).section(QLatin1Char('.'), 3).toInt() <= last)
                inRange.push_back(h);
        // The scan thread and its socket must be born inside the scanner's namespace.
        NetnsLab::ScopedEnter in(*m_lab, QStringLiteral("scan"));
        QVERIFY(in.ok());
        std::map<QString, int> deliveries;
        std::map<QString, QList<NetnsLab::NameEntry>> tables;
        QStringList errors;
        bool ended = false;
        auto* scan = new TNBTscanThread();
        scan->StartIP = kSubnet + QStringLiteral("1");
        scan->EndIP = kSubnet + QString::number(last);
        scan->FreeResults = false;
        scan->OnReceive = [&](TNBTscanThread*, const QString& ip, nb_status_result* r) {
            ++deliveries[ip];
            tables[ip] = corvane::test::name_table_of(r);
            release_result(r);
        };
        scan->OnError = [&](TNBTscanThread*, const QString& line) { errors << line; };
        scan->OnTerminate = [&](TNBTscanThread*) { ended = true; };
        scan->FreeOnTerminate = true;
        scan->Resume();
        QTRY_VERIFY_WITH_TIMEOUT(ended, 30000);
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
        QCOMPARE(deliveries.size(), inRange.size());
        for (const auto& h : inRange) {
            const QString ip = QLatin1String(h.address);
            QVERIFY2(deliveries.count(ip), qPrintable(ip + QStringLiteral(" not delivered")));
            QCOMPARE(deliveries[ip], 1);
            QCOMPARE(tables[ip], m_expected[ip]);
        }
    }

private:
    std::unique_ptr<NetnsLab> m_lab;
    std::map<QString, QList<NetnsLab::NameEntry>> m_expected;
};

QTEST_GUILESS_MAIN(TestLanScan)
#include "tst_lan_scan.moc"
