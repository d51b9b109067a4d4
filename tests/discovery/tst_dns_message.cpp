// The DNS-message reader against byte tables: a real Avahi answer, compression, names at and past
// the 255-byte bound, pointer loops and forward pointers, any byte kept, messages cut short.
#include "discovery/DnsMessage.h"

#include <QByteArrayList>
#include <QTest>

#include <cstring>

using namespace corvane::discovery;

namespace {

QByteArray labels(const QByteArray& dotted)
{
    QByteArray out;
    for (const QByteArray& l : dotted.split('.')) {
        out.append(static_cast<char>(l.size()));
        out.append(l);
    }
    return out.append('\0');
}

QByteArray be16(int v)
{
    return QByteArray(1, static_cast<char>(v >> 8)) + QByteArray(1, static_cast<char>(v & 0xFF));
}

const QByteArray asked = "1.0.99.10.in-addr.arpa";

// id 0x1234, a response; questions, answers.
QByteArray header(int flags, int questions, int answers, int id = 0x1234)
{
    return be16(id) + be16(flags) + be16(questions) + be16(answers) + be16(0) + be16(0);
}
const QByteArray question = labels(asked) + be16(12) + be16(1);
// A PTR record owned by the question's name (offset 12), rdata as given.
QByteArray ptr(const QByteArray& rdata, int klass = 1)
{
    return QByteArray("\xC0\x0C", 2) + be16(12) + be16(klass) + QByteArray("\0\0\0\x0A", 4) + be16(rdata.size())
        + rdata;
}
QByteArray answer(const QByteArray& rdata)
{
    return header(0x8400, 1, 1) + question + ptr(rdata);
}

} // namespace

class TestDnsMessage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reverseName_data()
    {
        QTest::addColumn<QByteArray>("dotted");
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("lab host") << QByteArray("10.99.0.1") << QByteArray("1.0.99.10.in-addr.arpa");
        QTest::newRow("extremes") << QByteArray("255.0.0.127") << QByteArray("127.0.0.255.in-addr.arpa");
    }
    void reverseName()
    {
        QFETCH(QByteArray, dotted);
        QFETCH(QByteArray, name);
        const QByteArrayList p = dotted.split('.');
        const std::uint8_t b[4] = {static_cast<std::uint8_t>(p[0].toInt()), static_cast<std::uint8_t>(p[1].toInt()),
                                   static_cast<std::uint8_t>(p[2].toInt()), static_cast<std::uint8_t>(p[3].toInt())};
        std::uint32_t address;
        std::memcpy(&address, b, 4); // network order: the first byte first
        QCOMPARE(reverse_name(address), name);
    }

    void buildQuery_data()
    {
        QTest::addColumn<bool>("unicastResponse");
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray head = QByteArray::fromHex("beef 0000 0001 0000 0000 0000");
        QTest::newRow("QU question for mDNS") << true << head + labels(asked) + QByteArray::fromHex("000c 8001");
        QTest::newRow("plain question for LLMNR") << false << head + labels(asked) + QByteArray::fromHex("000c 0001");
    }
    void buildQuery()
    {
        QFETCH(bool, unicastResponse);
        QFETCH(QByteArray, bytes);
        QCOMPARE(build_ptr_query(0xBEEF, asked, unicastResponse).toHex(' '), bytes.toHex(' '));
    }

    void readAnswer_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("rcode");
        QTest::addColumn<QByteArrayList>("names");

        // Captured from avahi-daemon 0.8 in a namespace: the legacy unicast reply (id and question
        // repeated, the QU bit kept in the question's class) to a query for 10.99.0.1.
        const QByteArray avahi
            = QByteArray::fromHex("1234840000010001000000000131013002393902313007696e2d61646472046172"
                                  "706100000c8001c00c000c00010000000a0010086c6162686f737437056c6f63"
                                  "616c00");
        QTest::newRow("avahi answer") << avahi << true << 0x1234 << 0 << QByteArrayList {"labhost7.local"};
        QTest::newRow("mdns answer without question, cache-flush bit") << header(0x8400, 0, 1) + labels(asked)
                + be16(12) + be16(0x8001) + QByteArray("\0\0\0\x0A", 4) + be16(7)
                + labels("h.lan") << true << 0x1234 << 0 << QByteArrayList {"h.lan"};
        // "in-addr.arpa" of the question begins at offset 12 + 2 + 2 + 3 + 3 = 22.
        QTest::newRow("target compressed into the question")
            << answer(QByteArray("\x01x\xC0\x16", 4)) << true << 0x1234 << 0 << QByteArrayList {"x.in-addr.arpa"};
        QTest::newRow("owner in other case") << header(0x8400, 1, 1) + question + labels("1.0.99.10.IN-ADDR.ARPA")
                + be16(12) + be16(1) + QByteArray("\0\0\0\x0A", 4) + be16(3) + labels("h")
                                             << true << 0x1234 << 0 << QByteArrayList {"h"};
        QTest::newRow("record of another name skipped") << header(0x8400, 1, 1) + question
                + labels("2.0.99.10.in-addr.arpa") + be16(12) + be16(1) + QByteArray("\0\0\0\x0A", 4) + be16(3)
                + labels("h") << true << 0x1234 << 0 << QByteArrayList {};
        QTest::newRow("wrong id is the caller's check") << header(0x8400, 1, 1, 0x9999) + question + ptr(labels("h"))
                                                        << true << 0x9999 << 0 << QByteArrayList {"h"};
        QTest::newRow("name error") << header(0x8403, 1, 0) + question << true << 0x1234 << 3 << QByteArrayList {};
        QTest::newRow("control bytes and 0xFF kept")
            << answer(labels(QByteArray("a\x01\xFF\0b.local", 9))) << true << 0x1234 << 0
            << QByteArrayList {QByteArray("a\x01\xFF\0b.local", 9)};
        const QByteArray l63(63, 'a');
        QTest::newRow("name of 255 bytes")
            << answer(labels(l63 + '.' + l63 + '.' + l63 + '.' + QByteArray(61, 'b'))) << true << 0x1234 << 0
            << QByteArrayList {l63 + '.' + l63 + '.' + l63 + '.' + QByteArray(61, 'b')};

        const QByteArrayList none;
        QTest::newRow("name of 256 bytes")
            << answer(labels(l63 + '.' + l63 + '.' + l63 + '.' + QByteArray(62, 'b'))) << false << 0 << 0 << none;
        QByteArray thousand;
        for (int i = 0; i < 16; ++i)
            thousand += (i ? "." : "") + QByteArray(62, 'n');
        QTest::newRow("1,000-byte name") << answer(labels(thousand)) << false << 0 << 0 << none;
        // The rdata starts at 12 + 28 + 12 = 52.
        QTest::newRow("pointer to itself") << answer(QByteArray("\xC0\x34", 2)) << false << 0 << 0 << none;
        QTest::newRow("label then pointer back to it")
            << answer(QByteArray("\x01x\xC0\x34", 4)) << false << 0 << 0 << none;
        QTest::newRow("forward pointer") << answer(QByteArray("\xC0\x38\0\0\x01y\0", 7)) << false << 0 << 0 << none;
        QTest::newRow("pointer into the header") << answer(QByteArray("\xC0\x02", 2)) << false << 0 << 0 << none;
        QTest::newRow("extended label type") << answer(QByteArray("\x41x\0", 3)) << false << 0 << 0 << none;
        QTest::newRow("target runs past its record") << header(0x8400, 1, 1) + question + QByteArray("\xC0\x0C", 2)
                + be16(12) + be16(1) + QByteArray("\0\0\0\x0A", 4) + be16(2) + labels("abc") + QByteArray(4, '\0')
                                                     << false << 0 << 0 << none;
        QTest::newRow("cut in the header") << avahi.left(11) << false << 0 << 0 << none;
        QTest::newRow("cut in the rdata") << avahi.chopped(1) << false << 0 << 0 << none;
        QTest::newRow("more answers counted than sent")
            << header(0x8400, 1, 2) + question + ptr(labels("h")) << false << 0 << 0 << none;
        QTest::newRow("a query") << header(0x0000, 1, 1) + question + ptr(labels("h")) << false << 0 << 0 << none;
        QTest::newRow("another opcode") << header(0x8800, 1, 1) + question + ptr(labels("h")) << false << 0 << 0
                                        << none;
        QTest::newRow("question for another name")
            << header(0x8400, 1, 1) + labels("2.0.99.10.in-addr.arpa") + be16(12) + be16(1) + ptr(labels("h")) << false
            << 0 << 0 << none;
    }
    void readAnswer()
    {
        QFETCH(QByteArray, message);
        QFETCH(bool, valid);
        QFETCH(int, id);
        QFETCH(int, rcode);
        QFETCH(QByteArrayList, names);
        const auto a = read_ptr_answer(reinterpret_cast<const std::uint8_t*>(message.constData()),
                                       static_cast<std::size_t>(message.size()), asked);
        QCOMPARE(a.has_value(), valid);
        if (!a)
            return;
        QCOMPARE(int(a->id), id);
        QCOMPARE(int(a->rcode), rcode);
        QCOMPARE(QByteArrayList(a->names.begin(), a->names.end()), names);
    }
};

QTEST_GUILESS_MAIN(TestDnsMessage)
#include "tst_dns_message.moc"
