#include "app/Umain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

class TestWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QCoreApplication::setApplicationVersion(QStringLiteral("1.1.0.0")); }

    void start_state()
    {
        TFrm_Corvane w;
        QCOMPARE(w.findChild<QLineEdit*>("Ed_timeout")->text(), QStringLiteral("30"));
        QCOMPARE(w.statusPanel(1)->text(), QStringLiteral("0"));
        QCOMPARE(w.statusPanel(0)->text(), QStringLiteral("Computers founded:"));
        auto* tabs = w.findChild<QTabWidget*>("PageCtrlRes");
        QCOMPARE(tabs->count(), 4);
        QCOMPARE(tabs->currentIndex(), 0);
        const QStringList titles{"Netbios Node Status", "Ping", "IP <-> Host", "Errors"};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(tabs->tabText(i), titles[i]);
        QCOMPARE(w.findChild<QTreeWidget*>("LstVw_Res")->topLevelItemCount(), 0);
        QCOMPARE(w.findChild<QTreeWidget*>("LstVw_Ping")->topLevelItemCount(), 0);
        QVERIFY(w.windowTitle().startsWith(QStringLiteral("Corvane v1.1 Beta (Local IP: ")));
        QVERIFY(w.windowTitle().endsWith(u')'));
        QCOMPARE(w.findChild<QLineEdit*>("Ed_IP")->text(), w.windowTitle().section(u' ', 5).chopped(1));
        QCOMPARE(w.size(), QSize(834, 642));
        QVERIFY(!w.windowIcon().isNull());
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
        const QSize before = res->size();
        const int infoHeight = info->height();
        const int linkGap = link->parentWidget()->width() - link->geometry().right();
        w.resize(1100, 800);
        QTRY_VERIFY(res->width() > before.width() && res->height() > before.height());
        QCOMPARE(info->height(), infoHeight);
        QCOMPARE(link->parentWidget()->width() - link->geometry().right(), linkGap);
        QVERIFY(info->geometry().bottom() > res->geometry().bottom());
    }

    void key_filter_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("expected");
        const int none = Qt::NoModifier;
        QTest::newRow("digit") << int(Qt::Key_7) << "7" << none << "17";
        QTest::newRow("full stop") << int(Qt::Key_Period) << "." << none << "1.";
        QTest::newRow("backspace") << int(Qt::Key_Backspace) << "\b" << none << "";
        QTest::newRow("letter") << int(Qt::Key_A) << "a" << none << "1";
        QTest::newRow("capital") << int(Qt::Key_A) << "A" << int(Qt::ShiftModifier) << "1";
        QTest::newRow("blank") << int(Qt::Key_Space) << " " << none << "1";
        QTest::newRow("hyphen") << int(Qt::Key_Minus) << "-" << none << "1";
        QTest::newRow("slash") << int(Qt::Key_Slash) << "/" << none << "1";
        QTest::newRow("colon") << int(Qt::Key_Colon) << ":" << none << "1";
    }

    void key_filter()
    {
        QFETCH(int, key);
        QFETCH(QString, text);
        QFETCH(int, modifiers);
        QFETCH(QString, expected);
        TFrm_Corvane w;
        w.show();
        for (const char* name : {"Ed_IPstart", "Ed_IPend", "Ed_IP"}) {
            auto* field = w.findChild<QLineEdit*>(name);
            field->setText(QStringLiteral("1"));
            field->setFocus();
            QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), text);
            QApplication::sendEvent(field, &press);
            QCOMPARE(field->text(), expected);
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
        for (int c = 0; c < 256; ++c) {
            const bool ok = c == 3 || c == 8 || c == 22 || c == 24 || c == 46 || (c >= 48 && c <= 57);
            QTest::addRow("%d", c) << c << ok;
        }
    }

    void key_codes()
    {
        QFETCH(int, code);
        QFETCH(bool, allowed);
        QCOMPARE(TFrm_Corvane::Ed_IPstartKeyPress(code) != 0, allowed);
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

    void link_click_opens_page_with_version()
    {
        TFrm_Corvane w;
        QStringList opened;
        w.setBrowserLauncher([&](const QString& url) { opened << url; });
        auto* link = w.findChild<QWidget*>("Lbwww");
        QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(link->width() - 3, link->height() / 2));
        QCOMPARE(opened, QStringList{TFrm_Corvane::ProductPage + "?fromApp=Corvane&ver=1.1.0.0"});
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
        TFrm_Corvane w;
        int boxes = 0;
        w.setMessageHook([&](QMessageBox::Icon, const QString&) { ++boxes; });
        w.findChild<QLineEdit*>("Ed_IP")->setText(QStringLiteral("x"));
        QTest::mouseClick(w.findChild<QWidget*>("But_getLocalIPrange"), Qt::LeftButton);
        QCOMPARE(boxes, 0);
        QCOMPARE(w.findChild<QLineEdit*>("Ed_IP")->text(), w.windowTitle().section(u' ', 5).chopped(1));
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
