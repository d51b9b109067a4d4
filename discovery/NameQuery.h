#pragma once
// Names of devices from every protocol but NetBIOS, asked side by side: one mDNS datagram (unicast
// reverse PTR to the device's port 5353), one LLMNR datagram (reverse PTR to port 5355) per address,
// and a reverse lookup through the system resolver, all at once; no serial waits.
//
// The mDNS query goes from an ephemeral port, a "legacy unicast" query (RFC 6762 section 6.7): Avahi
// answers it straight back to that port with our id and the question repeated; a QU query from port
// 5353 it does not answer by unicast. An ICMP error for a datagram ends the wait for that answer.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <map>
#include <vector>

namespace corvane::discovery {

enum class name_source : std::uint8_t { netbios, mdns, llmnr, dns };
// "netbios", "mdns", "llmnr", "dns": the words of corvane-scan's json and of the Source column.
const char* name_source_word(name_source source);

struct found_name
{
    QByteArray name; // as received: a DNS name without the final dot, or a NetBIOS name's display bytes
    name_source source = name_source::dns;
    bool operator==(const found_name&) const = default;
};

struct name_query_options
{
    int timeout_ms = 1000; // how long to wait for the last answers after the last datagram
    int rate = 1000;       // datagrams per second, as the scan paces its queries
    bool mdns = true;
    bool llmnr = true;
    bool dns = true;
    std::uint16_t mdns_port = 5353;  // tests may point them elsewhere on loopback
    std::uint16_t llmnr_port = 5355;
};

// Asks every address (network order) for its names. An answer counts only from the address asked,
// with the id of the query sent to it, for the name asked; each address keeps at most a few names per
// source, so a flood cannot grow memory. stop (any thread) ends the waiting at once. Key: address
// in network order; an address that nobody named has no entry.
std::map<std::uint32_t, std::vector<found_name>> ask_names(const std::vector<std::uint32_t>& addresses,
                                                           const name_query_options& options,
                                                           const std::atomic<bool>* stop = nullptr);

} // namespace corvane::discovery
