// Names from real peers on a namespace LAN: avahi-daemon answers the unicast reverse mDNS query,
// a responder of the test's own answers LLMNR, dnsmasq is the scanner's resolver for reverse DNS.
// The names are asked by names_probe run with "ip netns exec", so it reads the namespace's resolv.conf.
#include "DnsPeer.h"
#include "NetnsLab.h"
#include "TestSupport.h"

#include <QTest>

using corvane::test::DnsPeer;
using corvane::test::NetnsLab;

class TestNamesLan : public QObject
{
    Q_OBJECT

    std::unique_ptr<NetnsLab> m_lab;
    std::unique_ptr<DnsPeer> m_llmnr;
    QStringList m_lines; // the probe's output

private Q_SLOTS:
    void initTestCase()
    {
        CORVANE_REQUIRE_ROOT();
        CORVANE_REQUIRE_PROGRAM("avahi-daemon");
        CORVANE_REQUIRE_PROGRAM("dnsmasq");
        m_lab = std::make_unique<NetnsLab>();
        NetnsLab& lab = *m_lab;
        QVERIFY2(lab.addSegment("lan"), qPrintable(lab.lastError()));
        for (const auto& [host, cidr] : QList<std::pair<QString, QString>> {{"scan", "10.77.0.2/24"},
                                                                            {"mac1", "10.77.0.11/24"},
                                                                            {"win1", "10.77.0.12/24"},
                                                                            {"plain1", "10.77.0.13/24"},
                                                                            {"dns", "10.77.0.53/24"}})
            QVERIFY2(lab.addHost(host, "lan", cidr), qPrintable(lab.lastError()));

        QVERIFY2(lab.startAvahi("mac1", "labmac"), qPrintable(lab.lastError()));
        QVERIFY2(
            lab.startDnsmasq(
                "dns",
                {{"mac1.lab.test", "10.77.0.11"}, {"win1.lab.test", "10.77.0.12"}, {"plain1.lab.test", "10.77.0.13"}}),
            qPrintable(lab.lastError()));
        QVERIFY2(lab.setResolver("scan", "10.77.0.53"), qPrintable(lab.lastError()));
        {
            // A Windows host answers LLMNR for its own address only.
            NetnsLab::ScopedEnter in(lab, "win1");
            QVERIFY(in.ok());
            const QByteArray own = corvane::test::dns_labels("12.0.77.10.in-addr.arpa");
            m_llmnr = std::make_unique<DnsPeer>([own](const QByteArray& q) {
                return corvane::test::question_of(q).startsWith(own)
                    ? std::vector<DnsPeer::Reply> {{corvane::test::ptr_reply(q, "LABWIN"), {}}}
                    : std::vector<DnsPeer::Reply> {};
            });
            QVERIFY2(m_llmnr->start(QStringLiteral("10.77.0.12"), 5355), qPrintable(m_llmnr->lastError()));
        }
        QVERIFY2(lab.waitForAvahi("mac1", "scan"), qPrintable(lab.lastError()));

        const auto r
            = lab.run("scan",
                      {QStringLiteral(CORVANE_NAMES_PROBE), QStringLiteral("--timeout"), QStringLiteral("1500"),
                       "10.77.0.11", "10.77.0.12", "10.77.0.13", "10.77.0.53", "10.77.0.99"},
                      20000);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        m_lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    void namesOfEachHost_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QStringList>("names"); // "source name", in the order given
        QTest::newRow("avahi host") << "10.77.0.11" << QStringList {"mdns labmac.local", "dns mac1.lab.test"};
        QTest::newRow("llmnr host") << "10.77.0.12" << QStringList {"llmnr LABWIN", "dns win1.lab.test"};
        QTest::newRow("only in dns") << "10.77.0.13" << QStringList {"dns plain1.lab.test"};
        QTest::newRow("the resolver, unnamed") << "10.77.0.53" << QStringList {};
        QTest::newRow("nobody there") << "10.77.0.99" << QStringList {};
    }
    void namesOfEachHost()
    {
        QFETCH(QString, address);
        QFETCH(QStringList, names);
        QStringList got;
        for (const QString& line : m_lines) {
            const QStringList f = line.split(QLatin1Char('\t'));
            if (f.size() == 3 && f[0] == address)
                got << f[1] + QLatin1Char(' ') + f[2];
        }
        QVERIFY2(got == names, qPrintable(QStringLiteral("got: ") + got.join(QStringLiteral("; "))));
    }

    void cleanupTestCase()
    {
        m_llmnr.reset();
        m_lab.reset();
    }
};

QTEST_GUILESS_MAIN(TestNamesLan)
#include "tst_names_lan.moc"
