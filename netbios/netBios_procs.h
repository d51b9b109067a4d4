#pragma once
// Node-status query and response (RFC 1002) and the decoding of name-table entries.

#include "netbios/netBios_types.h"

#include <QString>

#include <cstdint>
#include <memory>

// Bytes of the node-status query datagram.
inline constexpr int nb_query_length = 50;
// The UDP port of the NetBIOS name service.
inline constexpr std::uint16_t nb_name_service_port = 137;

// Encodes name (first-level encoding of RFC 1001) into dest, which must hold at least 34 bytes:
// the length byte 0x20, 32 letters and a terminating zero. "*" is the wildcard name and ignores
// suffix. Returns the length up to the terminating zero (33).
int encode_netbios_name(const char* name, char* dest, std::uint8_t suffix);

// Builds the node-status query for the wildcard name with the given transaction id.
void build_status_query(std::uint16_t transaction_id, std::uint8_t (&query)[nb_query_length]);

// Sends the node-status query to address:137 (address in network order) on a UDP socket.
// Returns -1 when the send fails, otherwise 0.
int send_status_query(int socket, std::uint32_t address, std::uint16_t transaction_id);

// Parses one received datagram. Trusts the content and checks only that the datagram is long enough
// for each field; a short datagram gives a partial result (see parsed_length). Returns nullptr only
// when memory cannot be obtained.
nb_status_result* parse_response(const void* data, std::int32_t length);

// Releases a result from parse_response with every block it references. Null is allowed.
void release_result(nb_status_result* result);

// Owns one result and releases it with release_result.
struct TResultDeleter
{
    void operator()(nb_status_result* r) const { release_result(r); }
};
using TResultPtr = std::unique_ptr<nb_status_result, TResultDeleter>;

// Unaligned network-order readers; the value comes back in host order.
std::uint16_t read_net_u16(const void* at);
std::uint32_t read_net_u32(const void* at);

// Decoders of one name-table entry; they read only the suffix and the first (high) flag byte.
bool is_unique_name(std::uint8_t flags);
QString name_flags_text(std::uint8_t flags);
// The service of a suffix from unique_services or group_services; "" when neither row matches.
const char* suffix_service_name(std::uint8_t suffix, bool unique);

extern const char* const node_type_names[4];
extern const nb_service unique_services[26];
extern const nb_service group_services[6];
