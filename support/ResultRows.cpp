#include "support/ResultRows.h"

#include "platform/Ipv4.h"
#include "platform/OemText.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace corvane {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

std::uint32_t address_key(const QString& text)
{
    const std::optional<ipv4::THostAddr> a = ipv4::parse_strict(text);
    return a ? a->value : 0;
}

// A cell of copied text stays one cell of one line.
QString copy_cell(QString text)
{
    for (QChar& c : text)
        if (c == u'\t' || c == u'\n' || c == u'\r')
            c = u' ';
    return text;
}

// Headings, then one line a row, columns joined by TABs.
template<class Row>
QString copy_text(const QList<const Row*>& rows, int columns, QString (*heading)(int), QString (*text)(const Row&, int))
{
    const auto line = [columns](auto cell) {
        QStringList cells;
        for (int c = 0; c < columns; ++c)
            cells << copy_cell(cell(c));
        QString joined = cells.join(u'\t');
        joined += u'\n';
        return joined;
    };
    QString out = line(heading);
    for (const Row* r : rows)
        out += line([&](int c) { return text(*r, c); });
    return out;
}

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

QJsonObject host_object(const THostRow& h, bool compared)
{
    // The exact texts: JSON escapes control characters itself.
    QJsonObject o;
    o[QLatin1String("address")] = h.ip();
    o[QLatin1String("computer_name")] = h.exactNames()[0];
    o[QLatin1String("user_names")] = h.exactNames()[1];
    o[QLatin1String("workgroup")] = h.exactNames()[2];
    o[QLatin1String("mac")] = h.listRow()[4];
    o[QLatin1String("file_service")] = h.fileService();
    o[QLatin1String("master_browser")] = h.masterBrowser();
    if (compared)
        o[QLatin1String("change")] = change_word(h.change.value_or(TChange::Same));
    if (h.gone()) // what the earlier list gave, no more
        return o;
    o[QLatin1String("vendor")] = h.vendor;
    if (h.neighbour)
        o[QLatin1String("neighbour_mac")] = mac_address_text(*h.neighbour);
    QJsonArray names;
    const nb_status_result* r = h.result();
    if (r && r->status_header && r->name_table)
        for (int i = 0; i < r->status_header->name_count; ++i)
            names.append(name_object(r->name_table[i]));
    o[QLatin1String("names")] = names;
    return o;
}

QString trim_right(QString line)
{
    while (line.endsWith(u' '))
        line.chop(1);
    return line;
}

} // namespace

QString host_heading(int column)
{
    static const char* const headings[HostColumnCount]
        = {"IP", "CompName", "UserName", "WorkGroup", "MAC", "Vendor", "FileService", "MasterBrowser"};
    return column >= 0 && column < HostColumnCount ? QLatin1String(headings[column]) : QString();
}

THostRow::THostRow(QString ip, TResultPtr result, QString vendor, std::optional<TMacAddress> neighbour)
    : vendor(std::move(vendor))
    , neighbour(neighbour)
    , m_result(std::move(result))
{
    const TNameTableSummary summary = SummarizeNameTable(m_result.get());
    const QStringList texts = NetBiosRowTexts(summary);
    m_list[0] = std::move(ip);
    for (int i = 0; i < 6; ++i)
        m_list[std::size_t(i + 1)] = texts.value(i);
    m_exact
        = {OemNameToAnsi(summary.computer_name), OemNameToAnsi(summary.user_names), OemNameToAnsi(summary.workgroup)};
    m_address = address_key(m_list[0]);
}

THostRow::THostRow(const TNetworkListRow& listed)
    : change(TChange::Gone)
    , m_list(listed)
{
    m_exact = {listed[1], listed[2], listed[3]};
    m_address = address_key(m_list[0]);
}

std::optional<TMacAddress> THostRow::vendorMac() const
{
    const std::optional<TMacAddress> reported = reported_mac(m_result.get());
    if (reported && *reported == TMacAddress {})
        return neighbour;
    return reported;
}

QString host_text(const THostRow& row, int column)
{
    switch (column) {
    case HostIP:
    case HostCompName:
    case HostUserName:
    case HostWorkGroup:
    case HostMAC:
        return row.listRow()[std::size_t(column)];
    case HostVendor:
        return row.vendor;
    case HostFileService:
    case HostMasterBrowser:
        return row.listRow()[std::size_t(column - 1)];
    default:
        return {};
    }
}

QString host_tool_tip(const THostRow& row, int column, const QString& comparedFile)
{
    switch (column) {
    case HostUserName: // a long user list does not fit its column
        return host_text(row, column);
    case HostVendor: {
        // The whole name, which the column often cuts, and where its address came from.
        QStringList tip {row.vendor};
        if (row.neighbour)
            tip << QStringLiteral("Adapter address from the neighbour table: ") + mac_address_text(*row.neighbour);
        tip.removeAll(QString());
        return tip.join(u'\n');
    }
    case HostIP:
        if (!row.change)
            return {};
        switch (*row.change) {
        case TChange::New:
            return QStringLiteral("New: not in %1").arg(comparedFile);
        case TChange::Changed:
            return QStringLiteral("Changed since %1: %2").arg(comparedFile, field_changes_text(row.changedFields));
        case TChange::Gone:
            return QStringLiteral("Gone: in %1, no answer now").arg(comparedFile);
        case TChange::Same:
            break;
        }
        return {};
    default:
        return {};
    }
}

QVariant host_sort_key(const THostRow& row, int column)
{
    if (column == HostIP)
        return QVariant::fromValue(row.addressKey());
    return host_text(row, column);
}

std::vector<THostRow> mark_comparison(const QList<THostRow*>& hosts, const TListComparison& comparison)
{
    for (qsizetype i = 0; i < hosts.size() && i < comparison.hosts.size(); ++i) {
        hosts[i]->change = comparison.hosts[i].change;
        hosts[i]->changedFields = comparison.hosts[i].fields;
    }
    std::vector<THostRow> gone;
    gone.reserve(std::size_t(comparison.gone.size()));
    for (const TNetworkListRow& row : comparison.gone)
        gone.emplace_back(row);
    return gone;
}

QByteArray network_list_file(const QList<const THostRow*>& rows)
{
    QList<TNetworkListRow> list;
    for (const THostRow* r : rows)
        if (!r->gone()) // hosts that did not answer are not on the network now
            list << r->listRow();
    return NetworkListFile(list);
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

QByteArray host_list_csv(const QList<const THostRow*>& rows, bool compared)
{
    QStringList heading {QStringLiteral("IP"),
                         QStringLiteral("CompName"),
                         QStringLiteral("UserName"),
                         QStringLiteral("WorkGroup"),
                         QStringLiteral("MacAddress"),
                         QStringLiteral("FileService"),
                         QStringLiteral("MasterBrowser"),
                         QStringLiteral("Vendor"),
                         QStringLiteral("NeighbourMac")};
    if (compared)
        heading << QStringLiteral("Change");
    QByteArray out = csv_record(heading);
    for (const THostRow* h : rows) {
        const TNetworkListRow& row = h->listRow();
        QStringList fields(row.begin(), row.end());
        // The name columns are the peers' words.
        for (int column : {1, 2, 3})
            fields[column] = csv_peer_text(fields[column]);
        fields << h->vendor << (h->neighbour ? mac_address_text(*h->neighbour) : QString());
        if (compared)
            fields << change_word(h->change.value_or(TChange::Same));
        out += csv_record(fields);
    }
    return out;
}

QByteArray host_list_json(const QList<const THostRow*>& rows, bool compared)
{
    QJsonArray array;
    for (const THostRow* h : rows)
        array.append(host_object(*h, compared));
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

namespace {

// Pasted into a spreadsheet like the csv is opened there: the peers' names get the same guard.
QString host_copy_text(const THostRow& row, int column)
{
    const bool peers = column == HostCompName || column == HostUserName || column == HostWorkGroup;
    return peers ? csv_peer_text(host_text(row, column)) : host_text(row, column);
}

} // namespace

QString host_list_copy(const QList<const THostRow*>& rows)
{
    return copy_text(rows, HostColumnCount, host_heading, host_copy_text);
}

QString ping_heading(int column)
{
    static const char* const headings[PingColumnCount] = {"IP", "Status", "Data size", "Time"};
    return column >= 0 && column < PingColumnCount ? QLatin1String(headings[column]) : QString();
}

QString ping_text(const TPingRow& row, int column)
{
    switch (column) {
    case PingIP:
        return row.texts.caption;
    case PingStatus:
        return row.texts.status;
    case PingDataSize:
        return row.texts.data_size;
    case PingTime:
        return row.texts.time;
    default:
        return {};
    }
}

QVariant ping_sort_key(const TPingRow& row, int column)
{
    switch (column) {
    case PingIP:
        return QVariant::fromValue(address_key(row.address));
    case PingDataSize:
        return row.received ? qint64(row.dataSize) : qint64(-1);
    case PingTime:
        return row.received ? qint64(row.roundTripTime) : qint64(-1);
    default:
        return ping_text(row, column);
    }
}

QByteArray ping_txt_heading()
{
    TPingRow heading;
    heading.texts
        = {ping_heading(PingIP), ping_heading(PingStatus), ping_heading(PingDataSize), ping_heading(PingTime)};
    return ping_txt_line(heading);
}

QByteArray ping_txt_line(const TPingRow& row)
{
    const TPingRowTexts& t = row.texts;
    const QString line
        = pad_right(t.caption, 16) + u' ' + pad_right(t.status, 25) + u' ' + pad_right(t.data_size, 9) + u' ' + t.time;
    return (trim_right(line) + u'\n').toUtf8();
}

QByteArray ping_csv_heading()
{
    return csv_record(
        {ping_heading(PingIP), ping_heading(PingStatus), ping_heading(PingDataSize), ping_heading(PingTime)});
}

QByteArray ping_csv_line(const TPingRow& row)
{
    return csv_record({row.texts.caption, row.texts.status, row.texts.data_size, row.texts.time});
}

QByteArray ping_json(const std::vector<TPingRow>& rows)
{
    QList<const TPingRow*> list;
    for (const TPingRow& r : rows)
        list << &r;
    return ping_list_json(list);
}

QByteArray ping_list_txt(const QList<const TPingRow*>& rows)
{
    QByteArray out = ping_txt_heading();
    for (const TPingRow* r : rows)
        out += ping_txt_line(*r);
    return out;
}

QByteArray ping_list_csv(const QList<const TPingRow*>& rows)
{
    QByteArray out = ping_csv_heading();
    for (const TPingRow* r : rows)
        out += ping_csv_line(*r);
    return out;
}

QByteArray ping_list_json(const QList<const TPingRow*>& rows)
{
    QJsonArray array;
    for (const TPingRow* row : rows) {
        QJsonObject o;
        o[QLatin1String("address")] = row->address;
        o[QLatin1String("caption")] = row->texts.caption;
        o[QLatin1String("status")] = row->texts.status;
        o[QLatin1String("received")] = row->received;
        o[QLatin1String("ip_status")] = static_cast<qint64>(row->ipStatus);
        o[QLatin1String("data_size")] = row->received ? QJsonValue(static_cast<qint64>(row->dataSize)) : QJsonValue();
        o[QLatin1String("time")] = row->received ? QJsonValue(static_cast<qint64>(row->roundTripTime)) : QJsonValue();
        array.append(o);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QString ping_list_copy(const QList<const TPingRow*>& rows)
{
    return copy_text(rows, PingColumnCount, ping_heading, ping_text);
}

TListFormat list_format_for(const QString& fileName, const QString& nameFilter)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("csv"))
        return TListFormat::Csv;
    if (suffix == QLatin1String("json"))
        return TListFormat::Json;
    if (suffix == QLatin1String("txt"))
        return TListFormat::Txt;
    if (nameFilter.startsWith(QLatin1String("CSV ")))
        return TListFormat::Csv;
    if (nameFilter.startsWith(QLatin1String("JSON ")))
        return TListFormat::Json;
    return TListFormat::Txt;
}

} // namespace corvane
