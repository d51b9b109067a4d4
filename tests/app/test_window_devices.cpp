// The page "Devices" of the real window, surveying loopback peers from a private network namespace:
// where the page sits, what a survey lists and shows, Scan refused while it runs, Escape, and the
// field rules that send nothing.
#include "GuiTestMain.h"
#include "NbResponder.h"
#include "TestSupport.h"
#include "WindowDriver.h"

#include "app/DevicesPage.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <map>

using namespace corvane::test;

namespace {

constexpr std::uint8_t U = 0x04;

// A NetBIOS peer answering the addresses of its table with a workstation name.
struct Peer
{
    std::map<QString, QByteArray> names;
    NbResponder responder {[this](const NbResponder::Query& q) {
        const auto it = names.find(host_order_dotted(q.to));
        if (it == names.end())
            return std::vector<NbResponder::Datagram> {};
        return std::vector<NbResponder::Datagram> {{node_status_answer(q.transactionId(), {{it->second, 0x00, U}})}};
    }};
};

// The driver on the Devices page, its window active so that Escape reaches it.
struct Page : WindowDriver
{
    QTabWidget* tabs = w.findChild<QTabWidget*>("PageCtrlRes");
    QTreeView* list = w.findChild<QTreeView*>("LstVw_Devices");
    QPlainTextEdit* box = w.findChild<QPlainTextEdit*>("Lst_DeviceInfo");
    QWidget* scanButton = w.findChild<QWidget*>("But_Scan");

    Page()
        : WindowDriver(false)
    {
        tabs->setCurrentWidget(&w.devicesPage());
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
    }
    bool waitEnd(int ends, int ms = 20000)
    {
        (void)QTest::qWaitFor([&] { return boxes.size() >= ends && !w.devicesPage().running(); }, ms);
        return boxes.size() == ends && !w.devicesPage().running();
    }
    int rowOf(const QString& address) const { return int(columnTexts(list, 0).indexOf(address)); }
    void selectRow(int row)
    {
        list->scrollTo(list->model()->index(row, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualRect(list->model()->index(row, 0)).center());
    }
};

} // namespace

class TestWindowDevices : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pageBetweenPingAndIpHost()
    {
        TFrm_Corvane w;
        auto* tabs = w.findChild<QTabWidget*>("PageCtrlRes");
        const int at = tabs->indexOf(w.findChild<QWidget*>("Tab_Devices"));
        QCOMPARE(tabs->tabText(at), QStringLiteral("Devices"));
        QCOMPARE(tabs->tabText(at - 1), QStringLiteral("Ping"));
        QCOMPARE(tabs->tabText(at + 1), QStringLiteral("IP <-> Host"));
        QVERIFY(tabs->widget(at)->findChild<QTreeView*>("LstVw_Devices"));
    }

    // Scan on the page surveys the header's range: the peers that answer the node-status query are
    // listed with their name and evidence netbios, their name table shows on selection, and the
    // list copies and saves as shown.
    void survey_data()
    {
        QTest::addColumn<QStringList>("answering"); // "ADDRESS NAME"
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QStringList>("netbios"); // rows with evidence netbios: "IP|Name|Source"
        QTest::newRow("two of eleven answer")
            << QStringList {"127.0.0.21 PC21", "127.0.0.25 LAB25"} << "127.0.0.20"
            << "127.0.0.30" << QStringList {"127.0.0.21|PC21|netbios", "127.0.0.25|LAB25|netbios"};
        QTest::newRow("one address") << QStringList {"127.0.3.7 SOLO"} << "127.0.3.7"
                                     << "127.0.3.7" << QStringList {"127.0.3.7|SOLO|netbios"};
        QTest::newRow("nobody answers NetBIOS") << QStringList {} << "127.0.2.1"
                                                << "127.0.2.9" << QStringList {};
    }

    void survey()
    {
        CORVANE_REQUIRE_ROOT();
        QFETCH(QStringList, answering);
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(QStringList, netbios);
        Peer peer;
        for (const QString& a : answering)
            peer.names[a.section(u' ', 0, 0)] = a.section(u' ', 1).toLatin1();
        QVERIFY2(peer.responder.startWaiting(), qPrintable(peer.responder.lastError()));
        Page page;
        page.scan(first, last);
        QVERIFY(!page.scanButton->isEnabled());
        QVERIFY(page.waitEnd(1));
        QVERIFY(page.scanButton->isEnabled());
        const int rows = page.list->model()->rowCount();
        QCOMPARE(page.boxes, QStringList {QStringLiteral("Survey finished.\rDevices found: %1").arg(rows)});
        QCOMPARE(peer.responder.queryCount(),
                 int(corvane::ipv4::parse_strict(last)->value - corvane::ipv4::parse_strict(first)->value + 1));
        QStringList withNetbios;
        for (const QString& row : allRows(page.list))
            if (row.section(u'|', 5).contains(QLatin1String("netbios")))
                withNetbios << row.section(u'|', 0, 2);
        QCOMPARE(withNetbios, netbios);

        for (const QString& a : answering) {
            page.selectRow(page.rowOf(a.section(u' ', 0, 0)));
            QVERIFY2(page.box->toPlainText().contains(a.section(u' ', 1)), qPrintable(page.box->toPlainText()));
        }
        // Every row copied, headings first; the list saved as json in the order shown.
        page.list->setFocus();
        QTest::keyClick(page.list, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(page.list, Qt::Key_C, Qt::ControlModifier);
        if (rows > 0)
            QCOMPARE(QApplication::clipboard()->text().count(u'\n'), rows + 1);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("devices.json"));
        page.desktop.fileAnswer = [&](const QFileDialog&) { return file; };
        page.w.devicesPage().saveDeviceList();
        QFile saving(file);
        QVERIFY(saving.open(QIODevice::ReadOnly));
        const QJsonArray saved = QJsonDocument::fromJson(saving.readAll()).array();
        QCOMPARE(saved.size(), rows);
        for (int r = 0; r < rows; ++r)
            QCOMPARE(saved[r].toObject()[QLatin1String("address")].toString(), columnTexts(page.list, 0)[r]);
    }

    // Without a readable registry the Vendor heading says why the column stays empty, as does the
    // status bar; with one, nothing.
    void vendorNote_data()
    {
        QTest::addColumn<bool>("registry");
        QTest::newRow("registry missing") << false;
        QTest::newRow("registry read") << true;
    }

    void vendorNote()
    {
        CORVANE_REQUIRE_ROOT();
        QFETCH(bool, registry);
        QTemporaryDir dir;
        if (registry) {
            QFile oui(dir.filePath(QStringLiteral("oui.csv")));
            QVERIFY(oui.open(QIODevice::WriteOnly));
            oui.write("Registry,Assignment,Organization Name\r\nMA-L,001122,Maker A\r\n");
        }
        const QByteArray oldRegistry = qgetenv("CORVANE_IEEE_DATA");
        qputenv("CORVANE_IEEE_DATA", QFile::encodeName(dir.path()));
        const auto restore = qScopeGuard([&] { qputenv("CORVANE_IEEE_DATA", oldRegistry); });
        Page page;
        page.scan(QStringLiteral("127.0.3.9"), QStringLiteral("127.0.3.9"));
        QVERIFY(page.waitEnd(1));
        const QString expected = registry
            ? QString()
            : "No vendor names: the IEEE registry cannot be read in " + dir.path() + " (install the package ieee-data)";
        QCOMPARE(page.list->model()->headerData(4, Qt::Horizontal, Qt::ToolTipRole).toString(), expected);
        QCOMPARE(page.w.findChild<QLabel*>("StatusPingReason")->text(), expected);
        const QString fault = elisionFault(page.w, "StatusPingReason");
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    // While its survey runs Scan is disabled on the page, a second click starts nothing, and
    // Escape stops it with a box that says so.
    void escapeStops()
    {
        CORVANE_REQUIRE_ROOT();
        Peer peer;
        QVERIFY2(peer.responder.startWaiting(), qPrintable(peer.responder.lastError()));
        Page page;
        page.scan(QStringLiteral("127.0.8.1"), QStringLiteral("127.0.23.255"));
        QVERIFY(page.w.devicesPage().running());
        QVERIFY(!page.scanButton->isEnabled());
        page.click("But_Scan");
        page.tabs->setCurrentIndex(0); // the node-status page's own Scan
        QVERIFY(page.scanButton->isEnabled());
        page.tabs->setCurrentWidget(&page.w.devicesPage());
        QVERIFY(!page.scanButton->isEnabled());
        QTest::qWait(300);
        QTest::keyClick(&page.w, Qt::Key_Escape);
        QVERIFY(page.waitEnd(1));
        const int rows = page.list->model()->rowCount();
        QCOMPARE(page.boxes, QStringList {QStringLiteral("Survey stopped.\rDevices found: %1").arg(rows)});
        QVERIFY2(peer.responder.queryCount() < 4000, qPrintable(QString::number(peer.responder.queryCount())));
        QVERIFY(page.scanButton->isEnabled());
    }

    // A mistyped range gives the box the other pages give and sends nothing.
    void refused_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("error");
        QTest::newRow("octet above 255") << "999.1.2.3"
                                         << "127.0.0.9"
                                         << "First IP: '999.1.2.3' is not an IPv4 address: 999 is above 255";
        QTest::newRow("half typed") << "127.0.0.1"
                                    << "127.77"
                                    << "Last: '127.77' is not a whole IPv4 address: it needs four numbers from 0 to "
                                       "255, such as 192.168.1.1";
        QTest::newRow("reversed") << "127.0.0.9"
                                  << "127.0.0.1"
                                  << "Last: 127.0.0.1 is below First IP 127.0.0.9";
        QTest::newRow("crosses 128") << "127.255.255.254"
                                     << "128.0.0.1"
                                     << "Last: the range 127.255.255.254-128.0.0.1 crosses 128.0.0.0, which a device "
                                        "survey cannot walk; scan each side on its own";
    }

    void refused()
    {
        CORVANE_REQUIRE_ROOT();
        QFETCH(QString, first);
        QFETCH(QString, last);
        QFETCH(QString, error);
        Peer peer;
        QVERIFY2(peer.responder.startWaiting(), qPrintable(peer.responder.lastError()));
        Page page;
        page.type("Ed_IPend", last);
        page.type("Ed_IPstart", first);
        page.click("But_Scan");
        QCOMPARE(page.boxes, QStringList {error});
        QCOMPARE(page.icons, QList<QMessageBox::Icon> {QMessageBox::Critical});
        QVERIFY(!page.w.devicesPage().running());
        QTest::qWait(500);
        QCOMPARE(page.boxes.size(), 1);
        QCOMPARE(peer.responder.queryCount(), 0);
        QCOMPARE(page.list->model()->rowCount(), 0);
        QVERIFY(page.scanButton->isEnabled());
    }
};

CORVANE_GUI_TEST_MAIN(TestWindowDevices, corvane::test::Loopback::Private)
#include "test_window_devices.moc"
