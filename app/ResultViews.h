#pragma once
// The window's two result lists as views over the result models (support/ResultModel): sorting by a
// click on a heading, the filter, several rows selected and copied, saving in txt, csv or json, the
// name-table box beside the list, and compare marks drawn with the palette's colours.

#include "support/ResultModel.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class QAbstractItemModel;
class QAction;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QSplitter;
class QTabWidget;
class QTreeView;
class QWidget;
class TDesktop;

class TResultViews : public QObject
{
    Q_OBJECT

public:
    struct TControls
    {
        QTreeView* hosts = nullptr;
        QTreeView* pings = nullptr;
        QPlainTextEdit* hostInfo = nullptr;
        QLineEdit* filter = nullptr;
        QComboBox* show = nullptr; // which compare marks to show
        QSplitter* split = nullptr; // the host list above the name-table box
        QAction* copyHosts = nullptr;
        QAction* copyPings = nullptr;
        QAction* savePings = nullptr;
        QTabWidget* pages = nullptr; // Ctrl+S saves the list of the page showing
        QWidget* hostPage = nullptr;
        QWidget* pingPage = nullptr;
    };
    // desktop gives the window's desktop of the moment (message boxes, the file dialogs).
    TResultViews(const TControls& controls, std::function<TDesktop&()> desktop, QWidget* window);

    corvane::THostTableModel& hosts() { return m_hosts; }
    corvane::TPingTableModel& pings() { return m_pings; }

    // The host in a row of the node-status list as shown; null outside the list.
    const corvane::THostRow* shownHost(int row) const;
    // Every host in the order shown: sorted, and the rows the filter hides in their place too.
    QList<const corvane::THostRow*> hostsInShownOrder() const;
    QList<const corvane::THostRow*> selectedHosts() const; // in the shown order
    // The host a command on "the selected host" means: the current row when selected, else the first.
    const corvane::THostRow* selectedHost() const;
    QList<const corvane::TPingRow*> pingsInShownOrder() const;
    QList<const corvane::TPingRow*> selectedPings() const;

    // Selected rows to the clipboard as tab-separated text with the heading line.
    void copyHosts();
    void copyPings();
    // The save dialog (txt, csv, json); the list is written in the shown order. When the filter hides
    // hosts, the user picks the shown ones or all first.
    void saveHostList();
    void savePingList();
    // The host's name table from its heading on; a gone host says why it has none. Null: unchanged.
    void showNameTable(const corvane::THostRow* host);
    // The address whose name table the box shows; empty when none.
    const QString& nameTableShown() const { return m_boxIp; }
    // Column widths to the contents, once a survey has ended.
    void fitColumns(QTreeView* list);
    // The save dialog, suggesting stem + today's date; the file name chosen (empty: cancelled), its
    // filter then in chosenFilter().
    QString chooseListFile(const QString& title, const QString& stem);
    const QString& chosenFilter() const { return m_chosenFilter; }
    // Written whole or not at all; a failure is told in a box.
    void writeListFile(const QString& fileName, const QByteArray& bytes);
    // The mark filter is offered once the list was compared, and set back at the next scan.
    void comparisonShown();
    void comparisonCleared();

Q_SIGNALS:
    // A row of the host list became selected (the one to show in the name-table box).
    void hostSelected(int shownRow);

private:
    void setupHostList();
    void setupPingList();
    void setupFilter();
    QList<const corvane::THostRow*> shownHosts() const;
    // After rows went or changed: the box follows the current row when its host is no longer shown.
    void followCurrentRow();

    TControls m_c;
    std::function<TDesktop&()> m_desktop;
    QWidget* m_window;
    corvane::THostTableModel m_hosts;
    corvane::TResultSortModel m_sortedHosts;
    corvane::THostFilterModel m_shownHosts;
    corvane::TPingTableModel m_pings;
    corvane::TResultSortModel m_sortedPings;
    QString m_chosenFilter; // the save dialog's filter when it was accepted
    QString m_saveFolder; // where the last list was saved, and in which format
    corvane::TListFormat m_saveFormat = corvane::TListFormat::Txt;
    QString m_boxIp;
    bool m_boxGone = false; // the box says the host did not answer
};

// A list set up as the result lists are: sorted by a click on a heading, several rows selected, the
// fixed-pitch font, columns this many characters wide.
void setup_result_list(QTreeView* list, QAbstractItemModel* model, const std::vector<int>& chars);

// Opens the pop-up menu of the focused control as a right click there would, at its current row or
// text cursor (Shift+F10, the Menu key).
void open_popup_menu(QWidget* focus);
