// corvane-scan's command line: addresses, ranges, the local subnet and the option values.
#include "tools/ScanOptions.h"

#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>

using namespace corvane::scan;

class TestScanOptions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void range_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QString>("first"); // empty: an error is expected
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("error");
        QTest::newRow("two words") << QStringList {"10.0.0.1", "10.0.0.9"} << "10.0.0.1"
                                   << "10.0.0.9"
                                   << "";
        QTest::newRow("dash") << QStringList {"10.0.0.1-10.0.0.9"} << "10.0.0.1"
                              << "10.0.0.9"
                              << "";
        QTest::newRow("one address") << QStringList {"10.0.0.7"} << "10.0.0.7"
                                     << "10.0.0.7"
                                     << "";
        QTest::newRow("equal ends") << QStringList {"10.0.0.7", "10.0.0.7"} << "10.0.0.7"
                                    << "10.0.0.7"
                                    << "";
        QTest::newRow("/24") << QStringList {"10.0.0.0/24"} << "10.0.0.1"
                             << "10.0.0.254"
                             << "";
        QTest::newRow("/24 with host bits") << QStringList {"10.0.0.77/24"} << "10.0.0.1"
                                            << "10.0.0.254"
                                            << "";
        QTest::newRow("/16 carries") << QStringList {"10.0.5.20/16"} << "10.0.0.1"
                                     << "10.0.255.254"
                                     << "";
        QTest::newRow("/30") << QStringList {"192.168.1.5/30"} << "192.168.1.5"
                             << "192.168.1.6"
                             << "";
        QTest::newRow("/31 both hosts") << QStringList {"192.168.1.5/31"} << "192.168.1.4"
                                        << "192.168.1.5"
                                        << "";
        QTest::newRow("/32 the address") << QStringList {"10.0.1.0/32"} << "10.0.1.0"
                                         << "10.0.1.0"
                                         << "";
        QTest::newRow("/1 upper half") << QStringList {"200.0.0.0/1"} << "128.0.0.1"
                                       << "255.255.255.254"
                                       << "";
        QTest::newRow("/0") << QStringList {"0.0.0.0/0"} << "0.0.0.1"
                            << "255.255.255.254"
                            << "";
        QTest::newRow("ends at 255.255.255.255") << QStringList {"255.255.255.250-255.255.255.255"} << "255.255.255.250"
                                                 << "255.255.255.255"
                                                 << "";
        QTest::newRow("ends at 127.255.255.255")
            << QStringList {"127.255.255.250", "127.255.255.255"} << "127.255.255.250"
            << "127.255.255.255"
            << "";

        QTest::newRow("reversed") << QStringList {"10.0.0.9", "10.0.0.1"} << ""
                                  << ""
                                  << "reversed range: 10.0.0.9 is above 10.0.0.1";
        QTest::newRow("reversed dash") << QStringList {"192.168.1.10-192.168.1.1"} << ""
                                       << ""
                                       << "reversed range: 192.168.1.10 is above 192.168.1.1";
        QTest::newRow("bad first") << QStringList {"10.0.0", "10.0.0.9"} << ""
                                   << ""
                                   << "'10.0.0' is not an IPv4 address";
        QTest::newRow("bad last") << QStringList {"10.0.0.1", "x"} << ""
                                  << ""
                                  << "'x' is not an IPv4 address";
        QTest::newRow("dash without last") << QStringList {"10.0.0.1-"} << ""
                                           << ""
                                           << "the range has no last address";
        QTest::newRow("dash without first") << QStringList {"-10.0.0.1"} << ""
                                            << ""
                                            << "the range has no first address";
        QTest::newRow("a dash alone") << QStringList {"-"} << ""
                                      << ""
                                      << "the range has no first address";
        QTest::newRow("empty last word") << QStringList {"10.0.0.1", ""} << ""
                                         << ""
                                         << "the range has no last address";
        QTest::newRow("prefix without address") << QStringList {"/24"} << ""
                                                << ""
                                                << "the range has no address before /24";
        QTest::newRow("two dashes") << QStringList {"10.0.0.1-10.0.0.2-10.0.0.3"} << ""
                                    << ""
                                    << "'10.0.0.2-10.0.0.3' is not an IPv4 address";
        QTest::newRow("cidr as first of two") << QStringList {"10.0.0.0/24", "10.0.0.9"} << ""
                                              << ""
                                              << "'10.0.0.0/24' is not an IPv4 address";
        QTest::newRow("prefix 33") << QStringList {"10.0.0.0/33"} << ""
                                   << ""
                                   << "'10.0.0.0/33' needs a prefix length from 0 to 32";
        QTest::newRow("prefix empty") << QStringList {"10.0.0.0/"} << ""
                                      << ""
                                      << "'10.0.0.0/' needs a prefix length from 0 to 32";
        QTest::newRow("prefix letters") << QStringList {"10.0.0.0/abc"} << ""
                                        << ""
                                        << "'10.0.0.0/abc' needs a prefix length from 0 to 32";
        QTest::newRow("prefix leading zero") << QStringList {"10.0.0.0/024"} << ""
                                             << ""
                                             << "'10.0.0.0/024' needs a prefix length from 0 to 32";
        QTest::newRow("prefix negative") << QStringList {"10.0.0.0/-1"} << ""
                                         << ""
                                         << "'10.0.0.0/-1' needs a prefix length from 0 to 32";
        QTest::newRow("cidr bad address") << QStringList {"10.0.0/24"} << ""
                                          << ""
                                          << "'10.0.0' is not an IPv4 address";
        QTest::newRow("starts at 0.0.0.0") << QStringList {"0.0.0.0-0.0.0.5"} << ""
                                           << ""
                                           << "a range cannot begin at 0.0.0.0";
        QTest::newRow("0.0.0.0/31") << QStringList {"0.0.0.0/31"} << ""
                                    << ""
                                    << "a range cannot begin at 0.0.0.0";
        QTest::newRow("three words") << QStringList {"1.1.1.1", "1.1.1.2", "1.1.1.3"} << ""
                                     << ""
                                     << "a range is one or two words";
    }

    void range()
    {
        QFETCH(QStringList, words);
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(QString, error);
        const TRangeResult r = parse_range(words);
        if (first.isEmpty()) {
            QVERIFY(!r.range);
            QCOMPARE(r.error, error);
            return;
        }
        QVERIFY2(r.range, qPrintable(r.error));
        QCOMPARE(dotted(r.range->first), first);
        QCOMPARE(dotted(r.range->last), last);
        QCOMPARE(r.range->count(), std::uint64_t {r.range->last.value} - r.range->first.value + 1);
    }

    void nbstatCannotCrossTheSignHalf_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<bool>("refused");
        QTest::newRow("lower half") << "10.0.0.1"
                                    << "127.255.255.255" << false;
        QTest::newRow("upper half") << "128.0.0.0"
                                    << "255.255.255.255" << false;
        QTest::newRow("across") << "10.0.0.1"
                                << "200.0.0.1" << true;
        QTest::newRow("just across") << "127.255.255.255"
                                     << "128.0.0.0" << true;
    }

    void nbstatCannotCrossTheSignHalf()
    {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(bool, refused);
        const QString e = nbstat_range_error({*corvane::ipv4::parse_strict(first), *corvane::ipv4::parse_strict(last)});
        QCOMPARE(!e.isEmpty(), refused);
        if (refused)
            QVERIFY(e.contains(first + u'-' + last));
    }

    void localRange_data()
    {
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("mask"); // empty: no interface carries the address
        QTest::addColumn<QString>("first"); // empty: no range
        QTest::addColumn<QString>("last");
        QTest::newRow("/24") << "192.168.1.37"
                             << "255.255.255.0"
                             << "192.168.1.1"
                             << "192.168.1.254";
        QTest::newRow("/16") << "10.0.5.20"
                             << "255.255.0.0"
                             << "10.0.0.1"
                             << "10.0.255.254";
        QTest::newRow("/30") << "192.168.1.5"
                             << "255.255.255.252"
                             << "192.168.1.5"
                             << "192.168.1.6";
        QTest::newRow("/31") << "192.168.1.5"
                             << "255.255.255.254"
                             << "192.168.1.4"
                             << "192.168.1.5";
        QTest::newRow("/32") << "10.0.1.0"
                             << "255.255.255.255"
                             << "10.0.1.0"
                             << "10.0.1.0";
        QTest::newRow("loopback /8") << "127.0.0.1"
                                     << "255.0.0.0"
                                     << "127.0.0.1"
                                     << "127.255.255.254";
        QTest::newRow("no interface") << "10.9.9.9"
                                      << ""
                                      << ""
                                      << "";
    }

    void localRange()
    {
        QFETCH(QString, local);
        QFETCH(QString, mask);
        QFETCH(QString, first);
        QFETCH(QString, last);
        std::vector<corvane::TLanInterface> interfaces {{::inet_addr("127.0.0.1"), ::inet_addr("255.0.0.0")}};
        if (!mask.isEmpty())
            interfaces.push_back({::inet_addr(qPrintable(local)), ::inet_addr(qPrintable(mask))});
        corvane::TLocalLan lan;
        lan.address = ::inet_addr(qPrintable(local));
        lan.range = corvane::lan_range(lan.address, interfaces);
        for (const auto& i : interfaces)
            if (i.address == lan.address) {
                lan.netmask = i.netmask;
                break;
            }
        const std::optional<TAddressRange> r = local_scan_range(lan);
        QCOMPARE(r.has_value(), !first.isEmpty());
        if (r) {
            QCOMPARE(dotted(r->first), first);
            QCOMPARE(dotted(r->last), last);
        }
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("format");
        QTest::addColumn<bool>("names");
        QTest::addColumn<int>("bandwidth");
        QTest::addColumn<bool>("port137");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<bool>("resolve");
        QTest::addColumn<QString>("range"); // "first last", empty for the local subnet
        const int nb = int(TCommand::Nbstat), ping = int(TCommand::Ping);
        const int txt = int(TFormat::Txt), csv = int(TFormat::Csv), json = int(TFormat::Json);
        QTest::newRow("nbstat defaults") << QStringList {"nbstat"} << nb << txt << false << 0 << false << 30 << false
                                         << "";
        QTest::newRow("ping defaults") << QStringList {"ping"} << ping << txt << false << 0 << false << 30 << false
                                       << "";
        QTest::newRow("nbstat everything")
            << QStringList {"nbstat", "--format", "json", "--names", "--bandwidth", "8000", "--port137", "10.0.0.0/30"}
            << nb << json << true << 8000 << true << 30 << false << "10.0.0.1 10.0.0.2";
        QTest::newRow("values after =") << QStringList {"nbstat", "--format=csv", "--bandwidth=400", "10.0.0.1",
                                                        "10.0.0.3"}
                                        << nb << csv << false << 400 << false << 30 << false << "10.0.0.1 10.0.0.3";
        QTest::newRow("options after the range")
            << QStringList {"ping", "10.0.0.1-10.0.0.4", "--timeout", "250", "--resolve"} << ping << txt << false << 0
            << false << 250 << true << "10.0.0.1 10.0.0.4";
        QTest::newRow("options before the command")
            << QStringList {"--format", "json", "ping", "10.0.0.1"} << ping << json << false << 0 << false << 30
            << false << "10.0.0.1 10.0.0.1";
        QTest::newRow("timeout 0 is kept") << QStringList {"ping", "--timeout=0", "10.0.0.1"} << ping << txt << false
                                           << 0 << false << 0 << false << "10.0.0.1 10.0.0.1";
        QTest::newRow("largest bandwidth") << QStringList {"nbstat", "--bandwidth", "2147483647", "10.0.0.1"} << nb
                                           << txt << false << 2147483647 << false << 30 << false << "10.0.0.1 10.0.0.1";
        QTest::newRow("after --") << QStringList {"nbstat", "--", "10.0.0.1", "10.0.0.2"} << nb << txt << false << 0
                                  << false << 30 << false << "10.0.0.1 10.0.0.2";
        QTest::newRow("names with json") << QStringList {"nbstat", "--names", "--format", "json"} << nb << json << true
                                         << 0 << false << 30 << false << "";
        // discover waits a second for late answers unless told otherwise.
        const int discover = int(TCommand::Discover);
        QTest::newRow("discover defaults") << QStringList {"discover"} << discover << txt << false << 0 << false << 1000
                                           << false << "";
        QTest::newRow("discover everything")
            << QStringList {"discover", "--format=json", "--timeout", "250", "10.0.0.0/30"} << discover << json << false
            << 0 << false << 250 << false << "10.0.0.1 10.0.0.2";
        QTest::newRow("version") << QStringList {"--version"} << int(TCommand::Version) << txt << false << 0 << false
                                 << 30 << false << "";
    }

    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(int, command);
        QFETCH(int, format);
        QFETCH(bool, names);
        QFETCH(int, bandwidth);
        QFETCH(bool, port137);
        QFETCH(int, timeout);
        QFETCH(bool, resolve);
        QFETCH(QString, range);
        const TParseResult p = parse_scan_options(args);
        QVERIFY2(p.options, qPrintable(p.error));
        const TScanOptions& o = *p.options;
        QCOMPARE(int(o.command), command);
        if (o.command == TCommand::Help || o.command == TCommand::Version)
            return;
        QCOMPARE(int(o.format), format);
        QCOMPARE(o.names, names);
        QCOMPARE(o.bandwidth, bandwidth);
        QCOMPARE(o.port137, port137);
        QCOMPARE(o.timeoutMs, timeout);
        QCOMPARE(o.resolve, resolve);
        if (range.isEmpty()) {
            QVERIFY(o.ranges.empty());
            QCOMPARE(o.rangeCount, 0);
        } else {
            QCOMPARE(o.ranges.size(), std::size_t {1});
            QCOMPARE(o.rangeCount, 1);
            QCOMPARE(dotted(o.ranges.front().first) + u' ' + dotted(o.ranges.front().last), range);
        }
    }

    // The inventory's options as they are kept; their errors are the program's table (tst_corvane_scan).
    void inventoryOptions_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("everySecs");
        QTest::addColumn<bool>("once");
        QTest::addColumn<int>("goneAfter");
        QTest::addColumn<QString>("site");
        QTest::addColumn<QString>("db");
        QTest::addColumn<int>("timeout");
        const int watch = int(TCommand::Watch), devices = int(TCommand::Devices);
        QTest::newRow("watch defaults") << QStringList {"watch"} << watch << 300 << false << 2 << "" << "" << 1000;
        QTest::newRow("watch seconds") << QStringList {"watch", "--every", "30s", "10.0.0.0/30"} << watch << 30 << false
                                       << 2 << "" << "" << 1000;
        QTest::newRow("watch minutes, once")
            << QStringList {"watch", "--every=5m", "--once", "--timeout", "300"} << watch << 300 << true << 2 << ""
            << "" << 300;
        QTest::newRow("watch an hour, gone after 1")
            << QStringList {"--gone-after", "1", "watch", "--every", "1h"} << watch << 3600 << false << 1 << "" << ""
            << 1000;
        QTest::newRow("watch a day, a site, a file")
            << QStringList {"watch", "--every", "24h", "--site", "office 2", "--db", "sqlite:/tmp/inv.sqlite"} << watch
            << 86400 << false << 2 << "office 2"
            << "sqlite:/tmp/inv.sqlite" << 1000;
        QTest::newRow("watch, postgresql")
            << QStringList {"watch", "--db=postgresql://corvane@127.0.0.1:5433/inv"} << watch << 300 << false << 2 << ""
            << "postgresql://corvane@127.0.0.1:5433/inv" << 1000;
        QTest::newRow("discover records") << QStringList {"discover", "--db", "sqlite:a b.sqlite", "10.0.0.1"}
                                          << int(TCommand::Discover) << 300 << false << 2 << ""
                                          << "sqlite:a b.sqlite" << 1000;
        QTest::newRow("nbstat records") << QStringList {"nbstat", "--db", "sqlite:/x"} << int(TCommand::Nbstat) << 300
                                        << false << 2 << "" << "sqlite:/x" << 30;
        QTest::newRow("devices") << QStringList {"devices", "--format", "json"} << devices << 300 << false << 2 << ""
                                 << "" << 30;
    }

    void inventoryOptions()
    {
        QFETCH(QStringList, args);
        QFETCH(int, command);
        QFETCH(int, everySecs);
        QFETCH(bool, once);
        QFETCH(int, goneAfter);
        QFETCH(QString, site);
        QFETCH(QString, db);
        QFETCH(int, timeout);
        const TParseResult p = parse_scan_options(args);
        QVERIFY2(p.options, qPrintable(p.error));
        QCOMPARE(int(p.options->command), command);
        QCOMPARE(p.options->everySecs, everySecs);
        QCOMPARE(p.options->once, once);
        QCOMPARE(p.options->goneAfter, goneAfter);
        QCOMPARE(p.options->site, site);
        QCOMPARE(p.options->dbUrl, db);
        QCOMPARE(p.options->timeoutMs, timeout);
    }

    // Beyond one RANGE: several, --targets, --rate and --retries, and their usage errors.
    void beyondOneRange_data()
    {
        QTest::addColumn<QStringList>("args");    // "{T}" stands for the targets file
        QTest::addColumn<QByteArray>("targets");  // its text; empty: no file is written
        QTest::addColumn<QString>("ranges");      // the merged union, "first-last" each; empty: an error
        QTest::addColumn<int>("count");           // RANGEs given
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("retries");
        QTest::addColumn<QString>("error");       // "{T}" as above
        const QString hint = QStringLiteral("; see corvane-scan --help");
        QTest::newRow("rate") << QStringList {"nbstat", "--rate", "5000", "10.0.0.1"} << QByteArray()
                              << "10.0.0.1-10.0.0.1" << 1 << 5000 << 0 << "";
        QTest::newRow("ping, largest rate") << QStringList {"ping", "--rate=100000", "10.0.0.0/30"} << QByteArray()
                                            << "10.0.0.1-10.0.0.2" << 1 << 100000 << 0 << "";
        QTest::newRow("retries") << QStringList {"nbstat", "--retries", "10", "10.0.0.1"} << QByteArray()
                                 << "10.0.0.1-10.0.0.1" << 1 << 0 << 10 << "";
        QTest::newRow("overlapping, out of order")
            << QStringList {"nbstat", "10.0.1.0/30", "10.0.0.5-10.0.0.9", "10.0.0.8-10.0.0.12"} << QByteArray()
            << "10.0.0.5-10.0.0.12 10.0.1.1-10.0.1.2" << 3 << 0 << 0 << "";
        QTest::newRow("FIRST LAST beside a prefix")
            << QStringList {"nbstat", "10.0.0.1", "10.0.0.3", "10.0.5.0/31"} << QByteArray()
            << "10.0.0.1-10.0.0.3 10.0.5.0-10.0.5.1" << 2 << 0 << 0 << "";
        QTest::newRow("lone address between other forms")
            << QStringList {"ping", "10.0.0.0/31", "10.0.0.9", "10.0.0.20-10.0.0.21"} << QByteArray()
            << "10.0.0.0-10.0.0.1 10.0.0.9-10.0.0.9 10.0.0.20-10.0.0.21" << 3 << 0 << 0 << "";
        QTest::newRow("several may cross 128.0.0.0")
            << QStringList {"nbstat", "127.255.255.254-127.255.255.255", "128.0.0.0/31"} << QByteArray()
            << "127.255.255.254-128.0.0.1" << 2 << 0 << 0 << "";
        QTest::newRow("targets file beside a RANGE")
            << QStringList {"nbstat", "--targets", "{T}", "10.0.0.2"}
            << QByteArray("10.0.0.1 10.0.0.3\n# a comment\n\n  10.0.2.0/30   # the printers\r\n")
            << "10.0.0.1-10.0.0.3 10.0.2.1-10.0.2.2" << 3 << 0 << 0 << "";

        const auto error = [&](const char* name, const QStringList& args, const QString& text, bool hinted = true,
                               const QByteArray& targets = {}) {
            QTest::newRow(name) << args << targets << "" << 0 << 0 << 0 << (hinted ? text + hint : text);
        };
        error("rate 0", {"nbstat", "--rate", "0"}, "option --rate needs a whole number from 1 to 100000, not '0'");
        error("rate a word", {"ping", "--rate=fast"}, "option --rate needs a whole number from 1 to 100000, not 'fast'");
        error("rate 100001", {"nbstat", "--rate", "100001"},
              "option --rate needs a whole number from 1 to 100000, not '100001'");
        error("retries 11", {"nbstat", "--retries", "11"}, "option --retries needs a whole number from 0 to 10, not '11'");
        error("retries is nbstat's", {"ping", "--retries", "2"}, "option --retries belongs to nbstat, not ping");
        QTest::newRow("discover, rate and targets")
            << QStringList {"discover", "--rate", "5000", "--targets", "{T}", "10.0.0.9"} << QByteArray("10.0.0.1\n")
            << "10.0.0.1-10.0.0.1 10.0.0.9-10.0.0.9" << 2 << 5000 << 0 << "";
        error("retries is not discover's", {"discover", "--retries", "1"},
              "option --retries belongs to nbstat, not discover");
        error("names is not discover's", {"discover", "--names"}, "option --names belongs to nbstat, not discover");
        error("serial is not discover's", {"discover", "--serial"}, "option --serial belongs to ping, not discover");
        error("timeout still not nbstat's", {"nbstat", "--timeout", "5"}, "option --timeout belongs to ping, not nbstat");
        error("rate with --serial", {"ping", "--serial", "--rate", "10"},
              "option --rate paces the parallel sweep; --serial waits for each address");
        error("a third address in a row", {"nbstat", "10.0.0.1", "10.0.0.2", "10.0.0.3"},
              "'10.0.0.3' after FIRST LAST 10.0.0.1 10.0.0.2 is a third address in a row; give further ranges as "
              "FIRST-LAST or ADDRESS/PREFIX");
        error("a bad one of several", {"nbstat", "10.0.0.0/24", "10.0.1.9-10.0.1.1"},
              "reversed range: 10.0.1.9 is above 10.0.1.1");
        error("missing targets file", {"nbstat", "--targets", "{T}"},
              "{T}: cannot be read: No such file or directory", false);
        error("bad line in targets", {"ping", "--targets", "{T}"},
              "{T}: line 3: '10.0.0.256 # typo': '10.0.0.256' is not an IPv4 address", false,
              "10.0.0.1\n\n10.0.0.256 # typo\n10.0.0.9\n");
        error("control bytes in a targets line", {"nbstat", "--targets", "{T}"},
              "{T}: line 2: '10.0.0.2\\x00evil\\x1b[2J\\\\': '10.0.0.2\\x00evil\\x1b[2J\\\\' is not an IPv4 address",
              false, QByteArray("10.0.0.1\n10.0.0.2\0evil\x1b[2J\\\n", 28));
        error("half-typed range in targets", {"nbstat", "--targets", "{T}"},
              "{T}: line 1: '10.0.0.1-': the range has no last address", false, "10.0.0.1-\r\n");
        const QString longWord(100, u'9');
        error("long targets line", {"nbstat", "--targets", "{T}"},
              "{T}: line 1: '10.0.0.1-" + longWord.left(71) + "...': '" + longWord + "' is not an IPv4 address",
              false, "10.0.0.1-" + longWord.toLatin1() + "\n");
        error("targets without a RANGE", {"nbstat", "--targets", "{T}"}, "{T}: no RANGE in it", false,
              "# nothing yet\n");
    }

    void beyondOneRange()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, targets);
        QFETCH(QString, ranges);
        QFETCH(int, count);
        QFETCH(int, rate);
        QFETCH(int, retries);
        QFETCH(QString, error);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("targets.txt"));
        if (!targets.isEmpty()) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(targets) == targets.size());
        }
        args.replaceInStrings(QStringLiteral("{T}"), file);
        const TParseResult p = parse_scan_options(args);
        QCOMPARE(p.error, QString(error).replace(QStringLiteral("{T}"), file));
        QCOMPARE(p.options.has_value(), !ranges.isEmpty());
        if (!p.options)
            return;
        QStringList got;
        for (const TAddressRange& r : p.options->ranges)
            got << dotted(r.first) + u'-' + dotted(r.last);
        QCOMPARE(got.join(u' '), ranges);
        QCOMPARE(p.options->rangeCount, count);
        QCOMPARE(p.options->rate, rate);
        QCOMPARE(p.options->retries, retries);
    }

    void localSubnetUpToASlash16_data()
    {
        QTest::addColumn<QString>("cidr");
        QTest::addColumn<QString>("error");
        QTest::newRow("/24") << "192.168.1.0/24" << "";
        QTest::newRow("/16") << "10.5.0.0/16" << "";
        QTest::newRow("/15") << "10.4.0.0/15"
                             << "the local subnet 10.4.0.1-10.5.255.254 has 131070 addresses, more than a /16; give a RANGE";
        QTest::newRow("loopback /8") << "127.0.0.1/8"
                                     << "the local subnet 127.0.0.1-127.255.255.254 has 16777214 addresses, more than a "
                                        "/16; give a RANGE";
    }

    void localSubnetUpToASlash16()
    {
        QFETCH(QString, cidr);
        QFETCH(QString, error);
        const TRangeResult r = parse_range({cidr});
        QVERIFY(r.range);
        QCOMPARE(local_range_error(*r.range), error);
    }

    void compareOption_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("file");  // what is compared with
        QTest::addColumn<QString>("error"); // empty: parsed
        QTest::newRow("none") << QStringList {"nbstat"} << "" << "";
        QTest::newRow("two words") << QStringList {"nbstat", "--compare", "old.txt", "10.0.0.1"} << "old.txt" << "";
        QTest::newRow("after =") << QStringList {"nbstat", "--compare=a b.json"} << "a b.json" << "";
        QTest::newRow("no value") << QStringList {"nbstat", "--compare"} << ""
                                  << "option --compare needs a value; see corvane-scan --help";
        QTest::newRow("empty value") << QStringList {"nbstat", "--compare="} << ""
                                     << "option --compare needs a file name; see corvane-scan --help";
        QTest::newRow("not for ping") << QStringList {"ping", "--compare", "old.txt"} << ""
                                      << "option --compare belongs to nbstat, not ping; see corvane-scan --help";
    }

    void compareOption()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, file);
        QFETCH(QString, error);
        const TParseResult p = parse_scan_options(args);
        QCOMPARE(p.error, error);
        QCOMPARE(p.options ? p.options->compareFile : QString(), file);
    }

    // Options are read in order: --help answers before a later fault, a fault before it is reported.
    void helpAndFaultsInOrder()
    {
        const TParseResult help = parse_scan_options({"nbstat", "--help", "--bogus"});
        QVERIFY(help.options);
        QCOMPARE(help.options->command, TCommand::Help);
        const TParseResult fault = parse_scan_options({"nbstat", "--bogus", "--help"});
        QVERIFY(!fault.options);
        QCOMPARE(fault.error, QStringLiteral("unknown option '--bogus'; see corvane-scan --help"));
    }
};

QTEST_GUILESS_MAIN(TestScanOptions)
#include "test_scan_options.moc"
