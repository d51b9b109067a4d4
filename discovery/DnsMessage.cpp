#include "discovery/DnsMessage.h"

#include <QByteArrayList>

namespace corvane::discovery {

namespace {

constexpr std::size_t header_size = 12;
constexpr std::size_t max_name_wire = 255; // RFC 1035: a name's labels and lengths, final zero included
// Each pointer must point before the last one, so a walk ends anyway; the limit only keeps it short.
constexpr int max_pointer_hops = 32;
constexpr std::uint16_t type_ptr = 12;
constexpr std::uint16_t class_in = 1;

std::uint16_t read16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

void append16(QByteArray& out, std::uint16_t v)
{
    out.append(static_cast<char>(v >> 8));
    out.append(static_cast<char>(v & 0xFF));
}

// Reads the name at offset into out (labels joined by '.'); end is where the record goes on (after
// the first pointer or the final zero). False for anything malformed.
bool read_name(const std::uint8_t* data, std::size_t length, std::size_t offset, QByteArray& out, std::size_t& end)
{
    out.clear();
    std::size_t pos = offset;
    std::size_t wire = 0;
    std::size_t limit = offset; // a pointer must go before every place read so far
    bool jumped = false;
    int hops = 0;
    for (;;) {
        if (pos >= length)
            return false;
        const std::uint8_t len = data[pos];
        if ((len & 0xC0) == 0xC0) {
            if (pos + 1 >= length)
                return false;
            const std::size_t target = static_cast<std::size_t>(read16(data + pos) & 0x3FFF);
            if (!jumped)
                end = pos + 2;
            if (target < header_size || target >= limit || ++hops > max_pointer_hops)
                return false;
            jumped = true;
            limit = target;
            pos = target;
            continue;
        }
        if ((len & 0xC0) != 0)
            return false; // 0x40 and 0x80: extended and reserved label types
        wire += 1u + len;
        if (wire > max_name_wire)
            return false;
        if (len == 0) {
            if (!jumped)
                end = pos + 1;
            return true;
        }
        if (pos + 1 + len > length)
            return false;
        if (!out.isEmpty())
            out.append('.');
        out.append(reinterpret_cast<const char*>(data + pos + 1), len);
        pos += 1u + len;
    }
}

bool same_name(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

} // namespace

QByteArray reverse_name(std::uint32_t address)
{
    const auto* b = reinterpret_cast<const std::uint8_t*>(&address);
    QByteArray out;
    for (int i = 3; i >= 0; --i) {
        out.append(QByteArray::number(b[i]));
        out.append('.');
    }
    out.append("in-addr.arpa");
    return out;
}

QByteArray build_ptr_query(std::uint16_t id, const QByteArray& name, bool unicast_response)
{
    QByteArray out;
    append16(out, id);
    append16(out, 0); // a standard query, recursion desired clear
    append16(out, 1);
    append16(out, 0);
    append16(out, 0);
    append16(out, 0);
    for (const QByteArray& label : name.split('.')) {
        if (label.isEmpty() || label.size() > 63)
            return {};
        out.append(static_cast<char>(label.size()));
        out.append(label);
    }
    out.append('\0');
    if (static_cast<std::size_t>(out.size()) - header_size > max_name_wire)
        return {};
    append16(out, type_ptr);
    append16(out, static_cast<std::uint16_t>(class_in | (unicast_response ? 0x8000 : 0)));
    return out;
}

std::optional<dns_ptr_answer> read_ptr_answer(const std::uint8_t* data, std::size_t length, const QByteArray& asked)
{
    if (!data || length < header_size)
        return std::nullopt;
    const std::uint16_t flags = read16(data + 2);
    if (!(flags & 0x8000) || ((flags >> 11) & 0xF) != 0)
        return std::nullopt;
    dns_ptr_answer answer;
    answer.id = read16(data);
    answer.rcode = static_cast<std::uint8_t>(flags & 0xF);
    const unsigned questions = read16(data + 4);
    const unsigned answers = read16(data + 6);

    std::size_t pos = header_size;
    QByteArray name;
    bool asked_seen = questions == 0; // mDNS answers may carry no question
    for (unsigned i = 0; i < questions; ++i) {
        if (!read_name(data, length, pos, name, pos) || pos + 4 > length)
            return std::nullopt;
        if (read16(data + pos) == type_ptr && (read16(data + pos + 2) & 0x7FFF) == class_in && same_name(name, asked))
            asked_seen = true;
        pos += 4;
    }
    if (!asked_seen)
        return std::nullopt;

    QByteArray target;
    for (unsigned i = 0; i < answers; ++i) {
        if (!read_name(data, length, pos, name, pos) || pos + 10 > length)
            return std::nullopt;
        const std::uint16_t type = read16(data + pos);
        const std::uint16_t klass = read16(data + pos + 2) & 0x7FFF; // mDNS's cache-flush bit
        const std::size_t rdlength = read16(data + pos + 8);
        const std::size_t rdata = pos + 10;
        if (rdata + rdlength > length)
            return std::nullopt;
        if (type == type_ptr && klass == class_in && same_name(name, asked)) {
            std::size_t end = 0;
            if (!read_name(data, length, rdata, target, end) || end > rdata + rdlength)
                return std::nullopt;
            answer.names.push_back(target);
        }
        pos = rdata + rdlength;
    }
    return answer;
}

} // namespace corvane::discovery
