// The IPv4 unit: both byte orders, dotted text, the lenient and strict parses, the walk rule.
#include "platform/Ipv4.h"

#include <QTest>

#include <arpa/inet.h>

using namespace corvane::ipv4;

class TestIpv4 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void orders()
    {
        constexpr THostAddr h {0x0A000001u};
        static_assert(h.net().host() == h);
        QCOMPARE(h.net().value, htonl(0x0A000001u));
        QCOMPARE(TNetAddr {htonl(0xC0A80125u)}.host().value, 0xC0A80125u);
        QCOMPARE(dotted(h), QStringLiteral("10.0.0.1"));
        QCOMPARE(dotted(h.net()), QStringLiteral("10.0.0.1"));
        for (const std::uint32_t v : {0u, 1u, 0x7F000001u, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu})
            QCOMPARE(dotted(THostAddr {v}), QString::fromLatin1(inet_ntoa(in_addr {htonl(v)})));
    }

    // Lenient parse against the C library it stands for.
    void lenient_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("back"); // empty: not an address
        QTest::newRow("plain") << "192.168.1.37" << "192.168.1.37";
        QTest::newRow("shorthand") << "10.1" << "10.0.0.1";
        QTest::newRow("one number") << "2130706433" << "127.0.0.1";
        QTest::newRow("octal") << "010.0.0.1" << "8.0.0.1";
        QTest::newRow("hex") << "0x7f.0.0.1" << "127.0.0.1";
        QTest::newRow("text after a blank") << "10.0.0.1 junk" << "10.0.0.1";
        QTest::newRow("all ones") << "255.255.255.255" << "255.255.255.255";
        QTest::newRow("octet 256") << "10.0.0.256" << "";
        QTest::newRow("name") << "localhost" << "";
        QTest::newRow("empty") << "" << "";
    }

    void lenient()
    {
        QFETCH(QString, text);
        QFETCH(QString, back);
        const std::optional<TNetAddr> a = parse_lenient(text);
        QCOMPARE(a.has_value(), !back.isEmpty());
        QCOMPARE(inet_addr_value(text).value, ::inet_addr(text.toLatin1().constData()));
        if (a)
            QCOMPARE(dotted(*a), back);
    }

    void strict_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("back"); // dotted() of the value
        QTest::newRow("plain") << "192.168.1.37" << true << "192.168.1.37";
        QTest::newRow("zeros") << "0.0.0.0" << true << "0.0.0.0";
        QTest::newRow("all ones") << "255.255.255.255" << true << "255.255.255.255";
        QTest::newRow("octet 256") << "10.0.0.256" << false << "";
        QTest::newRow("three parts") << "10.0.1" << false << "";
        QTest::newRow("inet_addr shorthand") << "10.1" << false << "";
        QTest::newRow("five parts") << "1.2.3.4.5" << false << "";
        QTest::newRow("leading zero, octal to inet_addr") << "010.0.0.1" << false << "";
        QTest::newRow("hex") << "0x7f.0.0.1" << false << "";
        QTest::newRow("empty part") << "10..0.1" << false << "";
        QTest::newRow("trailing dot") << "10.0.0.1." << false << "";
        QTest::newRow("blank") << " 10.0.0.1" << false << "";
        QTest::newRow("sign") << "+10.0.0.1" << false << "";
        QTest::newRow("four digits") << "1000.0.0.1" << false << "";
        QTest::newRow("name") << "localhost" << false << "";
        QTest::newRow("empty") << "" << false << "";
        QTest::newRow("arabic-indic digits") << QString::fromUtf8("\u0661.2.3.4") << false << "";
    }

    void strict()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QString, back);
        const std::optional<THostAddr> a = parse_strict(text);
        QCOMPARE(a.has_value(), ok);
        if (ok)
            QCOMPARE(dotted(*a), back);
    }

    void walk_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<quint64>("length"); // 0: not walkable
        QTest::newRow("one") << "10.0.0.1" << "10.0.0.1" << quint64(1);
        QTest::newRow("a /24") << "10.0.0.1" << "10.0.0.254" << quint64(254);
        QTest::newRow("reversed") << "10.0.0.9" << "10.0.0.1" << quint64(0);
        QTest::newRow("up to 127.255.255.255") << "127.255.255.250" << "127.255.255.255" << quint64(6);
        QTest::newRow("across 128.0.0.0") << "127.255.255.255" << "128.0.0.0" << quint64(0);
        QTest::newRow("above 128 on its own") << "192.168.0.1" << "192.168.0.3" << quint64(3);
        QTest::newRow("from above 128 to below") << "255.255.255.255" << "0.0.0.1" << quint64(3);
        QTest::newRow("whole signed space") << "128.0.0.0" << "127.255.255.255" << (quint64(1) << 32);
    }

    void walk()
    {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(quint64, length);
        const THostAddr a = *parse_strict(first);
        const THostAddr b = *parse_strict(last);
        QCOMPARE(walkable(a, b), length != 0);
        QCOMPARE(walk_length(a, b), length);
    }

    // "a-b,c-d": ranges in, the merged ranges out.
    void merge_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("one") << "10.0.0.1-10.0.0.9" << "10.0.0.1-10.0.0.9";
        QTest::newRow("sorted") << "10.0.1.1-10.0.1.2,10.0.0.1-10.0.0.2" << "10.0.0.1-10.0.0.2,10.0.1.1-10.0.1.2";
        QTest::newRow("overlap") << "10.0.0.1-10.0.0.9,10.0.0.5-10.0.0.20" << "10.0.0.1-10.0.0.20";
        QTest::newRow("inside") << "10.0.0.1-10.0.0.9,10.0.0.3-10.0.0.4" << "10.0.0.1-10.0.0.9";
        QTest::newRow("adjacent") << "10.0.0.1-10.0.0.9,10.0.0.10-10.0.0.12" << "10.0.0.1-10.0.0.12";
        QTest::newRow("one apart") << "10.0.0.1-10.0.0.9,10.0.0.11-10.0.0.12" << "10.0.0.1-10.0.0.9,10.0.0.11-10.0.0.12";
        QTest::newRow("both halves") << "200.0.0.1-200.0.0.2,10.0.0.1-10.0.0.2" << "10.0.0.1-10.0.0.2,200.0.0.1-200.0.0.2";
        QTest::newRow("up to the top") << "255.255.255.250-255.255.255.255,255.255.255.255-255.255.255.255"
                                       << "255.255.255.250-255.255.255.255";
    }

    void merge()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        const auto read = [](const QString& text) {
            std::vector<THostRange> ranges;
            for (const QString& r : text.split(u','))
                ranges.push_back({*parse_strict(r.section(u'-', 0, 0)), *parse_strict(r.section(u'-', 1, 1))});
            return ranges;
        };
        const std::vector<THostRange> merged = merge_ranges(read(in));
        QStringList shown;
        for (const THostRange& r : merged)
            shown << dotted(r.first) + u'-' + dotted(r.last);
        QCOMPARE(shown.join(u','), out);
        std::uint64_t expected = 0;
        for (const THostRange& r : read(out))
            expected += r.count();
        QCOMPARE(address_count(merged), expected);
    }
};

QTEST_APPLESS_MAIN(TestIpv4)
#include "test_ipv4.moc"
