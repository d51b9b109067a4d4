// The query pacer against a neighbour table, routes, clock and kernel the test controls: the budget,
// resending what the kernel refused, the bound on it, what frees room, and retry passes.
#include "NetnsLab.h"
#include "TestSupport.h"
#include "platform/FdCloser.h"
#include "platform/QueryPacer.h"

#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <map>
#include <set>

using namespace corvane::platform;
using step_kind = query_pacer::step_kind;

namespace {

constexpr std::int64_t ms = 1'000'000;

// Index i is the address 10.0.x.y with x.y = i + 1, in network order.
std::uint32_t address_of(std::uint64_t i)
{
    const auto host = static_cast<std::uint32_t>(0x0A000001u + i);
    return __builtin_bswap32(host);
}
std::uint64_t index_of(std::uint32_t address)
{
    return __builtin_bswap32(address) - 0x0A000001u;
}

// The machine as the pacer sees it, and a kernel that takes or refuses each send.
struct Machine
{
    std::int64_t now = 0;
    neigh_limits limits{128, 1024, true};
    int others = 0;                      // INCOMPLETE entries of other programs
    bool othersReclaimable = false;      // they are old STALE ones instead, the kernel's to take back
    std::optional<int> unseen;           // entries of other namespaces, in the machine-wide count only
    std::map<std::uint32_t, neigh_state> ours; // what a reading shows of our queries
    std::set<std::uint64_t> routed;      // indexes behind a gateway
    std::function<int(const query_pacer::step&)> kernel = [](const query_pacer::step&) { return 0; };
    bool queued = false;                 // the socket's error queue holds an entry
    std::function<void(const query_pacer::step&)> afterSend; // answers come after the send

    pacer_view view()
    {
        pacer_view v;
        v.now_ns = [this] { return now; };
        v.read_table = [this] {
            std::vector<neigh_entry> t;
            for (int i = 0; i < others; ++i)
                t.push_back({__builtin_bswap32(0xC0A80000u + std::uint32_t(i)), 2,
                             othersReclaimable ? neigh_state::resolved : neigh_state::incomplete, {},
                             !othersReclaimable});
            for (const auto& [a, s] : ours)
                t.push_back({a, 2, s, {}, true});
            return std::optional(t);
        };
        v.route = [this](std::uint32_t a) {
            return routed.count(index_of(a)) ? route_info{route_kind::routed, 2, 0x0100000Au}
                                             : route_info{route_kind::on_link, 2, 0};
        };
        v.limits = limits;
        v.machine_entries = [this]() -> std::optional<int> {
            if (!unseen)
                return std::nullopt;
            return *unseen + others + int(ours.size());
        };
        return v;
    }
};

struct Walk
{
    std::vector<std::uint64_t> sent; // indexes, in the order they went out
    QStringList lines;               // what the scan would report
    std::uint32_t mostPending = 0;
};

// One pass at most one send per millisecond for at most durationMs; stops at the pass's end.
void walk(query_pacer& p, Machine& m, int durationMs, Walk& w, const std::function<void(std::uint64_t)>& tick = {})
{
    for (int t = 0; t < durationMs; ++t, m.now += ms) {
        if (tick)
            tick(std::uint64_t(t));
        const query_pacer::step s = p.next();
        if (s.kind == step_kind::pass_end)
            return;
        if (s.kind == step_kind::wait)
            continue;
        const int err = m.kernel(s);
        if (err == 0) {
            p.sent(s);
            w.sent.push_back(s.index);
            if (m.afterSend)
                m.afterSend(s);
        } else if (p.send_failed(s, err, m.queued) != query_pacer::send_result::resend) {
            w.lines << QStringLiteral("%1: %2").arg(s.index).arg(p.failure_text());
        }
        w.mostPending = std::max(w.mostPending, p.pending());
    }
}

std::vector<std::uint64_t> upTo(std::uint64_t n)
{
    std::vector<std::uint64_t> v(n);
    for (std::uint64_t i = 0; i < n; ++i)
        v[i] = i;
    return v;
}

} // namespace

class TestQueryPacer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void budgetFromTheTable_data();
    void budgetFromTheTable();
    void refusedSendsAreResentInOrder_data();
    void refusedSendsAreResentInOrder();
    void resendIsBounded_data();
    void resendIsBounded();
    void whatFreesRoom_data();
    void whatFreesRoom();
    void retriesWalkOnlyTheOpen_data();
    void retriesWalkOnlyTheOpen();
    void oldStaleEntriesLeaveRoom();
};

void TestQueryPacer::budgetFromTheTable_data()
{
    QTest::addColumn<int>("others");
    QTest::addColumn<bool>("machineWide");
    QTest::addColumn<int>("bufferRoom");
    QTest::addColumn<bool>("routed");
    QTest::addColumn<int>("unseen"); // -1: no machine-wide count
    QTest::addColumn<int>("expectedSent"); // of 2,000 addresses in 2 s, before any resolution ends
    QTest::addColumn<bool>("reclaimable"); // the others' entries are old STALE ones

    QTest::newRow("empty table: all but gc_thresh1") << 0 << true << 100000 << false << -1 << 896 << false;
    QTest::newRow("500 entries of others") << 500 << true << 100000 << false << -1 << 396 << false;
    QTest::newRow("full table: nothing on-link") << 1024 << true << 100000 << false << -1 << 0 << false;
    QTest::newRow("in a namespace: a wider margin") << 0 << false << 100000 << false << -1 << 864 << false;
    QTest::newRow("send buffer smaller than the room") << 0 << true << 200 << false << -1 << 200 << false;
    QTest::newRow("full table: routed at full pace") << 1024 << true << 100000 << true << -1 << 2000 << false;
    QTest::newRow("300 entries of containers, seen only machine-wide")
        << 100 << true << 100000 << false << 300 << 496 << false;
    QTest::newRow("900 old STALE entries: as on an empty table") << 900 << true << 100000 << false << -1 << 896 << true;
}

void TestQueryPacer::budgetFromTheTable()
{
    QFETCH(int, others);
    QFETCH(bool, machineWide);
    QFETCH(int, bufferRoom);
    QFETCH(bool, routed);
    QFETCH(int, unseen);
    QFETCH(int, expectedSent);
    QFETCH(bool, reclaimable);

    Machine m;
    m.others = others;
    m.othersReclaimable = reclaimable;
    if (unseen >= 0)
        m.unseen = unseen;
    m.limits.machine_wide = machineWide;
    if (routed)
        for (std::uint64_t i = 0; i < 2000; ++i)
            m.routed.insert(i);
    pacer_options o;
    o.buffer_room = std::uint32_t(bufferRoom);
    query_pacer p(m.view(), 2000, address_of, o);
    Walk w;
    walk(p, m, 2000, w);
    QCOMPARE(w.sent.size(), std::size_t(expectedSent));
    QCOMPARE(w.sent, upTo(std::uint64_t(expectedSent)));
    QCOMPARE(p.pending(), routed ? 0u : std::uint32_t(expectedSent));
    QCOMPARE(p.queried(), std::uint64_t(expectedSent));
    QCOMPARE(w.lines, QStringList{});
}

void TestQueryPacer::refusedSendsAreResentInOrder_data()
{
    QTest::addColumn<int>("err");
    QTest::addColumn<bool>("queued");
    QTest::addColumn<int>("refusals"); // sends to index 3 refused this many times
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("ENOBUFS: a full table") << ENOBUFS << false << 20 << QStringList{};
    QTest::newRow("EAGAIN: a full send buffer") << EAGAIN << false << 50 << QStringList{};
    QTest::newRow("EINVAL: a full table on older kernels") << EINVAL << false << 20 << QStringList{};
    QTest::newRow("an earlier query's port unreachable") << ECONNREFUSED << true << 1 << QStringList{};
    QTest::newRow("an earlier query's failed resolution") << EHOSTUNREACH << true << 3 << QStringList{};
    QTest::newRow("interrupted") << EINTR << false << 2 << QStringList{};
    QTest::newRow("no route: a real failure") << ENETUNREACH << false << 1
                                              << QStringList{"3: Network is unreachable"};
    QTest::newRow("refused by the firewall") << EPERM << false << 1 << QStringList{"3: Operation not permitted"};
}

void TestQueryPacer::refusedSendsAreResentInOrder()
{
    QFETCH(int, err);
    QFETCH(bool, queued);
    QFETCH(int, refusals);
    QFETCH(QStringList, lines);

    Machine m;
    m.queued = queued;
    int left = refusals;
    m.kernel = [&](const query_pacer::step& s) { return s.index == 3 && left-- > 0 ? err : 0; };
    query_pacer p(m.view(), 10, address_of);
    Walk w;
    walk(p, m, 8000, w);
    std::vector<std::uint64_t> expected = upTo(10);
    if (!lines.isEmpty())
        expected.erase(expected.begin() + 3); // a real failure is reported, not sent again
    QCOMPARE(w.sent, expected);
    QCOMPARE(w.lines, lines);
    QCOMPARE(p.queried(), std::uint64_t{10});
}

void TestQueryPacer::resendIsBounded_data()
{
    QTest::addColumn<int>("err");    // every send to index 3 refused so; 0: sends go, the table is full
    QTest::addColumn<QString>("line");
    QTest::newRow("the table stays full") << ENOBUFS << "3: No buffer space available (the neighbour table stayed full for 10 s)";
    QTest::newRow("the send buffer stays full") << EAGAIN << "3: Resource temporarily unavailable (the send buffer stayed full for 10 s)";
    QTest::newRow("others hold the whole table") << 0 << "3: No buffer space available (the neighbour table stayed full for 10 s)";
}

void TestQueryPacer::resendIsBounded()
{
    QFETCH(int, err);
    QFETCH(QString, line);

    Machine m;
    if (err == 0) {
        m.others = 1024; // others hold the table; only 3 needs an entry of its own
        m.routed = {0, 1, 2, 4, 5};
    }
    int refused = 0;
    m.kernel = [&](const query_pacer::step& s) {
        if (s.index != 3)
            return 0;
        ++refused;
        return err ? err : ENOBUFS;
    };
    query_pacer p(m.view(), 6, address_of);
    Walk w;
    walk(p, m, 20000, w);
    QCOMPARE(w.lines, QStringList{line});
    // Given up once, the walk goes on in order.
    QCOMPARE(w.sent, (std::vector<std::uint64_t>{0, 1, 2, 4, 5}));
    if (err == 0)
        QCOMPARE(refused, 1); // waited for room, then tried once
    else
        QVERIFY2(refused > 10, qPrintable(QString::number(refused))); // resent, not dropped at once
}

void TestQueryPacer::whatFreesRoom_data()
{
    QTest::addColumn<QString>("event"); // what happens to index 0 and 1 after 100 ms
    QTest::addColumn<int>("thirdAfterMs"); // when index 2 goes (its send time), -1: not within 6 s

    QTest::newRow("resolution failed: EHOSTUNREACH") << "ended" << 100;
    QTest::newRow("answered") << "answered" << 100;
    QTest::newRow("a reading shows it resolved") << "resolved" << 250;
    QTest::newRow("a reading shows it failed") << "failed" << 250;
    QTest::newRow("nothing: room after the longest resolution") << "nothing" << 4250;
}

void TestQueryPacer::whatFreesRoom()
{
    QFETCH(QString, event);
    QFETCH(int, thirdAfterMs);

    Machine m;
    pacer_options o;
    o.buffer_room = 2;
    query_pacer p(m.view(), 3, address_of, o);
    std::int64_t thirdAt = -1;
    m.kernel = [&](const query_pacer::step& s) {
        if (s.index == 2)
            thirdAt = m.now / ms;
        // A reading lists what was sent as pending.
        m.ours[s.destination] = neigh_state::incomplete;
        return 0;
    };
    Walk w;
    walk(p, m, 6000, w, [&](std::uint64_t t) {
        if (t != 100)
            return;
        for (std::uint64_t i : {0, 1}) {
            if (event == "ended")
                p.ended(address_of(i));
            else if (event == "answered")
                p.answered(address_of(i));
            else if (event == "resolved")
                m.ours[address_of(i)] = neigh_state::resolved;
            else if (event == "failed")
                m.ours[address_of(i)] = neigh_state::failed;
        }
    });
    QCOMPARE(w.mostPending, 2u);
    QCOMPARE(w.sent, upTo(3));
    QCOMPARE(thirdAt, std::int64_t(thirdAfterMs));
}

void TestQueryPacer::retriesWalkOnlyTheOpen_data()
{
    QTest::addColumn<int>("retries");
    QTest::addColumn<QList<QList<int>>>("passes"); // the indexes each pass sends

    // Of 10 addresses: 2 answers at once, 5 fails resolution, 7 answers only its second query.
    QTest::newRow("no retries") << 0 << QList<QList<int>>{{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}};
    QTest::newRow("one retry") << 1 << QList<QList<int>>{{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {0, 1, 3, 4, 6, 7, 8, 9}};
    QTest::newRow("two retries") << 2
                                 << QList<QList<int>>{{0, 1, 2, 3, 4, 5, 6, 7, 8, 9},
                                                      {0, 1, 3, 4, 6, 7, 8, 9},
                                                      {0, 1, 3, 4, 6, 8, 9}};
}

void TestQueryPacer::retriesWalkOnlyTheOpen()
{
    QFETCH(int, retries);
    QFETCH(QList<QList<int>>, passes);

    Machine m;
    m.routed = {0, 1, 2, 3, 4, 6, 7, 8, 9}; // 5 is on the link and empty
    pacer_options o;
    o.retries = retries;
    query_pacer p(m.view(), 10, address_of, o, [](std::uint32_t a) { return std::optional(index_of(a)); });
    std::map<std::uint64_t, int> queries;
    m.afterSend = [&](const query_pacer::step& s) {
        const int n = ++queries[s.index];
        if (s.index == 2 || (s.index == 7 && n == 2))
            p.answered(s.destination);
    };
    QList<QList<int>> got;
    for (;;) {
        Walk w;
        walk(p, m, 1000, w);
        QList<int> pass;
        for (std::uint64_t i : w.sent)
            pass << int(i);
        got << pass;
        p.ended(address_of(5)); // its resolution fails later
        p.answered(address_of(2)); // a second answer changes nothing
        if (!p.next_pass())
            break;
    }
    QCOMPARE(got, passes);
    QCOMPARE(p.queried(), std::uint64_t{10});
}

// The kernel's own table in a namespace LAN: after a first scan of a LAN of 900 live hosts their
// entries go STALE, and once 5 s old the kernel takes them back for new ones. A scan of a /22 then has
// the room it has on an empty table; while they are fresh it has none.
void TestQueryPacer::oldStaleEntriesLeaveRoom()
{
    CORVANE_REQUIRE_ROOT();
    CORVANE_REQUIRE_PROGRAM("ip");
    // 900 entries of the machine-wide table: alone, as the scans that fill it (RUN_SERIAL as well).
    const fd_closer lock(::open("/tmp/corvane-neigh.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    QVERIFY(lock.fd >= 0);
    QElapsedTimer waited;
    waited.start();
    while (::flock(lock.fd, LOCK_EX | LOCK_NB) != 0)
        if (waited.elapsed() > 120000)
            CORVANE_SKIP_OR_FAIL("another program fills the machine's neighbour table (/tmp/corvane-neigh.lock)");
        else
            QTest::qSleep(200);
    corvane::test::NetnsLab lab; // its namespaces go at the end, and their entries with them
    QVERIFY2(lab.ok() && lab.addSegment("lan") && lab.addHost("scan", "lan", "10.86.0.2/16"),
             qPrintable(lab.lastError()));
    QString batch;
    for (int i = 0; i < 900; ++i)
        batch += QStringLiteral("neigh add 10.86.%1.%2 lladdr 02:00:00:00:%3:%4 nud stale dev eth0\n")
                     .arg(8 + i / 200)
                     .arg(1 + i % 200)
                     .arg(i / 256, 2, 16, QLatin1Char('0'))
                     .arg(i % 256, 2, 16, QLatin1Char('0'));
    const QString file = lab.tempDir() + QStringLiteral("/stale.batch");
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(batch.toLatin1()) == batch.size());
    }

    corvane::test::NetnsLab::ScopedEnter in(lab, "scan");
    QVERIFY(in.ok());
    // What the pacer lets go to 10.86.4.0/22 before it first waits (nothing is really sent).
    const auto room = [] {
        query_pacer p(system_pacer_view(), 1022, [](std::uint64_t i) { return htonl(0x0A560401u + std::uint32_t(i)); });
        std::uint64_t n = 0;
        for (query_pacer::step s = p.next(); s.kind == step_kind::query; s = p.next(), ++n)
            p.sent(s);
        return n;
    };
    const std::uint64_t empty = room();
    QVERIFY(empty > 0);
    QCOMPARE(lab.run(QStringLiteral("scan"), {"ip", "-batch", file}).exitCode, 0);
    QCOMPARE(room(), std::uint64_t{0});
    QTRY_COMPARE_WITH_TIMEOUT(room(), empty, 10000);
}

QTEST_GUILESS_MAIN(TestQueryPacer)
#include "test_query_pacer.moc"
