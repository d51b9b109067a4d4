#include "tools/ScanOutput.h"

namespace corvane::scan {

namespace {

QList<const TFoundHost*> in_order(const std::vector<TFoundHost>& hosts)
{
    QList<const TFoundHost*> rows;
    rows.reserve(static_cast<qsizetype>(hosts.size()));
    for (const TFoundHost& h : hosts)
        rows << &h;
    return rows;
}

} // namespace

QList<TNetworkListRow> network_list_rows(const std::vector<TFoundHost>& hosts)
{
    QList<TNetworkListRow> rows;
    for (const TFoundHost& h : hosts)
        if (!h.gone())
            rows << h.listRow();
    return rows;
}

QByteArray nbstat_txt(const std::vector<TFoundHost>& hosts, bool names, const TComparedWith* compared)
{
    const QString crLf = QStringLiteral("\r\n");
    QByteArray out = corvane::network_list_file(in_order(hosts));
    QString text;
    if (names) {
        for (const TFoundHost& h : hosts) {
            if (h.gone())
                continue;
            text += crLf + h.ip() + crLf;
            if (const std::optional<QStringList> lines = HostInfoLines(h.result()))
                for (const QString& line : *lines)
                    text += line + crLf;
        }
    }
    if (compared)
        for (const QString& line :
             corvane::comparison_report(compared->comparison, network_list_rows(hosts), compared->fileName))
            text += line + crLf;
    return out + text.toUtf8();
}

QByteArray nbstat_csv(const std::vector<TFoundHost>& hosts, bool compared)
{
    return corvane::host_list_csv(in_order(hosts), compared);
}

QByteArray nbstat_json(const std::vector<TFoundHost>& hosts, bool compared)
{
    return corvane::host_list_json(in_order(hosts), compared);
}

} // namespace corvane::scan
