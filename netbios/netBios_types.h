#pragma once
// Records of the NetBIOS node-status exchange (RFC 1002 NODE STATUS REQUEST / RESPONSE).

#include <cstdint>

// One name-table entry, kept exactly as on the wire.
struct nb_name_entry
{
    char name[15];         // name characters, space padded, sender's OEM code page
    std::uint8_t suffix;   // service type
    std::uint8_t flags[2]; // name_flags in wire order: [0] is the high byte (group bit 0x80 ...)
};
static_assert(sizeof(nb_name_entry) == 18, "nb_name_entry must match the wire layout");

struct nb_status_header
{
    std::uint16_t transaction_id;
    std::uint16_t header_flags;
    std::uint16_t question_count;
    std::uint16_t answer_count;
    std::uint16_t authority_count;
    std::uint16_t additional_count;
    char rr_name[35]; // answer name up to its first zero byte, at most 34 bytes, zero terminated
    std::uint16_t rr_type;
    std::uint16_t rr_class;
    std::uint32_t time_to_live;
    std::uint16_t rdata_length;
    std::uint8_t name_count;
};

struct nb_adapter_stats
{
    std::uint8_t mac_address[6];
    std::uint8_t jumpers;
    std::uint8_t test_result;
    std::uint16_t version_number;
    std::uint16_t statistics_period;
    std::uint16_t crc_count;
    std::uint16_t alignment_errors;
    std::uint16_t collisions;
    std::uint32_t counter32[2];
    std::uint16_t counter16[12];
};

// The parsed form of one answer. Made by parse_response, released as a whole by release_result.
struct nb_status_result
{
    nb_status_header* status_header;  // present once the transaction id was read
    nb_name_entry* name_table;        // status_header->name_count entries, present once all were copied
    nb_adapter_stats* adapter_stats;  // present once the adapter address was read
    std::int32_t parsed_length;       // datagram bytes consumed before parsing stopped
};

// A row of the suffix tables.
struct nb_service
{
    std::uint8_t suffix;
    const char* text;
};
