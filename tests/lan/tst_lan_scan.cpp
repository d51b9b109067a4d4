// A node-status scan of a private LAN: seven nmbd hosts (one local master browser, some with
// aliases), two hosts without nmbd and empty addresses, scanned from a scanner namespace.
#include "NameTables.h"
#include "NmbdLan.h"
#include "ScanLog.h"

#include <QtTest>

#include <map>

using namespace corvane::test;

namespace {

const QString kSubnet = QStringLiteral("10.77.10.");

const LanPlan& plan()
{
    static const LanPlan lan{
        "scan", kSubnet + "2",
        {
            {"nb1", "10.77.10.11", "LANMASTER", "WGMASTER", {}, true},
            {"nb2", "10.77.10.12", "PC-TWO", "WGTWO", {"FILES2"}},
            {"nb3", "10.77.10.13", "PC3", "OFFICE"},
            {"nb4", "10.77.10.14", "FIFTEENCHARSPC4", "ACCOUNTING", {"A4", "B4"}},
            {"nb5", "10.77.10.15", "PC5", "WG5"},
            {"nb6", "10.77.10.36", "LASTPC", "WGSIX", {"PRINTSRV"}},
            // Queried after some 200 empty addresses, whose queries still wait for address resolution.
            {"nb7", "10.77.10.201", "FARPC", "WGSIX"},
        },
        // Hosts that exist (they answer ping) but run no NetBIOS name service.
        {"10.77.10.21", "10.77.10.22"}};
    return lan;
}

} // namespace

class TestLanScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_lab = std::make_unique<NetnsLab>();
        // The master's election is the long wait (about 20 s).
        CORVANE_BUILD_NMBD_LAN(*m_lab, plan());
        m_expected = nmblookupTables(*m_lab, plan());
    }

    void cleanup() { m_scans.stopAll(); }
    void cleanupTestCase() { m_lab.reset(); }

    void labIsTheLanWeMeant()
    {
        NetnsLab& lab = *m_lab;
        for (const QString& quiet : plan().quiet) {
            const auto r = lab.run(QStringLiteral("scan"), {QStringLiteral("ping"), QStringLiteral("-c1"),
                                                            QStringLiteral("-W2"), quiet});
            QVERIFY2(r.exitCode == 0, qPrintable(quiet + QStringLiteral(" is down: ") + r.out));
        }
        for (const auto& h : plan().hosts) {
            const auto& t = m_expected[h.address];
            QVERIFY2(t.contains(NetnsLab::NameEntry{h.netbiosName, 0x20, false}), qPrintable(h.host));
            for (const QString& a : h.aliases)
                QVERIFY2(t.contains(NetnsLab::NameEntry{a, 0x00, false}), qPrintable(h.host));
            QCOMPARE(t.contains(NetnsLab::NameEntry{h.workgroup, 0x1d, false}), h.master);
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
        std::vector<LanHost> inRange;
        for (const auto& h : plan().hosts)
            if (h.address.section(QLatin1Char('.'), 3).toInt() <= last)
                inRange.push_back(h);
        // The scan thread and its socket must be born inside the scanner's namespace.
        NetnsLab::ScopedEnter in(*m_lab, plan().scanner);
        QVERIFY(in.ok());
        const Log log = std::make_shared<ScanLog>();
        TNBTscanThread* scan = m_scans.make(log, kSubnet + QStringLiteral("1"), kSubnet + QString::number(last));
        scan->FreeResults = false;
        scan->Resume();
        QTRY_VERIFY_WITH_TIMEOUT(log->ended, 30000);
        std::map<QString, int> deliveries;
        std::map<QString, QList<NetnsLab::NameEntry>> tables;
        for (const Delivery& d : log->deliveries) {
            ++deliveries[d.ip];
            tables[d.ip] = name_table_of(d.result);
        }
        QVERIFY2(log->errors.isEmpty(), qPrintable(log->errors.join(QLatin1Char('\n'))));
        QCOMPARE(deliveries.size(), inRange.size());
        for (const auto& h : inRange) {
            const QString& ip = h.address;
            QVERIFY2(deliveries.count(ip), qPrintable(ip + QStringLiteral(" not delivered")));
            QCOMPARE(deliveries[ip], 1);
            QCOMPARE(tables[ip], m_expected[ip]);
        }
    }

private:
    std::unique_ptr<NetnsLab> m_lab;
    std::map<QString, QList<NetnsLab::NameEntry>> m_expected;
    ScanFactory m_scans;
};

QTEST_GUILESS_MAIN(TestLanScan)
#include "tst_lan_scan.moc"
