#pragma once
// Walks the addresses of a scan or sweep at the pace the machine's neighbour table allows, resends
// what the kernel refused, and remembers which addresses still owe an outcome.
//
// A query to an on-link address holds an entry of the machine-wide neighbour table until its address
// resolution ends: about 3 s when no host is there. The pacer keeps such pending resolutions within the
// table's free room, less the room left to the rest of the machine, from readings of the table a few
// times a second (never per query). Routed destinations and this machine's own addresses cost no entry
// of their own and go at the caller's pace. A send the kernel refuses for lack of room is tried again,
// the walk holding its place, for a bounded time; then the address is given up with a reason. With
// retries, addresses that neither answered nor ended (resolution failed, an ICMP error) are walked again
// in further ascending passes.
//
// Time pacing (one query per clock tick, a rate) stays with the caller; the pacer says what may go.

#include "platform/Neighbour.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace corvane::platform {

// What the pacer sees of the machine. The scan and the sweep take the system's; a test its own.
struct pacer_view
{
    std::function<std::int64_t()> now_ns; // monotonic
    std::function<std::optional<std::vector<neigh_entry>>()> read_table;
    std::function<route_info(std::uint32_t destination)> route; // network order
    neigh_limits limits;
    // Entries of the whole machine, every namespace's, where that count can be read; the ones
    // read_table does not list are other namespaces' and count against the room as they are.
    std::function<std::optional<int>()> machine_entries;
};

// The monotonic clock, this namespace's neighbour table and routes (one route oracle, for the thread
// that makes the view), the kernel's limits.
pacer_view system_pacer_view();

struct pacer_options
{
    int retries = 0;                                   // further passes over the addresses without outcome
    std::int64_t reading_interval_ns = 250'000'000;    // how often the table is read
    std::int64_t resolution_ns = 3'000'000'000;        // how long an empty address stays pending at most
    std::int64_t resend_bound_ns = 10'000'000'000;     // how long the walk holds an address it cannot send
    std::uint32_t buffer_room = 0xFFFFFFFFu;           // queries the socket's send buffer holds while pending
};

class query_pacer
{
public:
    using address_fn = std::function<std::uint32_t(std::uint64_t index)>;               // network order
    using index_fn = std::function<std::optional<std::uint64_t>(std::uint32_t address)>; // for retries

    query_pacer(pacer_view view, std::uint64_t count, address_fn address, pacer_options options = {},
                index_fn index = {});
    ~query_pacer();
    query_pacer(const query_pacer&) = delete;
    query_pacer& operator=(const query_pacer&) = delete;

    enum class step_kind : std::uint8_t {
        query,    // send to destination now (then call sent() or send_failed())
        wait,     // no room yet: ask again at wake_ns() or when an outcome came
        pass_end, // every address of this pass has gone out
    };
    struct step
    {
        step_kind kind = step_kind::wait;
        std::uint64_t index = 0;
        std::uint32_t destination = 0;
    };
    step next();

    void sent(const step& s);

    enum class send_result : std::uint8_t {
        resend,  // not sent, held: the same address comes again from next()
        give_up, // not sent, and held too long: report failure_text(); the walk moved on
        failed,  // a real failure: report failure_text(); the walk moved on
    };
    // A send that returned -1 with err. error_queued: the socket's error queue held an entry, so an
    // ICMP-born errno belongs to an earlier query, not to this send.
    send_result send_failed(const step& s, int err, bool error_queued);
    // The reason after "Send to a.b.c.d failed: " for the last give_up or failed.
    QString failure_text() const { return m_failure_text; }

    // Outcomes. An answer or an ICMP error (resolution failed, port or host unreachable) ends the
    // address: it leaves the budget and is not retried.
    void answered(std::uint32_t source);
    void ended(std::uint32_t destination);

    // After pass_end (and the caller's wait for late answers): a further pass over the addresses still
    // without outcome. False when retries are used up or none is left.
    bool more_passes() const;
    bool next_pass();
    int pass() const { return m_pass; }

    // Readings and expiries while nothing is sent (waiting for late answers).
    void refresh();

    std::uint32_t pending() const { return static_cast<std::uint32_t>(m_pending.size()); }
    std::uint32_t most_pending() const { return m_most_pending; }
    std::int64_t budget() const;
    // Addresses the first pass has passed (sent, failed or given up).
    std::uint64_t queried() const { return m_first_pass_done; }
    // When next() may answer otherwise even without an outcome (a reading, an expiry, a hold's end).
    std::int64_t wake_ns() const;

private:
    struct pend
    {
        std::int64_t sent_ns;
        std::uint64_t index;
    };
    void read_if_due(std::int64_t now);
    void expire(std::int64_t now);
    void finish(std::uint32_t address, bool ends_address);
    void advance(const step& s);
    bool room_for(const route_info& r) const;
    std::optional<std::uint64_t> find_open(std::uint64_t from) const;
    void set_open(std::uint64_t index, bool open);
    std::int64_t reserve() const;

    pacer_view m_view;
    std::uint64_t m_count;
    address_fn m_address;
    index_fn m_index;
    pacer_options m_options;

    int m_pass = 0;
    std::uint64_t m_cursor = 0; // the next index of this pass
    std::uint64_t m_first_pass_done = 0;

    std::unordered_map<std::uint32_t, pend> m_pending; // on-link queries whose resolution is pending
    std::uint32_t m_most_pending = 0;
    std::int64_t m_others = 0;        // entries of the table that are not ours, at the last reading
    std::int64_t m_penalty = 0;       // more room kept after the kernel said the table was full
    std::int64_t m_penalty_reading = -1;
    bool m_table_read = false;
    std::int64_t m_next_reading_ns = 0;

    // The head of the walk while it cannot go out.
    std::optional<std::uint64_t> m_held_index;
    std::int64_t m_held_since_ns = 0;
    std::int64_t m_retry_at_ns = 0;
    std::int64_t m_blocked_since_ns = -1; // waiting for room since then
    bool m_force = false;                 // room waited for too long: try the send anyway

    std::optional<route_info> m_head_route;
    std::optional<std::uint64_t> m_head_route_index;

    std::vector<std::uint64_t> m_open; // retries: bit set = queried, no outcome yet
    QString m_failure_text;
};

// Whether a send error means the kernel had no room (neighbour table or send buffer) for the query.
bool is_room_refusal(int err, route_kind kind);
// Whether err is what an ICMP error leaves on a socket with IP_RECVERR (a plain receive or send then
// reports it for an earlier query).
bool is_icmp_error(int err);

} // namespace corvane::platform
