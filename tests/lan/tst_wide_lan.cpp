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
        // root; "user": uid 65534 without capabilities, the kernel resolves; "user+p": uid 65534 running
        // a copy given cap_net_raw+p, which it raises itself to resolve addresses.
        QTest::addColumn<QString>("runAs");
        QTest::addColumn<bool>("noFailed"); // no entry of the scanner's table pending or failed after
        const QStringList nbstat {"nbstat", "--format", "csv"};
        QTest::newRow("nbstat") << nbstat << "" << "root" << true;
        QTest::newRow("nbstat unprivileged") << nbstat << "" << "user" << false;
        QTest::newRow("nbstat cap_net_raw+p") << nbstat << "" << "user+p" << true;
        QTest::newRow("ping") << QStringList {"ping", "--format", "csv"} << "Received" << "root" << false;
    }

    void everyHostOnce()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, found);
        QFETCH(QString, runAs);
        QFETCH(bool, noFailed);
        QString exe = kExe;
        QTemporaryDir copyDir;
        if (runAs == "user+p") {
            if (!hasProgram("setcap"))
                CORVANE_SKIP_OR_FAIL("needs setcap (libcap2-bin)");
            exe = copyDir.filePath("corvane-scan");
            QVERIFY(QFile::copy(kExe, exe));
            QVERIFY(QFile::setPermissions(copyDir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                              | QFile::ReadOther | QFile::ExeOther));
            QCOMPARE(m_lab->run("", {"setcap", "cap_net_raw+p", exe}).exitCode, 0);
        }
        m_lab->run(plan().scanner, {"ip", "neigh", "flush", "all"});
        const QStringList argv = QStringList {exe} + args + QStringList {"10.218.0.0/20"};
        // Without no_new_privs, which would keep the file's capability from being granted.
        const QStringList asNobody {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--inh-caps=-all"};
        const NetnsLab::RunResult r = runAs == "root" ? m_lab->run(plan().scanner, argv, 240000)
            : runAs == "user" ? m_lab->runAsUser(plan().scanner, 65534, 65534, argv, 240000)
                              : m_lab->run(plan().scanner, asNobody + argv, 240000);
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
