#pragma once
// The devices list as an item model: one row per address, kept in place when the survey learns more
// of a device, so the views keep their selection and sort while names and evidence arrive.
// Widget-free; the window's page "Devices" sorts and filters it with the result proxies.

#include "discovery/DeviceRows.h"
#include "discovery/DeviceSurvey.h"
#include "support/ResultModel.h"

#include <cstdint>
#include <unordered_map>

namespace corvane::discovery {

class TDeviceTableModel : public TRowTableModel<TDevice>
{
public:
    using TRowTableModel::TRowTableModel;

    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool removeRows(int row, int count, const QModelIndex& parent = {}) override;

    // A device seen first is appended; one known already replaces its row where it stands.
    void update(const TDevice& device);
    const TDevice& device(int row) const { return m_rows[std::size_t(row)]; }
    // The row of an address; -1 when it is not listed.
    int rowOf(ipv4::THostAddr address) const;

private:
    std::unordered_map<std::uint32_t, int> m_rowOf;
};

} // namespace corvane::discovery
