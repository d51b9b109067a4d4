#include "app/DevicesPage.h"

#include "app/DesktopNotice.h"
#include "app/ElidedLabel.h"
#include "app/InventoryLink.h"
#include "app/ResultViews.h"
#include "discovery/DeviceRows.h"
#include "inventory/Inventory.h"
#include "support/ResultRows.h"
#include "support/ResultText.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QSysInfo>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <map>

using namespace corvane;
using namespace corvane::discovery;
using namespace corvane::inventory;

namespace {

// Watch's intervals: the box's texts and their seconds; 5 min unless the user chose.
constexpr std::array<std::pair<const char*, int>, 5> kIntervals {
    {{"30 s", 30}, {"1 min", 60}, {"5 min", 300}, {"15 min", 900}, {"1 h", 3600}}};
constexpr int kDefaultInterval = 2;

std::unique_ptr<QSettings> settings()
{
    return std::make_unique<QSettings>(QStringLiteral("corvane"), QStringLiteral("corvane"));
}

const QString kUrlKey = QStringLiteral("inventory/url");
const QString kIntervalKey = QStringLiteral("watch/interval");
const QString kNotifyGoneKey = QStringLiteral("watch/notifyGone");

QString clock_text(const QDateTime& time)
{
    return time.toLocalTime().toString(QStringLiteral("HH:mm:ss"));
}

QString devices_text(int count)
{
    return count == 1 ? QStringLiteral("1 device") : QStringLiteral("%1 devices").arg(count);
}

QString event_tip(const TEvent& e, int goneAfter)
{
    switch (e.kind) {
    case TEventKind::New:
        return QStringLiteral("New: not in the inventory before this survey");
    case TEventKind::Gone:
        return QStringLiteral("Gone: in the inventory, missed by the last %1 surveys of its address").arg(goneAfter);
    case TEventKind::Back:
        return QStringLiteral("Back: seen again after it was gone");
    case TEventKind::AddressChanged:
        return QStringLiteral("Address changed: was %1").arg(e.previous);
    case TEventKind::NameChanged:
        return QStringLiteral("Name changed: was %1").arg(printable_name(e.previous));
    case TEventKind::MacChanged:
        return QStringLiteral("MAC changed: was %1").arg(e.previous);
    }
    return {};
}

// The inventory's devices by MAC and by address; a device without a MAC is keyed by its address.
struct TKnown
{
    std::map<TMacAddress, const TInventoryDevice*> byMac;
    std::map<std::uint32_t, const TInventoryDevice*> byAddress; // keyed by address first, then any
    explicit TKnown(const std::vector<TInventoryDevice>& devices)
    {
        for (const TInventoryDevice& d : devices)
            if (d.mac)
                byMac.emplace(*d.mac, &d);
        for (const TInventoryDevice& d : devices)
            if (!d.mac)
                byAddress.emplace(d.lastAddress.value, &d);
        for (const TInventoryDevice& d : devices)
            byAddress.emplace(d.lastAddress.value, &d); // kept when there is one already
    }
    const TInventoryDevice* find(const std::optional<TMacAddress>& mac, ipv4::THostAddr address) const
    {
        if (mac) {
            const auto it = byMac.find(*mac);
            if (it != byMac.end())
                return it->second;
        }
        const auto it = byAddress.find(address.value);
        return it == byAddress.end() ? nullptr : it->second;
    }
};

} // namespace

TDevicesPage::TDevicesPage(TResultViews& views, QWidget* parent)
    : QWidget(parent)
    , m_views(views)
    , m_filter(new QLineEdit(this))
    , m_watch(new QCheckBox(QStringLiteral("Watch"), this))
    , m_every(new QComboBox(this))
    , m_notifyGone(new QCheckBox(QStringLiteral("Notify gone devices"), this))
    , m_inventoryButton(new QPushButton(QStringLiteral("Inventory..."), this))
    , m_inventory(new TElidedLabel(Qt::ElideMiddle, this))
    , m_status(new TElidedLabel(Qt::ElideRight, this))
    , m_list(new QTreeView(this))
    , m_info(new QPlainTextEdit(this))
    , m_copy(new QAction(QStringLiteral("Copy"), this))
    , m_save(new QAction(QStringLiteral("Save device list.."), this))
    , m_link(new TInventoryLink(this))
    , m_notifier(new TDesktopNotifier(this))
{
    setObjectName(QStringLiteral("Tab_Devices"));
    m_filter->setObjectName(QStringLiteral("Ed_DeviceFilter"));
    m_filter->setPlaceholderText(QStringLiteral("Filter: address, name, MAC, vendor or evidence"));
    m_filter->setToolTip(QStringLiteral("Shows the devices that contain this text in any column"));
    m_filter->setClearButtonEnabled(true);
    m_list->setObjectName(QStringLiteral("LstVw_Devices"));
    m_info->setObjectName(QStringLiteral("Lst_DeviceInfo"));
    m_copy->setObjectName(QStringLiteral("Copydevicelist1"));
    m_save->setObjectName(QStringLiteral("Savedevicelist1"));

    // As the node-status page: the filter above, the list over the name-table box.
    auto* filterRow = new QHBoxLayout;
    filterRow->setContentsMargins(2, 2, 2, 0);
    filterRow->addWidget(m_filter, 1);
    filterRow->addSpacing(8);
    filterRow->addWidget(m_watch);
    filterRow->addWidget(m_every);
    filterRow->addSpacing(8);
    filterRow->addWidget(m_notifyGone);
    filterRow->addSpacing(8);
    filterRow->addWidget(m_inventoryButton);
    auto* statusRow = new QHBoxLayout;
    statusRow->setContentsMargins(4, 0, 4, 0);
    statusRow->addWidget(m_status, 3);
    statusRow->addWidget(m_inventory, 2);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->setObjectName(QStringLiteral("Spl_Devices"));
    split->setChildrenCollapsible(false);
    split->addWidget(m_list);
    auto* infoPanel = new QWidget(split);
    auto* infoLayout = new QVBoxLayout(infoPanel);
    infoLayout->setContentsMargins(0, 0, 0, 0);
    infoLayout->setSpacing(3);
    infoLayout->addWidget(new QLabel(QStringLiteral("Host's netbios names"), infoPanel));
    infoLayout->addWidget(m_info);
    split->addWidget(infoPanel);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    split->setSizes({400, 130});
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);
    layout->addLayout(filterRow);
    layout->addLayout(statusRow);
    layout->addWidget(split);

    m_info->setReadOnly(true);
    m_info->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_info->setMinimumHeight(48);
    m_info->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setupControls();
    setupList();
    connect(m_filter, &QLineEdit::textChanged, this, [this](const QString& text) { m_shown.setText(text); });
}

TDevicesPage::~TDevicesPage()
{
    shutDown();
}

void TDevicesPage::setupControls()
{
    m_watch->setObjectName(QStringLiteral("Chk_Watch"));
    m_every->setObjectName(QStringLiteral("Cmb_WatchEvery"));
    m_notifyGone->setObjectName(QStringLiteral("Chk_NotifyGone"));
    m_inventoryButton->setObjectName(QStringLiteral("But_Inventory"));
    m_inventory->setObjectName(QStringLiteral("Lbl_Inventory"));
    m_status->setObjectName(QStringLiteral("Lbl_DeviceStatus"));
    m_watch->setToolTip(QStringLiteral("Surveys the header's range again every interval, from the start of the last"));
    m_every->setToolTip(QStringLiteral("How often Watch surveys"));
    m_notifyGone->setToolTip(QStringLiteral("The desktop notification names the gone devices too, not only the new"));
    m_inventoryButton->setToolTip(QStringLiteral("Where the surveys are recorded: the default file or a database URL"));
    for (const auto& [text, secs] : kIntervals)
        m_every->addItem(QLatin1String(text), secs);
    const std::unique_ptr<QSettings> s = settings();
    const int chosen = m_every->findData(s->value(kIntervalKey, kIntervals[kDefaultInterval].second).toInt());
    m_every->setCurrentIndex(chosen >= 0 ? chosen : kDefaultInterval);
    m_notifyGone->setChecked(s->value(kNotifyGoneKey, false).toBool());
    // Long texts are cut rather than widen the window; the whole text is the tool tip.
    m_inventory->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    showInventory();

    m_round.setSingleShot(true);
    connect(&m_round, &QTimer::timeout, this, [this] {
        // A survey running now (a Scan meanwhile) is this round; its end plans the next.
        if (watching() && !running())
            Q_EMIT roundDue();
    });
    connect(m_watch, &QCheckBox::toggled, this, [this](bool on) {
        if (on) {
            Q_EMIT watchStarted();
            return;
        }
        m_round.stop();
        setStatus(running() ? QStringLiteral("Watch ended: the survey running now is the last.")
                            : QStringLiteral("Watch ended."));
    });
    connect(m_every, &QComboBox::currentIndexChanged, this, [this] {
        settings()->setValue(kIntervalKey, m_every->currentData());
        if (!m_round.isActive())
            return;
        scheduleRound();
        // The status's time of the next survey follows the new interval.
        QString text = m_status->text();
        if (const qsizetype at = text.indexOf(QLatin1String(" Next survey at ")); at >= 0)
            setStatus(text.left(at) + nextRoundText());
    });
    connect(m_notifyGone, &QCheckBox::toggled, this, [](bool on) { settings()->setValue(kNotifyGoneKey, on); });
    connect(m_inventoryButton, &QPushButton::clicked, this, &TDevicesPage::editInventory);
    connect(m_link, &TInventoryLink::recorded, this, &TDevicesPage::recorded);
    connect(m_notifier, &TDesktopNotifier::unavailable, this, [this](const QString& why) {
        if (m_notifyNoteShown)
            return;
        m_notifyNoteShown = true;
        setStatus(m_status->text() + QStringLiteral(" Desktop notifications are unavailable: %1.").arg(why));
    });
}

void TDevicesPage::setupList()
{
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_sorted.setSourceModel(&m_devices);
    m_shown.setSourceModel(&m_sorted);
    // An address, a host name, its source, a MAC, a vendor, the evidence words, two times.
    setup_result_list(m_list, &m_shown, {15, 20, 7, 17, 12, 12, 19, 19});

    m_list->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_list->addAction(m_save);
    m_list->addAction(m_copy);
    m_copy->setShortcut(QKeySequence::Copy);
    m_copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(m_copy, &QAction::triggered, this, &TDevicesPage::copyDevices);
    connect(m_save, &QAction::triggered, this, &TDevicesPage::saveDeviceList);

    QItemSelectionModel* selection = m_list->selectionModel();
    connect(selection, &QItemSelectionModel::currentRowChanged, this, [this, selection](const QModelIndex& current) {
        if (current.isValid() && selection->isRowSelected(current.row()))
            showNameTable(current.row());
    });
    connect(selection, &QItemSelectionModel::selectionChanged, this, [this, selection](const QItemSelection& added) {
        const QModelIndex current = selection->currentIndex();
        if (!added.isEmpty())
            showNameTable(added.contains(current) ? current.row() : added.indexes().constLast().row());
    });
}

void TDevicesPage::start(const ipv4::THostRange& range)
{
    if (running())
        return;
    m_round.stop();
    m_range = range;
    m_started = QDateTime::currentDateTimeUtc();
    m_sinceStart.start();
    setStatus(QStringLiteral("Surveying %1-%2...").arg(ipv4::dotted(range.first), ipv4::dotted(range.last)));
    m_survey.reset(); // a finished survey's thread is gone already
    m_surveyOpen = true;
    m_devices.clear();
    m_info->clear();
    TDeviceSurveyOptions options;
    options.targets = {range};
    m_survey = std::make_unique<TDeviceSurvey>(std::move(options));
    const int generation = ++m_generation;
    TDeviceSurvey* survey = m_survey.get();
    connect(survey, &TDeviceSurvey::deviceChanged, this, [this, generation](const TDevice& device) {
        if (generation == m_generation)
            m_devices.update(device);
    });
    connect(survey, &TDeviceSurvey::errorLine, this, [this, generation](const QString& text) {
        if (generation == m_generation)
            Q_EMIT errorLine(text);
    });
    connect(survey, &TDeviceSurvey::finished, this, [this, generation] { surveyEnded(generation); });
    survey->start();
}

void TDevicesPage::surveyEnded(int generation)
{
    if (generation != m_generation || !m_survey)
        return;
    m_surveyOpen = false;
    // The whole list, should a change have been passed over while the list was busy.
    for (const TDevice& device : m_survey->devices())
        m_devices.update(device);
    m_views.fitColumns(m_list);
    if (const QString why = m_survey->vendorsMissing(); !why.isEmpty()) {
        m_devices.setVendorNote(why);
        if (!std::exchange(m_vendorNoteShown, true))
            Q_EMIT note(why);
    }
    const bool stopped = m_survey->stopped();
    if (stopped) {
        setStatus(QStringLiteral("Survey stopped: not recorded in the inventory, as a stopped survey would make "
                                 "false gone events."));
    } else if (m_survey->cannotStart()) {
        setStatus(QStringLiteral("The survey could not ask every address (see Errors): not recorded in the "
                                 "inventory, as it would make false gone events."));
    } else {
        TSurveyRecord record;
        record.time = m_started;
        record.ranges = {m_range};
        record.scanner = QSysInfo::machineHostName();
        record.devices = m_survey->devices();
        m_link->record(generation, inventorySetting(), std::move(record));
        setStatus(QStringLiteral("Survey finished: %1; recording it into the inventory...")
                      .arg(devices_text(m_devices.rowCount())));
    }
    if (watching())
        scheduleRound();
    Q_EMIT finished(m_devices.rowCount(), stopped);
}

void TDevicesPage::recorded(int ticket, const TInventoryOutcome& outcome)
{
    if (!outcome.error.isEmpty()) {
        // Whichever survey it was: the next one tries again.
        const QString line = QStringLiteral("The inventory was not updated: %1").arg(outcome.error);
        Q_EMIT errorLine(line);
        if (!running())
            setStatus(line + nextRoundText());
        Q_EMIT inventoryDone(false);
        return;
    }
    // A list since emptied for another survey shows nothing of this one.
    if (ticket == m_generation)
        showOutcome(outcome);
    if (const std::optional<TDeviceNotice> notice = device_notice(outcome.events, m_notifyGone->isChecked()))
        m_notifier->notify(*notice);
    Q_EMIT inventoryDone(true);
}

void TDevicesPage::showOutcome(const TInventoryOutcome& outcome)
{
    const int goneAfter = TInventoryOptions {}.goneAfter;
    int added = 0, back = 0, gone = 0;
    static const std::vector<TInventoryDevice> none;
    const TKnown known(outcome.devices ? *outcome.devices : none);
    for (int r = 0; r < m_devices.rowCount(); ++r) {
        if (m_devices.gone(r))
            continue;
        const TDevice& d = m_devices.device(r);
        if (const TInventoryDevice* k = known.find(d.mac, d.address))
            m_devices.setSeen(r, k->firstSeen, k->lastSeen);
    }
    for (const TEvent& e : outcome.events) {
        if (e.kind == TEventKind::Gone) {
            ++gone;
            TDevice d;
            d.address = e.address;
            d.mac = e.mac;
            d.vendor = e.vendor;
            if (!e.name.name.isEmpty())
                d.names.push_back(e.name);
            const TInventoryDevice* k = known.find(e.mac, e.address);
            m_devices.addGone(d, k ? k->firstSeen : QDateTime(), k ? k->lastSeen : QDateTime(),
                              event_tip(e, goneAfter));
            continue;
        }
        const int row = m_devices.rowOf(e.address);
        if (row < 0)
            continue;
        if (e.kind == TEventKind::New)
            ++added;
        if (e.kind == TEventKind::Back)
            ++back;
        m_devices.mark(row, e.kind == TEventKind::New ? TChange::New : TChange::Changed, event_tip(e, goneAfter));
    }
    m_views.fitColumns(m_list);
    if (running())
        return;
    QString text = QStringLiteral("Survey of %1 recorded: %2, %3 new, %4 back, %5 gone.")
                       .arg(clock_text(m_started))
                       .arg(devices_text(m_devices.rowCount() - gone))
                       .arg(added)
                       .arg(back)
                       .arg(gone);
    if (!outcome.devices)
        text += QStringLiteral(" First and last seen could not be read: %1.").arg(outcome.devicesError);
    setStatus(text + nextRoundText());
}

void TDevicesPage::scheduleRound()
{
    m_round.start(int(std::max<qint64>(0, watchIntervalMs() - (m_sinceStart.isValid() ? m_sinceStart.elapsed() : 0))));
}

QString TDevicesPage::nextRoundText() const
{
    if (!watching() || !m_round.isActive())
        return {};
    return QStringLiteral(" Next survey at %1.")
        .arg(clock_text(QDateTime::currentDateTimeUtc().addMSecs(m_round.remainingTime())));
}

bool TDevicesPage::watching() const
{
    return m_watch->isChecked();
}

void TDevicesPage::stopWatching()
{
    m_watch->setChecked(false);
}

int TDevicesPage::watchIntervalMs() const
{
    // A test knob: rounds closer together than the box offers, so a test sees Watch's second survey.
    bool ok = false;
    const int knob = qEnvironmentVariableIntValue("CORVANE_WATCH_INTERVAL_MS", &ok);
    if (ok && knob > 0)
        return knob;
    return m_every->currentData().toInt() * 1000;
}

QString TDevicesPage::inventorySetting()
{
    return settings()->value(kUrlKey).toString();
}

QString TDevicesPage::inventoryInUse()
{
    const QString url = inventorySetting();
    return url.isEmpty() ? default_url() : url;
}

QString TDevicesPage::setInventoryUrl(const QString& url)
{
    const QString wanted = url.trimmed();
    QString why;
    if (!wanted.isEmpty() && !parse_db_url(wanted, &why))
        return why;
    settings()->setValue(kUrlKey, wanted);
    showInventory();
    return {};
}

void TDevicesPage::showInventory()
{
    const QString text = QStringLiteral("Inventory: %1").arg(inventoryInUse());
    m_inventory->setText(text);
    m_inventory->setToolTip(text);
}

void TDevicesPage::editInventory()
{
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("Dlg_Inventory"));
    dialog.setWindowTitle(QStringLiteral("Inventory"));
    auto* field = new QLineEdit(inventorySetting(), &dialog);
    field->setObjectName(QStringLiteral("Ed_InventoryUrl"));
    field->setPlaceholderText(default_url());
    field->setMinimumWidth(field->fontMetrics().averageCharWidth() * 60);
    auto* refused = new QLabel(&dialog);
    refused->setObjectName(QStringLiteral("Lbl_InventoryRefused"));
    refused->setWordWrap(true);
    refused->hide();
    auto* help = new QLabel(QStringLiteral("Where the surveys are recorded: sqlite:PATH or "
                                           "postgresql://USER@HOST[:PORT]/DB (the password from PGPASSWORD "
                                           "or ~/.pgpass). Empty: the default file."),
                            &dialog);
    help->setWordWrap(true);
    auto* label = new QLabel(QStringLiteral("Database &URL:"), &dialog);
    label->setBuddy(field);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(help);
    layout->addWidget(label);
    layout->addWidget(field);
    layout->addWidget(refused);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        const QString why = setInventoryUrl(field->text());
        if (why.isEmpty()) {
            dialog.accept();
            return;
        }
        // The reason names the forms already; the dialog grows to show it whole.
        refused->setText(why.left(1).toUpper() + why.mid(1));
        refused->show();
        dialog.adjustSize();
        field->setFocus();
    });
    dialog.exec();
}

QString TDevicesPage::statusText() const
{
    return m_status->text();
}

void TDevicesPage::setStatus(const QString& text)
{
    m_status->setText(text);
    m_status->setToolTip(text);
}

void TDevicesPage::stop()
{
    if (m_survey && m_survey->running())
        m_survey->stop();
}

void TDevicesPage::shutDown()
{
    ++m_generation;
    m_surveyOpen = false;
    m_round.stop();
    m_survey.reset(); // stops and waits for its thread
    m_link->shutDown(); // after the survey being recorded
}

bool TDevicesPage::running() const
{
    return m_surveyOpen;
}

std::uint64_t TDevicesPage::total() const
{
    return m_survey ? m_survey->total() : 0;
}

std::uint64_t TDevicesPage::asked() const
{
    return m_survey ? m_survey->asked() : 0;
}

const TDevice* TDevicesPage::shownDevice(int row) const
{
    if (row < 0 || row >= m_shown.rowCount())
        return nullptr;
    const QModelIndex sorted = m_shown.mapToSource(m_shown.index(row, 0));
    return &m_devices.device(m_sorted.mapToSource(sorted).row());
}

QList<const TDevice*> TDevicesPage::devicesInShownOrder() const
{
    QList<const TDevice*> rows;
    for (int r = 0; r < m_sorted.rowCount(); ++r) {
        const int row = m_sorted.mapToSource(m_sorted.index(r, 0)).row();
        if (!m_devices.gone(row))
            rows << &m_devices.device(row);
    }
    return rows;
}

QList<const TDevice*> TDevicesPage::selectedDevices() const
{
    QList<const TDevice*> rows;
    for (int r = 0; r < m_shown.rowCount(); ++r)
        if (m_list->selectionModel()->isRowSelected(r))
            rows << shownDevice(r);
    return rows;
}

void TDevicesPage::copyDevices()
{
    const QList<const TDevice*> rows = selectedDevices();
    if (!rows.isEmpty())
        QGuiApplication::clipboard()->setText(device_list_copy(rows));
}

void TDevicesPage::saveDeviceList()
{
    const QString fileName
        = m_views.chooseListFile(QStringLiteral("Save device list"), QStringLiteral("corvane-devices-"));
    if (fileName.isEmpty())
        return;
    const QList<const TDevice*> rows = devicesInShownOrder();
    switch (list_format_for(fileName, m_views.chosenFilter())) {
    case TListFormat::Txt:
        m_views.writeListFile(fileName, device_list_txt(rows));
        break;
    case TListFormat::Csv:
        m_views.writeListFile(fileName, device_list_csv(rows));
        break;
    case TListFormat::Json:
        m_views.writeListFile(fileName, device_list_json(rows));
        break;
    }
}

void TDevicesPage::showNameTable(int shownRow)
{
    const TDevice* device = shownDevice(shownRow);
    if (!device)
        return;
    const int row = m_devices.rowOf(device->address);
    if (row < 0 || &m_devices.device(row) != device) { // a gone device: no answer of this survey to show
        m_info->setPlainText(QStringLiteral("%1: %2").arg(
            ipv4::dotted(device->address), m_shown.index(shownRow, DeviceIP).data(Qt::ToolTipRole).toString()));
        return;
    }
    const std::optional<QStringList> lines = device->netbios ? HostInfoLines(device->netbios.get()) : std::nullopt;
    if (!lines) { // rather than keep another device's table
        m_info->setPlainText(QStringLiteral("%1 did not answer the node-status query: no NetBIOS names.")
                                 .arg(ipv4::dotted(device->address)));
        return;
    }
    m_info->setPlainText(lines->join(u'\n'));
    m_info->moveCursor(QTextCursor::Start);
    m_info->horizontalScrollBar()->setValue(0);
    m_info->verticalScrollBar()->setValue(0);
}
