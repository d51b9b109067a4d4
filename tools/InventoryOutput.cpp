#include "tools/InventoryOutput.h"

#include "discovery/DeviceRows.h"
#include "support/ResultRows.h"
#include "support/ResultText.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace corvane::scan {

namespace {

using corvane::inventory::TInventoryDevice;
using corvane::inventory::TNameSeen;

enum TColumn { ColMac, ColVendor, ColAddress, ColFirst, ColLast, ColSeen, ColState, ColNames, ColumnCount };

const char* const kHeadings[ColumnCount]
    = {"MAC", "Vendor", "Address", "First seen", "Last seen", "Seen", "State", "Names"};

QString utc_text(const QDateTime& t)
{
    return t.isValid() ? t.toUTC().toString(Qt::ISODate) : QString();
}

QString name_text(const TNameSeen& n)
{
    return corvane::discovery::found_name_text(corvane::discovery::found_name {n.name, n.source});
}

// Every name the device had, latest first; printable for a line of text, else exact.
QString names_text(const TInventoryDevice& d, bool printable)
{
    QStringList names;
    for (const TNameSeen& n : d.names)
        names << (printable ? printable_name(name_text(n)) : name_text(n));
    return names.join(QStringLiteral(", "));
}

QStringList row_cells(const TInventoryDevice& d, bool printable)
{
    return {d.mac ? mac_address_text(*d.mac) : QString(),
            d.vendor,
            ipv4::dotted(d.lastAddress),
            utc_text(d.firstSeen),
            utc_text(d.lastSeen),
            QString::number(d.timesSeen),
            d.gone ? QStringLiteral("gone") : QStringLiteral("present"),
            names_text(d, printable)};
}

QStringList headings()
{
    QStringList h;
    for (const char* text : kHeadings)
        h << QLatin1String(text);
    return h;
}

QString txt_line(const QStringList& cells)
{
    static constexpr int widths[ColumnCount - 1] = {18, 24, 16, 21, 21, 7, 8};
    return column_line(cells, widths) + QStringLiteral("\r\n");
}

} // namespace

QByteArray inventory_devices_txt(const std::vector<TInventoryDevice>& devices)
{
    QString out = txt_line(headings());
    for (const TInventoryDevice& d : devices)
        out += txt_line(row_cells(d, true));
    return out.toUtf8();
}

QByteArray inventory_devices_csv(const std::vector<TInventoryDevice>& devices)
{
    QByteArray out = csv_record(headings());
    for (const TInventoryDevice& d : devices) {
        QStringList cells = row_cells(d, false);
        // The names are the peers' words; the vendor is the registry's.
        cells[ColNames] = csv_peer_text(cells[ColNames]);
        out += csv_record(cells);
    }
    return out;
}

QByteArray inventory_devices_json(const std::vector<TInventoryDevice>& devices)
{
    // By hand, to keep the fields in their documented order; values escaped by QJson.
    const auto value = [](const QJsonValue& v) -> QByteArray {
        const QByteArray a = QJsonDocument(QJsonArray {v}).toJson(QJsonDocument::Compact);
        return a.mid(1, a.size() - 2);
    };
    QByteArray out = "[";
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const TInventoryDevice& d = devices[i];
        QList<QByteArray> names;
        for (const TNameSeen& n : d.names)
            names << "{\"name\": " + value(name_text(n))
                    + ", \"source\": " + value(QLatin1String(corvane::discovery::name_source_word(n.source)))
                    + ", \"last_seen\": " + value(utc_text(n.lastSeen)) + '}';
        out += (i ? ",\n    " : "\n    ") + QByteArray("{\"mac\": ")
            + value(d.mac ? QJsonValue(mac_address_text(*d.mac)) : QJsonValue()) + ", \"vendor\": " + value(d.vendor)
            + ", \"address\": " + value(ipv4::dotted(d.lastAddress))
            + ", \"name\": " + value(corvane::discovery::found_name_text(d.name)) + ", \"names\": [" + names.join(", ")
            + "], \"first_seen\": " + value(utc_text(d.firstSeen)) + ", \"last_seen\": " + value(utc_text(d.lastSeen))
            + ", \"times_seen\": " + QByteArray::number(d.timesSeen)
            + ", \"state\": " + value(d.gone ? QStringLiteral("gone") : QStringLiteral("present")) + '}';
    }
    out += devices.empty() ? "]\n" : "\n]\n";
    return out;
}

} // namespace corvane::scan
