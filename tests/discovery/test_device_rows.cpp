// The devices list's texts: the list row, txt, csv and json of one device, names from hostile peers
// included (control bytes, a formula prefix, bytes that are no UTF-8).
#include "discovery/DeviceRows.h"

#include <QtTest>

using namespace corvane::discovery;

namespace {

TDevice device(const char* address, std::optional<corvane::TMacAddress> mac, const char* vendor,
               std::vector<found_name> names, unsigned evidence)
{
    TDevice d;
    d.address = *corvane::ipv4::parse_strict(QLatin1String(address));
    d.mac = mac;
    d.vendor = QString::fromUtf8(vendor);
    d.names = std::move(names);
    d.evidence = evidence;
    return d;
}

// "%-16s %-24s %-8s %-18s %-24s %s" in characters, without blanks at the end.
QString line(const QStringList& cells)
{
    static constexpr int widths[] = {16, 24, 8, 18, 24, 0};
    QString out;
    for (int c = 0; c < 6; ++c)
        out += (c ? QStringLiteral(" ") : QString()) + cells[c].leftJustified(widths[c]);
    while (out.endsWith(u' '))
        out.chop(1);
    return out;
}

} // namespace

class TestDeviceRows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void texts_data()
    {
        QTest::addColumn<TDevice>("device");
        QTest::addColumn<QString>("txt"); // the txt line without CR LF
        QTest::addColumn<QByteArray>("csv"); // the record without CR LF
        QTest::addColumn<QByteArray>("json"); // the object's line without the indent
        const corvane::TMacAddress lab {0x00, 0x11, 0x22, 0x33, 0x44, 0x01};
        QTest::newRow("netbios host")
            << device("10.77.0.11", lab, "Lab Maker",
                      {{"PC-ONE", name_source::netbios}, {"pc1.lab.test", name_source::dns}},
                      EvidenceArp | EvidenceNetbios | EvidenceEcho)
            << line({"10.77.0.11", "PC-ONE", "netbios", "00.11.22.33.44.01", "Lab Maker", "arp, netbios, echo"})
            << QByteArray("10.77.0.11,PC-ONE,netbios,00.11.22.33.44.01,Lab Maker,\"arp, "
                          "netbios, echo\"")
            << QByteArray("{\"address\": \"10.77.0.11\", \"mac\": \"00.11.22.33.44.01\", \"vendor\": "
                          "\"Lab Maker\", \"name\": \"PC-ONE\", \"names\": [{\"name\": \"PC-ONE\", "
                          "\"source\": \"netbios\"}, {\"name\": \"pc1.lab.test\", \"source\": \"dns\"}], "
                          "\"evidence\": [\"arp\", \"netbios\", \"echo\"]}");
        QTest::newRow("behind a router, unnamed")
            << device("10.216.3.4", std::nullopt, "", {}, EvidenceEcho | EvidenceIcmpError)
            << line({"10.216.3.4", "", "", "", "", "echo, icmp-error"})
            << QByteArray("10.216.3.4,,,,,\"echo, icmp-error\"")
            << QByteArray(
                   "{\"address\": \"10.216.3.4\", \"mac\": null, \"vendor\": \"\", \"name\": \"\", \"names\": [], "
                   "\"evidence\": [\"echo\", \"icmp-error\"]}");
        QTest::newRow("formula from mdns")
            << device("10.77.0.12", lab, "", {{"=1+2\"x", name_source::mdns}}, EvidenceNeighbour)
            << line({"10.77.0.12", "=1+2\"x", "mdns", "00.11.22.33.44.01", "", "neighbour"})
            << QByteArray("10.77.0.12,\"'=1+2\"\"x\",mdns,00.11.22.33.44.01,,neighbour")
            << QByteArray("{\"address\": \"10.77.0.12\", \"mac\": \"00.11.22.33.44.01\", "
                          "\"vendor\": \"\", \"name\": \"=1+2\\\"x\", \"names\": [{\"name\": "
                          "\"=1+2\\\"x\", \"source\": \"mdns\"}], \"evidence\": [\"neighbour\"]}");
        QTest::newRow("control bytes from llmnr")
            << device("10.77.0.13", std::nullopt, "", {{QByteArray("ev\x01il\nhost\x7f"), name_source::llmnr}},
                      EvidenceArp)
            << line({"10.77.0.13", "ev?il?host?", "llmnr", "", "", "arp"})
            << QByteArray("10.77.0.13,ev?il?host?,llmnr,,,arp")
            << QByteArray(
                   "{\"address\": \"10.77.0.13\", \"mac\": null, \"vendor\": \"\", \"name\": \"ev\\u0001il\\nhost"
                   "\x7f"
                   "\", \"names\": [{\"name\": \"ev\\u0001il\\nhost"
                   "\x7f"
                   "\", \"source\": \"llmnr\"}], \"evidence\": [\"arp\"]}");
        QTest::newRow("no utf-8: every byte kept")
            << device("10.77.0.14", std::nullopt, "", {{QByteArray("\xff\xfehost"), name_source::dns}}, EvidenceEcho)
            << line({"10.77.0.14", QString::fromUtf8("\xc3\xbf\xc3\xbehost"), "dns", "", "", "echo"})
            << QByteArray("10.77.0.14,\xc3\xbf\xc3\xbehost,dns,,,echo")
            << QByteArray("{\"address\": \"10.77.0.14\", \"mac\": null, \"vendor\": \"\", \"name\": \""
                          "\xc3\xbf\xc3\xbehost"
                          "\", \"names\": [{\"name\": \""
                          "\xc3\xbf\xc3\xbehost"
                          "\", \"source\": \"dns\"}], \"evidence\": [\"echo\"]}");
    }

    void texts()
    {
        QFETCH(TDevice, device);
        QFETCH(QString, txt);
        QFETCH(QByteArray, csv);
        QFETCH(QByteArray, json);
        const QList<const TDevice*> one {&device};
        QCOMPARE(QString::fromUtf8(device_list_txt(one)),
                 QStringLiteral("IP               Name                     Source   MAC                Vendor         "
                                "          Found by\r\n")
                     + txt + QStringLiteral("\r\n"));
        QCOMPARE(device_list_csv(one), QByteArray("IP,Name,Source,MAC,Vendor,Found by\r\n") + csv + "\r\n");
        QCOMPARE(device_list_json(one), "[\n    " + json + "\n]\n");
        // The list's cells are the txt's, and copy keeps each on one line.
        QCOMPARE(device_text(device, DeviceName), txt.mid(17, 24).trimmed());
        QVERIFY(!device_list_copy(one).section(u'\n', 1, 1).contains(u'\r'));
        QCOMPARE(device_list_copy(one).count(u'\n'), 2);
    }
};

QTEST_GUILESS_MAIN(TestDeviceRows)
#include "test_device_rows.moc"
