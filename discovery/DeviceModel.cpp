#include "discovery/DeviceModel.h"

namespace corvane::discovery {

QString seen_text(const QDateTime& time)
{
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

int TDeviceTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : DeviceListColumnCount;
}

QVariant TDeviceTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TDeviceListRow& row = listRow(index.row());
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        if (column == DeviceFirstSeen || column == DeviceLastSeen)
            return seen_text(column == DeviceFirstSeen ? row.firstSeen : row.lastSeen);
        return device_text(row.device, column);
    case SortRole:
        // By the time itself, not its text; an unknown time first.
        if (column == DeviceFirstSeen || column == DeviceLastSeen) {
            const QDateTime& time = column == DeviceFirstSeen ? row.firstSeen : row.lastSeen;
            return QVariant::fromValue(time.isValid() ? time.toMSecsSinceEpoch() : qint64(-1));
        }
        return device_sort_key(row.device, column);
    case Qt::ToolTipRole:
        return column == DeviceIP && !row.changeTip.isEmpty() ? QVariant(row.changeTip) : QVariant();
    case MarkRole:
        return row.change ? QVariant(int(*row.change)) : QVariant();
    default:
        return {};
    }
}

QVariant TDeviceTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::ToolTipRole)
        return section == DeviceVendor && !m_vendorNote.isEmpty() ? QVariant(m_vendorNote) : QVariant();
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    if (section == DeviceFirstSeen)
        return QStringLiteral("First seen");
    if (section == DeviceLastSeen)
        return QStringLiteral("Last seen");
    return device_heading(section);
}

bool TDeviceTableModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (!TRowTableModel::removeRows(row, count, parent))
        return false;
    m_rowOf.clear();
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].change != TChange::Gone)
            m_rowOf[m_rows[i].device.address.value] = int(i);
    return true;
}

void TDeviceTableModel::update(const TDevice& device)
{
    const auto [at, added] = m_rowOf.try_emplace(device.address.value, rowCount());
    if (added) {
        append(TDeviceListRow {device, {}, {}, {}, {}});
        return;
    }
    m_rows[std::size_t(at->second)].device = device;
    rowChanged(at->second);
}

int TDeviceTableModel::rowOf(ipv4::THostAddr address) const
{
    const auto it = m_rowOf.find(address.value);
    return it == m_rowOf.end() ? -1 : it->second;
}

void TDeviceTableModel::setSeen(int row, const QDateTime& first, const QDateTime& last)
{
    TDeviceListRow& r = m_rows[std::size_t(row)];
    r.firstSeen = first;
    r.lastSeen = last;
    Q_EMIT dataChanged(index(row, DeviceFirstSeen), index(row, DeviceLastSeen));
}

void TDeviceTableModel::mark(int row, TChange change, const QString& tip)
{
    TDeviceListRow& r = m_rows[std::size_t(row)];
    if (r.change != TChange::New)
        r.change = change;
    r.changeTip = r.changeTip.isEmpty() ? tip : r.changeTip + u'\n' + tip;
    rowChanged(row);
}

void TDeviceTableModel::addGone(const TDevice& device, const QDateTime& first, const QDateTime& last,
                                const QString& tip)
{
    append(TDeviceListRow {device, first, last, TChange::Gone, tip});
}

void TDeviceTableModel::rowChanged(int row)
{
    Q_EMIT dataChanged(index(row, 0), index(row, DeviceListColumnCount - 1));
}

void TDeviceTableModel::setVendorNote(const QString& note)
{
    if (note == m_vendorNote)
        return;
    m_vendorNote = note;
    Q_EMIT headerDataChanged(Qt::Horizontal, DeviceVendor, DeviceVendor);
}

} // namespace corvane::discovery
