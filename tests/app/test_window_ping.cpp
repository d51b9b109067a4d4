// Ping sweeps of the real window from inside a private network namespace: live hosts, hosts that
// ignore echoes, the range rules, the time-out field, Stop and a Scan during a sweep.
#include "GuiTestMain.h"
#include "NetnsLab.h"
#include "TestSupport.h"
#include "WindowDriver.h"

#include "icmp/Ping.h"

#include <QAbstractButton>
#include <QApplication>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

using corvane::test::NetnsLab;

namespace {

const QString kLive3 = QStringLiteral("10.78.0.3");
const QString kQuiet4 = QStringLiteral("10.78.0.4");
const QString kLive5 = QStringLiteral("10.78.0.5");
const QString kQuiet6 = QStringLiteral("10.78.0.6");
const QString kTimedOut = QStringLiteral("Cannot ping, status=11010");

// The driver on the Ping page.
struct Window : corvane::test::WindowDriver
{
    QTreeView* list = w.findChild<QTreeView*>("LstVw_Ping");
    QLineEdit* timeout = w.findChild<QLineEdit*>("Ed_timeout");
    // Runs after each row is added, from the window's own event processing.
    std::function<void(int rows)> afterRow;

    Window() : WindowDriver(false)
    {
        w.findChild<QTabWidget*>("PageCtrlRes")->setCurrentIndex(1);
        QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, &w, [this] {
            const int rows = list->model()->rowCount();
            QMetaObject::invokeMethod(&w, [this, rows] { if (afterRow) afterRow(rows); }, Qt::QueuedConnection);
        });
        w.show();
    }
    void sweep(const QString& first, const QString& last) { scan(first, last); }
    void oneAtATime(bool on) { w.findChild<QCheckBox*>("Chk_OneAtATime")->setChecked(on); }
    QString note() const { return w.findChild<QLabel*>("StatusPingReason")->text(); }
    QString errorsTitle() const
    {
        auto* tabs = w.findChild<QTabWidget*>("PageCtrlRes");
        return tabs->tabText(tabs->indexOf(w.findChild<QWidget*>("Tab_err")));
    }
    QStringList captions() const { return corvane::test::columnTexts(list, 0); }
    QStringList statuses() const { return corvane::test::columnTexts(list, 1); }
    QString cell(int row, int column) const { return list->model()->index(row, column).data().toString(); }
    int count() const { return list->model()->rowCount(); }
};

} // namespace

class TestWindowPing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        CORVANE_REQUIRE_ROOT();
        CORVANE_REQUIRE_PROGRAM("ip");
        CORVANE_REQUIRE_PROGRAM("sysctl");
        m_lab = std::make_unique<NetnsLab>();
        NetnsLab& lab = *m_lab;
        QVERIFY2(lab.ok(), qPrintable(lab.lastError()));
        QVERIFY(lab.addSegment("lan"));
        QVERIFY(lab.addHost("scan", "lan", "10.78.0.2/24"));
        QVERIFY(lab.addHost("live3", "lan", kLive3 + "/24"));
        QVERIFY(lab.addHost("quiet4", "lan", kQuiet4 + "/24"));
        QVERIFY(lab.addHost("live5", "lan", kLive5 + "/24"));
        QVERIFY(lab.addHost("quiet6", "lan", kQuiet6 + "/24"));
        // Present on the link (ARP answers) but never answering an echo: a plain time-out.
        QVERIFY2(lab.setSysctl("quiet4", "net.ipv4.icmp_echo_ignore_all", "1"), qPrintable(lab.lastError()));
        QVERIFY2(lab.setSysctl("quiet6", "net.ipv4.icmp_echo_ignore_all", "1"), qPrintable(lab.lastError()));
        QVERIFY2(lab.ok(), qPrintable(lab.lastError()));
        m_in = std::make_unique<NetnsLab::ScopedEnter>(lab, "scan");
        QVERIFY(m_in->ok());
    }

    void cleanupTestCase()
    {
        m_in.reset();
        m_lab.reset();
    }

    // One at a time: each row comes after the one before has answered or timed out.
    void rowPerAddressInOrder()
    {
        Window win;
        win.oneAtATime(true);
        win.timeout->setText("500");
        win.w.findChild<QPlainTextEdit*>("Lst_err")->setPlainText("old error");
        corvane::TPingRow earlier;
        earlier.texts.caption = QStringLiteral("row of an earlier sweep");
        win.w.results().pings().append(earlier);
        win.w.statusPanel(1)->setText("5");
        // The bar while each row comes in: the addresses done before it; the panels as they were.
        QCoreApplication::processEvents(); // the earlier row's notice, not one of this sweep
        QStringList progress;
        win.afterRow = [&](int) {
            progress << (win.w.progressBar()->isVisible() ? win.w.progressBar()->text() : "hidden") + " / "
                            + win.w.statusPanel(0)->text() + " " + win.w.statusPanel(1)->text();
        };
        win.desktop.onBox = [&](QMessageBox::Icon, const QString&) {
            progress << (win.w.progressBar()->isVisible() ? "shown at box" : "hidden at box");
        };
        win.sweep(kLive3, kQuiet6);
        QCOMPARE(progress, (QStringList{"0 of 4 / Computers founded: 5", "1 of 4 / Computers founded: 5",
                                        "2 of 4 / Computers founded: 5", "3 of 4 / Computers founded: 5",
                                        "hidden at box"}));
        QVERIFY(!win.w.progressBar()->isVisible());
        QCOMPARE(win.captions(), (QStringList{kLive3, kQuiet4, kLive5, kQuiet6}));
        QCOMPARE(win.statuses(), (QStringList{"Received", kTimedOut, "Received", kTimedOut}));
        for (int i : {0, 2}) {
            QCOMPARE(win.cell(i, 2), QStringLiteral("56"));
            bool number = false;
            QVERIFY(win.cell(i, 3).toUInt(&number) < 500 && number);
        }
        for (int i : {1, 3}) {
            QCOMPARE(win.cell(i, 2), QString());
            QCOMPARE(win.cell(i, 3), QString());
        }
        QCOMPARE(win.boxes, QStringList{"Ping finished."});
        QCOMPARE(win.icons, QList<QMessageBox::Icon>{QMessageBox::Information});
        // The hosts found stay; the sweep has a count of its own.
        QCOMPARE(win.w.statusPanel(1)->text(), QStringLiteral("5"));
        QCOMPARE(win.w.pingCountPanel()->text(), QStringLiteral("Pings answered: 2"));
        QCOMPARE(win.w.findChild<QPlainTextEdit*>("Lst_err")->toPlainText(), QString());
        QCOMPARE(win.timeout->text(), QStringLiteral("500"));
        QCOMPARE(win.w.Ping1()->Timeout(), 500);
        QTRY_VERIFY(win.list->updatesEnabled()); // repaints gathered during the sweep, not stopped
    }

    // The ping page's pop-up menu saves what the sweep found as corvane-scan ping writes it, in the
    // order shown (here by status, then address), and copies the selected rows.
    void saveAndCopyPingList_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("txt") << "pings.txt";
        QTest::newRow("json") << "pings.json";
    }

    void saveAndCopyPingList()
    {
        QFETCH(QString, name);
        Window win;
        win.timeout->setText("300");
        win.sweep(kLive3, kLive5);
        QCOMPARE(win.count(), 3);
        win.list->sortByColumn(1, Qt::DescendingOrder); // "Received" before "Cannot ping"
        QTemporaryDir dir;
        win.desktop.fileAnswer = [&](const QFileDialog&) { return dir.filePath(name); };
        win.w.findChild<QAction*>("Savepinglist1")->trigger();
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        if (name.endsWith(QLatin1String(".txt"))) {
            const QList<QByteArray> lines = bytes.split('\n');
            QCOMPARE(lines.size(), 5); // heading, three rows, nothing after the last LF
            QCOMPARE(lines[0], QByteArray("IP               Status                    Data size Time"));
            QVERIFY2(lines[1].startsWith("10.78.0.3        Received                  56        "), lines[1].constData());
            QVERIFY2(lines[2].startsWith("10.78.0.5        Received                  56        "), lines[2].constData());
            QCOMPARE(lines[3], QByteArray("10.78.0.4        Cannot ping, status=11010"));
        } else {
            QStringList rows;
            for (const QJsonValue& v : QJsonDocument::fromJson(bytes).array())
                rows << v["address"].toString() + u' ' + (v["received"].toBool() ? "received" : "no reply");
            QCOMPARE(rows, (QStringList{"10.78.0.3 received", "10.78.0.5 received", "10.78.0.4 no reply"}));
        }
        win.list->setFocus();
        win.list->selectionModel()->select(win.list->model()->index(2, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        win.w.findChild<QAction*>("Copypinglist1")->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("IP\tStatus\tData size\tTime\n10.78.0.4\t") + kTimedOut + QStringLiteral("\t\t\n"));
    }

    void firstEqualsLast()
    {
        Window win;
        win.sweep(kLive5, kLive5);
        QCOMPARE(win.captions(), QStringList{kLive5});
        QCOMPARE(win.statuses(), QStringList{"Received"});
        QCOMPARE(win.boxes, QStringList{"Ping finished."});
    }

    // A range the sweep cannot take is refused with the field and the reason; the list, the Errors
    // page and the panel keep what they showed.
    void nothingSwept_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("error");
        QTest::newRow("reversed") << kQuiet6 << kLive3 << "Last: 10.78.0.3 is below First IP 10.78.0.6";
        QTest::newRow("first 0.0.0.0") << "0.0.0.0" << kLive3 << "First IP: a range cannot begin at 0.0.0.0";
        QTest::newRow("last 0.0.0.0") << kLive3 << "0.0.0.0" << "Last: 0.0.0.0 is below First IP 10.78.0.3";
        QTest::newRow("lower half into upper half")
            << "10.0.0.1" << "200.0.0.1"
            << "Last: the range 10.0.0.1-200.0.0.1 crosses 128.0.0.0, which a ping sweep cannot walk; scan each "
               "side on its own";
    }

    void nothingSwept()
    {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(QString, error);
        Window win;
        corvane::TPingRow earlier;
        earlier.texts.caption = QStringLiteral("row of an earlier sweep");
        win.w.results().pings().append(earlier);
        win.w.findChild<QPlainTextEdit*>("Lst_err")->setPlainText("old error");
        win.w.statusPanel(1)->setText("5");
        win.sweep(first, last);
        QCOMPARE(win.captions(), QStringList{"row of an earlier sweep"});
        QCOMPARE(win.w.findChild<QPlainTextEdit*>("Lst_err")->toPlainText(), QStringLiteral("old error"));
        QCOMPARE(win.boxes, QStringList{error});
        QCOMPARE(win.icons, QList<QMessageBox::Icon>{QMessageBox::Critical});
        QCOMPARE(win.w.statusPanel(1)->text(), QStringLiteral("5"));
        QVERIFY(!win.w.progressBar()->isVisible());
    }

    void timeoutField_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("used");
        QTest::newRow("letters") << "abc" << "30" << 30;
        QTest::newRow("empty") << "" << "30" << 30;
        QTest::newRow("number and letters") << "20ms" << "30" << 30;
        QTest::newRow("least") << "1" << "1" << 1;
        QTest::newRow("number") << "45" << "45" << 45;
    }

    void timeoutField()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(int, used);
        Window win;
        win.timeout->setText(typed);
        win.sweep(kQuiet4, kQuiet4);
        QCOMPARE(win.timeout->text(), shown);
        QCOMPARE(win.w.Ping1()->Timeout(), used);
        QCOMPARE(win.statuses(), QStringList{kTimedOut});
        QCOMPARE(win.boxes, QStringList{"Ping finished."});
    }

    // A time-out outside 1 to 60000 ms is refused before anything is pinged.
    void timeoutOutOfRangeIsAnError_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("negative") << "-5";
        QTest::newRow("zero") << "0";
        QTest::newRow("above a minute") << "60001";
    }

    void timeoutOutOfRangeIsAnError()
    {
        QFETCH(QString, typed);
        Window win;
        win.timeout->setText(typed);
        win.w.statusPanel(1)->setText("5");
        win.sweep(kLive3, kLive5);
        QCOMPARE(win.count(), 0);
        QCOMPARE(win.boxes, QStringList{"Timeout: " + typed + " ms is outside 1 to 60000 ms"});
        QCOMPARE(win.icons, QList<QMessageBox::Icon>{QMessageBox::Critical});
        QCOMPARE(win.w.statusPanel(1)->text(), QStringLiteral("5"));
        QVERIFY(!win.w.progressBar()->isVisible());
    }

    // An error of the echo engine ends the sweep with the box; no bar and no disabled Scan stay behind.
    void engineErrorLeavesNoBar()
    {
        Window win;
        win.w.Ping1()->SetTTL(300); // the engine checks it at the first echo
        win.sweep(kLive3, kLive5);
        QCOMPARE(win.boxes, QStringList{"Error ocured on scanning"});
        QVERIFY(!win.w.progressBar()->isVisible());
        QVERIFY(win.w.findChild<QWidget*>("But_Scan")->isEnabled());
    }

    // One at a time, Stop clicked while the second address's row is processed: that row stays, the
    // sweep ends and says where.
    void stopDuringSweep()
    {
        Window win;
        win.oneAtATime(true);
        win.timeout->setText("300");
        win.afterRow = [&](int rows) {
            if (rows == 2)
                win.click("But_Stop");
        };
        win.sweep(kLive3, kQuiet6);
        QCOMPARE(win.captions(), (QStringList{kLive3, kQuiet4}));
        QVERIFY(!win.w.progressBar()->isVisible());
        QCOMPARE(win.boxes, QStringList{"Ping finished.\rStopped after 2 of 4 addresses."});
        QCOMPARE(win.note(), QStringLiteral("Stopped after 2 of 4 addresses."));
        QCOMPARE(win.w.statusPanel(1)->text(), QStringLiteral("0"));
    }

    // Scan is disabled while the sweep runs: a click or F5 during it nests no second sweep, and the
    // first goes on to its end. In parallel the rows after the first come together at the time-out,
    // so the first row is where the sweep is surely still running.
    void noNestedSweep_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::addColumn<int>("atRow");
        QTest::newRow("one at a time") << true << 2;
        QTest::newRow("in parallel") << false << 1;
    }

    void noNestedSweep()
    {
        QFETCH(bool, serial);
        QFETCH(int, atRow);
        Window win;
        win.oneAtATime(serial);
        win.timeout->setText("300");
        bool tried = false;
        win.afterRow = [&](int rows) {
            if (rows != atRow || tried)
                return;
            tried = true;
            QVERIFY(!win.w.findChild<QWidget*>("But_Scan")->isEnabled());
            win.sweep(kLive5, kLive5);
            QTest::keyClick(&win.w, Qt::Key_F5);
        };
        win.sweep(kLive3, kQuiet6);
        QVERIFY(tried);
        QCOMPARE(win.captions(), (QStringList{kLive3, kQuiet4, kLive5, kQuiet6}));
        QCOMPARE(win.boxes, QStringList{"Ping finished."});
        QVERIFY(win.w.findChild<QWidget*>("But_Scan")->isEnabled());
    }

    // 255.255.255.255 is handed to the component but never pinged.
    void upToBroadcastLast()
    {
        Window win;
        win.sweep("255.255.255.250", "255.255.255.255");
        QCOMPARE(win.captions(), (QStringList{"255.255.255.250", "255.255.255.251", "255.255.255.252",
                                              "255.255.255.253", "255.255.255.254"}));
        for (const QString& s : win.statuses())
            QVERIFY2(s.startsWith(QStringLiteral("Cannot ping, status=")), qPrintable(s));
        QCOMPARE(win.boxes, QStringList{"Ping finished."});
    }

    void rangeEndingAt127_255_255_255Ends()
    {
        Window win;
        win.afterRow = [&](int rows) {
            if (rows > 4) // wrapped on: stop it, the row count tells
                win.click("But_Stop");
        };
        win.sweep("127.255.255.252", "127.255.255.255");
        QCOMPARE(win.captions(),
                 (QStringList{"127.255.255.252", "127.255.255.253", "127.255.255.254", "127.255.255.255"}));
        QCOMPARE(win.statuses().mid(0, 3), (QStringList{"Received", "Received", "Received"}));
        QCOMPARE(win.boxes, QStringList{"Ping finished."});
    }

    void resolveHostCaption_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("resolve");
        QTest::addColumn<QString>("caption");
        QTest::newRow("off") << "127.0.0.1" << false << "127.0.0.1";
        QTest::newRow("on, named") << "127.0.0.1" << true << "127.0.0.1 localhost";
        QTest::newRow("on, no answer: no lookup") << kQuiet4 << true << kQuiet4;
    }

    void resolveHostCaption()
    {
        QFETCH(QString, address);
        QFETCH(bool, resolve);
        QFETCH(QString, caption);
        Window win;
        win.w.findChild<QCheckBox*>("chb_resolve_host")->setChecked(resolve);
        win.sweep(address, address);
        QCOMPARE(win.captions(), QStringList{caption});
    }

    // The parallel sweep gives the rows, boxes, errors and counts the one-at-a-time sweep gives.
    void bothSweepsAlike_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<bool>("resolve");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("answered");
        QTest::newRow("live and quiet") << kLive3 << kQuiet6 << false << 4 << 2;
        QTest::newRow("resolved") << "127.0.0.1" << "127.0.0.3" << true << 3 << 3;
        QTest::newRow("no route") << "10.79.0.1" << "10.79.0.3" << false << 3 << 0;
        QTest::newRow("up to broadcast") << "255.255.255.253" << "255.255.255.255" << false << 2 << 0;
    }

    void bothSweepsAlike()
    {
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(bool, resolve);
        QFETCH(int, rows);
        QFETCH(int, answered);
        QStringList seen[2];
        for (const bool serial : {true, false}) {
            Window win;
            win.oneAtATime(serial);
            win.timeout->setText("300");
            win.w.findChild<QCheckBox*>("chb_resolve_host")->setChecked(resolve);
            win.sweep(first, last);
            QCOMPARE(win.boxes, QStringList{"Ping finished."});
            QCOMPARE(win.w.pingCountPanel()->text(), QStringLiteral("Pings answered: %1").arg(answered));
            QCOMPARE(win.count(), rows);
            QStringList& shown = seen[serial ? 0 : 1];
            for (int i = 0; i < win.count(); ++i)
                shown << win.cell(i, 0) + u'|' + win.cell(i, 1) + u'|' + win.cell(i, 2);
            shown << "errors|" + win.err->toPlainText() << "tab|" + win.errorsTitle();
        }
        QCOMPARE(seen[1], seen[0]);
    }

    // Stop ends the parallel sweep at once: no row comes after it, though echoes are still out.
    void stopEndsParallelSweepAtOnce()
    {
        Window win;
        win.timeout->setText("5000");
        int rowsAtStop = -1;
        win.afterRow = [&](int rows) {
            if (rowsAtStop < 0) {
                rowsAtStop = rows;
                win.click("But_Stop");
            }
        };
        win.sweep(kLive3, kQuiet6);
        QCOMPARE(rowsAtStop, 1);
        QCOMPARE(win.captions(), QStringList{kLive3});
        QCOMPARE(win.boxes, QStringList{"Ping finished.\rStopped after 1 of 4 addresses."});
        QCOMPARE(win.note(), QStringLiteral("Stopped after 1 of 4 addresses."));
        QVERIFY(!win.w.progressBar()->isVisible());
        QVERIFY(win.w.findChild<QWidget*>("But_Scan")->isEnabled());
    }

    // A node-status scan of a range with no route: the box says how many addresses could not be
    // queried and the Errors tab shows its count; the next scan starts the count afresh.
    void unreachableScanSaysSo()
    {
        Window win;
        win.w.findChild<QTabWidget*>("PageCtrlRes")->setCurrentIndex(0);
        win.scan("10.79.0.1", "10.79.0.20");
        QVERIFY(win.waitDone());
        QCOMPARE(win.boxes, QStringList{"Scanning finished.\rComputers founded: 0\r20 addresses could not be queried; "
                                        "see the page Errors"});
        QCOMPARE(win.errorsTitle(), QStringLiteral("Errors (20)"));
        QVERIFY2(win.err->toPlainText().startsWith("Send to 10.79.0.1 failed: "), qPrintable(win.err->toPlainText()));
        win.scan(kLive3, kLive3);
        QCOMPARE(win.errorsTitle(), QStringLiteral("Errors"));
        QVERIFY(win.waitDone(2));
        QCOMPARE(win.boxes.last(), QStringLiteral("Scanning finished.\rComputers founded: 0"));
    }

    // A user without ICMP permission: every row fails as before, and the reason (what is missing,
    // how to grant it) shows once a sweep on the Errors page and in the status bar. The window runs
    // as that user in this program, started again through setpriv.
    void reasonOncePerSweepWithoutPermission()
    {
        CORVANE_REQUIRE_PROGRAM("setpriv");
        QVERIFY(m_lab->setSysctl("scan", "net.ipv4.ping_group_range", "1 0"));
        const NetnsLab::RunResult r = m_lab->runAsUser(
            "scan", 65534, 65534, {QCoreApplication::applicationFilePath(), "--unprivileged-sweeps", kLive3, kLive5},
            60000);
        QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
        const QString failed = QStringLiteral("Cannot ping, status=11050");
        const QStringList sweeps = r.out.split(QStringLiteral("--\n"), Qt::SkipEmptyParts);
        QCOMPARE(sweeps.size(), 2);
        for (const QString& sweep : sweeps) {
            const QStringList lines = sweep.split(u'\n', Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), 6);
            QCOMPARE(lines.mid(0, 3), (QStringList{kLive3 + u'|' + failed, kQuiet4 + u'|' + failed,
                                                   kLive5 + u'|' + failed}));
            QVERIFY2(lines[3].startsWith(QLatin1String("errors|ICMP sockets not permitted: "))
                         && lines[3].contains(QLatin1String("ping_group_range"))
                         && lines[3].contains(QLatin1String("setcap cap_net_raw+ep")),
                     qPrintable(lines[3]));
            QCOMPARE(lines[4], QStringLiteral("status|") + lines[3].mid(7));
            QCOMPARE(lines[5], QStringLiteral("boxes|Ping finished.|panel 0 Computers founded:|panel 1 0"));
        }
    }

private:
    std::unique_ptr<NetnsLab> m_lab;
    std::unique_ptr<NetnsLab::ScopedEnter> m_in;
};

// The window as the calling user: two sweeps of first..last, each printed as its rows, the Errors
// page, the status bar's reason, the boxes and the two panels.
static int unprivilegedSweeps(int, char* argv[])
{
    Window win;
    for (int sweep = 0; sweep < 2; ++sweep) {
        win.boxes.clear();
        win.sweep(QString::fromLatin1(argv[2]), QString::fromLatin1(argv[3]));
        for (int i = 0; i < win.count(); ++i)
            std::printf("%s|%s\n", qPrintable(win.captions()[i]), qPrintable(win.statuses()[i]));
        std::printf("errors|%s\n", qPrintable(win.w.findChild<QPlainTextEdit*>("Lst_err")->toPlainText()));
        std::printf("status|%s\n", qPrintable(win.w.findChild<QLabel*>("StatusPingReason")->text()));
        std::printf("boxes|%s|panel 0 %s|panel 1 %s\n--\n", qPrintable(win.boxes.join(u'|')),
                    qPrintable(win.w.statusPanel(0)->text()), qPrintable(win.w.statusPanel(1)->text()));
    }
    return 0;
}

CORVANE_GUI_TEST_MAIN(
    TestWindowPing, corvane::test::Loopback::Machine,
    [](int argc, char** argv) { return argc == 4 && std::strcmp(argv[1], "--unprivileged-sweeps") == 0; },
    unprivilegedSweeps)
#include "test_window_ping.moc"
