#include "app/Umain.h"

#include "app/DevicesPage.h"
#include "app/ElidedLabel.h"
#include "app/ErrorPage.h"
#include "app/HeaderFit.h"
#include "app/PingSweep.h"
#include "app/ResultViews.h"
#include "app/SurveyProgress.h"
#include "app/SurveyStatus.h"
#include "icmp/Ping.h"
#include "netbios/nbtscan.h"
#include "netbios/netBios_procs.h"
#include "platform/Browser.h"
#include "platform/FileVersion.h"
#include "platform/Ipv4.h"
#include "support/LanRange.h"
#include "support/ListCompare.h"
#include "support/My_net_tcpip.h"
#include "support/ResultText.h"
#include "ui_Umain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFileDialog>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QProgressBar>
#include <QScopeGuard>
#include <QScreen>

#include <algorithm>
#include <utility>


const QString TFrm_Corvane::ProductPage = QStringLiteral("https://www.example.com/tools/corvane/");

QIcon corvane_main_icon()
{
    // The resource sits in a static library: without this reference the linker would leave it out.
    Q_INIT_RESOURCE(corvane_icon);
    QIcon icon;
    for (const int size : {48, 128, 256})
        icon.addFile(QStringLiteral(":/icons/com.example.Corvane-%1.png").arg(size), QSize(size, size));
    return icon;
}

TFrm_Corvane::TFrm_Corvane(QWidget* parent) : QMainWindow(parent), m_ui(std::make_unique<Ui::TFrm_Corvane>())
{
    m_ui->setupUi(this);
    m_lookupPool.setMaxThreadCount(1);
    SetupPing();
    SetupRepaintPacing();
    SetupResultViews();
    SetupDevicesPage();
    SetupMenus();
    SetupStatusBar();
    SetupLink();
    SetupKeyFilters();
    ConnectControls();
    SetupGuards();
    PlaceWindow();
    FormCreate();
}

TFrm_Corvane::~TFrm_Corvane()
{
    // The controls go after this class: a field losing its focus or a tab page removed would call
    // back into a window that is no longer one.
    for (QObject* child : findChildren<QObject*>())
        QObject::disconnect(child, nullptr, this, nullptr);
}

// The form's ping component.
void TFrm_Corvane::SetupPing()
{
    m_Ping1 = new TPing(this);
    m_Ping1->setObjectName(QStringLiteral("Ping1"));
    m_Ping1->SetSize(56);
    m_Ping1->SetTimeout(1000);
    m_Ping1->SetTTL(64);
    m_Ping1->SetFlags(0);
    m_Ping1->OnEchoReply = [this](QObject* Sender, TICMP* Icmp, std::int32_t Status) {
        Ping1EchoReply(Sender, Icmp, Status);
    };
    m_Ping1->OnDisplay = [this](QObject* Sender, TICMP* Icmp, const QString& Msg) { Ping1Display(Sender, Icmp, Msg); };
}

void TFrm_Corvane::SetupRepaintPacing()
{
    for (const auto& pacing : {std::pair{&m_resRepaint, static_cast<QWidget*>(m_ui->LstVw_Res)},
                               std::pair{&m_pingRepaint, static_cast<QWidget*>(m_ui->LstVw_Ping)}}) {
        QTimer* const timer = pacing.first;
        QWidget* const list = pacing.second;
        timer->setSingleShot(true);
        timer->setInterval(50);
        connect(timer, &QTimer::timeout, list, [list] { list->setUpdatesEnabled(true); });
    }
}

void TFrm_Corvane::SetupResultViews()
{
    TResultViews::TControls c;
    c.hosts = m_ui->LstVw_Res;
    c.pings = m_ui->LstVw_Ping;
    c.hostInfo = m_ui->Lst_HostInfo;
    c.filter = m_ui->Ed_Filter;
    c.show = m_ui->Cmb_Show;
    c.split = m_ui->Spl_Nbt;
    c.copyHosts = m_ui->Copyhostlist1;
    c.copyPings = m_ui->Copypinglist1;
    c.savePings = m_ui->Savepinglist1;
    c.pages = m_ui->PageCtrlRes;
    c.hostPage = m_ui->Tab_Nbt;
    c.pingPage = m_ui->Tab_Ping;
    m_results = new TResultViews(c, [this]() -> TDesktop& { return *m_desktop; }, this);
    m_ui->Lst_HostInfo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    connect(m_results, &TResultViews::hostSelected, this, [this](int row) { LstVw_ResSelectItem(row, true); });
}

void TFrm_Corvane::SetupDevicesPage()
{
    m_devicesPage = new TDevicesPage(*m_results, m_ui->PageCtrlRes);
    m_ui->PageCtrlRes->insertTab(m_ui->PageCtrlRes->indexOf(m_ui->Tab_Ping) + 1, m_devicesPage,
                                 QStringLiteral("Devices"));
    connect(m_devicesPage, &TDevicesPage::errorLine, this, [this](const QString& text) {
        if (!m_closed)
            m_errorPage->add(text);
    });
    connect(m_devicesPage, &TDevicesPage::finished, this, &TFrm_Corvane::DeviceSurveyDone);
    connect(m_devicesPage, &TDevicesPage::note, this, &TFrm_Corvane::ShowNote);
    connect(m_devicesPage, &TDevicesPage::watchStarted, this, [this] { DeviceWatchRound(true); });
    connect(m_devicesPage, &TDevicesPage::roundDue, this, [this] { DeviceWatchRound(false); });
}

void TFrm_Corvane::SetupMenus()
{
    m_ui->LstVw_Res->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_ui->LstVw_Res->addAction(m_ui->Opensharedfolders1);
    m_ui->LstVw_Res->addAction(m_ui->Savenetworklist1);
    m_ui->LstVw_Res->addAction(m_ui->Comparewithsavedlist1);
    m_ui->LstVw_Res->addAction(m_ui->Copyhostlist1);
    // The keyboard's way to the focused control's pop-up menu, where the desktop gives none.
    m_ui->Popupmenu1->setShortcuts({QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)});
    m_ui->Popupmenu1->setShortcutContext(Qt::WindowShortcut);
    addAction(m_ui->Popupmenu1);
    connect(m_ui->Popupmenu1, &QAction::triggered, this, [] { open_popup_menu(QApplication::focusWidget()); });
}

void TFrm_Corvane::SetupStatusBar()
{
    m_panel0 = new QLabel(QStringLiteral("Computers founded:"), this);
    m_panel0->setObjectName(QStringLiteral("StatusPanel0"));
    m_panel0->setMinimumWidth(105);
    m_panel1 = new QLabel(QStringLiteral("0"), this);
    m_panel1->setObjectName(QStringLiteral("StatusPanel1"));
    m_panel1->setMinimumWidth(50);
    m_ui->StatusBar1->addWidget(m_panel0);
    m_ui->StatusBar1->addWidget(m_panel1);
    // Beside the two panels, so neither loses its meaning; a long reason ends in an ellipsis, never
    // widens the window, and is whole in its tool tip and on the Errors page.
    m_pingReason = new TElidedLabel(Qt::ElideRight, this);
    m_pingReason->setObjectName(QStringLiteral("StatusPingReason"));
    // The Ping page's own count, apart from the hosts found; shown from the first sweep on.
    m_pingCount = new QLabel(this);
    m_pingCount->setObjectName(QStringLiteral("StatusPingCount"));
    m_pingCount->hide();
    m_ui->StatusBar1->addWidget(m_pingCount);
    m_ui->StatusBar1->addWidget(m_pingReason, 1);
    m_countPacer.setSingleShot(true);
    m_countPacer.setInterval(250);
    connect(&m_countPacer, &QTimer::timeout, this, &TFrm_Corvane::ShowCounts);
    // Right of the panels and apart from them: it never changes what they show.
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar1"));
    m_progress->setFixedWidth(300);
    m_progress->setTextVisible(true);
    m_progress->hide();
    m_ui->StatusBar1->addPermanentWidget(m_progress);
    m_surveyProgress = new TSurveyProgress(m_progress, this);
}

void TFrm_Corvane::SetupLink()
{
    TSubPathLabel* link = m_ui->Lbwww;
    link->setAutosize(true);
    link->setTransparent(false);
    link->setCaption(ProductPage);
    link->setCursor(Qt::PointingHandCursor);
    // Keeps the link's distance to the header's right edge, as laid out at the form's width.
    m_linkRightGap = std::max(8, 834 - (link->x() + link->width()));
    m_ui->PnlHeader->installEventFilter(this);
    placeLink();
    // The browser is looked up while the mouse is on its way to a click.
    connect(link, &TSubPathLabel::OnMouseEnter, this, &TFrm_Corvane::LookUpBrowser);
}

void TFrm_Corvane::SetupKeyFilters()
{
    for (QWidget* field : {static_cast<QWidget*>(m_ui->Ed_IPstart), static_cast<QWidget*>(m_ui->Ed_IPend),
                           static_cast<QWidget*>(m_ui->Ed_IP)})
        field->installEventFilter(this);
    m_ui->LstVw_Res->viewport()->installEventFilter(this);
}

void TFrm_Corvane::ConnectControls()
{
    connect(m_ui->But_Scan, &QPushButton::clicked, this, &TFrm_Corvane::But_ScanClick);
    connect(m_ui->But_Stop, &QPushButton::clicked, this, &TFrm_Corvane::But_StopClick);
    connect(m_ui->But_getLocalIPrange, &QPushButton::clicked, this, &TFrm_Corvane::But_getLocalIPrangeClick);
    connect(m_ui->But_IP2Host, &QPushButton::clicked, this, &TFrm_Corvane::But_IP2HostClick);
    connect(m_ui->But_Host2IP, &QPushButton::clicked, this, &TFrm_Corvane::But_Host2IPClick);
    connect(m_ui->Lbwww, &TSubPathLabel::clicked, this, &TFrm_Corvane::LbwwwClick);
    connect(m_ui->Opensharedfolders1, &QAction::triggered, this, &TFrm_Corvane::Opensharedfolders1Click);
    connect(m_ui->Savenetworklist1, &QAction::triggered, this, &TFrm_Corvane::Savenetworklist1Click);
    connect(m_ui->Comparewithsavedlist1, &QAction::triggered, this, &TFrm_Corvane::Comparewithsavedlist1Click);
}

void TFrm_Corvane::PlaceWindow()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        resize(834, 642);
        return;
    }
    // Room for a window manager's title bar and borders, which are not known before the window shows.
    const QSize frame(8, 36);
    setGeometry(fit_window(QSize(834, 642), minimumSizeHint(), screen->availableGeometry(), frame));
}

QLabel* TFrm_Corvane::statusPanel(int index) const
{
    return index == 0 ? m_panel0 : m_panel1;
}

void TFrm_Corvane::FormCreate()
{
    setWindowIcon(corvane_main_icon());
    m_ui->Ed_timeout->setText(QString::number(30));
    winsock_startup();
    SetLocalIPRange();
}

void TFrm_Corvane::FormClose()
{
    // From here on a scan's late hand-overs are dropped and a running sweep ends.
    m_closed = true;
    m_surveyProgress->stopAll();
    for (TPingSweep* sweep : std::as_const(m_parallelSweeps))
        sweep->stop();
    m_devicesPage->shutDown();
    winsock_cleanup();
    ClearResults();
    QCoreApplication::processEvents();
}

void TFrm_Corvane::ClearResults()
{
    m_results->hosts().clear(); // the rows give their results back
    ++m_listGeneration;
    m_results->comparisonCleared();
}

bool TFrm_Corvane::ScanThreadsAlive() const
{
    return std::any_of(m_startedScans.cbegin(), m_startedScans.cend(),
                       [](const QPointer<TNBTscanThread>& t) { return !t.isNull(); });
}

void TFrm_Corvane::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

void TFrm_Corvane::placeLink()
{
    QWidget* header = m_ui->PnlHeader;
    int controlsRight = 0;
    for (QWidget* control : header->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (control != m_ui->Lbwww && !control->isHidden())
            controlsRight = std::max(controlsRight, control->geometry().right() + 1);
    header->setMinimumWidth(header_minimum_width(controlsRight, m_ui->Lbwww->width()));
    // On the controls' row while it fits beside them, else on a row of its own below them.
    const THeaderPlace place =
        place_header_link(header->width(), controlsRight, m_ui->Lbwww->size(), m_linkRightGap, 35);
    m_ui->Lbwww->move(place.link);
    header->setFixedHeight(place.height);
}

int TFrm_Corvane::Ed_IPstartKeyPress(int key, bool rangeForms)
{
    if (rangeForms && (key == '/' || key == '-'))
        return key;
    if (key >= 'a' && key <= 'z')
        key -= 'a' - 'A';
    switch (key) {
    case 3:
    case 8:
    case 22:
    case 24:
    case 46:
        return key;
    default:
        return (key >= 48 && key <= 57) ? key : 0;
    }
}

namespace {
// The character code a key press would type, as the address fields' filter sees it; -1 for keys
// that type nothing (arrows, Delete, Home ...), which always pass. Tab and Backtab move the focus:
// they are navigation, not typed characters.
int key_code(const QKeyEvent* key)
{
    if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)
        return -1;
    // The desktop's editing keys (select all, undo, redo ...) type nothing and work in every field.
    for (const QKeySequence::StandardKey editing :
         {QKeySequence::SelectAll, QKeySequence::Undo, QKeySequence::Redo, QKeySequence::Deselect,
          QKeySequence::DeleteStartOfWord, QKeySequence::DeleteEndOfWord, QKeySequence::DeleteEndOfLine,
          QKeySequence::DeleteCompleteLine})
        if (key->matches(editing))
            return -1;
    // Enter starts Scan from an address field.
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
        return -1;
    if (key->modifiers() & Qt::ControlModifier) {
        if (key->key() >= Qt::Key_A && key->key() <= Qt::Key_Z)
            return key->key() - Qt::Key_A + 1;
        return -1;
    }
    if (key->key() == Qt::Key_Backspace)
        return 8;
    const QString text = key->text();
    if (text.isEmpty() || text.at(0).unicode() == 127)
        return -1;
    return text.at(0).unicode();
}
} // namespace

bool TFrm_Corvane::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ui->PnlHeader) {
        if (event->type() == QEvent::Resize)
            placeLink();
        return QMainWindow::eventFilter(watched, event);
    }
    if (watched == m_ui->LstVw_Res->viewport()) {
        if (event->type() == QEvent::MouseButtonDblClick)
            LstVw_ResDblClick();
        return QMainWindow::eventFilter(watched, event);
    }
    if (event->type() == QEvent::KeyPress) {
        const int code = key_code(static_cast<QKeyEvent*>(event));
        if (code >= 0 && Ed_IPstartKeyPress(code, watched == m_ui->Ed_IPstart) == 0)
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFrm_Corvane::SetLocalIPRange()
{
    const corvane::TLocalLan lan = corvane::local_lan();
    const QString dotted = corvane::ipv4::dotted(corvane::ipv4::TNetAddr {lan.address});
    m_ui->Ed_IP->setText(dotted);
    setWindowTitle(QStringLiteral("Corvane v1.1 Beta (Local IP: ") + dotted + QStringLiteral(")"));
    const corvane::TLanRange& range = lan.range;
    if (!range.found)
        return;
    m_ui->Ed_IPstart->setText(corvane::ipv4::dotted(corvane::ipv4::TNetAddr {range.first}));
    m_ui->Ed_IPend->setText(corvane::ipv4::dotted(corvane::ipv4::TNetAddr {range.last}));
}

void TFrm_Corvane::But_getLocalIPrangeClick()
{
    try {
        SetLocalIPRange();
    } catch (...) {
        ShowMessage(QMessageBox::Critical, QStringLiteral("Can not get informations from network adapter"));
    }
}

void TFrm_Corvane::But_IP2HostClick()
{
    m_ui->Ed_Host->setText(ip_text_to_host_name(m_ui->Ed_IP->text()));
}

void TFrm_Corvane::But_Host2IPClick()
{
    m_ui->Ed_IP->setText(host_name_to_ip_text(m_ui->Ed_Host->text()));
}

void TFrm_Corvane::But_ScanClick()
{
    using corvane::TSurvey;
    const std::optional<TSurvey> survey = ShowingSurvey();
    // Scan is disabled while the page's own survey runs; a call that comes all the same starts nothing.
    if (survey && SurveyRunning(*survey))
        return;
    // A refused range changes nothing: the lists and the Errors page keep what they show.
    std::optional<corvane::ipv4::THostRange> range;
    if (survey && !(range = CheckScanInput(*survey)))
        return;
    try {
        StopRequested = false;
        LastNbtIP.clear();
        m_errorPage->clear();
        m_pingReason->clear();
        m_pingReason->setToolTip(QString());
        QWidget* page = m_ui->PageCtrlRes->currentWidget();
        if (page == m_ui->Tab_Nbt) {
            // The registry is read once, beside the first scan, and fills in the rows already shown.
            m_vendors.load([this] { QMetaObject::invokeMethod(this, [this] { ShowVendors(); }, Qt::QueuedConnection); });
            ClearResults();
            m_ui->Lst_HostInfo->clear();
            // The window guards the hand-overs: once it is gone they are dropped.
            auto thread = std::make_unique<TNBTscanThread>(this);
            m_ScanThread = thread.get();
            thread->StartIP = corvane::ipv4::dotted(range->first);
            thread->EndIP = corvane::ipv4::dotted(range->last);
            thread->UsePort137 = m_ui->Chk_p137->isChecked();
            thread->FreeResults = false;
            thread->OnReceive = [this](TNBTscanThread* Sender, const QString& IP, nb_status_result* Result) {
                NetBiosStat1Receive(Sender, IP, Result);
            };
            thread->OnError = [this](TNBTscanThread* Sender, const QString& Text) { NetBiosScanError(Sender, Text); };
            thread->OnTerminate = [this](TNBTscanThread* Sender) { NetBiosScanDone(Sender); };
            thread->FreeOnTerminate = true;
            m_startedScans.removeAll(nullptr);
            m_startedScans.append(thread.get());
            m_panel1->setText(QStringLiteral("0"));
            const QPointer<TNBTscanThread> scan(thread.get());
            m_surveyProgress->start(TSurvey::NodeStatus,
                                    {thread->AddressCount(), true,
                                     [scan] { return scan ? std::uint64_t {scan->QueriesSent()} : 0; },
                                     [scan] { return scan ? std::uint64_t {scan->WaitingForResolution()} : 0; }});
            thread.release()->Resume();
            UpdateScanButton();
        } else if (page == m_devicesPage) {
            m_watchRound = false;
            StartDeviceSurvey(*range);
        } else if (page == m_ui->Tab_Ping) {
            m_results->pings().clear();
            PingRange(corvane::ipv4::dotted(range->first), corvane::ipv4::dotted(range->last));
        }
    } catch (...) {
        ShowMessage(QMessageBox::Critical, QStringLiteral("Error ocured on scanning"));
    }
}

void TFrm_Corvane::StartDeviceSurvey(const corvane::ipv4::THostRange& range)
{
    m_devicesPage->start(range);
    TDevicesPage* devices = m_devicesPage;
    m_surveyProgress->start(corvane::TSurvey::Devices,
                            {devices->total(), true, [devices] { return devices->asked(); }, {}});
    UpdateScanButton();
}

void TFrm_Corvane::DeviceWatchRound(bool first)
{
    if (m_closed || !m_devicesPage->watching())
        return;
    // Each round surveys the header's range as it is now; the large-range question comes once for it.
    if (first)
        m_watchRange.reset();
    const std::optional<corvane::ipv4::THostRange> range = CheckScanInput(corvane::TSurvey::Devices, m_watchRange);
    if (!range) {
        m_devicesPage->stopWatching();
        return;
    }
    m_watchRange = range;
    if (m_devicesPage->running())
        return; // its end plans the next round
    m_watchRound = true;
    StartDeviceSurvey(*range);
}

void TFrm_Corvane::But_StopClick()
{
    StopRequested = true;
    m_devicesPage->stopWatching();
    for (TPingSweep* sweep : std::as_const(m_parallelSweeps))
        sweep->stop();
    m_surveyProgress->stopAll();
    m_devicesPage->stop();
    if (m_ScanThread && m_ScanThread->isRunning()) {
        m_ScanThread->Terminate();
        m_stoppedScan = m_ScanThread;
    }
}

void TFrm_Corvane::PingRange(const QString& firstText, const QString& lastText)
{
    using namespace corvane::ipv4;
    using corvane::TSurvey;
    const corvane::TFieldsRange checked = corvane::fields_range(firstText, lastText, TSurvey::Ping);
    const corvane::TTimeout timeout = corvane::timeout_field(m_ui->Ed_timeout->text());
    if (!checked.range || !timeout.ms) {
        ShowMessage(QMessageBox::Critical, checked.range ? timeout.error : checked.error);
        return;
    }
    if (timeout.replaced)
        m_ui->Ed_timeout->setText(QStringLiteral("30"));
    m_Ping1->SetTimeout(*timeout.ms);
    const THostAddr first = checked.range->first;
    const THostAddr last = checked.range->last;

    m_pingReasons.clear();
    m_pingDone = 0;
    m_pingAnswered = 0;
    m_pingCount->show();
    ShowCounts();
    ++m_sweeps;
    m_surveyProgress->start(TSurvey::Ping, {walk_length(first, last), false, [this] { return m_pingDone; }, {}});
    UpdateScanButton();
    // Also when an error ends the sweep: no bar or disabled Scan is left behind.
    const auto endSweep = [this] {
        if (--m_sweeps == 0)
            m_surveyProgress->stop(TSurvey::Ping);
        UpdateScanButton();
        ShowCounts();
    };
    auto ended = qScopeGuard(endSweep);
    const TSurveyEnd end = m_ui->Chk_OneAtATime->isChecked() ? SweepOneAtATime(first, last)
                                                              : SweepInParallel(first, last, *timeout.ms);
    ended.dismiss();
    endSweep();
    if (m_closed)
        return;
    m_results->fitColumns(m_ui->LstVw_Ping);
    if (end.stopped)
        ShowNote(stopped_line(end));
    m_errorPage->showCount();
    ShowMessage(QMessageBox::Information, ping_end_text(end));
}

TSurveyEnd TFrm_Corvane::SweepOneAtATime(corvane::ipv4::THostAddr first, corvane::ipv4::THostAddr last)
{
    using namespace corvane::ipv4;
    TSurveyEnd end;
    end.total = walk_length(first, last);
    for (THostAddr current = first; walkable(current, last); ++current.value) {
        m_Ping1->SetAddress(dotted(current));
        m_Ping1->Ping();
        ++m_pingDone;
        m_surveyProgress->update();
        // Ends after the last address, so a range ending at 127.255.255.255 does not wrap on.
        if (current == last)
            break;
        if (StopRequested || m_closed) {
            end.stopped = true;
            break;
        }
    }
    end.done = m_pingDone;
    return end;
}

TSurveyEnd TFrm_Corvane::SweepInParallel(corvane::ipv4::THostAddr first, corvane::ipv4::THostAddr last,
                                         int timeoutMs)
{
    TPingSweep sweep;
    TPingSweep::TSettings settings;
    settings.first = first;
    settings.last = last;
    settings.timeoutMs = timeoutMs;
    settings.size = m_Ping1->Size();
    settings.ttl = m_Ping1->TTL();
    settings.flags = m_Ping1->Flags();
    settings.resolve = m_ui->chb_resolve_host->isChecked();
    QEventLoop loop;
    sweep.OnRow = [this](corvane::TPingRow row) {
        AddPingRow(std::move(row));
        ++m_pingDone;
    };
    sweep.OnDisplay = [this](const QString& text) { Ping1Display(m_Ping1, nullptr, text); };
    sweep.OnEnd = [&loop] { loop.quit(); };
    sweep.start(settings);
    // Inside the Scan click, as the one-at-a-time sweep: the window goes on meanwhile.
    m_parallelSweeps.append(&sweep);
    const auto forget = qScopeGuard([this, &sweep] { m_parallelSweeps.removeAll(&sweep); });
    loop.exec();
    TSurveyEnd end;
    end.total = sweep.total();
    end.done = sweep.done();
    end.stopped = sweep.stopped();
    return end;
}

void TFrm_Corvane::Ping1EchoReply(QObject*, TICMP*, std::int32_t Status)
{
    const TIcmpEchoReply reply = m_Ping1->Reply();
    std::function<QString(const QString&)> resolve;
    if (m_ui->chb_resolve_host->isChecked())
        resolve = [](const QString& ip) { return ip_text_to_host_name(ip); };
    corvane::TPingRow row;
    row.address = m_Ping1->HostIP();
    row.texts = PingRowTexts(row.address, static_cast<std::uint32_t>(Status), reply.Status, reply.DataSize,
                             reply.RoundTripTime, resolve);
    row.received = Status != 0;
    row.ipStatus = reply.Status;
    row.dataSize = reply.DataSize;
    row.roundTripTime = reply.RoundTripTime;
    AddPingRow(std::move(row));
    QCoreApplication::processEvents();
}

void TFrm_Corvane::AddPingRow(corvane::TPingRow row)
{
    if (row.received)
        ++m_pingAnswered;
    m_results->pings().append(std::move(row));
    PaceRepaint(m_ui->LstVw_Ping, m_pingRepaint);
    PaceCounts();
}

void TFrm_Corvane::PaceCounts()
{
    if (!m_countPacer.isActive())
        m_countPacer.start();
}

void TFrm_Corvane::ShowCounts()
{
    m_countPacer.stop();
    // Hosts found counts the running scan's rows; the panel keeps the last count otherwise.
    if (m_ScanThread)
        m_panel1->setText(QString::number(m_results->hosts().answered()));
    m_pingCount->setText(QStringLiteral("Pings answered: %1").arg(m_pingAnswered));
}

void TFrm_Corvane::ShowNote(const QString& text)
{
    m_pingReason->setText(text);
    m_pingReason->setToolTip(text);
}

void TFrm_Corvane::Ping1Display(QObject*, TICMP*, const QString& Msg)
{
    // Without ICMP permission every echo says why; the user needs to read it once a sweep.
    if (m_closed || m_pingReasons.contains(Msg))
        return;
    m_pingReasons.insert(Msg);
    m_errorPage->add(Msg);
    ShowNote(Msg);
}

void TFrm_Corvane::NetBiosStat1Receive(TNBTscanThread*, const QString& IP, nb_status_result* Result)
{
    TResultPtr owned(Result);
    if (m_closed || IP == LastNbtIP)
        return;
    LastNbtIP = IP;
    const bool zeros = corvane::reports_zero_mac(Result);
    corvane::THostRow row(IP, std::move(owned), {}, {});
    if (const std::shared_ptr<const corvane::TVendorTable> vendors = m_vendors.table())
        if (const std::optional<corvane::TMacAddress> mac = row.vendorMac())
            row.vendor = vendors->vendor(*mac);
    m_results->hosts().append(std::move(row));
    PaceRepaint(m_ui->LstVw_Res, m_resRepaint);
    PaceCounts();
    // A host that reports zeros is looked up in the neighbour table, read off this thread a few times
    // a second while the exchange has just filled it; its row learns the address a moment later.
    if (zeros) {
        const int list = m_listGeneration;
        m_neighbours.request(IP, this, [this, IP, list](const std::optional<corvane::TMacAddress>& mac) {
            if (mac && list == m_listGeneration && !m_closed)
                m_results->hosts().setNeighbour(IP, *mac, m_vendors.table().get());
        });
    }
}

void TFrm_Corvane::ShowVendors()
{
    const std::shared_ptr<const corvane::TVendorTable> vendors = m_vendors.table();
    if (!vendors || m_closed)
        return;
    m_results->hosts().showVendors(*vendors);
    // Said once: the registry is read once in the window's life.
    if (vendors->size() == 0) {
        const QString note = corvane::vendors_missing_note(m_vendors.directory());
        m_results->hosts().setVendorNote(note);
        ShowNote(note);
    }
}

void TFrm_Corvane::PaceRepaint(QWidget* list, QTimer& timer)
{
    // The scan waits for every hand-over and the sweep goes on only after each row: repainting the
    // list for every row would pace both by the paint. Rows that come in quick succession are shown
    // together, 20 times a second.
    if (timer.isActive())
        return;
    list->setUpdatesEnabled(false);
    timer.start();
}

void TFrm_Corvane::NetBiosScanError(TNBTscanThread*, const QString& Text)
{
    if (m_closed)
        return;
    m_errorPage->add(Text);
}

void TFrm_Corvane::NetBiosScanDone(TNBTscanThread* Sender)
{
    // Stop reaches only a thread that still runs.
    if (Sender == m_ScanThread) {
        ShowCounts();
        m_ScanThread = nullptr;
        m_surveyProgress->stop(corvane::TSurvey::NodeStatus);
        UpdateScanButton();
    }
    if (m_closed)
        return;
    m_results->fitColumns(m_ui->LstVw_Res);
    TSurveyEnd end;
    end.done = Sender->QueriesSent();
    end.total = Sender->AddressCount();
    // The thread forgets the request once it has ended.
    end.stopped = Sender == m_stoppedScan;
    end.unqueried = Sender->FailedSends(); // counted by the thread: error lines may be cut short
    if (end.stopped)
        ShowNote(stopped_line(end));
    m_errorPage->showCount();
    ShowMessage(QMessageBox::Information, scan_end_text(m_results->hosts().answered(), end));
    // Rows of other scans may have come in while the box was open.
    m_panel1->setText(QString::number(m_results->hosts().answered()));
}

void TFrm_Corvane::DeviceSurveyDone(int devices, bool stopped)
{
    m_surveyProgress->stop(corvane::TSurvey::Devices);
    UpdateScanButton();
    // Watch's rounds end without a box: the page's status line tells.
    if (m_closed || std::exchange(m_watchRound, false))
        return;
    ShowMessage(QMessageBox::Information, QStringLiteral("Survey %1.\rDevices found: %2")
                                              .arg(stopped ? QStringLiteral("stopped") : QStringLiteral("finished"))
                                              .arg(devices));
}

void TFrm_Corvane::LstVw_ResSelectItem(int row, bool selected)
{
    if (selected)
        m_results->showNameTable(m_results->shownHost(row));
}

void TFrm_Corvane::LstVw_ResDblClick()
{
    Opensharedfolders();
}

void TFrm_Corvane::Opensharedfolders1Click()
{
    Opensharedfolders();
}

void TFrm_Corvane::Savenetworklist1Click()
{
    Savenetworklist();
}

void TFrm_Corvane::Savenetworklist()
{
    m_results->saveHostList();
}

void TFrm_Corvane::Comparewithsavedlist1Click()
{
    Comparewithsavedlist();
}

void TFrm_Corvane::Comparewithsavedlist()
{
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QStringLiteral("TXT (*.txt)"), QStringLiteral("CSV (*.csv)"),
                           QStringLiteral("JSON (*.json)"), QStringLiteral("All (*)")});
    const QString fileName = m_desktop->chooseFile(dialog);
    if (fileName.isEmpty())
        return;
    const corvane::THostListFile before = corvane::read_host_list_file(QDir::toNativeSeparators(fileName));
    if (!before.rows) {
        ShowMessage(QMessageBox::Critical, before.error);
        return;
    }

    m_results->hosts().compareWith(*before.rows, QFileInfo(fileName).fileName());
    m_results->comparisonShown();
}

void TFrm_Corvane::Opensharedfolders()
{
    const corvane::THostRow* host = m_results->selectedHost();
    if (!host)
        return;
    const QString parameter = SharedFoldersParameter(corvane::host_text(*host, ColCompName));
    const QUrl url = SharedFoldersUrl(parameter);
    m_desktop->openShare(this, parameter, url, [this, url](const TLaunch& launch) {
        ReportLaunchFailure(url.isEmpty() ? QStringLiteral("the shared folders") : url.toString(), launch);
    });
}

void TFrm_Corvane::LbwwwClick()
{
    const QString ver = get_file_version(QCoreApplication::applicationFilePath());
    const QString link = m_ui->Lbwww->GetSubPath();
    m_browserPending << link + QStringLiteral("?fromApp=Corvane&ver=") + ver;
    if (m_browserExec.isEmpty())
        LookUpBrowser(); // it opens the address once the browser is known
    else
        BrowserFound(m_browserExec);
}

void TFrm_Corvane::LookUpBrowser()
{
    // xdg-mime may take seconds; the window goes on meanwhile. A browser once found is kept.
    if (m_browserLookup || !m_browserExec.isEmpty())
        return;
    m_browserLookup = true;
    TDesktop* desktop = m_desktop;
    const int generation = m_lookupGeneration;
    m_lookupPool.start([this, desktop, generation] {
        const QString exec = desktop->browserExec();
        QMetaObject::invokeMethod(
            this,
            [this, exec, generation] {
                if (generation == m_lookupGeneration)
                    BrowserFound(exec);
            },
            Qt::QueuedConnection);
    });
}

void TFrm_Corvane::BrowserFound(const QString& exec)
{
    m_browserLookup = false;
    m_browserExec = exec;
    const QStringList urls = std::exchange(m_browserPending, {});
    for (const QString& url : urls) {
        TLaunch launch;
        const bool started = corvane::platform::launch_browser(
            exec, url, [this, &launch](const QString& program, const QStringList& args) {
                launch = m_desktop->launchBrowser(program, args);
                return launch.ok;
            });
        if (exec.isEmpty())
            launch = {false, QStringLiteral("no web browser is set (the desktop names no text/html handler)")};
        else if (!started && launch.ok)
            launch = {false, QStringLiteral("the web browser's command line cannot be read: ") + exec};
        ReportLaunchFailure(url, launch);
    }
}

void TFrm_Corvane::setDesktop(TDesktop* desktop)
{
    // A lookup under way asks the desktop being replaced: it ends first, and its answer is dropped.
    m_lookupPool.waitForDone();
    ++m_lookupGeneration;
    m_browserLookup = false;
    m_browserExec.clear();
    m_desktop = desktop ? desktop : &m_systemDesktop;
    if (!m_browserPending.isEmpty())
        LookUpBrowser();
}

void TFrm_Corvane::ShowMessage(QMessageBox::Icon icon, const QString& text)
{
    m_desktop->message(this, icon, text);
}

void TDesktop::message(QWidget* parent, QMessageBox::Icon icon, const QString& text)
{
    // A carriage return alone breaks no line in a Qt label.
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(icon, icon == QMessageBox::Critical ? QStringLiteral("Error") : QStringLiteral("Information"),
                    shown, QMessageBox::Ok, parent);
    box.exec();
}

QString TDesktop::chooseFile(QFileDialog& dialog)
{
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

bool TDesktop::question(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Question"), text, QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

int TDesktop::choose(QWidget* parent, const QString& text, const QStringList& choices)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Question"), text, QMessageBox::Cancel, parent);
    QList<QPushButton*> buttons;
    for (const QString& choice : choices)
        buttons << box.addButton(choice, QMessageBox::AcceptRole);
    if (!buttons.isEmpty())
        box.setDefaultButton(buttons.first());
    box.exec();
    return int(buttons.indexOf(qobject_cast<QPushButton*>(box.clickedButton())));
}

void TDesktop::openShare(QWidget* parent, const QString&, const QUrl& url, TLaunchDone done)
{
    if (url.isEmpty()) {
        done({false, QStringLiteral("the host gave no computer name")});
        return;
    }
    // xdg-open, which the desktop services use as well, says when no program opens smb:// addresses;
    // it ends at once then, and in a few seconds at most when a file manager took the address.
    start_watched(parent, QStringLiteral("xdg-open"), {url.toString()}, 5000, std::move(done));
}

QString TDesktop::browserExec()
{
    return corvane::platform::default_browser_exec();
}

TLaunch TDesktop::launchBrowser(const QString& program, const QStringList& args)
{
    return start_detached_reporting(program, args);
}
