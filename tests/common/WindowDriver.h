#pragma once
// The real main window driven as a user would, with a desktop stand-in for what a test cannot click.

#include "app/Umain.h"

#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class QLineEdit;
class QPlainTextEdit;
class QTreeWidget;

namespace corvane::test {

// Records the boxes (icon and text) and the launches; answers the file dialogs.
class DesktopStandIn : public TDesktop
{
public:
    QStringList boxes;
    QList<QMessageBox::Icon> icons;
    // Runs after a box is recorded, while the window waits for it to be closed.
    std::function<void(QMessageBox::Icon, const QString&)> onBox;
    // Answers the save and the open dialog; empty (the default) cancels.
    std::function<QString(const QFileDialog& dialog)> fileAnswer;
    // When set, the real dialog runs instead, driven by this (see RealDialog).
    std::function<void(QFileDialog& dialog)> driveDialog;
    QList<QPair<QString, QUrl>> shares; // parameter text, address
    QStringList launched;               // "program|arg|arg..."
    // The browser lookup: what it finds and how long it takes (it runs on a pool thread).
    QString exec;
    int lookupMs = 0;
    std::atomic<int> lookups {0};

    void message(QWidget* parent, QMessageBox::Icon icon, const QString& text) override;
    QString chooseFile(QFileDialog& dialog) override;
    void openShare(const QString& parameter, const QUrl& url) override;
    QString browserExec() override;
    void launchBrowser(const QString& program, const QStringList& args) override;
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
    QTreeWidget* res;
    QPlainTextEdit* info;
    QPlainTextEdit* err;

    void setRange(const QString& first, const QString& last);
    // A real click on the button of that name.
    void click(const char* button);
    void scan(const QString& first, const QString& last)
    {
        setRange(first, last);
        click("But_Scan");
    }
    // Until `scans` end boxes have been shown and no scan thread is left; true when exactly so many.
    bool waitDone(int scans = 1, int ms = 10000);
    void select(int row);
};

// The text of every row of list in one column.
QStringList columnTexts(const QTreeWidget* list, int column);
// Every row of list, its columns joined by '|'.
QStringList allRows(const QTreeWidget* list);

} // namespace corvane::test
