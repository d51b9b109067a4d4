// corvane-scan over a flat /20 of network namespaces whose nmbd hosts sit after the first 1,500
// addresses: by then the empty addresses before them hold more pending address resolutions than the
// machine-wide neighbour table has room for. Every host must still be found once, with no error line.
// It fills that table, so it runs alone (RUN_SERIAL) and holds /tmp/corvane-neigh.lock meanwhile.
#include "NmbdLan.h"

#include <QtTest>

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

using namespace corvane::test;

namespace {

const QString kExe = QStringLiteral(CORVANE_SCAN_EXE);

const LanPlan& plan()
{
    // 10.218.6.1 is the 1,537th address of the /20.
    static const LanPlan lan = [] {
        LanPlan p {"scan", "10.218.0.2",
                   {{"nb1", "10.218.6.1", "WIDE-ONE", "WGW"},
                    {"nb2", "10.218.9.77", "WIDE-TWO", "WGW"},
                    {"nb3", "10.218.15.250", "WIDE-THREE", "WGW"}}};
        p.prefixLength = 20;
        return p;
    }();
    return lan;
}

} // namespace

class TestWideLan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_lock = ::open("/tmp/corvane-neigh.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        QVERIFY(m_lock >= 0 && ::flock(m_lock, LOCK_EX) == 0);
        m_lab = std::make_unique<NetnsLab>();
        CORVANE_BUILD_NMBD_LAN(*m_lab, plan());
    }

    void cleanupTestCase()
    {
        m_lab.reset(); // its namespaces go, and their neighbour entries with them
        if (m_lock >= 0)
            ::close(m_lock);
    }

    void everyHostOnce_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("found"); // the csv field that marks a found host
        QTest::addColumn<bool>("asUser");    // uid 65534 without capabilities: the kernel resolves
        QTest::addColumn<bool>("noFailed");  // no entry of the scanner's table pending or failed after
        QTest::newRow("nbstat") << QStringList {"nbstat", "--format", "csv"} << "" << false << true;
        QTest::newRow("nbstat unprivileged")
            << QStringList {"nbstat", "--format", "csv"} << "" << true << false;
        QTest::newRow("ping") << QStringList {"ping", "--format", "csv"} << "Received" << false << false;
    }

    void everyHostOnce()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, found);
        QFETCH(bool, asUser);
        QFETCH(bool, noFailed);
        m_lab->run(plan().scanner, {"ip", "neigh", "flush", "all"});
        const QStringList argv = QStringList {kExe} + args + QStringList {"10.218.0.0/20"};
        const NetnsLab::RunResult r = asUser ? m_lab->runAsUser(plan().scanner, 65534, 65534, argv, 240000)
                                             : m_lab->run(plan().scanner, argv, 240000);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        QStringList hosts;
        for (const QString& line : r.out.split(QStringLiteral("\r\n")).mid(1)) {
            if (!line.isEmpty() && (found.isEmpty() || line.section(u',', 1, 1) == found))
                hosts << line.section(u',', 0, 0);
        }
        hosts.sort();
        QStringList expected;
        for (const LanHost& h : plan().hosts)
            expected << h.address;
        if (!found.isEmpty()) // the scanner answers its own echo
            expected << plan().scannerAddress;
        expected.sort();
        QCOMPARE(hosts, expected);
        if (noFailed) {
            // As root the scan resolves addresses itself: the kernel only ever resolved the hosts.
            const NetnsLab::RunResult table
                = m_lab->run(plan().scanner, {"ip", "neigh", "show", "nud", "incomplete", "nud", "failed"});
            QCOMPARE(table.exitCode, 0);
            QCOMPARE(table.out, QString());
        }
    }

private:
    int m_lock = -1;
    std::unique_ptr<NetnsLab> m_lab;
};

QTEST_GUILESS_MAIN(TestWideLan)
#include "tst_wide_lan.moc"
