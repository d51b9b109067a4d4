#pragma once
// Vendor names of adapter addresses, from the IEEE registry as Debian's ieee-data package installs it
// (/usr/share/ieee-data), and the adapter address the kernel's neighbour table learned for a host.
// Widget-free; shared by the window and corvane-scan.

#include "netbios/netBios_types.h"
#include "platform/Neighbour.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

class QObject;

namespace corvane {

using TMacAddress = std::array<std::uint8_t, 6>;

// 00.1A.2B.3C.4D.5E, as the MAC column writes an adapter address.
QString mac_address_text(const TMacAddress& mac);

// The adapter address an answer reports; none without adapter statistics.
std::optional<TMacAddress> reported_mac(const nb_status_result* result);

// Prefixes of 24 (MA-L), 28 (MA-M) and 36 bits (MA-S); the longest one that matches names the vendor.
class TVendorTable
{
public:
    // oui.csv, mam.csv and oui36.csv of directory; a file that is missing or unreadable adds nothing.
    static TVendorTable read(const QString& directory);
    // One registry file as CSV ("Registry,Assignment,Organization Name,..."); the heading and
    // malformed lines are skipped. The assignment's length (6, 7 or 9 hex digits) gives the prefix.
    void addCsv(const QByteArray& text);

    QString vendor(const TMacAddress& mac) const; // empty when no prefix matches
    qsizetype size() const { return m_names.size(); }

private:
    QHash<std::uint64_t, QString> m_names; // key: prefix bits << 8 | prefix length
};

// The directory the registry is read from: $CORVANE_IEEE_DATA when set, else /usr/share/ieee-data.
QString default_ieee_data_dir();

// Why the vendor columns stay empty when the registry in directory gave no names.
QString vendors_missing_note(const QString& directory);

// Reads the registry once, on a thread of its own, the first time load() is called: start-up does
// not wait for some megabytes of CSV, and neither does the GUI thread.
class TVendorRegistry
{
public:
    explicit TVendorRegistry(QString directory = default_ieee_data_dir());
    ~TVendorRegistry(); // waits for a read in progress
    TVendorRegistry(const TVendorRegistry&) = delete;
    TVendorRegistry& operator=(const TVendorRegistry&) = delete;

    // Starts the read unless it has started; onLoaded (when given to the call that starts it) runs
    // on the reading thread once the table is in place.
    void load(std::function<void()> onLoaded = {});
    // The table once read, else null.
    std::shared_ptr<const TVendorTable> table() const;
    // Starts the read if needed and waits for it.
    std::shared_ptr<const TVendorTable> wait();
    QString directory() const { return m_directory; }

private:
    QString m_directory;
    mutable std::mutex m_mutex;
    std::shared_ptr<const TVendorTable> m_table;
    std::thread m_reader;
};

// The adapter addresses the kernel's neighbour table holds for hosts, read on a thread of the cache's
// own. Once the table is crowded the kernel drops entries not refreshed for 5 s, so a host is asked
// for right after it answered, and what a reading found stays known for the cache's life. Readings
// are taken only while requests wait, at most one per interval, and one answers every request made
// before it began. Thread-safe. It reads the namespace of the thread that made it.
class TNeighbourCache
{
public:
    using TReader = std::function<std::optional<std::vector<platform::neigh_entry>>()>;
    using TAnswer = std::function<void(const std::optional<TMacAddress>&)>;

    explicit TNeighbourCache(TReader reader = platform::read_neighbours,
                             std::chrono::milliseconds interval = std::chrono::milliseconds(200));
    ~TNeighbourCache(); // waits for a reading in progress; requests still waiting get no answer
    TNeighbourCache(const TNeighbourCache&) = delete;
    TNeighbourCache& operator=(const TNeighbourCache&) = delete;

    // answer(the address of ip, none when the table has no resolved entry with one) runs on context's
    // thread after the first reading that began after this call; never once context is gone (nor
    // for a null one).
    void request(const QString& ip, QObject* context, TAnswer answer);
    // done() runs on context's thread once every request made before this call has been answered;
    // after their answers when they go to the same thread.
    void flush(QObject* context, std::function<void()> done);

private:
    struct TWaiting;
    void enqueue(std::optional<std::uint32_t> address, QObject* context, TAnswer answer);
    void run();

    TReader m_reader;
    std::chrono::milliseconds m_interval;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<TWaiting> m_waiting;
    std::unordered_map<std::uint32_t, TMacAddress> m_known; // network order -> address
    bool m_stop = false;
    std::thread m_thread;
};

// True for an all-zero report: the vendor then comes from the neighbour table (TNeighbourCache).
bool reports_zero_mac(const nb_status_result* result);

} // namespace corvane
