#pragma once
// The main window.

#include <QList>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

#include "app/Launch.h"
#include "netbios/nbtscan.h"
#include "netbios/netBios_procs.h"
#include "support/ScanInput.h"
#include "support/ResultRows.h"
#include "support/Vendors.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QFileDialog;
class TDevicesPage;
class TElidedLabel;
class QLabel;
class TResultViews;
class QProgressBar;
class QObject;
class TErrorPage;
class TICMP;
class TPing;
class TPingSweep;
struct TSurveyEnd;
class TSurveyProgress;

namespace Ui {
class TFrm_Corvane;
}

// What the window asks of the desktop and a test cannot click: message boxes, the file dialogs, the
// file manager and the web browser. This one does the real thing; tests put a stand-in in its place.
class TDesktop
{
public:
    virtual ~TDesktop() = default;
    virtual void message(QWidget* parent, QMessageBox::Icon icon, const QString& text);
    // A question with Yes and No, No the default; true for Yes.
    virtual bool question(QWidget* parent, const QString& text);
    // A question with a button for each choice and Cancel, the first choice the default; the index
    // of the choice taken, -1 for Cancel.
    virtual int choose(QWidget* parent, const QString& text, const QStringList& choices);
    // Gets the save or open dialog as set up; returns the chosen file name, empty when cancelled.
    virtual QString chooseFile(QFileDialog& dialog);
    // The file browser's parameter text and the smb:// address opened for it (empty: nothing to open).
    // done hears on parent's thread, at once or a few seconds later, whether the file manager took
    // it; never once parent is gone.
    virtual void openShare(QWidget* parent, const QString& parameter, const QUrl& url, TLaunchDone done);
    // The default browser's Exec value, or empty. Runs on a pool thread: it may take seconds.
    virtual QString browserExec();
    virtual TLaunch launchBrowser(const QString& program, const QStringList& args);
};

class TFrm_Corvane : public QMainWindow
{
    Q_OBJECT

public:
    // Throws TICMPException when the ping component cannot be built.
    explicit TFrm_Corvane(QWidget* parent = nullptr);
    ~TFrm_Corvane() override;

    // Not owned; it must outlive the window. Null puts the real desktop back. A browser lookup under
    // way is waited for, and the browser is looked up again through the new one.
    void setDesktop(TDesktop* desktop);
    // True while the default browser is being looked up.
    bool BrowserLookupRunning() const { return m_browserLookup; }

    QLabel* statusPanel(int index) const;
    // The status bar's count of the addresses that answered the last ping sweep; shown from the first.
    QLabel* pingCountPanel() const { return m_pingCount; }
    // Shown in the status bar while a scan or a sweep runs.
    QProgressBar* progressBar() const { return m_progress; }
    // The lines of the Errors page.
    const TErrorPage& errorPage() const { return *m_errorPage; }
    TPing* Ping1() const { return m_Ping1; }
    static const QString ProductPage;

    // Allowed character codes of the address fields; 0 means refused. rangeForms: the first field,
    // which also takes corvane-scan's range forms (ADDRESS/PREFIX, FIRST-LAST).
    static int Ed_IPstartKeyPress(int key, bool rangeForms = false);

    void SetLocalIPRange();
    void ClearResults();
    void PingRange(const QString& firstText, const QString& lastText);

    // Handed to the scan thread; run on the GUI thread while it waits.
    void NetBiosStat1Receive(TNBTscanThread* Sender, const QString& IP, nb_status_result* Result);
    void NetBiosScanError(TNBTscanThread* Sender, const QString& Text);
    void NetBiosScanDone(TNBTscanThread* Sender);
    void DeviceSurveyDone(int devices, bool stopped);
    // Watch on the page Devices: a survey of the header's range now (first: Watch was just checked)
    // or as the next round; a range refused ends the watching.
    void DeviceWatchRound(bool first);

    // The newest scan thread while it runs, else null.
    TNBTscanThread* ScanThread() const { return m_ScanThread; }
    // True while any scan thread this window started still exists (running or not yet freed).
    bool ScanThreadsAlive() const;
    // The result lists: the models under LstVw_Res and LstVw_Ping and what the views do with them.
    TResultViews& results() const { return *m_results; }
    // The page "Devices" and its survey.
    TDevicesPage& devicesPage() const { return *m_devicesPage; }
    // Columns of LstVw_Res.
    enum {
        ColIP = corvane::HostIP,
        ColCompName = corvane::HostCompName,
        ColUserName = corvane::HostUserName,
        ColWorkGroup = corvane::HostWorkGroup,
        ColMAC = corvane::HostMAC,
        ColVendor = corvane::HostVendor,
        ColFileService = corvane::HostFileService,
        ColMasterBrowser = corvane::HostMasterBrowser
    };

public Q_SLOTS:
    void But_ScanClick();
    void But_StopClick();
    void But_getLocalIPrangeClick();
    void But_IP2HostClick();
    void But_Host2IPClick();
    void LbwwwClick();
    // row: a row of LstVw_Res as shown.
    void LstVw_ResSelectItem(int row, bool selected);
    void LstVw_ResDblClick();
    void Opensharedfolders1Click();
    void Savenetworklist1Click();
    void Savenetworklist();
    void Comparewithsavedlist1Click();
    void Comparewithsavedlist();
    void Opensharedfolders();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The constructor's steps, in order.
    void SetupPing();
    void SetupRepaintPacing();
    void SetupResultViews();
    void SetupDevicesPage();
    void SetupMenus();
    void SetupStatusBar();
    void SetupLink();
    void SetupKeyFilters();
    void ConnectControls();
    void PlaceWindow();
    void FormCreate();
    void FormClose();
    void Ping1EchoReply(QObject* Sender, TICMP* Icmp, std::int32_t Status);
    void AddPingRow(corvane::TPingRow row);
    // The two ways to sweep first..last; each tells how far it got.
    TSurveyEnd SweepOneAtATime(corvane::ipv4::THostAddr first, corvane::ipv4::THostAddr last);
    TSurveyEnd SweepInParallel(corvane::ipv4::THostAddr first, corvane::ipv4::THostAddr last, int timeoutMs);
    // The live counts of the status bar, a few times a second while rows come in.
    void PaceCounts();
    void ShowCounts();
    void ShowNote(const QString& text);
    void Ping1Display(QObject* Sender, TICMP* Icmp, const QString& Msg);
    void ShowMessage(QMessageBox::Icon icon, const QString& text);
    void placeLink();
    void PaceRepaint(QWidget* list, QTimer& timer);
    // Scan's guards: the survey of the page showing, whether it runs, Scan enabled only when not.
    std::optional<corvane::TSurvey> ShowingSurvey() const;
    bool SurveyRunning(corvane::TSurvey survey) const;
    void UpdateScanButton();
    void SetupGuards();
    // A range form in the first field spread over both fields; false (with the box) when it is no range.
    bool ExpandRangeForm(bool report);
    // The range to survey, asked about when large (unless it is `approved`); nothing (the box shown or
    // No answered) to refuse.
    std::optional<corvane::ipv4::THostRange>
    CheckScanInput(corvane::TSurvey survey, const std::optional<corvane::ipv4::THostRange>& approved = std::nullopt);
    void StartDeviceSurvey(const corvane::ipv4::THostRange& range);
    void ReportLaunchFailure(const QString& what, const TLaunch& launch);
    void ShowVendors();
    void LookUpBrowser();
    void BrowserFound(const QString& exec);

    std::unique_ptr<Ui::TFrm_Corvane> m_ui;
    TResultViews* m_results = nullptr;
    TDevicesPage* m_devicesPage = nullptr;
    std::optional<corvane::ipv4::THostRange> m_watchRange; // the range Watch was allowed to survey
    bool m_watchRound = false; // the devices survey running was started by Watch: no end box
    TPing* m_Ping1 = nullptr;
    QLabel* m_panel0 = nullptr;
    QLabel* m_panel1 = nullptr;
    TElidedLabel* m_pingReason = nullptr; // the status bar's note: why echoes failed, a stop, a missing registry
    QLabel* m_pingCount = nullptr;
    QTimer m_countPacer;
    std::uint64_t m_pingAnswered = 0;
    QList<TPingSweep*> m_parallelSweeps; // running, innermost last
    TDesktop m_systemDesktop;
    TDesktop* m_desktop = &m_systemDesktop;
    QString m_browserExec; // the default browser, once found
    bool m_browserLookup = false;
    int m_lookupGeneration = 0; // a lookup's answer counts only for the desktop it asked
    QStringList m_browserPending; // addresses clicked while the browser was looked up
    int m_linkRightGap = 0;

    bool StopRequested = false;
    QPointer<TNBTscanThread> m_ScanThread;
    QPointer<TNBTscanThread> m_stoppedScan; // the scan Stop reached, for its end box
    QString LastNbtIP;
    QList<QPointer<TNBTscanThread>> m_startedScans;
    bool m_closed = false;
    QTimer m_resRepaint;
    QTimer m_pingRepaint;
    QSet<QString> m_pingReasons; // display texts of the echo engine shown in this sweep
    QProgressBar* m_progress = nullptr;
    TSurveyProgress* m_surveyProgress = nullptr;
    std::unique_ptr<TErrorPage> m_errorPage;
    std::uint64_t m_pingDone = 0;
    int m_sweeps = 0; // ping sweeps running (a sweep runs inside the Scan click)
    // The browser lookup's thread; it is waited for before the desktop it asks goes away.
    QThreadPool m_lookupPool;
    // Hosts reporting zeros learn their adapter address from here; answers for a list since cleared
    // are dropped by the generation.
    corvane::TNeighbourCache m_neighbours;
    int m_listGeneration = 0;
    // Last, so that it goes first: its reading thread ends before the rest of the window does.
    corvane::TVendorRegistry m_vendors;
};

// The application icon (MAINICON): the installed icon's sizes, built into the program.
QIcon corvane_main_icon();
