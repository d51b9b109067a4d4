#pragma once
// The DNS messages that name a device by its address: a reverse PTR query ("4.3.2.10.in-addr.arpa")
// as mDNS (unicast to port 5353) and LLMNR (port 5355) carry it, and the reader of their answers.
// Answers come from strangers: the reader walks labels with bounds, follows compression pointers only
// backwards with a hop limit, and never reads past the datagram.

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace corvane::discovery {

// "d.c.b.a.in-addr.arpa" for a.b.c.d (address in network order), without the final dot.
QByteArray reverse_name(std::uint32_t address);

// A standard query for name, type PTR (12), class IN; unicast_response sets the top bit of the
// class (mDNS's "QU" question, RFC 6762 section 5.4). Recursion desired stays clear.
QByteArray build_ptr_query(std::uint16_t id, const QByteArray& name, bool unicast_response);

struct dns_ptr_answer
{
    std::uint16_t id = 0;
    std::uint8_t rcode = 0;
    // The PTR targets of answer records whose owner is the asked name (case-insensitive), labels
    // joined by '.', without the final dot, bytes exactly as sent (any byte may occur).
    std::vector<QByteArray> names;
};

// Reads a response (QR set, opcode 0) to a PTR query for asked; none for a query, another opcode, a
// message that is cut short or malformed, or one whose question is not asked. A name longer than
// 255 bytes or a pointer loop makes the message malformed. A response without a question (as mDNS
// multicast answers are) is read too; the records' owner must still be asked.
std::optional<dns_ptr_answer> read_ptr_answer(const std::uint8_t* data, std::size_t length, const QByteArray& asked);

} // namespace corvane::discovery
