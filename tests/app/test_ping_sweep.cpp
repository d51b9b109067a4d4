// The Ping page's parallel sweep on its own, over loopback: the rows the one-echo component gives
// one at a time, in address order, and nothing after a stop.
#include "TestSupport.h"

#include "app/PingSweep.h"
#include "icmp/Icmp.h"
#include "icmp/Ping.h"
#include "support/My_net_tcpip.h"
#include "support/ResultText.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTest>

#include <cstdio>
#include <memory>

namespace {

QString rowText(const corvane::TPingRow& row)
{
    return row.texts.caption + u'|' + row.texts.status + u'|' + row.texts.data_size;
}

// Sweeps first..last; stopAfter > 0 stops the sweep inside that row's hand-over.
QStringList sweep(const QString& first, const QString& last, bool resolve, int stopAfter,
                  std::unique_ptr<TPingSweep>& ended)
{
    ended = std::make_unique<TPingSweep>();
    TPingSweep* s = ended.get();
    TPingSweep::TSettings settings;
    settings.first = *corvane::ipv4::parse_strict(first);
    settings.last = *corvane::ipv4::parse_strict(last);
    settings.timeoutMs = 500;
    settings.resolve = resolve;
    QStringList rows;
    QEventLoop loop;
    s->OnRow = [&](corvane::TPingRow row) {
        rows << rowText(row);
        if (rows.size() == stopAfter)
            s->stop();
    };
    s->OnEnd = [&] { loop.quit(); };
    s->start(settings);
    loop.exec();
    return rows;
}

} // namespace

class TestPingSweep : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowsOfTheOneAtATimeSweep_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<bool>("resolve");
        QTest::newRow("one address") << "127.0.0.1"
                                     << "127.0.0.1" << false;
        QTest::newRow("forty addresses") << "127.0.0.1"
                                         << "127.0.0.40" << false;
        QTest::newRow("named") << "127.0.0.1"
                               << "127.0.0.2" << true;
    }

    void rowsOfTheOneAtATimeSweep()
    {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(bool, resolve);
        TPing ping;
        ping.SetTimeout(500);
        QStringList expected;
        ping.OnEchoReply = [&](QObject*, TICMP*, std::int32_t replies) {
            const TIcmpEchoReply r = ping.Reply();
            std::function<QString(const QString&)> name;
            if (resolve)
                name = [](const QString& ip) { return ip_text_to_host_name(ip); };
            corvane::TPingRow row;
            row.texts
                = PingRowTexts(ping.HostIP(), std::uint32_t(replies), r.Status, r.DataSize, r.RoundTripTime, name);
            expected << rowText(row);
        };
        const corvane::ipv4::THostAddr a = *corvane::ipv4::parse_strict(first);
        const corvane::ipv4::THostAddr b = *corvane::ipv4::parse_strict(last);
        for (corvane::ipv4::THostAddr at = a; at.value <= b.value; ++at.value) {
            ping.SetAddress(corvane::ipv4::dotted(at));
            ping.Ping();
        }
        std::unique_ptr<TPingSweep> ended;
        const QStringList rows = sweep(first, last, resolve, 0, ended);
        QCOMPARE(rows, expected);
        QCOMPARE(ended->done(), ended->total());
        QVERIFY(!ended->stopped());
    }

    // A stop inside a row's hand-over: the rows already out and queued are not handed over.
    void nothingAfterStop()
    {
        std::unique_ptr<TPingSweep> ended;
        const QStringList rows = sweep("127.0.0.1", "127.0.0.200", false, 3, ended);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[2].section(u'|', 0, 0), QStringLiteral("127.0.0.3"));
        QVERIFY(ended->stopped());
        QCOMPARE(ended->done(), std::uint64_t {3});
        QCOMPARE(ended->total(), std::uint64_t {200});
    }
};

int main(int argc, char* argv[])
{
    if (corvane::test::isRoot() && !corvane::test::enterPrivateLoopback())
        std::fprintf(stderr, "no private network namespace: using the machine's loopback\n");
    QCoreApplication app(argc, argv);
    TestPingSweep test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_ping_sweep.moc"
