// corvane-scan and the inventory on the loopback: an inventory that cannot be updated never hides a
// survey's list and never ends a watch; SIGTERM during a survey records nothing of it; devices lists
// names exactly as they were received.
#include "NbResponder.h"
#include "ProgramRun.h"
#include "SqliteCheck.h"
#include "TestSupport.h"

#include "inventory/Inventory.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <signal.h>

using namespace corvane::test;
using corvane::inventory::TInventory;

namespace {

const QString kExe = QStringLiteral(CORVANE_SCAN_EXE);

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// An inventory that is no inventory: made in dir, its URL.
QString makeFailingInventory(const QTemporaryDir& dir, const QString& kind)
{
    // Nothing listens on port 1: libpq explains on several lines.
    if (kind == QLatin1String("no server"))
        return QStringLiteral("postgresql://nobody@127.0.0.1:1/inventory");
    const QString path = dir.filePath(QStringLiteral("inventory.sqlite"));
    if (kind == QLatin1String("not a database"))
        writeFile(dir, QStringLiteral("inventory.sqlite"), QByteArray(4096, 'x'));
    else if (kind == QLatin1String("a folder"))
        QDir(dir.path()).mkdir(QStringLiteral("inventory.sqlite"));
    else {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("foreign"));
        db.setDatabaseName(path);
        if (db.open())
            QSqlQuery(db).exec(QStringLiteral("CREATE TABLE accounts (id INTEGER, name TEXT)"));
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
    }
    return QStringLiteral("sqlite:") + path;
}

} // namespace

class TestScanInventory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        // Never the real home's inventory.
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(m_home->isValid());
        m_env = {{"XDG_DATA_HOME", m_home->filePath("data")}, {"XDG_CONFIG_HOME", m_home->filePath("config")}};
    }

    void failingInventory_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("listStart"); // how the list printed first begins
        QTest::newRow("discover, not a database") << "discover"
                                                  << "not a database" << QByteArray("IP ");
        QTest::newRow("discover, foreign tables") << "discover"
                                                  << "foreign tables" << QByteArray("IP ");
        QTest::newRow("discover, a folder") << "discover"
                                            << "a folder" << QByteArray("IP ");
        QTest::newRow("discover, no PostgreSQL server") << "discover"
                                                        << "no server" << QByteArray("IP ");
        QTest::newRow("nbstat, foreign tables") << "nbstat"
                                                << "foreign tables" << QByteArray();
    }

    // The list first, then one line and status 3; the file is left as it was.
    void failingInventory()
    {
        QFETCH(QString, command);
        QFETCH(QString, kind);
        QFETCH(QByteArray, listStart);
        QTemporaryDir dir;
        const QString url = makeFailingInventory(dir, kind);
        const QByteArray before = fileBytes(url.mid(7));
        const QStringList args = command == QLatin1String("discover")
            ? QStringList {command, "--db", url, "--timeout", "200", "127.0.0.1"}
            : QStringList {command, "--db", url, "127.0.0.1"};
        const ProgramRun r = runProgram(kExe, args, ProgramOptions().env(m_env));
        QCOMPARE(r.code, 3);
        QVERIFY2(r.out.startsWith(listStart), r.out.constData());
        const QList<QByteArray> lines = r.err.split('\n');
        QCOMPARE(lines.size(), 2); // one line and its end
        QVERIFY2(lines[0].startsWith("corvane-scan: the inventory was not updated: "), r.err.constData());
        QCOMPARE(fileBytes(url.mid(7)), before);
    }

    // Each survey says the inventory was not updated, and the watch goes on until SIGTERM.
    void watchGoesOn()
    {
        QTemporaryDir dir;
        const QString url = makeFailingInventory(dir, QStringLiteral("not a database"));
        QProcess watch;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (auto it = m_env.cbegin(); it != m_env.cend(); ++it)
            env.insert(it.key(), it.value());
        watch.setProcessEnvironment(env);
        watch.start(kExe, {"watch", "--every", "1s", "--timeout", "100", "--db", url, "127.0.0.1"});
        QVERIFY(watch.waitForStarted(10000));
        QByteArray err;
        QElapsedTimer clock;
        clock.start();
        while (err.count('\n') < 2 && clock.elapsed() < 30000 && watch.state() == QProcess::Running) {
            watch.waitForReadyRead(500);
            err += watch.readAllStandardError();
        }
        QCOMPARE(watch.state(), QProcess::Running);
        ::kill(static_cast<pid_t>(watch.processId()), SIGTERM);
        QVERIFY(watch.waitForFinished(10000));
        err += watch.readAllStandardError();
        QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(watch.exitCode(), 0);
        QCOMPARE(watch.readAllStandardOutput(), QByteArray());
        const QList<QByteArray> lines = err.trimmed().split('\n');
        QVERIFY2(lines.size() >= 2, err.constData());
        for (const QByteArray& line : lines)
            QVERIFY2(line.startsWith("corvane-scan: the inventory was not updated: "), err.constData());
    }

    // SIGTERM while the survey waits for late answers: exit 0, no events, no sighting of it.
    void sigtermDuringSurvey()
    {
        if (!isRoot())
            QSKIP("the node-status peer binds port 137: needs root");
        NbResponder peer([](const NbResponder::Query& q) -> std::vector<NbResponder::Datagram> {
            const auto last = static_cast<std::uint8_t>(q.to & 0xFF);
            const QByteArray name = "PC-" + QByteArray::number(last);
            return std::vector<NbResponder::Datagram> {
                {node_status_answer(q.transactionId(), {{name, 0x00, 0x04}}, {0x00, 0x11, 0x22, 0x33, 0x44, last})}};
        });
        QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
        const QString file = m_home->filePath("data/corvane/inventory.sqlite");
        const QStringList range {"127.0.0.2-127.0.0.3"};
        const ProgramRun first = runProgram(kExe, QStringList {"watch", "--once", "--timeout", "300"} + range,
                                            ProgramOptions().env(m_env));
        QCOMPARE(first.code, 0);
        QCOMPARE(first.out.count("\"event\": \"new\""), 2);
        const qint64 sightings = sqlite_scalar(file, QStringLiteral("SELECT COUNT(*) FROM sightings")).toLongLong();
        QCOMPARE(sightings, 2);

        // Every loopback address answers the echo: 59 of them at 10 a second take 6 s.
        Program watch(kExe, {"watch", "--rate", "10", "--timeout", "300", "127.0.0.2-127.0.0.60"},
                      ProgramOptions().env(m_env));
        QVERIFY(watch.started());
        QTest::qWait(1500);
        ::kill(static_cast<pid_t>(watch.pid()), SIGTERM);
        const ProgramRun stopped = watch.finish(10000);
        QCOMPARE(stopped.code, 0);
        QCOMPARE(stopped.out, QByteArray());
        QCOMPARE(sqlite_scalar(file, QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
        QCOMPARE(sqlite_scalar(file, QStringLiteral("SELECT COUNT(*) FROM sightings")).toLongLong(), sightings);
        QCOMPARE(sqlite_scalar(file, QStringLiteral("SELECT SUM(times_seen) FROM devices")).toLongLong(), sightings);
    }

    // nbstat --db records each answering host with the MAC of its answer and its computer name.
    void nbstatRecords()
    {
        if (!isRoot())
            QSKIP("the node-status peer binds port 137: needs root");
        NbResponder peer([](const NbResponder::Query& q) -> std::vector<NbResponder::Datagram> {
            if ((q.to & 0xFF) != 5)
                return {};
            return {{node_status_answer(q.transactionId(), {{"PC-FIVE", 0x00, 0x04}, {"WG", 0x00, 0x84}},
                                        {0x00, 0x1B, 0x21, 0x00, 0x00, 0x05})}};
        });
        QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
        const QString url = QStringLiteral("sqlite:") + m_home->filePath("nb.sqlite");
        const ProgramRun scan
            = runProgram(kExe, {"nbstat", "--db", url, "127.0.0.4-127.0.0.6"}, ProgramOptions().env(m_env));
        QCOMPARE(scan.code, 0);
        QVERIFY2(scan.out.contains("PC-FIVE"), scan.out.constData());
        const ProgramRun list
            = runProgram(kExe, {"devices", "--db", url, "--format", "json"}, ProgramOptions().env(m_env));
        QCOMPARE(list.code, 0);
        const QJsonArray devices = QJsonDocument::fromJson(list.out).array();
        QCOMPARE(devices.size(), 1);
        QCOMPARE(devices[0]["mac"].toString(), QStringLiteral("00.1B.21.00.00.05"));
        QCOMPARE(devices[0]["address"].toString(), QStringLiteral("127.0.0.5"));
        QCOMPARE(devices[0]["name"].toString(), QStringLiteral("PC-FIVE"));
        QCOMPARE(devices[0]["names"][0]["source"].toString(), QStringLiteral("netbios"));
    }

    // Names are kept as any bytes: txt printable, csv guarded against formulas, json exact.
    void devicesNamesExact_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("name"); // as received, DNS
        QTest::addColumn<QByteArray>("shown"); // in the output
        QTest::newRow("txt, control bytes") << "txt" << QByteArray("evil\x1b[2Jhost") << QByteArray("evil?[2Jhost");
        QTest::newRow("csv, a formula") << "csv" << QByteArray("=cmd|' /C calc'!A0")
                                        << QByteArray(",'=cmd|' /C calc'!A0\r\n");
        QTest::newRow("json, control bytes") << "json" << QByteArray("a\"b\x01") << QByteArray("\"a\\\"b\\u0001\"");
        QTest::newRow("json, not UTF-8") << "json" << QByteArray("caf\xe9") << QByteArray("\"caf\xc3\xa9\"");
    }

    void devicesNamesExact()
    {
        QFETCH(QString, format);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, shown);
        const QString url = QStringLiteral("sqlite:") + m_home->filePath("inv.sqlite");
        {
            TInventory inventory;
            QCOMPARE(inventory.open(url), QString());
            corvane::discovery::TDevice d;
            d.address = *corvane::ipv4::parse_strict(QStringLiteral("10.0.0.7"));
            d.mac = corvane::TMacAddress {0x00, 0x1B, 0x21, 0x00, 0x00, 0x0D};
            d.names = {{name, corvane::discovery::name_source::dns}};
            d.evidence = corvane::discovery::EvidenceEcho;
            const corvane::inventory::TSurveyRecord survey {QDateTime(QDate(2026, 12, 9), QTime(10, 15, 2), Qt::UTC),
                                                            {{d.address, d.address}},
                                                            QStringLiteral("test"),
                                                            {d}};
            QVERIFY(inventory.record(survey).ok());
        }
        const ProgramRun r
            = runProgram(kExe, {"devices", "--db", url, "--format", format}, ProgramOptions().env(m_env));
        QCOMPARE(r.code, 0);
        QCOMPARE(r.err, QByteArray());
        QVERIFY2(r.out.contains(shown), r.out.constData());
        QVERIFY2(r.out.contains("2026-12-09T10:15:02Z"), r.out.constData());
        QVERIFY(r.out.contains("00.1B.21.00.00.0D"));
        if (format == QLatin1String("json")) {
            QJsonParseError e {};
            const QJsonArray a = QJsonDocument::fromJson(r.out, &e).array();
            QCOMPARE(e.error, QJsonParseError::NoError);
            QCOMPARE(a.size(), 1);
            QCOMPARE(a[0]["state"].toString(), QStringLiteral("present"));
            QCOMPARE(a[0]["times_seen"].toInt(), 1);
        }
    }

    // devices makes no file where none was recorded, and lists nothing.
    void devicesOfNoInventory()
    {
        const ProgramRun r = runProgram(kExe, {"devices", "--format", "json"}, ProgramOptions().env(m_env));
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QByteArray("[]\n"));
        QVERIFY(!QFileInfo::exists(m_home->filePath("data/corvane")));
    }

private:
    std::unique_ptr<QTemporaryDir> m_home;
    QMap<QString, QString> m_env;
};

int main(int argc, char* argv[])
{
    // The node-status peer and the scans in a loopback of this test's own.
    if (corvane::test::isRoot() && !corvane::test::enterPrivateLoopback())
        std::fprintf(stderr, "no private network namespace: using the machine's loopback\n");
    QCoreApplication app(argc, argv);
    TestScanInventory test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_scan_inventory.moc"
