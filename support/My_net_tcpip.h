#pragma once
// Small synchronous TCP/IP helpers: interface list, local address, dotted text, host-name lookups.
// None of them raises; failures come back as values (empty text, 0, "0.0.0.0").

#include <QString>

#include <cstdint>
#include <vector>

// One IPv4 address of an interface.
struct interface_entry
{
    std::uint32_t address; // network order
    std::uint32_t netmask; // network order
    std::uint32_t flags;   // the interface's IFF_* flags
};

// In the system's order; as long as the system's list.
using interface_list = std::vector<interface_entry>;

// Kept for the callers' start-up and close sequence; POSIX sockets need neither: both return 0.
int winsock_startup();
int winsock_cleanup();

// Fills list with every IPv4 address of the machine and sets count. On failure both stay as they were.
void get_interface_list(std::int32_t& count, interface_list& list);

// value in host order (first octet most significant).
QString ip_to_dotted(std::uint32_t value);

// The machine's own address on its LAN, network order: the host name's first IPv4 address when it is
// not in 127.0.0.0/8 and an interface that is up carries it; else the address the default route
// leaves from; else the first non-loopback interface that is up; loopback only when nothing else is
// up. With no interface up, the host name's address (0 when there is none).
std::uint32_t get_local_ip();

// Reverse lookup of an address in network order: the host's name, or the empty text.
QString ip_to_host_name(std::uint32_t address);

// Reverse lookup of dotted text (parsed like inet_addr, so bad text is looked up as 255.255.255.255).
QString ip_text_to_host_name(const QString& text);

// Forward lookup: the first IPv4 address in host order, or 0.
std::uint32_t host_name_to_ip(const QString& name);

// Forward lookup as dotted text; "0.0.0.0" when the name does not resolve.
QString host_name_to_ip_text(const QString& name);
