// The real window as a careless user meets it: a typo, an empty field, a second click, F5, Enter and
// Escape, a range form pasted, a large range, many error lines and launches that fail. Typed and
// clicked on the real controls; loopback peers only.
#include "GuiTestMain.h"
#include "NbResponder.h"
#include "TestSupport.h"
#include "WindowDriver.h"

#include "app/ErrorPage.h"
#include "app/Launch.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSet>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTreeView>

#include <memory>

using namespace corvane::test;

namespace {

constexpr std::uint8_t U = 0x04;

// Answers every query with a name made of the queried address's last two octets.
std::unique_ptr<NbResponder> answerEveryone()
{
    return std::make_unique<NbResponder>([](const NbResponder::Query& q) {
        const QByteArray name = "H" + QByteArray::number(q.to & 0xffff);
        return std::vector<NbResponder::Datagram> {{node_status_answer(q.transactionId(), {{name, 0x00, U}})}};
    });
}

QString done(int n)
{
    return QStringLiteral("Scanning finished.\rComputers founded: %1").arg(n);
}

// The driver on a page, its window active so that F5 and Escape reach it.
struct Guarded : WindowDriver
{
    QTabWidget* tabs = w.findChild<QTabWidget*>("PageCtrlRes");
    QWidget* scanButton = w.findChild<QWidget*>("But_Scan");
    QPlainTextEdit* hostInfo = w.findChild<QPlainTextEdit*>("Lst_HostInfo");

    explicit Guarded(int page) : WindowDriver(false)
    {
        tabs->setCurrentIndex(page);
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
    }
    QLineEdit* field(const char* name) const { return w.findChild<QLineEdit*>(name); }
    // To the widget with the focus, as a keyboard delivers it.
    void key(Qt::Key k)
    {
        QWidget* target = QApplication::focusWidget();
        QTest::keyClick(target ? target : &w, k);
    }
    QStringList queried(const NbResponder& responder) const
    {
        QStringList asked;
        for (const NbResponder::Query& q : responder.queries())
            asked << host_order_dotted(q.to);
        return asked;
    }
};

} // namespace

class TestWindowGuard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Every address here is loopback, also what a lenient parse would make of it ("127.77" is
    // 127.0.0.77 to inet_aton), so a guard that fails sends nowhere else.
    void refused_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("how"); // click, F5, or Enter in the last field typed
        QTest::addColumn<QString>("error");
        QTest::newRow("ping, empty last, click") << 1 << "127.0.0.1" << "" << "click" << "Last: the field is empty";
        QTest::newRow("scan, octet above 255, F5")
            << 0 << "999.1.2.3" << "127.0.0.9" << "F5"
            << "First IP: '999.1.2.3' is not an IPv4 address: 999 is above 255";
        QTest::newRow("scan, half typed, Enter")
            << 0 << "127.0.0.1" << "127.77" << "Enter"
            << "Last: '127.77' is not a whole IPv4 address: it needs four numbers from 0 to 255, such as 192.168.1.1";
        QTest::newRow("scan, reversed, click") << 0 << "127.0.0.9" << "127.0.0.1" << "click"
                                               << "Last: 127.0.0.1 is below First IP 127.0.0.9";
        QTest::newRow("ping, leading zero, Enter")
            << 1 << "127.0.0.010" << "127.0.0.20" << "Enter"
            << "First IP: '127.0.0.010' has a leading zero in 010: write 10 (a leading zero can mean octal)";
        QTest::newRow("scan, prefix too long, Enter") << 0 << "127.0.0.0/33" << "" << "Enter"
                                                      << "First IP: '127.0.0.0/33' needs a prefix length from 0 to 32";
        QTest::newRow("scan, crosses 128, click")
            << 0 << "127.255.255.254" << "128.0.0.1" << "click"
            << "Last: the range 127.255.255.254-128.0.0.1 crosses 128.0.0.0, which a node-status scan cannot walk; "
               "scan each side on its own";
    }

    void refused()
    {
        QFETCH(int, page);
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(QString, how);
        QFETCH(QString, error);
        Guarded win(page);
        win.err->setPlainText(QStringLiteral("old error"));
        win.hostInfo->setPlainText(QStringLiteral("kept"));
        win.w.statusPanel(1)->setText(QStringLiteral("5"));
        win.type("Ed_IPend", last);
        win.type("Ed_IPstart", first);
        if (how == QLatin1String("click"))
            win.click("But_Scan");
        else if (how == QLatin1String("F5"))
            win.key(Qt::Key_F5);
        else
            win.key(Qt::Key_Return);
        QCOMPARE(win.boxes, QStringList {error});
        QCOMPARE(win.icons, QList<QMessageBox::Icon> {QMessageBox::Critical});
        // Nothing started, nothing emptied, and no "finished" box follows later.
        QVERIFY(!win.w.ScanThreadsAlive());
        QVERIFY(!win.w.progressBar()->isVisible());
        QTest::qWait(300);
        QCOMPARE(win.boxes.size(), 1);
        QCOMPARE(win.err->toPlainText(), QStringLiteral("old error"));
        QCOMPARE(win.hostInfo->toPlainText(), QStringLiteral("kept"));
        QCOMPARE(win.w.statusPanel(1)->text(), QStringLiteral("5"));
        QVERIFY(win.scanButton->isEnabled());
    }

    // The time-out field takes digits only; a number outside 1 to 60000 is refused at Scan.
    void timeoutTyped()
    {
        Guarded win(1);
        win.type("Ed_timeout", QStringLiteral("a-0b"));
        QCOMPARE(win.field("Ed_timeout")->text(), QStringLiteral("0"));
        win.type("Ed_IPend", QStringLiteral("127.0.0.1"));
        win.type("Ed_IPstart", QStringLiteral("127.0.0.1"));
        win.key(Qt::Key_Return);
        QCOMPARE(win.boxes, QStringList {"Timeout: 0 ms is outside 1 to 60000 ms"});
        QCOMPARE(win.w.findChild<QTreeView*>("LstVw_Ping")->model()->rowCount(), 0);
    }

    // ADDRESS/PREFIX typed and FIRST-LAST pasted into the first field fill both fields; Enter scans.
    void rangeForms()
    {
        CORVANE_REQUIRE_ROOT();
        std::unique_ptr<NbResponder> peer = answerEveryone();
        QVERIFY2(peer->startWaiting(), qPrintable(peer->lastError()));
        Guarded win(0);
        QApplication::clipboard()->setText(QStringLiteral("127.0.0.20-127.0.0.22"));
        win.field("Ed_IPstart")->setFocus();
        win.field("Ed_IPstart")->selectAll();
        QTest::keyClick(win.field("Ed_IPstart"), Qt::Key_V, Qt::ControlModifier);
        win.key(Qt::Key_Tab); // leaving the field spreads the range; nothing is scanned
        QCOMPARE(win.field("Ed_IPstart")->text(), QStringLiteral("127.0.0.20"));
        QCOMPARE(win.field("Ed_IPend")->text(), QStringLiteral("127.0.0.22"));
        QVERIFY(!win.w.ScanThreadsAlive());

        win.type("Ed_IPstart", QStringLiteral("127.0.0.8/30"));
        win.key(Qt::Key_Return);
        QCOMPARE(win.field("Ed_IPstart")->text(), QStringLiteral("127.0.0.9"));
        QCOMPARE(win.field("Ed_IPend")->text(), QStringLiteral("127.0.0.10"));
        QVERIFY(win.waitDone());
        QCOMPARE(win.boxes, QStringList {done(2)});
        QCOMPARE(win.queried(*peer), (QStringList {"127.0.0.9", "127.0.0.10"}));
    }

    // While a scan of 1,000 answering hosts runs, Scan is disabled on its page: a click, F5 and
    // Enter start nothing and every host is listed once. The Ping page can still start its own
    // survey. Afterwards F5 scans again and Escape stops it.
    void secondScanRefused()
    {
        CORVANE_REQUIRE_ROOT();
        std::unique_ptr<NbResponder> peer = answerEveryone();
        QVERIFY2(peer->startWaiting(), qPrintable(peer->lastError()));
        Guarded win(0);
        win.type("Ed_IPend", QStringLiteral("127.0.4.232"));
        win.type("Ed_IPstart", QStringLiteral("127.0.1.1"));
        win.click("But_Scan");
        const QPointer<TNBTscanThread> first = win.w.ScanThread();
        QVERIFY(first);
        QVERIFY(!win.scanButton->isEnabled());
        win.click("But_Scan");
        win.key(Qt::Key_F5);
        win.field("Ed_IPstart")->setFocus();
        win.key(Qt::Key_Return);
        QCOMPARE(win.w.ScanThread(), first.data());
        win.tabs->setCurrentIndex(1); // the Ping page's own Scan
        QVERIFY(win.scanButton->isEnabled());
        win.tabs->setCurrentIndex(0);
        QVERIFY(!win.scanButton->isEnabled());
        QVERIFY(win.waitDone(1, 20000));
        QCOMPARE(win.boxes, QStringList {done(1000)});
        QCOMPARE(win.rows(), 1000);
        const QStringList addresses = columnTexts(win.res, 0);
        QCOMPARE(QSet<QString>(addresses.cbegin(), addresses.cend()).size(), 1000);
        QCOMPARE(peer->queryCount(), 1000);
        QVERIFY(win.scanButton->isEnabled());

        win.key(Qt::Key_F5);
        QVERIFY(win.w.ScanThread());
        win.key(Qt::Key_Escape);
        QVERIFY(win.waitDone(2, 20000));
        QVERIFY2(peer->queryCount() < 2000, qPrintable(QString::number(peer->queryCount())));
    }

    // Above 65,536 addresses Scan asks first, with the count and the time; No (the default) sends
    // nothing and changes nothing.
    void largeRangeAsks_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("last");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("asked"); // the question's first line; empty: no question
        QTest::newRow("scan, No") << 0 << "127.1.0.1" << false << "Scan 65,537 addresses, 127.0.0.1 to 127.1.0.1?";
        QTest::newRow("scan, Yes") << 0 << "127.1.0.1" << true << "Scan 65,537 addresses, 127.0.0.1 to 127.1.0.1?";
        QTest::newRow("scan, at the limit") << 0 << "127.1.0.0" << false << "";
        QTest::newRow("ping, No") << 1 << "127.1.0.1" << false << "Ping 65,537 addresses, 127.0.0.1 to 127.1.0.1?";
        QTest::newRow("devices, No") << 2 << "127.1.0.1" << false
                                     << "Survey 65,537 addresses, 127.0.0.1 to 127.1.0.1?";
    }

    void largeRangeAsks()
    {
        QFETCH(int, page);
        QFETCH(QString, last);
        QFETCH(bool, yes);
        QFETCH(QString, asked);
        Guarded win(page);
        win.desktop.answerYes = yes;
        win.err->setPlainText(QStringLiteral("old error"));
        win.type("Ed_IPend", last);
        win.type("Ed_IPstart", QStringLiteral("127.0.0.1"));
        win.key(Qt::Key_F5);
        QCOMPARE(win.desktop.questions.size(), asked.isEmpty() ? 0 : 1);
        if (!asked.isEmpty()) {
            QCOMPARE(win.desktop.questions[0].section(u'\n', 0, 0), asked);
            QVERIFY2(win.desktop.questions[0].contains(QLatin1String("This takes ")),
                     qPrintable(win.desktop.questions[0]));
        }
        const bool started = asked.isEmpty() || yes;
        QCOMPARE(win.w.ScanThread() != nullptr, started);
        QCOMPARE(win.err->toPlainText(), started ? QString() : QStringLiteral("old error"));
        if (started) {
            win.key(Qt::Key_Escape);
            QVERIFY(win.waitDone(1, 20000));
        }
        QCOMPARE(win.boxes.size(), started ? 1 : 0);
    }

    // One failed send per address of a huge range: the page keeps the newest 10,000 lines, folds a
    // repeated line and wraps a long one.
    void errorsPageBounded()
    {
        Guarded win(4);
        for (int i = 0; i < 10006; ++i)
            win.w.NetBiosScanError(nullptr, QStringLiteral("Send to 10.0.%1.%2 failed").arg(i / 256).arg(i % 256));
        const QString longLine = QStringLiteral("Recieved failed from 127.0.0.1: ") + QString(300, u'x');
        for (int i = 0; i < 3; ++i)
            win.w.NetBiosScanError(nullptr, longLine);
        QTextDocument* doc = win.err->document();
        QCOMPARE(doc->blockCount(), 10000);
        QCOMPARE(doc->firstBlock().text(), QStringLiteral("Send to 10.0.0.7 failed"));
        QCOMPARE(doc->lastBlock().text(), longLine + QStringLiteral(" (repeated 3 times)"));
        QCOMPARE(win.w.errorPage().log().last(), doc->lastBlock().text());
        win.err->moveCursor(QTextCursor::End);
        win.err->ensureCursorVisible();
        QTRY_VERIFY(doc->lastBlock().layout()->lineCount() > 1);
    }

    // A share the file manager cannot open, a browser that cannot start: a line on the Errors page
    // and in the status bar says why.
    void shareFailureSaid()
    {
        CORVANE_REQUIRE_ROOT();
        NbResponder peer([](const NbResponder::Query& q) {
            return std::vector<NbResponder::Datagram> {{node_status_answer(q.transactionId(), {{"PC7", 0x20, U},
                                                                                                {"PC7", 0x00, U}})}};
        });
        QVERIFY2(peer.startWaiting(), qPrintable(peer.lastError()));
        Guarded win(0);
        win.desktop.shareLaunch = {false, QStringLiteral("xdg-open: no method available for opening 'smb://pc7/'")};
        win.scan(QStringLiteral("127.0.0.7"), QStringLiteral("127.0.0.7"));
        QVERIFY(win.waitDone());
        const QRect r = win.res->visualRect(win.res->model()->index(0, 0));
        QTest::mouseClick(win.res->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(win.res->viewport(), Qt::LeftButton, {}, r.center());
        const QString why = QStringLiteral("Cannot open smb://pc7/: xdg-open: no method available for opening "
                                           "'smb://pc7/'");
        QCOMPARE(win.err->toPlainText(), why);
        QCOMPARE(win.w.findChild<QLabel*>("StatusPingReason")->text(), why);
    }

    // The real launchers: a program missing, one that fails at once with a word on stderr, one that
    // ends well, one that keeps running past the watch.
    void launcherOutcomes_data()
    {
        QTest::addColumn<QString>("script"); // empty: no such program
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "" << false << "xdg-open is not installed";
        QTest::newRow("no handler") << "echo \"xdg-open: no method available for opening '$1'\" >&2; exit 3" << false
                                    << "xdg-open: no method available for opening 'smb://PC7/'";
        QTest::newRow("silent failure") << "exit 4" << false << "xdg-open ended with status 4";
        QTest::newRow("opened") << "exit 0" << true << "";
        QTest::newRow("still running") << "exec /bin/sleep 3" << true << "";
    }

    void launcherOutcomes()
    {
        QFETCH(QString, script);
        QFETCH(bool, ok);
        QFETCH(QString, reason);
        QTemporaryDir bin;
        QVERIFY(bin.isValid());
        if (!script.isEmpty()) {
            const QString path = writeFile(bin, QStringLiteral("xdg-open"), "#!/bin/sh\n" + script.toUtf8() + "\n");
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner));
        }
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", bin.path().toLocal8Bit());
        QObject owner;
        std::optional<TLaunch> got;
        start_watched(&owner, QStringLiteral("xdg-open"), {QStringLiteral("smb://PC7/")}, 500,
                      [&](const TLaunch& l) { got = l; });
        qputenv("PATH", oldPath);
        QTRY_VERIFY(got.has_value());
        QCOMPARE(got->ok, ok);
        QCOMPARE(got->reason, reason);
        QTest::qWait(50);
    }

    void browserThatCannotStart()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        TDesktop desktop;
        const TLaunch missing = desktop.launchBrowser(dir.filePath(QStringLiteral("browser")), {"https://x.invalid/"});
        QCOMPARE(missing.ok, false);
        QCOMPARE(missing.reason, dir.filePath(QStringLiteral("browser")) + QStringLiteral(" is not installed"));
    }
};

CORVANE_GUI_TEST_MAIN(TestWindowGuard, corvane::test::Loopback::Private)
#include "test_window_guard.moc"
