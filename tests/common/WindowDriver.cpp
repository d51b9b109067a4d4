#include "WindowDriver.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
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
    if (driveDialog) {
        driveDialog(dialog);
        return TDesktop::chooseFile(dialog);
    }
    return fileAnswer ? fileAnswer(dialog) : QString();
}

void RealDialog::operator()(QFileDialog& dialog)
{
    // The steps run from a timer inside the dialog's own loop (and the question box's).
    auto* timer = new QTimer(&dialog);
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, &dialog, [this, &dialog, typed = false]() mutable {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            questions << box->text();
            box->button(answer)->click();
            return;
        }
        if (modal != &dialog)
            return;
        if (typed) { // the question was answered No: the dialog is still open
            dialog.reject();
            return;
        }
        typed = true;
        if (!filter.isEmpty())
            dialog.selectNameFilter(filter);
        auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        field->setText(name);
        // Queued: the question box's loop runs inside the key press, and this timer must go on.
        QMetaObject::invokeMethod(field, [field] { QTest::keyClick(field, Qt::Key_Return); }, Qt::QueuedConnection);
    });
    timer->start();
}

void DesktopStandIn::openShare(const QString& parameter, const QUrl& url)
{
    shares.append({parameter, url});
}

QString DesktopStandIn::browserExec()
{
    ++lookups;
    if (lookupMs > 0)
        QThread::msleep(static_cast<unsigned long>(lookupMs));
    return exec;
}

void DesktopStandIn::launchBrowser(const QString& program, const QStringList& args)
{
    launched << (QStringList {program} + args).join(u'|');
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
