// The LAN-range fill of the real window inside private network, UTS and mount namespaces, where the
// test decides the host name, its /etc/hosts entry and the interfaces.
#include "app/Umain.h"
#include "TestSupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {
int child_main(int argc, char* argv[])
{
    QApplication app(argc, argv);
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
    void range_data()
    {
        QTest::addColumn<QString>("hostsIp");   // what the host name resolves to
        QTest::addColumn<QString>("ifaceCidr"); // address on a veth end, empty for none
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::newRow("/24") << "192.168.1.37" << "192.168.1.37/24" << "192.168.1.1" << "192.168.1.254";
        QTest::newRow("/16") << "10.0.5.20" << "10.0.5.20/16" << "10.0.0.1" << "10.0.255.254";
        QTest::newRow("/30") << "192.168.1.5" << "192.168.1.5/30" << "192.168.1.5" << "192.168.1.6";
        QTest::newRow("/32") << "10.0.1.0" << "10.0.1.0/32" << "10.0.1.1" << "10.0.0.255";
        QTest::newRow("loopback") << "127.0.0.1" << "" << "127.0.0.1" << "127.255.255.254";
        QTest::newRow("no matching interface") << "10.9.9.9" << "10.0.5.20/16" << "192.168.1.1" << "192.168.1.254";
    }

    void range()
    {
        CORVANE_REQUIRE_ROOT();
        CORVANE_REQUIRE_PROGRAM("unshare");
        CORVANE_REQUIRE_PROGRAM("ip");
        QFETCH(QString, hostsIp);
        QFETCH(QString, ifaceCidr);
        QFETCH(QString, first);
        QFETCH(QString, last);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile hosts(dir.filePath("hosts"));
        QVERIFY(hosts.open(QIODevice::WriteOnly));
        hosts.write(QStringLiteral("%1 corvtest\n").arg(hostsIp).toLatin1());
        hosts.close();
        QString script = QStringLiteral("set -e; hostname corvtest; mount --bind %1 /etc/hosts; ip link set lo up; ")
                             .arg(hosts.fileName());
        if (!ifaceCidr.isEmpty())
            script += QStringLiteral("ip link add d0 type veth peer name d1; ip addr add %1 dev d0; ip link set d0 up; ")
                          .arg(ifaceCidr);
        script += QStringLiteral("exec \"$0\"");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("CORVANE_LAN_CHILD"), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        // The namespaces die with the child: nothing to tear down.
        child.start(QStringLiteral("unshare"), {"--net", "--uts", "--mount", "--propagation", "private", "sh", "-c",
                                                script, QCoreApplication::applicationFilePath()});
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.exitCode(), 0);
        const QStringList parts = QString::fromLatin1(child.readAllStandardOutput()).trimmed().split(u'|');
        QCOMPARE(parts.size(), 4);
        QCOMPARE(parts[0], QStringLiteral("Corvane v1.1 Beta (Local IP: %1)").arg(hostsIp));
        QCOMPARE(parts[1], hostsIp);
        QCOMPARE(parts[2], first);
        QCOMPARE(parts[3], last);
    }
};

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsSet("CORVANE_LAN_CHILD"))
        return child_main(argc, argv);
    QApplication app(argc, argv);
    TestWindowLan test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_window_lan.moc"
