#include "inventory/Inventory.h"

#include "discovery/DeviceRows.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <deque>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include <unistd.h>

namespace corvane::inventory {

using corvane::discovery::found_name;
using corvane::discovery::name_source;
using corvane::discovery::TDevice;
using corvane::ipv4::THostAddr;

namespace {

constexpr int kSchemaVersion = 1;
constexpr int kRetries = 5;

// Each step takes the schema from version i to i + 1; the first makes the first release's tables.
// {ID} and {BLOB} are the two words SQLite and PostgreSQL spell differently.
const std::vector<std::vector<const char*>>& migrations()
{
    static const std::vector<std::vector<const char*>> steps = {{
        "CREATE TABLE corvane_inventory (version INTEGER NOT NULL, thinned_until BIGINT NOT NULL)",
        "INSERT INTO corvane_inventory (version, thinned_until) VALUES (0, 0)",
        "CREATE TABLE devices (id {ID}, key TEXT NOT NULL UNIQUE, mac TEXT, vendor TEXT, last_address BIGINT NOT NULL,"
        " name {BLOB}, name_source INTEGER NOT NULL, first_seen BIGINT NOT NULL, last_seen BIGINT NOT NULL,"
        " times_seen BIGINT NOT NULL, missed INTEGER NOT NULL, gone INTEGER NOT NULL, last_survey BIGINT NOT NULL)",
        "CREATE INDEX devices_address ON devices (last_address)",
        "CREATE TABLE addresses (device_id BIGINT NOT NULL, address BIGINT NOT NULL, first_seen BIGINT NOT NULL,"
        " last_seen BIGINT NOT NULL, PRIMARY KEY (device_id, address))",
        "CREATE TABLE names (device_id BIGINT NOT NULL, name {BLOB} NOT NULL, source INTEGER NOT NULL,"
        " first_seen BIGINT NOT NULL, last_seen BIGINT NOT NULL, PRIMARY KEY (device_id, name, source))",
        "CREATE INDEX names_name ON names (name)",
        "CREATE TABLE surveys (id {ID}, time BIGINT NOT NULL, scanner TEXT, ranges TEXT NOT NULL,"
        " devices INTEGER NOT NULL)",
        "CREATE TABLE sightings (id {ID}, survey_id BIGINT NOT NULL, device_id BIGINT NOT NULL,"
        " address BIGINT NOT NULL, time BIGINT NOT NULL)",
        "CREATE INDEX sightings_time ON sightings (time)",
        "CREATE TABLE events (id {ID}, survey_id BIGINT NOT NULL, device_id BIGINT NOT NULL, time BIGINT NOT NULL,"
        " kind TEXT NOT NULL, mac TEXT, address BIGINT NOT NULL, name {BLOB}, name_source INTEGER NOT NULL,"
        " vendor TEXT, previous TEXT, site TEXT)",
    }};
    return steps;
}

QString key_of(const TDevice& device)
{
    return device.mac ? QStringLiteral("mac:") + mac_address_text(*device.mac)
                      : QStringLiteral("ip:") + corvane::ipv4::dotted(device.address);
}

std::optional<TMacAddress> mac_from_text(const QString& text)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() != 6)
        return std::nullopt;
    TMacAddress mac {};
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        mac[i] = static_cast<std::uint8_t>(parts[i].toUInt(&ok, 16));
        if (!ok)
            return std::nullopt;
    }
    return mac;
}

QVariant text_or_null(const std::optional<TMacAddress>& mac)
{
    return mac ? QVariant(mac_address_text(*mac)) : QVariant(QMetaType::fromType<QString>());
}

QString reason(const QSqlError& error)
{
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

// Another writer got in the way: worth running the transaction again.
bool contended(const QSqlError& error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6") || code == QLatin1String("40001")
        || code == QLatin1String("40P01") || code == QLatin1String("23505");
}

struct TKnown
{
    qint64 id = 0; // 0 until a new device is written
    QString key;
    std::optional<TMacAddress> mac;
    QString vendor;
    THostAddr lastAddress;
    found_name name;
    bool gone = false;
    bool seen = false;
    bool fresh = false; // new in this survey
};

// A failed statement, thrown so that a transaction unwinds at once.
struct TFailure
{
    QSqlError error;
};

// Prepared statements kept per connection, so a survey of many devices prepares each once.
using TStatements = std::unordered_map<QString, QSqlQuery>;
thread_local TStatements* t_statements = nullptr;

// The rows of a statement run: its own query, or a cached one until that runs again.
class TRows
{
public:
    explicit TRows(QSqlQuery&& own)
        : m_own(std::move(own))
    { }
    explicit TRows(QSqlQuery* cached)
        : m_cached(cached)
    { }
    bool next() { return query().next(); }
    QVariant value(int i) { return query().value(i); }
    QSqlError lastError() { return query().lastError(); }

private:
    QSqlQuery& query() { return m_cached ? *m_cached : *m_own; }
    std::optional<QSqlQuery> m_own;
    QSqlQuery* m_cached = nullptr;
};

// Runs one statement with its values bound; one without values unprepared, as PostgreSQL takes
// BEGIN, LOCK and DDL only so. A statement of a shape seen once is not kept prepared (cache false).
TRows run(const QSqlDatabase& db, const QString& sql, const QVariantList& values = {}, bool cache = true)
{
    if (values.isEmpty()) {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!q.exec(sql))
            throw TFailure {q.lastError()};
        return TRows(std::move(q));
    }
    QSqlQuery fresh(db);
    QSqlQuery* q = &fresh;
    if (t_statements && cache) {
        auto it = t_statements->find(sql);
        if (it == t_statements->end()) {
            it = t_statements->emplace(sql, QSqlQuery(db)).first;
            it->second.setForwardOnly(true);
            if (!it->second.prepare(sql)) {
                const QSqlError error = it->second.lastError();
                t_statements->erase(it);
                throw TFailure {error};
            }
        }
        q = &it->second;
    } else {
        q->setForwardOnly(true);
        if (!q->prepare(sql))
            throw TFailure {q->lastError()};
    }
    for (int i = 0; i < values.size(); ++i)
        q->bindValue(i, values[i]);
    if (!q->exec())
        throw TFailure {q->lastError()};
    return q == &fresh ? TRows(std::move(fresh)) : TRows(q);
}

// SQLite commits only when no statement is left mid-way through its rows.
void finish_statements()
{
    if (t_statements)
        for (auto& entry : *t_statements)
            entry.second.finish();
}

// Lends a connection's statement cache to run() for one transaction.
struct TUseStatements
{
    explicit TUseStatements(TStatements& s) { t_statements = &s; }
    ~TUseStatements() { t_statements = nullptr; }
};

} // namespace

struct TInventory::TState
{
    TInventoryOptions options;
    QString connection = QStringLiteral("corvane-inventory-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QString url;
    TDbUrl where;
    bool open = false;
    bool postgres = false;
    TStatements statements;

    QSqlDatabase db() const { return QSqlDatabase::database(connection, false); }
    QString ddl(const char* statement) const
    {
        QString s = QString::fromLatin1(statement);
        s.replace(QLatin1String("{ID}"),
                  postgres ? QLatin1String("BIGSERIAL PRIMARY KEY") : QLatin1String("INTEGER PRIMARY KEY"));
        s.replace(QLatin1String("{BLOB}"), postgres ? QLatin1String("BYTEA") : QLatin1String("BLOB"));
        return s;
    }
    QString connect();
    QString checkSchema();
    void close()
    {
        statements.clear();
        {
            QSqlDatabase d = db();
            if (d.isValid())
                d.close();
        }
        QSqlDatabase::removeDatabase(connection);
        open = false;
    }
};

QString default_url()
{
    return QStringLiteral("sqlite:") + QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/corvane/inventory.sqlite");
}

std::optional<TDbUrl> parse_db_url(const QString& url, QString* why)
{
    auto fail = [why](const QString& text) -> std::optional<TDbUrl> {
        if (why)
            *why = text;
        return std::nullopt;
    };
    TDbUrl out;
    if (url.startsWith(QLatin1String("sqlite:"))) {
        out.path = url.mid(7);
        if (out.path.isEmpty())
            return fail(QStringLiteral("sqlite: needs a file path"));
        return out;
    }
    QString rest;
    for (const char* scheme : {"postgresql://", "postgres://"}) {
        if (url.startsWith(QLatin1String(scheme)))
            rest = url.mid(static_cast<int>(qstrlen(scheme)));
    }
    if (rest.isEmpty())
        return fail(
            QStringLiteral("not an inventory URL (sqlite:PATH or postgresql://USER@HOST[:PORT]/DB): %1").arg(url));
    out.kind = TDbUrl::PostgreSQL;
    const int slash = rest.indexOf(u'/');
    if (slash < 0 || slash == rest.size() - 1)
        return fail(QStringLiteral("the URL names no database: %1").arg(url));
    out.database = QUrl::fromPercentEncoding(rest.mid(slash + 1).toUtf8());
    QString authority = rest.left(slash);
    const int at = authority.lastIndexOf(u'@');
    if (at >= 0) {
        const QString user = authority.left(at);
        if (user.contains(u':'))
            return fail(QStringLiteral("a password does not belong in the URL: libpq reads PGPASSWORD or ~/.pgpass"));
        out.user = QUrl::fromPercentEncoding(user.toUtf8());
        authority = authority.mid(at + 1);
    }
    const int colon = authority.lastIndexOf(u':');
    if (colon >= 0) {
        bool ok = false;
        out.port = authority.mid(colon + 1).toInt(&ok);
        if (!ok || out.port <= 0 || out.port > 65535)
            return fail(QStringLiteral("not a port: %1").arg(authority.mid(colon + 1)));
        authority = authority.left(colon);
    }
    out.host = QUrl::fromPercentEncoding(authority.toUtf8());
    return out;
}

const char* event_word(TEventKind kind)
{
    switch (kind) {
    case TEventKind::New:
        return "new";
    case TEventKind::Back:
        return "back";
    case TEventKind::Gone:
        return "gone";
    case TEventKind::AddressChanged:
        return "address-changed";
    case TEventKind::NameChanged:
        return "name-changed";
    case TEventKind::MacChanged:
        return "mac-changed";
    }
    return "?";
}

bool is_randomised(const TMacAddress& mac)
{
    return (mac[0] & 0x02) != 0;
}

QByteArray event_json(const TEvent& event)
{
    auto text_or_null = [](const QString& s) { return s.isEmpty() ? QJsonValue() : QJsonValue(s); };
    // Keys in their documented order, so each line is built by hand from json values.
    const std::pair<const char*, QJsonValue> fields[] = {
        {"time", event.time.toUTC().toString(Qt::ISODate)},
        {"event", QString::fromLatin1(event_word(event.kind))},
        {"mac", event.mac ? QJsonValue(mac_address_text(*event.mac)) : QJsonValue()},
        {"address", corvane::ipv4::dotted(event.address)},
        {"name", corvane::discovery::found_name_text(event.name)},
        {"vendor", event.vendor},
        {"previous", text_or_null(event.previous)},
        {"site", event.site},
    };
    QByteArray line = "{";
    for (const auto& [key, value] : fields) {
        if (line.size() > 1)
            line += ", ";
        QJsonObject one {{QString::fromLatin1(key), value}};
        QByteArray pair = QJsonDocument(one).toJson(QJsonDocument::Compact);
        // The key is plain ASCII, so its closing quote and colon come first; a value may hold '":' too.
        QByteArray inner = pair.mid(1, pair.size() - 2);
        line += inner.insert(inner.indexOf("\":") + 2, ' ');
    }
    return line + '}';
}

TInventory::TInventory(TInventoryOptions options)
    : m_state(std::make_unique<TState>())
{
    m_state->options = options;
}

TInventory::~TInventory()
{
    m_state->close();
}

bool TInventory::isOpen() const
{
    return m_state->open;
}

QString TInventory::url() const
{
    return m_state->url;
}

const TInventoryOptions& TInventory::options() const
{
    return m_state->options;
}

QString TInventory::open(const QString& url)
{
    m_state->close();
    m_state->url = url.isEmpty() ? default_url() : url;
    QString why;
    const std::optional<TDbUrl> where = parse_db_url(m_state->url, &why);
    if (!where)
        return why;
    m_state->where = *where;
    m_state->postgres = where->kind == TDbUrl::PostgreSQL;
    why = m_state->connect();
    if (why.isEmpty())
        why = m_state->checkSchema();
    // SQLite does not wait in its busy handler while another connection turns a new file to
    // write-ahead logging: try again within the busy timeout.
    QElapsedTimer waited;
    waited.start();
    while (!m_state->postgres && why.contains(QLatin1String("database is locked")) &&
           waited.elapsed() < m_state->options.busyTimeoutMs) {
        m_state->close();
        QThread::msleep(20);
        why = m_state->connect();
        if (why.isEmpty())
            why = m_state->checkSchema();
    }
    if (!why.isEmpty()) {
        m_state->close();
        return why;
    }
    m_state->open = true;
    return {};
}

QString TInventory::TState::connect()
{
    const QString driver = postgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver))
        return postgres ? QStringLiteral("the PostgreSQL driver QPSQL is missing (Debian: libqt6sql6-psql)")
                        : QStringLiteral("the SQLite driver QSQLITE is missing (Debian: libqt6sql6-sqlite)");
    QSqlDatabase d = QSqlDatabase::addDatabase(driver, connection);
    if (postgres) {
        d.setDatabaseName(where.database);
        if (!where.user.isEmpty())
            d.setUserName(where.user);
        if (!where.host.isEmpty())
            d.setHostName(where.host);
        if (where.port > 0)
            d.setPort(where.port);
        d.setConnectOptions(QStringLiteral("connect_timeout=10"));
    } else {
        const QFileInfo file(where.path);
        if (!QDir().mkpath(file.absolutePath()))
            return QStringLiteral("cannot make the folder %1").arg(file.absolutePath());
        // WAL needs the folder as well as the file; neither is touched when either is read-only.
        if (::access(QFile::encodeName(file.absolutePath()).constData(), W_OK) != 0
            || (file.exists() && ::access(QFile::encodeName(file.absoluteFilePath()).constData(), W_OK) != 0))
            return QStringLiteral("%1 is read-only").arg(file.absoluteFilePath());
        d.setDatabaseName(file.absoluteFilePath());
        d.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(options.busyTimeoutMs));
    }
    if (!d.open())
        return QStringLiteral("cannot open %1: %2").arg(url, reason(d.lastError()));
    return {};
}

QString TInventory::TState::checkSchema()
{
    QSqlDatabase d = db();
    try {
        QStringList tables;
        if (postgres) {
            TRows q = run(d,
                          QStringLiteral("SELECT table_name FROM information_schema.tables"
                                         " WHERE table_schema = current_schema()"));
            while (q.next())
                tables << q.value(0).toString();
        } else {
            // Also the first read: a file that is no SQLite database fails here, unaltered.
            TRows q = run(d, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'"));
            while (q.next())
                tables << q.value(0).toString();
        }
        int version = 0;
        if (tables.contains(QLatin1String("corvane_inventory"))) {
            TRows q = run(d, QStringLiteral("SELECT version FROM corvane_inventory"));
            if (!q.next())
                return QStringLiteral("%1 is not a Corvane inventory (its version row is missing)").arg(url);
            version = q.value(0).toInt();
            if (version > kSchemaVersion)
                return QStringLiteral(
                           "%1 is an inventory of a newer Corvane (schema %2, this one knows %3): left as it is")
                    .arg(url, QString::number(version), QString::number(kSchemaVersion));
        } else if (!tables.isEmpty()) {
            return QStringLiteral("%1 is not a Corvane inventory (it holds other tables): left as it is").arg(url);
        }
        if (!postgres) {
            TRows q = run(d, QStringLiteral("PRAGMA journal_mode=WAL"));
            if (!q.next() || q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
                return QStringLiteral("%1: cannot use write-ahead logging").arg(url);
            // Safe against a killed process in WAL mode; only a power cut may lose the last survey.
            run(d, QStringLiteral("PRAGMA synchronous=NORMAL"));
        }
        if (version == kSchemaVersion)
            return {};
        // Two scanners may create or migrate at once: one waits for the other, then sees its work.
        run(d, postgres ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"));
        try {
            if (postgres)
                run(d, QStringLiteral("SELECT pg_advisory_xact_lock(7304751)"));
            int now = 0;
            if (!postgres
                    ? run(d, QStringLiteral("SELECT name FROM sqlite_master WHERE name = 'corvane_inventory'")).next()
                    : run(d,
                          QStringLiteral("SELECT 1 FROM information_schema.tables WHERE table_schema ="
                                         " current_schema() AND table_name = 'corvane_inventory'"))
                          .next()) {
                TRows q = run(d, QStringLiteral("SELECT version FROM corvane_inventory"));
                now = q.next() ? q.value(0).toInt() : 0;
            }
            for (int step = now; step < kSchemaVersion; ++step) {
                for (const char* statement : migrations()[step])
                    run(d, ddl(statement));
                run(d, QStringLiteral("UPDATE corvane_inventory SET version = ?"), {step + 1});
            }
            run(d, QStringLiteral("COMMIT"));
        } catch (...) {
            QSqlQuery(d).exec(QStringLiteral("ROLLBACK"));
            throw;
        }
        return {};
    } catch (const TFailure& f) {
        return QStringLiteral("cannot use %1: %2").arg(url, reason(f.error));
    }
}

namespace {

// Bound values in one statement: SQLite builds before 3.32 take at most 999 (Debian 12's takes
// 250,000); PostgreSQL's protocol counts them in 16 bits.
int value_limit(bool postgres)
{
    return postgres ? 30000 : 999;
}

// A statement of many rows: head, one `row` per row (its ? counted), tail; the values of all rows in
// order, and `lead` before each statement's. Split into as few statements as the engine takes, so a
// survey is a handful of round trips rather than a few per device. Only full statements are kept
// prepared: the last, shorter one changes shape every survey.
template<class F>
void run_rows(const QSqlDatabase& db, bool postgres, const QString& head, const QString& row, const QString& tail,
              const QVariantList& values, F&& each, const QVariantList& lead = {})
{
    const int width = static_cast<int>(row.count(u'?'));
    const int perStatement = std::max(1, (value_limit(postgres) - static_cast<int>(lead.size())) / width);
    const int rows = static_cast<int>(values.size()) / width;
    for (int first = 0; first < rows; first += perStatement) {
        const int n = std::min(perStatement, rows - first);
        QString sql = head;
        sql.reserve(head.size() + n * (row.size() + 2) + tail.size());
        for (int i = 0; i < n; ++i) {
            if (i > 0)
                sql += QLatin1String(", ");
            sql += row;
        }
        sql += tail;
        TRows q = run(db, sql, lead + values.mid(first * width, n * width), n == perStatement);
        each(q);
    }
}

void no_rows(TRows&) { }

// id, key, mac, vendor, last_address, name, name_source, gone from column `at` on.
TKnown known_from(TRows& q, int at)
{
    TKnown k;
    k.id = q.value(at).toLongLong();
    k.key = q.value(at + 1).toString();
    k.mac = mac_from_text(q.value(at + 2).toString());
    k.vendor = q.value(at + 3).toString();
    k.lastAddress = THostAddr {static_cast<std::uint32_t>(q.value(at + 4).toLongLong())};
    k.name = found_name {q.value(at + 5).toByteArray(), static_cast<name_source>(q.value(at + 6).toInt())};
    k.gone = q.value(at + 7).toInt() != 0;
    return k;
}

const QLatin1String kKnownColumns("id, key, mac, vendor, last_address, name, name_source, gone");

struct TRecorder
{
    TRecorder(const QSqlDatabase& d, bool pg, const TInventoryOptions& o, const TSurveyRecord& s)
        : db(d)
        , postgres(pg)
        , options(o)
        , survey(s)
    { }
    const QSqlDatabase& db;
    const bool postgres;
    const TInventoryOptions& options;
    const TSurveyRecord& survey;
    qint64 t = 0;
    qint64 surveyId = 0;
    std::vector<TEvent> events;
    std::vector<const TKnown*> eventDevice; // a new device's id is known once it is written
    std::deque<TKnown> devices; // every device the survey touches
    std::unordered_map<QString, TKnown*> byKey;

    TKnown& keep(TKnown k)
    {
        devices.push_back(std::move(k));
        TKnown& kept = devices.back();
        byKey[kept.key] = &kept;
        return kept;
    }
    TKnown& known_or_kept(TKnown k)
    {
        const auto it = byKey.find(k.key);
        return it != byKey.end() ? *it->second : keep(std::move(k));
    }

    void event(TEventKind kind, const TKnown& known, const TDevice* device, QString previous = {})
    {
        TEvent e;
        e.kind = kind;
        e.time = QDateTime::fromSecsSinceEpoch(t, Qt::UTC);
        e.mac = known.mac;
        e.address = device ? device->address : known.lastAddress;
        e.name = known.name;
        e.vendor = known.vendor;
        e.previous = std::move(previous);
        e.site = survey.scanner;
        events.push_back(std::move(e));
        eventDevice.push_back(&known);
    }
    // A value list's element as PostgreSQL must be told its type (SQLite needs no word).
    QString typed(const char* type) const
    {
        return postgres ? QStringLiteral("CAST(? AS %1)").arg(QLatin1String(type)) : QStringLiteral("?");
    }

    void run_();
};

void TRecorder::run_()
{
    QString ranges;
    for (const auto& r : survey.ranges)
        ranges += (ranges.isEmpty() ? QString() : QStringLiteral(",")) + corvane::ipv4::dotted(r.first) + u'-'
            + corvane::ipv4::dotted(r.last);
    {
        TRows q = run(db,
                      QStringLiteral("INSERT INTO surveys (time, scanner, ranges, devices) VALUES (?, ?, ?, ?)"
                                     " RETURNING id"),
                      {t, survey.scanner, ranges, qint64(survey.devices.size())});
        if (!q.next())
            throw TFailure {q.lastError()};
        surveyId = q.value(0).toLongLong();
    }

    // The known devices among the survey's, in a few statements.
    std::vector<QString> keys;
    keys.reserve(survey.devices.size());
    std::unordered_set<QString> surveyKeys;
    QVariantList values;
    for (const TDevice& d : survey.devices) {
        keys.push_back(key_of(d));
        if (surveyKeys.insert(keys.back()).second)
            values << keys.back();
    }
    run_rows(db, postgres, QStringLiteral("SELECT %1 FROM devices WHERE key IN (").arg(kKnownColumns),
             QStringLiteral("?"), QStringLiteral(")"), values, [this](TRows& q) {
                 while (q.next())
                     keep(known_from(q, 0));
             });

    // The devices that had a name of a MAC not known yet, the latest seen first: one of them not in
    // this survey may be that MAC's device.
    struct TCandidate
    {
        qint64 lastSeen;
        TKnown* device;
    };
    std::map<std::pair<QByteArray, int>, std::vector<TCandidate>> candidates;
    {
        values.clear();
        std::set<QByteArray> asked;
        for (std::size_t i = 0; i < survey.devices.size(); ++i)
            if (survey.devices[i].mac && !byKey.count(keys[i]))
                for (const found_name& n : survey.devices[i].names)
                    if (asked.insert(n.name).second)
                        values << n.name;
        run_rows(
            db, postgres,
            QStringLiteral("SELECT n.name, n.source, d.last_seen, %1 FROM names n JOIN devices d ON d.id ="
                           " n.device_id WHERE d.mac IS NOT NULL AND n.name IN (")
                .arg(QStringLiteral("d.") + QString(kKnownColumns).replace(QLatin1String(", "), QLatin1String(", d."))),
            QStringLiteral("?"), QStringLiteral(")"), values, [&](TRows& q) {
                while (q.next())
                    candidates[{q.value(0).toByteArray(), q.value(1).toInt()}].push_back(
                        {q.value(2).toLongLong(), &known_or_kept(known_from(q, 3))});
            });
        for (auto& entry : candidates)
            std::sort(entry.second.begin(), entry.second.end(), [](const TCandidate& a, const TCandidate& b) {
                return a.lastSeen != b.lastSeen ? a.lastSeen > b.lastSeen : a.device->id > b.device->id;
            });
    }

    std::vector<TKnown*> fresh;
    std::vector<std::pair<TKnown*, const TDevice*>> seen; // each device once, in survey order
    for (std::size_t i = 0; i < survey.devices.size(); ++i) {
        const TDevice& d = survey.devices[i];
        const QString& key = keys[i];
        const found_name* best = corvane::discovery::best_name(d);
        const found_name bestName = best ? *best : found_name {};
        const auto found = byKey.find(key);
        TKnown* k = found != byKey.end() ? found->second : nullptr;
        if (!k && d.mac) {
            // A known name under another MAC is that device, when its own MAC is not in this survey.
            for (const found_name& n : d.names) {
                const auto c = candidates.find({n.name, int(n.source)});
                if (c == candidates.end())
                    continue;
                for (const TCandidate& candidate : c->second)
                    if (!candidate.device->seen && !surveyKeys.count(candidate.device->key)) {
                        k = candidate.device;
                        break;
                    }
                if (k)
                    break;
            }
            if (k) {
                byKey.erase(k->key);
                const QString previous = k->mac ? mac_address_text(*k->mac) : QString();
                k->mac = d.mac;
                k->key = key;
                if (!d.vendor.isEmpty())
                    k->vendor = d.vendor;
                if (!bestName.name.isEmpty())
                    k->name = bestName;
                byKey[key] = k;
                event(TEventKind::MacChanged, *k, &d, previous);
                k->gone = false;
                k->lastAddress = d.address;
            }
        }
        if (!k) {
            TKnown n;
            n.key = key;
            n.mac = d.mac;
            n.vendor = d.vendor;
            n.lastAddress = d.address;
            n.name = bestName;
            n.fresh = true;
            k = &keep(std::move(n));
            fresh.push_back(k);
            event(TEventKind::New, *k, &d);
        } else if (!k->seen) {
            if (!d.vendor.isEmpty())
                k->vendor = d.vendor;
            if (k->gone)
                event(TEventKind::Back, *k, &d);
            if (k->lastAddress != d.address) {
                const QString previous = corvane::ipv4::dotted(k->lastAddress);
                k->lastAddress = d.address;
                event(TEventKind::AddressChanged, *k, &d, previous);
            }
            // A survey whose names did not answer this time changes no name.
            if (!bestName.name.isEmpty() && bestName.name != k->name.name) {
                const QString previous
                    = k->name.name.isEmpty() ? QString() : corvane::discovery::found_name_text(k->name);
                k->name = bestName;
                if (!previous.isEmpty())
                    event(TEventKind::NameChanged, *k, &d, previous);
            }
        }
        if (k->seen)
            continue; // the same device twice in one survey counts once
        k->seen = true;
        k->gone = false;
        k->lastAddress = d.address;
        seen.emplace_back(k, &d);
    }

    // The new devices, and their ids by their keys.
    values.clear();
    for (const TKnown* k : fresh)
        values << k->key << text_or_null(k->mac) << k->vendor << qint64(k->lastAddress.value) << k->name.name
               << int(k->name.source) << t << t << surveyId;
    run_rows(db, postgres,
             QStringLiteral("INSERT INTO devices (key, mac, vendor, last_address, name, name_source, first_seen,"
                            " last_seen, times_seen, missed, gone, last_survey) VALUES "),
             QStringLiteral("(?, ?, ?, ?, ?, ?, ?, ?, 1, 0, 0, ?)"), QStringLiteral(" RETURNING id, key"), values,
             [this](TRows& q) {
                 while (q.next())
                     if (const auto it = byKey.find(q.value(1).toString()); it != byKey.end())
                         it->second->id = q.value(0).toLongLong();
             });
    for (const TKnown* k : fresh)
        if (k->id == 0)
            throw TFailure {
                QSqlError(QStringLiteral("a new device was not written"), QString(), QSqlError::StatementError)};

    // The known ones seen again, all columns but the counters from the values.
    values.clear();
    for (const auto& [k, d] : seen)
        if (!k->fresh)
            values << k->id << k->key << text_or_null(k->mac) << k->vendor << qint64(d->address.value) << k->name.name
                   << int(k->name.source);
    run_rows(db, postgres,
             QStringLiteral("UPDATE devices SET key = v.column2, mac = v.column3, vendor = v.column4,"
                            " last_address = v.column5, name = v.column6, name_source = v.column7, last_seen = ?,"
                            " times_seen = times_seen + 1, missed = 0, gone = 0, last_survey = ? FROM (VALUES "),
             QStringLiteral("(%1, %2, %3, %4, %5, %6, %7)")
                 .arg(typed("BIGINT"), typed("TEXT"), typed("TEXT"), typed("TEXT"), typed("BIGINT"), typed("BYTEA"),
                      typed("INTEGER")),
             QStringLiteral(") AS v WHERE devices.id = v.column1"), values, no_rows, {t, surveyId});

    QVariantList addresses, names, sightings;
    for (const auto& [k, d] : seen) {
        addresses << k->id << qint64(d->address.value) << t << t;
        sightings << surveyId << k->id << qint64(d->address.value) << t;
        // One statement may not touch a row twice (PostgreSQL): a name heard twice is one row.
        std::set<std::pair<QByteArray, int>> once;
        for (const found_name& n : d->names)
            if (once.insert({n.name, int(n.source)}).second)
                names << k->id << n.name << int(n.source) << t << t;
    }
    run_rows(db, postgres, QStringLiteral("INSERT INTO addresses (device_id, address, first_seen, last_seen) VALUES "),
             QStringLiteral("(?, ?, ?, ?)"),
             QStringLiteral(" ON CONFLICT (device_id, address) DO UPDATE SET last_seen = excluded.last_seen"),
             addresses, no_rows);
    run_rows(db, postgres, QStringLiteral("INSERT INTO names (device_id, name, source, first_seen, last_seen) VALUES "),
             QStringLiteral("(?, ?, ?, ?, ?)"),
             QStringLiteral(" ON CONFLICT (device_id, name, source) DO UPDATE SET last_seen = excluded.last_seen"),
             names, no_rows);
    run_rows(db, postgres, QStringLiteral("INSERT INTO sightings (survey_id, device_id, address, time) VALUES "),
             QStringLiteral("(?, ?, ?, ?)"), QString(), sightings, no_rows);

    // Missed: present devices whose last address this survey covered and that it did not see.
    for (const auto& r : survey.ranges)
        run(db,
            QStringLiteral("UPDATE devices SET missed = missed + 1 WHERE gone = 0 AND last_survey <> ?"
                           " AND last_address BETWEEN ? AND ?"),
            {surveyId, qint64(r.first.value), qint64(r.last.value)});
    {
        const int goneAfter = std::max(1, options.goneAfter);
        bool any = false;
        {
            TRows q = run(db,
                          QStringLiteral("SELECT %1 FROM devices WHERE gone = 0 AND missed >= ? ORDER BY last_address")
                              .arg(kKnownColumns),
                          {goneAfter});
            while (q.next()) {
                event(TEventKind::Gone, known_or_kept(known_from(q, 0)), nullptr);
                any = true;
            }
        }
        if (any)
            run(db, QStringLiteral("UPDATE devices SET gone = 1 WHERE gone = 0 AND missed >= ?"), {goneAfter});
    }

    values.clear();
    for (std::size_t i = 0; i < events.size(); ++i) {
        const TEvent& e = events[i];
        values << surveyId << eventDevice[i]->id << t << QString::fromLatin1(event_word(e.kind)) << text_or_null(e.mac)
               << qint64(e.address.value) << e.name.name << int(e.name.source) << e.vendor << e.previous << e.site;
    }
    run_rows(db, postgres,
             QStringLiteral("INSERT INTO events (survey_id, device_id, time, kind, mac, address, name, name_source,"
                            " vendor, previous, site) VALUES "),
             QStringLiteral("(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"), QString(), values, no_rows);
}

// Keeps at most one sighting per device per spacing among those older than the options' span; each
// span is thinned once, so recording stays cheap.
void thin_sightings(const QSqlDatabase& db, const TInventoryOptions& options, qint64 now)
{
    if (options.thinSpacingSecs <= 0)
        return;
    const qint64 spacing = options.thinSpacingSecs;
    const qint64 cutoff = (now - qint64(options.thinAfterDays) * 86400) / spacing * spacing;
    TRows q = run(db, QStringLiteral("SELECT thinned_until FROM corvane_inventory"));
    const qint64 from = q.next() ? q.value(0).toLongLong() : 0;
    if (cutoff <= from)
        return;
    run(db,
        QStringLiteral("DELETE FROM sightings WHERE time >= ? AND time < ? AND id NOT IN (SELECT MIN(id) FROM sightings"
                       " WHERE time >= ? AND time < ? GROUP BY device_id, time / ?)"),
        {from, cutoff, from, cutoff, spacing});
    run(db, QStringLiteral("UPDATE corvane_inventory SET thinned_until = ?"), {cutoff});
}

} // namespace

TRecordResult TInventory::record(const TSurveyRecord& survey)
{
    TRecordResult result;
    if (!m_state->open) {
        // A lost connection is opened anew on the next survey.
        if (m_state->url.isEmpty()) {
            result.error = QStringLiteral("no inventory is open");
            return result;
        }
        if (const QString why = open(m_state->url); !why.isEmpty()) {
            result.error = why;
            return result;
        }
    }
    const QDateTime when = survey.time.isValid() ? survey.time.toUTC() : QDateTime::currentDateTimeUtc();
    bool lost = false;
    {
        QSqlDatabase d = m_state->db();
        TUseStatements use(m_state->statements);
        for (int attempt = 0;; ++attempt) {
            TRecorder recorder(d, m_state->postgres, m_state->options, survey);
            recorder.t = when.toSecsSinceEpoch();
            try {
                if (m_state->postgres) {
                    run(d, QStringLiteral("BEGIN"));
                    // One survey at a time per database: readers go on, writers queue instead of failing.
                    run(d, QStringLiteral("LOCK TABLE devices IN SHARE ROW EXCLUSIVE MODE"));
                } else {
                    run(d, QStringLiteral("BEGIN IMMEDIATE"));
                }
                recorder.run_();
                thin_sightings(d, m_state->options, recorder.t);
                finish_statements();
                run(d, QStringLiteral("COMMIT"));
                result.events = std::move(recorder.events);
                return result;
            } catch (const TFailure& f) {
                finish_statements();
                QSqlQuery(d).exec(QStringLiteral("ROLLBACK"));
                if (contended(f.error) && attempt + 1 < kRetries)
                    continue;
                result.error
                    = QStringLiteral("the inventory %1 was not updated: %2").arg(m_state->url, reason(f.error));
                lost = m_state->postgres && (!d.isOpen() || !QSqlQuery(d).exec(QStringLiteral("SELECT 1")));
                break;
            }
        }
    }
    if (lost)
        m_state->close();
    return result;
}

QString TInventory::thin(const QDateTime& now)
{
    if (!m_state->open)
        return QStringLiteral("no inventory is open");
    QSqlDatabase d = m_state->db();
    try {
        run(d, m_state->postgres ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"));
        thin_sightings(d, m_state->options, now.toSecsSinceEpoch());
        run(d, QStringLiteral("COMMIT"));
        return {};
    } catch (const TFailure& f) {
        QSqlQuery(d).exec(QStringLiteral("ROLLBACK"));
        return QStringLiteral("the inventory %1 was not thinned: %2").arg(m_state->url, reason(f.error));
    }
}

std::optional<std::vector<TInventoryDevice>> TInventory::devices(QString* error)
{
    if (!m_state->open) {
        if (error)
            *error = QStringLiteral("no inventory is open");
        return std::nullopt;
    }
    QSqlDatabase d = m_state->db();
    try {
        std::vector<TInventoryDevice> out;
        std::unordered_map<qint64, std::size_t> index;
        TRows q = run(d,
                      QStringLiteral("SELECT id, mac, vendor, last_address, name, name_source, first_seen,"
                                     " last_seen, times_seen, gone FROM devices ORDER BY last_address, id"));
        while (q.next()) {
            TInventoryDevice v;
            v.mac = mac_from_text(q.value(1).toString());
            v.vendor = q.value(2).toString();
            v.lastAddress = THostAddr {static_cast<std::uint32_t>(q.value(3).toLongLong())};
            v.name = found_name {q.value(4).toByteArray(), static_cast<name_source>(q.value(5).toInt())};
            v.firstSeen = QDateTime::fromSecsSinceEpoch(q.value(6).toLongLong(), Qt::UTC);
            v.lastSeen = QDateTime::fromSecsSinceEpoch(q.value(7).toLongLong(), Qt::UTC);
            v.timesSeen = q.value(8).toLongLong();
            v.gone = q.value(9).toInt() != 0;
            index.emplace(q.value(0).toLongLong(), out.size());
            out.push_back(std::move(v));
        }
        TRows n = run(d,
                      QStringLiteral("SELECT device_id, name, source, last_seen FROM names"
                                     " ORDER BY device_id, last_seen DESC"));
        while (n.next()) {
            const auto it = index.find(n.value(0).toLongLong());
            if (it == index.end())
                continue;
            out[it->second].names.push_back(
                TNameSeen {n.value(1).toByteArray(), static_cast<name_source>(n.value(2).toInt()),
                           QDateTime::fromSecsSinceEpoch(n.value(3).toLongLong(), Qt::UTC)});
        }
        return out;
    } catch (const TFailure& f) {
        if (error)
            *error = QStringLiteral("cannot read the inventory %1: %2").arg(m_state->url, reason(f.error));
        return std::nullopt;
    }
}

qint64 TInventory::sightingCount()
{
    if (!m_state->open)
        return -1;
    try {
        TRows q = run(m_state->db(), QStringLiteral("SELECT COUNT(*) FROM sightings"));
        return q.next() ? q.value(0).toLongLong() : -1;
    } catch (const TFailure&) {
        return -1;
    }
}

} // namespace corvane::inventory
