#include "support/ResultText.h"

#include "netbios/netBios_procs.h"
#include "platform/OemText.h"


namespace {

const char* bool_text(bool value)
{
    return value ? "True" : "False";
}

} // namespace

QByteArray nb_entry_display_name(const nb_name_entry& entry)
{
    const char* raw = reinterpret_cast<const char*>(&entry);
    int end = 0;
    while (end < 16 && raw[end] != '\0')
        ++end;
    int begin = 0;
    while (begin < end && static_cast<unsigned char>(raw[begin]) <= 32)
        ++begin;
    while (end > begin && static_cast<unsigned char>(raw[end - 1]) <= 32)
        --end;
    return QByteArray(raw + begin, end - begin);
}

QByteArray nb_entry_name(const nb_name_entry& entry)
{
    const char* raw = reinterpret_cast<const char*>(entry.name);
    int end = 0;
    while (end < int(sizeof entry.name) && raw[end] != '\0')
        ++end;
    while (end > 0 && raw[end - 1] == ' ')
        --end;
    return QByteArray(raw, end);
}

TNameTableSummary SummarizeNameTable(const nb_status_result* result)
{
    TNameTableSummary s;
    if (!result)
        return s;
    bool computerNameOpen = true;
    if (result->status_header && result->name_table) {
        for (int i = 0; i < result->status_header->name_count; ++i) {
            const nb_name_entry& entry = result->name_table[i];
            const QByteArray name = nb_entry_display_name(entry);
            const bool unique = is_unique_name(entry.flags[0]);
            switch (entry.suffix) {
            case 0x00:
                if (!unique)
                    s.workgroup = name;
                else if (computerNameOpen) {
                    s.computer_name = name;
                    computerNameOpen = false;
                }
                break;
            case 0x20:
                if (unique)
                    s.file_service = true;
                break;
            case 0x1D:
            case 0x1B:
                if (unique)
                    s.master_browser = true;
                break;
            case 0x01:
                if (!unique)
                    s.master_browser = true;
                break;
            case 0x03:
                if (unique)
                    s.user_names = s.user_names.isEmpty() ? name : s.user_names + ", " + name;
                break;
            default:
                break;
            }
        }
    }
    if (result->adapter_stats) {
        QString mac;
        for (std::uint8_t byte : result->adapter_stats->mac_address)
            mac += QString::asprintf("%.2X.", byte);
        mac.chop(1);
        s.mac_text = mac;
    }
    return s;
}

QString printable_name(QString text)
{
    for (QChar& c : text)
        if (c.unicode() < 32 || c.unicode() == 127)
            c = u'?';
    return text;
}

QStringList NetBiosRowTexts(const TNameTableSummary& summary)
{
    return {printable_name(OemNameToAnsi(summary.computer_name)),
            printable_name(OemNameToAnsi(summary.user_names)),
            printable_name(OemNameToAnsi(summary.workgroup)),
            summary.mac_text,
            QLatin1String(bool_text(summary.file_service)),
            QLatin1String(bool_text(summary.master_browser))};
}

QString pad_right(const QString& text, int width)
{
    int chars = 0;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (!text.at(i).isLowSurrogate())
            ++chars;
    return chars >= width ? text : text + QString(width - chars, QLatin1Char(' '));
}

QString column_line(const QStringList& cells, std::span<const int> widths)
{
    QString line;
    for (qsizetype c = 0; c < cells.size(); ++c) {
        if (c)
            line += u' ';
        line += std::size_t(c) < widths.size() ? pad_right(cells[c], widths[std::size_t(c)]) : cells[c];
    }
    while (line.endsWith(u' '))
        line.chop(1);
    return line;
}

QString HostInfoHeading()
{
    // "%-18s %-47s %s "
    return pad_right(QStringLiteral("Name"), 18) + u' ' + pad_right(QStringLiteral("Service"), 47) + u' '
        + QStringLiteral("Flags ");
}

QString HostInfoLine(const nb_name_entry& entry)
{
    // "%-18s %-2.2x - %-42s %s ", hex in upper case
    const bool unique = is_unique_name(entry.flags[0]);
    return pad_right(printable_name(OemNameToAnsi(nb_entry_display_name(entry))), 18) + u' '
        + QString::asprintf("%-2.2X", entry.suffix) + QStringLiteral(" - ")
        + pad_right(QString::fromLatin1(suffix_service_name(entry.suffix, unique)), 42) + u' '
        + name_flags_text(entry.flags[0]) + u' ';
}

std::optional<QStringList> HostInfoLines(const nb_status_result* result)
{
    if (!result || !result->status_header)
        return std::nullopt;
    QStringList lines {HostInfoHeading()};
    if (result->name_table)
        for (int i = 0; i < result->status_header->name_count; ++i)
            lines << HostInfoLine(result->name_table[i]);
    return lines;
}

QString NetworkListLine(const TNetworkListRow& row)
{
    // "%-16s %-16s %-16s %-16s %-18s %-14s %-14s"
    static constexpr int widths[7] = {16, 16, 16, 16, 18, 14, 14};
    QString line;
    for (int i = 0; i < 7; ++i) {
        if (i)
            line += u' ';
        line += pad_right(row[static_cast<std::size_t>(i)], widths[i]);
    }
    return line;
}

QString NetworkListHeading()
{
    return NetworkListLine({QStringLiteral("IP"), QStringLiteral("CompName"), QStringLiteral("UserName"),
                            QStringLiteral("WorkGroup"), QStringLiteral("MacAddress"), QStringLiteral("FileService"),
                            QStringLiteral("MasterBrowser")});
}

QByteArray NetworkListFile(const QList<TNetworkListRow>& rows)
{
    QString text = NetworkListHeading() + QStringLiteral("\r\n");
    for (const TNetworkListRow& row : rows)
        text += NetworkListLine(row) + QStringLiteral("\r\n");
    return text.toUtf8();
}

TPingRowTexts PingRowTexts(const QString& hostIP, std::uint32_t replies, std::uint32_t replyStatus,
                           std::uint32_t dataSize, std::uint32_t roundTripTime,
                           const std::function<QString(const QString&)>& resolveHost)
{
    TPingRowTexts row;
    if (replies != 0) {
        row.caption = resolveHost ? hostIP + u' ' + resolveHost(hostIP) : hostIP;
        row.status = QStringLiteral("Received");
        row.data_size = QString::number(dataSize);
        row.time = QString::number(roundTripTime);
    } else {
        row.caption = hostIP;
        row.status = QStringLiteral("Cannot ping, status=") + QString::number(replyStatus);
    }
    return row;
}

QString SharedFoldersParameter(const QString& computerName)
{
    return QStringLiteral("/e, \\\\") + computerName + u'\\';
}

QUrl SharedFoldersUrl(const QString& parameterText)
{
    const QString prefix = QStringLiteral("/e, \\\\");
    if (!parameterText.startsWith(prefix) || !parameterText.endsWith(u'\\'))
        return QUrl();
    const QString name = parameterText.mid(prefix.size(), parameterText.size() - prefix.size() - 1);
    if (name.isEmpty() || name.contains(u'\\'))
        return QUrl();
    QUrl url;
    url.setScheme(QStringLiteral("smb"));
    url.setHost(name);
    url.setPath(QStringLiteral("/"));
    return url.isValid() && !url.host().isEmpty() ? url : QUrl();
}
