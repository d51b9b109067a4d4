// The real window on a private LAN: its range fill inside private network, UTS and mount namespaces,
// where the test decides the host name, its /etc/hosts entry and the interfaces; and a node-status
// scan of Samba nmbd hosts.
#include "GuiTestMain.h"
#include "NmbdLan.h"
#include "ProgramRun.h"
#include "TestSupport.h"
#include "WindowDriver.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTreeView>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

using namespace corvane::test;

namespace {
int child_main(int, char**)
{
    TFrm_Corvane w;
    std::printf("%s|%s|%s|%s\n", qPrintable(w.windowTitle()),
                qPrintable(w.findChild<QLineEdit*>("Ed_IP")->text()),
                qPrintable(w.findChild<QLineEdit*>("Ed_IPstart")->text()),
                qPrintable(w.findChild<QLineEdit*>("Ed_IPend")->text()));
    return 0;
}
} // namespace

class TestWindowLan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each interface is one end of a veth pair whose other end is up, so it has a carrier;
    // "cidr down" leaves it down. The host name is on the hosts line, after Debian's localhost line.
    void range_data()
    {
        QTest::addColumn<QString>("hostsIp");      // what the host name resolves to
        QTest::addColumn<QStringList>("ifaces");
        QTest::addColumn<QString>("gateway");      // default route, empty for none
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        const QStringList none;
        QTest::newRow("/24") << "192.168.1.37" << QStringList{"192.168.1.37/24"} << "" << "192.168.1.37"
                             << "192.168.1.1" << "192.168.1.254";
        QTest::newRow("/16") << "10.0.5.20" << QStringList{"10.0.5.20/16"} << "" << "10.0.5.20" << "10.0.0.1"
                             << "10.0.255.254";
        QTest::newRow("/30") << "192.168.1.5" << QStringList{"192.168.1.5/30"} << "" << "192.168.1.5"
                             << "192.168.1.5" << "192.168.1.6";
        QTest::newRow("/32") << "10.0.1.0" << QStringList{"10.0.1.0/32"} << "" << "10.0.1.0" << "10.0.1.1"
                             << "10.0.0.255";
        QTest::newRow("loopback") << "127.0.0.1" << none << "" << "127.0.0.1" << "127.0.0.1" << "127.255.255.254";
        QTest::newRow("no matching interface") << "10.9.9.9" << QStringList{"10.0.5.20/16"} << "" << "10.0.5.20"
                                               << "10.0.0.1" << "10.0.255.254";
        QTest::newRow("Debian 127.0.1.1") << "127.0.1.1" << QStringList{"10.80.0.2/24"} << "" << "10.80.0.2"
                                          << "10.80.0.1" << "10.80.0.254";
        QTest::newRow("127.0.0.1 with an adapter") << "127.0.0.1" << QStringList{"10.80.0.2/24"} << ""
                                                   << "10.80.0.2" << "10.80.0.1" << "10.80.0.254";
        QTest::newRow("own address before the default route")
            << "10.81.0.2" << QStringList{"10.80.0.2/24", "10.81.0.2/16"} << "10.80.0.1" << "10.81.0.2"
            << "10.81.0.1" << "10.81.255.254";
        QTest::newRow("default route on the second adapter")
            << "127.0.1.1" << QStringList{"10.80.0.2/24", "10.81.0.2/16"} << "10.81.0.1" << "10.81.0.2"
            << "10.81.0.1" << "10.81.255.254";
        QTest::newRow("first adapter up without default route")
            << "127.0.1.1" << QStringList{"10.80.0.2/24", "10.81.0.2/16"} << "" << "10.80.0.2" << "10.80.0.1"
            << "10.80.0.254";
        QTest::newRow("named adapter down") << "10.80.0.2" << QStringList{"10.80.0.2/24 down", "10.81.0.2/16"} << ""
                                            << "10.81.0.2" << "10.81.0.1" << "10.81.255.254";
        QTest::newRow("only adapter down") << "10.80.0.2" << QStringList{"10.80.0.2/24 down"} << "" << "127.0.0.1"
                                           << "127.0.0.1" << "127.255.255.254";
        QTest::newRow("only loopback, Debian") << "127.0.1.1" << none << "" << "127.0.0.1" << "127.0.0.1"
                                               << "127.255.255.254";
    }

    void range()
    {
        CORVANE_REQUIRE_ROOT();
        CORVANE_REQUIRE_PROGRAM("unshare");
        CORVANE_REQUIRE_PROGRAM("ip");
        QFETCH(QString, hostsIp);
        QFETCH(QStringList, ifaces);
        QFETCH(QString, gateway);
        QFETCH(QString, local);
        QFETCH(QString, first);
        QFETCH(QString, last);
        QTemporaryDir dir;
        const QString hosts
            = writeFile(dir, "hosts", QStringLiteral("127.0.0.1 localhost\n%1 corvtest\n").arg(hostsIp).toLatin1());
        QVERIFY(!hosts.isEmpty());
        QString script
            = QStringLiteral("set -e; hostname corvtest; mount --bind %1 /etc/hosts; ip link set lo up; ").arg(hosts);
        for (int i = 0; i < ifaces.size(); ++i) {
            const QStringList words = ifaces[i].split(u' ');
            script += QStringLiteral("ip link add e%1 type veth peer name p%1; ip addr add %2 dev e%1; "
                                     "ip link set p%1 up; ")
                          .arg(i)
                          .arg(words[0]);
            if (!words.contains(QLatin1String("down")))
                script += QStringLiteral("ip link set e%1 up; ").arg(i);
        }
        if (!gateway.isEmpty())
            script += QStringLiteral("ip route add default via %1; ").arg(gateway);
        script += QStringLiteral("exec \"$0\"");
        // The namespaces die with the child: nothing to tear down.
        const ProgramRun child = runProgram(QStringLiteral("unshare"),
                                            {"--net", "--uts", "--mount", "--propagation", "private", "sh", "-c", script,
                                             QCoreApplication::applicationFilePath()},
                                            ProgramOptions().env({{"CORVANE_LAN_CHILD", "1"}}).timeout(20000));
        QVERIFY(!child.timedOut && child.startError.isEmpty());
        QVERIFY2(child.code == 0, child.err.constData());
        const QStringList parts = QString::fromLatin1(child.out).trimmed().split(u'|');
        QCOMPARE(parts.size(), 4);
        QCOMPARE(parts[0], QStringLiteral("Corvane v1.1 Beta (Local IP: %1)").arg(local));
        QCOMPARE(parts[1], local);
        QCOMPARE(parts[2], first);
        QCOMPARE(parts[3], last);
    }

    // One row per nmbd host; a selected host's name table as nmblookup -A sees it.
    void scanOfNmbdHosts()
    {
        // The adapters' own addresses; nmbd reports zeros. 10.79.0.21 is up, but has no name service.
        const LanPlan plan{"scan", "10.79.0.2",
                           {{"nb1", "10.79.0.11", "PCALPHA", "WGLAB", {"FILESRV"}, false, "00:11:22:33:44:01"},
                            {"nb2", "10.79.0.12", "PCBETA", "WGLAB", {}, false, "02:00:00:00:00:12"},
                            {"nb3", "10.79.0.25", "FIFTEENCHARSPC3", "OTHERGROUP", {}, false, "02:00:00:00:00:25"}},
                           {"10.79.0.21"}};
        const QList<LanHost>& hosts = plan.hosts;
        QTemporaryDir registry;
        QVERIFY(!writeFile(registry, "oui.csv", "MA-L,001122,Lab Maker,x\n").isEmpty());
        const QByteArray oldRegistry = qgetenv("CORVANE_IEEE_DATA");
        qputenv("CORVANE_IEEE_DATA", QFile::encodeName(registry.path()));
        const auto restore = qScopeGuard([&] { qputenv("CORVANE_IEEE_DATA", oldRegistry); });
        NetnsLab lab;
        CORVANE_BUILD_NMBD_LAN(lab, plan);

        NetnsLab::ScopedEnter in(lab, "scan"); // the window's scan thread is born in here
        QVERIFY(in.ok());
        corvane::test::WindowDriver win;
        TFrm_Corvane& w = win.w;
        const QStringList& boxes = win.boxes;
        win.scan("10.79.0.1", "10.79.0.30");
        QTRY_VERIFY_WITH_TIMEOUT(boxes.size() == 1 && !w.ScanThreadsAlive(), 30000);
        QCOMPARE(boxes, QStringList{"Scanning finished.\rComputers founded: 3"});
        QCOMPARE(w.statusPanel(1)->text(), QStringLiteral("3"));
        auto* info = w.findChild<QPlainTextEdit*>("Lst_HostInfo");
        QCOMPARE(win.rows(), 3);
        QVERIFY(w.findChild<QPlainTextEdit*>("Lst_err")->toPlainText().isEmpty());
        for (int i = 0; i < win.rows(); ++i) {
            const QString address = win.cell(i, 0);
            const auto h = std::find_if(hosts.begin(), hosts.end(),
                                        [&](const LanHost& x) { return address == x.address; });
            QVERIFY2(h != hosts.end(), qPrintable(address));
            QCOMPARE(win.cell(i, 1), h->netbiosName);
            QCOMPARE(win.cell(i, 3), h->workgroup);
            QCOMPARE(win.cell(i, TFrm_Corvane::ColFileService), QStringLiteral("True"));
            QCOMPARE(win.cell(i, TFrm_Corvane::ColMasterBrowser), QStringLiteral("False"));
            // The reported zeros stay; the vendor and its tool tip come from the neighbour table.
            const QString neighbour = h->mac.toUpper().replace(u':', u'.');
            QCOMPARE(win.cell(i, TFrm_Corvane::ColMAC), QStringLiteral("00.00.00.00.00.00"));
            const QString vendor = QLatin1String(h->host == QLatin1String("nb1") ? "Lab Maker\n" : "");
            QTRY_COMPARE(win.tip(i, TFrm_Corvane::ColVendor),
                         vendor + QStringLiteral("Adapter address from the neighbour table: ") + neighbour);
            QCOMPARE(win.cell(i, TFrm_Corvane::ColVendor), vendor.trimmed());

            win.select(i);
            const QStringList lines = info->toPlainText().split(u'\n');
            QVERIFY(lines.size() > 1);
            QVERIFY(lines[0].startsWith(QStringLiteral("Name ")));
            QList<NetnsLab::NameEntry> shown;
            for (const QString& line : lines.mid(1)) {
                // "%-18s %-2.2X - %-42s %s "
                const int dash = int(line.indexOf(QStringLiteral(" - ")));
                QVERIFY2(dash >= 21, qPrintable(line));
                const QString flags = line.mid(dash + 3 + 43);
                shown << NetnsLab::NameEntry{line.left(dash - 3).trimmed(), line.mid(dash - 2, 2).toInt(nullptr, 16),
                                             flags.startsWith(QStringLiteral("GROUP "))};
                QVERIFY2(flags.startsWith(QStringLiteral("GROUP ")) || flags.startsWith(QStringLiteral("UNIQUE")),
                         qPrintable(line));
            }
            const QList<NetnsLab::NameEntry> reported = lab.nmblookupTable("scan", address);
            QVERIFY(!reported.isEmpty());
            QCOMPARE(shown, reported);
        }

        // corvane-scan prints the same list as the window saves. Rows come in the order the answers
        // arrived, which two scans need not share, so the rows are compared as sorted lines.
        QTemporaryDir dir;
        const QString saved = dir.filePath("hosts.txt");
        win.desktop.fileAnswer = [&](const QFileDialog&) { return saved; };
        w.findChild<QAction*>("Savenetworklist1")->trigger();
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray windowText = file.readAll();
        const NetnsLab::RunResult cli = lab.run("scan", {CORVANE_SCAN_EXE, "nbstat", "10.79.0.1", "10.79.0.30"});
        QCOMPARE(cli.exitCode, 0);
        const auto lines = [](const QByteArray& text) {
            QList<QByteArray> l = text.split('\n');
            std::sort(l.begin() + 1, l.end());
            return l;
        };
        QCOMPARE(cli.out.toUtf8().size(), windowText.size());
        QCOMPARE(lines(cli.out.toUtf8()), lines(windowText));
    }
};

CORVANE_GUI_TEST_MAIN(TestWindowLan, corvane::test::Loopback::Machine,
                      [](int, char**) { return qEnvironmentVariableIsSet("CORVANE_LAN_CHILD"); }, child_main)
#include "test_window_lan.moc"
