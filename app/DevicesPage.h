#pragma once
// The page "Devices": every address where a host showed itself, found by the devices survey of the
// header's range, in a list with the same views as the other lists (sort, filter, copy, save,
// pop-up menu) and the node-status name table of the device selected. A survey that ends normally
// is recorded into the inventory; the list then shows when each device was first and last seen and
// marks the new and gone ones. Watch runs the survey again every interval, and new (and, if chosen,
// gone) devices raise a desktop notification.

#include "discovery/DeviceModel.h"
#include "discovery/DeviceSurvey.h"
#include "support/ResultModel.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeView;
class TDesktopNotifier;
class TElidedLabel;
class TInventoryLink;
class TResultViews;
struct TInventoryOutcome;

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
    // Stops and waits, the survey and the inventory's thread; the survey's end is then not reported.
    void shutDown();
    bool running() const;
    std::uint64_t total() const;
    std::uint64_t asked() const;

    // Watch: checked, a survey every interval from the start of the last.
    bool watching() const;
    void stopWatching();
    int watchIntervalMs() const;

    // The inventory's URL as set (empty: the default file) and as used.
    static QString inventorySetting();
    static QString inventoryInUse();
    // Keeps url for the surveys to come; why it was refused, else empty.
    QString setInventoryUrl(const QString& url);
    // The dialog "Inventory".
    void editInventory();
    QString statusText() const;

    corvane::discovery::TDeviceTableModel& devices() { return m_devices; }
    // The devices the survey found, sorted, hidden rows too; gone rows are not among them.
    QList<const corvane::discovery::TDevice*> devicesInShownOrder() const;
    QList<const corvane::discovery::TDevice*> selectedDevices() const; // in the shown order
    void copyDevices();
    void saveDeviceList();

Q_SIGNALS:
    void errorLine(const QString& text);
    // The survey ended (stopped: Stop came first) with this many devices listed.
    void finished(int devices, bool stopped);
    // Watch was checked: the window checks the range (asking about a large one) and starts.
    void watchStarted();
    // Watch's next survey is due.
    void roundDue();
    // A survey's recording came back: recorded, or not (why on the Errors page and in the status).
    void inventoryDone(bool recorded);
    // Something the window's status bar says once, such as why vendors are missing.
    void note(const QString& text);

private:
    void setupControls();
    void setupList();
    const corvane::discovery::TDevice* shownDevice(int row) const;
    void showNameTable(int shownRow);
    void surveyEnded(int generation);
    void recorded(int ticket, const TInventoryOutcome& outcome);
    void showOutcome(const TInventoryOutcome& outcome);
    void scheduleRound();
    QString nextRoundText() const;
    void setStatus(const QString& text);
    void showInventory();

    TResultViews& m_views;
    QLineEdit* m_filter;
    QCheckBox* m_watch;
    QComboBox* m_every;
    QCheckBox* m_notifyGone;
    QPushButton* m_inventoryButton;
    TElidedLabel* m_inventory;
    TElidedLabel* m_status;
    QTreeView* m_list;
    QPlainTextEdit* m_info;
    QAction* m_copy;
    QAction* m_save;
    corvane::discovery::TDeviceTableModel m_devices;
    corvane::TResultSortModel m_sorted;
    corvane::THostFilterModel m_shown;
    std::unique_ptr<corvane::discovery::TDeviceSurvey> m_survey;
    int m_generation = 0; // a signal of a survey since replaced is dropped
    // Until its end is handled: its thread ends a moment earlier, and a survey started in that
    // moment would drop the finished one's result unrecorded.
    bool m_surveyOpen = false;
    corvane::ipv4::THostRange m_range {};
    QDateTime m_started; // the survey's start, UTC
    QElapsedTimer m_sinceStart;
    QTimer m_round; // Watch's next survey
    TInventoryLink* m_link;
    TDesktopNotifier* m_notifier;
    bool m_notifyNoteShown = false; // "unavailable" is said once
    bool m_vendorNoteShown = false;
};
