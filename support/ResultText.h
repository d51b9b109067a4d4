#pragma once
// Display texts of node-status results and ping replies, shared by the window and corvane-scan.

#include "netbios/netBios_types.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

// One host's name table reduced to a row. The three names stay in the sender's OEM bytes, as they
// came; NetBiosRowTexts converts them for display.
struct TNameTableSummary
{
    QByteArray computer_name;
    QByteArray user_names; // joined by ", "
    QByteArray workgroup;
    QString mac_text;      // 00.1A.2B.3C.4D.5E, empty without adapter statistics
    bool file_service = false;
    bool master_browser = false;
};

// The entry's first 16 bytes up to a zero byte, without codes 0..32 at either end (OEM bytes).
QByteArray nb_entry_display_name(const nb_name_entry& entry);

// The entry's name alone: its 15 name bytes up to a zero byte, without the padding blanks at the end
// (OEM bytes). Every other byte stays, a no-break space (0xFF) or a control code too; the suffix is
// not part of it.
QByteArray nb_entry_name(const nb_name_entry& entry);

TNameTableSummary SummarizeNameTable(const nb_status_result* result);

// A name from the network as one line of a fixed column: every control character (codes below 32,
// and 127) becomes "?". Applied after the OEM conversion, so exact texts (json) stay available.
QString printable_name(QString text);

// The six sub-items of a result row: names converted with OemNameToAnsi and made printable, MAC,
// "True"/"False" twice.
QStringList NetBiosRowTexts(const TNameTableSummary& summary);

// Host-information box: the heading line and one line per name-table entry. Nothing (nullopt) when
// there is no result or it has no header, so the box keeps what it shows.
QString HostInfoHeading();
QString HostInfoLine(const nb_name_entry& entry);
std::optional<QStringList> HostInfoLines(const nb_status_result* result);

// Saved network list: IP and the six sub-items of a row.
using TNetworkListRow = std::array<QString, 7>;
QString NetworkListLine(const TNetworkListRow& row);   // without line break
QString NetworkListHeading();
QByteArray NetworkListFile(const QList<TNetworkListRow>& rows); // UTF-8, every line ended by CR LF

// Left-aligns text in width characters (code points, not bytes or UTF-16 units); never cuts.
QString pad_right(const QString& text, int width);
// Cells padded to widths (one fewer than cells: the last is not padded), a space between, trailing
// spaces dropped; without a line break.
QString column_line(const QStringList& cells, std::span<const int> widths);

// One row of the ping page.
struct TPingRowTexts
{
    QString caption;
    QString status;
    QString data_size;
    QString time;
};
// replies is the number of echo replies the ping received; the other values come from its reply
// record. resolveHost, when set, names the host of a reply (never asked when no reply came).
TPingRowTexts PingRowTexts(const QString& hostIP, std::uint32_t replies, std::uint32_t replyStatus,
                           std::uint32_t dataSize, std::uint32_t roundTripTime,
                           const std::function<QString(const QString&)>& resolveHost = {});

// "/e, \\NAME\" for a computer name, and the smb://NAME/ address a Linux file manager opens for it
// (an empty QUrl when the text names no host).
QString SharedFoldersParameter(const QString& computerName);
QUrl SharedFoldersUrl(const QString& parameterText);
