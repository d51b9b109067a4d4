#include "app/Umain.h"

#include "app/ResultViews.h"

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
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFileDialog>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QProgressBar>
#include <QScreen>

#include <algorithm>
#include <utility>


const QString TFrm_Corvane::ProductPage = QStringLiteral("https://www.example.com/tools/corvane/");

namespace {

// The bar's resolution: a range may hold more addresses than an int counts.
constexpr int ProgressSteps = 1000;

} // namespace

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
    SetupMenus();
    SetupStatusBar();
    SetupLink();
    SetupKeyFilters();
    ConnectControls();
    PlaceWindow();
    FormCreate();
}

TFrm_Corvane::~TFrm_Corvane() = default;

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
    m_results = new TResultViews(c, [this]() -> TDesktop& { return *m_desktop; }, this);
    m_ui->Lst_HostInfo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    connect(m_results, &TResultViews::hostSelected, this, [this](int row) { LstVw_ResSelectItem(row, true); });
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
    // Beside the two panels, so neither loses its meaning; a long reason is clipped, never widens
    // the window, and is whole in its tool tip and on the Errors page.
    m_pingReason = new QLabel(this);
    m_pingReason->setObjectName(QStringLiteral("StatusPingReason"));
    m_pingReason->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_ui->StatusBar1->addWidget(m_pingReason, 1);
    // Right of the panels and apart from them: it never changes what they show.
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar1"));
    m_progress->setRange(0, ProgressSteps);
    m_progress->setFixedWidth(300);
    m_progress->setTextVisible(true);
    m_progress->hide();
    m_ui->StatusBar1->addPermanentWidget(m_progress);
    // The scan thread only counts its queries; this reads the count a few times a second instead
    // of the thread handing over each one.
    m_progressTimer.setInterval(200);
    connect(&m_progressTimer, &QTimer::timeout, this, &TFrm_Corvane::UpdateProgress);
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
    resize(834, 642);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
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
    HideProgress();
    winsock_cleanup();
    ClearResults();
    QCoreApplication::processEvents();
}

void TFrm_Corvane::ClearResults()
{
    m_results->hosts().clear(); // the rows give their results back
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
    QWidget* link = m_ui->Lbwww;
    link->move(m_ui->PnlHeader->width() - m_linkRightGap - link->width(), link->y());
}

int TFrm_Corvane::Ed_IPstartKeyPress(int key)
{
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
        if (code >= 0 && Ed_IPstartKeyPress(code) == 0)
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
    try {
        StopRequested = false;
        LastNbtIP.clear();
        m_ui->Lst_err->clear();
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
            thread->StartIP = m_ui->Ed_IPstart->text();
            thread->EndIP = m_ui->Ed_IPend->text();
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
            const std::uint64_t count = thread->AddressCount();
            ShowProgress(count, true, [scan = QPointer<TNBTscanThread>(thread.get())] {
                return scan ? std::uint64_t{scan->QueriesSent()} : 0;
            });
            thread.release()->Resume();
        } else if (page == m_ui->Tab_Ping) {
            m_results->pings().clear();
            PingRange(m_ui->Ed_IPstart->text(), m_ui->Ed_IPend->text());
        }
    } catch (...) {
        ShowMessage(QMessageBox::Critical, QStringLiteral("Error ocured on scanning"));
    }
}

void TFrm_Corvane::But_StopClick()
{
    StopRequested = true;
    HideProgress();
    if (m_ScanThread && m_ScanThread->isRunning())
        m_ScanThread->Terminate();
}

void TFrm_Corvane::PingRange(const QString& firstText, const QString& lastText)
{
    using namespace corvane::ipv4;
    const TNetAddr firstNet = inet_addr_value(firstText);
    const TNetAddr lastNet = inet_addr_value(lastText);

    bool isNumber = false;
    const int timeout = m_ui->Ed_timeout->text().toInt(&isNumber);
    if (isNumber) {
        m_Ping1->SetTimeout(timeout);
    } else {
        m_Ping1->SetTimeout(30);
        m_ui->Ed_timeout->setText(QStringLiteral("30"));
    }

    const THostAddr first = firstNet.host();
    const THostAddr last = lastNet.host();
    if (!walkable(first, last) || firstNet.value == 0 || lastNet.value == 0)
        return;

    m_pingReasons.clear();
    m_pingDone = 0;
    ShowProgress(walk_length(first, last), false, [this] { return m_pingDone; });
    for (THostAddr current = first; walkable(current, last); ++current.value) {
        m_Ping1->SetAddress(dotted(current));
        m_Ping1->Ping();
        ++m_pingDone;
        UpdateProgress();
        if (StopRequested || m_closed)
            break;
        // Ends after the last address, so a range ending at 127.255.255.255 does not wrap on.
        if (current == last)
            break;
    }
    HideProgress();
    if (m_closed)
        return;
    m_results->fitColumns(m_ui->LstVw_Ping);
    ShowMessage(QMessageBox::Information, QStringLiteral("Ping finished."));
    m_panel1->setText(QString());
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
    m_results->pings().append(std::move(row));
    PaceRepaint(m_ui->LstVw_Ping, m_pingRepaint);
    QCoreApplication::processEvents();
}

void TFrm_Corvane::Ping1Display(QObject*, TICMP*, const QString& Msg)
{
    // Without ICMP permission every echo says why; the user needs to read it once a sweep.
    if (m_closed || m_pingReasons.contains(Msg))
        return;
    m_pingReasons.insert(Msg);
    m_ui->Lst_err->appendPlainText(Msg);
    m_pingReason->setText(Msg);
    m_pingReason->setToolTip(Msg);
}

void TFrm_Corvane::NetBiosStat1Receive(TNBTscanThread*, const QString& IP, nb_status_result* Result)
{
    TResultPtr owned(Result);
    if (m_closed || IP == LastNbtIP)
        return;
    LastNbtIP = IP;
    // The neighbour table is read now, while the exchange has just filled it.
    corvane::THostRow row(IP, std::move(owned), {}, corvane::vendor_source(Result, IP).neighbour);
    if (const std::shared_ptr<const corvane::TVendorTable> vendors = m_vendors.table())
        if (const std::optional<corvane::TMacAddress> mac = row.vendorMac())
            row.vendor = vendors->vendor(*mac);
    m_results->hosts().append(std::move(row));
    PaceRepaint(m_ui->LstVw_Res, m_resRepaint);
}

void TFrm_Corvane::ShowVendors()
{
    const std::shared_ptr<const corvane::TVendorTable> vendors = m_vendors.table();
    if (!vendors || m_closed)
        return;
    m_results->hosts().showVendors(*vendors);
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

void TFrm_Corvane::ShowProgress(std::uint64_t total, bool drains, std::function<std::uint64_t()> done)
{
    m_progressTotal = total;
    m_progressDrains = drains;
    m_progressDone = std::move(done);
    UpdateProgress();
    m_progress->show();
    m_progressTimer.start();
}

void TFrm_Corvane::UpdateProgress()
{
    if (!m_progressDone)
        return;
    const std::uint64_t total = m_progressTotal;
    const std::uint64_t done = std::min(m_progressDone(), total);
    m_progress->setValue(total == 0 ? ProgressSteps : int(done * ProgressSteps / total));
    if (m_progressDrains && done == total)
        m_progress->setFormat(QStringLiteral("%1 queried, waiting for late answers").arg(total));
    else
        m_progress->setFormat(QStringLiteral("%1 of %2").arg(done).arg(total));
}

void TFrm_Corvane::HideProgress()
{
    m_progressTimer.stop();
    m_progressDone = nullptr;
    m_progress->hide();
}

void TFrm_Corvane::NetBiosScanError(TNBTscanThread*, const QString& Text)
{
    if (m_closed)
        return;
    m_ui->Lst_err->appendPlainText(Text);
}

void TFrm_Corvane::NetBiosScanDone(TNBTscanThread* Sender)
{
    // Stop reaches only a thread that still runs.
    if (Sender == m_ScanThread) {
        m_ScanThread = nullptr;
        HideProgress();
    }
    if (m_closed)
        return;
    m_results->fitColumns(m_ui->LstVw_Res);
    ShowMessage(QMessageBox::Information,
                QString::asprintf("Scanning finished.\rComputers founded: %d", m_results->hosts().answered()));
    // Rows of other scans may have come in while the box was open.
    m_panel1->setText(QString::number(m_results->hosts().answered()));
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
    dialog.setNameFilters({QStringLiteral("TXT (*.txt)"), QStringLiteral("JSON (*.json)"), QStringLiteral("All (*)")});
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
    m_desktop->openShare(parameter, url);
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
    for (const QString& url : urls)
        corvane::platform::launch_browser(exec, url, [this](const QString& program, const QStringList& args) {
            m_desktop->launchBrowser(program, args);
            return true;
        });
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

void TDesktop::openShare(const QString&, const QUrl& url)
{
    if (!url.isEmpty())
        QDesktopServices::openUrl(url);
}

QString TDesktop::browserExec()
{
    return corvane::platform::default_browser_exec();
}

void TDesktop::launchBrowser(const QString& program, const QStringList& args)
{
    corvane::platform::start_detached(program, args);
}
