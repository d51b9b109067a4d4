// The real program, started offscreen, closed while it scans: it must end at once with status 0,
// whatever the scan is doing. A small driver preloaded into it clicks Scan and closes the window.
#include "NbResponder.h"
#include "ProgramRun.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <cstdio>

using namespace corvane::test;

class TestCloseDuringScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void close_data()
    {
        QTest::addColumn<QString>("plan"); // page;first;last;rows;ms;stop (see close_driver.cpp)
        QTest::addColumn<bool>("answer");  // the peer answers every query
        QTest::addColumn<int>("minQueries");
        QTest::newRow("node status, sending, no answers") << "0;127.1.0.1;127.1.255.254;0;500;0" << false << 50;
        QTest::newRow("node status, hand-overs in flight") << "0;127.1.0.1;127.1.255.254;200;0;0" << true << 200;
        QTest::newRow("node status, just stopped") << "0;127.1.0.1;127.1.255.254;50;0;1" << true << 50;
        QTest::newRow("ping sweep") << "1;127.0.0.1;127.0.255.254;20;0;0" << false << 0;
    }

    void close()
    {
        CORVANE_REQUIRE_ROOT();
        QFETCH(QString, plan);
        QFETCH(bool, answer);
        QFETCH(int, minQueries);
        NbResponder peer([answer](const NbResponder::Query& q) {
            if (!answer)
                return std::vector<NbResponder::Datagram>{};
            return std::vector<NbResponder::Datagram>{{node_status_answer(q.transactionId(), {{"HOST", 0x00, 0x04}})}};
        });
        QVERIFY2(peer.start(), qPrintable(peer.lastError()));

        // A sanitizer build wants its runtime first; the preloaded driver comes before it.
        Program program(QStringLiteral(CORVANE_PROGRAM), {},
                        ProgramOptions()
                            .env({{"QT_QPA_PLATFORM", "offscreen"},
                                  {"CORVANE_CLOSE_DRIVER", plan},
                                  {"LD_PRELOAD", QStringLiteral(CORVANE_CLOSE_DRIVER_LIB)},
                                  {"ASAN_OPTIONS", qEnvironmentVariable("ASAN_OPTIONS") + ":verify_asan_link_order=0"}})
                            .forwardStderr());
        QVERIFY(program.started());
        const bool closing = program.waitForOutput("driver: closing", 20000);
        const QByteArray out = program.outputSoFar();
        QVERIFY2(closing, out.constData());
        const int queriesAtClose = peer.queryCount();
        QElapsedTimer ending;
        ending.start();
        const ProgramRun end = program.finish(5000);
        const qint64 endMs = ending.elapsed();
        QVERIFY2(!end.timedOut, "the program did not end after its window was closed");
        qInfo("%s; ended %lld ms after the close, %d queries heard", out.trimmed().constData(), endMs,
              queriesAtClose);
        QCOMPARE(end.code, 0); // -1 unless it ended normally
        QVERIFY2(queriesAtClose >= minQueries, qPrintable(QString::number(queriesAtClose)));
        // The scan was still on when the window closed: far from its 65534 addresses.
        QVERIFY(peer.queryCount() < 65534);
    }
};

int main(int argc, char* argv[])
{
    // Loopback peers on port 137 of a namespace of our own: nothing else on the machine interferes.
    if (corvane::test::isRoot() && !corvane::test::enterPrivateLoopback())
        std::fprintf(stderr, "no private network namespace: using the machine's loopback\n");
    QCoreApplication app(argc, argv);
    TestCloseDuringScan test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_close_during_scan.moc"
