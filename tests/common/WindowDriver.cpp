#include "WindowDriver.h"

#include "app/ElidedLabel.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>
#include <QThread>
#include <QTreeView>

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

bool DesktopStandIn::question(QWidget*, const QString& text)
{
    questions << text;
    return answerYes;
}

int DesktopStandIn::choose(QWidget*, const QString& text, const QStringList& buttons)
{
    choiceTexts << text;
    choices << buttons;
    return choice;
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
        if (!filter.isEmpty()) { // picked in the dialog's file-type box, as a user picks it
            auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            const int at = types->findText(filter);
            types->setCurrentIndex(at);
            Q_EMIT types->activated(at);
            Q_EMIT types->textActivated(filter);
        }
        auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        field->setText(name);
        // Queued: the question box's loop runs inside the key press, and this timer must go on.
        QMetaObject::invokeMethod(field, [field] { QTest::keyClick(field, Qt::Key_Return); }, Qt::QueuedConnection);
    });
    timer->start();
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
    : res(w.findChild<QTreeView*>("LstVw_Res")), info(w.findChild<QPlainTextEdit*>("Lst_HostInfo")),
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
    const QRect r = res->visualRect(res->model()->index(row, 0));
    QTest::mouseClick(res->viewport(), Qt::LeftButton, {}, r.center());
}

int WindowDriver::rows() const
{
    return res->model()->rowCount();
}

QString WindowDriver::cell(int row, int column) const
{
    return res->model()->index(row, column).data().toString();
}

QString WindowDriver::tip(int row, int column) const
{
    return res->model()->index(row, column).data(Qt::ToolTipRole).toString();
}

QString WindowDriver::markShown(int row)
{
    return corvane::test::markShown(res, row);
}

QString markShown(QAbstractItemView* list, int row)
{
    list->scrollTo(list->model()->index(row, 0));
    QRect r = list->visualRect(list->model()->index(row, 0));
    r.setWidth(std::min(r.width(), 24)); // where the mark goes, left of the address
    const QImage image = list->viewport()->grab(r).toImage();
    int green = 0;
    int amber = 0;
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            green += c.green() > 120 && c.red() < 90 && c.blue() < 120;
            amber += c.red() > 180 && c.green() > 100 && c.green() < 170 && c.blue() < 60;
            red += c.red() > 150 && c.green() < 90 && c.blue() < 90;
        }
    return green > 10 ? QStringLiteral("new")
         : amber > 10 ? QStringLiteral("changed")
         : red > 10   ? QStringLiteral("gone")
                      : QString();
}

QStringList columnTexts(const QAbstractItemView* list, int column)
{
    QStringList texts;
    for (int i = 0; i < list->model()->rowCount(); ++i)
        texts << list->model()->index(i, column).data().toString();
    return texts;
}

QStringList allRows(const QAbstractItemView* list)
{
    QStringList rows;
    const QAbstractItemModel* m = list->model();
    for (int i = 0; i < m->rowCount(); ++i) {
        QStringList columns;
        for (int c = 0; c < m->columnCount(); ++c)
            columns << m->index(i, c).data().toString();
        rows << columns.join(u'|');
    }
    return rows;
}

QString elisionFault(const QWidget& window, const char* name)
{
    const auto* label = window.findChild<TElidedLabel*>(QLatin1String(name));
    if (!label)
        return QStringLiteral("no elided label %1").arg(QLatin1String(name));
    const QString shown = label->shownText();
    if (label->fontMetrics().horizontalAdvance(shown) > label->contentsRect().width())
        return QStringLiteral("wider than the label: ") + shown;
    if (shown != label->text() && (!shown.contains(QChar(0x2026)) || label->toolTip() != label->text()))
        return QStringLiteral("cut without an ellipsis or a whole tooltip: ") + shown;
    return {};
}

} // namespace corvane::test
