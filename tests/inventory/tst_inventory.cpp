// The inventory on SQLite files: the event rules, names kept exactly, thinning, refusals that leave
// a file as it was, a lock held past the timeout, a writer killed mid-write and two writers at once.

#include "InventoryCases.h"
#include "ProgramRun.h"
#include "SqliteCheck.h"
#include "TestSupport.h"
#include "discovery/DeviceRows.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <pwd.h>

using namespace corvane::test;
using namespace corvane::inventory;

namespace {

QByteArray digest(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256)
                                       : QByteArray();
}

} // namespace

class TestInventory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void event_rules_data() { corvane::test::event_rules_data(); }
    void event_rules()
    {
        QTemporaryDir dir;
        check_event_rules(QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("inv.sqlite")));
    }

    void big_surveys_data() { corvane::test::big_surveys_data(); }
    void big_surveys()
    {
        QTemporaryDir dir;
        check_big_surveys(QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("inv.sqlite")));
    }

    void names_exact_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("zero and high bytes") << QByteArray("a\0b\xff\xfe", 5);
        QTest::newRow("quote and SQL") << QByteArray("x'); DROP TABLE devices; --");
        QTest::newRow("UTF-8") << QByteArray("caf\xc3\xa9.local");
        QTest::newRow("255 bytes") << QByteArray(255, '\x80');
        QTest::newRow("quote and colon") << QByteArray("a\":\"b\": c");
    }
    void names_exact()
    {
        QFETCH(QByteArray, name);
        QTemporaryDir dir;
        const QString url = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("inv.sqlite"));
        TSurveyRecord s = parse_survey(QStringLiteral("10.0.0.1-10.0.0.9; 10.0.0.2 00.1B.21.00.00.01"), 1'800'000'000);
        s.devices[0].names.push_back({name, corvane::discovery::name_source::llmnr});
        {
            TInventory inventory;
            QCOMPARE(inventory.open(url), QString());
            const TRecordResult r = inventory.record(s);
            QVERIFY2(r.ok(), qPrintable(r.error));
            QCOMPARE(r.events.size(), std::size_t(1));
            QCOMPARE(r.events[0].name.name, name);
            // The watch's line carries the name as the lists show it, nothing added.
            const QJsonObject line = QJsonDocument::fromJson(event_json(r.events[0])).object();
            QCOMPARE(line.value(QStringLiteral("name")).toString(),
                     corvane::discovery::found_name_text(r.events[0].name));
        }
        TInventory again;
        QCOMPARE(again.open(url), QString());
        const auto devices = again.devices();
        QVERIFY(devices && devices->size() == 1);
        QCOMPARE(devices->front().name.name, name);
        QCOMPARE(devices->front().names.size(), std::size_t(1));
        QCOMPARE(devices->front().names[0].name, name);
    }

    // One device every 5 minutes for 3 days, kept whole for a day, then one an hour.
    void thinning_data()
    {
        QTest::addColumn<int>("spacing");
        QTest::addColumn<qint64>("kept");
        // 864 sightings; the 564 before the cutoff (47 whole hours before the last day) become 47.
        QTest::newRow("hourly after a day") << 3600 << qint64(47 + 300);
        QTest::newRow("never thinned") << 0 << qint64(864);
    }
    void thinning()
    {
        QFETCH(int, spacing);
        QFETCH(qint64, kept);
        QTemporaryDir dir;
        TInventoryOptions options;
        options.thinAfterDays = 1;
        options.thinSpacingSecs = spacing;
        TInventory inventory(options);
        QCOMPARE(inventory.open(QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("inv.sqlite"))), QString());
        for (int i = 0; i < 864; ++i) {
            const TRecordResult r = inventory.record(parse_survey(
                QStringLiteral("10.0.0.1-10.0.0.9; 10.0.0.2 00.1B.21.00.00.01 pc"), 1'800'000'000 + 300 * i));
            QVERIFY2(r.ok(), qPrintable(r.error));
        }
        QCOMPARE(inventory.sightingCount(), kept);
        const auto devices = inventory.devices();
        QVERIFY(devices && devices->size() == 1);
        QCOMPARE(devices->front().timesSeen, qint64(864));
    }

    // Each file is refused with its reason and left byte for byte as it was.
    void refused_unchanged_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("asNobody");
        QTest::addColumn<QString>("reason");
        QTest::newRow("another program's database")
            << "CREATE TABLE people (name TEXT)" << false << "not a Corvane inventory";
        QTest::newRow("newer schema") << "CREATE TABLE corvane_inventory (version INTEGER, thinned_until BIGINT);"
                                         "INSERT INTO corvane_inventory VALUES (99, 0)"
                                      << false << "newer Corvane";
        QTest::newRow("not a database") << "garbage" << false << "not a database";
        QTest::newRow("read-only") << "" << true << "read-only";
    }
    void refused_unchanged()
    {
        QFETCH(QString, setup);
        QFETCH(bool, asNobody);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("inv.sqlite"));
        if (setup == QLatin1String("garbage")) {
            QVERIFY(!writeFile(dir, QStringLiteral("inv.sqlite"), QByteArray(4096, 'x')).isEmpty());
        } else if (setup.isEmpty()) {
            TInventory made; // a good inventory, which nobody may read but not write
            QCOMPARE(made.open(QStringLiteral("sqlite:") + path), QString());
        } else {
            for (const QString& statement : setup.split(u';'))
                QVERIFY(!sqlite_scalar(path, statement).isValid()); // runs it; none gives a row
        }
        const QByteArray before = digest(path);
        QVERIFY(!before.isEmpty());
        ProgramRun r;
        if (asNobody) {
            if (!isRoot())
                QSKIP("needs root to run the writer as another user");
            QVERIFY(QFile::setPermissions(dir.path(),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                              | QFile::ExeOther));
            r = runProgram(QStringLiteral("setpriv"),
                           {"--reuid=65534", "--regid=65534", "--clear-groups", CORVANE_INVENTORY_WRITER, "open",
                            "sqlite:" + path});
        } else {
            r = runProgram(CORVANE_INVENTORY_WRITER, {"open", "sqlite:" + path});
        }
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(reason.toUtf8()), r.err.constData());
        QCOMPARE(digest(path), before);
        QVERIFY(!QFile::exists(path + QStringLiteral("-wal")));
    }

    // A lock held longer than the timeout: the survey is not recorded and says why; the next one is.
    void locked_past_timeout()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("inv.sqlite"));
        TInventoryOptions options;
        options.busyTimeoutMs = 200;
        TInventory inventory(options);
        QCOMPARE(inventory.open(QStringLiteral("sqlite:") + path), QString());
        const QString survey = QStringLiteral("10.0.0.1-10.0.0.9; 10.0.0.2 00.1B.21.00.00.01 pc");
        {
            QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
            other.setDatabaseName(path);
            QVERIFY(other.open());
            QSqlQuery hold(other);
            QVERIFY(hold.exec(QStringLiteral("BEGIN IMMEDIATE")));
            const TRecordResult r = inventory.record(parse_survey(survey, 1'800'000'000));
            QVERIFY(!r.ok());
            QVERIFY2(r.error.contains(QLatin1String("locked")), qPrintable(r.error));
            QVERIFY(hold.exec(QStringLiteral("ROLLBACK")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
        const TRecordResult r = inventory.record(parse_survey(survey, 1'800'000'300));
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.events.size(), std::size_t(1)); // still new: the first attempt left nothing
        QCOMPARE(sqlite_scalar(path, QStringLiteral("SELECT COUNT(*) FROM surveys")).toInt(), 1);
    }

    // Killed at some moment of a run of 2,000-device surveys: the file checks and holds whole surveys.
    void killed_writer_data()
    {
        QTest::addColumn<int>("afterMs");
        QTest::newRow("first survey") << 0;
        QTest::newRow("a moment in") << 150;
        QTest::newRow("later") << 700;
    }
    void killed_writer()
    {
        QFETCH(int, afterMs);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("inv.sqlite"));
        {
            Program writer(CORVANE_INVENTORY_WRITER, {"loop", "sqlite:" + path, "2000"});
            QVERIFY(writer.started());
            if (afterMs > 0)
                QVERIFY(writer.waitForOutput("recorded", 20000));
            QTest::qWait(afterMs);
            ::kill(static_cast<pid_t>(writer.pid()), SIGKILL);
            writer.finish(5000);
        }
        QCOMPARE(sqlite_scalar(path, QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
        // No half survey: every recorded survey has all its sightings, and nothing else is there.
        QCOMPARE(sqlite_scalar(path, QStringLiteral("SELECT COUNT(*) FROM sightings")).toLongLong(),
                 sqlite_scalar(path, QStringLiteral("SELECT COALESCE(SUM(devices), 0) FROM surveys")).toLongLong());
        QCOMPARE(sqlite_scalar(path, QStringLiteral("SELECT COALESCE(SUM(times_seen), 0) FROM devices")).toLongLong(),
                 sqlite_scalar(path, QStringLiteral("SELECT COUNT(*) FROM sightings")).toLongLong());
        TInventory inventory;
        QCOMPARE(inventory.open(QStringLiteral("sqlite:") + path), QString());
        QVERIFY(inventory.record(parse_survey(QStringLiteral("10.0.0.1-10.0.0.9;"), 1'900'000'000)).ok());
    }

    // Two processes recording 10 surveys each of the same 300 devices into one file at once.
    void two_writers()
    {
        QTemporaryDir dir;
        const QString url = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("inv.sqlite"));
        Program a(CORVANE_INVENTORY_WRITER, {"record", url, "a", "10", "300"});
        Program b(CORVANE_INVENTORY_WRITER, {"record", url, "b", "10", "300"});
        const ProgramRun ra = a.finish(120000), rb = b.finish(120000);
        QVERIFY2(ra.code == 0, ra.err.constData());
        QVERIFY2(rb.code == 0, rb.err.constData());
        const QString path = dir.filePath(QStringLiteral("inv.sqlite"));
        QCOMPARE(sqlite_scalar(path, QStringLiteral("SELECT COUNT(*) FROM surveys")).toInt(), 20);
        QCOMPARE(sqlite_scalar(path, QStringLiteral("SELECT COUNT(*) FROM devices")).toInt(), 300);
        QCOMPARE(sqlite_scalar(path, QStringLiteral("SELECT SUM(times_seen) FROM devices")).toInt(), 6000);
        QCOMPARE(sqlite_scalar(path, QStringLiteral("SELECT COUNT(*) FROM events WHERE kind = 'new'")).toInt(), 300);
    }
};

QTEST_GUILESS_MAIN(TestInventory)
#include "tst_inventory.moc"
