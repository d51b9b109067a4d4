#pragma once
// The rows of a survey: one host of a node-status scan, one address of a ping sweep, and the one set
// of texts that the window's lists, the saved list and corvane-scan's txt, csv and json are all made
// from. Widget-free.

#include "netbios/netBios_procs.h"
#include "support/ListCompare.h"
#include "support/ResultText.h"
#include "support/Vendors.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace corvane {

// The columns of the node-status list, in the window's order.
enum THostColumn {
    HostIP,
    HostCompName,
    HostUserName,
    HostWorkGroup,
    HostMAC,
    HostVendor,
    HostFileService,
    HostMasterBrowser,
    HostColumnCount
};
QString host_heading(int column); // "IP", "CompName", ..., "MAC", "Vendor", ...

// One host of a survey: one that answered, with the result it owns, or one of an earlier list that
// did not answer (gone), with the texts that list gave. The texts are made once, when the row is.
class THostRow
{
public:
    THostRow(QString ip, TResultPtr result, QString vendor = {}, std::optional<TMacAddress> neighbour = {});
    explicit THostRow(const TNetworkListRow& listed); // a gone host

    const QString& ip() const { return m_list[0]; }
    const nb_status_result* result() const { return m_result.get(); }
    bool gone() const { return change == TChange::Gone; }
    // IP and the six texts of the saved list: names converted and made printable, MAC, True/False.
    const TNetworkListRow& listRow() const { return m_list; }
    // Computer name, user names and workgroup exactly as converted (control characters kept).
    const std::array<QString, 3>& exactNames() const { return m_exact; }
    bool fileService() const { return m_list[5] == QLatin1String("True"); }
    bool masterBrowser() const { return m_list[6] == QLatin1String("True"); }
    // The address as a number (10.0.0.1 before 10.0.0.10); 0 for text that is no address.
    std::uint32_t addressKey() const { return m_address; }
    // The address the vendor is looked up by: the reported one, or for a host that reports zeros
    // (Samba does) the neighbour table's.
    std::optional<TMacAddress> vendorMac() const;

    // Both may be filled in after the row was made: the registry and the neighbour table are read
    // apart from the scan.
    QString vendor; // empty when unknown
    std::optional<TMacAddress> neighbour; // the neighbour table's address of a host that reports zeros
    // The compare mark, once the survey was compared with an earlier list.
    std::optional<TChange> change;
    QList<TFieldChange> changedFields; // for Changed

private:
    TResultPtr m_result;
    TNetworkListRow m_list;
    std::array<QString, 3> m_exact;
    std::uint32_t m_address = 0;
};

// The text of a host in a column of the list.
QString host_text(const THostRow& row, int column);
// What a column's tool tip adds: the user names whole, the vendor with where its address came from,
// and on the address the compare mark against comparedFile. Empty when nothing.
QString host_tool_tip(const THostRow& row, int column, const QString& comparedFile);
// What the list sorts a column by: the address as a number, every other column by its text.
QVariant host_sort_key(const THostRow& row, int column);

// Marks hosts (parallel to comparison.hosts) with what changed and gives the gone hosts as rows.
std::vector<THostRow> mark_comparison(const QList<THostRow*>& hosts, const TListComparison& comparison);

// The documents of a list of hosts, in the order given. The saved network list leaves the gone
// hosts out; csv and json carry them, and with compared a Change column or "change" field.
QByteArray network_list_file(const QList<const THostRow*>& rows);
QByteArray host_list_csv(const QList<const THostRow*>& rows, bool compared);
QByteArray host_list_json(const QList<const THostRow*>& rows, bool compared);
// Rows as copied to the clipboard: the headings, then one line a row, columns joined by TABs; the
// names from the network guarded as in the csv.
QString host_list_copy(const QList<const THostRow*>& rows);

// One RFC 4180 field: quoted when it holds a comma, a double quote, CR or LF; quotes doubled.
QString csv_field(const QString& text);
// A cell whose text a peer chose: one that a spreadsheet would take for a formula (it starts with =,
// +, -, @, TAB or CR) gets a leading apostrophe, so it is shown as text, never run.
QString csv_peer_text(const QString& text);
// Fields joined by commas, ended by CR LF, UTF-8.
QByteArray csv_record(const QStringList& fields);

// One address of a ping sweep: the ping page's texts and the reply values behind them.
struct TPingRow
{
    QString address; // HostIP: the address pinged
    TPingRowTexts texts;
    bool received = false;
    std::uint32_t ipStatus = 0;
    std::uint32_t dataSize = 0;
    std::uint32_t roundTripTime = 0;
};

enum TPingColumn { PingIP, PingStatus, PingDataSize, PingTime, PingColumnCount };
QString ping_heading(int column); // "IP", "Status", "Data size", "Time"
QString ping_text(const TPingRow& row, int column);
// The address as a number, the status as text, size and time as numbers (none before any number).
QVariant ping_sort_key(const TPingRow& row, int column);

// txt: the ping page's four columns, "%-16s %-25s %-9s %s" with no blanks at the end; LF.
QByteArray ping_txt_heading();
QByteArray ping_txt_line(const TPingRow& row);
QByteArray ping_csv_heading();
QByteArray ping_csv_line(const TPingRow& row);
QByteArray ping_json(const std::vector<TPingRow>& rows);
QByteArray ping_list_txt(const QList<const TPingRow*>& rows);
QByteArray ping_list_csv(const QList<const TPingRow*>& rows);
QByteArray ping_list_json(const QList<const TPingRow*>& rows);
QString ping_list_copy(const QList<const TPingRow*>& rows);

// The format a list is saved in: the suffix of the chosen name (.txt, .csv, .json) when it has one of
// them, else the chosen filter ("CSV (*.csv)" ...); txt when neither says.
enum class TListFormat { Txt, Csv, Json };
TListFormat list_format_for(const QString& fileName, const QString& nameFilter);

} // namespace corvane
