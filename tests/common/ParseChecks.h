#pragma once
// What must hold for every result of parse_response, whatever bytes it was given. Shared by the
// robustness test and the fuzz target, so it needs nothing but the standard library.
//
// The walk is redone here from the wire layout alone: each field is read only while at least one
// byte follows it. Every field inside parsed_length must hold the datagram's value (network order
// turned to host order), every field beyond it 0, and the references must match how far the walk got.

#include "netbios/netBios_types.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace corvane::test {

namespace parse_checks_detail {

inline std::uint32_t be(const std::uint8_t* at, int width)
{
    std::uint32_t v = 0;
    for (int i = 0; i < width; ++i)
        v = (v << 8) | at[i];
    return v;
}

inline std::string fail(const char* what, long long got, long long want)
{
    char text[160];
    std::snprintf(text, sizeof text, "%s: got %lld, want %lld", what, got, want);
    return text;
}

} // namespace parse_checks_detail

// Empty when the result is sound for these bytes, otherwise what is wrong. data may be null (then
// nothing may have been read), length may be negative.
inline std::string check_parse_result(const std::uint8_t* data, std::int32_t length, const nb_status_result* r)
{
    using namespace parse_checks_detail;
    if (!r)
        return "no result";
    const std::int64_t len = (data && length > 0) ? length : 0;

    // Expected stop position.
    std::int64_t p = 0;
    bool stopped = false;
    const auto step = [&](std::int64_t width) {
        if (stopped || !(len > p + width))
            stopped = true;
        else
            p += width;
        return !stopped;
    };
    static constexpr int header_widths[] = {2, 2, 2, 2, 2, 2, 34, 2, 2, 4, 2, 1};
    for (int w : header_widths)
        step(w);
    const int n = p == 57 ? data[56] : 0; // the name count was read
    bool table_read = false;
    if (!stopped && n > 0)
        table_read = step(18 * n);
    const std::int64_t s = 57 + 18 * n;
    static constexpr int stats_widths[] = {6, 1, 1, 2, 2, 2, 2, 2, 4, 4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2};
    for (int w : stats_widths)
        step(w);

    if (r->parsed_length < 0 || r->parsed_length > len)
        return fail("parsed_length outside the datagram", r->parsed_length, len);
    if (r->parsed_length != p)
        return fail("parsed_length", r->parsed_length, p);

    if ((r->status_header != nullptr) != (p >= 2))
        return fail("status_header present", r->status_header != nullptr, p >= 2);
    if ((r->name_table != nullptr) != table_read)
        return fail("name_table present", r->name_table != nullptr, table_read);
    const bool stats_read = p >= s + 6;
    if ((r->adapter_stats != nullptr) != stats_read)
        return fail("adapter_stats present", r->adapter_stats != nullptr, stats_read);

    // A field at offset `at` of `width` bytes holds the wire value when the walk passed it, else 0.
    const auto want = [&](std::int64_t at, int width) -> std::uint32_t {
        return at + width <= p ? be(data + at, width) : 0;
    };
    if (const nb_status_header* h = r->status_header) {
        struct
        {
            const char* name;
            std::uint32_t got;
            int at, width;
        } const fields[] = {
            {"transaction_id", h->transaction_id, 0, 2},  {"header_flags", h->header_flags, 2, 2},
            {"question_count", h->question_count, 4, 2},  {"answer_count", h->answer_count, 6, 2},
            {"authority_count", h->authority_count, 8, 2}, {"additional_count", h->additional_count, 10, 2},
            {"rr_type", h->rr_type, 46, 2},               {"rr_class", h->rr_class, 48, 2},
            {"time_to_live", h->time_to_live, 50, 4},     {"rdata_length", h->rdata_length, 54, 2},
            {"name_count", h->name_count, 56, 1},
        };
        for (const auto& f : fields)
            if (f.got != want(f.at, f.width))
                return fail(f.name, f.got, want(f.at, f.width));
        if (h->rr_name[34] != '\0')
            return "rr_name not terminated";
        char name[35] = {};
        if (p >= 46)
            for (int i = 0; i < 34 && data[12 + i] != 0; ++i)
                name[i] = static_cast<char>(data[12 + i]);
        if (std::memcmp(name, h->rr_name, sizeof name) != 0)
            return "rr_name differs from the answer name";
    }
    if (r->name_table && std::memcmp(r->name_table, data + 57, static_cast<std::size_t>(18 * n)) != 0)
        return "name_table differs from the datagram";
    if (const nb_adapter_stats* a = r->adapter_stats) {
        if (std::memcmp(a->mac_address, data + s, 6) != 0)
            return "mac_address differs from the datagram";
        struct
        {
            const char* name;
            std::uint32_t got;
            int at, width;
        } const fields[] = {
            {"jumpers", a->jumpers, 6, 1},
            {"test_result", a->test_result, 7, 1},
            {"version_number", a->version_number, 8, 2},
            {"statistics_period", a->statistics_period, 10, 2},
            {"crc_count", a->crc_count, 12, 2},
            {"alignment_errors", a->alignment_errors, 14, 2},
            {"collisions", a->collisions, 16, 2},
            {"counter32[0]", a->counter32[0], 18, 4},
            {"counter32[1]", a->counter32[1], 22, 4},
        };
        for (const auto& f : fields)
            if (f.got != want(s + f.at, f.width))
                return fail(f.name, f.got, want(s + f.at, f.width));
        for (int i = 0; i < 12; ++i) {
            if (a->counter16[i] != want(s + 26 + 2 * i, 2)) {
                char name[16];
                std::snprintf(name, sizeof name, "counter16[%d]", i);
                return fail(name, a->counter16[i], want(s + 26 + 2 * i, 2));
            }
        }
    }
    return {};
}

} // namespace corvane::test
