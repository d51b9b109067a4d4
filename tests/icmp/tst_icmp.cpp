#include "icmp/Icmp.h"
#include "NetnsLab.h"
#include "TestSupport.h"
#include "platform/IcmpSweep.h"
#include "platform/Ipv4.h"

#include <QtTest>

#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netinet/ip.h>
#include <poll.h>

#include <chrono>
#include <map>
#include <numeric>
#include <thread>

using corvane::test::NetnsLab;

class TestIcmp : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void loopbackEcho_data();
    void loopbackEcho();
    void rangeChecks_data();
    void rangeChecks();
    void overflow();
    void broadcastNeverPinged();
    void unresolvableName();
    void resolveOnce();
    void namespaceEchoes();
    void sweepMatchesAnswers_data();
    void sweepMatchesAnswers();
    void sweepCreditsNoLateAnswerAfterTheWrap_data() { sweepMatchesAnswers_data(); }
    void sweepCreditsNoLateAnswerAfterTheWrap();
};

namespace {

using corvane::platform::icmp_sweep;
using Kind = corvane::platform::icmp_echo_handle::socket_kind;

struct Outcome
{
    std::uint32_t count;
    std::uint32_t status;
    QString from;
    bool operator==(const Outcome&) const = default;
};

// One sweep over the addresses; the outcomes in the order they were handed over.
std::vector<Outcome> sweep(const QStringList& addresses, int ttl, std::uint32_t timeoutMs, Kind expectedKind,
                           std::vector<std::uint64_t>* order = nullptr)
{
    icmp_sweep s;
    if (s.kind() != expectedKind)
        return {};
    const std::vector<unsigned char> data = TICMP::RequestData(56);
    TIpOptionInfo options{};
    options.Ttl = static_cast<std::uint8_t>(ttl);
    std::vector<Outcome> out;
    s.run(
        static_cast<std::uint64_t>(addresses.size()),
        [&](std::uint64_t i) { return corvane::ipv4::inet_addr_value(addresses[static_cast<qsizetype>(i)]).value; },
        data.data(),
        56, &options, timeoutMs,
        [&](std::uint64_t i, const TIcmpEchoReply& r, std::uint32_t n) {
            if (order)
                order->push_back(i);
            out.push_back({n, r.Status, corvane::ipv4::dotted(corvane::ipv4::TNetAddr{r.Address})});
            if (n && r.Status == 0 && r.DataSize != 56)
                out.back().from += " short data";
        });
    return out;
}

QString describe(const std::vector<Outcome>& v)
{
    QStringList l;
    for (std::size_t i = 0; i < std::min<std::size_t>(v.size(), 8); ++i)
        l << QString("%1/%2/%3").arg(v[i].count).arg(v[i].status).arg(v[i].from);
    return QString("%1 outcomes: ").arg(v.size()) + l.join(", ");
}

} // namespace

void TestIcmp::loopbackEcho_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("0") << 0;
    QTest::newRow("44") << 44;
    QTest::newRow("45") << 45;
    QTest::newRow("46") << 46;
    QTest::newRow("56") << 56;
    QTest::newRow("65507 largest on loopback") << 65507;
}

void TestIcmp::loopbackEcho()
{
    CORVANE_REQUIRE_ROOT();
    QFETCH(int, size);
    TICMP icmp;
    icmp.SetAddress("127.0.0.1");
    icmp.Size = size;
    icmp.Timeout = 2000;
    QStringList seen;
    icmp.OnEchoRequest = [&](TICMP*) { seen << "request"; };
    icmp.OnEchoReply = [&](TICMP*, std::int32_t n) { seen << QString("reply %1").arg(n); };
    QCOMPARE(icmp.Ping(), 1);
    QCOMPARE(seen, QStringList({"request", "reply 1"}));
    QCOMPARE(icmp.Reply().Status, 0u);
    QCOMPARE(icmp.LastError(), 0);
    QCOMPARE(icmp.Reply().Address, htonl(INADDR_LOOPBACK));
    QCOMPARE(int(icmp.Reply().DataSize), size);
    QVERIFY(icmp.Reply().Options.Ttl > 0);
    QCOMPARE(QByteArray(icmp.HostIP().c_str()), QByteArray("127.0.0.1"));
}

void TestIcmp::rangeChecks_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("ttl");
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<bool>("refused");
    QTest::newRow("ttl 255") << 56 << 255 << 0 << 500 << false;
    QTest::newRow("ttl 256") << 56 << 256 << 0 << 500 << true;
    QTest::newRow("ttl -1") << 56 << -1 << 0 << 500 << true;
    QTest::newRow("flags 256") << 56 << 64 << 256 << 500 << true;
    QTest::newRow("flags df") << 56 << 64 << 2 << 500 << false;
    QTest::newRow("timeout -1") << 56 << 64 << 0 << -1 << true;
    QTest::newRow("timeout 0") << 56 << 64 << 0 << 0 << false;
    QTest::newRow("size 65535") << 65535 << 64 << 0 << 500 << false;
    QTest::newRow("size 65536") << 65536 << 64 << 0 << 500 << true;
    QTest::newRow("size -1") << -1 << 64 << 0 << 500 << true;
    QTest::newRow("size -29") << -29 << 64 << 0 << 500 << true;
}

void TestIcmp::rangeChecks()
{
    CORVANE_REQUIRE_ROOT();
    QFETCH(int, size);
    QFETCH(int, ttl);
    QFETCH(int, flags);
    QFETCH(int, timeout);
    QFETCH(bool, refused);
    TICMP icmp;
    icmp.SetAddress("127.0.0.1");
    icmp.Size = size;
    icmp.TTL = ttl;
    icmp.Flags = flags;
    icmp.Timeout = timeout;
    int requests = 0, replies = 0;
    icmp.OnEchoRequest = [&](TICMP*) { ++requests; };
    icmp.OnEchoReply = [&](TICMP*, std::int32_t) { ++replies; };
    if (refused) {
        try {
            icmp.Ping();
            QFAIL("no range error");
        } catch (const ERangeError& e) {
            QCOMPARE(QByteArray(e.what()), QByteArray("Range check error"));
        }
        QCOMPARE(requests, 1);
        QCOMPARE(replies, 0);
    } else {
        const int n = icmp.Ping();
        QCOMPARE(replies, 1);
        if (size == 65535) { // too large for one IP datagram: refused by the stack, not by the checks
            QCOMPARE(n, 0);
            QCOMPARE(icmp.Reply().Status, corvane::platform::ip_status::packet_too_big);
        } else if (timeout > 0) {
            QCOMPARE(n, 1);
        }
    }
}

void TestIcmp::overflow()
{
    TICMP icmp;
    icmp.SetAddress("127.0.0.1");
    icmp.Size = std::numeric_limits<std::int32_t>::max() - 27;
    int requests = 0;
    icmp.OnEchoRequest = [&](TICMP*) { ++requests; };
    QVERIFY_THROWS_EXCEPTION(EIntOverflow, icmp.Ping());
    QCOMPARE(requests, 0);
}

void TestIcmp::broadcastNeverPinged()
{
    TICMP icmp;
    icmp.SetAddress("255.255.255.255");
    QStringList texts;
    int hooks = 0;
    icmp.OnDisplay = [&](TICMP*, const std::string& m) { texts << QString::fromStdString(m); };
    icmp.OnEchoRequest = [&](TICMP*) { ++hooks; };
    icmp.OnEchoReply = [&](TICMP*, std::int32_t) { ++hooks; };
    QCOMPARE(icmp.Ping(), 0);
    QCOMPARE(icmp.LastError(), 11018);
    QCOMPARE(texts.last(), QString("Invalid host address"));
    QCOMPARE(hooks, 0);
}

void TestIcmp::unresolvableName()
{
    TICMP icmp;
    icmp.SetAddress("no-such-host.invalid");
    QStringList texts;
    int hooks = 0;
    icmp.OnDisplay = [&](TICMP*, const std::string& m) { texts << QString::fromStdString(m); };
    icmp.OnEchoReply = [&](TICMP*, std::int32_t) { ++hooks; };
    QCOMPARE(icmp.Ping(), 0);
    QCOMPARE(texts, QStringList({"Unable to resolve no-such-host.invalid", "Invalid host address"}));
    QCOMPARE(icmp.LastError(), 11018);
    QCOMPARE(hooks, 0);
    QVERIFY(!icmp.AddrResolved());
    // A failed resolution is tried again at the next echo.
    texts.clear();
    QCOMPARE(icmp.Ping(), 0);
    QCOMPARE(texts.size(), 2);
    // Before the echo's own status replaces it, the lookup's: "not found" or, without a reachable
    // name server, "try again".
    icmp.ResolveAddr();
    QVERIFY2(icmp.LastError() == corvane::lookup_status::host_not_found
                 || icmp.LastError() == corvane::lookup_status::try_again,
             qPrintable(QString::number(icmp.LastError())));
}

void TestIcmp::resolveOnce()
{
    CORVANE_REQUIRE_ROOT();
    TICMP icmp;
    icmp.Timeout = 1000;
    icmp.SetAddress("localhost");
    QCOMPARE(icmp.Ping(), 1);
    QVERIFY(icmp.AddrResolved());
    QCOMPARE(QByteArray(icmp.HostIP().c_str()), QByteArray("127.0.0.1"));
    QVERIFY(!icmp.HostName().empty());
    // Same text: the resolution stays; a different text is resolved afresh.
    icmp.SetAddress("localhost");
    QVERIFY(icmp.AddrResolved());
    icmp.SetAddress("127.0.0.2");
    QVERIFY(!icmp.AddrResolved());
    QCOMPARE(icmp.Ping(), 1);
    QCOMPARE(QByteArray(icmp.HostIP().c_str()), QByteArray("127.0.0.2"));
}

void TestIcmp::namespaceEchoes()
{
    CORVANE_REQUIRE_ROOT();
    CORVANE_REQUIRE_PROGRAM("ip");
    NetnsLab lab;
    QVERIFY2(lab.ok(), qPrintable(lab.lastError()));
    QVERIFY(lab.addSegment("a"));
    QVERIFY(lab.addSegment("b"));
    QVERIFY(lab.addHost("pc", "a", "10.81.1.2/24"));
    QVERIFY(lab.addRouter("gw", {{"a", "10.81.1.1/24"}, {"b", "10.81.2.1/24"}}));
    QVERIFY(lab.addHost("far", "b", "10.81.2.9/24"));
    QVERIFY(lab.addRoute("pc", {"default", "via", "10.81.1.1"}));
    QVERIFY(lab.addRoute("far", {"default", "via", "10.81.2.1"}));
    QVERIFY(lab.addRoute("gw", {"unreachable", "10.81.9.0/24"}));
    QVERIFY(lab.addRoute("pc", {"unreachable", "10.81.8.0/24"}));

    NetnsLab::ScopedEnter in(lab, "pc");
    QVERIFY(in.ok());
    struct Row { const char* addr; int ttl; int count; std::uint32_t status; const char* from; };
    const Row rows[] = {
        {"10.81.2.9", 64, 1, 0, "10.81.2.9"},
        {"10.81.2.9", 1, 1, corvane::platform::ip_status::ttl_expired_transit, "10.81.1.1"},
        {"10.81.9.5", 64, 1, corvane::platform::ip_status::dest_host_unreachable, "10.81.1.1"},
        {"10.81.8.5", 64, 0, corvane::platform::ip_status::dest_host_unreachable, "0.0.0.0"},
        {"10.81.1.77", 64, 0, corvane::platform::ip_status::req_timed_out, "0.0.0.0"},
    };
    for (const Row& r : rows) {
        TICMP icmp;
        icmp.SetAddress(r.addr);
        icmp.TTL = r.ttl;
        icmp.Timeout = 1500;
        int replyHook = -1;
        icmp.OnEchoReply = [&](TICMP*, std::int32_t n) { replyHook = n; };
        const int n = icmp.Ping();
        const QString where = QString("%1 ttl %2").arg(r.addr).arg(r.ttl);
        QVERIFY2(n == r.count, qPrintable(where));
        QCOMPARE(replyHook, r.count);
        QVERIFY2(icmp.Reply().Status == r.status, qPrintable(where + " status " + QString::number(icmp.Reply().Status)));
        QCOMPARE(corvane::ipv4::dotted(corvane::ipv4::TNetAddr{icmp.Reply().Address}), QString(r.from));
        QCOMPARE(icmp.LastError(), std::int32_t(r.status));
    }

    // The sweep gives each address the outcome the one-echo facility gave it, on either socket.
    for (const auto& [kind, groups] : {std::pair{Kind::raw, "1 0"}, std::pair{Kind::datagram, "0 2147483647"}}) {
        QVERIFY(lab.setSysctl("pc", "net.ipv4.ping_group_range", groups));
        for (int ttl : {64, 1}) {
            QStringList addresses;
            std::vector<Outcome> expected;
            for (const Row& r : rows)
                if (r.ttl == ttl) {
                    addresses << r.addr;
                    expected.push_back({std::uint32_t(r.count), r.status, r.from});
                }
            // An earlier echo's ARP failing now would report "host unreachable" into this sweep.
            QCOMPARE(lab.run("pc", {"ip", "neigh", "flush", "all"}).exitCode, 0);
            const std::vector<Outcome> got = sweep(addresses, ttl, 1500, kind);
            QVERIFY2(got == expected, qPrintable(QString("ttl %1 groups %2: %3").arg(ttl).arg(groups).arg(describe(got))));
        }
    }

    // Permission: the unprivileged user gets a clear text, then pings once the range is opened.
    const QString probe = QCoreApplication::applicationFilePath();
    QVERIFY(lab.setSysctl("far", "net.ipv4.ping_group_range", "1 0"));
    auto shut = lab.runAsUser("far", 65534, 65534, {probe, "--probe", "10.81.2.1"});
    QVERIFY2(shut.out.contains("count=0") && shut.out.contains("ICMP sockets not permitted"), qPrintable(shut.out + shut.err));
    QVERIFY(lab.setSysctl("far", "net.ipv4.ping_group_range", "0 2147483647"));
    auto open = lab.runAsUser("far", 65534, 65534, {probe, "--probe", "10.81.2.1"});
    QVERIFY2(open.out.contains("count=1 status=0 kind=datagram"), qPrintable(open.out + open.err));
}

void TestIcmp::sweepMatchesAnswers_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("groups"); // net.ipv4.ping_group_range: root gets the datagram socket or not
    QTest::newRow("raw") << int(Kind::raw) << "1 0";
    QTest::newRow("datagram") << int(Kind::datagram) << "0 2147483647";
}

// The kernel answers no echo here; a second socket answers by the last octet: .1 at once, .2 after
// its time-out, .3 with another identifier, .4 twice, .6 with "host unreachable"; the rest never.
void TestIcmp::sweepMatchesAnswers()
{
    CORVANE_REQUIRE_ROOT();
    QFETCH(int, kind);
    QFETCH(QString, groups);
    NetnsLab lab;
    QVERIFY2(lab.ok() && lab.addSegment("s") && lab.addHost("me", "s", "10.82.0.1/24"), qPrintable(lab.lastError()));
    QVERIFY(lab.setSysctl("me", "net.ipv4.icmp_echo_ignore_all", "1"));
    QVERIFY(lab.setSysctl("me", "net.ipv4.ping_group_range", groups));
    NetnsLab::ScopedEnter in(lab, "me");
    QVERIFY(in.ok());
    const int peer = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    QVERIFY(peer >= 0);
    icmp_filter requestsOnly{~(1U << ICMP_ECHO)};
    QVERIFY(::setsockopt(peer, SOL_RAW, ICMP_FILTER, &requestsOnly, sizeof(requestsOnly)) == 0);

    constexpr int timeoutMs = 200;
    std::atomic<bool> done{false};
    std::thread responder([&] {
        using clock = std::chrono::steady_clock;
        std::vector<std::pair<clock::time_point, std::vector<unsigned char>>> later;
        const auto send = [&](std::vector<unsigned char> icmp) {
            icmp[2] = icmp[3] = 0;
            const std::uint16_t sum = corvane::platform::icmp_checksum(icmp.data(), icmp.size());
            std::memcpy(&icmp[2], &sum, 2);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::sendto(peer, icmp.data(), icmp.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
        };
        while (!done) {
            for (auto it = later.begin(); it != later.end();)
                if (clock::now() >= it->first) {
                    send(it->second);
                    it = later.erase(it);
                } else
                    ++it;
            pollfd pfd{peer, POLLIN, 0};
            if (::poll(&pfd, 1, 5) <= 0)
                continue;
            unsigned char buf[2048];
            const ssize_t n = ::recv(peer, buf, sizeof(buf), 0);
            const std::size_t ihl = std::size_t(buf[0] & 0x0F) * 4;
            if (n < ssize_t(ihl + 8))
                continue;
            const int octet = buf[18] == 0 ? buf[19] : 0; // 127.0.0.x by its last byte
            std::vector<unsigned char> reply(buf + ihl, buf + n);
            reply[0] = ICMP_ECHOREPLY;
            if (octet == 1)
                send(reply);
            else if (octet == 2)
                later.push_back({clock::now() + std::chrono::milliseconds(timeoutMs + 30), reply});
            else if (octet == 3) {
                reply[4] ^= 0x55;
                send(reply);
            } else if (octet == 4) {
                send(reply);
                send(reply);
            } else if (octet == 6) {
                std::vector<unsigned char> error{ICMP_DEST_UNREACH, ICMP_HOST_UNREACH, 0, 0, 0, 0, 0, 0};
                error.insert(error.end(), buf, buf + ihl + 8); // the request's IP header and first 8 bytes
                send(error);
            }
        }
    });

    // The silent addresses keep the sweep running past the late answer to .2.
    QStringList addresses{"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6"};
    for (int i = 10; i < 110; ++i)
        addresses << QString("127.0.1.%1").arg(i);
    std::vector<std::uint64_t> order;
    const std::vector<Outcome> got = sweep(addresses, 64, timeoutMs, Kind(kind), &order);

    // One echo at a time through the same peer, on one handle: another identifier, the late answer to
    // .2 coming during the echo to .5, and .4's second answer coming during the next are not answers.
    const QStringList oneByOne{"127.0.0.1", "127.0.0.3", "127.0.0.6", "127.0.0.2", "127.0.0.5", "127.0.0.4",
                               "127.0.0.1"};
    QStringList echoes;
    TICMP icmp;
    icmp.Timeout = timeoutMs;
    for (const QString& address : oneByOne) {
        icmp.SetAddress(address.toStdString());
        const std::int32_t n = icmp.Ping();
        echoes << QString("%1: %2/%3/%4/%5")
                      .arg(address)
                      .arg(n)
                      .arg(icmp.Reply().Status)
                      .arg(inet_ntoa(in_addr{icmp.Reply().Address}))
                      .arg(icmp.Reply().DataSize);
    }
    done = true;
    responder.join();
    ::close(peer);
    QCOMPARE(int(icmp.SocketKind()), kind);
    const QString timedOutEcho = QString("0/%1/0.0.0.0/0").arg(corvane::platform::ip_status::req_timed_out);
    QCOMPARE(echoes, QStringList({"127.0.0.1: 1/0/127.0.0.1/56", "127.0.0.3: " + timedOutEcho,
                                  QString("127.0.0.6: 1/%1/127.0.0.1/0")
                                      .arg(corvane::platform::ip_status::dest_host_unreachable),
                                  "127.0.0.2: " + timedOutEcho, "127.0.0.5: " + timedOutEcho,
                                  "127.0.0.4: 1/0/127.0.0.1/56", "127.0.0.1: 1/0/127.0.0.1/56"}));

    const Outcome timedOut{0, corvane::platform::ip_status::req_timed_out, "0.0.0.0"};
    std::vector<Outcome> expected{{1, 0, "127.0.0.1"}, timedOut, timedOut, {1, 0, "127.0.0.1"}, timedOut,
                                  {1, corvane::platform::ip_status::dest_host_unreachable, "127.0.0.1"}};
    expected.resize(std::size_t(addresses.size()), timedOut);
    QVERIFY2(got == expected, qPrintable(describe(got)));
    std::vector<std::uint64_t> ascending(order.size());
    std::iota(ascending.begin(), ascending.end(), 0);
    QCOMPARE(order, ascending);
}

// 65,546 addresses at 100,000 echoes a second: the slot and sequence of 127.0.0.5 come round again for
// 127.1.0.5. The peer answers 127.0.0.5 only when the echo to 127.1.0.5 arrives; that late answer is
// nobody's. 127.1.0.7 is answered at once, from its own address as hosts answer.
void TestIcmp::sweepCreditsNoLateAnswerAfterTheWrap()
{
    CORVANE_REQUIRE_ROOT();
    QFETCH(int, kind);
    QFETCH(QString, groups);
    NetnsLab lab;
    QVERIFY2(lab.ok() && lab.addSegment("s") && lab.addHost("me", "s", "10.82.0.1/24"), qPrintable(lab.lastError()));
    QVERIFY(lab.setSysctl("me", "net.ipv4.icmp_echo_ignore_all", "1"));
    QVERIFY(lab.setSysctl("me", "net.ipv4.ping_group_range", groups));
    NetnsLab::ScopedEnter in(lab, "me");
    QVERIFY(in.ok());
    const int peer = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    QVERIFY(peer >= 0);
    icmp_filter requestsOnly{~(1U << ICMP_ECHO)};
    QVERIFY(::setsockopt(peer, SOL_RAW, ICMP_FILTER, &requestsOnly, sizeof(requestsOnly)) == 0);
    const int room = 64 << 20; // the whole sweep's requests, should the peer fall behind
    QVERIFY(::setsockopt(peer, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof(room)) == 0);

    const auto net = [](const char* dotted) { return corvane::ipv4::inet_addr_value(QString::fromLatin1(dotted)).value; };
    const std::uint32_t early = net("127.0.0.5"), wrapped = net("127.1.0.5"), answered = net("127.1.0.7");
    std::atomic<bool> done{false};
    std::atomic<int> seen{0}; // of the three requests above
    std::thread responder([&] {
        // A reply from the address the request went to, back to its sender.
        const auto reply = [](const unsigned char* ip, std::size_t n) {
            const std::size_t ihl = std::size_t(ip[0] & 0x0F) * 4;
            std::vector<unsigned char> icmp(ip + ihl, ip + n);
            icmp[0] = ICMP_ECHOREPLY;
            icmp[2] = icmp[3] = 0;
            const std::uint16_t sum = corvane::platform::icmp_checksum(icmp.data(), icmp.size());
            std::memcpy(&icmp[2], &sum, 2);
            const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
            sockaddr_in from{}, to{};
            from.sin_family = to.sin_family = AF_INET;
            std::memcpy(&from.sin_addr.s_addr, ip + 16, 4);
            std::memcpy(&to.sin_addr.s_addr, ip + 12, 4);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof(from)) == 0)
                ::sendto(fd, icmp.data(), icmp.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
            ::close(fd);
        };
        std::vector<unsigned char> held;
        unsigned char buf[2048];
        while (!done) {
            pollfd pfd{peer, POLLIN, 0};
            if (::poll(&pfd, 1, 5) <= 0)
                continue;
            const ssize_t n = ::recv(peer, buf, sizeof(buf), 0);
            if (n < 28)
                continue;
            std::uint32_t to = 0;
            std::memcpy(&to, buf + 16, 4);
            if (to == early) {
                held.assign(buf, buf + n);
                ++seen;
            } else if (to == wrapped) {
                ++seen;
                if (!held.empty())
                    reply(held.data(), held.size());
            } else if (to == answered) {
                ++seen;
                reply(buf, std::size_t(n));
            }
        }
    });

    icmp_sweep sweep;
    QCOMPARE(int(sweep.kind()), kind);
    sweep.set_rate(100000);
    const std::uint32_t first = corvane::ipv4::TNetAddr{net("127.0.0.1")}.host().value;
    const std::uint64_t count = 65546;
    const std::vector<unsigned char> data = TICMP::RequestData(56);
    TIpOptionInfo options{};
    options.Ttl = 64;
    std::map<QString, Outcome> got;
    std::uint64_t outcomes = 0;
    sweep.run(
        count, [&](std::uint64_t i) { return corvane::ipv4::THostAddr{first + std::uint32_t(i)}.net().value; },
        data.data(), 56, &options, 300,
        [&](std::uint64_t i, const TIcmpEchoReply& r, std::uint32_t n) {
            ++outcomes;
            const QString address = corvane::ipv4::dotted(corvane::ipv4::THostAddr{first + std::uint32_t(i)});
            if (address.startsWith(QLatin1String("127.0.0.")) || address.startsWith(QLatin1String("127.1.0.")))
                got[address] = {n, r.Status, corvane::ipv4::dotted(corvane::ipv4::TNetAddr{r.Address})};
        });
    done = true;
    responder.join();
    ::close(peer);
    QCOMPARE(seen.load(), 3);
    QCOMPARE(outcomes, count);
    const Outcome timedOut{0, corvane::platform::ip_status::req_timed_out, "0.0.0.0"};
    QCOMPARE(got["127.0.0.5"], timedOut);
    QCOMPARE(got["127.1.0.5"], timedOut);
    QCOMPARE(got["127.1.0.7"], (Outcome{1, 0, "127.1.0.7"}));
    QCOMPARE(got["127.1.0.6"], timedOut);
}

// Run by the test itself inside a namespace as another user.
static int probeMain(const char* address)
{
    TICMP icmp;
    icmp.SetAddress(address);
    icmp.Timeout = 1500;
    icmp.OnDisplay = [](TICMP*, const std::string& m) { std::printf("display=%s\n", m.c_str()); };
    const int n = icmp.Ping();
    const char* kind = icmp.SocketKind() == corvane::platform::icmp_echo_handle::socket_kind::datagram ? "datagram"
        : icmp.SocketKind() == corvane::platform::icmp_echo_handle::socket_kind::raw                   ? "raw"
                                                                                                        : "none";
    std::printf("count=%d status=%u kind=%s\n", n, icmp.Reply().Status, kind);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--probe") == 0)
        return probeMain(argv[2]);
    QCoreApplication app(argc, argv);
    TestIcmp t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_icmp.moc"
