#include "support/ListCompare.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace corvane {

namespace {

const char* const kHeadings[7] = {"IP", "CompName", "UserName", "WorkGroup", "MacAddress", "FileService",
                                  "MasterBrowser"};

int line_at(const QByteArray& text, qsizetype offset)
{
    return int(text.left(offset).count('\n')) + 1;
}

// Only the padding blanks the list's writer adds: a no-break space or any other character a name
// ends in is part of the name.
QString trimmed_right(QString s)
{
    while (!s.isEmpty() && s.back() == u' ')
        s.chop(1);
    return s;
}

bool is_flag(const QString& s)
{
    return s == QLatin1String("True") || s == QLatin1String("False");
}

// The checks a row of any format passes: an address, a MAC or none, two flags.
QString row_fault(const TNetworkListRow& row)
{
    static const QRegularExpression ip(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
    static const QRegularExpression mac(QStringLiteral("^([0-9A-Fa-f]{2}\\.){5}[0-9A-Fa-f]{2}$"));
    if (!ip.match(row[0]).hasMatch())
        return QStringLiteral("no IP address at the start");
    if (!row[4].isEmpty() && !mac.match(row[4]).hasMatch())
        return QStringLiteral("no MAC address in its column");
    if (!is_flag(row[5]) || !is_flag(row[6]))
        return QStringLiteral("FileService and MasterBrowser must be True or False");
    return {};
}

// Cuts [from, from + count) of a line held as code points, without the padding after the value.
QString cut(const QList<uint>& line, qsizetype from, qsizetype count)
{
    if (from >= line.size())
        return {};
    const QList<uint> part = line.mid(from, count);
    return trimmed_right(QString::fromUcs4(reinterpret_cast<const char32_t*>(part.constData()), part.size()));
}

// One row of the fixed-column list. Only the user names can outgrow their column (an address, a
// NetBIOS name and the values right of the workgroup always fit), so the columns right of the user
// names are found from the line's end and the left ones from its start. Blanks lost at the end of
// the line do not matter; a line cut anywhere else does.
std::optional<TNetworkListRow> parse_row(const QString& text, QString& why)
{
    const QString line = trimmed_right(text);
    const QList<uint> u = line.toUcs4();
    const qsizetype masterAt = line.lastIndexOf(u' ') + 1;
    // Code points before the blank that starts the last value.
    const qsizetype last = QStringView(line).left(masterAt).toUcs4().size();
    const qsizetype fileAt = last - 15;
    const qsizetype macAt = fileAt - 19;
    const qsizetype groupAt = macAt - 17;
    const auto blank = [&](qsizetype at) { return at < u.size() && u[at] == u' '; };
    if (groupAt < 51 || !blank(16) || !blank(33) || !blank(groupAt - 1) || !blank(macAt - 1) || !blank(fileAt - 1)
        || !blank(last - 1)) {
        why = QStringLiteral("not a row of seven columns (truncated?)");
        return std::nullopt;
    }
    TNetworkListRow row {cut(u, 0, 16),
                         cut(u, 17, 16),
                         cut(u, 34, groupAt - 1 - 34),
                         cut(u, groupAt, 16),
                         cut(u, macAt, 18),
                         cut(u, fileAt, 14),
                         cut(u, last, u.size() - last)};
    why = row_fault(row);
    if (why.isEmpty())
        return row;
    return std::nullopt;
}

THostListRead read_text_list(const QByteArray& bytes)
{
    THostListRead read;
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList lines = text.split(u'\n');
    for (QString& l : lines)
        if (l.endsWith(u'\r'))
            l.chop(1);
    if (trimmed_right(lines[0]) != trimmed_right(NetworkListHeading())) {
        read.line = 1;
        read.error = QStringLiteral("not a network list (the first line is not its heading)");
        return read;
    }
    QList<TNetworkListRow> rows;
    // The list ends at the first empty line: corvane-scan's name tables or report may follow.
    for (qsizetype i = 1; i < lines.size() && !lines[i].trimmed().isEmpty(); ++i) {
        QString why;
        const std::optional<TNetworkListRow> row = parse_row(lines[i], why);
        if (!row) {
            read.line = int(i + 1);
            read.error = why;
            return read;
        }
        rows << *row;
    }
    read.rows = rows;
    return read;
}

// Where each element of a JSON array starts, for error lines (the text is known to parse).
QList<qsizetype> array_element_offsets(const QByteArray& text)
{
    QList<qsizetype> offsets;
    int depth = 0;
    bool inString = false;
    bool expectElement = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        if (depth == 1 && expectElement && c != ']') {
            offsets << i;
            expectElement = false;
        }
        if (c == '"')
            inString = true;
        else if (c == '[' || c == '{') {
            if (++depth == 1)
                expectElement = true;
        } else if (c == ']' || c == '}')
            --depth;
        else if (c == ',' && depth == 1)
            expectElement = true;
    }
    return offsets;
}

THostListRead read_json_list(const QByteArray& bytes)
{
    THostListRead read;
    QJsonParseError error {};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray()) {
        read.line = line_at(bytes, error.error != QJsonParseError::NoError ? error.offset : 0);
        read.error = error.error != QJsonParseError::NoError ? QStringLiteral("not JSON: ") + error.errorString()
                                                              : QStringLiteral("not a JSON array of hosts");
        return read;
    }
    const QJsonArray hosts = doc.array();
    const QList<qsizetype> offsets = array_element_offsets(bytes);
    QList<TNetworkListRow> rows;
    for (qsizetype i = 0; i < hosts.size(); ++i) {
        const QJsonObject o = hosts[i].toObject();
        if (o.value(QLatin1String("change")).toString() == QLatin1String("gone"))
            continue;
        const auto text = [&](const char* key) { return o.value(QLatin1String(key)); };
        bool ok = hosts[i].isObject() && text("address").isString() && text("file_service").isBool()
               && text("master_browser").isBool();
        for (const char* key : {"computer_name", "user_names", "workgroup", "mac"})
            ok = ok && text(key).isString();
        if (!ok) {
            read.line = line_at(bytes, offsets.value(i, 0));
            read.error = QStringLiteral("host %1 lacks a field of the network list").arg(i + 1);
            return read;
        }
        const auto flag = [&](const char* key) {
            return text(key).toBool() ? QStringLiteral("True") : QStringLiteral("False");
        };
        rows << TNetworkListRow {text("address").toString(),   text("computer_name").toString(),
                                 text("user_names").toString(), text("workgroup").toString(),
                                 text("mac").toString(),        flag("file_service"),
                                 flag("master_browser")};
    }
    read.rows = rows;
    return read;
}

// RFC 4180 records, each with the line it starts on; a quoted field may hold commas and line breaks.
struct TCsvRecord
{
    QStringList fields;
    int line = 0;
};

std::optional<QList<TCsvRecord>> csv_records(const QString& text, int& badLine)
{
    QList<TCsvRecord> records;
    TCsvRecord record {{}, 1};
    QString field;
    bool quoted = false;
    bool fieldStarted = false;
    int line = 1;
    const auto endRecord = [&] {
        record.fields << field;
        if (!(record.fields.size() == 1 && record.fields[0].isEmpty()))
            records << record;
        record = {{}, line};
        field.clear();
        fieldStarted = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += c;
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                line += c == u'\n';
                field += c;
            }
        } else if (c == u'"' && !fieldStarted) {
            quoted = fieldStarted = true;
        } else if (c == u',') {
            record.fields << field;
            field.clear();
            fieldStarted = false;
        } else if (c == u'\n' || (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')) {
            i += c == u'\r';
            ++line;
            endRecord();
        } else {
            field += c;
            fieldStarted = true;
        }
    }
    if (quoted) {
        badLine = record.line;
        return std::nullopt;
    }
    if (fieldStarted || !record.fields.isEmpty())
        endRecord();
    return records;
}

// The save's spreadsheet guard undone: an apostrophe it put before a name that starts like a formula.
QString csv_peer_value(const QString& field)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    return field.size() > 1 && field[0] == u'\'' && formulaStarts.contains(field[1]) ? field.mid(1) : field;
}

// The window's and corvane-scan's csv: the list's seven columns first, then vendor, neighbour MAC
// and, after a comparison, the mark (hosts marked gone are left out).
THostListRead read_csv_list(const QString& text)
{
    THostListRead read;
    int badLine = 0;
    const std::optional<QList<TCsvRecord>> records = csv_records(text, badLine);
    if (!records) {
        read.line = badLine;
        read.error = QStringLiteral("a quoted field is not closed");
        return read;
    }
    const qsizetype changeAt = records->isEmpty() ? -1 : records->first().fields.indexOf(QStringLiteral("Change"));
    QList<TNetworkListRow> rows;
    for (qsizetype i = 1; i < records->size(); ++i) {
        const TCsvRecord& r = records->at(i);
        if (changeAt >= 0 && r.fields.value(changeAt) == QLatin1String("gone"))
            continue;
        if (r.fields.size() < 7) {
            read.line = r.line;
            read.error = QStringLiteral("fewer than the seven columns of the network list");
            return read;
        }
        TNetworkListRow row;
        for (std::size_t c = 0; c < row.size(); ++c)
            row[c] = c >= 1 && c <= 3 ? csv_peer_value(r.fields[qsizetype(c)]) : r.fields[qsizetype(c)];
        if (const QString why = row_fault(row); !why.isEmpty()) {
            read.line = r.line;
            read.error = why;
            return read;
        }
        rows << row;
    }
    read.rows = rows;
    return read;
}

} // namespace

THostListRead read_host_list(const QByteArray& text)
{
    const QByteArray start = text.trimmed();
    if (start.isEmpty())
        return {QList<TNetworkListRow> {}, 0, {}};
    if (start.startsWith('['))
        return read_json_list(text);
    QString decoded = QString::fromUtf8(text);
    if (decoded.startsWith(QChar(0xFEFF)))
        decoded.remove(0, 1);
    if (decoded.startsWith(QLatin1String("IP,CompName,UserName,WorkGroup,MacAddress,FileService,MasterBrowser")))
        return read_csv_list(decoded);
    return read_text_list(text);
}

THostListFile read_host_list_file(const QString& fileName)
{
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return {std::nullopt, fileName + QStringLiteral(": cannot be read: ") + f.errorString()};
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return {std::nullopt, fileName + QStringLiteral(": cannot be read: ") + f.errorString()};
    const THostListRead read = read_host_list(bytes);
    if (!read.rows)
        return {std::nullopt, QStringLiteral("%1: line %2: %3").arg(fileName).arg(read.line).arg(read.error)};
    return {read.rows, {}};
}

QString change_word(TChange change)
{
    switch (change) {
    case TChange::New:
        return QStringLiteral("new");
    case TChange::Changed:
        return QStringLiteral("changed");
    case TChange::Same:
        return QStringLiteral("same");
    case TChange::Gone:
        break;
    }
    return QStringLiteral("gone");
}

THostChange compare_host(const TNetworkListRow* before, const TNetworkListRow& now)
{
    THostChange c;
    if (!before)
        return c;
    for (int col = 1; col < 7; ++col)
        if ((*before)[std::size_t(col)] != now[std::size_t(col)])
            c.fields << TFieldChange {col, (*before)[std::size_t(col)], now[std::size_t(col)]};
    c.change = c.fields.isEmpty() ? TChange::Same : TChange::Changed;
    return c;
}

TListComparison compare_host_lists(const QList<TNetworkListRow>& before, const QList<TNetworkListRow>& now)
{
    QHash<QString, qsizetype> earlier;
    for (qsizetype i = 0; i < before.size(); ++i)
        if (!earlier.contains(before[i][0]))
            earlier.insert(before[i][0], i);

    TListComparison result;
    QList<bool> answered(before.size(), false);
    for (const TNetworkListRow& row : now) {
        const auto it = earlier.constFind(row[0]);
        if (it != earlier.constEnd())
            answered[*it] = true;
        result.hosts << compare_host(it != earlier.constEnd() ? &before[*it] : nullptr, row);
    }
    for (qsizetype i = 0; i < before.size(); ++i)
        if (!answered[i] && earlier.value(before[i][0]) == i)
            result.gone << before[i];
    return result;
}

QString field_changes_text(const QList<TFieldChange>& fields)
{
    const auto shown = [](const QString& v) { return v.isEmpty() ? QStringLiteral("(none)") : v; };
    QStringList parts;
    for (const TFieldChange& f : fields)
        parts << QStringLiteral("%1: %2 -> %3").arg(QLatin1String(kHeadings[f.column]), shown(f.before), shown(f.after));
    return parts.join(QStringLiteral(", "));
}

QString gone_host_note(const QString& ip, const QString& fileName)
{
    return QStringLiteral("No name table: %1 did not answer this scan; it is in %2").arg(ip, fileName);
}

QStringList comparison_report(const TListComparison& comparison, const QList<TNetworkListRow>& now,
                              const QString& fileName)
{
    int counts[4] = {};
    for (const THostChange& c : comparison.hosts)
        ++counts[int(c.change)];
    counts[int(TChange::Gone)] = int(comparison.gone.size());
    QStringList lines {QString(),
                       QStringLiteral("Compared with %1: %2 new, %3 changed, %4 same, %5 gone")
                           .arg(fileName)
                           .arg(counts[0])
                           .arg(counts[1])
                           .arg(counts[2])
                           .arg(counts[3])};
    const auto line = [](TChange change, const TNetworkListRow& row, const QString& what) {
        return trimmed_right(pad_right(change_word(change), 7) + u' ' + pad_right(row[0], 16) + u' '
                             + pad_right(row[1], 16) + u' ' + what);
    };
    for (const TChange kind : {TChange::New, TChange::Changed})
        for (qsizetype i = 0; i < comparison.hosts.size() && i < now.size(); ++i)
            if (comparison.hosts[i].change == kind)
                lines << line(kind, now[i], field_changes_text(comparison.hosts[i].fields));
    for (const TNetworkListRow& row : comparison.gone)
        lines << line(TChange::Gone, row, {});
    return lines;
}

} // namespace corvane
