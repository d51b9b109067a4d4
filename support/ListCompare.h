#pragma once
// What changed since an earlier survey: reading a saved network list (or corvane-scan's txt or json
// output) back into rows, and comparing it with the rows of a new scan. Widget-free; shared by the
// window and corvane-scan.

#include "support/ResultText.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace corvane {

struct THostListRead
{
    std::optional<QList<TNetworkListRow>> rows; // none when the text is malformed
    int line = 0;                               // the offending line (from 1)
    QString error;                              // what is wrong with it
};

// A network list as the window saves it (CR LF or LF, UTF-8, rows padded by characters; the
// corvane-scan txt sections after the list are ignored), or a csv or json list as the window and
// corvane-scan write them (hosts marked "gone" are left out). An empty text is an empty list.
THostListRead read_host_list(const QByteArray& text);
// The same from a file; errors name the file: "FILE: line N: why" or "FILE: why".
struct THostListFile
{
    std::optional<QList<TNetworkListRow>> rows;
    QString error;
};
THostListFile read_host_list_file(const QString& fileName);

enum class TChange { New, Changed, Same, Gone };
QString change_word(TChange change); // "new", "changed", "same", "gone"

struct TFieldChange
{
    int column = 0; // index into TNetworkListRow, 1..6
    QString before;
    QString after;
    bool operator==(const TFieldChange&) const = default;
};

struct THostChange
{
    TChange change = TChange::New;
    QList<TFieldChange> fields; // for Changed
};

struct TListComparison
{
    QList<THostChange> hosts;      // one per row of the new scan, in its order
    QList<TNetworkListRow> gone;   // rows of the earlier list that did not answer, in its order
};

// One host of a new scan against its row of the earlier list; none: it is new.
THostChange compare_host(const TNetworkListRow* before, const TNetworkListRow& now);
// Hosts are matched by IP; the earlier list's first row of an IP counts.
TListComparison compare_host_lists(const QList<TNetworkListRow>& before, const QList<TNetworkListRow>& now);

// "UserName: JOHN -> MARY, FileService: False -> True" (column headings of the saved list; an empty
// value shows as "(none)").
QString field_changes_text(const QList<TFieldChange>& fields);

// The one line the host-information box shows for a host of the earlier list that did not answer:
// it has no name table to show.
QString gone_host_note(const QString& ip, const QString& fileName);

// The txt report after the list: an empty line, a summary, then one line per new, changed and
// gone host. Lines without line breaks.
QStringList comparison_report(const TListComparison& comparison, const QList<TNetworkListRow>& now,
                              const QString& fileName);

} // namespace corvane
