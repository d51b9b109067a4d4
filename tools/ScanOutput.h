#pragma once
// What corvane-scan prints: the window's texts (support/ResultText) laid out as txt, csv or json.

#include "netbios/netBios_procs.h"
#include "support/ListCompare.h"
#include "support/ResultText.h"
#include "support/Vendors.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace corvane::scan {

// One answering host, in the order the answers arrived (the window's list order).
struct TFoundHost
{
    QString ip;
    TResultPtr result;
    QString vendor {};                                // empty when unknown
    std::optional<corvane::TMacAddress> neighbour {}; // the vendor's address, from the neighbour table
};

// The comparison with the earlier list of --compare.
struct TComparedWith
{
    QString fileName;
    corvane::TListComparison comparison; // hosts parallel to the found hosts
};

// The network-list row the window shows for a host: its IP and the six row texts.
TNetworkListRow network_list_row(const TFoundHost& host);

QList<TNetworkListRow> network_list_rows(const std::vector<TFoundHost>& hosts);

// txt: NetworkListFile of the rows; with names, then for each host an empty line, its IP and its
// host-information lines (nothing under the IP when the answer had no header); with a comparison,
// then its report. CR LF throughout.
QByteArray nbstat_txt(const std::vector<TFoundHost>& hosts, bool names, const TComparedWith* compared = nullptr);
// csv: the list's heading and rows as RFC 4180 records, then Vendor and NeighbourMac; with a
// comparison a Change column, and the gone hosts at the end.
QByteArray nbstat_csv(const std::vector<TFoundHost>& hosts, const TComparedWith* compared = nullptr);
// json: an array with one object per host (address, the summary, MAC, vendor, the name table); with
// a comparison each gains "change", and the gone hosts follow with the fields their list gave.
QByteArray nbstat_json(const std::vector<TFoundHost>& hosts, const TComparedWith* compared = nullptr);

// One RFC 4180 field: quoted when it holds a comma, a double quote, CR or LF; quotes doubled.
QString csv_field(const QString& text);
// A cell whose text a peer chose: one that a spreadsheet would take for a formula (it starts with =,
// +, -, @, TAB or CR) gets a leading apostrophe, so it is shown as text, never run.
QString csv_peer_text(const QString& text);
// Fields joined by commas, ended by CR LF, UTF-8.
QByteArray csv_record(const QStringList& fields);

// One address of a ping sweep: the ping page's texts and the reply values behind them.
struct TPingResult
{
    QString address; // HostIP: the address pinged
    TPingRowTexts texts;
    bool received = false;
    std::uint32_t ipStatus = 0;
    std::uint32_t dataSize = 0;
    std::uint32_t roundTripTime = 0;
};

// txt: the ping page's four columns, "%-16s %-25s %-9s %s" with no blanks at the end; LF.
QByteArray ping_txt_heading();
QByteArray ping_txt_line(const TPingResult& row);
QByteArray ping_csv_heading();
QByteArray ping_csv_line(const TPingResult& row);
QByteArray ping_json(const std::vector<TPingResult>& rows);

} // namespace corvane::scan
