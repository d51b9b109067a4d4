#include "support/Vendors.h"

#include "platform/Ipv4.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QObject>

#include <algorithm>
#include <cctype>

namespace corvane {

namespace {

struct TRegistryKind
{
    const char* name;
    int digits; // hex digits of an assignment
};
constexpr TRegistryKind kKinds[] = {{"MA-L", 6}, {"MA-M", 7}, {"MA-S", 9}};

std::uint64_t key_of(std::uint64_t prefix, int bits)
{
    return prefix << 8 | std::uint64_t(bits);
}

std::uint64_t mac_value(const TMacAddress& mac)
{
    std::uint64_t v = 0;
    for (const std::uint8_t b : mac)
        v = v << 8 | b;
    return v;
}

// Splits CSV text into records of fields (RFC 4180: quoted fields, doubled quotes, CR LF). A record
// with a stray quote or an unterminated quoted field comes back empty.
class TCsvReader
{
public:
    explicit TCsvReader(const QByteArray& text)
        : m_text(text)
    { }
    bool atEnd() const { return m_pos >= m_text.size(); }

    QList<QByteArray> next()
    {
        QList<QByteArray> fields;
        QByteArray field;
        bool bad = false;
        bool quoted = false;
        bool afterQuote = false;
        bool fieldStart = true;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos++];
            if (quoted) {
                if (c != '"') {
                    field += c;
                } else if (m_pos < m_text.size() && m_text[m_pos] == '"') {
                    field += '"';
                    ++m_pos;
                } else {
                    quoted = false;
                    afterQuote = true;
                }
                continue;
            }
            if (c == '\n')
                break;
            if (c == '\r')
                continue;
            if (c == ',') {
                fields << field;
                field.clear();
                fieldStart = true;
                afterQuote = false;
                continue;
            }
            if (c == '"' && fieldStart) {
                quoted = true;
                fieldStart = false;
                continue;
            }
            if (c == '"' || afterQuote)
                bad = true;
            field += c;
            fieldStart = false;
        }
        if (quoted || bad)
            return {};
        fields << field;
        return fields;
    }

private:
    const QByteArray& m_text;
    qsizetype m_pos = 0;
};

} // namespace

QString mac_address_text(const TMacAddress& mac)
{
    return QString::asprintf("%.2X.%.2X.%.2X.%.2X.%.2X.%.2X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
}

std::optional<TMacAddress> reported_mac(const nb_status_result* result)
{
    if (!result || !result->adapter_stats)
        return std::nullopt;
    TMacAddress mac;
    std::copy(std::begin(result->adapter_stats->mac_address), std::end(result->adapter_stats->mac_address),
              mac.begin());
    return mac;
}

void TVendorTable::addCsv(const QByteArray& text)
{
    TCsvReader reader(text);
    while (!reader.atEnd()) {
        const QList<QByteArray> f = reader.next();
        if (f.size() < 3)
            continue;
        const auto kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                                       [&](const TRegistryKind& k) { return f[0] == k.name; });
        if (kind == std::end(kKinds) || f[1].size() != kind->digits)
            continue;
        bool hex = false;
        const std::uint64_t prefix = f[1].toULongLong(&hex, 16);
        const QString name = QString::fromUtf8(f[2]).trimmed();
        if (!hex || name.isEmpty() || !std::all_of(f[1].begin(), f[1].end(), [](char c) { return std::isxdigit(c); }))
            continue;
        m_names.insert(key_of(prefix, kind->digits * 4), name);
    }
}

TVendorTable TVendorTable::read(const QString& directory)
{
    TVendorTable table;
    for (const char* file : {"oui.csv", "mam.csv", "oui36.csv"}) {
        QFile f(directory + u'/' + QLatin1String(file));
        if (f.open(QIODevice::ReadOnly))
            table.addCsv(f.readAll());
    }
    return table;
}

QString TVendorTable::vendor(const TMacAddress& mac) const
{
    const std::uint64_t v = mac_value(mac);
    for (const int bits : {36, 28, 24}) {
        const auto it = m_names.constFind(key_of(v >> (48 - bits), bits));
        if (it != m_names.constEnd())
            return *it;
    }
    return {};
}

QString default_ieee_data_dir()
{
    const QString dir = qEnvironmentVariable("CORVANE_IEEE_DATA");
    return dir.isEmpty() ? QStringLiteral("/usr/share/ieee-data") : dir;
}

QString vendors_missing_note(const QString& directory)
{
    return QStringLiteral("No vendor names: the IEEE registry cannot be read in %1 (install the package ieee-data)")
        .arg(QDir::toNativeSeparators(directory));
}

TVendorRegistry::TVendorRegistry(QString directory)
    : m_directory(std::move(directory))
{ }

TVendorRegistry::~TVendorRegistry()
{
    if (m_reader.joinable())
        m_reader.join();
}

void TVendorRegistry::load(std::function<void()> onLoaded)
{
    std::lock_guard lock(m_mutex);
    if (m_reader.joinable() || m_table)
        return;
    m_reader = std::thread([this, onLoaded = std::move(onLoaded)] {
        auto table = std::make_shared<const TVendorTable>(TVendorTable::read(m_directory));
        {
            std::lock_guard inner(m_mutex);
            m_table = std::move(table);
        }
        if (onLoaded)
            onLoaded();
    });
}

std::shared_ptr<const TVendorTable> TVendorRegistry::table() const
{
    std::lock_guard lock(m_mutex);
    return m_table;
}

std::shared_ptr<const TVendorTable> TVendorRegistry::wait()
{
    load();
    {
        std::lock_guard lock(m_mutex);
        if (m_table)
            return m_table;
    }
    // Only the thread that owns the registry waits, so nobody else joins meanwhile.
    if (m_reader.joinable())
        m_reader.join();
    return table();
}

struct TNeighbourCache::TWaiting
{
    // Cleared, under its mutex, when the context goes: nothing is posted to it after that.
    struct TGuard
    {
        std::mutex mutex;
        bool alive = true;
    };

    std::optional<std::uint32_t> address; // network order; none for a flush
    QObject* context = nullptr;
    std::shared_ptr<TGuard> guard;
    QMetaObject::Connection watch;
    TAnswer answer;
};

TNeighbourCache::TNeighbourCache(TReader reader, std::chrono::milliseconds interval)
    : m_reader(std::move(reader))
    , m_interval(interval)
    , m_thread([this] { run(); })
{ }

TNeighbourCache::~TNeighbourCache()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
    for (const TWaiting& w : m_waiting)
        QObject::disconnect(w.watch);
}

void TNeighbourCache::request(const QString& ip, QObject* context, TAnswer answer)
{
    const std::optional<ipv4::THostAddr> address = ipv4::parse_strict(ip);
    // Text that is no address finds no entry.
    enqueue(address ? address->net().value : 0u, context, std::move(answer));
}

void TNeighbourCache::flush(QObject* context, std::function<void()> done)
{
    enqueue(std::nullopt, context, [done = std::move(done)](const std::optional<TMacAddress>&) { done(); });
}

void TNeighbourCache::enqueue(std::optional<std::uint32_t> address, QObject* context, TAnswer answer)
{
    if (!context)
        return; // no thread to answer on
    TWaiting w;
    w.address = address;
    w.context = context;
    w.guard = std::make_shared<TWaiting::TGuard>();
    w.watch = QObject::connect(context, &QObject::destroyed, [guard = w.guard] {
        std::lock_guard lock(guard->mutex);
        guard->alive = false;
    });
    w.answer = std::move(answer);
    {
        std::lock_guard lock(m_mutex);
        m_waiting.push_back(std::move(w));
    }
    m_wake.notify_one();
}

void TNeighbourCache::run()
{
    using clock = std::chrono::steady_clock;
    std::optional<clock::time_point> lastReading;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_waiting.empty(); });
        if (m_stop)
            return;
        const bool reads
            = std::any_of(m_waiting.begin(), m_waiting.end(), [](const TWaiting& w) { return bool(w.address); });
        if (reads && lastReading && clock::now() < *lastReading + m_interval) {
            // Requests that come meanwhile share the reading.
            m_wake.wait_until(lock, *lastReading + m_interval, [this] { return m_stop; });
            continue;
        }
        std::vector<TWaiting> batch = std::exchange(m_waiting, {});
        if (reads) {
            lastReading = clock::now();
            lock.unlock();
            const std::optional<std::vector<platform::neigh_entry>> table = m_reader();
            lock.lock();
            if (table)
                for (const platform::neigh_entry& e : *table)
                    if (e.state == platform::neigh_state::resolved && e.lladdr && *e.lladdr != TMacAddress {})
                        m_known[e.address] = *e.lladdr;
        }
        std::vector<std::optional<TMacAddress>> macs;
        macs.reserve(batch.size());
        for (const TWaiting& w : batch) {
            const auto known = w.address ? m_known.find(*w.address) : m_known.end();
            macs.push_back(known != m_known.end() ? std::optional(known->second) : std::nullopt);
        }
        lock.unlock();
        for (std::size_t i = 0; i < batch.size(); ++i) {
            TWaiting& w = batch[i];
            {
                std::lock_guard alive(w.guard->mutex);
                if (w.guard->alive)
                    QMetaObject::invokeMethod(
                        w.context, [answer = std::move(w.answer), mac = macs[i]] { answer(mac); },
                        Qt::QueuedConnection);
            }
            QObject::disconnect(w.watch);
        }
        lock.lock();
    }
}

bool reports_zero_mac(const nb_status_result* result)
{
    const std::optional<TMacAddress> mac = reported_mac(result);
    return mac && *mac == TMacAddress {};
}

} // namespace corvane
