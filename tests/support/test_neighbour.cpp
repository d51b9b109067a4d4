// The neighbour table and the routes as the kernel of a namespace LAN reports them.
#include "platform/FdCloser.h"
#include "platform/Neighbour.h"
#include "NetnsLab.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>

using corvane::test::NetnsLab;
using namespace corvane::platform;

Q_DECLARE_METATYPE(corvane::platform::route_kind)

namespace {

std::uint32_t net(const QString& dotted)
{
    in_addr a {};
    ::inet_pton(AF_INET, dotted.toLatin1().constData(), &a);
    return a.s_addr;
}

// One datagram to port 9, enough to make the kernel resolve the address.
bool poke(const QString& dotted)
{
    const fd_closer fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = net(dotted);
    return fd.fd >= 0 && ::sendto(fd.fd, "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 1;
}

// The entry for dotted once it is in state, looked for every 50 ms during limitMs; else none.
std::optional<neigh_entry> wait_for(const QString& dotted, neigh_state state, qint64 limitMs = 0)
{
    QElapsedTimer clock;
    clock.start();
    for (;; QTest::qSleep(50)) {
        if (const std::optional<std::vector<neigh_entry>> table = read_neighbours())
            for (const neigh_entry& e : *table)
                if (e.address == net(dotted) && e.state == state)
                    return e;
        if (clock.elapsed() >= limitMs)
            return std::nullopt;
    }
}

// Held shared while a test needs a few entries of room; what fills the table holds it exclusively.
// Waits at most 30 s for such a program; -1 when it still runs.
fd_closer table_room()
{
    fd_closer lock(::open("/tmp/corvane-neigh.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    for (int tries = 0; lock.fd >= 0 && ::flock(lock.fd, LOCK_SH | LOCK_NB) != 0; ++tries)
        if (tries == 300)
            ::close(lock.release());
        else
            QTest::qSleep(100);
    return fd_closer(lock.release());
}

} // namespace

class TestNeighbour : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void routes_data();
    void routes();
    void pendingEntryFailsAfterItsProbes_data();
    void pendingEntryFailsAfterItsProbes();
    void answeredEntryHasItsAddress();
    void limits();

private:
    // scan (10.84.0.2), roam (10.84.0.3, a default route) and peer (10.84.0.11, fixed MAC) on segment
    // a; gw routes a to b (10.84.1.0/24).
    bool buildLab();
    std::unique_ptr<NetnsLab> m_lab;
    std::optional<fd_closer> m_room; // taken once, for the rest of the program
};

bool TestNeighbour::buildLab()
{
    if (m_lab)
        return m_lab->ok();
    m_lab = std::make_unique<NetnsLab>();
    NetnsLab& lab = *m_lab;
    const auto scanRun = [&lab](const QStringList& argv) { return lab.run("scan", argv).exitCode == 0; };
    return lab.addSegment("a") && lab.addSegment("b") && lab.addHost("scan", "a", "10.84.0.2/24")
        && lab.addHost("peer", "a", "10.84.0.11/24", "02:84:00:00:00:0b")
        && lab.addRouter("gw", {{"a", "10.84.0.1/24"}, {"b", "10.84.1.1/24"}})
        && lab.addHost("roam", "a", "10.84.0.3/24") && lab.addRoute("roam", {"default", "via", "10.84.0.1"})
        && lab.addRoute("scan", {"10.84.1.0/24", "via", "10.84.0.1"})
        && lab.addRoute("scan", {"blackhole", "10.90.0.0/16"})
        && lab.addRoute("scan", {"10.90.0.7/32", "via", "10.84.0.1"})
        && lab.addRoute("scan", {"unreachable", "10.91.0.0/16"})
        && lab.addRoute("scan", {"prohibit", "10.92.0.0/16"})
        // An interface without address resolution, as tunnels are.
        && scanRun({"ip", "link", "add", "na0", "type", "veth", "peer", "name", "na1"})
        && scanRun({"ip", "link", "set", "na0", "arp", "off", "up"}) && scanRun({"ip", "link", "set", "na1", "up"})
        && scanRun({"ip", "addr", "add", "10.93.0.1/24", "dev", "na0"});
}

#define REQUIRE_TABLE_ROOM()                                                                                           \
    do {                                                                                                               \
        if (!m_room)                                                                                                   \
            m_room.emplace(table_room().release());                                                                    \
        if (m_room->fd < 0)                                                                                            \
            CORVANE_SKIP_OR_FAIL("another program fills the machine's neighbour table (/tmp/corvane-neigh.lock)");    \
    } while (false)

#define REQUIRE_LAB()                                                                                                  \
    do {                                                                                                               \
        CORVANE_REQUIRE_ROOT();                                                                                        \
        CORVANE_REQUIRE_PROGRAM("ip");                                                                                 \
        QVERIFY2(buildLab(), qPrintable(m_lab->lastError()));                                                          \
    } while (false)

void TestNeighbour::routes_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<route_kind>("kind");
    QTest::addColumn<QString>("interface"); // empty: not checked
    QTest::addColumn<QString>("gateway");   // empty: none
    const auto onLink = route_kind::on_link, routed = route_kind::routed, none = route_kind::no_neighbour,
               unreachable = route_kind::unreachable;
    QTest::newRow("empty address of the subnet") << "scan" << "10.84.0.50" << onLink << "eth0" << "";
    QTest::newRow("behind the router") << "scan" << "10.84.1.5" << routed << "eth0" << "10.84.0.1";
    QTest::newRow("host route inside a blackhole") << "scan" << "10.90.0.7" << routed << "eth0" << "10.84.0.1";
    QTest::newRow("rest of the blackhole") << "scan" << "10.90.0.8" << unreachable << "" << "";
    QTest::newRow("unreachable route") << "scan" << "10.91.3.3" << unreachable << "" << "";
    QTest::newRow("prohibit route") << "scan" << "10.92.0.1" << unreachable << "" << "";
    QTest::newRow("no route") << "scan" << "172.31.5.5" << unreachable << "" << "";
    QTest::newRow("loopback") << "scan" << "127.0.0.1" << none << "lo" << "";
    QTest::newRow("elsewhere in 127/8") << "scan" << "127.45.6.7" << none << "lo" << "";
    QTest::newRow("own address") << "scan" << "10.84.0.2" << none << "lo" << "";
    QTest::newRow("subnet broadcast") << "scan" << "10.84.0.255" << none << "eth0" << "";
    // Without an interface to leave by, the kernel refuses the send as well.
    QTest::newRow("limited broadcast, no default route") << "scan" << "255.255.255.255" << unreachable << "" << "";
    QTest::newRow("limited broadcast") << "roam" << "255.255.255.255" << none << "eth0" << "";
    QTest::newRow("default route") << "roam" << "172.31.5.5" << routed << "eth0" << "10.84.0.1";
    QTest::newRow("interface without ARP") << "scan" << "10.93.0.5" << none << "na0" << "";
}

void TestNeighbour::routes()
{
    QFETCH(QString, host);
    QFETCH(QString, destination);
    QFETCH(route_kind, kind);
    QFETCH(QString, interface);
    QFETCH(QString, gateway);
    REQUIRE_LAB();
    NetnsLab::ScopedEnter in(*m_lab, host);
    QVERIFY(in.ok());
    route_oracle oracle;
    // Twice: the second answer comes with the interface's flags already known.
    for (int pass = 0; pass < 2; ++pass) {
        const route_info r = oracle.route(net(destination));
        QCOMPARE(r.kind, kind);
        QCOMPARE(r.gateway, gateway.isEmpty() ? 0u : net(gateway));
        if (!interface.isEmpty())
            QCOMPARE(r.ifindex, int(::if_nametoindex(interface.toLatin1().constData())));
    }
    // In a batch, behind other lookups and across the batches' seam, the same answer.
    const std::vector<std::uint32_t> many {net("10.84.1.5"), net("127.0.0.1"), net("172.31.5.5")};
    std::vector<std::uint32_t> asked;
    for (int i = 0; i < 40; ++i)
        asked.push_back(i == 33 || i == 5 ? net(destination) : many[std::size_t(i) % many.size()]);
    const std::vector<route_info> answers = oracle.route_many(asked);
    QCOMPARE(answers.size(), asked.size());
    for (std::size_t i = 0; i < asked.size(); ++i) {
        const route_info one = oracle.route(asked[i]);
        QCOMPARE(answers[i].kind, one.kind);
        QCOMPARE(answers[i].gateway, one.gateway);
        QCOMPARE(answers[i].ifindex, one.ifindex);
    }
}

void TestNeighbour::pendingEntryFailsAfterItsProbes_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("ucast");
    QTest::addColumn<int>("mcast");
    QTest::addColumn<int>("app");
    QTest::addColumn<int>("retransMs");
    QTest::addColumn<qint64>("resolutionMs");
    // A new entry has no address to probe by unicast: ucast_solicit must not count.
    QTest::newRow("unicast probes more than multicast") << "10.84.0.61" << 3 << 2 << 0 << 500 << qint64(1000);
    QTest::newRow("application probes count") << "10.84.0.62" << 1 << 2 << 1 << 400 << qint64(1200);
}

void TestNeighbour::pendingEntryFailsAfterItsProbes()
{
    QFETCH(QString, address);
    QFETCH(int, ucast);
    QFETCH(int, mcast);
    QFETCH(int, app);
    QFETCH(int, retransMs);
    QFETCH(qint64, resolutionMs);
    REQUIRE_LAB();
    const QString key = "net.ipv4.neigh.eth0.";
    QVERIFY(m_lab->setSysctl("scan", key + "ucast_solicit", QString::number(ucast)));
    QVERIFY(m_lab->setSysctl("scan", key + "mcast_solicit", QString::number(mcast)));
    QVERIFY(m_lab->setSysctl("scan", key + "app_solicit", QString::number(app)));
    QVERIFY(m_lab->setSysctl("scan", key + "retrans_time_ms", QString::number(retransMs)));
    REQUIRE_TABLE_ROOM();
    NetnsLab::ScopedEnter in(*m_lab, "scan");
    QVERIFY(in.ok());
    const int eth0 = int(::if_nametoindex("eth0"));
    QCOMPARE(resolution_time_ms(eth0), resolutionMs);

    QElapsedTimer sent;
    sent.start();
    QVERIFY(poke(address));
    std::optional<neigh_entry> e = wait_for(address, neigh_state::incomplete);
    QVERIFY(e);
    QCOMPARE(e->ifindex, eth0);
    QVERIFY(!e->lladdr);
    e = wait_for(address, neigh_state::failed, resolutionMs + 5000);
    QVERIFY(e);
    // A late look only adds time; the kernel's timers never end the entry early (one tick of slack).
    QVERIFY2(sent.elapsed() >= resolutionMs - 20, qPrintable(QString::number(sent.elapsed())));
    QVERIFY(!e->lladdr);
}

void TestNeighbour::answeredEntryHasItsAddress()
{
    REQUIRE_LAB();
    REQUIRE_TABLE_ROOM();
    NetnsLab::ScopedEnter in(*m_lab, "scan");
    QVERIFY(in.ok());
    QVERIFY(poke("10.84.0.11"));
    const std::optional<neigh_entry> e = wait_for("10.84.0.11", neigh_state::resolved, 5000);
    QVERIFY(e);
    QCOMPARE(e->ifindex, int(::if_nametoindex("eth0")));
    QVERIFY(e->lladdr);
    QCOMPARE(*e->lladdr, (mac_bytes {0x02, 0x84, 0x00, 0x00, 0x00, 0x0b}));
    // Interfaces the table cannot know keep Linux's default.
    QCOMPARE(resolution_time_ms(0), std::int64_t(3000));
    QCOMPARE(resolution_time_ms(99999), std::int64_t(3000));
}

void TestNeighbour::limits()
{
    const auto number = [](const char* name, int otherwise) {
        QFile f(QStringLiteral("/proc/sys/net/ipv4/neigh/default/") + QLatin1String(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toInt() : otherwise;
    };
    // CI may itself run in a namespace of its own: then the files are absent here too.
    const neigh_limits here = read_neigh_limits();
    QCOMPARE(here.machine_wide, QFile::exists("/proc/sys/net/ipv4/neigh/default/gc_thresh3"));
    QCOMPARE(here.gc_thresh1, number("gc_thresh1", 128));
    QCOMPARE(here.gc_thresh3, number("gc_thresh3", 1024));
    // The count of the whole table, where it can be read, includes this namespace's entries.
    const std::optional<int> all = read_neigh_entries();
    QCOMPARE(all.has_value(), here.machine_wide);
    QVERIFY(!all || *all >= int(read_neighbours()->size()));

    REQUIRE_LAB();
    NetnsLab::ScopedEnter in(*m_lab, "scan");
    QVERIFY(in.ok());
    const neigh_limits own = read_neigh_limits();
    QVERIFY(!own.machine_wide);
    QCOMPARE(own.gc_thresh1, 128);
    QCOMPARE(own.gc_thresh3, 1024);
    QVERIFY(!read_neigh_entries());
}

QTEST_GUILESS_MAIN(TestNeighbour)
#include "test_neighbour.moc"
