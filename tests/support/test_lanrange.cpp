#include "platform/Ipv4.h"
#include "support/LanRange.h"

#include <QTest>

#include <arpa/inet.h>

#include <vector>

using corvane::TLanInterface;

namespace {
std::uint32_t addr(const char* text)
{
    return inet_addr(text);
}

QString dottedNet(std::uint32_t netOrder)
{
    return corvane::ipv4::dotted(corvane::ipv4::TNetAddr{netOrder});
}
} // namespace

class TestLanRange : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void range_data()
    {
        QTest::addColumn<QString>("local");
        QTest::addColumn<QStringList>("interfaces"); // "address/mask" in system order
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");

        QTest::newRow("/24") << "192.168.1.37" << QStringList{"127.0.0.1/255.0.0.0", "192.168.1.37/255.255.255.0"}
                             << true << "192.168.1.1" << "192.168.1.254";
        QTest::newRow("/16") << "10.0.5.20" << QStringList{"10.0.5.20/255.255.0.0"} << true << "10.0.0.1"
                             << "10.0.255.254";
        QTest::newRow("/30") << "192.168.1.5" << QStringList{"192.168.1.5/255.255.255.252"} << true
                             << "192.168.1.5" << "192.168.1.6";
        QTest::newRow("/32 borrows") << "10.0.1.0" << QStringList{"10.0.1.0/255.255.255.255"} << true << "10.0.1.1"
                                     << "10.0.0.255";
        QTest::newRow("loopback") << "127.0.0.1" << QStringList{"127.0.0.1/255.0.0.0"} << true << "127.0.0.1"
                                  << "127.255.255.254";
        QTest::newRow("first match decides") << "10.1.2.3"
                                             << QStringList{"10.1.2.3/255.255.255.0", "10.1.2.3/255.255.0.0"}
                                             << true << "10.1.2.1" << "10.1.2.254";
        QTest::newRow("no match") << "192.168.7.7" << QStringList{"127.0.0.1/255.0.0.0", "10.0.0.1/255.0.0.0"}
                                  << false << "" << "";
        QTest::newRow("empty list") << "192.168.7.7" << QStringList{} << false << "" << "";
        QTest::newRow("unknown local 0.0.0.0") << "0.0.0.0" << QStringList{"10.0.0.1/255.0.0.0"} << false << ""
                                               << "";
    }

    void range()
    {
        QFETCH(QString, local);
        QFETCH(QStringList, interfaces);
        QFETCH(bool, found);
        QFETCH(QString, first);
        QFETCH(QString, last);

        std::vector<TLanInterface> list;
        for (const QString& entry : interfaces) {
            const QStringList parts = entry.split(u'/');
            list.push_back({addr(parts[0].toLatin1().constData()), addr(parts[1].toLatin1().constData())});
        }
        const corvane::TLanRange range = corvane::lan_range(addr(local.toLatin1().constData()), list);
        QCOMPARE(range.found, found);
        if (found) {
            QCOMPARE(dottedNet(range.first), first);
            QCOMPARE(dottedNet(range.last), last);
        }
    }

    void dotted_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << "0.0.0.0";
        QTest::newRow("all ones") << "255.255.255.255";
        QTest::newRow("mixed") << "10.200.3.47";
    }

    void dotted()
    {
        QFETCH(QString, text);
        const std::uint32_t value = addr(text.toLatin1().constData());
        QCOMPARE(dottedNet(value), QString::fromLatin1(inet_ntoa(in_addr{value})));
    }
};

QTEST_GUILESS_MAIN(TestLanRange)
#include "test_lanrange.moc"
