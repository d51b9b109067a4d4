#pragma once
// The kernel's neighbour (ARP) table and routing table, as a scan needs to see them.
//
// Every query to an on-link address needs an entry in the neighbour table. That table is one for the
// whole machine, shared by every network namespace and capped at gc_thresh3 entries; an address no
// host answers keeps its entry pending (INCOMPLETE) for about 3 s, and a full table makes the kernel
// drop new packets. A scan therefore asks what a destination costs before it sends, and keeps its
// pending resolutions within the table's free room.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace corvane::platform {

using mac_bytes = std::array<std::uint8_t, 6>;

enum class neigh_state : std::uint8_t {
    incomplete, // resolution pending: INCOMPLETE (the kernel still probes)
    resolved,   // REACHABLE, STALE, DELAY, PROBE, PERMANENT: a host answered
    failed,     // FAILED: nobody answered; the kernel reclaims such entries when it needs room
    other       // NOARP, NONE and what else the kernel may add
};

struct neigh_entry
{
    std::uint32_t address = 0; // network order
    int ifindex = 0;
    neigh_state state = neigh_state::other;
    std::optional<mac_bytes> lladdr; // the link-layer address, when the entry has one
};

// The IPv4 entries of this network namespace's neighbour table (an rtnetlink RTM_GETNEIGH dump);
// none when rtnetlink cannot be asked.
std::optional<std::vector<neigh_entry>> read_neighbours();

struct neigh_limits
{
    int gc_thresh1 = 128;  // below this the kernel never collects: room it keeps for the machine
    int gc_thresh3 = 1024; // the hard cap of the machine-wide table
    // False inside a network namespace of its own: the machine-wide files are absent there, the limits
    // above are then the kernel's defaults, and other namespaces' entries cannot be seen.
    bool machine_wide = true;
};
// /proc/sys/net/ipv4/neigh/default/gc_thresh1 and gc_thresh3, or the kernel's defaults.
neigh_limits read_neigh_limits();

// How many entries the machine-wide table holds now, every namespace's together: the first column of
// /proc/net/stat/arp_cache. Only the machine's first namespace has that file: none elsewhere.
std::optional<int> read_neigh_entries();

// How long an address that no host answers keeps its entry pending on the interface, in
// milliseconds: the probes it sends (mcast_solicit + app_solicit) times retrans_time_ms, from
// /proc/sys/net/ipv4/neigh/IFACE/; 3000 on Linux defaults and when the files cannot be read.
std::int64_t resolution_time_ms(int ifindex);

enum class route_kind : std::uint8_t {
    on_link,      // an interface with address resolution: the query needs an entry of its own
    routed,       // through a gateway: the scan's queries cost one entry, the gateway's
    no_neighbour, // this machine, loopback, broadcast, an interface without ARP: no entry needed
    unreachable   // no route, or a route that refuses (blackhole, unreachable, prohibit)
};

struct route_info
{
    route_kind kind = route_kind::unreachable;
    int ifindex = 0;
    std::uint32_t gateway = 0; // network order; 0 unless routed
};

// What sending to a destination costs, from the routing table (RTM_GETROUTE) and the interfaces'
// flags. Keeps one rtnetlink socket and what it has learned of interfaces; one object per thread.
// The socket sees the network namespace of the thread that made the oracle. Should rtnetlink fail,
// route() answers on_link with ifindex 0: the cautious guess, which costs pacing but no query.
class route_oracle
{
public:
    route_oracle();
    ~route_oracle();
    route_oracle(const route_oracle&) = delete;
    route_oracle& operator=(const route_oracle&) = delete;

    route_info route(std::uint32_t destination); // network order
    // The same for many destinations, with far fewer system calls; one answer per destination, in order.
    std::vector<route_info> route_many(const std::vector<std::uint32_t>& destinations);

private:
    route_info classify(int error, unsigned type, route_info info);
    struct state;
    std::unique_ptr<state> m_state;
};

} // namespace corvane::platform
