#include "support/ResultModel.h"

namespace corvane {

// --- THostTableModel

int THostTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : HostColumnCount;
}

QVariant THostTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const THostRow& row = host(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return host_text(row, index.column());
    case Qt::ToolTipRole: {
        const QString tip = host_tool_tip(row, index.column(), m_comparedWith);
        return tip.isEmpty() ? QVariant() : QVariant(tip);
    }
    case SortRole:
        return host_sort_key(row, index.column());
    case MarkRole:
        return row.change ? QVariant(int(*row.change)) : QVariant();
    default:
        return {};
    }
}

QVariant THostTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::ToolTipRole)
        return section == HostVendor && !m_vendorNote.isEmpty() ? QVariant(m_vendorNote) : QVariant();
    if (role != Qt::DisplayRole)
        return {};
    return host_heading(section);
}

void THostTableModel::setVendorNote(const QString& note)
{
    m_vendorNote = note;
    Q_EMIT headerDataChanged(Qt::Horizontal, HostVendor, HostVendor);
}

void THostTableModel::clear()
{
    TRowTableModel::clear(); // the rows give their results back
    m_comparedWith.clear();
    m_before.clear();
    m_beforeAt.clear();
}

bool THostTableModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row + count > rowCount())
        return false;
    beginRemoveRows({}, row, row + count - 1);
    m_rows.erase(m_rows.begin() + row, m_rows.begin() + row + count);
    indexRows(); // before the views hear of it: they look rows up by address
    endRemoveRows();
    return true;
}

void THostTableModel::indexRows()
{
    m_rowOf.clear();
    for (int i = rowCount() - 1; i >= 0; --i) // the first row of an address wins
        m_rowOf[m_rows[std::size_t(i)].ip()] = i;
}

void THostTableModel::append(THostRow row)
{
    if (!m_comparedWith.isEmpty()) {
        const auto it = m_beforeAt.constFind(row.ip());
        const THostChange c = compare_host(it != m_beforeAt.constEnd() ? &m_before[*it] : nullptr, row.listRow());
        row.change = c.change;
        row.changedFields = c.fields;
        const int at = rowOf(row.ip());
        if (at >= 0 && m_rows[std::size_t(at)].gone()) {
            m_rows[std::size_t(at)] = std::move(row);
            columnsChanged(0, HostColumnCount - 1, at);
            return;
        }
    }
    const QString ip = row.ip();
    TRowTableModel::append(std::move(row));
    if (!m_rowOf.contains(ip))
        m_rowOf.insert(ip, rowCount() - 1);
}

int THostTableModel::answered() const
{
    return int(std::count_if(m_rows.begin(), m_rows.end(), [](const THostRow& r) { return !r.gone(); }));
}

void THostTableModel::columnsChanged(int first, int last, int row)
{
    if (!m_rows.empty())
        Q_EMIT dataChanged(index(row < 0 ? 0 : row, first), index(row < 0 ? rowCount() - 1 : row, last));
}

void THostTableModel::showVendors(const TVendorTable& vendors)
{
    for (THostRow& row : m_rows)
        if (const std::optional<TMacAddress> mac = row.vendorMac())
            row.vendor = vendors.vendor(*mac);
    columnsChanged(HostVendor, HostVendor);
}

void THostTableModel::setNeighbour(const QString& ip, const TMacAddress& mac, const TVendorTable* vendors)
{
    const int row = rowOf(ip);
    if (row < 0 || m_rows[std::size_t(row)].gone())
        return;
    THostRow& host = m_rows[std::size_t(row)];
    host.neighbour = mac;
    if (vendors)
        if (const std::optional<TMacAddress> lookUp = host.vendorMac())
            host.vendor = vendors->vendor(*lookUp);
    columnsChanged(HostVendor, HostVendor, row);
}

void THostTableModel::compareWith(const QList<TNetworkListRow>& before, const QString& fileName)
{
    clearComparison();
    QList<THostRow*> now;
    QList<TNetworkListRow> nowRows;
    for (THostRow& row : m_rows) {
        now << &row;
        nowRows << row.listRow();
    }
    std::vector<THostRow> gone = mark_comparison(now, compare_host_lists(before, nowRows));
    m_comparedWith = fileName;
    m_before = before;
    for (qsizetype i = before.size() - 1; i >= 0; --i)
        m_beforeAt[before[i][0]] = i;
    columnsChanged(0, HostColumnCount - 1);
    if (gone.empty())
        return;
    beginInsertRows({}, rowCount(), rowCount() + int(gone.size()) - 1);
    for (THostRow& row : gone)
        m_rows.push_back(std::move(row));
    indexRows();
    endInsertRows();
}

void THostTableModel::clearComparison()
{
    for (int i = rowCount() - 1; i >= 0; --i)
        if (m_rows[std::size_t(i)].gone())
            removeRows(i, 1);
    for (THostRow& row : m_rows) {
        row.change.reset();
        row.changedFields.clear();
    }
    m_comparedWith.clear();
    m_before.clear();
    m_beforeAt.clear();
    columnsChanged(0, HostColumnCount - 1);
}

// --- TPingTableModel

int TPingTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : PingColumnCount;
}

QVariant TPingTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::DisplayRole)
        return ping_text(ping(index.row()), index.column());
    if (role == SortRole)
        return ping_sort_key(ping(index.row()), index.column());
    return {};
}

QVariant TPingTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return ping_heading(section);
}

// --- TResultSortModel

TResultSortModel::TResultSortModel(QObject* parent)
    : QSortFilterProxyModel(parent)
{
    setSortRole(SortRole);
    setSortCaseSensitivity(Qt::CaseInsensitive);
    setDynamicSortFilter(true);
}

bool TResultSortModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    // Equal keys in arrival order, whatever order was shown before and in either direction.
    if (QSortFilterProxyModel::lessThan(left, right))
        return true;
    if (QSortFilterProxyModel::lessThan(right, left))
        return false;
    return sortOrder() == Qt::AscendingOrder ? left.row() < right.row() : left.row() > right.row();
}

// --- THostFilterModel

void THostFilterModel::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    invalidateRowsFilter();
}

void THostFilterModel::setMarks(std::optional<std::set<TChange>> marks)
{
    m_marks = std::move(marks);
    invalidateRowsFilter();
}

void THostFilterModel::sort(int column, Qt::SortOrder order)
{
    if (sourceModel())
        sourceModel()->sort(column, order);
}

bool THostFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    const QAbstractItemModel* source = sourceModel();
    if (m_marks) {
        const QVariant mark = source->index(sourceRow, 0, sourceParent).data(MarkRole);
        if (!mark.isValid() || !m_marks->count(TChange(mark.toInt())))
            return false;
    }
    if (m_text.isEmpty())
        return true;
    for (int c = 0; c < source->columnCount(sourceParent); ++c)
        if (source->index(sourceRow, c, sourceParent).data().toString().contains(m_text, Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace corvane
