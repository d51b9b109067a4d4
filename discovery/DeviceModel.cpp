#include "discovery/DeviceModel.h"

namespace corvane::discovery {

int TDeviceTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : DeviceColumnCount;
}

QVariant TDeviceTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TDevice& d = device(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return device_text(d, index.column());
    case SortRole:
        return device_sort_key(d, index.column());
    default:
        return {};
    }
}

QVariant TDeviceTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return device_heading(section);
}

bool TDeviceTableModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (!TRowTableModel::removeRows(row, count, parent))
        return false;
    m_rowOf.clear();
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        m_rowOf[m_rows[i].address.value] = int(i);
    return true;
}

void TDeviceTableModel::update(const TDevice& device)
{
    const auto [at, added] = m_rowOf.try_emplace(device.address.value, rowCount());
    if (added) {
        append(device);
        return;
    }
    m_rows[std::size_t(at->second)] = device;
    Q_EMIT dataChanged(index(at->second, 0), index(at->second, DeviceColumnCount - 1));
}

int TDeviceTableModel::rowOf(ipv4::THostAddr address) const
{
    const auto it = m_rowOf.find(address.value);
    return it == m_rowOf.end() ? -1 : it->second;
}

} // namespace corvane::discovery
