#pragma once
// The devices list as an item model: one row per address, kept in place when the survey learns more
// of a device, so the views keep their selection and sort while names and evidence arrive. Once the
// inventory recorded the survey, rows learn when the device was first and last seen and carry the
// compare marks (new, changed) for its events; a device the inventory gives as gone gets a row of its
// own, as a compared list's gone hosts do.
// Widget-free; the window's page "Devices" sorts and filters it with the result proxies.

#include "discovery/DeviceRows.h"
#include "discovery/DeviceSurvey.h"
#include "support/ListCompare.h"
#include "support/ResultModel.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>
#include <unordered_map>

namespace corvane::discovery {

// The list's columns after the survey's own: what the inventory knows of the device.
enum TDeviceHistoryColumn { DeviceFirstSeen = DeviceColumnCount, DeviceLastSeen, DeviceListColumnCount };

struct TDeviceListRow
{
    TDevice device;
    QDateTime firstSeen, lastSeen; // invalid until the inventory said
    std::optional<TChange> change; // New, Changed or Gone; none: no event
    QString changeTip; // what the mark means, the address's tool tip
};

// "2026-12-09 11:15:02" in local time; empty for an invalid time.
QString seen_text(const QDateTime& time);

class TDeviceTableModel : public TRowTableModel<TDeviceListRow>
{
public:
    using TRowTableModel::TRowTableModel;

    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool removeRows(int row, int count, const QModelIndex& parent = {}) override;

    // A device seen first is appended; one known already replaces its row where it stands (and
    // keeps what the inventory said of it).
    void update(const TDevice& device);
    const TDevice& device(int row) const { return m_rows[std::size_t(row)].device; }
    const TDeviceListRow& listRow(int row) const { return m_rows[std::size_t(row)]; }
    bool gone(int row) const { return m_rows[std::size_t(row)].change == TChange::Gone; }
    // The row of a device the survey found at an address; -1 when it is not listed.
    int rowOf(ipv4::THostAddr address) const;

    void setSeen(int row, const QDateTime& first, const QDateTime& last);
    // New or Changed; a New mark is not turned into Changed, and a second tip adds a line.
    void mark(int row, TChange change, const QString& tip);
    // A device of the inventory that this survey missed: a row of its own with the gone mark.
    void addGone(const TDevice& device, const QDateTime& first, const QDateTime& last, const QString& tip);
    // The Vendor heading's tool tip: why the column is empty.
    void setVendorNote(const QString& note);

private:
    void rowChanged(int row);
    std::unordered_map<std::uint32_t, int> m_rowOf; // rows of the survey's devices, never gone ones
    QString m_vendorNote;
};

} // namespace corvane::discovery
