#include "tools/ScanOutput.h"

#include "platform/OemText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace corvane::scan {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QJsonObject name_object(const nb_name_entry& entry)
{
    const bool unique = is_unique_name(entry.flags[0]);
    QJsonObject o;
    o[QLatin1String("name")] = OemNameToAnsi(nb_entry_name(entry));
    o[QLatin1String("suffix")] = QString::asprintf("%02X", entry.suffix);
    o[QLatin1String("group")] = !unique;
    o[QLatin1String("service")] = QString::fromLatin1(suffix_service_name(entry.suffix, unique));
    o[QLatin1String("flags")] = name_flags_text(entry.flags[0]);
    return o;
}

QString trim_right(QString line)
{
    while (line.endsWith(u' '))
        line.chop(1);
    return line;
}

} // namespace

TNetworkListRow network_list_row(const TFoundHost& host)
{
    const QStringList texts = NetBiosRowTexts(SummarizeNameTable(host.result.get()));
    TNetworkListRow row;
    row[0] = host.ip;
    for (int i = 0; i < 6; ++i)
        row[static_cast<std::size_t>(i + 1)] = texts.value(i);
    return row;
}

QList<TNetworkListRow> network_list_rows(const std::vector<TFoundHost>& hosts)
{
    QList<TNetworkListRow> rows;
    rows.reserve(static_cast<qsizetype>(hosts.size()));
    for (const TFoundHost& h : hosts)
        rows << network_list_row(h);
    return rows;
}

QByteArray nbstat_txt(const std::vector<TFoundHost>& hosts, bool names, const TComparedWith* compared)
{
    const QList<TNetworkListRow> rows = network_list_rows(hosts);
    QByteArray out = NetworkListFile(rows);
    QString text;
    if (names) {
        for (const TFoundHost& h : hosts) {
            text += kCrLf + h.ip + kCrLf;
            if (const std::optional<QStringList> lines = HostInfoLines(h.result.get()))
                for (const QString& line : *lines)
                    text += line + kCrLf;
        }
    }
    if (compared)
        for (const QString& line : corvane::comparison_report(compared->comparison, rows, compared->fileName))
            text += line + kCrLf;
    return out + text.toUtf8();
}

QString csv_field(const QString& text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\r') && !text.contains(u'\n'))
        return text;
    QString q = text;
    q.replace(u'"', QStringLiteral("\"\""));
    return u'"' + q + u'"';
}

QString csv_peer_text(const QString& text)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    return !text.isEmpty() && formulaStarts.contains(text.front()) ? u'\'' + text : text;
}

namespace {
// The list's name columns (computer name, user names, workgroup) are the peers' words.
QStringList csv_list_fields(const TNetworkListRow& row)
{
    QStringList fields(row.begin(), row.end());
    for (int column : {1, 2, 3})
        fields[column] = csv_peer_text(fields[column]);
    return fields;
}
} // namespace

QByteArray csv_record(const QStringList& fields)
{
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i)
            line += u',';
        line += csv_field(fields[i]);
    }
    return (line + kCrLf).toUtf8();
}

QByteArray nbstat_csv(const std::vector<TFoundHost>& hosts, const TComparedWith* compared)
{
    QStringList heading {QStringLiteral("IP"),          QStringLiteral("CompName"),    QStringLiteral("UserName"),
                         QStringLiteral("WorkGroup"),   QStringLiteral("MacAddress"),  QStringLiteral("FileService"),
                         QStringLiteral("MasterBrowser"), QStringLiteral("Vendor"), QStringLiteral("NeighbourMac")};
    if (compared)
        heading << QStringLiteral("Change");
    QByteArray out = csv_record(heading);
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        const TFoundHost& h = hosts[i];
        QStringList fields = csv_list_fields(network_list_row(h));
        fields << h.vendor << (h.neighbour ? corvane::mac_address_text(*h.neighbour) : QString());
        if (compared)
            fields << corvane::change_word(compared->comparison.hosts.value(qsizetype(i)).change);
        out += csv_record(fields);
    }
    if (compared)
        for (const TNetworkListRow& row : compared->comparison.gone)
            out += csv_record(csv_list_fields(row) << QString() << QString()
                                                                   << corvane::change_word(corvane::TChange::Gone));
    return out;
}

QByteArray nbstat_json(const std::vector<TFoundHost>& hosts, const TComparedWith* compared)
{
    QJsonArray array;
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        const TFoundHost& h = hosts[i];
        const TNameTableSummary s = SummarizeNameTable(h.result.get());
        // The exact texts: JSON escapes control characters itself.
        QJsonObject o;
        o[QLatin1String("address")] = h.ip;
        o[QLatin1String("computer_name")] = OemNameToAnsi(s.computer_name);
        o[QLatin1String("user_names")] = OemNameToAnsi(s.user_names);
        o[QLatin1String("workgroup")] = OemNameToAnsi(s.workgroup);
        o[QLatin1String("mac")] = s.mac_text;
        o[QLatin1String("file_service")] = s.file_service;
        o[QLatin1String("master_browser")] = s.master_browser;
        o[QLatin1String("vendor")] = h.vendor;
        if (h.neighbour)
            o[QLatin1String("neighbour_mac")] = corvane::mac_address_text(*h.neighbour);
        if (compared)
            o[QLatin1String("change")] = corvane::change_word(compared->comparison.hosts.value(qsizetype(i)).change);
        QJsonArray names;
        const nb_status_result* r = h.result.get();
        if (r && r->status_header && r->name_table)
            for (int i = 0; i < r->status_header->name_count; ++i)
                names.append(name_object(r->name_table[i]));
        o[QLatin1String("names")] = names;
        array.append(o);
    }
    if (compared) {
        for (const TNetworkListRow& row : compared->comparison.gone) {
            QJsonObject o;
            o[QLatin1String("address")] = row[0];
            o[QLatin1String("computer_name")] = row[1];
            o[QLatin1String("user_names")] = row[2];
            o[QLatin1String("workgroup")] = row[3];
            o[QLatin1String("mac")] = row[4];
            o[QLatin1String("file_service")] = row[5] == QLatin1String("True");
            o[QLatin1String("master_browser")] = row[6] == QLatin1String("True");
            o[QLatin1String("change")] = corvane::change_word(corvane::TChange::Gone);
            array.append(o);
        }
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QByteArray ping_txt_heading()
{
    TPingResult heading;
    heading.texts
        = {QStringLiteral("IP"), QStringLiteral("Status"), QStringLiteral("Data size"), QStringLiteral("Time")};
    return ping_txt_line(heading);
}

QByteArray ping_txt_line(const TPingResult& row)
{
    const TPingRowTexts& t = row.texts;
    const QString line
        = pad_right(t.caption, 16) + u' ' + pad_right(t.status, 25) + u' ' + pad_right(t.data_size, 9) + u' ' + t.time;
    return (trim_right(line) + u'\n').toUtf8();
}

QByteArray ping_csv_heading()
{
    return csv_record(
        {QStringLiteral("IP"), QStringLiteral("Status"), QStringLiteral("Data size"), QStringLiteral("Time")});
}

QByteArray ping_csv_line(const TPingResult& row)
{
    return csv_record({row.texts.caption, row.texts.status, row.texts.data_size, row.texts.time});
}

QByteArray ping_json(const std::vector<TPingResult>& rows)
{
    QJsonArray array;
    for (const TPingResult& row : rows) {
        QJsonObject o;
        o[QLatin1String("address")] = row.address;
        o[QLatin1String("caption")] = row.texts.caption;
        o[QLatin1String("status")] = row.texts.status;
        o[QLatin1String("received")] = row.received;
        o[QLatin1String("ip_status")] = static_cast<qint64>(row.ipStatus);
        o[QLatin1String("data_size")] = row.received ? QJsonValue(static_cast<qint64>(row.dataSize)) : QJsonValue();
        o[QLatin1String("time")] = row.received ? QJsonValue(static_cast<qint64>(row.roundTripTime)) : QJsonValue();
        array.append(o);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

} // namespace corvane::scan
