#pragma once
// The window's results as item models: the hosts of a node-status scan and the addresses of a ping
// sweep, each row owned once, and the proxies that sort and filter them for the views. Widget-free
// (QtCore item models), so tests drive them without a window.

#include "support/ResultRows.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QSortFilterProxyModel>

#include <optional>
#include <set>
#include <vector>

namespace corvane {

// Besides the display text and the tool tip.
enum TResultRole {
    SortRole = Qt::UserRole + 1, // what a column sorts by (host_sort_key, ping_sort_key)
    MarkRole, // the compare mark as int(TChange); none before a comparison
};

// Rows owned in the order they arrived, one per line of a table.
template<class Row> class TRowTableModel : public QAbstractTableModel
{
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(m_rows.size()); }
    // Removed rows are released (a host's result with it).
    bool removeRows(int row, int count, const QModelIndex& parent = {}) override
    {
        if (parent.isValid() || row < 0 || count <= 0 || row + count > rowCount())
            return false;
        beginRemoveRows({}, row, row + count - 1);
        m_rows.erase(m_rows.begin() + row, m_rows.begin() + row + count);
        endRemoveRows();
        return true;
    }
    void append(Row row)
    {
        beginInsertRows({}, rowCount(), rowCount());
        m_rows.push_back(std::move(row));
        endInsertRows();
    }
    // Rows removed, not a reset: the views keep their column widths and sort order.
    void clear()
    {
        if (!m_rows.empty())
            removeRows(0, rowCount());
    }

protected:
    std::vector<Row> m_rows;
};

class THostTableModel : public TRowTableModel<THostRow>
{
public:
    using TRowTableModel::TRowTableModel;

    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void clear();
    bool removeRows(int row, int count, const QModelIndex& parent = {}) override;
    // After a comparison a host is marked as it arrives; one the earlier list gave as gone takes
    // that row's place.
    void append(THostRow row);
    const THostRow& host(int row) const { return m_rows[std::size_t(row)]; }
    int rowOf(const QString& ip) const { return m_rowOf.value(ip, -1); } // -1: not listed
    int answered() const; // rows that are not gone

    // The vendors of every row whose address is known, once the registry is read.
    void showVendors(const TVendorTable& vendors);
    // Why the Vendor column stays empty, as its heading's tool tip; empty: no tip.
    void setVendorNote(const QString& note);
    // The neighbour table's address of a host that reported zeros, when it is read after the row was
    // added (by address: rows may have moved meanwhile); the vendor follows when the registry is read.
    void setNeighbour(const QString& ip, const TMacAddress& mac, const TVendorTable* vendors);

    // Marks the hosts against an earlier list (by IP) and adds its hosts that did not answer; a
    // comparison before is cleared first.
    void compareWith(const QList<TNetworkListRow>& before, const QString& fileName);
    // Removes the gone rows and every mark.
    void clearComparison();
    const QString& comparedWith() const { return m_comparedWith; } // empty when not compared

private:
    void columnsChanged(int first, int last, int row = -1); // -1: every row
    void indexRows();

    QString m_comparedWith;
    QString m_vendorNote;
    QList<TNetworkListRow> m_before; // the compared list, for hosts that answer later
    QHash<QString, qsizetype> m_beforeAt; // its first row of each address
    QHash<QString, int> m_rowOf; // the first row of each address
};

class TPingTableModel : public TRowTableModel<TPingRow>
{
public:
    using TRowTableModel::TRowTableModel;

    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    const TPingRow& ping(int row) const { return m_rows[std::size_t(row)]; }
};

// Sorts by SortRole: addresses as numbers, texts case-insensitively, equal keys in arrival order
// (reversing the order keeps them so).
// The order holds while rows arrive; sorting by column -1 restores the arrival order.
class TResultSortModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit TResultSortModel(QObject* parent = nullptr);

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
};

// Over a TResultSortModel: keeps the rows that hold a text in any column and, after a comparison,
// those with the marks asked for. Sorting is passed on to the sort model, so the rows it keeps stay
// in the sorted order of all rows.
class THostFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setText(const QString& text);
    // None: every row; else the rows with one of the marks.
    void setMarks(std::optional<std::set<TChange>> marks);
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    QString m_text;
    std::optional<std::set<TChange>> m_marks;
};

} // namespace corvane
