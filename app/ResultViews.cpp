#include "app/ResultViews.h"

#include "app/Umain.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QScrollBar>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QToolTip>
#include <QTreeView>

#include <algorithm>
#include <set>

using namespace corvane;

namespace {

// Widest a column grows to fit its contents, in characters; a longer text is cut, with a tool tip.
constexpr int kFitChars = 24;

QColor mixed(const QColor& base, const QColor& hue, double share)
{
    return QColor::fromRgbF(float(base.redF() * (1 - share) + hue.redF() * share),
                            float(base.greenF() * (1 - share) + hue.greenF() * share),
                            float(base.blueF() * (1 - share) + hue.blueF() * share));
}

// Gone: a crossed ring, so the row keeps a mark where a style sheet sets the text colour itself.
QIcon gone_icon()
{
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0xd0, 0x30, 0x30), 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    p.drawLine(QPointF(3, 9), QPointF(9, 3));
    p.end();
    return QIcon(pixmap);
}

QIcon mark_icon(const QColor& colour)
{
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(1, 1, 10, 10);
    p.end();
    return QIcon(pixmap);
}

// Draws the compare marks with the view's palette, so they stay legible in light and dark themes: a
// new or changed row gets a tint of the palette's own base colour and keeps its text colour, and a
// mark on the address; a gone row the palette's disabled text and a mark of its own. Shows a cut text
// whole as its tool tip.
class TResultDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QVariant mark = index.data(MarkRole);
        if (!mark.isValid())
            return;
        const TChange change = TChange(mark.toInt());
        if (change == TChange::Gone) {
            option->palette.setColor(QPalette::Text, option->palette.color(QPalette::Disabled, QPalette::Text));
            if (index.column() == HostIP) {
                static const QIcon goneMark = gone_icon();
                option->icon = goneMark;
                option->features |= QStyleOptionViewItem::HasDecoration;
                option->decorationSize = QSize(12, 12);
            }
            return;
        }
        if (change != TChange::New && change != TChange::Changed)
            return;
        const QColor hue = change == TChange::New ? QColor(0x2e, 0x9e, 0x4f) : QColor(0xe0, 0x8a, 0x00);
        option->backgroundBrush = mixed(option->palette.color(QPalette::Base), hue, 0.3);
        if (index.column() == HostIP) {
            static const QIcon newMark = mark_icon(QColor(0x2e, 0x9e, 0x4f));
            static const QIcon changedMark = mark_icon(QColor(0xe0, 0x8a, 0x00));
            option->icon = change == TChange::New ? newMark : changedMark;
            option->features |= QStyleOptionViewItem::HasDecoration;
            option->decorationSize = QSize(12, 12);
        }
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (event->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        QString tip = index.data(Qt::ToolTipRole).toString();
        const QString text = index.data().toString();
        if (tip.isEmpty() && !text.isEmpty()) {
            QStyleOptionViewItem shown = option;
            initStyleOption(&shown, index);
            const QWidget* widget = option.widget ? option.widget : view;
            const QRect room = widget->style()->subElementRect(QStyle::SE_ItemViewItemText, &shown, widget);
            const int margin = 2 * (widget->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1);
            if (shown.fontMetrics.horizontalAdvance(text) > room.width() - margin)
                tip = text;
        }
        if (tip.isEmpty()) {
            QToolTip::hideText();
            return true;
        }
        QToolTip::showText(event->globalPos(), tip, view);
        return true;
    }
};

// Columns that the user can resize, a sort arrow on the heading clicked (a second click reverses, a
// third brings the arrival order back) and widths in characters of the list's fixed-pitch font.
void setup_list(QTreeView* list, QAbstractItemModel* model, const std::vector<int>& chars)
{
    list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    list->setModel(model);
    list->setItemDelegate(new TResultDelegate(list));
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    QHeaderView* header = list->header();
    header->setSectionsMovable(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
    header->setSortIndicatorClearable(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    list->setSortingEnabled(true);
    const QFontMetrics fm(list->font());
    const int padding
        = 2 * list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 2 * fm.averageCharWidth();
    for (int c = 0; c < int(chars.size()); ++c) {
        const int text = std::max(fm.horizontalAdvance(QString(chars[std::size_t(c)], u'0')),
                                  fm.horizontalAdvance(model->headerData(c, Qt::Horizontal).toString()));
        list->setColumnWidth(c, text + padding);
    }
}

// The rows of a view's model in its order, as rows of the source model under it.
template<class Row, class Get>
QList<const Row*> rows_of(const QAbstractProxyModel& proxy, const QTreeView* selectedIn, Get get)
{
    QList<const Row*> rows;
    for (int r = 0; r < proxy.rowCount(); ++r)
        if (!selectedIn || selectedIn->selectionModel()->isRowSelected(r))
            rows << &get(proxy.mapToSource(proxy.index(r, 0)).row());
    return rows;
}

QString suffix_of_filter(const QString& filter)
{
    for (const char* suffix : {"csv", "json"})
        if (filter.contains(QStringLiteral("*.") + QLatin1String(suffix)))
            return QLatin1String(suffix);
    return QStringLiteral("txt");
}

const QStringList& list_filters()
{
    static const QStringList filters {QStringLiteral("TXT (*.txt)"), QStringLiteral("CSV (*.csv)"),
                                      QStringLiteral("JSON (*.json)"), QStringLiteral("All (*)")};
    return filters;
}

QString filter_of(TListFormat format)
{
    return list_filters()[format == TListFormat::Csv ? 1 : format == TListFormat::Json ? 2 : 0];
}

} // namespace

void setup_result_list(QTreeView* list, QAbstractItemModel* model, const std::vector<int>& chars)
{
    setup_list(list, model, chars);
}

TResultViews::TResultViews(const TControls& controls, std::function<TDesktop&()> desktop, QWidget* window)
    : QObject(window)
    , m_c(controls)
    , m_desktop(std::move(desktop))
    , m_window(window)
{
    setupHostList();
    setupPingList();
    setupFilter();
}

void TResultViews::setupHostList()
{
    m_sortedHosts.setSourceModel(&m_hosts);
    m_shownHosts.setSourceModel(&m_sortedHosts);
    // An address, three names, a MAC text, a vendor, the two flags: every column in view at the
    // window's first size; a survey then fits them to what they hold.
    setup_list(m_c.hosts, &m_shownHosts, {15, 9, 9, 9, 17, 8, 5, 5});
    m_c.copyHosts->setShortcut(QKeySequence::Copy);
    m_c.copyHosts->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(m_c.copyHosts, &QAction::triggered, this, &TResultViews::copyHosts);

    // The list above, the name-table box below; both grow with the window, the list more.
    m_c.split->setStretchFactor(0, 3);
    m_c.split->setStretchFactor(1, 1);
    m_c.split->setSizes({400, 130});

    QItemSelectionModel* selection = m_c.hosts->selectionModel();
    connect(selection, &QItemSelectionModel::selectionChanged, this, [this, selection](const QItemSelection& added) {
        if (added.isEmpty())
            return;
        const QModelIndex current = selection->currentIndex();
        Q_EMIT hostSelected(added.contains(current) ? current.row() : added.indexes().constLast().row());
    });
    connect(selection, &QItemSelectionModel::currentRowChanged, this, [this, selection](const QModelIndex& current) {
        if (current.isValid() && selection->isRowSelected(current.row()))
            Q_EMIT hostSelected(current.row());
    });
    // The filter, a new comparison or a new scan may take away the host the box shows.
    connect(&m_shownHosts, &QAbstractItemModel::rowsRemoved, this, &TResultViews::followCurrentRow);
    connect(&m_shownHosts, &QAbstractItemModel::layoutChanged, this, &TResultViews::followCurrentRow);
    connect(&m_shownHosts, &QAbstractItemModel::modelReset, this, &TResultViews::followCurrentRow);
    // A gone host that answers late: the box shows its name table instead of saying it has none.
    connect(&m_hosts, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last) {
                const int row = m_hosts.rowOf(m_boxIp);
                if (m_boxGone && row >= first.row() && row <= last.row() && !m_hosts.host(row).gone())
                    showNameTable(&m_hosts.host(row));
            });

    // Ctrl+S anywhere in the window saves the list of the page showing.
    auto* save = new QAction(QStringLiteral("Save"), m_window);
    save->setObjectName(QStringLiteral("Saveshownlist1"));
    save->setShortcut(QKeySequence::Save);
    save->setShortcutContext(Qt::WindowShortcut);
    m_window->addAction(save);
    connect(save, &QAction::triggered, this, [this] {
        if (m_c.pages->currentWidget() == m_c.hostPage)
            saveHostList();
        else if (m_c.pages->currentWidget() == m_c.pingPage)
            savePingList();
    });
}

void TResultViews::followCurrentRow()
{
    if (m_boxIp.isEmpty())
        return;
    if (const int row = m_hosts.rowOf(m_boxIp); row >= 0) {
        const QModelIndex sorted = m_sortedHosts.mapFromSource(m_hosts.index(row, 0));
        if (m_shownHosts.mapFromSource(sorted).isValid())
            return;
    }
    const QModelIndex current = m_c.hosts->selectionModel()->currentIndex();
    const THostRow* host = shownHost(current.isValid() ? current.row() : -1);
    if (host && (host->gone() || HostInfoLines(host->result()))) {
        showNameTable(host);
        return;
    }
    m_c.hostInfo->clear(); // no row, or one without a table: nothing of the hidden host stays
    m_boxIp.clear();
    m_boxGone = false;
}

void TResultViews::setupPingList()
{
    m_sortedPings.setSourceModel(&m_pings);
    setup_list(m_c.pings, &m_sortedPings, {40, 25, 9, 5});
    m_c.pings->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_c.pings->addAction(m_c.savePings);
    m_c.pings->addAction(m_c.copyPings);
    m_c.copyPings->setShortcut(QKeySequence::Copy);
    m_c.copyPings->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(m_c.copyPings, &QAction::triggered, this, &TResultViews::copyPings);
    connect(m_c.savePings, &QAction::triggered, this, &TResultViews::savePingList);
}

void TResultViews::setupFilter()
{
    m_c.filter->setClearButtonEnabled(true);
    connect(m_c.filter, &QLineEdit::textChanged, this, [this](const QString& text) { m_shownHosts.setText(text); });
    // "All hosts", "New, changed and gone", "New", "Changed", "Gone"
    connect(m_c.show, &QComboBox::currentIndexChanged, this, [this](int choice) {
        static const std::set<TChange> marks[] = {
            {}, {TChange::New, TChange::Changed, TChange::Gone}, {TChange::New}, {TChange::Changed}, {TChange::Gone}};
        if (choice <= 0 || choice >= int(std::size(marks)))
            m_shownHosts.setMarks(std::nullopt);
        else
            m_shownHosts.setMarks(marks[choice]);
    });
    comparisonCleared();
}

void TResultViews::comparisonShown()
{
    m_c.show->setEnabled(true);
}

void TResultViews::comparisonCleared()
{
    m_c.show->setCurrentIndex(0);
    m_c.show->setEnabled(false);
}

const THostRow* TResultViews::shownHost(int row) const
{
    if (row < 0 || row >= m_shownHosts.rowCount())
        return nullptr;
    const QModelIndex sorted = m_shownHosts.mapToSource(m_shownHosts.index(row, 0));
    return &m_hosts.host(m_sortedHosts.mapToSource(sorted).row());
}

QList<const THostRow*> TResultViews::hostsInShownOrder() const
{
    return rows_of<THostRow>(m_sortedHosts, nullptr, [this](int r) -> const THostRow& { return m_hosts.host(r); });
}

QList<const THostRow*> TResultViews::shownHosts() const
{
    QList<const THostRow*> rows;
    for (int r = 0; r < m_shownHosts.rowCount(); ++r)
        rows << shownHost(r);
    return rows;
}

QList<const THostRow*> TResultViews::selectedHosts() const
{
    QList<const THostRow*> rows;
    for (int r = 0; r < m_shownHosts.rowCount(); ++r)
        if (m_c.hosts->selectionModel()->isRowSelected(r))
            rows << shownHost(r);
    return rows;
}

const THostRow* TResultViews::selectedHost() const
{
    const QItemSelectionModel* selection = m_c.hosts->selectionModel();
    const QModelIndex current = selection->currentIndex();
    if (current.isValid() && selection->isRowSelected(current.row()))
        return shownHost(current.row());
    const QList<const THostRow*> selected = selectedHosts();
    return selected.isEmpty() ? nullptr : selected.first();
}

QList<const TPingRow*> TResultViews::pingsInShownOrder() const
{
    return rows_of<TPingRow>(m_sortedPings, nullptr, [this](int r) -> const TPingRow& { return m_pings.ping(r); });
}

QList<const TPingRow*> TResultViews::selectedPings() const
{
    return rows_of<TPingRow>(m_sortedPings, m_c.pings, [this](int r) -> const TPingRow& { return m_pings.ping(r); });
}

void TResultViews::copyHosts()
{
    const QList<const THostRow*> rows = selectedHosts();
    if (!rows.isEmpty())
        QGuiApplication::clipboard()->setText(host_list_copy(rows));
}

void TResultViews::copyPings()
{
    const QList<const TPingRow*> rows = selectedPings();
    if (!rows.isEmpty())
        QGuiApplication::clipboard()->setText(ping_list_copy(rows));
}

QString TResultViews::chooseListFile(const QString& title, const QString& stem)
{
    QFileDialog dialog(m_window);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setWindowTitle(title);
    dialog.setNameFilters(list_filters());
    // Where the last list went, in its format, under a name of today.
    if (!m_saveFolder.isEmpty())
        dialog.setDirectory(m_saveFolder);
    const QString filter = filter_of(m_saveFormat);
    dialog.selectNameFilter(filter);
    dialog.setDefaultSuffix(suffix_of_filter(filter));
    const QString named = stem + QDate::currentDate().toString(Qt::ISODate);
    dialog.selectFile(named + u'.' + suffix_of_filter(filter));
    // A name typed without a suffix gets the chosen format's; the suggested name changes with it.
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, named](const QString& chosen) {
        const QString suffix = suffix_of_filter(chosen);
        dialog.setDefaultSuffix(suffix);
        const QString typed = QFileInfo(dialog.selectedFiles().value(0)).completeBaseName();
        if (typed == named && chosen != list_filters().constLast())
            dialog.selectFile(named + u'.' + suffix);
    });
    const QString fileName = m_desktop().chooseFile(dialog);
    m_chosenFilter = dialog.selectedNameFilter();
    if (!fileName.isEmpty()) {
        m_saveFolder = QFileInfo(fileName).absolutePath();
        m_saveFormat = list_format_for(fileName, m_chosenFilter);
    }
    return fileName;
}

void TResultViews::writeListFile(const QString& fileName, const QByteArray& bytes)
{
    // Written beside the old file and renamed over it: a failed write leaves the old file whole.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        m_desktop().message(m_window, QMessageBox::Critical,
                            QStringLiteral("Cannot create file ") + QDir::toNativeSeparators(fileName));
}

void TResultViews::saveHostList()
{
    QList<const THostRow*> rows = hostsInShownOrder();
    if (const int shown = m_shownHosts.rowCount(); shown < rows.size()) {
        const QLocale locale;
        const QString n = locale.toString(shown);
        const QString m = locale.toString(rows.size());
        const int choice = m_desktop().choose(
            m_window, QStringLiteral("The filter shows %1 of %2 hosts. Save the %1 shown or all %2?").arg(n, m),
            {QStringLiteral("Save %1 shown").arg(n), QStringLiteral("Save all %1").arg(m)});
        if (choice < 0)
            return;
        if (choice == 0)
            rows = shownHosts();
    }
    const QString fileName = chooseListFile(QString(), QStringLiteral("corvane-"));
    if (fileName.isEmpty())
        return;
    const bool compared = !m_hosts.comparedWith().isEmpty();
    switch (list_format_for(fileName, m_chosenFilter)) {
    case TListFormat::Txt:
        writeListFile(fileName, network_list_file(rows));
        break;
    case TListFormat::Csv:
        writeListFile(fileName, host_list_csv(rows, compared));
        break;
    case TListFormat::Json:
        writeListFile(fileName, host_list_json(rows, compared));
        break;
    }
}

void TResultViews::savePingList()
{
    const QString fileName = chooseListFile(QStringLiteral("Save ping list"), QStringLiteral("corvane-ping-"));
    if (fileName.isEmpty())
        return;
    const QList<const TPingRow*> rows = pingsInShownOrder();
    switch (list_format_for(fileName, m_chosenFilter)) {
    case TListFormat::Txt:
        writeListFile(fileName, ping_list_txt(rows));
        break;
    case TListFormat::Csv:
        writeListFile(fileName, ping_list_csv(rows));
        break;
    case TListFormat::Json:
        writeListFile(fileName, ping_list_json(rows));
        break;
    }
}

void TResultViews::showNameTable(const THostRow* host)
{
    if (!host)
        return;
    QPlainTextEdit* box = m_c.hostInfo;
    if (host->gone()) { // no answer, so no name table: the box says so rather than keep another host's
        box->setPlainText(gone_host_note(host->ip(), m_hosts.comparedWith()));
        m_boxIp = host->ip();
        m_boxGone = true;
        return;
    }
    const std::optional<QStringList> lines = HostInfoLines(host->result());
    if (!lines)
        return;
    m_boxIp = host->ip();
    m_boxGone = false;
    box->setPlainText(lines->join(u'\n'));
    // From the heading and the host's own names on.
    box->moveCursor(QTextCursor::Start);
    box->horizontalScrollBar()->setValue(0);
    box->verticalScrollBar()->setValue(0);
}

void TResultViews::fitColumns(QTreeView* list)
{
    if (list->model()->rowCount() == 0) // nothing to fit: the widths set up stay
        return;
    const QFontMetrics fm(list->font());
    const int gap = 2 * fm.averageCharWidth(); // between one column's text and the next
    const int widest = fm.horizontalAdvance(QString(kFitChars, u'0')) + gap;
    QHeaderView* header = list->header();
    for (int c = 0; c + 1 < header->count(); ++c) {
        const int contents = std::min(static_cast<const QAbstractItemView*>(list)->sizeHintForColumn(c) + gap, widest);
        list->setColumnWidth(c, std::max(contents, header->sectionSizeHint(c)));
    }
}

void open_popup_menu(QWidget* focus)
{
    if (!focus)
        return;
    QPoint at = focus->rect().center();
    if (auto* view = qobject_cast<QAbstractItemView*>(focus)) {
        const QRect row = view->visualRect(view->currentIndex());
        const QRect shown = view->viewport()->rect();
        at = view->viewport()->mapTo(view, row.isValid() && shown.intersects(row) ? row.center() : shown.topLeft());
    } else if (const QRect cursor = focus->inputMethodQuery(Qt::ImCursorRectangle).toRect(); cursor.isValid()) {
        at = cursor.center();
    }
    QContextMenuEvent event(QContextMenuEvent::Keyboard, at, focus->mapToGlobal(at));
    QCoreApplication::sendEvent(focus, &event);
}
