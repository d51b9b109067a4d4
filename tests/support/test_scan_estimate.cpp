// What a large range costs before it starts, and the progress texts while a survey runs.
#include "support/ScanEstimate.h"

#include <QTest>

#include <arpa/inet.h>

using corvane::TSurvey;
using corvane::ipv4::THostRange;

Q_DECLARE_METATYPE(corvane::TSurvey)

namespace {
THostRange range(const char* first, const char* last)
{
    return {*corvane::ipv4::parse_strict(QString::fromLatin1(first)),
            *corvane::ipv4::parse_strict(QString::fromLatin1(last))};
}
} // namespace

class TestScanEstimate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Addresses on the local link pace a node-status scan by the neighbour table; the rest by the
    // one-query-per-millisecond clock; a sweep waits out the time-out at each silent address.
    void estimate_data()
    {
        QTest::addColumn<TSurvey>("survey");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<qulonglong>("onLink");
        QTest::addColumn<qlonglong>("ms");
        QTest::addColumn<QString>("duration");
        const TSurvey nb = TSurvey::NodeStatus;
        // Interfaces: loopback, a /8 LAN on eth0 and a /24 beside it.
        QTest::newRow("/8 adapter's subnet") << nb << "10.0.0.1" << "10.255.255.254" << 16777214ull
                                             << 16777214ll * 3 + 1000 << "14 hours";
        QTest::newRow("routed only") << nb << "172.16.0.1" << "172.16.255.254" << 0ull << 65534ll + 1000
                                     << "67 seconds";
        QTest::newRow("half on the /24") << nb << "192.168.5.128" << "192.168.6.127" << 128ull
                                         << 128ll * 3 + 128 + 1000 << "2 seconds";
        QTest::newRow("loopback needs no neighbour") << nb << "127.0.0.1" << "127.1.0.1" << 0ull
                                                     << 65537ll + 1000 << "67 seconds";
        QTest::newRow("sweep waits the time-out") << TSurvey::Ping << "10.0.0.1" << "10.255.255.254"
                                                  << 16777214ull << 16777214ll * 30 << "5.8 days";
    }

    void estimate()
    {
        QFETCH(TSurvey, survey);
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(qulonglong, onLink);
        QFETCH(qlonglong, ms);
        QFETCH(QString, duration);
        const std::vector<corvane::TLanInterface> interfaces {{inet_addr("127.0.0.1"), inet_addr("255.0.0.0")},
                                                              {inet_addr("10.20.30.40"), inet_addr("255.0.0.0")},
                                                              {inet_addr("192.168.5.7"), inet_addr("255.255.255.0")}};
        const THostRange r = range(first.toLatin1().constData(), last.toLatin1().constData());
        const corvane::TScanEstimate e = corvane::estimate_scan(survey, r, corvane::on_link_nets(interfaces), 30);
        QCOMPARE(e.addresses, r.count());
        QCOMPARE(qulonglong(e.onLink), onLink);
        QCOMPARE(qlonglong(e.ms), ms);
        QCOMPARE(corvane::duration_text(e.ms), duration);
    }

    void duration_data()
    {
        QTest::addColumn<qlonglong>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("under a second") << 200ll << "1 second";
        QTest::newRow("seconds") << 44600ll << "45 seconds";
        QTest::newRow("minutes") << 12ll * 60000 << "12 minutes";
        QTest::newRow("hour and a half") << 90ll * 60000 << "1.5 hours";
        QTest::newRow("hours") << 16777214ll + 1000 << "4.7 hours";
        QTest::newRow("days") << 3ll * 86400000 << "3 days";
    }

    void duration()
    {
        QFETCH(qlonglong, ms);
        QFETCH(QString, text);
        QCOMPARE(corvane::duration_text(ms), text);
    }

    void question()
    {
        const THostRange lan = range("10.0.0.1", "10.255.255.254");
        const corvane::TScanEstimate e {16777214, 16777214, 16777214ll * 3 + 1000};
        QCOMPARE(corvane::large_range_question(TSurvey::NodeStatus, lan, e, 30),
                 QStringLiteral("Scan 16,777,214 addresses, 10.0.0.1 to 10.255.255.254?\n\nThis takes about 14 "
                                "hours: 16,777,214 of them are on the local network, where the kernel's neighbour "
                                "table lets about 1,000 addresses that nobody answers be tried every 3 seconds; "
                                "elsewhere the scan sends one query per millisecond."));
        const corvane::TScanEstimate p {16777214, 16777214, 16777214ll * 30};
        QCOMPARE(corvane::large_range_question(TSurvey::Ping, lan, p, 30),
                 QStringLiteral("Ping 16,777,214 addresses, 10.0.0.1 to 10.255.255.254?\n\nThis takes up to 5.8 "
                                "days: the sweep pings one address at a time, and each address that does not answer "
                                "waits for the time-out of 30 ms."));
    }

    void progress_data()
    {
        QTest::addColumn<qulonglong>("done");
        QTest::addColumn<qulonglong>("total");
        QTest::addColumn<qulonglong>("waiting");
        QTest::addColumn<bool>("drains");
        QTest::addColumn<qlonglong>("elapsedMs");
        QTest::addColumn<QString>("text");
        QTest::newRow("counting") << 40ull << 254ull << 0ull << true << 300ll << "40 of 254";
        QTest::newRow("late answers") << 254ull << 254ull << 0ull << true << 1300ll
                                      << "254 queried, waiting for late answers";
        QTest::newRow("sweep done") << 254ull << 254ull << 0ull << false << 9000ll << "254 of 254";
        QTest::newRow("neighbour table") << 3000ull << 65534ull << 1000ull << true << 4000ll
                                         << "3000 of 65534 queried, 1000 waiting for address resolution";
        QTest::newRow("neighbour table, all sent") << 254ull << 254ull << 12ull << true << 4000ll
                                                   << "254 of 254 queried, 12 waiting for address resolution";
        QTest::newRow("long scan") << 10000ull << 65534ull << 0ull << true << 10000ll
                                   << "10000 of 65534, about 56 seconds left";
        QTest::newRow("long scan waiting") << 100000ull << 16777214ull << 998ull << true << 300000ll
                                           << "100000 of 16777214 queried, 998 waiting for address resolution, "
                                              "about 14 hours left";
        QTest::newRow("nothing done yet") << 0ull << 65534ull << 0ull << true << 6000ll << "0 of 65534";
    }

    void progress()
    {
        QFETCH(qulonglong, done);
        QFETCH(qulonglong, total);
        QFETCH(qulonglong, waiting);
        QFETCH(bool, drains);
        QFETCH(qlonglong, elapsedMs);
        QFETCH(QString, text);
        QCOMPARE(corvane::progress_text(done, total, waiting, drains, corvane::time_left_ms(done, total, elapsedMs)),
                 text);
    }
};

QTEST_GUILESS_MAIN(TestScanEstimate)
#include "test_scan_estimate.moc"
