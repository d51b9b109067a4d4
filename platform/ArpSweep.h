#pragma once
// Address resolution of our own: ARP who-has frames sent and read through an AF_PACKET socket bound
// to one interface. A sweep of a flat network then never fills the machine's neighbour table with
// empty addresses; the only entries it causes are those of hosts that answered (when we later talk
// to them). Needs CAP_NET_RAW; without it callers keep the kernel's resolution.

#include "platform/Neighbour.h"

#include <QString>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvane::platform {

// Ethernet header (14) and the ARP payload for Ethernet/IPv4 (28); the kernel pads to 60.
inline constexpr std::size_t arp_frame_size = 42;
using arp_frame = std::array<std::uint8_t, arp_frame_size>;

// "Who has target_ip? Tell sender_ip": broadcast destination, EtherType 0x0806, opcode 1, the
// target hardware address zero. Addresses in network order.
arp_frame build_arp_request(const mac_bytes& sender_mac, std::uint32_t sender_ip, std::uint32_t target_ip);

struct arp_reply
{
    std::uint32_t sender_ip = 0; // network order
    mac_bytes sender_mac {};
    constexpr bool operator==(const arp_reply&) const = default;
};

// An ARP reply (Ethernet/IPv4, opcode 2) from a frame as a packet socket gives it, Ethernet header
// included; none for any other frame, a short one, a sender address (IPv4 or MAC) of all zeros or
// broadcast, a multicast sender MAC, or a gratuitous announcement (sender address = target address).
std::optional<arp_reply> parse_arp_reply(const std::uint8_t* frame, std::size_t length);

// Whether this process may open a packet socket: CAP_NET_RAW in its permitted set (root has it; so has
// a program given `setcap cap_net_raw+p`). The sweep raises it to effective only around opening its
// socket, on the calling thread, and lowers it again.
bool can_resolve_addresses();

// An interface as a sweep needs it: where to send from and which subnet replies may come from.
struct arp_interface
{
    int ifindex = 0;
    QString name;
    mac_bytes mac {};
    std::uint32_t address = 0; // network order: the interface's own IPv4 address on that subnet
    std::uint32_t netmask = 0; // network order
};
// The interface with that index, if it is up, has ARP (an Ethernet-like link) and an IPv4 address.
std::optional<arp_interface> arp_interface_by_index(int ifindex);

struct arp_sweep_options
{
    int rate = 1000;                        // frames per second (1..100000)
    int tries = 2;                          // the second try goes only to the silent addresses
    std::int64_t wait_ns = 1'000'000'000;   // how long to wait for late replies after the last frame
    std::function<bool()> stopped;          // besides stop: asked between frames and while waiting
    // After each first frame to an address and each first reply: addresses asked so far and answered.
    std::function<void(std::size_t asked, std::size_t answered)> progress;
};

// One sweep of addresses on one interface. Blocking; meant for a scan's own thread.
class arp_sweep
{
public:
    // Opens and binds the packet socket; nothing, with the reason in why, when it cannot.
    static std::unique_ptr<arp_sweep> open(const arp_interface& iface, QString* why);
    ~arp_sweep();
    arp_sweep(const arp_sweep&) = delete;
    arp_sweep& operator=(const arp_sweep&) = delete;

    // Sends one request per address (network order, on the interface's subnet) at options.rate,
    // a further try for those still silent, and waits options.wait_ns after the last frame. on_reply
    // runs on the calling thread for the first reply from each address of the list; a reply from an
    // address not asked, a repeated or gratuitous one is dropped. stop (any thread) ends the sending
    // at once and the wait. Gives every first reply, in order of arrival.
    std::vector<arp_reply> run(const std::vector<std::uint32_t>& addresses, const arp_sweep_options& options,
                               const std::function<void(const arp_reply&)>& on_reply = {},
                               const std::atomic<bool>* stop = nullptr);

    const arp_interface& interface() const { return m_iface; }

private:
    arp_sweep(int fd, arp_interface iface);
    int m_fd = -1;
    arp_interface m_iface;
};

// What address resolution of our own found in a set of addresses.
struct arp_survey
{
    bool ran = false;                     // false: no capability or no packet socket; nothing swept
    QString why;                          // when not ran: the reason, for a note
    std::vector<arp_reply> replies;       // hosts that answered, on every interface swept
    std::vector<std::uint32_t> swept;     // the on-link addresses that were asked (network order, ascending)
};
// The on-link addresses of one interface, in the order given.
struct on_link_part
{
    int ifindex = 0;
    std::vector<std::uint32_t> addresses; // network order
};
// Walks count addresses (address(i), network order) through a route_oracle of the calling thread's
// namespace: on-link ones grouped by interface; every other one (routed, local, unreachable, or
// when rtnetlink fails) goes to other.
std::vector<on_link_part> split_on_link(std::uint64_t count, const std::function<std::uint32_t(std::uint64_t)>& address,
                                        const std::function<void(std::uint32_t)>& other = {});
// Sweeps the parts as below: all or nothing (ran is false when any interface cannot be swept).
// Addresses outside their interface's subnet are not asked and not in swept.
arp_survey resolve_on_link(const std::vector<on_link_part>& parts, const arp_sweep_options& options,
                           const std::function<void(const arp_reply&)>& on_reply = {},
                           const std::atomic<bool>* stop = nullptr);

// Splits addresses (network order) by route_oracle: each on-link interface's addresses are swept
// with arp_sweep (one interface after the other); routed, local and unreachable ones are left to the
// caller. Addresses that are the interface's own are not asked.
arp_survey resolve_on_link(const std::vector<std::uint32_t>& addresses, const arp_sweep_options& options,
                           const std::function<void(const arp_reply&)>& on_reply = {},
                           const std::atomic<bool>* stop = nullptr);

} // namespace corvane::platform
