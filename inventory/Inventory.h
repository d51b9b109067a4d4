#pragma once
// The inventory: every device the devices surveys have seen, kept in a database through QtSql
// (SQLite by default, PostgreSQL when several scanners share one), and the events a survey makes.
// Widget-free; corvane-scan and the window drive it.
//
//     TInventory inventory;
//     if (const QString why = inventory.open(url); !why.isEmpty()) ... // the survey still shows its list
//     const TRecordResult r = inventory.record(survey);                 // one transaction
//     if (!r.ok()) ... r.error ...; else for (const TEvent& e : r.events) ...
//
// One TInventory is one connection, used on the thread that opened it. Several TInventory objects
// (threads, processes, machines) may write to one database at once: each survey is one transaction
// and nothing is lost.

#include "discovery/DeviceSurvey.h"
#include "platform/Ipv4.h"
#include "support/Vendors.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace corvane::inventory {

// $XDG_DATA_HOME/corvane/inventory.sqlite as a URL ("sqlite:/home/u/.local/share/corvane/...").
QString default_url();

// "sqlite:PATH" or "postgresql://USER@HOST[:PORT]/DB" (HOST may be a socket folder written with %2F,
// as libpq reads it). A password never belongs in the URL: libpq reads PGPASSWORD or ~/.pgpass.
struct TDbUrl
{
    enum Kind { SQLite, PostgreSQL } kind = SQLite;
    QString path; // SQLite
    QString user, host, database;
    int port = -1; // -1: libpq's default
};
// Nothing and why for a URL of neither form.
std::optional<TDbUrl> parse_db_url(const QString& url, QString* why = nullptr);

enum class TEventKind { New, Back, Gone, AddressChanged, NameChanged, MacChanged };
// "new", "back", "gone", "address-changed", "name-changed", "mac-changed".
const char* event_word(TEventKind kind);

struct TEvent
{
    TEventKind kind = TEventKind::New;
    QDateTime time; // the survey's, UTC
    std::optional<TMacAddress> mac;
    corvane::ipv4::THostAddr address;
    corvane::discovery::found_name name; // the best name exactly as received; name.name empty when unnamed
    QString vendor;
    QString previous; // the old address, name (as found_name_text) or MAC; empty for new/back/gone
    QString site; // the scanner that recorded the survey
};
// One line of corvane-scan watch: {"time": ..., "event": ..., "mac": ... or null, "address": ...,
// "name": ..., "vendor": ..., "previous": ... or null, "site": ...}.
QByteArray event_json(const TEvent& event);

// A finished devices survey, with its names in.
struct TSurveyRecord
{
    QDateTime time; // when it ran; now when invalid
    std::vector<corvane::ipv4::THostRange> ranges; // what it covered: only devices in them can be gone
    QString scanner; // host name or --site NAME
    std::vector<corvane::discovery::TDevice> devices;
};

struct TRecordResult
{
    QString error; // empty on success; else why the inventory was not updated
    std::vector<TEvent> events; // in device order, then the gone ones
    bool ok() const { return error.isEmpty(); }
};

struct TNameSeen
{
    QByteArray name;
    corvane::discovery::name_source source = corvane::discovery::name_source::dns;
    QDateTime lastSeen;
};

struct TInventoryDevice
{
    std::optional<TMacAddress> mac; // none: keyed by address (behind a router)
    QString vendor;
    corvane::ipv4::THostAddr lastAddress;
    corvane::discovery::found_name name; // the last best name, exactly; name.name empty when never named
    std::vector<TNameSeen> names; // every name it had, the latest first
    QDateTime firstSeen, lastSeen;
    qint64 timesSeen = 0;
    bool gone = false;
};

struct TInventoryOptions
{
    int goneAfter = 2; // consecutive surveys covering its address that missed it
    int busyTimeoutMs = 5000; // how long a locked SQLite file is waited for
    int thinAfterDays = 7; // sightings older than this are thinned...
    int thinSpacingSecs = 3600; // ...to at most one per device per this span; 0: never thinned
};

class TInventory
{
public:
    explicit TInventory(TInventoryOptions options = {});
    ~TInventory();
    TInventory(const TInventory&) = delete;
    TInventory& operator=(const TInventory&) = delete;

    // Opens (and on first use creates) the inventory at url; empty url: default_url(). Empty on
    // success, else why. A file that is not a Corvane inventory, of a newer schema, or read-only is
    // refused and left as it was; an older schema is migrated.
    QString open(const QString& url = {});
    bool isOpen() const;
    QString url() const; // as opened, for the page and messages
    const TInventoryOptions& options() const;

    // Records one survey and works out its events in one transaction, retried when another writer
    // got in the way. On error nothing of the survey is kept; the next call tries again (and opens a
    // lost PostgreSQL connection anew).
    TRecordResult record(const TSurveyRecord& survey);

    // Every device, in order of last address; nothing and why on error.
    std::optional<std::vector<TInventoryDevice>> devices(QString* error = nullptr);

    // Thins sightings older than the options' span before now (record does it too); empty or why.
    QString thin(const QDateTime& now);

    // Rows in the sightings table (benchmarks, tests); -1 on error.
    qint64 sightingCount();

private:
    struct TState;
    std::unique_ptr<TState> m_state;
};

// The locally-administered bit: a randomised MAC (phones, "random hardware addresses").
bool is_randomised(const TMacAddress& mac);

} // namespace corvane::inventory
