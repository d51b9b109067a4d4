#include "WindowDriver.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>
#include <QThread>
#include <QTreeWidget>

namespace corvane::test {

void DesktopStandIn::message(QWidget*, QMessageBox::Icon icon, const QString& text)
{
    icons << icon;
    boxes << text;
    if (onBox)
        onBox(icon, text);
}

QString DesktopStandIn::chooseFile(QFileDialog& dialog)
{
    return fileAnswer ? fileAnswer(dialog) : QString();
}

bool DesktopStandIn::question(QWidget*, const QString& text)
{
    questions << text;
    return answerYes;
}

void DesktopStandIn::openShare(QWidget*, const QString& parameter, const QUrl& url, TLaunchDone done)
{
    shares.append({parameter, url});
    done(shareLaunch);
}

QString DesktopStandIn::browserExec()
{
    ++lookups;
    if (lookupMs > 0)
        QThread::msleep(static_cast<unsigned long>(lookupMs));
    return exec;
}

TLaunch DesktopStandIn::launchBrowser(const QString& program, const QStringList& args)
{
    launched << (QStringList {program} + args).join(u'|');
    return browserLaunch;
}

WindowDriver::WindowDriver(bool show)
    : res(w.findChild<QTreeWidget*>("LstVw_Res")), info(w.findChild<QPlainTextEdit*>("Lst_HostInfo")),
      err(w.findChild<QPlainTextEdit*>("Lst_err"))
{
    w.setDesktop(&desktop);
    if (show)
        w.show();
}

WindowDriver::~WindowDriver()
{
    // Never leave a scan thread running past the test.
    QPointer<TNBTscanThread> t = w.ScanThread();
    if (t)
        t->Terminate();
    QTRY_VERIFY_WITH_TIMEOUT(!w.ScanThreadsAlive(), 10000);
}

void WindowDriver::setRange(const QString& first, const QString& last)
{
    w.findChild<QLineEdit*>("Ed_IPstart")->setText(first);
    w.findChild<QLineEdit*>("Ed_IPend")->setText(last);
}

void WindowDriver::type(const char* field, const QString& text)
{
    auto* edit = w.findChild<QLineEdit*>(field);
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Backspace);
    else
        QTest::keyClicks(edit, text);
}

void WindowDriver::click(const char* button)
{
    QTest::mouseClick(w.findChild<QWidget*>(button), Qt::LeftButton);
}

bool WindowDriver::waitDone(int scans, int ms)
{
    (void)QTest::qWaitFor([&] { return boxes.size() >= scans && !w.ScanThreadsAlive(); }, ms);
    return boxes.size() == scans && !w.ScanThreadsAlive();
}

void WindowDriver::select(int row)
{
    const QRect r = res->visualItemRect(res->topLevelItem(row));
    QTest::mouseClick(res->viewport(), Qt::LeftButton, {}, r.center());
}

QStringList columnTexts(const QTreeWidget* list, int column)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(column);
    return texts;
}

QStringList allRows(const QTreeWidget* list)
{
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QStringList columns;
        for (int c = 0; c < list->topLevelItem(i)->columnCount(); ++c)
            columns << list->topLevelItem(i)->text(c);
        rows << columns.join(u'|');
    }
    return rows;
}

} // namespace corvane::test
