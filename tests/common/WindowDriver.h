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
    QString chooseFile(QFileDialog& dialog) override;
    void openShare(QWidget* parent, const QString& parameter, const QUrl& url, TLaunchDone done) override;
    QString browserExec() override;
    TLaunch launchBrowser(const QString& program, const QStringList& args) override;
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
    void select(int row);
};

// The text of every row of list in one column.
QStringList columnTexts(const QTreeWidget* list, int column);
// Every row of list, its columns joined by '|'.
QStringList allRows(const QTreeWidget* list);

} // namespace corvane::test
