// TNBTscanThread against real UDP peers on the loopback, and its time helpers.
#include "NbResponder.h"
#include "ScanLog.h"
#include "TestSupport.h"

#include "netbios/nbtscan.h"
#include "netbios/netBios_procs.h"
#include "platform/Clock.h"

#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QScopeGuard>

#include <atomic>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <random>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define CORVANE_ASAN 1
#endif

using namespace corvane::test;
using Handler = NbResponder::Handler;
Q_DECLARE_METATYPE(Handler)

namespace {

QByteArray answerFor(const NbResponder::Query& q)
{
    return node_status_answer(q.transactionId(), {{"PC" + host_order_dotted(q.to).toLatin1(), 0x00, 0x04}});
}

// Answers every query once, from the queried address.
std::vector<NbResponder::Datagram> answerEach(const NbResponder::Query& q)
{
    return {{answerFor(q)}};
}

QStringList addresses(const char* first, const char* last)
{
    QStringList list;
    for (std::uint32_t a = dotted_host_order(first); a <= dotted_host_order(last); ++a)
        list << host_order_dotted(a);
    return list;
}

QByteArray queryBytes(std::uint16_t transactionId)
{
    std::uint8_t q[nb_query_length];
    build_status_query(transactionId, q);
    return QByteArray(reinterpret_cast<const char*>(q), nb_query_length);
}

// True when 0.0.0.0:port can be bound, i.e. no socket holds that UDP port any more.
bool udpPortFree(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// Sends one datagram from fromHost:fromPort (0: any port) to toHost:toPort.
void sendFrom(std::uint32_t fromHost, std::uint16_t fromPort, std::uint32_t toHost, std::uint16_t toPort,
              const QByteArray& bytes)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0)
        return;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(fromPort);
    a.sin_addr.s_addr = htonl(fromHost);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(toPort);
        to.sin_addr.s_addr = htonl(toHost);
        ::sendto(fd, bytes.constData(), static_cast<std::size_t>(bytes.size()), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
    }
    ::close(fd);
}

// Whether a socket of this process is bound to UDP port (other test programs may use the port too).
bool holdsUdpPort(std::uint16_t port)
{
    QSet<QByteArray> inodes;
    QFile table(QStringLiteral("/proc/net/udp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray suffix = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    table.readLine(); // column titles
    while (!table.atEnd()) {
        const QList<QByteArray> fields = table.readLine().simplified().split(' ');
        if (fields.size() > 9 && fields[1].endsWith(suffix))
            inodes.insert(fields[9]);
    }
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        char buf[64] = {};
        const QByteArray path = fds.filePath(fd).toLocal8Bit();
        const ssize_t n = ::readlink(path.constData(), buf, sizeof buf - 1);
        const QByteArray target(buf, n > 0 ? n : 0);
        if (target.startsWith("socket:[") && inodes.contains(target.mid(8, target.size() - 9)))
            return true;
    }
    return false;
}

// The kernel id of this process's thread named name (QThread names its thread after the object).
pid_t threadNamed(const QByteArray& name)
{
    const QStringList tasks = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& task : tasks) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name)
            return static_cast<pid_t>(task.toInt());
    }
    return 0;
}

int openFdCount()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size();
}

// Whether ASan holds the memory at p as freed. Without ASan nothing can be told.
[[maybe_unused]] bool released(const void* p)
{
#ifdef CORVANE_ASAN
    return __asan_address_is_poisoned(p) != 0;
#else
    Q_UNUSED(p);
    return false;
#endif
}

} // namespace

class TestNbtScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { m_scans.stopAll(); }
    void rangeIsQueriedOnceAscending_data();
    void rangeIsQueriedOnceAscending();
    void emptyRangeSendsNothing_data();
    void emptyRangeSendsNothing();
    void targetsAreWalkedOnceAscending_data();
    void targetsAreWalkedOnceAscending();
    void retriesAskOnlyTheSilent_data();
    void retriesAskOnlyTheSilent();
    void icmpErrorsEndTheirAddress_data();
    void icmpErrorsEndTheirAddress();
    void sendFailuresSayWhy();
    void port137RequestsDoNotHoldTheDrain();
    void rangeEndingAtLoopbackBroadcast();
    void answersAreDeliveredOncePerSource_data();
    void answersAreDeliveredOncePerSource();
    void resultOwnership_data();
    void resultOwnership();
    void receiveWithoutHandler();
    void oddDatagrams_data();
    void oddDatagrams();
    void strayDatagramsFoldIntoOneLine_data();
    void strayDatagramsFoldIntoOneLine();
    void drainLastsWhileDatagramsArrive_data();
    void drainLastsWhileDatagramsArrive();
    void signalDuringDrain();
    void terminateWhileSending();
    void terminateWhileDraining();
    void bindFailsWhenPort137IsTaken();
    void port137WhenFree();
    void receiverDestroyedDuringScan();
    void deletingARunningScan_data();
    void deletingARunningScan();
    void factoryStopsTheScansATestLeft();

    void sendInterval_data();
    void sendInterval();
    void timeDiff_data();
    void timeDiff();
    void timeNotBefore_data();
    void timeNotBefore();
    void scanTransactionId_data();
    void scanTransactionId();
    void timeOfDayIsMonotonicMilliseconds();

private:
    ScanFactory m_scans;
};

void TestNbtScan::rangeIsQueriedOnceAscending_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<int>("bandwidth");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("minGapMs"); // least distance of two transaction ids (milliseconds)
    QTest::addColumn<int>("rate");

    QTest::newRow("one address") << "127.0.0.9" << "127.0.0.9" << 0 << addresses("127.0.0.9", "127.0.0.9") << 1 << 0;
    QTest::newRow("across an octet") << "127.0.0.250" << "127.0.1.4" << 0 << addresses("127.0.0.250", "127.0.1.4")
                                     << 1 << 0;
    QTest::newRow("a hundred") << "127.0.3.1" << "127.0.3.100" << 0 << addresses("127.0.3.1", "127.0.3.100") << 1 << 0;
    QTest::newRow("short inet_addr form") << "127.1" << "127.0.0.3" << 0 << addresses("127.0.0.1", "127.0.0.3") << 1
                                          << 0;
    QTest::newRow("bandwidth 8000: 78 ms apart") << "127.0.0.1" << "127.0.0.4" << 8000
                                                 << addresses("127.0.0.1", "127.0.0.4") << 78 << 0;
    QTest::newRow("negative bandwidth: no limit") << "127.0.0.1" << "127.0.0.30" << -1
                                                  << addresses("127.0.0.1", "127.0.0.30") << 1 << 0;
    // The rate's grid is finer than the id's millisecond: a gap may read one less.
    QTest::newRow("rate 100: 10 ms apart") << "127.0.0.1" << "127.0.0.8" << 0 << addresses("127.0.0.1", "127.0.0.8")
                                           << 9 << 100;
    QTest::newRow("rate and bandwidth: the slower") << "127.0.0.1" << "127.0.0.4" << 8000
                                                    << addresses("127.0.0.1", "127.0.0.4") << 77 << 100000;
    QTest::newRow("rate 20000: each address once") << "127.0.4.1" << "127.0.7.232" << 0
                                                   << addresses("127.0.4.1", "127.0.7.232") << 0 << 20000;
}

void TestNbtScan::rangeIsQueriedOnceAscending()
{
    CORVANE_REQUIRE_ROOT();
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(int, bandwidth);
    QFETCH(QStringList, expected);
    QFETCH(int, minGapMs);
    QFETCH(int, rate);

    NbResponder peer(answerEach);
    QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
    Log log = std::make_shared<ScanLog>();
    TNBTscanThread* scan = m_scans.make(log, first, last);
    scan->Bandwidth = bandwidth;
    scan->Rate = rate;
    scan->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 20000);

    QCOMPARE(log->ended, 1);
    QCOMPARE(log->offThread, 0);
    QCOMPARE(log->errors, QStringList{});
    QCOMPARE(log->setupFailure, int(TScanSetupFailure::None));
    QCOMPARE(log->sentAtEnd, std::uint32_t(expected.size()));

    const auto queries = peer.queries();
    QStringList queried;
    for (const auto& q : queries)
        queried << host_order_dotted(q.to);
    QCOMPARE(queried, expected);
    for (std::size_t i = 0; i < queries.size(); ++i) {
        QCOMPARE(queries[i].bytes, queryBytes(queries[i].transactionId()));
        QVERIFY(queries[i].fromPort != nb_name_service_port);
        QCOMPARE(queries[i].fromPort, queries[0].fromPort); // one socket for the whole range
        if (i > 0) {
            // One query per clock tick: the id is the millisecond of the send.
            const int gap = queries[i].transactionId() - queries[i - 1].transactionId();
            QVERIFY2(gap >= minGapMs, qPrintable(QStringLiteral("query %1: %2 ms after the one before").arg(i).arg(gap)));
        }
    }

    QCOMPARE(log->received(), expected);
    for (const Delivery& d : log->deliveries)
        QVERIFY(d.hasHeader);
    // The end comes only after a whole second without a datagram.
    const std::int64_t quietNs = log->endNs - log->deliveries.last().atNs;
    QVERIFY2(quietNs >= 999000000, qPrintable(QStringLiteral("ended %1 ms after the last answer").arg(quietNs / 1000000)));
}

void TestNbtScan::emptyRangeSendsNothing_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::newRow("reversed") << "192.168.1.10" << "192.168.1.1";
    QTest::newRow("reversed as signed numbers") << "10.0.0.1" << "192.168.0.1";
    QTest::newRow("across the sign bit") << "127.255.255.254" << "128.0.0.1";
    QTest::newRow("0.0.0.0 first") << "0.0.0.0" << "127.0.0.3";
    QTest::newRow("0.0.0.0 last") << "127.0.0.1" << "0.0.0.0";
    QTest::newRow("0.0.0.0 both") << "0.0.0.0" << "0.0.0.0";
    QTest::newRow("unparsable first") << "127.0.0.x" << "127.0.0.3";
    QTest::newRow("unparsable last") << "127.0.0.1" << "localhost";
    QTest::newRow("octet too large") << "127.0.0.1" << "127.0.0.256";
    QTest::newRow("empty texts") << "" << "";
    QTest::newRow("not Latin-1") << QString::fromUtf8("127.0.0.\u0661") << "127.0.0.3";
}

void TestNbtScan::emptyRangeSendsNothing()
{
    CORVANE_REQUIRE_ROOT();
    QFETCH(QString, first);
    QFETCH(QString, last);

    Log log = std::make_shared<ScanLog>();
    {
        // A wrong decision here would send off the loopback: keep the scan in a private network.
        PrivateNetwork sandbox;
        QVERIFY(sandbox.ok());
        m_scans.make(log, first, last)->Resume();
    }
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 10000);
    QCOMPARE(log->ended, 1);
    QCOMPARE(log->offThread, 0);
    QCOMPARE(log->sentAtEnd, 0u);
    QCOMPARE(log->errors, QStringList{});
    QCOMPARE(log->setupFailure, int(TScanSetupFailure::None));
    QCOMPARE(log->received(), QStringList{});
}

void TestNbtScan::targetsAreWalkedOnceAscending_data()
{
    QTest::addColumn<QStringList>("ranges"); // "first-last"
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("two ranges out of order") << QStringList{"127.0.0.20-127.0.0.22", "127.0.0.5-127.0.0.6"}
                                             << (addresses("127.0.0.5", "127.0.0.6") + addresses("127.0.0.20", "127.0.0.22"));
    QTest::newRow("overlapping and adjacent") << QStringList{"127.0.0.5-127.0.0.9", "127.0.0.7-127.0.0.12", "127.0.0.13-127.0.0.13"}
                                              << addresses("127.0.0.5", "127.0.0.13");
    QTest::newRow("one address twice") << QStringList{"127.0.0.9-127.0.0.9", "127.0.0.9-127.0.0.9"}
                                       << QStringList{"127.0.0.9"};
    QTest::newRow("across an octet, three ranges") << QStringList{"127.0.2.1-127.0.2.2", "127.0.1.254-127.0.2.1", "127.0.0.1-127.0.0.1"}
                                                   << (QStringList{"127.0.0.1"} + addresses("127.0.1.254", "127.0.2.2"));
}

void TestNbtScan::targetsAreWalkedOnceAscending()
{
    CORVANE_REQUIRE_ROOT();
    QFETCH(QStringList, ranges);
    QFETCH(QStringList, expected);

    NbResponder peer(answerEach);
    QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
    Log log = std::make_shared<ScanLog>();
    // Targets replace StartIP..EndIP.
    TNBTscanThread* scan = m_scans.make(log, QStringLiteral("127.0.0.100"), QStringLiteral("127.0.0.120"));
    for (const QString& r : ranges) {
        const QStringList ends = r.split('-');
        scan->Targets.push_back({corvane::ipv4::THostAddr{dotted_host_order(qPrintable(ends[0]))},
                                 corvane::ipv4::THostAddr{dotted_host_order(qPrintable(ends[1]))}});
    }
    QCOMPARE(scan->AddressCount(), std::uint64_t(expected.size()));
    scan->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 20000);

    QStringList queried;
    for (const auto& q : peer.queries())
        queried << host_order_dotted(q.to);
    QCOMPARE(queried, expected);
    QCOMPARE(log->received(), expected);
    QCOMPARE(log->sentAtEnd, std::uint32_t(expected.size()));
    QCOMPARE(log->errors, QStringList{});
}

void TestNbtScan::retriesAskOnlyTheSilent_data()
{
    QTest::addColumn<int>("retries");
    QTest::addColumn<int>("answerFrom"); // the query to an address it answers first (1: every query)
    QTest::addColumn<int>("queriesEach");
    QTest::addColumn<bool>("found");
    QTest::newRow("no retries: a lost first query loses the host") << 0 << 2 << 1 << false;
    QTest::newRow("one retry finds it") << 1 << 2 << 2 << true;
    QTest::newRow("three retries: the answered are not asked again") << 3 << 2 << 2 << true;
    QTest::newRow("answered at once: no retry pass") << 3 << 1 << 1 << true;
    QTest::newRow("never answers: every pass asks") << 2 << 10 << 3 << false;
}

void TestNbtScan::retriesAskOnlyTheSilent()
{
    CORVANE_REQUIRE_ROOT();
    QFETCH(int, retries);
    QFETCH(int, answerFrom);
    QFETCH(int, queriesEach);
    QFETCH(bool, found);

    // The peer ignores an address's queries until the answerFrom-th, then answers it twice.
    auto heard = std::make_shared<std::map<std::uint32_t, int>>();
    NbResponder peer([heard, answerFrom](const NbResponder::Query& q) {
        if (++(*heard)[q.to] < answerFrom)
            return std::vector<NbResponder::Datagram>{};
        return std::vector<NbResponder::Datagram>{{answerFor(q)}, {answerFor(q), 0, 20}};
    });
    QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
    Log log = std::make_shared<ScanLog>();
    TNBTscanThread* scan = m_scans.make(log, QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.6"));
    scan->Retries = retries;
    scan->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 30000);

    const QStringList range = addresses("127.0.0.1", "127.0.0.6");
    QStringList expected;
    for (int pass = 0; pass < queriesEach; ++pass)
        expected += range; // pass after pass, each ascending
    QStringList queried;
    for (const auto& q : peer.queries())
        queried << host_order_dotted(q.to);
    QCOMPARE(queried, expected);
    QCOMPARE(log->received(), found ? range : QStringList{}); // delivered once, though answered twice
    QCOMPARE(log->sentAtEnd, 6u);
    QCOMPARE(log->errors, QStringList{});
}

void TestNbtScan::icmpErrorsEndTheirAddress_data()
{
    QTest::addColumn<int>("retries");
    QTest::newRow("one query each") << 0;
    QTest::newRow("with retries: nobody is asked again") << 2;
}

void TestNbtScan::icmpErrorsEndTheirAddress()
{
    CORVANE_REQUIRE_ROOT();
    QTRY_VERIFY2_WITH_TIMEOUT(udpPortFree(nb_name_service_port), "UDP port 137 is in use", 60000);
    // Nothing listens on port 137: each query draws an ICMP port unreachable. It ends that address
    // (a host without the name service), and is neither an error line nor a received datagram.
    // A raw socket counts the queries as they arrive.
    const int capture = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_UDP);
    QVERIFY(capture >= 0);
    const auto closeCapture = qScopeGuard([capture] { ::close(capture); });
    QFETCH(int, retries);
    Log log = std::make_shared<ScanLog>();
    TNBTscanThread* scan = m_scans.make(log, QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.20"));
    scan->Retries = retries;
    scan->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 20000);

    QStringList queried;
    std::uint8_t packet[256];
    ssize_t n;
    while ((n = ::recv(capture, packet, sizeof packet, 0)) >= 28) {
        const int ihl = (packet[0] & 0x0F) * 4;
        if (n >= ihl + 8 && ((packet[ihl + 2] << 8) | packet[ihl + 3]) == nb_name_service_port)
            queried << host_order_dotted((std::uint32_t(packet[16]) << 24) | (packet[17] << 16) | (packet[18] << 8) | packet[19]);
    }
    QCOMPARE(queried, addresses("127.0.0.1", "127.0.0.20"));
    QCOMPARE(log->errors, QStringList{});
    QCOMPARE(log->received(), QStringList{});
    QCOMPARE(log->sentAtEnd, 20u);
}

void TestNbtScan::sendFailuresSayWhy()
{
    CORVANE_REQUIRE_ROOT();
    Log log = std::make_shared<ScanLog>();
    {
        // No route at all: every send fails at once and nothing leaves the machine.
        PrivateNetwork sandbox;
        QVERIFY(sandbox.ok());
        m_scans.make(log, QStringLiteral("10.0.0.5"), QStringLiteral("10.0.0.6"))->Resume();
    }
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 10000);
    QCOMPARE(log->errors, (QStringList{"Send to 10.0.0.5 failed: Network is unreachable",
                                       "Send to 10.0.0.6 failed: Network is unreachable"}));
    QCOMPARE(log->sentAtEnd, 2u);
}

void TestNbtScan::port137RequestsDoNotHoldTheDrain()
{
    CORVANE_REQUIRE_ROOT();
    QTRY_VERIFY2_WITH_TIMEOUT(udpPortFree(nb_name_service_port), "UDP port 137 is in use", 60000);
    // A LAN whose hosts broadcast name queries: a request every 0.3 s to the scan's port 137. The
    // drain's quiet second counts answers only, so the scan still ends.
    const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    QVERIFY(sender >= 0);
    const auto closeSender = qScopeGuard([sender] { ::close(sender); });
    int requests = 0;
    QTimer chatter;
    QObject::connect(&chatter, &QTimer::timeout, [&] {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(nb_name_service_port);
        to.sin_addr.s_addr = htonl(dotted_host_order("127.0.0.1"));
        const QByteArray request = queryBytes(std::uint16_t(0x5000 + requests));
        requests += ::sendto(sender, request.constData(), std::size_t(request.size()), 0,
                             reinterpret_cast<const sockaddr*>(&to), sizeof to) > 0;
    });
    chatter.start(300);
    Log log = std::make_shared<ScanLog>();
    TNBTscanThread* scan = m_scans.make(log, QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3"));
    scan->UsePort137 = true;
    scan->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 8000);
    QVERIFY2(requests >= 3, qPrintable(QString::number(requests)));
    QCOMPARE(log->received(), QStringList{});
    QCOMPARE(log->errors, QStringList{});
}

void TestNbtScan::rangeEndingAtLoopbackBroadcast()
{
    CORVANE_REQUIRE_ROOT();
    NbResponder peer(answerEach);
    QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
    Log log = std::make_shared<ScanLog>();
    m_scans.make(log, QStringLiteral("127.255.255.253"), QStringLiteral("127.255.255.255"))->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 10000);

    // 127.255.255.255 is the loopback's broadcast address: the send to it fails, with its reason, and
    // the range ends there instead of running on into 128.0.0.0.
    QCOMPARE(log->errors, QStringList{QStringLiteral("Send to 127.255.255.255 failed: Permission denied")});
    QCOMPARE(log->sentAtEnd, 3u);
    QStringList queried;
    for (const auto& q : peer.queries())
        queried << host_order_dotted(q.to);
    QCOMPARE(queried, addresses("127.255.255.253", "127.255.255.254"));
    QCOMPARE(log->received(), queried);
    QCOMPARE(log->offThread, 0);
}

void TestNbtScan::answersAreDeliveredOncePerSource_data()
{
    QTest::addColumn<Handler>("handler");
    QTest::addColumn<int>("datagrams"); // how many the peer sends in all
    QTest::addColumn<QStringList>("expected");

    const std::uint32_t outside = dotted_host_order("127.0.0.77");
    QTest::newRow("two answers from one address")
        << Handler([](const NbResponder::Query& q) {
               return std::vector<NbResponder::Datagram>{{answerFor(q)}, {answerFor(q), 0, 50}};
           })
        << 2 << QStringList{"127.0.0.9"};
    QTest::newRow("five answers, one delivery")
        << Handler([](const NbResponder::Query& q) {
               std::vector<NbResponder::Datagram> d;
               for (int i = 0; i < 5; ++i)
                   d.push_back({answerFor(q), 0, 20 * i});
               return d;
           })
        << 5 << QStringList{"127.0.0.9"};
    QTest::newRow("answer from outside the range")
        << Handler([outside](const NbResponder::Query& q) {
               return std::vector<NbResponder::Datagram>{{answerFor(q), outside}};
           })
        << 1 << QStringList{"127.0.0.77"};
    QTest::newRow("queried and outside address")
        << Handler([outside](const NbResponder::Query& q) {
               return std::vector<NbResponder::Datagram>{{answerFor(q)}, {answerFor(q), outside, 30},
                                                         {answerFor(q), 0, 60}};
           })
        << 3 << QStringList{"127.0.0.9", "127.0.0.77"};
    QTest::newRow("answer from another port")
        << Handler([](const NbResponder::Query& q) {
               sendFrom(dotted_host_order("127.0.0.66"), 0, q.from, q.fromPort, answerFor(q));
               return std::vector<NbResponder::Datagram>{};
           })
        << 0 << QStringList{"127.0.0.66"};
    QTest::newRow("same address from port 137 and port 138")
        << Handler([](const NbResponder::Query& q) {
               sendFrom(q.to, 138, q.from, q.fromPort, answerFor(q));
               return std::vector<NbResponder::Datagram>{{answerFor(q), 0, 30}};
           })
        << 1 << QStringList{"127.0.0.9"};
}

void TestNbtScan::answersAreDeliveredOncePerSource()
{
    CORVANE_REQUIRE_ROOT();
    QFETCH(Handler, handler);
    QFETCH(int, datagrams);
    QFETCH(QStringList, expected);

    NbResponder peer(handler);
    QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
    Log log = std::make_shared<ScanLog>();
    TNBTscanThread* scan = m_scans.make(log, QStringLiteral("127.0.0.9"), QStringLiteral("127.0.0.9"));
    scan->FreeResults = false;
    scan->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 10000);

    QCOMPARE(peer.answersSent(), std::int64_t{datagrams});
    QCOMPARE(log->received(), expected);
    QCOMPARE(log->errors, QStringList{});
    QCOMPARE(log->offThread, 0);
    // Whatever was delivered is the answer to the scan's own query.
    const auto queries = peer.queries();
    QCOMPARE(queries.size(), std::size_t{1});
    for (const Delivery& d : log->deliveries)
        QCOMPARE(d.result->status_header->transaction_id, queries[0].transactionId());
}

void TestNbtScan::resultOwnership_data()
{
    QTest::addColumn<bool>("freeResults");
    QTest::newRow("FreeResults false: the receiver owns") << false;
    QTest::newRow("FreeResults true: the thread releases") << true;
}

void TestNbtScan::resultOwnership()
{
    CORVANE_REQUIRE_ROOT();
    QFETCH(bool, freeResults);

    NbResponder peer(answerEach);
    QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
    Log log = std::make_shared<ScanLog>();
    TNBTscanThread* scan = m_scans.make(log, QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.20"));
    scan->FreeResults = freeResults;
    int checkedBefore = 0;
    int previousStillHeld = 0;
    log->duringReceive = [&, weak = std::weak_ptr<ScanLog>(log)](const Delivery& d) {
        // During the call the result is whole, whoever releases it afterwards.
        const QByteArray name = "PC" + d.ip.toLatin1();
        if (d.result->name_table && QByteArray(d.result->name_table[0].name, 15).trimmed() == name.left(15))
            ++checkedBefore;
#ifdef CORVANE_ASAN
        // With FreeResults the one handed over before this one is gone by now.
        const auto l = weak.lock();
        if (freeResults && l && l->deliveries.size() >= 2 && !released(l->deliveries[l->deliveries.size() - 2].result))
            ++previousStillHeld;
#else
        Q_UNUSED(weak);
#endif
    };
    scan->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 10000);
    log->duringReceive = nullptr;

    QCOMPARE(log->received(), addresses("127.0.0.1", "127.0.0.20"));
    QCOMPARE(checkedBefore, 20);
    QCOMPARE(previousStillHeld, 0);
    for (const Delivery& d : log->deliveries) {
        QCOMPARE(d.owned, !freeResults);
#ifdef CORVANE_ASAN
        QCOMPARE(released(d.result), freeResults);
#endif
        if (!freeResults) {
            // Still valid long after the call: the receiver releases them (ScanLog does).
            QVERIFY(d.result->status_header);
            QCOMPARE(d.result->status_header->transaction_id, d.transactionId);
            QCOMPARE(QByteArray(d.result->name_table[0].name, 15).trimmed(), QByteArray("PC" + d.ip.toLatin1()).left(15));
            QCOMPARE(d.result->adapter_stats->mac_address[5], std::uint8_t{0xCC});
        }
    }
}

void TestNbtScan::receiveWithoutHandler()
{
    CORVANE_REQUIRE_ROOT();
    // Two answers per query, one of them from an address that never was queried: all parsed and
    // released by the thread (the sanitizer build reports any leak).
    NbResponder peer([](const NbResponder::Query& q) {
        return std::vector<NbResponder::Datagram>{{answerFor(q)}, {answerFor(q), q.to + 0x100}};
    });
    QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
    Log log = std::make_shared<ScanLog>();
    TNBTscanThread* scan = m_scans.make(log, QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.30"));
    scan->OnReceive = nullptr;
    scan->FreeResults = false;
    scan->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 10000);
    QCOMPARE(peer.queryCount(), 30);
    QCOMPARE(peer.answersSent(), std::int64_t{60});
    QCOMPARE(log->errors, QStringList{});
    QCOMPARE(log->offThread, 0);
}

void TestNbtScan::oddDatagrams_data()
{
    QTest::addColumn<QByteArray>("payload"); // what 127.0.0.9 answers; 127.0.0.8 and .10 answer properly
    QTest::addColumn<bool>("ownId"); // the peer puts the query's transaction id in the first two bytes
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<bool>("delivered");

    const QStringList failed{QStringLiteral("Recieved failed from 127.0.0.9")};
    const QStringList dropped{QStringLiteral("Dropped a datagram from 127.0.0.9: not a node-status answer to this scan")};
    std::mt19937 random(1002);
    QByteArray garbage(300, '\0');
    for (char& c : garbage)
        c = static_cast<char>(random());
    QByteArray padded = node_status_answer(0, {{"BIG", 0x20, 0x04}});
    padded.append(QByteArray(1024 - padded.size(), '\x55'));
    const QByteArray whole = node_status_answer(0, {{"A"}});
    // Byte 2..3 hold the flags, 46..47 the record's type, 48..49 its class.
    const auto with = [&whole](int at, const char* bytes) {
        QByteArray a = whole;
        a.replace(at, 2, QByteArray(bytes, 2));
        return a;
    };

    QTest::newRow("1025 bytes") << QByteArray(1025, 'x') << false << failed << false;
    QTest::newRow("60000 bytes") << QByteArray(60000, '\0') << false << failed << false;
    QTest::newRow("answer padded to 1024 bytes") << padded << true << QStringList{} << true;
    QTest::newRow("1024 bytes of x") << QByteArray(1024, 'x') << false << dropped << false;
    QTest::newRow("empty datagram") << QByteArray() << false << failed << false;
    QTest::newRow("one byte") << QByteArray(1, '\x7F') << false << dropped << false;
    QTest::newRow("three bytes") << QByteArray("\x12\x34\x84", 3) << false << dropped << false;
    QTest::newRow("header only") << node_status_answer(0, {}).left(12) << true << dropped << false;
    QTest::newRow("cut inside the name table") << node_status_answer(0, {{"A"}, {"B"}, {"C"}}).left(80) << true
                                               << QStringList{} << true;
    QTest::newRow("46-byte statistics") << node_status_answer(0, {{"A"}}, {1, 2, 3, 4, 5, 6}, 46, 0) << true
                                        << QStringList{} << true;
    QTest::newRow("garbage") << garbage << false << dropped << false;
    QTest::newRow("another scan's transaction id") << node_status_answer(0x4321, {{"A"}}) << false << dropped << false;
    QTest::newRow("a request") << with(2, "\x00\x00") << true << dropped << false;
    QTest::newRow("opcode of a registration") << with(2, "\xA8\x00") << true << dropped << false;
    QTest::newRow("error code") << with(2, "\x84\x03") << true << dropped << false;
    QTest::newRow("record type NB") << with(46, "\x00\x20") << true << dropped << false;
    QTest::newRow("record class not IN") << with(48, "\x00\x03") << true << dropped << false;
    // Answers of Samba's nmbd as captured for the parser's fuzzing.
    for (const QFileInfo& seed : QDir(QStringLiteral(CORVANE_SEED_DIR)).entryInfoList(QDir::Files, QDir::Name)) {
        QFile f(seed.filePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QTest::newRow(qPrintable(QStringLiteral("captured nmbd answer ") + seed.fileName())) << f.readAll() << true
                                                                                           << QStringList{} << true;
    }
}

void TestNbtScan::oddDatagrams()
{
    CORVANE_REQUIRE_ROOT();
    QFETCH(QByteArray, payload);
    QFETCH(bool, ownId);
    QFETCH(QStringList, errors);
    QFETCH(bool, delivered);

    const std::uint32_t odd = dotted_host_order("127.0.0.9");
    NbResponder peer([odd, payload, ownId](const NbResponder::Query& q) {
        QByteArray odd_answer = payload;
        if (ownId)
            odd_answer.replace(0, 2, answerFor(q).left(2));
        return std::vector<NbResponder::Datagram>{{q.to == odd ? odd_answer : answerFor(q)}};
    });
    QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
    Log log = std::make_shared<ScanLog>();
    TNBTscanThread* scan = m_scans.make(log, QStringLiteral("127.0.0.8"), QStringLiteral("127.0.0.10"));
    scan->FreeResults = false;
    scan->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 10000);

    QCOMPARE(peer.answersSent(), std::int64_t{3});
    QCOMPARE(log->errors, errors);
    const QStringList expected = delivered ? QStringList{"127.0.0.8", "127.0.0.9", "127.0.0.10"}
                                           : QStringList{"127.0.0.8", "127.0.0.10"};
    QCOMPARE(log->received(), expected); // the scan goes on after a failed receive
    QCOMPARE(log->offThread, 0);
    if (!delivered)
        return;

    // The delivered result is what the parser makes of exactly the bytes that arrived.
    const nb_status_result* got = log->deliveries[1].result;
    QByteArray arrived = payload;
    if (ownId)
        arrived.replace(0, 2, node_status_answer(got->status_header->transaction_id, {}).left(2));
    nb_status_result* reference = parse_response(arrived.constData(), static_cast<std::int32_t>(arrived.size()));
    QVERIFY(reference);
    const auto cleanup = qScopeGuard([reference] { release_result(reference); });
    QCOMPARE(got->parsed_length, reference->parsed_length);
    QCOMPARE(got->status_header != nullptr, reference->status_header != nullptr);
    QCOMPARE(got->name_table != nullptr, reference->name_table != nullptr);
    QCOMPARE(got->adapter_stats != nullptr, reference->adapter_stats != nullptr);
    if (reference->status_header) {
        QCOMPARE(got->status_header->transaction_id, reference->status_header->transaction_id);
        QCOMPARE(got->status_header->name_count, reference->status_header->name_count);
    }
    if (reference->name_table)
        QCOMPARE(std::memcmp(got->name_table, reference->name_table, 18 * reference->status_header->name_count), 0);
    if (reference->adapter_stats)
        QCOMPARE(std::memcmp(got->adapter_stats->mac_address, reference->adapter_stats->mac_address, 6), 0);
}

void TestNbtScan::strayDatagramsFoldIntoOneLine_data()
{
    QTest::addColumn<int>("senders"); // addresses from 127.0.6.1 on, each sending a stray datagram per query
    QTest::addColumn<int>("each");
    QTest::addColumn<QString>("line");
    QTest::newRow("three from one sender")
        << 1 << 3 << "Dropped 3 datagrams from 127.0.6.1: not node-status answers to this scan";
    QTest::newRow("random bytes from fifty senders")
        << 50 << 1 << "Dropped 50 datagrams from 127.0.6.1 and others: not node-status answers to this scan";
}

// Stray datagrams come beside the real answer: the answer is the one row, and one line names them all.
void TestNbtScan::strayDatagramsFoldIntoOneLine()
{
    CORVANE_REQUIRE_ROOT();
    QFETCH(int, senders);
    QFETCH(int, each);
    QFETCH(QString, line);
    NbResponder peer([senders, each](const NbResponder::Query& q) {
        std::mt19937 random(q.transactionId());
        std::vector<NbResponder::Datagram> d{{answerFor(q)}};
        for (int s = 0; s < senders; ++s)
            for (int i = 0; i < each; ++i) {
                QByteArray bytes(40 + int(random() % 200), '\0');
                for (char& c : bytes)
                    c = static_cast<char>(random());
                d.push_back({bytes, dotted_host_order("127.0.6.1") + std::uint32_t(s), 1 + i});
            }
        return d;
    });
    QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
    Log log = std::make_shared<ScanLog>();
    m_scans.make(log, QStringLiteral("127.0.0.9"), QStringLiteral("127.0.0.9"))->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 10000);
    QCOMPARE(peer.answersSent(), std::int64_t{1 + senders * each});
    QCOMPARE(log->received(), QStringList{"127.0.0.9"});
    QCOMPARE(log->errors, QStringList{line});
}

void TestNbtScan::drainLastsWhileDatagramsArrive_data()
{
    QTest::addColumn<QList<int>>("delaysMs"); // answers to the one query, each from its own address
    QTest::addColumn<int>("delivered");
    QTest::newRow("gaps of half a second") << QList<int>{0, 500, 1000, 1500, 2000} << 5;
    QTest::newRow("a late answer after 2.5 s of silence") << QList<int>{0, 2500} << 1;
    QTest::newRow("first answer after 2.5 s") << QList<int>{2500} << 0;
}

void TestNbtScan::drainLastsWhileDatagramsArrive()
{
    CORVANE_REQUIRE_ROOT();
    QFETCH(QList<int>, delaysMs);
    QFETCH(int, delivered);

    NbResponder peer([delaysMs](const NbResponder::Query& q) {
        std::vector<NbResponder::Datagram> d;
        for (int i = 0; i < delaysMs.size(); ++i)
            d.push_back({answerFor(q), dotted_host_order("127.0.2.1") + std::uint32_t(i), delaysMs[i]});
        return d;
    });
    QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
    Log log = std::make_shared<ScanLog>();
    m_scans.make(log, QStringLiteral("127.0.0.9"), QStringLiteral("127.0.0.9"))->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 15000);
    QCOMPARE(log->deliveries.size(), delivered);
    if (delivered > 0) {
        const std::int64_t quietNs = log->endNs - log->deliveries.last().atNs;
        QVERIFY2(quietNs >= 999000000, qPrintable(QStringLiteral("ended %1 ms after the last answer").arg(quietNs / 1000000)));
    }
    // Anything that comes after the end finds the socket closed.
    QTRY_COMPARE_WITH_TIMEOUT(peer.answersSent(), std::int64_t(delaysMs.size()), 10000);
    QTest::qWait(100);
    QCOMPARE(log->deliveries.size(), delivered);
    QCOMPARE(log->offThread, 0);
}

void TestNbtScan::signalDuringDrain()
{
    CORVANE_REQUIRE_ROOT();
    // A signal that lands on the scan thread while it waits out the drain interrupts the wait; that
    // is no failed wait, and the answer that comes 600 ms after the first is still taken.
    struct sigaction quiet{};
    quiet.sa_handler = [](int) {};
    sigemptyset(&quiet.sa_mask);
    struct sigaction before{};
    QCOMPARE(::sigaction(SIGUSR1, &quiet, &before), 0);
    const auto restore = qScopeGuard([&before] { ::sigaction(SIGUSR1, &before, nullptr); });

    NbResponder peer([](const NbResponder::Query& q) {
        return std::vector<NbResponder::Datagram>{{answerFor(q), dotted_host_order("127.0.5.1")},
                                                  {answerFor(q), dotted_host_order("127.0.5.2"), 600}};
    });
    QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
    Log log = std::make_shared<ScanLog>();
    TNBTscanThread* scan = m_scans.make(log, QStringLiteral("127.0.0.9"), QStringLiteral("127.0.0.9"));
    scan->setObjectName(QStringLiteral("nbt-signalled"));
    scan->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->deliveries.size() == 1, 10000);
    const pid_t tid = threadNamed("nbt-signalled");
    QVERIFY(tid > 0);
    for (int i = 0; i < 4; ++i) {
        QTest::qWait(50);
        if (!log->ended && log->deliveries.size() == 1)
            ::syscall(SYS_tgkill, ::getpid(), tid, SIGUSR1);
    }
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 10000);
    QCOMPARE(log->received(), (QStringList{"127.0.5.1", "127.0.5.2"}));
    const std::int64_t quietNs = log->endNs - log->deliveries.last().atNs;
    QVERIFY2(quietNs >= 999000000, qPrintable(QStringLiteral("ended %1 ms after the last answer").arg(quietNs / 1000000)));
    QCOMPARE(log->offThread, 0);
}

void TestNbtScan::terminateWhileSending()
{
    CORVANE_REQUIRE_ROOT();
    NbResponder peer(answerEach);
    QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
    Log log = std::make_shared<ScanLog>();
    // 65,535 addresses: more than a minute of sending.
    TNBTscanThread* scan = m_scans.make(log, QStringLiteral("127.1.0.1"), QStringLiteral("127.1.255.255"));
    scan->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(peer.queryCount() >= 100, 20000);
    const std::uint16_t port = peer.queries()[0].fromPort;
    QVERIFY(holdsUdpPort(port));

    scan->Terminate();
    const std::uint32_t sentAtRequest = scan->QueriesSent();
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 5000);

    // At most the query of the pass under way still went out.
    QVERIFY2(log->sentAtEnd <= sentAtRequest + 1,
             qPrintable(QStringLiteral("%1 queries at the request, %2 at the end").arg(sentAtRequest).arg(log->sentAtEnd)));
    QVERIFY(log->sentAtEnd < 20000);
    QTRY_COMPARE_WITH_TIMEOUT(peer.queryCount(), int(log->sentAtEnd), 5000);
    QTest::qWait(100);
    QCOMPARE(peer.queryCount(), int(log->sentAtEnd));
    QVERIFY(!holdsUdpPort(port));
    QCOMPARE(log->errors, QStringList{});
    QCOMPARE(log->offThread, 0);
}

void TestNbtScan::terminateWhileDraining()
{
    CORVANE_REQUIRE_ROOT();
    // One query, then an answer every 150 ms from ever new addresses for six seconds: the drain
    // would last seven seconds without the request.
    NbResponder peer([](const NbResponder::Query& q) {
        std::vector<NbResponder::Datagram> d;
        for (int i = 0; i < 40; ++i)
            d.push_back({answerFor(q), dotted_host_order("127.0.4.1") + std::uint32_t(i), 150 * i});
        return d;
    });
    QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
    Log log = std::make_shared<ScanLog>();
    TNBTscanThread* scan = m_scans.make(log, QStringLiteral("127.0.0.9"), QStringLiteral("127.0.0.9"));
    scan->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->deliveries.size() >= 3, 10000);
    const std::uint16_t port = peer.queries()[0].fromPort;

    scan->Terminate();
    const std::int64_t requestNs = corvane::platform::monotonic_ns();
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 3000);
    qInfo("ended %lld ms after the request", static_cast<long long>((log->endNs - requestNs) / 1000000));
    const qsizetype atEnd = log->deliveries.size();
    QVERIFY(atEnd < 40);
    QVERIFY(!holdsUdpPort(port));
    QTest::qWait(400);
    QCOMPARE(log->deliveries.size(), atEnd);
    QVERIFY(peer.answersSent() > atEnd);
    QCOMPARE(log->sentAtEnd, 1u);
    QCOMPARE(log->offThread, 0);
}

void TestNbtScan::bindFailsWhenPort137IsTaken()
{
    CORVANE_REQUIRE_ROOT();
    NbResponder peer(answerEach); // holds 0.0.0.0:137
    QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
    const int fdsBefore = openFdCount();
    Log log = std::make_shared<ScanLog>();
    TNBTscanThread* scan = m_scans.make(log, QStringLiteral("127.0.0.9"), QStringLiteral("127.0.0.9"));
    scan->UsePort137 = true;
    scan->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 10000);
    QCOMPARE(log->errors, QStringList{QStringLiteral("Failed to bind")});
    QCOMPARE(log->setupFailure, int(TScanSetupFailure::Bind));
    QCOMPARE(log->sentAtEnd, 0u);
    QCOMPARE(peer.queryCount(), 0);
    QCOMPARE(log->received(), QStringList{});
    QCOMPARE(log->offThread, 0);
    // The socket of the failed bind is closed.
    QTRY_COMPARE_WITH_TIMEOUT(openFdCount(), fdsBefore, 5000);
}

void TestNbtScan::port137WhenFree()
{
    CORVANE_REQUIRE_ROOT();
    QTRY_VERIFY2_WITH_TIMEOUT(udpPortFree(nb_name_service_port), "UDP port 137 is in use", 60000);
    // No peer on 137: bound to 0.0.0.0:137 the scan hears its own query to 127.0.0.1:137 first, a
    // request that must not use up 127.0.0.1's one delivery, then an answer from 127.0.0.1 to
    // port 137, which proves the port is the scan's. While the hand-over runs, the port is held.
    Log log = std::make_shared<ScanLog>();
    bool portHeld = false;
    log->duringReceive = [&portHeld](const Delivery&) { portHeld = holdsUdpPort(nb_name_service_port); };
    TNBTscanThread* scan = m_scans.make(log, QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1"));
    scan->UsePort137 = true;
    scan->FreeResults = false;

    const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    QVERIFY(sender >= 0);
    const auto closeSender = qScopeGuard([sender] { ::close(sender); });
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(dotted_host_order("127.0.0.1"));
    QCOMPARE(::bind(sender, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
    // The answer carries the transaction id of the scan's query, read off the wire.
    const int capture = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_UDP);
    QVERIFY(capture >= 0);
    const auto closeCapture = qScopeGuard([capture] { ::close(capture); });
    std::optional<std::uint16_t> queryId;
    QTimer::singleShot(300, [sender, capture, &queryId] {
        std::uint8_t packet[256];
        ssize_t n;
        while ((n = ::recv(capture, packet, sizeof packet, 0)) >= 28) {
            const int ihl = (packet[0] & 0x0F) * 4;
            if (n >= ihl + 10 && ((packet[ihl] << 8) | packet[ihl + 1]) == nb_name_service_port
                && ((packet[ihl + 2] << 8) | packet[ihl + 3]) == nb_name_service_port)
                queryId = std::uint16_t((packet[ihl + 8] << 8) | packet[ihl + 9]);
        }
        const QByteArray answer = node_status_answer(queryId.value_or(0), {{"ELSEWHERE", 0x00, 0x04}});
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(nb_name_service_port);
        to.sin_addr.s_addr = htonl(dotted_host_order("127.0.0.1"));
        ::sendto(sender, answer.constData(), static_cast<std::size_t>(answer.size()), 0,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to);
    });
    scan->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->ended, 10000);
    log->duringReceive = nullptr;

    QCOMPARE(log->errors, QStringList{});
    QCOMPARE(log->received(), QStringList{"127.0.0.1"});
    QVERIFY(portHeld);
    QVERIFY(queryId);
    QCOMPARE(log->deliveries[0].transactionId, *queryId);
    QVERIFY(!holdsUdpPort(nb_name_service_port));
    QCOMPARE(log->offThread, 0);
}

void TestNbtScan::receiverDestroyedDuringScan()
{
    CORVANE_REQUIRE_ROOT();
    // 200 addresses, each answering; from 127.1.0.150 on also a datagram too large to receive, whose
    // error line no longer has anyone to go to.
    const std::uint32_t oversizeFrom = dotted_host_order("127.1.0.150");
    NbResponder peer([oversizeFrom](const NbResponder::Query& q) {
        std::vector<NbResponder::Datagram> d{{answerFor(q)}};
        if (q.to >= oversizeFrom)
            d.push_back({QByteArray(2000, 'x')});
        return d;
    });
    QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
    auto* receiver = new QObject;
    Log log = std::make_shared<ScanLog>();
    TNBTscanThread* scan = m_scans.make(log, QStringLiteral("127.1.0.1"), QStringLiteral("127.1.0.200"), receiver);
    scan->FreeResults = false;
    scan->FreeOnTerminate = false;
    scan->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->deliveries.size() >= 20, 10000);
    QVERIFY(peer.queryCount() < 150);
    delete receiver;
    const qsizetype atDeath = log->deliveries.size();

    QTRY_VERIFY_WITH_TIMEOUT(scan->isFinished(), 15000);
    QTest::qWait(100); // the end event would run now
    QCOMPARE(peer.queryCount(), 200); // the scan itself went on to its end
    QCOMPARE(log->deliveries.size(), atDeath);
    QCOMPARE(log->errors, QStringList{});
    QCOMPARE(log->ended, 0);
    QCOMPARE(log->offThread, 0);
    delete scan;
}

void TestNbtScan::deletingARunningScan_data()
{
    QTest::addColumn<QString>("last");
    QTest::addColumn<int>("busyMs"); // the owner thread does not run its loop this long before the delete
    QTest::newRow("while sending") << "127.1.255.255" << 0;
    QTest::newRow("while sending, hand-over waiting") << "127.1.255.255" << 100;
    QTest::newRow("while draining") << "127.1.0.1" << 0;
    QTest::newRow("while draining, hand-over waiting") << "127.1.0.1" << 100;
}

void TestNbtScan::deletingARunningScan()
{
    CORVANE_REQUIRE_ROOT();
    QFETCH(QString, last);
    QFETCH(int, busyMs);

    // Every query is answered by a stream of datagrams from new addresses, one every 10 ms.
    std::atomic<std::uint32_t> next{dotted_host_order("127.2.0.1")};
    NbResponder peer([&next](const NbResponder::Query& q) {
        std::vector<NbResponder::Datagram> d;
        for (int i = 0; i < 100; ++i)
            d.push_back({answerFor(q), next++, 10 * i});
        return d;
    });
    QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
    Log log = std::make_shared<ScanLog>();
    TNBTscanThread* scan = m_scans.make(log, QStringLiteral("127.1.0.1"), last);
    scan->FreeResults = false;
    scan->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(log->deliveries.size() >= 20, 10000);
    const std::uint16_t port = peer.queries()[0].fromPort;
    if (busyMs > 0)
        QThread::msleep(static_cast<unsigned long>(busyMs)); // answers keep coming: the scan waits in a hand-over
    const qsizetype before = log->deliveries.size();
    const std::uint32_t sentBefore = scan->QueriesSent();

    QElapsedTimer timer;
    timer.start();
    delete scan;
    qInfo("delete took %lld ms", static_cast<long long>(timer.elapsed()));
    QVERIFY(!holdsUdpPort(port));
    QTest::qWait(300);
    QCOMPARE(log->deliveries.size(), before); // nothing is handed over once deletion started
    QCOMPARE(log->ended, 0);                  // nor does the end event run on the deleted object
    // At most the query of the pass under way went out after the request.
    const int heard = peer.queryCount();
    QVERIFY2(heard <= int(sentBefore) + 1, qPrintable(QStringLiteral("%1 sent, %2 heard").arg(sentBefore).arg(heard)));
    QTest::qWait(200);
    QCOMPARE(peer.queryCount(), heard);
    QCOMPARE(log->offThread, 0);
}

// A test that gives up leaves its scan to the factory: once the factory goes, no thread and no
// callback holds the log any more.
void TestNbtScan::factoryStopsTheScansATestLeft()
{
    Log log = std::make_shared<ScanLog>();
    {
        ScanFactory scans;
        TNBTscanThread* scan = scans.make(log, QStringLiteral("127.1.0.1"), QStringLiteral("127.1.255.254"));
        scan->setObjectName(QStringLiteral("nbt-left"));
        scan->Resume();
        QTRY_VERIFY_WITH_TIMEOUT(scan->QueriesSent() > 10, 5000);
        QVERIFY(threadNamed("nbt-left") > 0);
    }
    QCOMPARE(log.use_count(), 1L);
    QCOMPARE(log->ended, 0);
    // The scan has ended once the factory is gone; the kernel may take a moment more to reap the thread.
    QTRY_COMPARE_WITH_TIMEOUT(threadNamed("nbt-left"), pid_t{0}, 5000);
}

void TestNbtScan::sendInterval_data()
{
    QTest::addColumn<int>("bandwidth");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("microseconds");
    QTest::newRow("0: no limit") << 0 << 0 << 1;
    QTest::newRow("-1: no limit") << -1 << 0 << 1;
    QTest::newRow("most negative") << std::numeric_limits<int>::min() << 0 << 1;
    QTest::newRow("8000") << 8000 << 0 << 78000;
    QTest::newRow("400") << 400 << 1 << 560000;
    QTest::newRow("624: one second exactly") << 624 << 1 << 0;
    QTest::newRow("1: seconds only") << 1 << 624 << 0;
    QTest::newRow("7 cut to whole microseconds") << 7 << 89 << 142857;
    QTest::newRow("624000000") << 624000000 << 0 << 1;
    QTest::newRow("above 624000000") << 700000000 << 0 << 0;
}

void TestNbtScan::sendInterval()
{
    QFETCH(int, bandwidth);
    QFETCH(int, seconds);
    QFETCH(int, microseconds);
    const time_value t = send_interval(bandwidth);
    QCOMPARE(t.seconds, seconds);
    QCOMPARE(t.microseconds, microseconds);
}

void TestNbtScan::timeDiff_data()
{
    QTest::addColumn<int>("aS");
    QTest::addColumn<int>("aUs");
    QTest::addColumn<int>("bS");
    QTest::addColumn<int>("bUs");
    QTest::addColumn<int>("dS");
    QTest::addColumn<int>("dUs");
    QTest::newRow("no borrow") << 5 << 200000 << 3 << 100000 << 2 << 100000;
    QTest::newRow("borrow") << 5 << 100000 << 3 << 200000 << 1 << 900000;
    QTest::newRow("borrow to zero seconds") << 4 << 0 << 3 << 1 << 0 << 999999;
    QTest::newRow("equal") << 7 << 5000 << 7 << 5000 << 0 << 0;
    QTest::newRow("negative with borrow") << 0 << 0 << 0 << 1 << -1 << 999999;
    QTest::newRow("negative seconds") << 3 << 500 << 5 << 100 << -2 << 400;
}

void TestNbtScan::timeDiff()
{
    QFETCH(int, aS);
    QFETCH(int, aUs);
    QFETCH(int, bS);
    QFETCH(int, bUs);
    QFETCH(int, dS);
    QFETCH(int, dUs);
    const time_value d = time_diff({aS, aUs}, {bS, bUs});
    QCOMPARE(d.seconds, dS);
    QCOMPARE(d.microseconds, dUs);
}

void TestNbtScan::timeNotBefore_data()
{
    QTest::addColumn<int>("aS");
    QTest::addColumn<int>("aUs");
    QTest::addColumn<int>("bS");
    QTest::addColumn<int>("bUs");
    QTest::addColumn<bool>("notBefore");
    QTest::newRow("equal") << 1 << 500 << 1 << 500 << true;
    QTest::newRow("later microseconds") << 1 << 501 << 1 << 500 << true;
    QTest::newRow("earlier microseconds") << 1 << 499 << 1 << 500 << false;
    QTest::newRow("later second, fewer microseconds") << 2 << 0 << 1 << 999999 << true;
    QTest::newRow("earlier second, more microseconds") << 0 << 999999 << 1 << 0 << false;
    QTest::newRow("1 ms against 1 us") << 0 << 1000 << 0 << 1 << true;
    QTest::newRow("0 against 1 us") << 0 << 0 << 0 << 1 << false;
}

void TestNbtScan::timeNotBefore()
{
    QFETCH(int, aS);
    QFETCH(int, aUs);
    QFETCH(int, bS);
    QFETCH(int, bUs);
    QFETCH(bool, notBefore);
    QCOMPARE(time_not_before({aS, aUs}, {bS, bUs}), notBefore);
}

void TestNbtScan::scanTransactionId_data()
{
    QTest::addColumn<int>("startSecond");
    QTest::addColumn<int>("nowS");
    QTest::addColumn<int>("nowUs");
    QTest::addColumn<uint>("id");
    QTest::addColumn<int>("wire");
    QTest::newRow("T0 + 70 s + 5 ms") << 1000 << 1070 << 5000 << 70005u << 4469;
    QTest::newRow("at T0") << 1000 << 1000 << 0 << 0u << 0;
    QTest::newRow("sub-millisecond cut") << 1000 << 1000 << 999999 << 999u << 999;
    QTest::newRow("65.535 s") << 50 << 115 << 535000 << 65535u << 65535;
    QTest::newRow("65.536 s wraps on the wire") << 50 << 115 << 536000 << 65536u << 0;
    QTest::newRow("large clock") << 86399 << 86400 << 1000 << 1001u << 1001;
}

void TestNbtScan::scanTransactionId()
{
    QFETCH(int, startSecond);
    QFETCH(int, nowS);
    QFETCH(int, nowUs);
    QFETCH(uint, id);
    QFETCH(int, wire);
    const std::uint32_t got = scan_transaction_id({nowS, nowUs}, startSecond);
    QCOMPARE(got, std::uint32_t{id});
    QCOMPARE(int(got & 0xFFFF), wire);
}

void TestNbtScan::timeOfDayIsMonotonicMilliseconds()
{
    time_value previous = time_of_day();
    QElapsedTimer timer;
    timer.start();
    int ticks = 0;
    int oneMsSteps = 0;
    // Until ten steps of exactly one millisecond: on a busy machine this thread can be off the CPU
    // for most of any short window, so a coarser clock, not the scheduler, is what fails here.
    while (oneMsSteps < 10 && timer.elapsed() < 5000) {
        const time_value now = time_of_day();
        QVERIFY(now.microseconds >= 0 && now.microseconds <= 999000);
        QCOMPARE(now.microseconds % 1000, 0);
        QVERIFY(time_not_before(now, previous));
        if (now.seconds != previous.seconds || now.microseconds != previous.microseconds) {
            ++ticks;
            const time_value step = time_diff(now, previous);
            oneMsSteps += step.seconds == 0 && step.microseconds == 1000;
        }
        previous = now;
    }
    QVERIFY(ticks >= 10);
    QVERIFY(oneMsSteps >= 10);
}

QTEST_GUILESS_MAIN(TestNbtScan)
#include "tst_nbtscan.moc"
