// The inventory at the size of a year of watching: DEVICES devices, all seen by the first 5-minute
// survey and the PRESENT of them by every survey after it for DAYS days, thinned (one sighting per
// device per hour beyond the last week, the store's default). Prints the database's size, the time
// to record one survey of PRESENT devices with its events (some new, moved, renamed, gone, back),
// the time to list every device and to thin; on a SQLite file and on a PostgreSQL server of its own
// over its Unix socket and over 127.0.0.1.
//   bench_inventory [--quick] [DEVICES [PRESENT [DAYS]]]     defaults: 10000 1000 365 (--quick: 30)
//
// A year of surveys through record() would take hours, so the first three surveys (the new devices,
// then the absent ones gone) go through record() and the rest are written in bulk exactly as
// record() and thin() would have left them. That claim is checked first: a small inventory built
// both ways must be identical table for table; the big one is checked through devices() and
// sightingCount().

#include "BenchStats.h"
#include "PgServer.h"
#include "inventory/Inventory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTcpServer>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <map>

using namespace corvane::inventory;

namespace {

constexpr qint64 kStart = 1'800'000'000; // an hour boundary
constexpr qint64 kEvery = 300;
constexpr int kRuns = 5;

// Devices first..first+count-1: 10.0.x.y, MAC 00.1B.21.01.x.y, name host-N.
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

QString load_average()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(u' ', 0, 2) : QStringLiteral("?");
}

bool exec(QSqlDatabase& db, const QString& sql)
{
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    std::fprintf(stderr, "%s: %s\n", qPrintable(sql.left(80)), qPrintable(q.lastError().text()));
    return false;
}

struct THistory
{
    int devices = 0, present = 0;
    qint64 surveys = 0; // 5-minute surveys, the first at kStart
    qint64 last() const { return kStart + (surveys - 1) * kEvery; }
    // Where thinning stands after the last survey (the store's defaults: a week, an hour).
    qint64 cutoff() const { return (last() - 7 * 86400) / 3600 * 3600; }
    bool kept(qint64 i) const { return i % 12 == 0 || kStart + i * kEvery >= cutoff(); }
    qint64 sightings() const
    {
        qint64 n = devices;
        for (qint64 i = 1; i < surveys; ++i)
            n += kept(i) ? present : 0;
        return n;
    }
};

// Surveys 0-2 through record() (every device new, then the absent ones gone); surveys 3.. in bulk
// through db, a plain connection to the same database, as record() and thin() leave them: a survey
// row each, the kept sightings with the ids record() gives them, the present devices' counters.
bool bulk_history(TInventory& inventory, QSqlDatabase& db, bool postgres, const THistory& h)
{
    for (int i = 0; i < 3; ++i)
        if (const TRecordResult r = inventory.record(survey(0, i == 0 ? h.devices : h.present, kStart + i * kEvery));
            !r.ok()) {
            std::fprintf(stderr, "%s\n", qPrintable(r.error));
            return false;
        }
    const QString series
        = QStringLiteral("WITH RECURSIVE s(i) AS (SELECT 3 UNION ALL SELECT i + 1 FROM s WHERE i + 1 < %1) ")
              .arg(h.surveys);
    const QString t = QStringLiteral("(%1 + %2 * s.i)").arg(kStart).arg(kEvery);
    const QStringList steps = {
        series
            + QStringLiteral("INSERT INTO surveys (id, time, scanner, ranges, devices) SELECT s.i + 1, %1, 'bench',"
                             " '10.0.0.0-10.0.255.255', %2 FROM s")
                  .arg(t)
                  .arg(h.present),
        series
            + QStringLiteral(
                  "INSERT INTO sightings (id, survey_id, device_id, address, time) SELECT %1 + (s.i - 1) * %2"
                  " + d.id, s.i + 1, d.id, d.last_address, %3 FROM s, devices d WHERE d.id <= %2 AND"
                  " (s.i % 12 = 0 OR %3 >= %4)")
                  .arg(h.devices)
                  .arg(h.present)
                  .arg(t)
                  .arg(h.cutoff()),
        // Surveys 1 and 2 fall in the first hour, which thinning keeps one sighting of.
        QStringLiteral("DELETE FROM sightings WHERE survey_id IN (2, 3) AND time < %1").arg(h.cutoff()),
        QStringLiteral("UPDATE devices SET last_seen = %1, times_seen = %2, last_survey = %2 WHERE id <= %3")
            .arg(h.last())
            .arg(h.surveys)
            .arg(h.present),
        QStringLiteral("UPDATE addresses SET last_seen = %1 WHERE device_id <= %2").arg(h.last()).arg(h.present),
        QStringLiteral("UPDATE names SET last_seen = %1 WHERE device_id <= %2").arg(h.last()).arg(h.present),
        QStringLiteral("UPDATE corvane_inventory SET thinned_until = %1").arg(h.cutoff()),
    };
    if (!exec(db, QStringLiteral("BEGIN")))
        return false;
    for (const QString& step : steps)
        if (!exec(db, step))
            return false;
    if (postgres)
        for (const char* table : {"surveys", "sightings"})
            if (!exec(db,
                      QStringLiteral("SELECT setval(pg_get_serial_sequence('%1', 'id'), (SELECT MAX(id) FROM %1))")
                          .arg(QLatin1String(table))))
                return false;
    return exec(db, QStringLiteral("COMMIT"));
}

// The big history as the store reads it: every device, its counts, the sightings left.
bool check_history(TInventory& inventory, const THistory& h)
{
    const auto all = inventory.devices();
    if (!all)
        return false;
    qint64 seen = 0, gone = 0;
    for (const TInventoryDevice& d : *all) {
        seen += d.timesSeen;
        gone += d.gone;
    }
    const qint64 sightings = inventory.sightingCount();
    const bool ok = qint64(all->size()) == h.devices && seen == h.present * h.surveys + (h.devices - h.present)
        && gone == h.devices - h.present && sightings == h.sightings();
    std::printf("  history checked through the store: %zu devices (%lld gone), %lld times seen, %lld sightings: %s\n",
                all->size(), static_cast<long long>(gone), static_cast<long long>(seen),
                static_cast<long long>(sightings), ok ? "as expected" : "NOT AS EXPECTED");
    return ok;
}

// Every row of every table, for comparing two SQLite files.
QStringList dump(const QString& path)
{
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dump"));
        db.setDatabaseName(path);
        if (db.open())
            for (const char* table :
                 {"corvane_inventory", "surveys", "devices", "addresses", "names", "sightings", "events"}) {
                QSqlQuery q(db);
                if (!q.exec(QStringLiteral("SELECT * FROM %1 ORDER BY 1, 2").arg(QLatin1String(table))))
                    rows << QStringLiteral("error ") + q.lastError().text();
                while (q.next()) {
                    QString row = QLatin1String(table);
                    for (int c = 0; c < q.record().count(); ++c)
                        row += u'|' + q.value(c).toString();
                    rows << row;
                }
            }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("dump"));
    return rows;
}

// A small inventory, 8 days of surveys through record() and in bulk: the two must be identical.
bool check_bulk_is_exact()
{
    QTemporaryDir dir;
    const THistory h {40, 8, 8 * 288};
    const QString byRecord = dir.filePath(QStringLiteral("record.sqlite"));
    {
        TInventory inventory;
        if (!inventory.open(QStringLiteral("sqlite:") + byRecord).isEmpty())
            return false;
        for (qint64 i = 0; i < h.surveys; ++i)
            if (!inventory.record(survey(0, i == 0 ? h.devices : h.present, kStart + i * kEvery)).ok())
                return false;
    }
    const QString byBulk = dir.filePath(QStringLiteral("bulk.sqlite"));
    {
        TInventory inventory;
        if (!inventory.open(QStringLiteral("sqlite:") + byBulk).isEmpty())
            return false;
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("small"));
        db.setDatabaseName(byBulk);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=60000"));
        const bool ok = db.open() && bulk_history(inventory, db, false, h);
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("small"));
        if (!ok)
            return false;
    }
    const QStringList a = dump(byRecord), b = dump(byBulk);
    std::printf("bulk history against record() on %d devices, %lld surveys: %s (%lld rows in 7 tables)\n", h.devices,
                static_cast<long long>(h.surveys), a == b ? "identical" : "DIFFERENT",
                static_cast<long long>(a.size()));
    return a == b && !a.isEmpty();
}

// The timed surveys: run k omits 10 devices (each missed twice: gone, then back), moves 5, renames
// 5, and brings 10 new ones.
TSurveyRecord timed_survey(const THistory& h, int k)
{
    TSurveyRecord s = survey(0, h.present, h.last() + k * kEvery);
    for (int i = 0; i < 5; ++i) {
        s.devices[static_cast<std::size_t>(500 % h.present + (5 * k + i) % 100)].address.value += 0x100;
        s.devices[static_cast<std::size_t>(700 % h.present + (5 * k + i) % 100)].names[0].name
            = QByteArray("renamed-") + QByteArray::number(k);
    }
    const auto omitted = s.devices.begin() + (5 * k) % 400;
    s.devices.erase(omitted, omitted + 10);
    const TSurveyRecord extra = survey(h.devices + 10 * k, 10, 0);
    s.devices.insert(s.devices.end(), extra.devices.begin(), extra.devices.end());
    return s;
}

// kRuns surveys recorded on url: the median time and the events they made.
bool time_records(const char* label, const QString& url, const THistory& h, int& k)
{
    TInventory inventory;
    if (const QString why = inventory.open(url); !why.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return false;
    }
    std::vector<double> ms;
    std::map<QString, int> events;
    std::size_t size = 0;
    for (int run = 0; run < kRuns; ++run) {
        const TSurveyRecord s = timed_survey(h, ++k);
        size = s.devices.size();
        QElapsedTimer t;
        t.start();
        const TRecordResult r = inventory.record(s);
        ms.push_back(t.nsecsElapsed() / 1e6);
        if (!r.ok()) {
            std::fprintf(stderr, "%s\n", qPrintable(r.error));
            return false;
        }
        for (const TEvent& e : r.events)
            ++events[QString::fromLatin1(event_word(e.kind))];
    }
    QString made;
    for (const auto& [word, n] : events)
        made += QStringLiteral("%1%2 %3").arg(made.isEmpty() ? QString() : QStringLiteral(", ")).arg(n).arg(word);
    std::printf("  record one survey of %zu devices (%s): median %.1f ms of %d (load %s); events: %s\n", size, label,
                corvane::bench::median(ms), kRuns, qPrintable(load_average()), qPrintable(made));
    return true;
}

// One inventory: the history, its size, the timed surveys on each url, listing and thinning.
bool bench(const char* label, const QStringList& urls, const QStringList& labels, QSqlDatabase db, bool postgres,
           const THistory& h, const std::function<qint64()>& size)
{
    std::printf("%s: %d devices, %d of them in every 5-minute survey for %lld days (%lld surveys)\n", label, h.devices,
                h.present, static_cast<long long>(h.surveys / 288), static_cast<long long>(h.surveys));
    TInventory inventory;
    if (const QString why = inventory.open(urls.front()); !why.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return false;
    }
    QElapsedTimer fill;
    fill.start();
    if (!bulk_history(inventory, db, postgres, h))
        return false;
    std::printf("  history: surveys 1-3 through record(), the rest in bulk as record() and thin() leave them,"
                " in %.1f s\n",
                fill.elapsed() / 1000.0);
    if (!check_history(inventory, h))
        return false;
    std::printf("  size: %.1f MiB\n", size() / 1048576.0);

    int k = 0;
    for (int i = 0; i < urls.size(); ++i)
        if (!time_records(qPrintable(labels[i]), urls[i], h, k))
            return false;

    std::vector<double> listMs;
    std::size_t listed = 0;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer t;
        t.start();
        const auto all = inventory.devices();
        listMs.push_back(t.nsecsElapsed() / 1e6);
        if (!all)
            return false;
        listed = all->size();
    }
    std::printf("  list all %zu devices (devices()): median %.1f ms of %d\n", listed, corvane::bench::median(listMs),
                kRuns);

    // thin() once the clock passes one more hour beyond the week: that hour's sightings become one.
    const qint64 before = inventory.sightingCount();
    QElapsedTimer t;
    t.start();
    const QString why = inventory.thin(QDateTime::fromSecsSinceEpoch(h.last() + (k + 12) * kEvery, Qt::UTC));
    const double thinMs = t.nsecsElapsed() / 1e6;
    if (!why.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return false;
    }
    std::printf("  thin() one more hour: %.1f ms (%lld sightings removed)\n", thinMs,
                static_cast<long long>(before - inventory.sightingCount()));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool quick = args.removeAll(QStringLiteral("--quick")) > 0;
    THistory h;
    h.devices = args.size() > 0 ? args[0].toInt() : 10000;
    h.present = args.size() > 1 ? args[1].toInt() : 1000;
    const int days = args.size() > 2 ? args[2].toInt() : quick ? 30 : 365;
    h.surveys = qint64(days) * 288;
    if (h.present < 500 || h.devices < h.present || days < 8) {
        std::fprintf(stderr,
                     "usage: bench_inventory [--quick] [DEVICES [PRESENT [DAYS]]] (PRESENT >= 500,"
                     " DEVICES >= PRESENT, DAYS >= 8)\n");
        return 2;
    }
    std::printf("load average at the start: %s\n", qPrintable(load_average()));
    int failed = !check_bulk_is_exact();
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
            failed += !bench("SQLite", {QStringLiteral("sqlite:") + path}, {QStringLiteral("SQLite file")}, db, false,
                             h, size);
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
        failed += !bench("PostgreSQL (fsync off)", {server.socketUrl(), server.url()},
                         {QStringLiteral("Unix socket"), QStringLiteral("TCP 127.0.0.1")}, db, true, h, size);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bulk"));
    std::printf("load average at the end: %s\n", qPrintable(load_average()));
    return failed;
}
