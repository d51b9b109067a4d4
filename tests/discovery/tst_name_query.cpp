// ask_names against real peers on the loopback: what counts as an answer and what is ignored (a
// wrong id, another sender, a hostile name, a flood).
#include "DnsPeer.h"
#include "TestSupport.h"

#include "discovery/NameQuery.h"

#include <QTest>

#include <arpa/inet.h>

using namespace corvane::discovery;
using corvane::test::dns_labels;
using corvane::test::DnsPeer;
using corvane::test::ptr_reply;
using corvane::test::question_of;

namespace {

constexpr std::uint16_t mdnsPort = 45353;
constexpr std::uint16_t llmnrPort = 45355;

std::uint32_t addr(const char* dotted)
{
    in_addr a {};
    ::inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

// How a loopback peer answers each query it hears.
std::vector<DnsPeer::Reply> behave(const QString& kind, const QByteArray& q)
{
    const QByteArray head = q.left(2) + QByteArray("\x84\x00\x00\x01\x00\x01\x00\x00\x00\x00", 10) + question_of(q);
    auto record = [](const QByteArray& rdata) -> QByteArray {
        return QByteArray("\xC0\x0C\x00\x0C\x00\x01\x00\x00\x00\x0A", 10) + char(rdata.size() >> 8)
            + char(rdata.size() & 0xFF) + rdata;
    };
    if (kind == QLatin1String("good"))
        return {{ptr_reply(q, "host.local"), {}}};
    if (kind == QLatin1String("wrong id")) {
        QByteArray r = ptr_reply(q, "host.local");
        r[0] = static_cast<char>(r[0] ^ 0x5A);
        return {{r, {}}};
    }
    if (kind == QLatin1String("from another address"))
        return {{ptr_reply(q, "host.local"), QStringLiteral("127.0.0.3")}};
    if (kind == QLatin1String("1,000-byte name")) {
        QByteArray name;
        for (int i = 0; i < 16; ++i)
            name += (i ? "." : "") + QByteArray(62, 'n');
        return {{ptr_reply(q, name), {}}};
    }
    if (kind == QLatin1String("compression loop")) // the target points at itself, offset 12 + question + 12
        return {{head + record(QByteArray(1, '\xC0') + char(12 + question_of(q).size() + 12)), {}}};
    if (kind == QLatin1String("another address's name")) {
        QByteArray other = q;
        other.replace("\x01"
                      "2\x01"
                      "0",
                      "\x01"
                      "9\x01"
                      "0"); // 2.0.0.127 -> 9.0.0.127
        return {{ptr_reply(other, "host.local"), {}}};
    }
    if (kind == QLatin1String("flood")) { // ten datagrams of 50 names each
        std::vector<DnsPeer::Reply> replies;
        for (int d = 0; d < 10; ++d) {
            QByteArray r = q.left(2) + QByteArray("\x84\x00\x00\x01\x00\x32\x00\x00\x00\x00", 10) + question_of(q);
            for (int i = 0; i < 50; ++i)
                r += record(dns_labels("h" + QByteArray::number(d * 50 + i)));
            replies.push_back({r, {}});
        }
        return replies;
    }
    return {};
}

} // namespace

class TestNameQuery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // Own loopback for fixed ports and a second sender address; without root the machine's.
        corvane::test::enterPrivateLoopback();
    }

    void answersCounted_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("names"); // per source asked
        QTest::newRow("well formed") << "good" << 1;
        QTest::newRow("wrong id") << "wrong id" << 0;
        QTest::newRow("from another address") << "from another address" << 0;
        QTest::newRow("1,000-byte name") << "1,000-byte name" << 0;
        QTest::newRow("compression loop") << "compression loop" << 0;
        QTest::newRow("for another address") << "another address's name" << 0;
        QTest::newRow("flood of names") << "flood" << 4;
    }
    void answersCounted()
    {
        QFETCH(QString, kind);
        QFETCH(int, names);
        DnsPeer mdns([&](const QByteArray& q) { return behave(kind, q); });
        DnsPeer llmnr([&](const QByteArray& q) { return behave(kind, q); });
        QVERIFY2(mdns.start(QStringLiteral("127.0.0.2"), mdnsPort), qPrintable(mdns.lastError()));
        QVERIFY2(llmnr.start(QStringLiteral("127.0.0.2"), llmnrPort), qPrintable(llmnr.lastError()));
        name_query_options o;
        o.dns = false;
        o.mdns_port = mdnsPort;
        o.llmnr_port = llmnrPort;
        o.timeout_ms = 500;
        const auto result = ask_names({addr("127.0.0.2")}, o);
        QCOMPARE(mdns.queries(), 1);
        QCOMPARE(llmnr.queries(), 1);
        const auto it = result.find(addr("127.0.0.2"));
        QCOMPARE(it == result.end(), names == 0);
        if (it == result.end())
            return;
        QCOMPARE(int(it->second.size()), 2 * names);
        for (std::size_t i = 0; i < it->second.size(); ++i)
            QCOMPARE(it->second[i].source, i < std::size_t(names) ? name_source::mdns : name_source::llmnr);
        if (kind == QLatin1String("good"))
            QCOMPARE(it->second.front().name, QByteArray("host.local"));
    }

    // Each address keeps its own names, and one that nobody answers has no entry.
    void addressesKeptApart()
    {
        DnsPeer two([](const QByteArray& q) { return std::vector<DnsPeer::Reply> {{ptr_reply(q, "two.local"), {}}}; });
        DnsPeer four([](const QByteArray& q) {
            return std::vector<DnsPeer::Reply> {{ptr_reply(q, "four.local"), {}}};
        });
        QVERIFY2(two.start(QStringLiteral("127.0.0.2"), mdnsPort), qPrintable(two.lastError()));
        QVERIFY2(four.start(QStringLiteral("127.0.0.4"), mdnsPort), qPrintable(four.lastError()));
        name_query_options o;
        o.dns = false;
        o.llmnr = false;
        o.mdns_port = mdnsPort;
        o.timeout_ms = 500;
        const auto result = ask_names({addr("127.0.0.4"), addr("127.0.0.5"), addr("127.0.0.2")}, o);
        const std::map<std::uint32_t, std::vector<found_name>> expected {
            {addr("127.0.0.2"), {{"two.local", name_source::mdns}}},
            {addr("127.0.0.4"), {{"four.local", name_source::mdns}}}};
        QVERIFY(result == expected);
    }
};

QTEST_GUILESS_MAIN(TestNameQuery)
#include "tst_name_query.moc"
