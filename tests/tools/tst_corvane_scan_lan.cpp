// corvane-scan in a private LAN of network namespaces: nmbd hosts scanned from a scanner
// namespace, compared with what nmblookup sees; the local subnet without RANGE; a ping sweep.
#include "NmbdLan.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

#include <map>
#include <tuple>

using namespace corvane::test;

namespace {

const QString kExe = QStringLiteral(CORVANE_SCAN_EXE);
const QString kScan = QStringLiteral("scan");
const QString kRange = QStringLiteral("10.77.40.1-10.77.40.40");

const LanPlan& plan()
{
    // Adapter addresses of the hosts' own; nmbd still reports zeros. 10.77.40.30 is up and answers
    // ping, but runs no NetBIOS name service.
    static const LanPlan lan{"scan", "10.77.40.2",
                             {{"nb1", "10.77.40.11", "PC-ONE", "WGA", {}, false, "00:11:22:33:44:01"},
                              {"nb2", "10.77.40.12", "PC-TWO", "WGB", {"FILES2"}, false, "70:b3:d5:12:34:02"},
                              {"nb3", "10.77.40.23", "THIRD", "WGA", {}, false, "02:00:00:00:00:03"}},
                             {"10.77.40.30"}};
    return lan;
}

const QString kQuiet = plan().quiet.first();

QString row(const QString& ip, const QString& comp, const QString& users, const QString& group, const QString& mac,
            bool file, bool master)
{
    return QString::asprintf("%-16s %-16s %-16s %-16s %-18s %-14s %-14s", qPrintable(ip), qPrintable(comp),
                             qPrintable(users), qPrintable(group), qPrintable(mac), file ? "True" : "False",
                             master ? "True" : "False");
}

// The network-list row of a name table as nmblookup printed it, by the window's summary rules.
QString rowFromNmblookup(const QString& ip, const QList<NetnsLab::NameEntry>& t, const QString& mac)
{
    QString comp, users, group;
    bool compOpen = true, file = false, master = false;
    for (const NetnsLab::NameEntry& e : t) {
        if (e.suffix == 0x00 && e.group)
            group = e.name;
        else if (e.suffix == 0x00 && compOpen) {
            comp = e.name;
            compOpen = false;
        } else if (e.suffix == 0x20 && !e.group)
            file = true;
        else if (((e.suffix == 0x1D || e.suffix == 0x1B) && !e.group) || (e.suffix == 0x01 && e.group))
            master = true;
        else if (e.suffix == 0x03 && !e.group)
            users = users.isEmpty() ? e.name : users + QStringLiteral(", ") + e.name;
    }
    return row(ip, comp, users, group, mac, file, master);
}

QString shellQuote(const QString& s)
{
    QString q = s;
    q.replace(QLatin1String("'"), QLatin1String("'\\''"));
    return u'\'' + q + u'\'';
}

} // namespace

class TestCorvaneScanLan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        CORVANE_REQUIRE_PROGRAM("unshare");
        m_lab = std::make_unique<NetnsLab>();
        NetnsLab& lab = *m_lab;
        CORVANE_BUILD_NMBD_LAN(lab, plan());
        // Hosts that are no local master never hold an election: their tables stay as they are now.
        for (const auto& h : plan().hosts) {
            const QString& ip = h.address;
            const NetnsLab::RunResult r = lab.nmblookup(kScan, ip);
            QCOMPARE(r.exitCode, 0);
            m_tables[ip] = NetnsLab::parseNmblookup(r.out);
            QVERIFY2(!m_tables[ip].isEmpty(), qPrintable(r.out));
            const auto mac
                = QRegularExpression(QStringLiteral("MAC Address = ([0-9A-F]{2}(-[0-9A-F]{2}){5})")).match(r.out);
            QVERIFY2(mac.hasMatch(), qPrintable(r.out));
            m_macs[ip] = mac.captured(1).replace(u'-', u'.');
        }
    }

    void cleanupTestCase() { m_lab.reset(); }

    // One object per nmbd host; each name table as nmblookup reads it.
    void jsonNamesEqualNmblookup()
    {
        const NetnsLab::RunResult r = m_lab->run(kScan, {kExe, "nbstat", "--format", "json", kRange}, 30000);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        QJsonParseError error {};
        const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QJsonArray hosts = doc.array();
        QCOMPARE(hosts.size(), plan().hosts.size());
        std::map<QString, QJsonObject> byIp;
        for (const QJsonValue& v : hosts)
            byIp[v.toObject()["address"].toString()] = v.toObject();
        for (const auto& h : plan().hosts) {
            const QString& ip = h.address;
            QVERIFY2(byIp.count(ip), qPrintable(ip + QStringLiteral(" missing")));
            const QJsonObject& o = byIp[ip];
            QList<NetnsLab::NameEntry> names;
            for (const QJsonValue& n : o["names"].toArray())
                names << NetnsLab::NameEntry {n["name"].toString(), n["suffix"].toString().toInt(nullptr, 16),
                                              n["group"].toBool()};
            QCOMPARE(names, m_tables[ip]);
            QCOMPARE(o["computer_name"].toString(), h.netbiosName);
            QCOMPARE(o["workgroup"].toString(), h.workgroup);
            QCOMPARE(o["file_service"], QJsonValue(true));
            QCOMPARE(o["master_browser"], QJsonValue(false));
            QCOMPARE(o["mac"].toString(), m_macs[ip]);
        }
    }

    // nmbd reports 00.00.00.00.00.00: the vendor comes from the adapter address the neighbour table
    // learned during the scan (registered MA-L, MA-S within a registered MA-L, unregistered); the
    // reported address stays as it is.
    void vendorsFromTheNeighbourTable()
    {
        QVERIFY(!writeFile(m_dir, QStringLiteral("oui.csv"),
                           "MA-L,001122,Lab Maker,x\nMA-L,70B3D5,IEEE Registration Authority,x\n")
                     .isEmpty());
        QVERIFY(!writeFile(m_dir, QStringLiteral("oui36.csv"), "MA-S,70B3D5123,Small Block Lab,x\n").isEmpty());
        const auto scan = [&](const QString& format) {
            return m_lab->run(kScan, {"env", "CORVANE_IEEE_DATA=" + m_dir.path(), kExe, "nbstat", "--format", format, kRange},
                              30000);
        };
        const NetnsLab::RunResult r = scan(QStringLiteral("json"));
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        QStringList got;
        for (const QJsonValue& v : QJsonDocument::fromJson(r.out.toUtf8()).array())
            got << QStringList {v["address"].toString(), v["mac"].toString(), v["vendor"].toString(),
                                v["neighbour_mac"].toString()}
                       .join(u'|');
        got.sort();
        QCOMPARE(got, (QStringList {"10.77.40.11|00.00.00.00.00.00|Lab Maker|00.11.22.33.44.01",
                                    "10.77.40.12|00.00.00.00.00.00|Small Block Lab|70.B3.D5.12.34.02",
                                    "10.77.40.23|00.00.00.00.00.00||02.00.00.00.00.03"}));
        // csv: the same at the end of each record; txt as without a registry.
        const NetnsLab::RunResult c = scan(QStringLiteral("csv"));
        QCOMPARE(c.exitCode, 0);
        QVERIFY2(c.out.contains(QStringLiteral(",00.00.00.00.00.00,True,False,Lab Maker,00.11.22.33.44.01\r\n")),
                 qPrintable(c.out));
        const NetnsLab::RunResult t = scan(QStringLiteral("txt"));
        QCOMPARE(t.exitCode, 0);
        QVERIFY2(!t.out.contains(QLatin1String("Lab")) && t.out.count(QLatin1String("00.00.00.00.00.00")) == 3,
                 qPrintable(t.out));
    }

    // The list: the heading and one row per nmbd host, each the row nmblookup's table gives.
    void txtOneRowPerHost_data()
    {
        QTest::addColumn<QStringList>("extra");
        QTest::newRow("free port") << QStringList {};
        QTest::newRow("from port 137") << QStringList {"--port137"};
    }

    void txtOneRowPerHost()
    {
        QFETCH(QStringList, extra);
        const NetnsLab::RunResult r
            = m_lab->run(kScan, QStringList {kExe, "nbstat"} + extra + QStringList {kRange}, 30000);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        QVERIFY(r.out.endsWith(QLatin1String("\r\n")));
        QStringList lines = r.out.split(QStringLiteral("\r\n"));
        lines.removeLast();
        QVERIFY2(lines.size() == 1 + plan().hosts.size(), qPrintable(r.out));
        QCOMPARE(lines.size(), 1 + plan().hosts.size());
        QCOMPARE(lines.takeFirst(),
                 QString::asprintf("%-16s %-16s %-16s %-16s %-18s %-14s %-14s", "IP", "CompName", "UserName",
                                   "WorkGroup", "MacAddress", "FileService", "MasterBrowser"));
        QStringList expected;
        for (const auto& h : plan().hosts) {
            const QString& ip = h.address;
            expected << rowFromNmblookup(ip, m_tables[ip], m_macs[ip]);
        }
        lines.sort();
        expected.sort();
        QCOMPARE(lines, expected);
    }

    // 20 % of the name service's datagrams lost each way. A host is missed only when all 11 of its
    // exchanges lose the query or the answer: 0.36^11, about 1.3e-5, so 3 hosts in 3 scans miss one
    // about once in 8,000 runs. With one query per address all 3 are found in only 26 % of scans,
    // and in all 3 scans in under 2 % of runs.
    void lossyLinkRetries()
    {
        CORVANE_REQUIRE_PROGRAM("nft");
        const auto scan = [this](const char* retries) {
            const NetnsLab::RunResult r
                = m_lab->run(kScan, {kExe, "nbstat", "--retries", retries, "--format", "csv", kRange}, 120000);
            QStringList ips;
            for (const QString& l : r.out.split(QStringLiteral("\r\n")).mid(1))
                if (!l.isEmpty())
                    ips << l.section(u',', 0, 0);
            ips.sort();
            return std::make_tuple(r.exitCode, r.err, ips);
        };
        const auto noLoss = qScopeGuard([this] { m_lab->setNetbiosLoss(plan().segment, 0); });
        // All lost: the rules do hold the name service's datagrams.
        QVERIFY2(m_lab->setNetbiosLoss(plan().segment, 100), qPrintable(m_lab->lastError()));
        QCOMPARE(scan("0"), std::make_tuple(0, QString(), QStringList()));
        QVERIFY2(m_lab->setNetbiosLoss(plan().segment, 20), qPrintable(m_lab->lastError()));
        QStringList planned;
        for (const auto& h : plan().hosts)
            planned << h.address;
        planned.sort();
        for (int i = 0; i < 3; ++i)
            QCOMPARE(scan("10"), std::make_tuple(0, QString(), planned));
    }

    // Without RANGE a subnet above a /16 is refused before anything is sent. Should the refusal fail,
    // a prohibit rule keeps every query off the link and the neighbour table.
    void localSubnetAboveASlash16()
    {
        NetnsLab& lab = *m_lab;
        const QString wide = QStringLiteral("wide");
        QVERIFY(lab.addSegment(wide) && lab.addHost(wide, wide, QStringLiteral("10.96.0.2/12")));
        QCOMPARE(lab.run(wide, {"ip", "rule", "add", "to", "10.96.0.0/12", "prohibit"}).exitCode, 0);
        const QString hosts = writeFile(m_dir, QStringLiteral("wide-hosts"), "127.0.0.1 localhost\n127.0.1.1 cvwide\n");
        QVERIFY(!hosts.isEmpty());
        for (const char* command : {"nbstat", "ping"}) {
            const QString script = QStringLiteral("set -e; hostname cvwide; mount --bind %1 /etc/hosts; "
                                                  "exec timeout 20 %2 %3")
                                       .arg(shellQuote(hosts), shellQuote(kExe), QLatin1String(command));
            const NetnsLab::RunResult r = lab.run(
                wide, {"unshare", "--uts", "--mount", "--propagation", "private", "sh", "-c", script}, 30000);
            QCOMPARE(r.exitCode, 2);
            QCOMPARE(r.out, QString());
            QCOMPARE(r.err, QStringLiteral("corvane-scan: the local subnet 10.96.0.1-10.111.255.254 has 1048574 "
                                           "addresses, more than a /16; give a RANGE\n"));
        }
    }

    // Without RANGE: the scanner's subnet, found as the window finds it, whether the host name is on
    // the adapter's address or on loopback as Debian writes it.
    void localSubnetWithoutRange_data()
    {
        QTest::addColumn<QByteArray>("hostsFile");
        QTest::newRow("adapter's address") << QByteArray("10.77.40.2 cvscan\n");
        QTest::newRow("Debian 127.0.1.1") << QByteArray("127.0.0.1 localhost\n127.0.1.1 cvscan\n");
        QTest::newRow("127.0.0.1") << QByteArray("127.0.0.1 localhost cvscan\n");
    }

    void localSubnetWithoutRange()
    {
        QFETCH(QByteArray, hostsFile);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString hosts = writeFile(dir, QStringLiteral("hosts"), hostsFile);
        QVERIFY(!hosts.isEmpty());
        const QString script
            = QStringLiteral("set -e; hostname cvscan; mount --bind %1 /etc/hosts; exec %2 nbstat --format csv")
                  .arg(shellQuote(hosts), shellQuote(kExe));
        const NetnsLab::RunResult r
            = m_lab->run(kScan, {"unshare", "--uts", "--mount", "--propagation", "private", "sh", "-c", script}, 30000);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        QStringList lines = r.out.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.takeFirst(),
                 QStringLiteral("IP,CompName,UserName,WorkGroup,MacAddress,FileService,MasterBrowser,Vendor,NeighbourMac"));
        QCOMPARE(lines.takeLast(), QString());
        QStringList ips;
        for (const QString& l : lines)
            ips << l.section(u',', 0, 0);
        ips.sort();
        QStringList planned;
        for (const auto& h : plan().hosts)
            planned << h.address;
        QCOMPARE(ips, planned);
    }

    // A sweep over a missing host, an nmbd host named in /etc/hosts, one without a name and the
    // quiet host: one line each, with the ping page's texts.
    void pingSweep()
    {
        // The scans before queried every address of the subnet: an echo to a missing host whose
        // resolution is still pending would share its failure, a host-unreachable within the time-out.
        for (const char* missing : {"10.77.40.10", "10.77.40.29"}) {
            const QStringList pending {"ip", "neigh", "show", "to", missing, "nud", "incomplete"};
            QVERIFY(QTest::qWaitFor([&] { return m_lab->run(kScan, pending).out.isEmpty(); }, 10000));
        }
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString hosts = writeFile(dir, QStringLiteral("hosts"), "10.77.40.11 pc-one.lab\n");
        QVERIFY(!hosts.isEmpty());
        // Lookups that /etc/hosts cannot answer go to a resolver on the namespace's loopback: none.
        const QString resolv
            = writeFile(dir, QStringLiteral("resolv.conf"), "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n");
        QVERIFY(!resolv.isEmpty());
        const QString script = QStringLiteral("set -e; mount --bind %1 /etc/hosts; mount --bind %2 /etc/resolv.conf; "
                                              "exec %3 ping --resolve --timeout 300 10.77.40.10-10.77.40.12")
                                   .arg(shellQuote(hosts), shellQuote(resolv), shellQuote(kExe));
        const NetnsLab::RunResult r
            = m_lab->run(kScan, {"unshare", "--mount", "--propagation", "private", "sh", "-c", script}, 30000);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.err, QString());
        const QRegularExpression expected(
            QStringLiteral("^IP               Status                    Data size Time\\n"
                           "10\\.77\\.40\\.10      Cannot ping, status=[1-9]\\d*\\n"
                           "10\\.77\\.40\\.11 pc-one\\.lab Received                  56        \\d+\\n"
                           "10\\.77\\.40\\.12      Received                  56        \\d+\\n$"));
        QVERIFY2(expected.match(r.out).hasMatch(), qPrintable(r.out));

        const NetnsLab::RunResult j
            = m_lab->run(kScan, {kExe, "ping", "--format", "json", "--timeout", "300", "10.77.40.29", kQuiet}, 30000);
        QCOMPARE(j.exitCode, 0);
        QCOMPARE(j.err, QString());
        const QJsonArray a = QJsonDocument::fromJson(j.out.toUtf8()).array();
        QCOMPARE(a.size(), 2);
        QCOMPARE(a[0]["address"].toString(), QStringLiteral("10.77.40.29"));
        QCOMPARE(a[0]["received"], QJsonValue(false));
        QVERIFY(a[0]["status"].toString().startsWith(QLatin1String("Cannot ping, status=")));
        QVERIFY(a[0]["data_size"].isNull());
        QCOMPARE(a[1]["address"].toString(), kQuiet);
        QCOMPARE(a[1]["caption"].toString(), kQuiet);
        QCOMPARE(a[1]["status"].toString(), QStringLiteral("Received"));
        QCOMPARE(a[1]["data_size"].toInt(), 56);
    }

    // Without permission for either ICMP socket every echo fails; the reason is said once, not per
    // address, and the sweep still lists each address.
    void pingWithoutPermission()
    {
        QVERIFY(m_lab->setSysctl(kScan, QStringLiteral("net.ipv4.ping_group_range"), QStringLiteral("1 0")));
        const NetnsLab::RunResult r = m_lab->runAsUser(
            kScan, 65534, 65534, {kExe, "ping", "--timeout", "100", "10.77.40.11-10.77.40.13"}, 30000);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.startsWith(QLatin1String("corvane-scan: ICMP sockets not permitted: "))
                     && r.err.count(u'\n') == 1,
                 qPrintable(r.err));
        const QRegularExpression expected(QStringLiteral("^IP               Status                    Data size Time\\n"
                                                         "10\\.77\\.40\\.11      Cannot ping, status=\\d+\\n"
                                                         "10\\.77\\.40\\.12      Cannot ping, status=\\d+\\n"
                                                         "10\\.77\\.40\\.13      Cannot ping, status=\\d+\\n$"));
        QVERIFY2(expected.match(r.out).hasMatch(), qPrintable(r.out));
    }

    // The parallel sweep prints what the serial one prints, times apart: hosts, empty addresses, a
    // router's "host unreachable", a local unreachable route, and the top of the address space; on
    // the raw socket as root and the datagram one as a user.
    void pingParallelAsSerial_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("range");
        QTest::addColumn<bool>("asUser");
        QTest::addColumn<QStringList>("lines"); // some lines the output must hold
        const QString lan = QStringLiteral("10.77.40.8-10.77.40.40");
        const auto txt = [](const char* ip, const char* status, const char* size = "") {
            return QString::asprintf("%-16s %-25s %-9s %s", ip, status, size, *size ? "T" : "").trimmed();
        };
        QTest::newRow("txt, raw") << "txt" << lan << false
                                  << QStringList {txt("10.77.40.9", "Cannot ping, status=11010"),
                                                  txt("10.77.40.30", "Received", "56"),
                                                  txt("10.77.40.33", "Received", "0"),
                                                  txt("10.77.40.37", "Cannot ping, status=11003")};
        QTest::newRow("csv, datagram") << "csv" << lan << true
                                       << QStringList {"10.77.40.11,Received,56,T", "10.77.40.33,Received,0,T"};
        QTest::newRow("json, raw") << "json" << lan << false << QStringList {};
        QTest::newRow("top of the address space")
            << "txt" << "255.255.255.253-255.255.255.255" << false
            << QStringList {txt("255.255.255.254", "Cannot ping, status=11002")};
    }

    void pingParallelAsSerial()
    {
        QFETCH(QString, format);
        QFETCH(QString, range);
        QFETCH(bool, asUser);
        QFETCH(QStringList, lines);
        NetnsLab& lab = *m_lab;
        if (!m_routed) {
            // A router on the LAN that has no way on to 10.77.40.33; 10.77.40.36/30 has no route at all.
            QVERIFY(lab.addHost(QStringLiteral("gw"), QStringLiteral("lan"), QStringLiteral("10.77.40.3/24")));
            QVERIFY(lab.setSysctl(QStringLiteral("gw"), QStringLiteral("net.ipv4.ip_forward"), QStringLiteral("1")));
            // A router sends about one such error a second (a burst of 5), and ICMP's own limit draws
            // on the same tokens; without it two sweeps a row fit: one address behind the router.
            QVERIFY(lab.setSysctl(QStringLiteral("gw"), QStringLiteral("net.ipv4.icmp_ratelimit"), QStringLiteral("0")));
            QVERIFY(lab.addRoute(QStringLiteral("gw"), {"unreachable", "10.77.40.33/32"}));
            QVERIFY(lab.addRoute(kScan, {"10.77.40.33/32", "via", "10.77.40.3"}));
            QVERIFY(lab.addRoute(kScan, {"unreachable", "10.77.40.36/30"}));
            // The empty addresses get made-up adapters: with ARP failing, the "host unreachable" bursts
            // 3 s after each sweep use up the ICMP error budget, which the kernel keeps for the whole
            // machine, and so could take the router's error away.
            const QSet<int> used {3, 11, 12, 23, 30, 33, 36, 37, 38, 39};
            for (int octet = 8; octet <= 40; ++octet)
                if (!used.contains(octet))
                    QCOMPARE(lab.run(kScan, {"ip", "neigh", "replace", QStringLiteral("10.77.40.%1").arg(octet), "lladdr",
                                             QStringLiteral("02:00:00:00:00:%1").arg(octet, 2, 16, QLatin1Char('0')),
                                             "nud", "permanent", "dev", lab.interfaceOf(kScan, QStringLiteral("lan"))})
                                 .exitCode,
                             0);
            m_routed = true;
        }
        QVERIFY(lab.setSysctl(kScan, QStringLiteral("net.ipv4.ping_group_range"),
                              asUser ? QStringLiteral("0 2147483647") : QStringLiteral("1 0")));
        const auto sweep = [&](const QStringList& extra) {
            const QStringList argv = QStringList {kExe, "ping", "--format", format, "--timeout", "100", range} + extra;
            return asUser ? lab.runAsUser(kScan, 65534, 65534, argv, 30000) : lab.run(kScan, argv, 30000);
        };
        const NetnsLab::RunResult serial = sweep({"--serial"});
        const NetnsLab::RunResult parallel = sweep({});
        QCOMPARE(serial.exitCode, 0);
        QCOMPARE(parallel.exitCode, 0);
        QCOMPARE(parallel.err, serial.err);
        const QString expected = timesApart(serial.out, format);
        const QStringList want = expected.split(u'\n');
        const QStringList have = timesApart(parallel.out, format).split(u'\n');
        for (qsizetype i = 0; i < std::min(want.size(), have.size()); ++i)
            QVERIFY2(have[i] == want[i], qPrintable(QStringLiteral("line %1: %2, --serial: %3").arg(i).arg(have[i], want[i])));
        QCOMPARE(have.size(), want.size());
        QStringList got = want;
        for (QString& l : got)
            if (l.endsWith(u'\r'))
                l.chop(1);
        for (const QString& line : lines)
            QVERIFY2(got.contains(line), qPrintable(line + QStringLiteral(" not in:\n") + expected));
    }

private:
    // The output with every round-trip time as T.
    static QString timesApart(const QString& out, const QString& format)
    {
        if (format == QLatin1String("json")) {
            QJsonArray a = QJsonDocument::fromJson(out.toUtf8()).array();
            for (qsizetype i = 0; i < a.size(); ++i) {
                QJsonObject o = a[i].toObject();
                if (!o[QLatin1String("time")].isNull())
                    o[QLatin1String("time")] = QStringLiteral("T");
                a[i] = o;
            }
            return QString::fromUtf8(QJsonDocument(a).toJson());
        }
        static const QRegularExpression txt(QStringLiteral("(?m)^(\\S+ +Received +\\d+ +)\\d+$"));
        static const QRegularExpression csv(QStringLiteral("(?m)^([^,]+,Received,\\d+,)\\d+\r$"));
        QString s = out;
        return format == QLatin1String("csv") ? s.replace(csv, QStringLiteral("\\1T\r"))
                                              : s.replace(txt, QStringLiteral("\\1T"));
    }

    bool m_routed = false;
    std::unique_ptr<NetnsLab> m_lab;
    QTemporaryDir m_dir;
    std::map<QString, QList<NetnsLab::NameEntry>> m_tables;
    std::map<QString, QString> m_macs;
};

QTEST_GUILESS_MAIN(TestCorvaneScanLan)
#include "tst_corvane_scan_lan.moc"
