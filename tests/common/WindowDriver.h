#pragma once
// The real main window driven as a user would, with a desktop stand-in for what a test cannot click.

#include "app/ResultViews.h"
#include "app/Umain.h"

#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class QAbstractItemView;
class QLineEdit;
class QPlainTextEdit;
class QTreeView;

namespace corvane::test {

// Records the boxes (icon and text), the questions and the launches; answers the file dialogs and
// the questions, and says how each launch went.
class DesktopStandIn : public TDesktop
{
public:
    QStringList boxes;
    QList<QMessageBox::Icon> icons;
    // Runs after a box is recorded, while the window waits for it to be closed.
    std::function<void(QMessageBox::Icon, const QString&)> onBox;
    // Answers the save and the open dialog; empty (the default) cancels.
    std::function<QString(const QFileDialog& dialog)> fileAnswer;
    QStringList questions;
    bool answerYes = false; // the answer to every question; No is the box's default
    // The questions with choices: their texts, their buttons, and the answer (-1: Cancel).
    QStringList choiceTexts;
    QList<QStringList> choices;
    int choice = -1;
    // When set, the real dialog runs instead, driven by this (see RealDialog).
    std::function<void(QFileDialog& dialog)> driveDialog;
    QList<QPair<QString, QUrl>> shares; // parameter text, address
    QStringList launched;               // "program|arg|arg..."
    TLaunch shareLaunch;                // what opening a share and starting the browser give
    TLaunch browserLaunch;
    // The browser lookup: what it finds and how long it takes (it runs on a pool thread).
    QString exec;
    int lookupMs = 0;
    std::atomic<int> lookups {0};

    void message(QWidget* parent, QMessageBox::Icon icon, const QString& text) override;
    bool question(QWidget* parent, const QString& text) override;
    int choose(QWidget* parent, const QString& text, const QStringList& choices) override;
    QString chooseFile(QFileDialog& dialog) override;
    void openShare(QWidget* parent, const QString& parameter, const QUrl& url, TLaunchDone done) override;
    QString browserExec() override;
    TLaunch launchBrowser(const QString& program, const QStringList& args) override;
};

// Works the real file dialog as a user would: picks the filter (when given), types the name into
// its file-name field and presses Enter; a question it asks (replace the file?) is noted and
// answered; a No leaves the dialog open, which is then cancelled.
struct RealDialog
{
    QString name;
    QString filter;
    QMessageBox::StandardButton answer = QMessageBox::Yes;
    QStringList questions;
    void operator()(QFileDialog& dialog);
};

// One window with the stand-in in place. Its end waits for every scan thread it started.
class WindowDriver
{
public:
    explicit WindowDriver(bool show = true);
    ~WindowDriver();
    WindowDriver(const WindowDriver&) = delete;
    WindowDriver& operator=(const WindowDriver&) = delete;

    DesktopStandIn desktop; // before the window: it outlives it
    TFrm_Corvane w;
    QStringList& boxes = desktop.boxes;
    QList<QMessageBox::Icon>& icons = desktop.icons;
    QTreeView* res;
    QPlainTextEdit* info;
    QPlainTextEdit* err;

    void setRange(const QString& first, const QString& last);
    // Types text into the named field as a user does: its old text selected, then replaced key by key.
    void type(const char* field, const QString& text);
    // A real click on the button of that name.
    void click(const char* button);
    void scan(const QString& first, const QString& last)
    {
        setRange(first, last);
        click("But_Scan");
    }
    // Until `scans` end boxes have been shown and no scan thread is left; true when exactly so many.
    bool waitDone(int scans = 1, int ms = 10000);
    // A click on a row of the node-status list as shown.
    void select(int row);
    // The node-status list as shown: its rows, a cell's text and tool tip, the host behind a row.
    int rows() const;
    QString cell(int row, int column) const;
    QString tip(int row, int column) const;
    const corvane::THostRow* host(int row) const { return w.results().shownHost(row); }
    // The compare mark drawn on a row's address, told by its colour: "new", "changed", "gone" or ""
    // (none).
    QString markShown(int row);
};

// The compare mark drawn on a row's first column in list, as WindowDriver::markShown tells it.
QString markShown(QAbstractItemView* list, int row);
// The text of every row of list in one column, as shown.
QStringList columnTexts(const QAbstractItemView* list, int column);
// Every row of list as shown, its columns joined by '|'.
QStringList allRows(const QAbstractItemView* list);
// What is wrong with how the elided label named name in window draws its text: wider than the label,
// or cut without an ellipsis or a whole tooltip; empty when nothing.
QString elisionFault(const QWidget& window, const char* name);

} // namespace corvane::test
