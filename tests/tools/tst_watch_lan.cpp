// corvane-scan watch --once on a namespace LAN: a host added between two surveys is one new event
// with its MAC and NetBIOS name; taken off the link it is gone after --gone-after surveys, and devices
// lists it so.
#include "NmbdLan.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

using namespace corvane::test;

namespace {

const QString kExe = QStringLiteral(CORVANE_SCAN_EXE);
const QString kScan = QStringLiteral("scan");
const QString kRange = QStringLiteral("10.77.60.8/29"); // .9 to .14

const LanPlan& plan()
{
    static const LanPlan lan {
        "scan", "10.77.60.2", {{"nb1", "10.77.60.11", "PC-ONE", "WGA", {}, false, "00:11:22:33:60:11"}}};
    return lan;
}

const LanHost kLate {"late", "10.77.60.12", "PC-LATE", "WGA", {}, false, "00:11:22:33:60:12"};

QList<QJsonObject> jsonLines(const QString& out)
{
    QList<QJsonObject> lines;
    for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts))
        lines << QJsonDocument::fromJson(line.toUtf8()).object();
    return lines;
}

} // namespace

class TestWatchLan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_lab = std::make_unique<NetnsLab>();
        CORVANE_BUILD_NMBD_LAN(*m_lab, plan());
        QVERIFY(m_home.isValid());
    }

    void cleanupTestCase() { m_lab.reset(); }

    void newThenGone()
    {
        NetnsLab& lab = *m_lab;
        // The first survey of an empty inventory: the one host is new.
        NetnsLab::RunResult r = watchOnce();
        QCOMPARE(r.exitCode, 0);
        QList<QJsonObject> events = jsonLines(r.out);
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0]["event"].toString(), QStringLiteral("new"));
        QCOMPARE(events[0]["name"].toString(), QStringLiteral("PC-ONE"));

        // A host comes: one new event, named already.
        QVERIFY2(lab.addHost(kLate.host, plan().segment, kLate.address + QStringLiteral("/24"), kLate.mac),
                 qPrintable(lab.lastError()));
        NetnsLab::NmbdConfig late;
        late.netbiosName = kLate.netbiosName;
        late.workgroup = kLate.workgroup;
        QVERIFY2(lab.startNmbd(kLate.host, late), qPrintable(lab.lastError()));
        QVERIFY2(lab.waitForNmbd(kLate.host, kScan), qPrintable(lab.lastError()));
        r = watchOnce();
        QCOMPARE(r.exitCode, 0);
        events = jsonLines(r.out);
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0]["event"].toString(), QStringLiteral("new"));
        QCOMPARE(events[0]["mac"].toString(), QStringLiteral("00.11.22.33.60.12"));
        QCOMPARE(events[0]["address"].toString(), kLate.address);
        QCOMPARE(events[0]["name"].toString(), kLate.netbiosName);
        QCOMPARE(events[0]["site"].toString(), QStringLiteral("lab"));

        // Off the link: the first survey that misses it says nothing, the second says gone.
        const QString eth = lab.interfaceOf(kLate.host, plan().segment);
        QCOMPARE(lab.run(kLate.host, {"ip", "link", "set", eth, "down"}).exitCode, 0);
        r = watchOnce();
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, QString());
        r = watchOnce();
        QCOMPARE(r.exitCode, 0);
        events = jsonLines(r.out);
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0]["event"].toString(), QStringLiteral("gone"));
        QCOMPARE(events[0]["mac"].toString(), QStringLiteral("00.11.22.33.60.12"));

        // No traffic: the inventory as it stands.
        const NetnsLab::RunResult list
            = lab.run(kScan, {"env", "XDG_DATA_HOME=" + m_home.path(), kExe, "devices", "--format", "json"});
        QCOMPARE(list.exitCode, 0);
        std::map<QString, QJsonObject> byMac;
        for (const QJsonValue& v : QJsonDocument::fromJson(list.out.toUtf8()).array())
            byMac[v["mac"].toString()] = v.toObject();
        QCOMPARE(byMac.size(), std::size_t {2});
        const QJsonObject gone = byMac["00.11.22.33.60.12"];
        QCOMPARE(gone["state"].toString(), QStringLiteral("gone"));
        QCOMPARE(gone["times_seen"].toInt(), 1);
        QCOMPARE(gone["name"].toString(), kLate.netbiosName);
        QCOMPARE(gone["address"].toString(), kLate.address);
        const QJsonObject stays = byMac["00.11.22.33.60.11"];
        QCOMPARE(stays["state"].toString(), QStringLiteral("present"));
        QCOMPARE(stays["times_seen"].toInt(), 4);
    }

private:
    // One survey of the range from the scanner, into the test's own inventory.
    NetnsLab::RunResult watchOnce()
    {
        // What an earlier survey left in the scanner's table is no evidence of this one.
        m_lab->run(kScan, {"ip", "neigh", "flush", "all"});
        NetnsLab::RunResult r = m_lab->run(kScan,
                                           {"env", "XDG_DATA_HOME=" + m_home.path(), kExe, "watch", "--once",
                                            "--gone-after", "2", "--site", "lab", kRange},
                                           30000);
        if (r.exitCode != 0 || !r.err.isEmpty())
            qWarning("watch --once: %d: %s", r.exitCode, qPrintable(r.err));
        return r;
    }

    std::unique_ptr<NetnsLab> m_lab;
    QTemporaryDir m_home;
};

QTEST_GUILESS_MAIN(TestWatchLan)
#include "tst_watch_lan.moc"
