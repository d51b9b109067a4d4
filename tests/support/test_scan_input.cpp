// The window's fields as Scan reads them: typos, half-typed and reversed ranges, leading zeros, the
// range forms of the first field and the time-out.
#include "support/ScanInput.h"

#include <QTest>

using corvane::TSurvey;

Q_DECLARE_METATYPE(corvane::TSurvey)

namespace {
QString shown(const corvane::TFieldsRange& r)
{
    return r.range ? corvane::ipv4::dotted(r.range->first) + u'-' + corvane::ipv4::dotted(r.range->last) : r.error;
}
} // namespace

class TestScanInput : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fields_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<TSurvey>("survey");
        QTest::addColumn<QString>("expected"); // FIRST-LAST, or the box's text
        const TSurvey nb = TSurvey::NodeStatus;
        const TSurvey ping = TSurvey::Ping;
        QTest::newRow("subnet") << "192.168.1.1" << "192.168.1.254" << nb << "192.168.1.1-192.168.1.254";
        QTest::newRow("one address") << "10.0.0.7" << "10.0.0.7" << ping << "10.0.0.7-10.0.0.7";
        QTest::newRow("blanks of a paste") << " 10.0.0.1" << "10.0.0.9 " << nb << "10.0.0.1-10.0.0.9";
        QTest::newRow("upper half") << "200.0.0.1" << "255.255.255.255" << ping << "200.0.0.1-255.255.255.255";
        QTest::newRow("empty last") << "192.0.2.1" << "" << ping << "Last: the field is empty";
        QTest::newRow("empty first") << "" << "10.0.0.1" << nb << "First IP: the field is empty";
        QTest::newRow("octet above 255") << "999.1.2.3" << "10.0.0.1" << nb
                                         << "First IP: '999.1.2.3' is not an IPv4 address: 999 is above 255";
        QTest::newRow("half typed") << "10.0.0.1" << "10.77" << nb
                                    << "Last: '10.77' is not a whole IPv4 address: it needs four numbers from 0 to "
                                       "255, such as 192.168.1.1";
        QTest::newRow("trailing dot") << "10.0.0." << "10.0.0.9" << nb
                                      << "First IP: '10.0.0.' is not a whole IPv4 address: it needs four numbers "
                                         "from 0 to 255, such as 192.168.1.1";
        QTest::newRow("leading zero") << "192.168.1.010" << "192.168.1.20" << ping
                                      << "First IP: '192.168.1.010' has a leading zero in 010: write 10 (a leading "
                                         "zero can mean octal)";
        QTest::newRow("host name") << "router" << "10.0.0.1" << nb
                                   << "First IP: 'router' is not an IPv4 address: an address is four numbers from 0 "
                                      "to 255, such as 192.168.1.1";
        QTest::newRow("reversed") << "10.0.0.9" << "10.0.0.1" << nb << "Last: 10.0.0.1 is below First IP 10.0.0.9";
        QTest::newRow("begins at 0.0.0.0") << "0.0.0.0" << "0.0.0.9" << ping
                                           << "First IP: a range cannot begin at 0.0.0.0";
        QTest::newRow("crosses 128, scan")
            << "10.0.0.1" << "200.0.0.1" << nb
            << "Last: the range 10.0.0.1-200.0.0.1 crosses 128.0.0.0, which a node-status scan cannot walk; scan "
               "each side on its own";
        QTest::newRow("crosses 128, sweep")
            << "127.255.255.255" << "128.0.0.0" << ping
            << "Last: the range 127.255.255.255-128.0.0.0 crosses 128.0.0.0, which a ping sweep cannot walk; scan "
               "each side on its own";
    }

    void fields()
    {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(TSurvey, survey);
        QFETCH(QString, expected);
        QCOMPARE(shown(corvane::fields_range(first, last, survey)), expected);
    }

    void first_field_forms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // FIRST-LAST, the error, or "none" for a plain address
        QTest::newRow("plain address") << "10.0.0.1" << "none";
        QTest::newRow("prefix") << "192.168.4.0/22" << "192.168.4.1-192.168.7.254";
        QTest::newRow("prefix, host bits") << "10.1.2.3/24" << "10.1.2.1-10.1.2.254";
        QTest::newRow("/31") << "10.0.0.4/31" << "10.0.0.4-10.0.0.5";
        QTest::newRow("first-last pasted") << " 10.0.0.5-10.0.0.9 " << "10.0.0.5-10.0.0.9";
        QTest::newRow("prefix too long") << "10.0.0.0/33" << "First IP: '10.0.0.0/33' needs a prefix length from 0 "
                                                             "to 32";
        QTest::newRow("reversed pair") << "10.0.0.9-10.0.0.5" << "First IP: reversed range: 10.0.0.9 is above "
                                                                 "10.0.0.5";
        QTest::newRow("half typed pair") << "10.0.0.1-10.0" << "First IP: '10.0' is not an IPv4 address";
        QTest::newRow("no last address") << "127.0.0.1-" << "First IP: the range has no last address";
        QTest::newRow("leading zero") << "010.0.0.0/8" << "First IP: '010.0.0.0' is not an IPv4 address";
    }

    void first_field_forms()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const std::optional<corvane::TFieldsRange> form = corvane::first_field_form(text);
        QCOMPARE(form ? shown(*form) : QStringLiteral("none"), expected);
    }

    void timeout_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("ms");     // -1: refused
        QTest::addColumn<bool>("replaced");
        QTest::addColumn<QString>("error");
        QTest::newRow("default") << "30" << 30 << false << "";
        QTest::newRow("least") << "1" << 1 << false << "";
        QTest::newRow("a minute") << "60000" << 60000 << false << "";
        QTest::newRow("empty") << "" << 30 << true << "";
        QTest::newRow("letters") << "abc" << 30 << true << "";
        QTest::newRow("zero") << "0" << -1 << false << "Timeout: 0 ms is outside 1 to 60000 ms";
        QTest::newRow("negative") << "-5" << -1 << false << "Timeout: -5 ms is outside 1 to 60000 ms";
        QTest::newRow("above a minute") << "60001" << -1 << false << "Timeout: 60001 ms is outside 1 to 60000 ms";
    }

    void timeout()
    {
        QFETCH(QString, text);
        QFETCH(int, ms);
        QFETCH(bool, replaced);
        QFETCH(QString, error);
        const corvane::TTimeout t = corvane::timeout_field(text);
        QCOMPARE(t.ms.value_or(-1), ms);
        QCOMPARE(t.replaced, replaced);
        QCOMPARE(t.error, error);
    }
};

QTEST_GUILESS_MAIN(TestScanInput)
#include "test_scan_input.moc"
