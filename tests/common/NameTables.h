#pragma once
// A parsed name table in NetnsLab's form, for comparing with what nmblookup reports.

#include "NetnsLab.h"

#include "netbios/netBios_types.h"

namespace corvane::test {

// The names as nmblookup prints them: up to the first zero byte, unprintables as '.', no trailing
// blanks. Empty without header or table.
inline QList<NetnsLab::NameEntry> name_table_of(const nb_status_result* r)
{
    QList<NetnsLab::NameEntry> t;
    if (!r || !r->status_header || !r->name_table)
        return t;
    for (int i = 0; i < r->status_header->name_count; ++i) {
        const nb_name_entry& e = r->name_table[i];
        QString name;
        for (char c : e.name) {
            if (c == '\0')
                break;
            const auto u = static_cast<unsigned char>(c);
            name += (u >= 0x20 && u < 0x7f) ? QChar(u) : QChar(u'.');
        }
        while (name.endsWith(QLatin1Char(' ')))
            name.chop(1);
        t << NetnsLab::NameEntry{name, e.suffix, (e.flags[0] & 0x80) != 0};
    }
    return t;
}

} // namespace corvane::test
