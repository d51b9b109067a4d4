// TNBTscanThread against real UDP peers on the loopback.
#include "NbResponder.h"
#include "TestSupport.h"

#include "netbios/nbtscan.h"
#include "netbios/netBios_procs.h"

#include <QtTest>

using namespace corvane::test;

namespace {

// What one scan handed over, collected on the test's thread.
struct ScanLog
{
    QStringList received;
    QStringList errors;
    bool ended = false;
    bool onOwnerThread = true;
};

TNBTscanThread* makeScan(ScanLog& log, const QString& first, const QString& last)
{
    auto* scan = new TNBTscanThread();
    scan->StartIP = first;
    scan->EndIP = last;
    QThread* owner = QThread::currentThread();
    scan->OnReceive = [&log, owner](TNBTscanThread*, const QString& ip, nb_status_result*) {
        log.onOwnerThread = log.onOwnerThread && QThread::currentThread() == owner;
        log.received << ip;
    };
    scan->OnError = [&log](TNBTscanThread*, const QString& line) { log.errors << line; };
    scan->OnTerminate = [&log](TNBTscanThread*) { log.ended = true; };
    scan->FreeOnTerminate = true;
    return scan;
}

} // namespace

class TestNbtScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { CORVANE_REQUIRE_ROOT(); }

    void oneAddressIsQueriedOnceAndDelivered()
    {
        NbResponder peer([](const NbResponder::Query& q) {
            return std::vector<NbResponder::Datagram>{{node_status_answer(q.transactionId(), {{"PC1", 0x00, 0x04}})}};
        });
        QVERIFY2(peer.start(), qPrintable(peer.lastError()));
        ScanLog log;
        makeScan(log, QStringLiteral("127.0.0.9"), QStringLiteral("127.0.0.9"))->Resume();
        QTRY_VERIFY_WITH_TIMEOUT(log.ended, 5000);
        QCOMPARE(log.received, QStringList{QStringLiteral("127.0.0.9")});
        QVERIFY(log.onOwnerThread);
        QVERIFY(log.errors.isEmpty());
        const auto queries = peer.queries();
        QCOMPARE(queries.size(), std::size_t{1});
        QCOMPARE(host_order_dotted(queries[0].to), QStringLiteral("127.0.0.9"));
        QCOMPARE(queries[0].bytes.size(), nb_query_length);
    }

    // A request that reaches the socket first (a name registration broadcast, heard when bound to
    // port 137) is no answer: the host's answer after it is the one delivered.
    void requestsAreNoAnswers()
    {
        NbResponder peer([](const NbResponder::Query& q) {
            QByteArray request = node_status_answer(q.transactionId(), {{"NOISE", 0x00, 0x04}});
            request[2] = '\x29'; // registration request: response bit clear
            request[3] = '\x10';
            return std::vector<NbResponder::Datagram>{
                {request}, {node_status_answer(q.transactionId(), {{"PC1", 0x00, 0x04}}), 0, 50}};
        });
        QVERIFY2(peer.start(), qPrintable(peer.lastError()));
        ScanLog log;
        QString name;
        TNBTscanThread* scan = makeScan(log, QStringLiteral("127.0.0.9"), QStringLiteral("127.0.0.9"));
        scan->OnReceive = [&log, &name](TNBTscanThread*, const QString& ip, nb_status_result* r) {
            log.received << ip;
            name = QString::fromLatin1(r->name_table[0].name, 15).trimmed();
        };
        scan->Resume();
        QTRY_VERIFY_WITH_TIMEOUT(log.ended, 5000);
        QCOMPARE(log.received, QStringList{QStringLiteral("127.0.0.9")});
        QCOMPARE(name, QStringLiteral("PC1"));
        QVERIFY(log.errors.isEmpty());
        QCOMPARE(peer.answersSent(), std::int64_t{2});
    }
};

QTEST_GUILESS_MAIN(TestNbtScan)
#include "tst_nbtscan.moc"
