#include "app/DevicesPage.h"

#include "app/ResultViews.h"
#include "discovery/DeviceRows.h"
#include "support/ResultRows.h"
#include "support/ResultText.h"

#include <QAction>
#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>

using namespace corvane;
using namespace corvane::discovery;

TDevicesPage::TDevicesPage(TResultViews& views, QWidget* parent)
    : QWidget(parent)
    , m_views(views)
    , m_filter(new QLineEdit(this))
    , m_list(new QTreeView(this))
    , m_info(new QPlainTextEdit(this))
    , m_copy(new QAction(QStringLiteral("Copy"), this))
    , m_save(new QAction(QStringLiteral("Save device list.."), this))
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
    filterRow->addWidget(m_filter);
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
    layout->addWidget(split);

    m_info->setReadOnly(true);
    m_info->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_info->setMinimumHeight(48);
    m_info->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setupList();
    connect(m_filter, &QLineEdit::textChanged, this, [this](const QString& text) { m_shown.setText(text); });
}

TDevicesPage::~TDevicesPage()
{
    shutDown();
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
    // An address, a host name, its source, a MAC, a vendor, the evidence words.
    setup_result_list(m_list, &m_shown, {15, 20, 7, 17, 12, 12});

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
    m_survey.reset(); // a finished survey's thread is gone already
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
    // The whole list, should a change have been passed over while the list was busy.
    for (const TDevice& device : m_survey->devices())
        m_devices.update(device);
    m_views.fitColumns(m_list);
    Q_EMIT finished(m_devices.rowCount(), m_survey->stopped());
}

void TDevicesPage::stop()
{
    if (m_survey && m_survey->running())
        m_survey->stop();
}

void TDevicesPage::shutDown()
{
    ++m_generation;
    m_survey.reset(); // stops and waits for its thread
}

bool TDevicesPage::running() const
{
    return m_survey && m_survey->running();
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
    for (int r = 0; r < m_sorted.rowCount(); ++r)
        rows << &m_devices.device(m_sorted.mapToSource(m_sorted.index(r, 0)).row());
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
    const QString fileName = m_views.chooseListFile(QStringLiteral("Save device list"), QStringLiteral("corvane-devices-"));
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
