#include "platform/QueryPacer.h"

#include "platform/Clock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace corvane::platform {

namespace {

constexpr std::int64_t ms_ns = 1'000'000;

bool needs_entry(route_kind kind)
{
    return kind == route_kind::on_link || kind == route_kind::routed;
}

} // namespace

pacer_view system_pacer_view()
{
    auto oracle = std::make_shared<route_oracle>();
    pacer_view view;
    view.now_ns = [] { return monotonic_ns(); };
    view.read_table = [] { return read_neighbours(); };
    view.route = [oracle](std::uint32_t destination) { return oracle->route(destination); };
    view.limits = read_neigh_limits();
    view.machine_entries = [] { return read_neigh_entries(); };
    return view;
}

bool is_icmp_error(int err)
{
    switch (err) {
    case ECONNREFUSED: // port unreachable
    case EHOSTUNREACH: // host unreachable, filtered, time exceeded; a failed address resolution
    case ENETUNREACH:
    case EHOSTDOWN:
    case ENONET:
    case ENOPROTOOPT:
    case EOPNOTSUPP:
    case EPROTO: // parameter problem
    case EMSGSIZE:
    case EACCES:
        return true;
    default:
        return false;
    }
}

bool is_room_refusal(int err, route_kind kind)
{
    // A full neighbour table gives ENOBUFS (EINVAL on older kernels); a full send buffer EAGAIN.
    return err == ENOBUFS || err == EAGAIN || err == EWOULDBLOCK || err == ENOMEM
        || (err == EINVAL && needs_entry(kind));
}

query_pacer::query_pacer(pacer_view view, std::uint64_t count, address_fn address, pacer_options options,
                         index_fn index)
    : m_view(std::move(view)), m_count(count), m_address(std::move(address)), m_index(std::move(index)),
      m_options(options)
{
}

query_pacer::~query_pacer() = default;

std::int64_t query_pacer::reserve() const
{
    const neigh_limits& l = m_view.limits;
    // Inside a namespace of its own the scan sees only its own entries, not the machine's.
    const std::int64_t unseen = l.machine_wide ? 0 : l.gc_thresh3 / 32;
    return l.gc_thresh1 + unseen + m_penalty;
}

std::int64_t query_pacer::budget() const
{
    std::int64_t room = m_view.limits.gc_thresh3 - reserve();
    room = m_table_read ? room - m_others : room / 2;
    room = std::min<std::int64_t>(room, m_options.buffer_room);
    return std::max<std::int64_t>(room, 0);
}

bool query_pacer::room_for(const route_info& r) const
{
    return r.kind != route_kind::on_link || static_cast<std::int64_t>(m_pending.size()) < budget();
}

void query_pacer::read_if_due(std::int64_t now)
{
    if (now < m_next_reading_ns)
        return;
    m_next_reading_ns = now + m_options.reading_interval_ns;
    // Queries whose resolution must have ended by now, though no outcome said so.
    for (auto it = m_pending.begin(); it != m_pending.end();)
        it = now - it->second.sent_ns > m_options.resolution_ns + 1000 * ms_ns ? m_pending.erase(it) : std::next(it);

    const auto table = m_view.read_table ? m_view.read_table() : std::nullopt;
    m_table_read = table.has_value();
    if (!table)
        return;
    std::int64_t present = 0;
    std::int64_t ours = 0;
    std::vector<std::uint32_t> resolved;
    std::vector<std::uint32_t> failed;
    for (const neigh_entry& e : *table) {
        const auto mine = m_pending.find(e.address);
        // FAILED entries are the first the kernel reclaims when it needs room.
        if (e.state == neigh_state::failed) {
            if (mine != m_pending.end())
                failed.push_back(e.address);
            continue;
        }
        if (mine == m_pending.end()) {
            // Old STALE entries of a LAN scanned before are reclaimed as well: only the rest is occupied.
            present += e.takes_room;
            continue;
        }
        ++present;
        if (e.state == neigh_state::incomplete)
            ++ours;
        else
            resolved.push_back(e.address);
    }
    m_others = present - ours;
    // Containers and other namespaces share the table; where the machine's count can be read, what
    // this namespace does not list is theirs.
    if (m_view.machine_entries)
        if (const std::optional<int> all = m_view.machine_entries())
            m_others += std::max<std::int64_t>(0, *all - static_cast<std::int64_t>(table->size()));
    for (std::uint32_t a : resolved)
        finish(a, false); // a host is there: it may still answer
    for (std::uint32_t a : failed)
        finish(a, true);
}

void query_pacer::refresh()
{
    read_if_due(m_view.now_ns());
}

void query_pacer::finish(std::uint32_t address, bool ends_address)
{
    m_pending.erase(address);
    if (!ends_address || m_options.retries <= 0 || !m_index)
        return;
    if (const auto index = m_index(address))
        set_open(*index, false);
}

void query_pacer::set_open(std::uint64_t index, bool open)
{
    const std::uint64_t word = index / 64;
    const std::uint64_t bit = std::uint64_t{1} << (index % 64);
    if (word >= m_open.size()) {
        if (!open)
            return;
        m_open.resize(word + 1, 0);
    }
    if (open)
        m_open[word] |= bit;
    else
        m_open[word] &= ~bit;
}

std::optional<std::uint64_t> query_pacer::find_open(std::uint64_t from) const
{
    for (std::uint64_t word = from / 64; word < m_open.size(); ++word) {
        std::uint64_t bits = m_open[word];
        if (word == from / 64)
            bits &= ~std::uint64_t{0} << (from % 64);
        if (bits)
            return word * 64 + static_cast<std::uint64_t>(__builtin_ctzll(bits));
    }
    return std::nullopt;
}

query_pacer::step query_pacer::next()
{
    const std::int64_t now = m_view.now_ns();
    read_if_due(now);

    std::uint64_t index = 0;
    if (m_held_index) {
        if (now < m_retry_at_ns)
            return {step_kind::wait, *m_held_index, 0};
        index = *m_held_index;
    } else if (m_pass == 0) {
        if (m_cursor >= m_count)
            return {step_kind::pass_end, 0, 0};
        index = m_cursor;
    } else {
        const auto open = find_open(m_cursor);
        if (!open)
            return {step_kind::pass_end, 0, 0};
        index = m_cursor = *open;
    }
    const std::uint32_t destination = m_address(index);
    if (m_head_route_index != index) {
        m_head_route = m_view.route ? m_view.route(destination) : route_info{route_kind::no_neighbour, 0, 0};
        m_head_route_index = index;
    }
    if (!m_force && !room_for(*m_head_route)) {
        if (m_blocked_since_ns < 0)
            m_blocked_since_ns = now;
        if (now - m_blocked_since_ns < m_options.resend_bound_ns)
            return {step_kind::wait, index, destination};
        // Room never came: try it; a refusal now gives the address up.
        m_force = true;
        if (!m_held_index) {
            m_held_index = index;
            m_held_since_ns = m_blocked_since_ns;
        }
    }
    return {step_kind::query, index, destination};
}

void query_pacer::advance(const step& s)
{
    m_held_index.reset();
    m_blocked_since_ns = -1;
    m_force = false;
    m_head_route.reset();
    m_head_route_index.reset();
    m_cursor = s.index + 1;
    if (m_pass == 0)
        m_first_pass_done = m_cursor;
}

void query_pacer::sent(const step& s)
{
    const std::int64_t now = m_view.now_ns();
    if (m_head_route && m_head_route->kind == route_kind::on_link) {
        m_pending[s.destination] = {now, s.index};
        m_most_pending = std::max(m_most_pending, pending());
    }
    if (m_options.retries > m_pass)
        set_open(s.index, true);
    advance(s);
}

query_pacer::send_result query_pacer::send_failed(const step& s, int err, bool error_queued)
{
    const std::int64_t now = m_view.now_ns();
    const route_kind kind = m_head_route ? m_head_route->kind : route_kind::on_link;
    const auto hold = [&](std::int64_t pause_ns) {
        if (!m_held_index) {
            m_held_index = s.index;
            m_held_since_ns = now;
        }
        m_retry_at_ns = now + pause_ns;
        return send_result::resend;
    };
    // The errno of an earlier query's ICMP error, handed to this send: this one never left.
    if (err == EINTR || (error_queued && is_icmp_error(err)))
        return hold(0);
    if (is_room_refusal(err, kind)) {
        const std::int64_t held_for = m_held_index ? now - m_held_since_ns : 0;
        if (held_for < m_options.resend_bound_ns) {
            if (err != EAGAIN && err != EWOULDBLOCK && kind == route_kind::on_link) {
                // The table is fuller than the readings showed: keep more room from now on, and no more
                // on-link queries until ours shrink or the next reading.
                const neigh_limits& l = m_view.limits;
                if (m_penalty_reading != m_next_reading_ns) {
                    m_penalty_reading = m_next_reading_ns; // once per reading, not per resend
                    m_penalty = std::min<std::int64_t>(m_penalty + 32, (l.gc_thresh3 - l.gc_thresh1) / 2);
                }
                m_others = std::max<std::int64_t>(m_others, l.gc_thresh3 - reserve() - pending());
            }
            return hold(err == EAGAIN || err == EWOULDBLOCK ? ms_ns : 5 * ms_ns);
        }
        const bool buffer = err == EAGAIN || err == EWOULDBLOCK;
        m_failure_text = QStringLiteral("%1 (the %2 stayed full for %3 s)")
                             .arg(QString::fromLocal8Bit(std::strerror(err)),
                                  buffer ? QStringLiteral("send buffer") : QStringLiteral("neighbour table"))
                             .arg(held_for / 1000 / ms_ns);
        set_open(s.index, false);
        advance(s);
        return send_result::give_up;
    }
    m_failure_text = QString::fromLocal8Bit(std::strerror(err));
    set_open(s.index, false);
    advance(s);
    return send_result::failed;
}

void query_pacer::answered(std::uint32_t source)
{
    finish(source, true);
}

void query_pacer::ended(std::uint32_t destination)
{
    finish(destination, true);
}

bool query_pacer::more_passes() const
{
    return m_pass < m_options.retries && find_open(0).has_value();
}

bool query_pacer::next_pass()
{
    if (!more_passes())
        return false;
    ++m_pass;
    m_cursor = 0;
    return true;
}

std::int64_t query_pacer::wake_ns() const
{
    std::int64_t wake = m_next_reading_ns;
    if (m_held_index)
        wake = std::min(wake, m_retry_at_ns);
    if (m_blocked_since_ns >= 0)
        wake = std::min(wake, m_blocked_since_ns + m_options.resend_bound_ns);
    return wake;
}

} // namespace corvane::platform
