#include "netbios/netBios_procs.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <new>

#include <string.h> // strnlen

const char* const node_type_names[4] = {"B-node", "P-node", "M-node", "H-node"};

const nb_service unique_services[26] = {
    {0x00, "Workstation Service"},
    {0x01, "Messenger Service"},
    {0x03, "Messenger Service"},
    {0x06, "RAS Server Service"},
    {0x1B, "Primary Domain Controler"},
    {0x1D, "Master Browser"},
    {0x1F, "NetDDE Service"},
    {0x20, "File Server Service"},
    {0x21, "RAS Client Service"},
    {0x22, "Microsoft Exchange Interchange"},
    {0x23, "Microsoft Exchange Store"},
    {0x24, "Microsoft Exchange Directory"},
    {0x2B, "Lotus Notes Server Service"},
    {0x30, "Modem Sharing Server Service"},
    {0x31, "Modem Sharing Client Service"},
    {0x42, "McAffee Anti-Virus"},
    {0x43, "SMS Clients Remote Control"},
    {0x44, "SMS Administrators Remote Control Tool"},
    {0x45, "SMS Clients Remote Chat"},
    {0x46, "SMS Clients Remote Transfer"},
    {0x4C, "DEC Pathworks TCPIP service on Windows NT"},
    {0x52, "DEC Pathworks TCPIP service on Windows NT"},
    {0x6A, "Microsoft Exchange IMC"},
    {0x87, "Microsoft Exchange MTA"},
    {0xBE, "Network Monitor Agent"},
    {0xBF, "Network Monitor Application"},
};

const nb_service group_services[6] = {
    {0x00, "Workgroup/Domain Name"},
    {0x01, "Subnet Master Browser"},
    {0x1C, "Domain Controllers"},
    {0x1E, "Browser Service Elections"},
    {0x2F, "Lotus Notes"},
    {0x33, "Lotus Notes"},
};

std::uint16_t read_net_u16(const void* at)
{
    const auto* b = static_cast<const std::uint8_t*>(at);
    return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
}

std::uint32_t read_net_u32(const void* at)
{
    const auto* b = static_cast<const std::uint8_t*>(at);
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | b[3];
}

int encode_netbios_name(const char* name, char* dest, std::uint8_t suffix)
{
    char plain[20] = {};
    if (std::strcmp(name, "*") == 0) {
        plain[0] = '*';
    } else {
        const char suffix_text[2] = {static_cast<char>(suffix), '\0'};
        std::snprintf(plain, sizeof plain, "%-15.15s%s", name, suffix_text);
    }
    dest[0] = 0x20;
    for (int i = 0; i < 16; ++i) {
        // a-z only: toupper() follows the process locale and would change bytes above 0x7F in a Latin-1 one.
        auto c = static_cast<std::uint8_t>(plain[i]);
        if (c >= 'a' && c <= 'z')
            c = static_cast<std::uint8_t>(c - 'a' + 'A');
        dest[1 + 2 * i] = static_cast<char>('A' + (c >> 4));
        dest[2 + 2 * i] = static_cast<char>('A' + (c & 0x0F));
    }
    dest[33] = '\0';
    return static_cast<int>(std::strlen(dest));
}

static void put_u16(std::uint8_t* at, std::uint16_t value)
{
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

void build_status_query(std::uint16_t transaction_id, std::uint8_t (&query)[nb_query_length])
{
    std::memset(query, 0, sizeof query);
    put_u16(query + 0, transaction_id);
    put_u16(query + 2, 0x0010);
    put_u16(query + 4, 1);
    char encoded[34];
    encode_netbios_name("*", encoded, 0);
    std::memcpy(query + 12, encoded, 34);
    put_u16(query + 46, 0x0021);
    put_u16(query + 48, 0x0001);
}

int send_status_query(int socket, std::uint32_t address, std::uint16_t transaction_id)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(nb_name_service_port);
    to.sin_addr.s_addr = address;
    std::uint8_t query[nb_query_length];
    build_status_query(transaction_id, query);
    const ssize_t sent = ::sendto(socket, query, sizeof query, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent < 0 ? -1 : 0;
}

namespace {

// Walks a datagram field by field. A field is read only when at least one byte follows it.
class field_reader
{
public:
    field_reader(const std::uint8_t* data, std::int32_t length) : data_(data), length_(length) {}

    bool has(std::int32_t width) const { return length_ > pos_ + width; }
    std::int32_t pos() const { return pos_; }

    bool u8(std::uint8_t& out)
    {
        if (!has(1))
            return false;
        out = data_[pos_];
        pos_ += 1;
        return true;
    }
    bool u16(std::uint16_t& out)
    {
        if (!has(2))
            return false;
        out = read_net_u16(data_ + pos_);
        pos_ += 2;
        return true;
    }
    bool u32(std::uint32_t& out)
    {
        if (!has(4))
            return false;
        out = read_net_u32(data_ + pos_);
        pos_ += 4;
        return true;
    }
    bool bytes(void* out, std::int32_t width)
    {
        if (!has(width))
            return false;
        std::memcpy(out, data_ + pos_, static_cast<std::size_t>(width));
        pos_ += width;
        return true;
    }
    const std::uint8_t* here() const { return data_ + pos_; }
    void skip(std::int32_t width) { pos_ += width; }

private:
    const std::uint8_t* data_;
    std::int32_t length_;
    std::int32_t pos_ = 0;
};

// Fills the result as far as the datagram reaches. False only when the name table cannot be obtained.
bool parse_into(nb_status_result& r, nb_status_header* header, nb_adapter_stats* stats, field_reader& in)
{
    nb_status_header& h = *header;
    if (!in.u16(h.transaction_id))
        return true;
    r.status_header = header;
    if (!in.u16(h.header_flags) || !in.u16(h.question_count) || !in.u16(h.answer_count)
        || !in.u16(h.authority_count) || !in.u16(h.additional_count))
        return true;

    constexpr std::int32_t name_width = 34;
    if (!in.has(name_width))
        return true;
    const auto* name = reinterpret_cast<const char*>(in.here());
    std::memcpy(h.rr_name, name, ::strnlen(name, name_width));
    in.skip(name_width);

    if (!in.u16(h.rr_type) || !in.u16(h.rr_class) || !in.u32(h.time_to_live) || !in.u16(h.rdata_length)
        || !in.u8(h.name_count))
        return true;

    if (h.name_count > 0) {
        const std::int32_t table_width = 18 * h.name_count;
        if (!in.has(table_width))
            return true;
        auto* table = new (std::nothrow) nb_name_entry[h.name_count];
        if (!table)
            return false;
        in.bytes(table, table_width);
        r.name_table = table;
    }

    nb_adapter_stats& s = *stats;
    if (!in.bytes(s.mac_address, sizeof s.mac_address))
        return true;
    r.adapter_stats = stats;
    if (!in.u8(s.jumpers) || !in.u8(s.test_result) || !in.u16(s.version_number) || !in.u16(s.statistics_period)
        || !in.u16(s.crc_count) || !in.u16(s.alignment_errors) || !in.u16(s.collisions))
        return true;
    for (std::uint32_t& c : s.counter32)
        if (!in.u32(c))
            return true;
    for (std::uint16_t& c : s.counter16)
        if (!in.u16(c))
            return true;
    return true;
}

} // namespace

nb_status_result* parse_response(const void* data, std::int32_t length)
{
    auto* result = new (std::nothrow) nb_status_result{};
    auto* header = new (std::nothrow) nb_status_header{};
    auto* stats = new (std::nothrow) nb_adapter_stats{};
    if (!result || !header || !stats) {
        delete result;
        delete header;
        delete stats;
        return nullptr;
    }
    field_reader in(static_cast<const std::uint8_t*>(data), data ? length : 0);
    if (!parse_into(*result, header, stats, in)) {
        delete header;
        delete stats;
        delete result;
        return nullptr;
    }
    result->parsed_length = in.pos();
    if (!result->status_header)
        delete header;
    if (!result->adapter_stats)
        delete stats;
    return result;
}

void release_result(nb_status_result* result)
{
    if (!result)
        return;
    delete result->status_header;
    delete[] result->name_table;
    delete result->adapter_stats;
    delete result;
}

bool is_unique_name(std::uint8_t flags)
{
    return (flags & 0x80) == 0;
}

QString name_flags_text(std::uint8_t flags)
{
    QString text;
    const auto append = [&text](const char* word) {
        if (!word)
            return;
        if (text.isEmpty())
            text = QLatin1String(word);
        else
            text += QLatin1Char(' ') + QLatin1String(word);
    };
    append((flags & 0x80) ? "GROUP " : "UNIQUE");
    text += QLatin1Char(' ') + QLatin1String(node_type_names[(flags >> 5) & 3]) + QLatin1Char(' ');
    append((flags & 0x10) ? "Deregistering" : "Registered");
    append((flags & 0x08) ? "Conflict" : nullptr);
    append((flags & 0x04) ? "Active" : "Inactive");
    append((flags & 0x02) ? "Permanent" : nullptr);
    return text;
}

const char* suffix_service_name(std::uint8_t suffix, bool unique)
{
    const auto lookup = [suffix](const auto& table) -> const char* {
        for (const nb_service& row : table)
            if (row.suffix == suffix)
                return row.text;
        return "";
    };
    return unique ? lookup(unique_services) : lookup(group_services);
}
