// The namespace lab itself: segments, hosts, routing, entering a namespace, nmbd, teardown.
#include "NetnsLab.h"
#include "TestSupport.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using corvane::test::NetnsLab;

class TestNetnsLab : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        CORVANE_REQUIRE_ROOT();
        CORVANE_REQUIRE_PROGRAM("ip");
    }

    void hostsReachEachOtherAndVanish()
    {
        QString prefix;
        {
            NetnsLab lab;
            prefix = lab.prefix();
            QVERIFY(lab.addSegment(QStringLiteral("a")));
            QVERIFY(lab.addHost(QStringLiteral("h1"), QStringLiteral("a"), QStringLiteral("10.77.1.1/24")));
            QVERIFY(lab.addHost(QStringLiteral("h2"), QStringLiteral("a"), QStringLiteral("10.77.1.2/24")));
            QVERIFY2(lab.ok(), qPrintable(lab.lastError()));
            QCOMPARE(NetnsLab::namespacesWithPrefix(prefix).size(), 3);
            const auto r = lab.run(QStringLiteral("h1"), {QStringLiteral("ping"), QStringLiteral("-c1"),
                                                          QStringLiteral("-W2"), QStringLiteral("10.77.1.2")});
            QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
            // Nothing but our namespaces holds these addresses: an address with no host stays silent.
            const auto none = lab.run(QStringLiteral("h1"), {QStringLiteral("ping"), QStringLiteral("-c1"),
                                                             QStringLiteral("-W1"), QStringLiteral("10.77.1.9")});
            QVERIFY(none.exitCode != 0);
            QVERIFY(lab.interfaceOf(QStringLiteral("h2"), QStringLiteral("a")) == QLatin1String("eth0"));
        }
        QVERIFY(NetnsLab::namespacesWithPrefix(prefix).isEmpty());
    }

    void enterMovesOnlyTheCallingThread()
    {
        NetnsLab lab;
        QVERIFY(lab.addSegment(QStringLiteral("a")));
        QVERIFY(lab.addHost(QStringLiteral("h1"), QStringLiteral("a"), QStringLiteral("10.77.2.1/24")));
        QVERIFY2(lab.ok(), qPrintable(lab.lastError()));
        {
            NetnsLab::ScopedEnter in(lab, QStringLiteral("h1"));
            QVERIFY(in.ok());
            // Binding the host's address works only inside its namespace.
            QVERIFY(bindsTo("10.77.2.1"));
        }
        QVERIFY(!bindsTo("10.77.2.1"));
        QVERIFY(!lab.enter(QStringLiteral("nosuchhost")));
    }

    void routerForwardsAndRoutesReject()
    {
        NetnsLab lab;
        QVERIFY(lab.addSegment(QStringLiteral("a")));
        QVERIFY(lab.addSegment(QStringLiteral("b")));
        QVERIFY(lab.addHost(QStringLiteral("left"), QStringLiteral("a"), QStringLiteral("10.77.3.2/24")));
        QVERIFY(lab.addHost(QStringLiteral("right"), QStringLiteral("b"), QStringLiteral("10.77.4.2/24")));
        QVERIFY(lab.addRouter(QStringLiteral("rt"), {{QStringLiteral("a"), QStringLiteral("10.77.3.1/24")},
                                                     {QStringLiteral("b"), QStringLiteral("10.77.4.1/24")}}));
        QVERIFY(lab.addRoute(QStringLiteral("left"), {QStringLiteral("default"), QStringLiteral("via"),
                                                      QStringLiteral("10.77.3.1")}));
        QVERIFY(lab.addRoute(QStringLiteral("right"), {QStringLiteral("default"), QStringLiteral("via"),
                                                       QStringLiteral("10.77.4.1")}));
        QVERIFY(lab.addRoute(QStringLiteral("left"), {QStringLiteral("unreachable"), QStringLiteral("10.77.9.0/24")}));
        QVERIFY2(lab.ok(), qPrintable(lab.lastError()));
        const auto through = lab.run(QStringLiteral("left"), {QStringLiteral("ping"), QStringLiteral("-c1"),
                                                              QStringLiteral("-W2"), QStringLiteral("10.77.4.2")});
        QVERIFY2(through.exitCode == 0, qPrintable(through.out + through.err));
        const auto ttl1 = lab.run(QStringLiteral("left"), {QStringLiteral("ping"), QStringLiteral("-c1"),
                                                           QStringLiteral("-W2"), QStringLiteral("-t1"),
                                                           QStringLiteral("10.77.4.2")});
        QVERIFY2(ttl1.out.contains(QLatin1String("Time to live exceeded")), qPrintable(ttl1.out + ttl1.err));
        const auto rejected = lab.run(QStringLiteral("left"), {QStringLiteral("ping"), QStringLiteral("-c1"),
                                                               QStringLiteral("-W2"), QStringLiteral("10.77.9.5")});
        QVERIFY(rejected.exitCode != 0);
        QVERIFY2(QString(rejected.out + rejected.err).contains(QLatin1String("No route to host")),
                 qPrintable(rejected.out + rejected.err));
    }

    void unprivilegedUserFollowsPingGroupRange()
    {
        NetnsLab lab;
        QVERIFY(lab.addSegment(QStringLiteral("a")));
        QVERIFY(lab.addHost(QStringLiteral("h1"), QStringLiteral("a"), QStringLiteral("10.77.5.1/24")));
        QVERIFY(lab.setSysctl(QStringLiteral("h1"), QStringLiteral("net.ipv4.ping_group_range"), QStringLiteral("1 0")));
        QVERIFY2(lab.ok(), qPrintable(lab.lastError()));
        // iputils ping keeps its file capability, so probe the datagram socket directly.
        const QString python = QStringLiteral("/usr/bin/python3");
        if (!QFileInfo::exists(python))
            QSKIP("needs /usr/bin/python3 to open an ICMP datagram socket as another user");
        const QStringList probe{python, QStringLiteral("-c"),
                                QStringLiteral("import socket; socket.socket(socket.AF_INET, socket.SOCK_DGRAM, "
                                               "socket.IPPROTO_ICMP)")};
        QVERIFY(lab.runAsUser(QStringLiteral("h1"), 65534, 65534, probe).exitCode != 0);
        QVERIFY(lab.setSysctl(QStringLiteral("h1"), QStringLiteral("net.ipv4.ping_group_range"),
                              QStringLiteral("0 2147483647")));
        const auto opened = lab.runAsUser(QStringLiteral("h1"), 65534, 65534, probe);
        QVERIFY2(opened.exitCode == 0, qPrintable(opened.err));
    }

    void nmbdAnswersNmblookup()
    {
        CORVANE_REQUIRE_PROGRAM("nmbd");
        CORVANE_REQUIRE_PROGRAM("nmblookup");
        NetnsLab lab;
        QVERIFY(lab.addSegment(QStringLiteral("a")));
        QVERIFY(lab.addHost(QStringLiteral("pc"), QStringLiteral("a"), QStringLiteral("10.77.6.11/24")));
        QVERIFY(lab.addHost(QStringLiteral("scan"), QStringLiteral("a"), QStringLiteral("10.77.6.2/24")));
        NetnsLab::NmbdConfig pc;
        pc.netbiosName = QStringLiteral("LABPC");
        pc.workgroup = QStringLiteral("LABGRP");
        pc.aliases = QStringList{QStringLiteral("LABALIAS")};
        QVERIFY(lab.startNmbd(QStringLiteral("pc"), pc));
        QVERIFY2(lab.waitForNmbd(QStringLiteral("pc"), QStringLiteral("scan")), qPrintable(lab.lastError()));
        const auto t = lab.nmblookupTable(QStringLiteral("scan"), QStringLiteral("10.77.6.11"));
        QVERIFY(t.contains(NetnsLab::NameEntry{QStringLiteral("LABPC"), 0x20, false}));
        QVERIFY(t.contains(NetnsLab::NameEntry{QStringLiteral("LABALIAS"), 0x00, false}));
        QVERIFY(t.contains(NetnsLab::NameEntry{QStringLiteral("LABGRP"), 0x1e, true}));
        // Not a master: the lab turns elections off unless asked.
        QVERIFY(!t.contains(NetnsLab::NameEntry{QStringLiteral("LABGRP"), 0x1d, false}));
    }

    void parseNmblookup_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("suffix");
        QTest::addColumn<bool>("group");
        QTest::newRow("unique") << "\tPC1             <20> -         B <ACTIVE> " << 1 << "PC1" << 0x20 << false;
        QTest::newRow("group") << "\tWG              <1e> - <GROUP> B <ACTIVE> " << 1 << "WG" << 0x1e << true;
        QTest::newRow("browse") << "\t..__MSBROWSE__. <01> - <GROUP> B <ACTIVE> " << 1 << "..__MSBROWSE__." << 1
                                << true;
        QTest::newRow("full width") << "\tABCDEFGHIJKLMNO <00> - M <ACTIVE> " << 1 << "ABCDEFGHIJKLMNO" << 0 << false;
        QTest::newRow("heading") << "Looking up status of 10.0.0.1" << 0 << "" << 0 << false;
        QTest::newRow("mac") << "\tMAC Address = 00-00-00-00-00-00" << 0 << "" << 0 << false;
        QTest::newRow("no reply") << "No reply from 10.0.0.1" << 0 << "" << 0 << false;
    }

    void parseNmblookup()
    {
        QFETCH(QString, line);
        QFETCH(int, count);
        const auto t = NetnsLab::parseNmblookup(line + QLatin1Char('\n'));
        QCOMPARE(t.size(), count);
        if (count == 0)
            return;
        QFETCH(QString, name);
        QFETCH(int, suffix);
        QFETCH(bool, group);
        QCOMPARE(t.first().name, name);
        QCOMPARE(t.first().suffix, suffix);
        QCOMPARE(t.first().group, group);
    }

private:
    static bool bindsTo(const char* address)
    {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        ::inet_pton(AF_INET, address, &sa.sin_addr);
        const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
        ::close(fd);
        return ok;
    }
};

QTEST_GUILESS_MAIN(TestNetnsLab)
#include "tst_netnslab.moc"
