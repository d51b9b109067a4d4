#pragma once
// The page "Devices": every address where a host showed itself, found by the devices survey of the
// header's range, in a list with the same views as the other lists (sort, filter, copy, save,
// pop-up menu) and the node-status name table of the device selected.

#include "discovery/DeviceModel.h"
#include "discovery/DeviceSurvey.h"
#include "support/ResultModel.h"

#include <QList>
#include <QWidget>

#include <cstdint>
#include <memory>

class QAction;
class QLineEdit;
class QPlainTextEdit;
class QTreeView;
class TResultViews;

class TDevicesPage : public QWidget
{
    Q_OBJECT

public:
    // views: the window's result views, whose save dialog and column fitting the page shares.
    TDevicesPage(TResultViews& views, QWidget* parent);
    ~TDevicesPage() override;

    // Empties the list and surveys range; nothing when a survey of the page runs.
    void start(const corvane::ipv4::THostRange& range);
    void stop();
    // Stops and waits; the survey's end is then not reported.
    void shutDown();
    bool running() const;
    std::uint64_t total() const;
    std::uint64_t asked() const;

    corvane::discovery::TDeviceTableModel& devices() { return m_devices; }
    QList<const corvane::discovery::TDevice*> devicesInShownOrder() const; // sorted, hidden rows too
    QList<const corvane::discovery::TDevice*> selectedDevices() const; // in the shown order
    void copyDevices();
    void saveDeviceList();

Q_SIGNALS:
    void errorLine(const QString& text);
    // The survey ended (stopped: Stop came first) with this many devices listed.
    void finished(int devices, bool stopped);

private:
    void setupList();
    const corvane::discovery::TDevice* shownDevice(int row) const;
    void showNameTable(int shownRow);
    void surveyEnded(int generation);

    TResultViews& m_views;
    QLineEdit* m_filter;
    QTreeView* m_list;
    QPlainTextEdit* m_info;
    QAction* m_copy;
    QAction* m_save;
    corvane::discovery::TDeviceTableModel m_devices;
    corvane::TResultSortModel m_sorted;
    corvane::THostFilterModel m_shown;
    std::unique_ptr<corvane::discovery::TDeviceSurvey> m_survey;
    int m_generation = 0; // a signal of a survey since replaced is dropped
};
