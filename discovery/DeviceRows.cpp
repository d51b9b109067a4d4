#include "discovery/DeviceRows.h"

#include "platform/OemText.h"
#include "support/ResultRows.h"
#include "support/ResultText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringDecoder>

namespace corvane::discovery {

namespace {

QString best_text(const TDevice& device)
{
    const found_name* best = best_name(device);
    return best ? printable_name(found_name_text(*best)) : QString();
}

// "%-16s %-24s %-8s %-18s %-24s %s", as nbstat's list lays out its columns.
QString txt_line(const QStringList& cells)
{
    static constexpr int widths[DeviceColumnCount - 1] = {16, 24, 8, 18, 24};
    return column_line(cells, widths);
}

QStringList row_cells(const TDevice& device)
{
    QStringList cells;
    for (int c = 0; c < DeviceColumnCount; ++c)
        cells << device_text(device, c);
    return cells;
}

} // namespace

QString found_name_text(const found_name& name)
{
    if (name.source == name_source::netbios)
        return OemNameToAnsi(name.name);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(name.name);
    return utf8.hasError() ? QString::fromLatin1(name.name) : text;
}

QString device_heading(int column)
{
    static const char* const headings[DeviceColumnCount] = {"IP", "Name", "Source", "MAC", "Vendor", "Found by"};
    return column >= 0 && column < DeviceColumnCount ? QLatin1String(headings[column]) : QString();
}

QString device_text(const TDevice& device, int column)
{
    switch (column) {
    case DeviceIP:
        return ipv4::dotted(device.address);
    case DeviceName:
        return best_text(device);
    case DeviceSource: {
        const found_name* best = best_name(device);
        return best ? QLatin1String(name_source_word(best->source)) : QString();
    }
    case DeviceMAC:
        return device.mac ? mac_address_text(*device.mac) : QString();
    case DeviceVendor:
        return device.vendor;
    case DeviceFoundBy:
        return evidence_words(device.evidence).join(QStringLiteral(", "));
    default:
        return {};
    }
}

QVariant device_sort_key(const TDevice& device, int column)
{
    if (column == DeviceIP)
        return QVariant::fromValue(static_cast<qulonglong>(device.address.value));
    return device_text(device, column);
}

QByteArray device_list_txt(const QList<const TDevice*>& devices)
{
    QStringList headings;
    for (int c = 0; c < DeviceColumnCount; ++c)
        headings << device_heading(c);
    QString out = txt_line(headings) + QStringLiteral("\r\n");
    for (const TDevice* d : devices)
        out += txt_line(row_cells(*d)) + QStringLiteral("\r\n");
    return out.toUtf8();
}

QByteArray device_list_csv(const QList<const TDevice*>& devices)
{
    QStringList headings;
    for (int c = 0; c < DeviceColumnCount; ++c)
        headings << device_heading(c);
    QByteArray out = csv_record(headings);
    for (const TDevice* d : devices) {
        QStringList cells = row_cells(*d);
        // The name is the peer's word.
        cells[DeviceName] = csv_peer_text(cells[DeviceName]);
        out += csv_record(cells);
    }
    return out;
}

QByteArray device_list_json(const QList<const TDevice*>& devices)
{
    // Written by hand to keep the fields in their documented order; values are escaped by QJson
    // (exact texts: control characters and any other byte come out escaped, never raw).
    const auto value = [](const QJsonValue& v) -> QByteArray {
        const QByteArray a = QJsonDocument(QJsonArray {v}).toJson(QJsonDocument::Compact);
        return a.mid(1, a.size() - 2);
    };
    const auto list = [](const QList<QByteArray>& items) -> QByteArray { return '[' + items.join(", ") + ']'; };
    QByteArray out = "[";
    for (qsizetype i = 0; i < devices.size(); ++i) {
        const TDevice& d = *devices[i];
        const found_name* best = best_name(d);
        QList<QByteArray> names;
        for (const found_name& n : d.names)
            names << "{\"name\": " + value(found_name_text(n))
                    + ", \"source\": " + value(QLatin1String(name_source_word(n.source))) + '}';
        QList<QByteArray> evidence;
        for (const QString& w : evidence_words(d.evidence))
            evidence << value(w);
        out += (i ? ",\n    " : "\n    ") + QByteArray("{\"address\": ") + value(ipv4::dotted(d.address))
            + ", \"mac\": " + value(d.mac ? QJsonValue(mac_address_text(*d.mac)) : QJsonValue())
            + ", \"vendor\": " + value(d.vendor) + ", \"name\": " + value(best ? found_name_text(*best) : QString())
            + ", \"names\": " + list(names) + ", \"evidence\": " + list(evidence) + '}';
    }
    out += devices.isEmpty() ? "]\n" : "\n]\n";
    return out;
}

QString device_list_copy(const QList<const TDevice*>& devices)
{
    const auto line = [](QStringList cells) -> QString {
        // A cell of copied text stays one cell of one line.
        for (QString& cell : cells)
            for (QChar& ch : cell)
                if (ch == u'\t' || ch == u'\n' || ch == u'\r')
                    ch = u' ';
        return cells.join(u'\t') + u'\n';
    };
    QStringList headings;
    for (int c = 0; c < DeviceColumnCount; ++c)
        headings << device_heading(c);
    QString out = line(headings);
    for (const TDevice* d : devices)
        out += line(row_cells(*d));
    return out;
}

} // namespace corvane::discovery
