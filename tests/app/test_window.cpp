#include "GuiTestMain.h"
#include "WindowDriver.h"
#include "TestSupport.h"
#include "app/SubPathLabel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>
#include <QAction>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>

#include "icmp/Ping.h"

using corvane::test::WindowDriver;

namespace {

void hover(QWidget* w, QPoint at)
{
    QEnterEvent enter(QPointF(at), w->mapTo(w->window(), QPointF(at)), w->mapToGlobal(QPointF(at)));
    QCoreApplication::sendEvent(w, &enter);
    QMouseEvent move(QEvent::MouseMove, QPointF(at), w->mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(w, &move);
}

// Calls back for every event of one type the watched object gets.
class EventTap : public QObject
{
public:
    EventTap(QEvent::Type type, std::function<void()> seen) : m_type(type), m_seen(std::move(seen)) {}
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == m_type)
            m_seen();
        return false;
    }

private:
    QEvent::Type m_type;
    std::function<void()> m_seen;
};

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void start_state()
    {
        TFrm_Corvane w;
        QCOMPARE(w.findChild<QLineEdit*>("Ed_timeout")->text(), QStringLiteral("30"));
        QCOMPARE(w.statusPanel(1)->text(), QStringLiteral("0"));
        QCOMPARE(w.statusPanel(0)->text(), QStringLiteral("Computers founded:"));
        auto* tabs = w.findChild<QTabWidget*>("PageCtrlRes");
        QCOMPARE(tabs->count(), 5);
        QCOMPARE(tabs->currentIndex(), 0);
        const QStringList titles{"Netbios Node Status", "Ping", "Devices", "IP <-> Host", "Errors"};
        for (int i = 0; i < 5; ++i)
            QCOMPARE(tabs->tabText(i), titles[i]);
        QCOMPARE(w.findChild<QTreeView*>("LstVw_Res")->model()->rowCount(), 0);
        QCOMPARE(w.findChild<QTreeView*>("LstVw_Ping")->model()->rowCount(), 0);
        QVERIFY(w.windowTitle().startsWith(QStringLiteral("Corvane v1.1 Beta (Local IP: ")));
        QVERIFY(w.windowTitle().endsWith(u')'));
        QCOMPARE(w.findChild<QLineEdit*>("Ed_IP")->text(), w.windowTitle().section(u' ', 5).chopped(1));
        // The form's size, or the screen's room less a frame where the screen is smaller (the
        // offscreen screen is 800 wide).
        const QSize room = QGuiApplication::primaryScreen()->availableGeometry().size() - QSize(8, 36);
        QCOMPARE(w.size(), QSize(834, 642).boundedTo(room));
        QVERIFY(!w.windowIcon().isNull());
        // The installed icon's sizes, not an icon painted in code.
        QCOMPARE(w.windowIcon().availableSizes(), (QList<QSize>{{48, 48}, {128, 128}, {256, 256}}));
        QVERIFY(!w.progressBar()->isVisibleTo(&w));
    }

    void control_texts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::newRow("Ed_IPstart_Label") << "Ed_IPstart_Label" << "First IP";
        QTest::newRow("Ed_IPend_Label") << "Ed_IPend_Label" << "Last";
        QTest::newRow("But_getLocalIPrange") << "But_getLocalIPrange" << "Get LAN IPs";
        QTest::newRow("But_Scan") << "But_Scan" << "Scan";
        QTest::newRow("But_Stop") << "But_Stop" << "Stop";
        QTest::newRow("Chk_p137") << "Chk_p137" << "137";
        QTest::newRow("Label1") << "Label1" << "Host's netbios names";
        QTest::newRow("Lab_Timeout") << "Lab_Timeout" << "Timeout";
        QTest::newRow("chb_resolve_host") << "chb_resolve_host" << "Resolve host (slow)";
        QTest::newRow("Lab_IP") << "Lab_IP" << "IP";
        QTest::newRow("But_IP2Host") << "But_IP2Host" << "-->";
        QTest::newRow("But_Host2IP") << "But_Host2IP" << "<--";
        QTest::newRow("Lab_Host") << "Lab_Host" << "Host";
    }

    void control_texts()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        TFrm_Corvane w;
        QObject* o = w.findChild<QObject*>(name);
        QVERIFY2(o, qPrintable(name));
        QCOMPARE(o->property("text").toString(), text);
    }

    void hidden_port_box()
    {
        TFrm_Corvane w;
        w.show();
        auto* box = w.findChild<QAbstractButton*>("Chk_p137");
        QVERIFY(!box->isVisible());
        QVERIFY(!box->isChecked());
        QCOMPARE(box->toolTip(), QStringLiteral("Use port 137"));
        QCOMPARE(w.findChild<QWidget*>("But_getLocalIPrange")->toolTip(), QStringLiteral("Get local network IP range"));
    }

    void resize_grows_lists()
    {
        TFrm_Corvane w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* res = w.findChild<QWidget*>("LstVw_Res");
        auto* info = w.findChild<QWidget*>("Lst_HostInfo");
        auto* link = w.findChild<QWidget*>("Lbwww");
        w.resize(900, 642); // room for the link beside the buttons
        QTRY_COMPARE(w.width(), 900);
        const QSize before = res->size();
        const int infoHeight = info->height();
        const int linkGap = link->parentWidget()->width() - link->geometry().right();
        w.resize(1100, 800);
        QTRY_VERIFY(res->width() > before.width() && res->height() > before.height());
        // The name-table box shares the list's splitter and grows with the window too, less.
        QVERIFY(info->height() > infoHeight);
        QVERIFY(info->height() - infoHeight < res->height() - before.height());
        QCOMPARE(link->parentWidget()->width() - link->geometry().right(), linkGap);
        QVERIFY(info->mapTo(&w, QPoint(0, info->height())).y() > res->mapTo(&w, QPoint(0, res->height())).y());
    }

    void key_filter_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("expectedFirst"); // Ed_IPstart also takes the range forms
        const int none = Qt::NoModifier;
        QTest::newRow("digit") << int(Qt::Key_7) << "7" << none << "17" << "17";
        QTest::newRow("full stop") << int(Qt::Key_Period) << "." << none << "1." << "1.";
        QTest::newRow("backspace") << int(Qt::Key_Backspace) << "\b" << none << "" << "";
        QTest::newRow("letter") << int(Qt::Key_A) << "a" << none << "1" << "1";
        QTest::newRow("capital") << int(Qt::Key_A) << "A" << int(Qt::ShiftModifier) << "1" << "1";
        QTest::newRow("blank") << int(Qt::Key_Space) << " " << none << "1" << "1";
        QTest::newRow("hyphen") << int(Qt::Key_Minus) << "-" << none << "1" << "1-";
        QTest::newRow("slash") << int(Qt::Key_Slash) << "/" << none << "1" << "1/";
        QTest::newRow("colon") << int(Qt::Key_Colon) << ":" << none << "1" << "1";
    }

    void key_filter()
    {
        QFETCH(int, key);
        QFETCH(QString, text);
        QFETCH(int, modifiers);
        QFETCH(QString, expected);
        QFETCH(QString, expectedFirst);
        TFrm_Corvane w;
        w.show();
        for (const char* name : {"Ed_IPstart", "Ed_IPend", "Ed_IP"}) {
            auto* field = w.findChild<QLineEdit*>(name);
            field->setText(QStringLiteral("1"));
            field->setFocus();
            QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), text);
            QApplication::sendEvent(field, &press);
            QCOMPARE(field->text(), QByteArray(name) == "Ed_IPstart" ? expectedFirst : expected);
        }
        // The time-out and host fields take every key.
        auto* timeout = w.findChild<QLineEdit*>("Ed_timeout");
        timeout->setText(QStringLiteral("1"));
        QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), text);
        QApplication::sendEvent(timeout, &press);
        QCOMPARE(timeout->text().isEmpty() ? 0 : 1, key == Qt::Key_Backspace ? 0 : 1);
    }

    void key_codes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<bool>("allowedFirst"); // in Ed_IPstart, which also takes '-' and '/'
        for (int c = 0; c < 256; ++c) {
            const bool ok = c == 3 || c == 8 || c == 22 || c == 24 || c == 46 || (c >= 48 && c <= 57);
            QTest::addRow("%d", c) << c << ok << (ok || c == '-' || c == '/');
        }
    }

    void key_codes()
    {
        QFETCH(int, code);
        QFETCH(bool, allowed);
        QFETCH(bool, allowedFirst);
        QCOMPARE(TFrm_Corvane::Ed_IPstartKeyPress(code) != 0, allowed);
        QCOMPARE(TFrm_Corvane::Ed_IPstartKeyPress(code, true) != 0, allowedFirst);
    }

    void paste_not_filtered()
    {
        TFrm_Corvane w;
        w.show();
        auto* field = w.findChild<QLineEdit*>("Ed_IPstart");
        field->clear();
        field->setFocus();
        field->insert(QStringLiteral("ab:c"));
        field->selectAll();
        QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(field->text(), QStringLiteral("ab:cab:c"));
    }

    // The desktop's editing keys work in the address fields as in any other: select all, undo, redo.
    void editing_keys_data()
    {
        QTest::addColumn<QString>("typedBefore");
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QString>("typedAfter");
        QTest::addColumn<QString>("expected");
        QTest::newRow("select all, then type") << "" << QKeySequence(QKeySequence::SelectAll) << "10.0.0.1"
                                               << "10.0.0.1";
        QTest::newRow("undo") << "5" << QKeySequence(QKeySequence::Undo) << "" << "127.0.0.1";
        QTest::newRow("undo, redo") << "5"
                                    << QKeySequence(QKeySequence(QKeySequence::Undo).toString() + QStringLiteral(", ")
                                                    + QKeySequence(QKeySequence::Redo).toString())
                                    << "" << "127.0.0.15";
    }

    void editing_keys()
    {
        QFETCH(QString, typedBefore);
        QFETCH(QKeySequence, keys);
        QFETCH(QString, typedAfter);
        QFETCH(QString, expected);
        TFrm_Corvane w;
        w.show();
        for (const char* name : {"Ed_IPstart", "Ed_IPend", "Ed_IP"}) {
            w.findChild<QTabWidget*>("PageCtrlRes")->setCurrentIndex(QByteArray(name) == "Ed_IP" ? 2 : 0);
            auto* field = w.findChild<QLineEdit*>(name);
            field->setText(QStringLiteral("127.0.0.1"));
            field->setFocus();
            field->end(false);
            QTest::keyClicks(field, typedBefore);
            QTest::keySequence(field, keys);
            QTest::keyClicks(field, typedAfter);
            QVERIFY2(field->text() == expected, qPrintable(QString::fromLatin1(name) + u' ' + field->text()));
        }
    }

    // Tab and Backtab move the focus along the page's order and type nothing; sent with the tab
    // character as X11 delivers them.
    void tab_moves_focus_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("key");
        QTest::addColumn<QStringList>("order");
        // As the header shows them, then into the page.
        const QStringList header{"Ed_IPstart", "Ed_IPend", "But_getLocalIPrange", "But_Scan", "But_Stop",
                                 "qt_tabwidget_tabbar"};
        QStringList back(header.rbegin(), header.rend());
        QTest::newRow("header forwards") << 0 << int(Qt::Key_Tab) << header;
        QTest::newRow("header backwards") << 0 << int(Qt::Key_Backtab) << back;
        QTest::newRow("IP field") << 3 << int(Qt::Key_Tab) << QStringList{"Ed_IP", "But_IP2Host"};
    }

    void tab_moves_focus()
    {
        QFETCH(int, page);
        QFETCH(int, key);
        QFETCH(QStringList, order);
        TFrm_Corvane w;
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.findChild<QTabWidget*>("PageCtrlRes")->setCurrentIndex(page);
        const QList<QLineEdit*> fields = w.findChildren<QLineEdit*>();
        QStringList texts;
        for (const QLineEdit* f : fields)
            texts << f->text();
        w.findChild<QWidget*>(order.first())->setFocus(Qt::OtherFocusReason);
        const Qt::KeyboardModifiers mods = key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier;
        for (const QString& next : order.mid(1)) {
            QWidget* from = QApplication::focusWidget();
            QVERIFY(from);
            QKeyEvent press(QEvent::KeyPress, key, mods, QStringLiteral("\t"));
            QApplication::sendEvent(from, &press);
            QKeyEvent release(QEvent::KeyRelease, key, mods, QStringLiteral("\t"));
            QApplication::sendEvent(from, &release);
            QVERIFY(QApplication::focusWidget());
            QCOMPARE(QApplication::focusWidget()->objectName(), next);
        }
        for (int i = 0; i < fields.size(); ++i)
            QCOMPARE(fields[i]->text(), texts[i]);
    }

    void link_click_data()
    {
        QTest::addColumn<QString>("over"); // the caption up to the character under the mouse
        QTest::addColumn<QString>("opened");
        const QString page = TFrm_Corvane::ProductPage;
        QTest::newRow("last segment") << page.left(page.size() - 2) << page + "?fromApp=Corvane&ver=1.1.0.0";
        QTest::newRow("earlier segment") << QStringLiteral("https://www.example.com/to")
                                         << QStringLiteral("https://www.example.com/tools/?fromApp=Corvane&ver=1.1.0.0");
        QTest::newRow("host") << QStringLiteral("https://www.exa")
                              << QStringLiteral("https://www.example.com/?fromApp=Corvane&ver=1.1.0.0");
    }

    void link_click()
    {
        QFETCH(QString, over);
        QFETCH(QString, opened);
        QVERIFY(TFrm_Corvane::ProductPage.startsWith(over));
        WindowDriver win;
        const QStringList& launched = win.desktop.launched;
        win.desktop.exec = QStringLiteral("/usr/bin/test-browser");
        auto* link = win.w.findChild<TSubPathLabel*>("Lbwww");
        QVERIFY(link);
        QCOMPARE(link->caption(), TFrm_Corvane::ProductPage);
        // The label measures the scheme's "//" as "++".
        QString measured = over;
        measured.replace(QLatin1String("//"), QLatin1String("++"));
        const QPoint at(link->fontMetrics().horizontalAdvance(measured) - 1, link->height() / 2);
        hover(link, at);
        QTest::mouseClick(link, Qt::LeftButton, {}, at);
        // Opened once the lookup the hover started has answered.
        QTRY_COMPARE(launched, QStringList{QStringLiteral("/usr/bin/test-browser|") + opened});
        QCOMPARE(win.desktop.lookups.load(), 1);
        // Found once: the next click opens at once.
        QTest::mouseClick(link, Qt::LeftButton, {}, at);
        QCOMPARE(launched.size(), 2);
        QCOMPARE(win.desktop.lookups.load(), 1);
    }

    void link_click_without_browser_does_nothing()
    {
        WindowDriver win; // its stand-in finds no browser
        auto* link = win.w.findChild<TSubPathLabel*>("Lbwww");
        const QPoint at(link->width() - 2, link->height() / 2);
        hover(link, at);
        QTest::mouseClick(link, Qt::LeftButton, {}, at);
        QTRY_VERIFY(win.desktop.lookups == 1 && !win.w.BrowserLookupRunning());
        QCOMPARE(win.desktop.launched.size(), 0);
        QCOMPARE(win.boxes.size(), 0);
        // No box, but a line on the Errors page and in the status bar says why.
        const QString why = QStringLiteral("Cannot open ") + TFrm_Corvane::ProductPage
                          + QStringLiteral("?fromApp=Corvane&ver=1.1.0.0: no web browser is set (the desktop names "
                                           "no text/html handler)");
        QCOMPARE(win.err->toPlainText(), why);
        QCOMPARE(win.w.findChild<QLabel*>("StatusPingReason")->text(), why);
    }

    // A browser that cannot be started says so the same way.
    void link_click_with_failing_browser_says_why()
    {
        WindowDriver win;
        win.desktop.exec = QStringLiteral("/opt/gone/browser %u");
        win.desktop.browserLaunch = {false, QStringLiteral("/opt/gone/browser is not installed")};
        auto* link = win.w.findChild<TSubPathLabel*>("Lbwww");
        const QPoint at(link->width() - 2, link->height() / 2);
        hover(link, at);
        QTest::mouseClick(link, Qt::LeftButton, {}, at);
        QTRY_COMPARE(win.desktop.launched.size(), 1);
        QVERIFY2(win.err->toPlainText().endsWith(QStringLiteral(": /opt/gone/browser is not installed")),
                 qPrintable(win.err->toPlainText()));
        QCOMPARE(win.boxes.size(), 0);
    }

    // A lookup that takes a second: the click returns at once, the window goes on handling events
    // and repainting, and the browser starts when the lookup answers.
    void slow_browser_lookup_keeps_window_responsive()
    {
        WindowDriver win;
        QVERIFY(QTest::qWaitForWindowExposed(&win.w));
        win.desktop.exec = QStringLiteral("/usr/bin/test-browser %u");
        win.desktop.lookupMs = 1000;
        auto* link = win.w.findChild<TSubPathLabel*>("Lbwww");
        // An event posted at the click is handled before the lookup ends, not after it.
        QStringList handled;
        QObject::connect(link, &TSubPathLabel::clicked, &win.w, [&] {
            QMetaObject::invokeMethod(
                &win.w, [&] { handled << (win.desktop.launched.isEmpty() ? "before launch" : "after launch"); },
                Qt::QueuedConnection);
        });
        int paints = 0;
        EventTap painted(QEvent::Paint, [&] { paints += win.desktop.launched.isEmpty() ? 1 : 0; });
        link->installEventFilter(&painted);
        const QPoint at(link->width() - 2, link->height() / 2);
        hover(link, at);
        QTest::mouseClick(link, Qt::LeftButton, {}, at);
        QVERIFY(win.w.BrowserLookupRunning());
        QVERIFY(win.desktop.launched.isEmpty());
        link->update();
        QTRY_VERIFY_WITH_TIMEOUT(!win.desktop.launched.isEmpty(), 10000);
        QCOMPARE(handled, QStringList{"before launch"});
        QVERIFY(paints > 0);
        QCOMPARE(win.desktop.launched.size(), 1);
        QCOMPARE(win.desktop.launched[0], QStringLiteral("/usr/bin/test-browser|") + TFrm_Corvane::ProductPage
                                              + QStringLiteral("?fromApp=Corvane&ver=1.1.0.0"));
    }

    // Scan has nothing to do on these pages: it is disabled there, and neither a click nor F5 changes
    // anything; back on a survey's page it is enabled again.
    void scan_on_other_pages_does_nothing_data()
    {
        QTest::addColumn<int>("page");
        QTest::newRow("IP <-> Host") << 3;
        QTest::newRow("Errors") << 4;
    }

    void scan_on_other_pages_does_nothing()
    {
        QFETCH(int, page);
        WindowDriver win(false);
        TFrm_Corvane& w = win.w;
        const QStringList& boxes = win.boxes;
        auto* tabs = w.findChild<QTabWidget*>("PageCtrlRes");
        tabs->setCurrentIndex(page);
        QVERIFY(!w.findChild<QWidget*>("But_Scan")->isEnabled());
        w.findChild<QPlainTextEdit*>("Lst_err")->setPlainText(QStringLiteral("old line"));
        w.findChild<QPlainTextEdit*>("Lst_HostInfo")->setPlainText(QStringLiteral("kept"));
        win.click("But_Scan");
        QTest::keyClick(&w, Qt::Key_F5);
        QCOMPARE(w.findChild<QPlainTextEdit*>("Lst_err")->toPlainText(), QStringLiteral("old line"));
        QCOMPARE(w.findChild<QPlainTextEdit*>("Lst_HostInfo")->toPlainText(), QStringLiteral("kept"));
        QVERIFY(!w.ScanThreadsAlive());
        QVERIFY(boxes.isEmpty());
        QCOMPARE(w.statusPanel(1)->text(), QStringLiteral("0"));
        for (int survey : {0, 1}) {
            tabs->setCurrentIndex(survey);
            QVERIFY(w.findChild<QWidget*>("But_Scan")->isEnabled());
        }
    }

    void stop_without_scan_changes_nothing()
    {
        WindowDriver win(false);
        TFrm_Corvane& w = win.w;
        win.click("But_Stop");
        QCOMPARE(win.boxes.size(), 0);
        QVERIFY(w.ScanThread() == nullptr);
        QCOMPARE(w.statusPanel(1)->text(), QStringLiteral("0"));
    }

    // A range that is no range: the box names the field, no scan starts and no "finished" box follows.
    void scan_of_no_range_is_refused()
    {
        WindowDriver win(false);
        TFrm_Corvane& w = win.w;
        const QStringList& boxes = win.boxes;
        win.desktop.onBox = [&](QMessageBox::Icon icon, const QString&) { QCOMPARE(icon, QMessageBox::Critical); };
        w.statusPanel(1)->setText(QStringLiteral("7"));
        w.findChild<QLineEdit*>("Ed_IPstart")->setText(QStringLiteral("not an address"));
        win.click("But_Scan");
        QVERIFY(w.ScanThread() == nullptr);
        QCOMPARE(boxes, QStringList{QStringLiteral("First IP: 'not an address' is not an IPv4 address: an address is "
                                                   "four numbers from 0 to 255, such as 192.168.1.1")});
        QCOMPARE(w.statusPanel(1)->text(), QStringLiteral("7"));
        QVERIFY(!w.ScanThreadsAlive());
    }

    // Without the hook the real box shows the two lines; the panel counts the new scan from its start.
    void done_box_shows_two_lines()
    {
        TFrm_Corvane w;
        w.show();
        w.statusPanel(1)->setText(QStringLiteral("7"));
        QString shown;
        QString panelWhileOpen;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            shown = box->text();
            panelWhileOpen = w.statusPanel(1)->text();
            box->button(QMessageBox::Ok)->click();
        });
        poll.start(20);
        // One loopback address that nobody answers (the program has loopback to itself).
        w.findChild<QLineEdit*>("Ed_IPstart")->setText(QStringLiteral("127.0.0.9"));
        w.findChild<QLineEdit*>("Ed_IPend")->setText(QStringLiteral("127.0.0.9"));
        QTest::mouseClick(w.findChild<QWidget*>("But_Scan"), Qt::LeftButton);
        QTRY_COMPARE(shown, QStringLiteral("Scanning finished.\nComputers founded: 0"));
        QCOMPARE(panelWhileOpen, QStringLiteral("0"));
        QTRY_COMPARE(w.statusPanel(1)->text(), QStringLiteral("0"));
    }

    void save_dialog_settings()
    {
        WindowDriver win(false);
        TFrm_Corvane& w = win.w;
        int asked = 0;
        win.desktop.fileAnswer = [&](const QFileDialog& dialog) {
            ++asked;
            [&] {
                QCOMPARE(dialog.acceptMode(), QFileDialog::AcceptSave);
                QCOMPARE(dialog.defaultSuffix(), QStringLiteral("txt"));
                QCOMPARE(dialog.nameFilters(), (QStringList{QStringLiteral("TXT (*.txt)"), QStringLiteral("CSV (*.csv)"),
                                                            QStringLiteral("JSON (*.json)"), QStringLiteral("All (*)")}));
                QVERIFY(!dialog.testOption(QFileDialog::DontConfirmOverwrite)); // it asks before replacing
            }();
            return QString(); // cancelled
        };
        w.findChild<QAction*>("Savenetworklist1")->trigger();
        QCOMPARE(asked, 1);
        QCOMPARE(win.boxes.size(), 0);
    }

    // With rows hidden by the filter, Save asks first: the shown rows, all of them, or nothing.
    void save_asks_shown_or_all_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("choice");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<QStringList>("saved"); // the addresses written; none: no file
        QTest::newRow("nothing hidden") << "" << -1 << false << QStringList{"127.0.0.1", "127.0.0.2", "127.0.0.3"};
        QTest::newRow("the shown rows") << "0.2" << 0 << true << QStringList{"127.0.0.2"};
        QTest::newRow("all rows") << "0.2" << 1 << true << QStringList{"127.0.0.1", "127.0.0.2", "127.0.0.3"};
        QTest::newRow("cancelled") << "0.2" << -1 << true << QStringList{};
    }

    void save_asks_shown_or_all()
    {
        QFETCH(QString, filter);
        QFETCH(int, choice);
        QFETCH(bool, asked);
        QFETCH(QStringList, saved);
        QTemporaryDir dir;
        WindowDriver win(false);
        for (const char* ip : {"127.0.0.1", "127.0.0.2", "127.0.0.3"})
            win.w.results().hosts().append(corvane::THostRow(QString::fromLatin1(ip), TResultPtr()));
        win.w.findChild<QLineEdit*>("Ed_Filter")->setText(filter);
        win.desktop.choice = choice;
        win.desktop.fileAnswer = [&](const QFileDialog&) { return dir.filePath(QStringLiteral("hosts.txt")); };
        win.w.findChild<QAction*>("Savenetworklist1")->trigger();
        QCOMPARE(win.desktop.choiceTexts,
                 asked ? QStringList{QStringLiteral("The filter shows 1 of 3 hosts. Save the 1 shown or all 3?")}
                       : QStringList{});
        if (asked)
            QCOMPARE(win.desktop.choices.value(0), (QStringList{"Save 1 shown", "Save all 3"}));
        QFile file(dir.filePath(QStringLiteral("hosts.txt")));
        QCOMPARE(file.open(QIODevice::ReadOnly), !saved.isEmpty());
        QStringList written;
        for (const QByteArray& line : file.readAll().split('\n').mid(1))
            if (!line.isEmpty())
                written << QString::fromLatin1(line.left(line.indexOf(' ')));
        QCOMPARE(written, saved);
    }

    // The save dialog suggests a name of today in the format saved last, in the folder saved to last.
    void save_dialog_remembers_data()
    {
        QTest::addColumn<QString>("chosen"); // the first save's file, in a folder of its own
        QTest::addColumn<QString>("filter"); // the filter the second dialog opens with
        QTest::newRow("csv") << "hosts.csv" << "CSV (*.csv)";
        QTest::newRow("json") << "hosts.json" << "JSON (*.json)";
        QTest::newRow("txt") << "hosts.txt" << "TXT (*.txt)";
    }

    void save_dialog_remembers()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, filter);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("lists")));
        const QString today = QDate::currentDate().toString(Qt::ISODate);
        WindowDriver win(false);
        QStringList seen; // folder, filter, default suffix, suggested name
        win.desktop.fileAnswer = [&](const QFileDialog& dialog) {
            seen << dialog.directory().absolutePath() << dialog.selectedNameFilter() << dialog.defaultSuffix()
                 << QFileInfo(dialog.selectedFiles().value(0)).fileName();
            return dir.filePath(QStringLiteral("lists/") + chosen);
        };
        win.w.findChild<QAction*>("Savenetworklist1")->trigger();
        QCOMPARE(seen.mid(1), (QStringList{"TXT (*.txt)", "txt", "corvane-" + today + ".txt"}));
        win.w.findChild<QAction*>("Savepinglist1")->trigger();
        const QString suffix = QFileInfo(chosen).suffix();
        QCOMPARE(seen.mid(4), (QStringList{dir.filePath(QStringLiteral("lists")), filter, suffix,
                                           "corvane-ping-" + today + u'.' + suffix}));
    }

    // Ctrl+S saves the list of the page showing, wherever the focus is; a page without a list has none.
    void ctrl_s_saves_showing_list_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("suggested"); // the name the dialog suggests; empty: no dialog
        const QString today = QDate::currentDate().toString(Qt::ISODate);
        QTest::newRow("node status") << 0 << "corvane-" + today + ".txt";
        QTest::newRow("ping") << 1 << "corvane-ping-" + today + ".txt";
        QTest::newRow("errors") << 3 << "";
    }

    void ctrl_s_saves_showing_list()
    {
        QFETCH(int, page);
        QFETCH(QString, suggested);
        WindowDriver win;
        win.w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&win.w));
        win.w.findChild<QTabWidget*>("PageCtrlRes")->setCurrentIndex(page);
        QStringList asked;
        win.desktop.fileAnswer = [&](const QFileDialog& dialog) {
            asked << QFileInfo(dialog.selectedFiles().value(0)).fileName();
            return QString();
        };
        auto* field = win.w.findChild<QLineEdit*>("Ed_IPstart");
        field->setFocus();
        QTest::keyClick(field, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(asked, suggested.isEmpty() ? QStringList{} : QStringList{suggested});
    }

    void save_empty_list_writes_heading()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString name = dir.filePath(QStringLiteral("hosts.txt"));
        QFile old(name);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older and much longer content than the heading line alone, replaced whole\r\n"
                  "second line\r\n");
        old.close();
        WindowDriver win(false);
        win.desktop.fileAnswer = [&](const QFileDialog&) { return name; };
        win.w.findChild<QAction*>("Savenetworklist1")->trigger();
        QCOMPARE(win.boxes.size(), 0);
        QFile saved(name);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QByteArray("IP               CompName         UserName         WorkGroup        "
                                             "MacAddress         FileService    MasterBrowser \r\n"));
    }

    // The real dialog, given the name of a file that exists, asks first; No keeps the file.
    void save_asks_before_replacing_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("yes") << int(QMessageBox::Yes) << true;
        QTest::newRow("no") << int(QMessageBox::No) << false;
    }

    void save_asks_before_replacing()
    {
        QFETCH(int, answer);
        QFETCH(bool, replaced);
        QTemporaryDir dir;
        const QByteArray old = "kept unless the user agrees\r\n";
        const QString name = corvane::test::writeFile(dir, QStringLiteral("hosts.txt"), old);
        QVERIFY(!name.isEmpty());
        WindowDriver win;
        corvane::test::RealDialog dialog;
        dialog.name = name;
        dialog.answer = QMessageBox::StandardButton(answer);
        win.desktop.driveDialog = std::ref(dialog);
        win.w.findChild<QAction*>("Savenetworklist1")->trigger();
        QCOMPARE(dialog.questions.size(), 1);
        QVERIFY2(dialog.questions[0].contains(QStringLiteral("already exists")), qPrintable(dialog.questions[0]));
        QFile saved(name);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray now = saved.readAll();
        QCOMPARE(now != old, replaced);
        QCOMPARE(now.startsWith("IP "), replaced);
        QCOMPARE(win.boxes.size(), 0);
    }

    // The parent of the chosen name is a regular file: nothing can be created there.
    void save_failure_names_the_file()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile blocker(dir.filePath(QStringLiteral("plain")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.write("x");
        blocker.close();
        const QString name = dir.filePath(QStringLiteral("plain/hosts.txt"));
        WindowDriver win(false);
        win.desktop.fileAnswer = [&](const QFileDialog&) { return name; };
        win.w.findChild<QAction*>("Savenetworklist1")->trigger();
        QCOMPARE(win.boxes.size(), 1);
        QCOMPARE(win.icons[0], QMessageBox::Critical);
        QCOMPARE(win.boxes[0], QStringLiteral("Cannot create file ") + name);
        QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"plain"});
        QVERIFY(blocker.open(QIODevice::ReadOnly));
        QCOMPARE(blocker.readAll(), QByteArray("x"));
    }

    void shares_without_selection_do_nothing()
    {
        WindowDriver win;
        win.w.findChild<QAction*>("Opensharedfolders1")->trigger();
        QTest::mouseDClick(win.res->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        QCOMPARE(win.desktop.shares.size(), 0);
    }

    // The keyboard opens the focused control's pop-up menu: the lists' own, and a field's edit menu.
    void keyboard_opens_popup_menu_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QStringList>("items"); // empty: a menu of the control's own
        const QStringList hosts {"Open shared folders", "Save network list..", "Compare with saved list...", "Copy"};
        QTest::newRow("Shift+F10 on the host list") << 0 << "LstVw_Res" << int(Qt::Key_F10) << int(Qt::ShiftModifier)
                                                    << hosts;
        QTest::newRow("Menu key on the host list") << 0 << "LstVw_Res" << int(Qt::Key_Menu) << int(Qt::NoModifier)
                                                   << hosts;
        QTest::newRow("Shift+F10 on the ping list") << 1 << "LstVw_Ping" << int(Qt::Key_F10) << int(Qt::ShiftModifier)
                                                    << QStringList {"Save ping list..", "Copy"};
        QTest::newRow("Menu key on the device list") << 2 << "LstVw_Devices" << int(Qt::Key_Menu)
                                                     << int(Qt::NoModifier)
                                                     << QStringList {"Save device list..", "Copy"};
        QTest::newRow("Shift+F10 in the filter field")
            << 0 << "Ed_Filter" << int(Qt::Key_F10) << int(Qt::ShiftModifier) << QStringList {};
    }

    void keyboard_opens_popup_menu()
    {
        QFETCH(int, page);
        QFETCH(QString, control);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QStringList, items);
        WindowDriver win;
        win.w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&win.w));
        win.w.findChild<QTabWidget*>("PageCtrlRes")->setCurrentIndex(page);
        QWidget* target = win.w.findChild<QWidget*>(control);
        target->setFocus(Qt::OtherFocusReason);
        QStringList shown;
        int menus = 0;
        QTimer close;
        QObject::connect(&close, &QTimer::timeout, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                ++menus;
                for (const QAction* a : menu->actions())
                    if (!a->isSeparator())
                        shown << a->text();
                menu->close();
            }
        });
        close.start(20);
        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QTRY_COMPARE(menus, 1);
        if (items.isEmpty()) // the field's own edit menu
            QVERIFY2(shown.join(u'|').remove(u'&').contains(QStringLiteral("Select All")), qPrintable(shown.join(u'|')));
        else
            QCOMPARE(shown, items);
        QTest::qWait(50);
        QCOMPARE(menus, 1); // one key, one menu
    }

    void menu_items_in_order()
    {
        TFrm_Corvane w;
        auto* list = w.findChild<QTreeView*>("LstVw_Res");
        QCOMPARE(list->contextMenuPolicy(), Qt::ActionsContextMenu);
        QStringList texts;
        for (QAction* a : list->actions()) {
            QVERIFY(a->isEnabled());
            texts << a->text();
        }
        // The existing items first, in their order; then Copy.
        QCOMPARE(texts, (QStringList{QStringLiteral("Open shared folders"), QStringLiteral("Save network list.."),
                                     QStringLiteral("Compare with saved list..."), QStringLiteral("Copy")}));
        auto* ping = w.findChild<QTreeView*>("LstVw_Ping");
        QCOMPARE(ping->contextMenuPolicy(), Qt::ActionsContextMenu);
        texts.clear();
        for (QAction* a : ping->actions())
            texts << a->text();
        QCOMPARE(texts, (QStringList{QStringLiteral("Save ping list.."), QStringLiteral("Copy")}));
    }

    void ping_component_settings()
    {
        TFrm_Corvane w;
        TPing* ping = w.Ping1();
        QVERIFY(ping);
        QCOMPARE(ping->Size(), 56);
        QCOMPARE(ping->Timeout(), 1000);
        QCOMPARE(ping->TTL(), 64);
        QCOMPARE(ping->Flags(), 0);
    }

    void address_tools_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("expectedHost");
        QTest::addColumn<QString>("expectedIp");
        QTest::newRow("loopback both ways") << "127.0.0.1" << "localhost" << "localhost" << "127.0.0.1";
        QTest::newRow("unresolvable") << "127.9.9.9" << "no-such-host.invalid" << "" << "0.0.0.0";
    }

    void address_tools()
    {
        QFETCH(QString, ip);
        QFETCH(QString, host);
        QFETCH(QString, expectedHost);
        QFETCH(QString, expectedIp);
        TFrm_Corvane w;
        w.findChild<QLineEdit*>("Ed_IP")->setText(ip);
        QTest::mouseClick(w.findChild<QWidget*>("But_IP2Host"), Qt::LeftButton);
        QCOMPARE(w.findChild<QLineEdit*>("Ed_Host")->text(), expectedHost);
        w.findChild<QLineEdit*>("Ed_Host")->setText(host);
        QTest::mouseClick(w.findChild<QWidget*>("But_Host2IP"), Qt::LeftButton);
        QCOMPARE(w.findChild<QLineEdit*>("Ed_IP")->text(), expectedIp);
    }

    void get_lan_ips_shows_no_box_without_fault()
    {
        WindowDriver win(false);
        TFrm_Corvane& w = win.w;
        w.findChild<QLineEdit*>("Ed_IP")->setText(QStringLiteral("x"));
        win.click("But_getLocalIPrange");
        QCOMPARE(win.boxes.size(), 0);
        QCOMPARE(w.findChild<QLineEdit*>("Ed_IP")->text(), w.windowTitle().section(u' ', 5).chopped(1));
    }
};

CORVANE_GUI_TEST_MAIN(TestWindow, corvane::test::Loopback::Private)
#include "test_window.moc"
