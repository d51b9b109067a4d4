#pragma once
// What corvane-scan prints: the rows and texts of support/ResultRows, laid out as txt, csv or json.

#include "support/ListCompare.h"
#include "support/ResultRows.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace corvane::scan {

// One answering host, in the order the answers arrived (the window's list order); after a
// comparison the gone hosts follow.
using TFoundHost = corvane::THostRow;
// One address of a ping sweep.
using TPingResult = corvane::TPingRow;

using corvane::csv_field;
using corvane::csv_peer_text;
using corvane::csv_record;
using corvane::ping_csv_heading;
using corvane::ping_csv_line;
using corvane::ping_json;
using corvane::ping_txt_heading;
using corvane::ping_txt_line;

// The comparison with the earlier list of --compare.
struct TComparedWith
{
    QString fileName;
    corvane::TListComparison comparison; // hosts parallel to the hosts that answered
};

// The network-list rows of the hosts that answered, in their order.
QList<TNetworkListRow> network_list_rows(const std::vector<TFoundHost>& hosts);

// txt: the saved network list of the hosts that answered; with names, then for each an empty line,
// its IP and its host-information lines (nothing under the IP when the answer had no header); with a
// comparison, then its report. CR LF throughout.
QByteArray nbstat_txt(const std::vector<TFoundHost>& hosts, bool names, const TComparedWith* compared = nullptr);
// csv: the list's heading and rows as RFC 4180 records, then Vendor and NeighbourMac; compared: a
// Change column, the gone hosts at the end.
QByteArray nbstat_csv(const std::vector<TFoundHost>& hosts, bool compared = false);
// json: an array with one object per host (address, the summary, MAC, vendor, the name table);
// compared: each gains "change", the gone hosts with the fields their list gave.
QByteArray nbstat_json(const std::vector<TFoundHost>& hosts, bool compared = false);

} // namespace corvane::scan
