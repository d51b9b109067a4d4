// corvane-scan's output forms for parsed answers: csv quoting, the name blocks of txt, the json
// objects and the ping lines.
#include "NbResponder.h"

#include "tools/ScanOutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace corvane::scan;
using corvane::test::NbName;
using corvane::test::node_status_answer;

namespace {

TFoundHost host(const char* ip, const QByteArray& datagram)
{
    return {QString::fromLatin1(ip), TResultPtr(parse_response(datagram.constData(), std::int32_t(datagram.size())))};
}

constexpr std::uint8_t U = 0x04, G = 0x84;

} // namespace

class TestScanOutput : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qputenv("LC_ALL", "de_DE.UTF-8"); } // OEM 850

    void csvField_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("field");
        QTest::newRow("plain") << "PC1"
                               << "PC1";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("blanks kept") << " A B "
                                     << " A B ";
        QTest::newRow("comma") << "PC1, JOHN"
                               << "\"PC1, JOHN\"";
        QTest::newRow("quote") << "say \"hi\""
                               << "\"say \"\"hi\"\"\"";
        QTest::newRow("only a quote") << "\""
                                      << "\"\"\"\"";
        QTest::newRow("line feed") << "a\nb"
                                   << "\"a\nb\"";
        QTest::newRow("carriage return") << "a\rb"
                                         << "\"a\rb\"";
        QTest::newRow("semicolon is plain") << "a;b"
                                            << "a;b";
        QTest::newRow("non-ASCII") << QString::fromUtf8("J\u00fcrgen") << QString::fromUtf8("J\u00fcrgen");
    }

    void csvField()
    {
        QFETCH(QString, text);
        QFETCH(QString, field);
        QCOMPARE(csv_field(text), field);
    }

    // Text a peer sent, as a spreadsheet would read the cell.
    void csvPeerText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("cell");
        QTest::newRow("formula") << "=HYPERLINK(1)" << "'=HYPERLINK(1)";
        QTest::newRow("plus") << "+1" << "'+1";
        QTest::newRow("minus") << "-PC" << "'-PC";
        QTest::newRow("at") << "@SUM(A1)" << "'@SUM(A1)";
        QTest::newRow("tab") << "\tX" << "'\tX";
        QTest::newRow("carriage return") << "\rX" << "'\rX";
        QTest::newRow("inside is plain") << "PC=1" << "PC=1";
        QTest::newRow("apostrophe already") << "'=1" << "'=1";
        QTest::newRow("empty") << "" << "";
    }

    void csvPeerText()
    {
        QFETCH(QString, text);
        QFETCH(QString, cell);
        QCOMPARE(csv_peer_text(text), cell);
    }

    void csvRecordEndsWithCrLf() { QCOMPARE(csv_record({"a", "b,c", ""}), QByteArray("a,\"b,c\",\r\n")); }

    void txtNamesFollowTheList()
    {
        std::vector<TFoundHost> hosts;
        hosts.push_back(host("127.0.0.9", node_status_answer(1, {{"PC1", 0x00, U}, {"WG", 0x00, G}})));
        hosts.push_back(host("127.0.0.5", QByteArray("\x01", 1))); // too short for a header
        const QByteArray out = nbstat_txt(hosts, true);
        const QByteArray list = nbstat_txt(hosts, false);
        QVERIFY(out.startsWith(list));
        const QByteArray names = out.mid(list.size());
        const QByteArray expected = QByteArray("\r\n127.0.0.9\r\n")
            + QString::asprintf("%-18s %-47s %s \r\n", "Name", "Service", "Flags").toLatin1()
            + QString::asprintf("%-18s %-2.2X - %-42s %s \r\n", "PC1", 0, "Workstation Service",
                                qPrintable(name_flags_text(U)))
                  .toLatin1()
            + QString::asprintf("%-18s %-2.2X - %-42s %s \r\n", "WG", 0, "Workgroup/Domain Name",
                                qPrintable(name_flags_text(G)))
                  .toLatin1()
            + QByteArray("\r\n127.0.0.5\r\n");
        QCOMPARE(names, expected);
    }

    void jsonObjects()
    {
        std::vector<TFoundHost> hosts;
        hosts.push_back(
            host("127.0.0.9",
                 node_status_answer(1,
                                    {{"PC1", 0x00, U},
                                     {"J\x81RGEN", 0x03, U},
                                     {"WG", 0x00, G},
                                     {"PC1", 0x20, U},
                                     {"PC5", 0x6A, U}},
                                    {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F})));
        hosts.push_back(host("127.0.0.5", QByteArray("\x01", 1)));
        QJsonParseError error {};
        const QJsonDocument doc = QJsonDocument::fromJson(nbstat_json(hosts), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QVERIFY(doc.isArray());
        const QJsonArray a = doc.array();
        QCOMPARE(a.size(), 2);
        const QJsonObject h = a[0].toObject();
        QCOMPARE(h["address"].toString(), QStringLiteral("127.0.0.9"));
        QCOMPARE(h["computer_name"].toString(), QStringLiteral("PC1"));
        QCOMPARE(h["user_names"].toString(), QString::fromUtf8("J\u00fcRGEN"));
        QCOMPARE(h["workgroup"].toString(), QStringLiteral("WG"));
        QCOMPARE(h["mac"].toString(), QStringLiteral("0A.0B.0C.0D.0E.0F"));
        QCOMPARE(h["file_service"], QJsonValue(true));
        QCOMPARE(h["master_browser"], QJsonValue(false));
        const QJsonArray names = h["names"].toArray();
        QCOMPARE(names.size(), 5);
        QCOMPARE(names[1].toObject()["name"].toString(), QString::fromUtf8("J\u00fcRGEN"));
        QCOMPARE(names[1].toObject()["suffix"].toString(), QStringLiteral("03"));
        QCOMPARE(names[2].toObject()["group"], QJsonValue(true));
        QCOMPARE(names[2].toObject()["service"].toString(), QStringLiteral("Workgroup/Domain Name"));
        QCOMPARE(names[3].toObject()["suffix"].toString(), QStringLiteral("20"));
        QCOMPARE(names[3].toObject()["flags"].toString(), name_flags_text(U));
        // The name without its padding and suffix byte; the suffix has its own field.
        QCOMPARE(names[4].toObject()["name"].toString(), QStringLiteral("PC5"));
        QCOMPARE(names[4].toObject()["suffix"].toString(), QStringLiteral("6A"));
        const QJsonObject empty = a[1].toObject();
        QCOMPARE(empty["computer_name"].toString(), QString());
        QCOMPARE(empty["mac"].toString(), QString());
        QCOMPARE(empty["names"].toArray().size(), 0);
        QCOMPARE(empty["master_browser"], QJsonValue(false));
    }

    void noHostsIsAnEmptyArray()
    {
        const QJsonDocument doc = QJsonDocument::fromJson(nbstat_json({}));
        QVERIFY(doc.isArray());
        QVERIFY(doc.array().isEmpty());
    }

    void pingLine_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("received") << "10.0.0.1"
                                  << "Received"
                                  << "56"
                                  << "0" << QByteArray("10.0.0.1         Received                  56        0\n");
        QTest::newRow("no reply, no trailing blanks")
            << "10.0.0.2"
            << "Cannot ping, status=11010"
            << ""
            << "" << QByteArray("10.0.0.2         Cannot ping, status=11010\n");
        QTest::newRow("long caption pushes, never cut")
            << "10.0.0.3 a-rather-long-host-name"
            << "Received"
            << "56"
            << "12" << QByteArray("10.0.0.3 a-rather-long-host-name Received                  56        12\n");
        QTest::newRow("failed lookup leaves the blank")
            << "10.0.0.4 "
            << "Received"
            << "56"
            << "1" << QByteArray("10.0.0.4         Received                  56        1\n");
    }

    void pingLine()
    {
        QFETCH(QString, caption);
        QFETCH(QString, status);
        QFETCH(QString, size);
        QFETCH(QString, time);
        QFETCH(QByteArray, line);
        TPingResult row;
        row.texts = {caption, status, size, time};
        QCOMPARE(ping_txt_line(row), line);
    }

    void pingJsonHasNullsWithoutReply()
    {
        TPingResult a;
        a.address = QStringLiteral("10.0.0.2");
        a.texts = PingRowTexts(a.address, 0, 11010, 0, 0);
        a.ipStatus = 11010;
        const QJsonArray arr = QJsonDocument::fromJson(ping_json({a})).array();
        QCOMPARE(arr.size(), 1);
        const QJsonObject o = arr[0].toObject();
        QCOMPARE(o["status"].toString(), QStringLiteral("Cannot ping, status=11010"));
        QCOMPARE(o["received"], QJsonValue(false));
        QCOMPARE(o["ip_status"].toInt(), 11010);
        QVERIFY(o["data_size"].isNull());
        QVERIFY(o["time"].isNull());
    }
};

QTEST_GUILESS_MAIN(TestScanOutput)
#include "test_scan_output.moc"
