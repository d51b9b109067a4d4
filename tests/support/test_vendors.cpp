// The IEEE registry reader on small files written here, the neighbour-table parser, the neighbour
// cache over a table the test sets, and which address a host's vendor is looked up by.
#include "support/Vendors.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>

#include <atomic>

using namespace corvane;

namespace {

TMacAddress mac(const char* text)
{
    TMacAddress m {};
    const QList<QByteArray> parts = QByteArray(text).split('.');
    for (int i = 0; i < 6; ++i)
        m[std::size_t(i)] = std::uint8_t(parts.value(i).toUInt(nullptr, 16));
    return m;
}

bool write(const QTemporaryDir& dir, const char* name, const QByteArray& text)
{
    QFile f(dir.filePath(QLatin1String(name)));
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

// Overlapping prefixes of all three sizes, and lines a reader must not take.
const QByteArray kOui = "Registry,Assignment,Organization Name,Organization Address\r\n"
                        "MA-L,70B3D5,IEEE Registration Authority,445 Hoes Lane\r\n"
                        "MA-L,001122,\"CIMSYS, Inc.\",\"Street \"\"A\"\", City\"\r\n"
                        "MA-L,0A0B0C,  Spaced Name  ,x\n"
                        "MA-L,00112,Too Short,x\r\n"           // five digits
                        "MA-L,00GG22,Not Hex,x\r\n"
                        "MA-M,AABBCC,Wrong Registry For Length,x\r\n"
                        "MA-L,DDEEFF,\r\n"                     // no name
                        "MA-L,DDEEF0,\"Unterminated,x\r\n";
const QByteArray kMam = "Registry,Assignment,Organization Name,Organization Address\n"
                        "MA-M,70B3D51,Medium Block,x\n"
                        "MA-M,0011222,\"Sub \"\"Quoted\"\" Ltd\",x\n"
                        "MA-M,123,Bad,x\n";
const QByteArray kOui36 = "Registry,Assignment,Organization Name,Organization Address\n"
                          "MA-S,70B3D5123,Small Block,x\n"
                          "MA-S,70B3D5124,Bad\"Quote,x\n";

// A neighbour table the test sets; counts the cache's readings, each of which takes a little time.
struct TFakeTable
{
    std::mutex mutex;
    std::vector<platform::neigh_entry> entries;
    std::atomic<int> readings {0};

    TNeighbourCache::TReader reader()
    {
        return [this] {
            ++readings;
            QThread::msleep(5);
            std::lock_guard lock(mutex);
            return std::optional(entries);
        };
    }
};

// Asks for ip count times from another thread, then flushes; the answers in order, as they reached
// the context's (this) thread.
QStringList ask(TNeighbourCache& cache, const QString& ip, int count = 1)
{
    QObject context;
    QStringList answers;
    bool flushed = false;
    std::thread([&] {
        for (int i = 0; i < count; ++i)
            cache.request(ip, &context, [&](const std::optional<TMacAddress>& m) {
                answers << (m ? mac_address_text(*m) : QStringLiteral("none"))
                        + (QThread::currentThread() == context.thread() ? "" : " elsewhere");
            });
    }).join();
    cache.flush(&context, [&] { flushed = true; });
    return QTest::qWaitFor([&] { return flushed; }, 5000) ? answers : QStringList {"no flush"};
}

} // namespace

class TestVendors : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void longestPrefixWins_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("vendor");
        QTest::newRow("MA-S over MA-M and MA-L") << "70.B3.D5.12.34.56" << "Small Block";
        QTest::newRow("MA-S neighbour is MA-M") << "70.B3.D5.13.00.00" << "Medium Block";
        QTest::newRow("MA-M block edge") << "70.B3.D5.1F.FF.FF" << "Medium Block";
        QTest::newRow("outside MA-M: MA-L") << "70.B3.D5.20.00.00" << "IEEE Registration Authority";
        QTest::newRow("quoted comma") << "00.11.22.F0.00.01" << "CIMSYS, Inc.";
        QTest::newRow("doubled quotes") << "00.11.22.2A.00.01" << "Sub \"Quoted\" Ltd";
        QTest::newRow("trimmed, LF only") << "0A.0B.0C.0D.0E.0F" << "Spaced Name";
        QTest::newRow("too short skipped") << "00.11.20.00.00.00" << "";
        QTest::newRow("registry kind must fit length") << "AA.BB.CC.00.00.00" << "";
        QTest::newRow("empty name skipped") << "DD.EE.FF.00.00.00" << "";
        QTest::newRow("unterminated quote skipped") << "DD.EE.F0.00.00.00" << "";
        QTest::newRow("stray quote skipped") << "70.B3.D5.12.40.00" << "Medium Block";
        QTest::newRow("unknown") << "02.00.00.00.00.01" << "";
    }

    void longestPrefixWins()
    {
        QFETCH(QString, address);
        QFETCH(QString, vendor);
        QTemporaryDir dir;
        QVERIFY(write(dir, "oui.csv", kOui) && write(dir, "mam.csv", kMam) && write(dir, "oui36.csv", kOui36));
        TVendorRegistry registry(dir.path());
        const std::shared_ptr<const TVendorTable> table = registry.wait();
        QVERIFY(table);
        QCOMPARE(table->vendor(mac(qPrintable(address))), vendor);
        QCOMPARE(table->size(), 6);
    }

    // No registry at all, or one file unreadable: no vendors from it and no error.
    void missingOrUnreadableRegistry()
    {
        QTemporaryDir dir;
        QVERIFY(write(dir, "mam.csv", kMam));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("oui.csv"))); // a directory cannot be read as a file
        const TVendorTable table = TVendorTable::read(dir.path());
        QCOMPARE(table.size(), 2);
        QCOMPARE(table.vendor(mac("70.B3.D5.1A.00.00")), QStringLiteral("Medium Block"));
        QCOMPARE(TVendorTable::read(dir.filePath(QStringLiteral("absent"))).size(), 0);
    }

    // Loading happens on a thread of its own; its callback comes once, after the table is in place.
    void loadsOffTheCallingThread()
    {
        QTemporaryDir dir;
        QVERIFY(write(dir, "oui.csv", kOui));
        TVendorRegistry registry(dir.path());
        QVERIFY(!registry.table());
        std::atomic<int> calls {0};
        std::atomic<bool> tableThere {false};
        std::atomic<bool> otherThread {false};
        const auto caller = std::this_thread::get_id();
        registry.load([&] {
            tableThere = registry.table() != nullptr;
            otherThread = std::this_thread::get_id() != caller;
            ++calls;
        });
        registry.load([&] { calls += 100; });
        QTRY_COMPARE(calls.load(), 1);
        QVERIFY(tableThere);
        QVERIFY(otherThread);
        QCOMPARE(registry.wait()->size(), 3);
    }

    // The kernel's entry states as the cache takes them; one reading answers a burst of requests.
    void neighbourCacheAnswers_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("expected");
        QTest::newRow("resolved") << "10.77.0.11" << "52.54.00.AB.CD.EF";
        QTest::newRow("pending") << "10.77.0.12" << "none";
        QTest::newRow("resolved with zeros") << "10.77.0.13" << "none";
        QTest::newRow("without ARP") << "10.77.0.14" << "none";
        QTest::newRow("failed") << "10.77.0.15" << "none";
        QTest::newRow("absent") << "10.77.0.99" << "none";
        QTest::newRow("prefix of a known address") << "10.77.0.1" << "none";
        QTest::newRow("not an address") << "10.77.0.311" << "none";
    }

    void neighbourCacheAnswers()
    {
        QFETCH(QString, ip);
        QFETCH(QString, expected);
        using enum platform::neigh_state;
        TFakeTable table;
        table.entries = {{::inet_addr("10.77.0.11"), 2, resolved, mac("52.54.00.AB.CD.EF")},
                         {::inet_addr("10.77.0.12"), 2, incomplete, std::nullopt},
                         {::inet_addr("10.77.0.13"), 2, resolved, TMacAddress {}},
                         {::inet_addr("10.77.0.14"), 2, other, mac("01.00.5E.00.00.01")},
                         {::inet_addr("10.77.0.15"), 2, failed, std::nullopt}};
        TNeighbourCache cache(table.reader(), std::chrono::milliseconds(500));
        bool goneAnswered = false;
        auto* gone = new QObject;
        cache.request(ip, gone, [&](const std::optional<TMacAddress>&) { goneAnswered = true; });
        delete gone;
        QCOMPARE(ask(cache, ip, 50), QStringList(50, expected));
        // The first request may start a reading at once; all the others wait for the next one.
        QVERIFY2(table.readings <= 2, qPrintable(QString::number(table.readings)));
        QVERIFY(!goneAnswered);
    }

    void neighbourCacheReadsAtMostOncePerInterval()
    {
        TFakeTable table;
        const int interval = 50;
        TNeighbourCache cache(table.reader(), std::chrono::milliseconds(interval));
        QTest::qWait(3 * interval);
        QCOMPARE(table.readings.load(), 0); // nobody asked
        QObject context;
        int requests = 0, answered = 0;
        QElapsedTimer clock;
        clock.start();
        for (; clock.elapsed() < 600; ++requests, QTest::qWait(2))
            cache.request("10.77.0.11", &context, [&](const std::optional<TMacAddress>&) { ++answered; });
        QTRY_COMPARE_WITH_TIMEOUT(answered, requests, 5000);
        // Readings begin at least an interval apart, whatever the load.
        QVERIFY(table.readings >= 1);
        QVERIFY2(table.readings <= clock.elapsed() / interval + 1, qPrintable(QString::number(table.readings)));
        const int after = table.readings;
        QTest::qWait(3 * interval);
        QCOMPARE(table.readings.load(), after);
    }

    // Each answer comes from a reading taken after its request; what was read stays known when the
    // kernel drops the entry later.
    void neighbourCacheKeepsWhatItRead()
    {
        TFakeTable table;
        TNeighbourCache cache(table.reader(), std::chrono::milliseconds(10));
        const char* steps[][2] = {{nullptr, "none"}, {"52.54.00.AB.CD.EF", "52.54.00.AB.CD.EF"},
                                  {nullptr, "52.54.00.AB.CD.EF"}, {"52.54.00.12.34.56", "52.54.00.12.34.56"}};
        for (const auto& [entry, expected] : steps) {
            {
                std::lock_guard lock(table.mutex);
                table.entries.clear();
                if (entry)
                    table.entries.push_back(
                        {::inet_addr("10.77.0.11"), 2, platform::neigh_state::resolved, mac(entry)});
            }
            const int before = table.readings;
            QCOMPARE(ask(cache, "10.77.0.11"), QStringList {expected});
            QCOMPARE(table.readings.load(), before + 1);
        }
    }

    // Only an all-zero report sends the vendor lookup to the neighbour table.
    void zeroReport_data()
    {
        QTest::addColumn<QString>("reported"); // empty: no adapter statistics
        QTest::addColumn<QString>("key");      // the reported address the vendor is looked up by
        QTest::addColumn<bool>("fromNeighbour");
        QTest::newRow("reported") << "00.11.22.AA.BB.CC" << "00.11.22.AA.BB.CC" << false;
        QTest::newRow("zeros") << "00.00.00.00.00.00" << "00.00.00.00.00.00" << true;
        QTest::newRow("no statistics") << "" << "" << false;
    }

    void zeroReport()
    {
        QFETCH(QString, reported);
        QFETCH(QString, key);
        QFETCH(bool, fromNeighbour);
        nb_adapter_stats stats {};
        const TMacAddress r = mac(qPrintable(reported));
        std::copy(r.begin(), r.end(), stats.mac_address);
        nb_status_result result {};
        result.adapter_stats = reported.isEmpty() ? nullptr : &stats;
        const std::optional<TMacAddress> got = reported_mac(&result);
        QCOMPARE(got ? mac_address_text(*got) : QString(), key);
        QCOMPARE(reports_zero_mac(&result), fromNeighbour);
    }
};

QTEST_GUILESS_MAIN(TestVendors)
#include "test_vendors.moc"
