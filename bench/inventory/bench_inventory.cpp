// The inventory at the size of years of watching: DEVICES devices, the PRESENT of them seen by every
// 5-minute survey for DAYS days, thinned (one sighting an hour beyond the last week). Prints the
// database's size, the time to record one survey of PRESENT devices with its events, and the time
// to list every device; on a SQLite file and on a PostgreSQL server of its own over 127.0.0.1.
//   bench_inventory [DEVICES [PRESENT [DAYS]]]     defaults: 10000 1000 365

#include "BenchStats.h"
#include "PgServer.h"
#include "inventory/Inventory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>

#include <cstdio>

using namespace corvane::inventory;

namespace {

constexpr qint64 kStart = 1'800'000'000; // an hour boundary

TSurveyRecord survey(int first, int count, qint64 when)
{
    TSurveyRecord s;
    s.time = QDateTime::fromSecsSinceEpoch(when, Qt::UTC);
    s.scanner = QStringLiteral("bench");
    s.ranges.push_back({{0x0A000000u}, {0x0A00FFFFu}});
    for (int i = first; i < first + count; ++i) {
        corvane::discovery::TDevice d;
        d.address = {0x0A000000u + static_cast<std::uint32_t>(i + 1)};
        d.mac = corvane::TMacAddress {
            0x00, 0x1B, 0x21, 0x01, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
        d.vendor = QStringLiteral("Intel Corporate");
        d.names.push_back({QByteArray("host-") + QByteArray::number(i), corvane::discovery::name_source::dns});
        s.devices.push_back(d);
    }
    return s;
}

bool exec(QSqlDatabase& db, const QString& sql)
{
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    std::fprintf(stderr, "%s: %s\n", qPrintable(sql.left(60)), qPrintable(q.lastError().text()));
    return false;
}

// One run on the inventory at url; db is a plain connection to the same database for the bulk history.
bool bench(const char* label, const QString& url, QSqlDatabase db, int devices, int present, int days,
           const std::function<qint64()>& size)
{
    TInventory inventory;
    if (const QString why = inventory.open(url); !why.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return false;
    }
    const qint64 end = kStart + qint64(days) * 86400;
    // Every device once, at the start.
    if (!inventory.record(survey(0, devices, kStart)).ok())
        return false;
    QElapsedTimer fill;
    fill.start();
    // The history as thinning leaves it: hourly until the last week, then every 5 minutes.
    const qint64 week = end - 7 * 86400;
    const QString history = QStringLiteral(
        "WITH RECURSIVE h(t) AS (SELECT %1 UNION ALL SELECT t + %2 FROM h WHERE t + %2 < %3)"
        " INSERT INTO sightings (survey_id, device_id, address, time) SELECT 1, d.id, d.last_address, h.t"
        " FROM h, devices d WHERE d.id <= %4");
    if (!exec(db, QStringLiteral("BEGIN")) || !exec(db, history.arg(kStart + 3600).arg(3600).arg(week).arg(present))
        || !exec(db, history.arg(week).arg(300).arg(end).arg(present)) || !exec(db, QStringLiteral("COMMIT")))
        return false;
    exec(db, QStringLiteral("UPDATE corvane_inventory SET thinned_until = %1").arg(week / 3600 * 3600));
    const double fillS = fill.elapsed() / 1000.0;
    const qint64 sightings = inventory.sightingCount();

    std::vector<double> recordMs, listMs;
    std::size_t events = 0;
    for (int run = 0; run < 5; ++run) {
        // The same PRESENT devices, the first five of them at a new address, plus five new ones.
        TSurveyRecord s = survey(0, present, end + 300 * run);
        for (int i = 0; i < 5; ++i)
            s.devices[i].address.value += 0x100;
        const TSurveyRecord extra = survey(devices + 5 * run, 5, 0);
        s.devices.insert(s.devices.end(), extra.devices.begin(), extra.devices.end());
        QElapsedTimer t;
        t.start();
        const TRecordResult r = inventory.record(s);
        recordMs.push_back(t.nsecsElapsed() / 1e6);
        if (!r.ok()) {
            std::fprintf(stderr, "%s\n", qPrintable(r.error));
            return false;
        }
        events += r.events.size();
        t.restart();
        const auto all = inventory.devices();
        listMs.push_back(t.nsecsElapsed() / 1e6);
        if (!all)
            return false;
    }
    std::printf("%-10s devices %d, present %d, days %d: %lld sightings (history filled in %.1f s), size %.1f MiB\n",
                label, devices, present, days, static_cast<long long>(sightings), fillS, size() / 1048576.0);
    std::printf(
        "%-10s record one survey of %d devices: median %.1f ms (%zu events in 5 runs); list all: median %.1f ms\n",
        label, present + 5, corvane::bench::median(recordMs), events, corvane::bench::median(listMs));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int devices = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int present = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int days = argc > 3 ? std::atoi(argv[3]) : 365;
    int failed = 0;
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("inventory.sqlite"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bulk"));
            db.setDatabaseName(path);
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=60000"));
            db.open();
            auto size = [&] {
                exec(db, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
                return QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
            };
            failed += !bench("SQLite", QStringLiteral("sqlite:") + path, db, devices, present, days, size);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("bulk"));
    }
    if (corvane::test::PgServer::binDir().isEmpty()) {
        std::puts("PostgreSQL: skipped (no initdb and pg_ctl; Debian: postgresql)");
        return failed;
    }
    QTcpServer probe; // a free loopback port for the server
    probe.listen(QHostAddress::LocalHost);
    const int port = probe.serverPort();
    probe.close();
    corvane::test::PgServer server(port);
    if (const QString why = server.start(); !why.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    {
        const auto where = parse_db_url(server.url());
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("bulk"));
        db.setHostName(where->host);
        db.setPort(where->port);
        db.setUserName(where->user);
        db.setDatabaseName(where->database);
        db.open();
        auto size = [&] {
            QSqlQuery q(db);
            return q.exec(QStringLiteral("SELECT pg_database_size(current_database())")) && q.next()
                ? q.value(0).toLongLong()
                : qint64(-1);
        };
        failed += !bench("PostgreSQL", server.url(), db, devices, present, days, size);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bulk"));
    return failed;
}
