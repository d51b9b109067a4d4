// The page Devices with the inventory, in the real window on loopback addresses of a private network
// namespace: surveys recorded with their marks and first/last seen, an inventory that cannot be
// updated, Watch's rounds and its careless use, and the desktop notification caught on a private
// session bus (or missing, without one).
#include "GuiTestMain.h"
#include "NbResponder.h"
#include "TestSupport.h"
#include "WindowDriver.h"

#include "app/DevicesPage.h"
#include "app/ElidedLabel.h"
#include "discovery/DeviceModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>

#include <linux/close_range.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvane::test;
using namespace corvane::discovery;

namespace {

constexpr std::uint8_t U = 0x04;
const char* const kBusEnv = "CORVANE_TEST_BUS"; // "none": the child run without a session bus

// NetBIOS names (and MACs) for some loopback addresses, so a notification has names to show.
struct Peer
{
    std::map<QString, QByteArray> names {{"127.0.0.5", "PC5"}, {"127.0.0.6", "LAB6"}};
    NbResponder responder {[this](const NbResponder::Query& q) {
        const auto it = names.find(host_order_dotted(q.to));
        if (it == names.end())
            return std::vector<NbResponder::Datagram> {};
        // A MAC of its own each: the inventory keys them by it.
        const std::array<std::uint8_t, 6> mac {0x00, 0x11, 0x22, 0xAA, 0xBB, std::uint8_t(q.to & 0xff)};
        return std::vector<NbResponder::Datagram> {
            {node_status_answer(q.transactionId(), {{it->second, 0x00, U}}, mac)}};
    }};
};

// A notification server of the test's own on the session bus: what Notify was given.
class Notifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList notices; // "summary|body"

public Q_SLOTS:
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body, const QStringList&,
                const QVariantMap&, int)
    {
        notices << summary + u'|' + body;
        return uint(notices.size());
    }
    void CloseNotification(uint) { }
};

// Registered on a connection of its own, as a notification daemon would be.
struct NotificationServer
{
    Notifications service;
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("notifications"));
    bool start()
    {
        return bus.isConnected() && bus.registerService(QStringLiteral("org.freedesktop.Notifications"))
            && bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                  QDBusConnection::ExportAllSlots);
    }
    ~NotificationServer()
    {
        bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("notifications"));
    }
};

// The namespace GuiTestMain entered has its loopback and nothing else.
bool privateNamespace()
{
    QFile dev(QStringLiteral("/proc/self/net/dev"));
    if (!dev.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = dev.readAll().trimmed().split('\n');
    return lines.size() == 3 && lines[2].trimmed().startsWith("lo:");
}

// Drops what is sent to an address, in the test's own namespace only: a device that went away.
bool hide(const QString& address)
{
    const QString rules = QStringLiteral("table ip corvane_hide {\n chain in {\n type filter hook input priority 0;\n"
                                         " ip daddr %1 drop\n }\n}\n")
                              .arg(address);
    QProcess nft;
    nft.start(QStringLiteral("nft"), {QStringLiteral("-f"), QStringLiteral("-")});
    nft.write(rules.toLatin1());
    nft.closeWriteChannel();
    return nft.waitForFinished(5000) && nft.exitCode() == 0;
}

void unhide()
{
    // Quiet: the table is there only after hide().
    QProcess nft;
    nft.setStandardErrorFile(QProcess::nullDevice());
    nft.start(QStringLiteral("nft"),
              {QStringLiteral("delete"), QStringLiteral("table"), QStringLiteral("ip"), QStringLiteral("corvane_hide")});
    nft.waitForFinished(5000);
}

// The driver on the Devices page with an inventory of its own.
struct Page : WindowDriver
{
    QTemporaryDir dir;
    QTabWidget* tabs = w.findChild<QTabWidget*>("PageCtrlRes");
    TDevicesPage& page = w.devicesPage();
    QTreeView* list = w.findChild<QTreeView*>("LstVw_Devices");
    QCheckBox* watch = w.findChild<QCheckBox*>("Chk_Watch");
    QSignalSpy done {&page, &TDevicesPage::inventoryDone};

    Page()
        : WindowDriver(false)
    {
        tabs->setCurrentWidget(&page);
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QVERIFY(page.setInventoryUrl(url()).isEmpty());
    }
    QString file() const { return dir.filePath(QStringLiteral("inventory.sqlite")); }
    QString url() const { return QStringLiteral("sqlite:") + file(); }
    // One survey of first-last and its recording, as the user starts it.
    bool survey(const QString& first, const QString& last)
    {
        const qsizetype before = done.size();
        scan(first, last);
        return QTest::qWaitFor([&] { return done.size() > before && !page.running(); }, 30000);
    }
    // "new:A,B changed:C gone:D" as the list draws its marks.
    QString marks()
    {
        std::map<QString, QStringList> byMark;
        for (int r = 0; r < list->model()->rowCount(); ++r)
            byMark[corvane::test::markShown(list, r)] << list->model()->index(r, DeviceIP).data().toString();
        QStringList out;
        for (const char* mark : {"new", "changed", "gone"})
            if (byMark.count(QLatin1String(mark)))
                out << QLatin1String(mark) + u':' + byMark[QLatin1String(mark)].join(u',');
        return out.join(u' ');
    }
    // Address -> the time a column sorts by (ms since the epoch; -1 when empty).
    std::map<QString, qint64> seen(int column) const
    {
        std::map<QString, qint64> times;
        for (int r = 0; r < list->model()->rowCount(); ++r)
            times[list->model()->index(r, DeviceIP).data().toString()]
                = list->model()->index(r, column).data(corvane::SortRole).toLongLong();
        return times;
    }
    QString errors() const { return err->toPlainText(); }
};

} // namespace

class TestWindowInventory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { unhide(); }
    void cleanup() { unhide(); }

    // Surveys recorded one after the other: the first marks every device new, a survey again marks
    // none, a wider range only what it adds; a device missed twice comes back as a gone row, one
    // outside the range is never gone. First seen stays, last seen moves on.
    void surveys_data()
    {
        QTest::addColumn<QStringList>("steps"); // "FIRST-LAST" surveys; "hide ADDRESS" drops its packets
        QTest::addColumn<QStringList>("marks"); // per survey
        QTest::newRow("first all new, then none") << QStringList {"127.0.0.2-127.0.0.4", "127.0.0.2-127.0.0.4"}
                                                  << QStringList {"new:127.0.0.2,127.0.0.3,127.0.0.4", ""};
        QTest::newRow("wider range: only the added address")
            << QStringList {"127.0.0.2-127.0.0.3", "127.0.0.2-127.0.0.5"}
            << QStringList {"new:127.0.0.2,127.0.0.3", "new:127.0.0.4,127.0.0.5"};
        QTest::newRow("missed twice: gone")
            << QStringList {"127.0.0.2-127.0.0.4", "hide 127.0.0.4", "127.0.0.2-127.0.0.4", "127.0.0.2-127.0.0.4"}
            << QStringList {"new:127.0.0.2,127.0.0.3,127.0.0.4", "", "gone:127.0.0.4"};
        QTest::newRow("outside the range: not gone")
            << QStringList {"127.0.0.2-127.0.0.4", "127.0.0.2-127.0.0.3", "127.0.0.2-127.0.0.3"}
            << QStringList {"new:127.0.0.2,127.0.0.3,127.0.0.4", "", ""};
    }

    void surveys()
    {
        CORVANE_REQUIRE_ROOT();
        QFETCH(QStringList, steps);
        QFETCH(QStringList, marks);
        Page p;
        QVERIFY2(p.w.findChild<QLabel*>("Lbl_Inventory")->text().endsWith(p.file()),
                 qPrintable(p.w.findChild<QLabel*>("Lbl_Inventory")->text()));
        std::map<QString, qint64> firstSeen, lastSeen;
        QStringList shown;
        for (const QString& step : steps) {
            if (step.startsWith(QLatin1String("hide "))) {
                if (!privateNamespace())
                    QSKIP("no private network namespace to hide an address in");
                QVERIFY(hide(step.mid(5)));
                continue;
            }
            QVERIFY(p.survey(step.section(u'-', 0, 0), step.section(u'-', 1)));
            QVERIFY2(p.page.statusText().contains(QLatin1String(" recorded: ")), qPrintable(p.page.statusText()));
            shown << p.marks();
            // Every device the survey found has both times; first seen is kept from the survey that
            // found it first, last seen is this survey's.
            const std::map<QString, qint64> first = p.seen(DeviceFirstSeen), last = p.seen(DeviceLastSeen);
            for (const auto& [address, time] : first) {
                QVERIFY2(time > 0, qPrintable(address));
                if (firstSeen.count(address))
                    QCOMPARE(time, firstSeen[address]);
                else
                    firstSeen[address] = time;
                if (shown.constLast().contains(QStringLiteral("gone:") + address))
                    continue;
                QVERIFY(last.at(address) >= time);
                if (lastSeen.count(address))
                    QVERIFY2(last.at(address) > lastSeen[address], qPrintable(address));
                lastSeen[address] = last.at(address);
            }
        }
        QCOMPARE(shown, marks);
        QCOMPARE(p.boxes.size(), shown.size()); // each survey its end box, as before
        QVERIFY2(p.errors().isEmpty(), qPrintable(p.errors()));
    }

    // An inventory that cannot be updated: the list is shown all the same, one line on the Errors
    // page and the status say why, and the next survey tries again.
    void failing_data()
    {
        QTest::addColumn<QString>("what"); // what sits at the inventory's path
        QTest::addColumn<QString>("why"); // part of the reason given
        QTest::newRow("a foreign file") << "text"
                                        << "not";
        QTest::newRow("another program's SQLite database") << "sqlite"
                                                           << "not";
        QTest::newRow("a folder") << "folder"
                                  << "";
    }

    void failing()
    {
        CORVANE_REQUIRE_ROOT();
        QFETCH(QString, what);
        QFETCH(QString, why);
        Page p;
        if (what == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(p.file()));
        } else if (what == QLatin1String("text")) {
            QFile f(p.file());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("my shopping list\n");
        } else {
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("foreign"));
                db.setDatabaseName(p.file());
                QVERIFY(db.open());
                QVERIFY(QSqlQuery(db).exec(QStringLiteral("CREATE TABLE recipes (name TEXT)")));
            }
            QSqlDatabase::removeDatabase(QStringLiteral("foreign"));
        }
        const auto contents = [&] {
            QFile f(p.file());
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        const QByteArray before = contents();
        QVERIFY(p.survey(QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.4")));
        QCOMPARE(p.done.constLast().at(0).toBool(), false);
        QCOMPARE(columnTexts(p.list, DeviceIP), (QStringList {"127.0.0.2", "127.0.0.3", "127.0.0.4"}));
        QCOMPARE(p.marks(), QString());
        const QStringList lines = p.errors().split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith(QLatin1String("The inventory was not updated: ")) && lines[0].contains(why),
                 qPrintable(lines[0]));
        QCOMPARE(p.page.statusText(), lines[0]);
        QVERIFY(contents() == before); // refused, never altered
        // The way cleared: the next survey records.
        QVERIFY(QFileInfo(p.file()).isDir() ? QDir(p.file()).removeRecursively() : QFile::remove(p.file()));
        QVERIFY(p.survey(QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.4")));
        QCOMPARE(p.done.constLast().at(0).toBool(), true);
        QCOMPARE(p.marks(), QStringLiteral("new:127.0.0.2,127.0.0.3,127.0.0.4"));
        QVERIFY2(p.errors().isEmpty(), qPrintable(p.errors()));
    }

    // The status and the inventory share a line: at any width each ends in an ellipsis rather than
    // running into the other, and the inventory keeps its file's name.
    void labelsFit_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("narrow") << 560;
        QTest::newRow("default") << 0;
        QTest::newRow("wide") << 1800;
    }

    void labelsFit()
    {
        CORVANE_REQUIRE_ROOT();
        QFETCH(int, width);
        Page p;
        if (width > 0)
            p.w.resize(width, p.w.height());
        QVERIFY(p.survey(QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.4")));
        QTest::qWait(50); // the resize laid out
        for (const char* name : {"Lbl_DeviceStatus", "Lbl_Inventory"}) {
            const QString fault = corvane::test::elisionFault(p.w, name);
            QVERIFY2(fault.isEmpty(), qPrintable(fault));
        }
        const auto* label = p.w.findChild<TElidedLabel*>("Lbl_Inventory");
        const QString inventory = label->shownText();
        if (width > 1000)
            QCOMPARE(inventory, label->text());
        QVERIFY2(inventory.startsWith(QLatin1String("Inventory: "))
                     && inventory.endsWith(QLatin1String("inventory.sqlite")),
                 qPrintable(inventory));
    }

    // A URL that is neither form is refused in the dialog and the one in use stays.
    void refusedUrl()
    {
        Page p;
        QString refusal;
        bool whole = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            auto* field = dialog->findChild<QLineEdit*>("Ed_InventoryUrl");
            field->selectAll();
            QTest::keyClicks(field, QStringLiteral("mysql://me@db/inv"));
            QTest::keyClick(field, Qt::Key_Return);
            const QLabel* refused = dialog->findChild<QLabel*>("Lbl_InventoryRefused");
            refusal = refused->text();
            // Shown whole, not cut to the height the dialog had before.
            whole = refused->height() >= refused->heightForWidth(refused->width());
            QVERIFY(dialog->isVisible());
            dialog->reject();
        });
        p.click("But_Inventory");
        QVERIFY2(refusal.startsWith(QLatin1String("Not an inventory URL (")), qPrintable(refusal));
        QVERIFY(whole);
        QCOMPARE(TDevicesPage::inventorySetting(), p.url());
        QCOMPARE(p.w.findChild<QLabel*>("Lbl_Inventory")->text(), QStringLiteral("Inventory: ") + p.url());
    }

    // Watch surveys by itself every interval with no end box, and careless use ends it cleanly.
    void watch_data()
    {
        QTest::addColumn<QString>("after"); // what the user does once the first round was recorded
        QTest::addColumn<int>("rounds"); // recorded surveys in all
        QTest::addColumn<QString>("marks"); // of the last survey
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("a second round by itself") << "" << 2 << "" << QStringList {};
        QTest::newRow("range changed between rounds")
            << "range 127.0.0.2-127.0.0.5" << 2 << "new:127.0.0.5" << QStringList {};
        QTest::newRow("range no longer valid") << "range 127.0.0.2-127.77" << 1 << "new:127.0.0.2,127.0.0.3,127.0.0.4"
                                               << QStringList {"Last: '127.77' is not a whole IPv4 address: it needs "
                                                               "four numbers from 0 to 255, such as 192.168.1.1"};
        QTest::newRow("unchecked: no more rounds")
            << "uncheck" << 1 << "new:127.0.0.2,127.0.0.3,127.0.0.4" << QStringList {};
        QTest::newRow("Stop in a round ends the watching") << "stop" << 1 << "" << QStringList {};
    }

    void watch()
    {
        CORVANE_REQUIRE_ROOT();
        QFETCH(QString, after);
        QFETCH(int, rounds);
        QFETCH(QString, marks);
        QFETCH(QStringList, boxes);
        qputenv("CORVANE_WATCH_INTERVAL_MS", "3000");
        const auto knob = qScopeGuard([] { qunsetenv("CORVANE_WATCH_INTERVAL_MS"); });
        Page p;
        p.setRange(QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.4"));
        QTest::mouseClick(p.watch, Qt::LeftButton);
        QVERIFY(p.watch->isChecked());
        QVERIFY(p.page.running()); // the first round at once
        QVERIFY(QTest::qWaitFor([&] { return p.done.size() == 1 && !p.page.running(); }, 30000));
        QVERIFY2(p.page.statusText().contains(QLatin1String("Next survey at")), qPrintable(p.page.statusText()));
        if (after.startsWith(QLatin1String("range ")))
            p.setRange(after.section(u' ', 1).section(u'-', 0, 0), after.section(u' ', 1).section(u'-', 1));
        else if (after == QLatin1String("uncheck"))
            p.watch->click();
        if (after == QLatin1String("stop")) {
            QVERIFY(QTest::qWaitFor([&] { return p.page.running(); }, 10000));
            p.click("But_Stop");
            QVERIFY(!p.watch->isChecked());
            QVERIFY(QTest::qWaitFor([&] { return !p.page.running(); }, 10000));
            QVERIFY2(p.page.statusText().contains(QLatin1String("not recorded")), qPrintable(p.page.statusText()));
        }
        // Two intervals and a survey: a round that should not come would have come by then.
        QTest::qWait(rounds == 1 ? 7000 : 0);
        QVERIFY(QTest::qWaitFor([&] { return p.done.size() >= rounds && !p.page.running(); }, 30000));
        QCOMPARE(int(p.done.size()), rounds);
        QCOMPARE(p.watch->isChecked(), rounds > 1);
        if (after != QLatin1String("stop"))
            QCOMPARE(p.marks(), marks);
        QCOMPARE(p.boxes, boxes);
        p.watch->setChecked(false);
    }

    // A shorter interval moves the next survey, and the status's time of it, forward.
    void intervalChanged()
    {
        CORVANE_REQUIRE_ROOT();
        Page p;
        p.setRange(QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3"));
        auto* every = p.w.findChild<QComboBox*>("Cmb_WatchEvery");
        every->setCurrentIndex(every->findData(300));
        QTest::mouseClick(p.watch, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([&] { return p.done.size() == 1 && !p.page.running(); }, 30000));
        const auto next = [&] {
            const QString text = p.page.statusText();
            return QTime::fromString(text.mid(text.indexOf(QLatin1String("Next survey at ")) + 15, 8), u"HH:mm:ss");
        };
        QVERIFY(next().isValid());
        QVERIFY(QTime::currentTime().secsTo(next()) > 200);
        every->setCurrentIndex(every->findData(30));
        QVERIFY2(QTime::currentTime().secsTo(next()) <= 30, qPrintable(p.page.statusText()));
        p.watch->setChecked(false);
    }

    // One notification a recorded survey with events: its new devices (up to five named), and its gone
    // ones when asked for; none for a survey without.
    void notification_data()
    {
        QTest::addColumn<QStringList>("steps"); // "FIRST-LAST", "hide ADDRESS", "gone on"
        QTest::addColumn<QStringList>("notices"); // "summary|body" as Notify got them, in all
        QTest::newRow("three new, then nothing new")
            << QStringList {"127.0.0.5-127.0.0.7", "127.0.0.5-127.0.0.7"}
            << QStringList {"3 new devices: PC5 (127.0.0.5), LAB6 (127.0.0.6), 127.0.0.7|"};
        QTest::newRow("one new") << QStringList {"127.0.0.6-127.0.0.6"}
                                 << QStringList {"1 new device: LAB6 (127.0.0.6)|"};
        QTest::newRow("five named, the rest counted")
            << QStringList {"127.0.0.5-127.0.0.11"}
            << QStringList {"7 new devices: PC5 (127.0.0.5), LAB6 (127.0.0.6), 127.0.0.7, 127.0.0.8, 127.0.0.9 "
                            "and 2 more|"};
        QTest::newRow("gone ones when asked for, with the new")
            << QStringList {"gone on", "127.0.0.5-127.0.0.7", "hide 127.0.0.6", "127.0.0.5-127.0.0.7",
                            "127.0.0.5-127.0.0.8"}
            << QStringList {"3 new devices: PC5 (127.0.0.5), LAB6 (127.0.0.6), 127.0.0.7|",
                            "1 new device: 127.0.0.8|1 gone device: LAB6 (127.0.0.6)"};
        QTest::newRow("gone ones not asked for")
            << QStringList {"127.0.0.5-127.0.0.7", "hide 127.0.0.7", "127.0.0.5-127.0.0.7", "127.0.0.5-127.0.0.7"}
            << QStringList {"3 new devices: PC5 (127.0.0.5), LAB6 (127.0.0.6), 127.0.0.7|"};
    }

    void notification()
    {
        CORVANE_REQUIRE_ROOT();
        if (qEnvironmentVariable(kBusEnv) == QLatin1String("none") || !QDBusConnection::sessionBus().isConnected())
            QSKIP("no private session bus (dbus-daemon missing?)");
        QFETCH(QStringList, steps);
        QFETCH(QStringList, notices);
        Peer peer;
        QVERIFY2(peer.responder.startWaiting(), qPrintable(peer.responder.lastError()));
        NotificationServer server;
        QVERIFY(server.start());
        Page p;
        p.w.findChild<QCheckBox*>("Chk_NotifyGone")->setChecked(false);
        for (const QString& step : steps) {
            if (step == QLatin1String("gone on")) {
                p.w.findChild<QCheckBox*>("Chk_NotifyGone")->setChecked(true);
            } else if (step.startsWith(QLatin1String("hide "))) {
                if (!privateNamespace())
                    QSKIP("no private network namespace to hide an address in");
                QVERIFY(hide(step.mid(5)));
            } else {
                QVERIFY(p.survey(step.section(u'-', 0, 0), step.section(u'-', 1)));
                QTest::qWait(300); // a notice would be on its way
            }
        }
        QVERIFY(QTest::qWaitFor([&] { return server.service.notices.size() >= notices.size(); }, 5000));
        QTest::qWait(300);
        QCOMPARE(server.service.notices, notices);
        QVERIFY2(!p.page.statusText().contains(QLatin1String("unavailable")), qPrintable(p.page.statusText()));
    }

    // Without a notification service, or without a session bus at all (a run of its own), the page
    // still marks the devices and says once that notifications are unavailable.
    void unavailable_data()
    {
        QTest::addColumn<bool>("bus");
        QTest::newRow("no notification service") << true;
        QTest::newRow("no session bus") << false;
    }

    void unavailable()
    {
        CORVANE_REQUIRE_ROOT();
        QFETCH(bool, bus);
        const bool child = qEnvironmentVariable(kBusEnv) == QLatin1String("none");
        if (!bus && !child) {
            // The session bus is the process's: the program runs again without one.
            QProcess run;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QLatin1String(kBusEnv), QStringLiteral("none"));
            run.setProcessEnvironment(env);
            run.start(QCoreApplication::applicationFilePath(), {QStringLiteral("unavailable:no session bus")});
            QVERIFY(run.waitForFinished(120000));
            const QString out = QString::fromLocal8Bit(run.readAllStandardOutput() + run.readAllStandardError());
            QVERIFY2(run.exitCode() == 0
                         && out.contains(QLatin1String("PASS   : TestWindowInventory::unavailable(no "
                                                       "session bus)")),
                     qPrintable(out));
            return;
        }
        if (bus == child)
            QSKIP("runs in the other mode");
        Page p;
        QVERIFY(p.survey(QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")));
        QCOMPARE(p.marks(), QStringLiteral("new:127.0.0.2,127.0.0.3"));
        QVERIFY(QTest::qWaitFor([&] { return p.page.statusText().contains(QLatin1String("unavailable")); }, 10000));
        QVERIFY2(p.page.statusText().contains(QLatin1String(" Desktop notifications are unavailable: ")),
                 qPrintable(p.page.statusText()));
        QVERIFY(p.survey(QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.4")));
        QCOMPARE(p.marks(), QStringLiteral("new:127.0.0.4"));
        QTest::qWait(1000);
        QVERIFY2(!p.page.statusText().contains(QLatin1String("unavailable")), qPrintable(p.page.statusText()));
    }
};

namespace {

// A session bus of the test's own, on a socket path (which, unlike an abstract socket, reaches into the
// private network namespace). The daemon holds none of our descriptors (a lock the test runs under)
// and ends with the test, however the test ends.
struct PrivateBus
{
    QByteArray dir;
    pid_t pid = 0;
    bool start()
    {
        char folder[] = "/tmp/corvane-bus-XXXXXX";
        if (!::mkdtemp(folder))
            return false;
        dir = folder;
        // The desktop's session configuration, on a socket of ours and without service folders: a
        // notification daemon installed on the machine is never started here.
        QFile session(QStringLiteral("/usr/share/dbus-1/session.conf"));
        QFile config(QString::fromLocal8Bit(dir + "/bus.conf"));
        if (!session.open(QIODevice::ReadOnly) || !config.open(QIODevice::WriteOnly))
            return false;
        QString text = QString::fromUtf8(session.readAll());
        text.replace(QRegularExpression(QStringLiteral("<listen>.*</listen>")),
                     QStringLiteral("<listen>unix:path=%1/bus</listen>").arg(QString::fromLocal8Bit(dir)));
        text.remove(QRegularExpression(QStringLiteral("<standard_session_servicedirs\\s*/>")));
        config.write(text.toUtf8());
        config.close();
        const QByteArray option = "--config-file=" + dir + "/bus.conf";
        pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::close_range(3, ~0u, 0);
            ::execlp("dbus-daemon", "dbus-daemon", option.constData(), "--nofork", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid < 0)
            return false;
        const QString socket = QString::fromLocal8Bit(dir + "/bus");
        for (int i = 0; i < 200 && !QFileInfo::exists(socket); ++i)
            ::usleep(10000);
        if (!QFileInfo::exists(socket))
            return false;
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir + "/bus");
        return true;
    }
    ~PrivateBus()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        if (!dir.isEmpty())
            QDir(QString::fromLocal8Bit(dir)).removeRecursively();
    }
};

} // namespace

int main(int argc, char* argv[])
{
    PrivateBus bus;
    if (qEnvironmentVariable(kBusEnv) == QLatin1String("none"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/corvane-test-bus");
    else if (!bus.start())
        std::fprintf(stderr, "no private session bus: dbus-daemon did not start\n");
    return gui_test_main<TestWindowInventory>(argc, argv, Loopback::Private);
}

#include "test_window_inventory.moc"
