// The real window scanning loopback NetBIOS peers on 127.0.0.x:137: rows, repeats, error lines, Stop,
// the host-information box, the saved list and the share opener.
#include "GuiTestMain.h"
#include "NbResponder.h"
#include "TestSupport.h"
#include "WindowDriver.h"
#include "support/ResultText.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextBlock>
#include <QToolTip>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <QTreeView>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

#include <sched.h>
#include <sys/mount.h>

using namespace corvane::test;

namespace {

constexpr std::uint8_t U = 0x04; // unique, B-node, active
constexpr std::uint8_t G = 0x84; // group, B-node, active

using Answers = std::map<QString, std::vector<NbResponder::Datagram>>;

// A peer that answers each queried address with what the table names for it (transaction id filled in).
struct Peer
{
    struct Planned
    {
        QList<NbName> names;
        std::array<std::uint8_t, 6> mac = {0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC};
        int statsLength = 50;
        int delayMs = 0;
        QByteArray raw; // sent instead of an answer when set (or when rawSet)
        bool rawSet = false;
    };
    std::map<QString, Planned> plan;
    NbResponder responder{[this](const NbResponder::Query& q) { return answer(q); }};

    std::vector<NbResponder::Datagram> answer(const NbResponder::Query& q)
    {
        const auto it = plan.find(host_order_dotted(q.to));
        if (it == plan.end())
            return {};
        const Planned& p = it->second;
        NbResponder::Datagram d;
        d.bytes = p.rawSet ? p.raw : node_status_answer(q.transactionId(), p.names, p.mac, p.statsLength);
        d.delayMs = p.delayMs;
        return {d};
    }
};

using Window = WindowDriver;

// True when the widget, painted now, shows more than one colour inside rect.
bool paintsText(QWidget* widget, const QRect& rect)
{
    const QImage image = widget->grab(rect).toImage();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != image.pixel(0, 0))
                return true;
    return false;
}

// A vendor registry of the test's own (oui.csv), read by the windows made while it lives.
struct Registry
{
    QTemporaryDir dir;
    const QByteArray before = qgetenv("CORVANE_IEEE_DATA");
    explicit Registry(const QByteArray& ouiCsv)
    {
        writeFile(dir, QStringLiteral("oui.csv"), ouiCsv);
        qputenv("CORVANE_IEEE_DATA", QFile::encodeName(dir.path()));
    }
    ~Registry() { qputenv("CORVANE_IEEE_DATA", before); }
};

double luminance(QRgb c)
{
    const auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

// The contrast ratio between a cell's most common colour (its background) and the pixel furthest
// from it (its text), and that background.
std::pair<double, QRgb> textContrast(const QImage& image)
{
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
    const QRgb background
        = std::max_element(counts.begin(), counts.end(), [](auto a, auto b) { return a.second < b.second; })->first;
    const double lb = luminance(background);
    double best = 1.0;
    for (const auto& [colour, n] : counts) {
        const double l = luminance(colour);
        best = std::max(best, (std::max(l, lb) + 0.05) / (std::min(l, lb) + 0.05));
    }
    return {best, background};
}

QString done(int n)
{
    return QStringLiteral("Scanning finished.\rComputers founded: %1").arg(n);
}

} // namespace

class TestWindowScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { CORVANE_REQUIRE_ROOT(); }

    void rowsOfAnsweringHosts()
    {
        Peer peer;
        peer.plan["127.0.0.11"].names = {{"PC1", 0x00, U}, {"PC1", 0x03, U}, {"PC1", 0x20, U}, {"JOHN", 0x03, U},
                                         {"WORKGRP", 0x00, G}};
        peer.plan["127.0.0.12"].names = {{"SERVER", 0x00, U}, {"OFFICE", 0x00, G}, {"OFFICE", 0x1D, U},
                                         {"\x01\x02__MSBROWSE__\x02", 0x01, G}};
        peer.plan["127.0.0.12"].mac = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
        peer.plan["127.0.0.13"].names = {{"M\x81LLER", 0x00, U}, {"M\x81LLER", 0x03, U}};
        peer.plan["127.0.0.13"].statsLength = 0; // no adapter statistics: no MAC
        peer.plan["127.0.0.15"].names = {};       // an answer without names or statistics: a row all the same
        peer.plan["127.0.0.15"].statsLength = 0;
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));
        Window win;
        win.scan("127.0.0.10", "127.0.0.16");
        QVERIFY(win.waitDone());
        QCOMPARE(win.boxes, QStringList{done(4)});
        QCOMPARE(win.w.statusPanel(1)->text(), QStringLiteral("4"));
        QCOMPARE(allRows(win.res),
                 (QStringList{"127.0.0.11|PC1|PC1, JOHN|WORKGRP|00.11.22.AA.BB.CC||True|False",
                              "127.0.0.12|SERVER||OFFICE|0A.0B.0C.0D.0E.0F||False|True",
                              QString::fromUtf8("127.0.0.13|MüLLER|MüLLER||||False|False"),
                              "127.0.0.15||||||False|False"}));
        QVERIFY(win.err->toPlainText().isEmpty());
        QCOMPARE(peer.responder.queryCount(), 7);
        // Repaints are gathered during the scan; the list must not stay frozen afterwards.
        QTRY_VERIFY(win.res->updatesEnabled());
        QVERIFY(paintsText(win.res->viewport(), win.res->visualRect(win.res->model()->index(0, 0))));
    }

    // Keyboard only: first address, Tab, last address, Tab past Get LAN IPs to Scan, Space. Tab
    // selects the next field's text, so typing replaces it.
    void keyboardOnlyScan()
    {
        Peer peer;
        peer.plan["127.0.0.51"].names = {{"KB1", 0x00, U}};
        peer.plan["127.0.0.53"].names = {{"KB3", 0x00, U}};
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));
        Window win;
        win.w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&win.w));
        win.w.findChild<QWidget*>("Ed_IPstart")->setFocus(Qt::ActiveWindowFocusReason);
        const auto type = [](int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), mods);
        };
        type(Qt::Key_End);
        type(Qt::Key_Home, Qt::ShiftModifier);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("127.0.0.51"));
        type(Qt::Key_Tab);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("127.0.0.53"));
        type(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("But_getLocalIPrange"));
        type(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("But_Scan"));
        type(Qt::Key_Space);
        QVERIFY(win.waitDone());
        QCOMPARE(win.w.findChild<QLineEdit*>("Ed_IPstart")->text(), QStringLiteral("127.0.0.51"));
        QCOMPARE(win.w.findChild<QLineEdit*>("Ed_IPend")->text(), QStringLiteral("127.0.0.53"));
        QCOMPARE(win.boxes, QStringList{done(2)});
        QStringList asked;
        for (const NbResponder::Query& q : peer.responder.queries())
            asked << host_order_dotted(q.to);
        QCOMPARE(asked, (QStringList{"127.0.0.51", "127.0.0.52", "127.0.0.53"}));
        QCOMPARE(win.rows(), 2);
    }

    void hostInformationBox()
    {
        Peer peer;
        peer.plan["127.0.0.21"].names = {{"PC1", 0x20, U}, {"LONGWORKGROUPNM", 0x1E, G}};
        peer.plan["127.0.0.22"].names = {};
        peer.plan["127.0.0.23"].names = {};
        peer.plan["127.0.0.23"].statsLength = 0;
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));
        Window win;
        win.info->setPlainText(QStringLiteral("from before"));
        win.scan("127.0.0.21", "127.0.0.23");
        QVERIFY(win.info->toPlainText().isEmpty()); // emptied by Scan
        QVERIFY(win.waitDone());
        QCOMPARE(win.rows(), 3);

        // The line texts themselves are the result-text tests' business; here: which lines, in order.
        const QString heading = HostInfoHeading();
        win.select(0);
        const QStringList lines = win.info->toPlainText().split(u'\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], heading);
        QStringList names;
        for (const QString& line : lines.mid(1))
            names << line.left(18).trimmed() + u'<' + line.mid(19, 2) + u'>';
        QCOMPARE(names, (QStringList{"PC1<20>", "LONGWORKGROUPNM<1E>"}));
        QVERIFY(lines[1].contains(QStringLiteral(" UNIQUE ")));
        QVERIFY(lines[2].contains(QStringLiteral(" GROUP ")));

        win.select(1); // a header without names: the heading alone
        QCOMPARE(win.info->toPlainText(), heading);
        win.select(2); // no statistics either: still the heading alone
        QCOMPARE(win.info->toPlainText(), heading);
        win.select(0);
        win.res->clearSelection(); // deselecting keeps it too
        QCOMPARE(win.info->toPlainText().split(u'\n').size(), 3);
    }

    // The name-table box under the filter: it follows the current row when the filter hides the host
    // it shows, and is empty when no row is left.
    void nameTableFollowsFilter_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("shown"); // the first name of the box's table; empty: an empty box
        QTest::newRow("keeps the selected host") << "BETA" << "BETA";
        QTest::newRow("hides the selected host") << "A1" << "ALPHA1";
        QTest::newRow("hides every host") << "nobody" << "";
    }

    void nameTableFollowsFilter()
    {
        QFETCH(QString, filter);
        QFETCH(QString, shown);
        Peer peer;
        peer.plan["127.0.0.41"].names = {{"ALPHA1", 0x00, U}};
        peer.plan["127.0.0.42"].names = {{"BETA", 0x00, U}};
        peer.plan["127.0.0.43"].names = {{"ALPHA3", 0x00, U}};
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));
        Window win;
        win.scan("127.0.0.41", "127.0.0.43");
        QVERIFY(win.waitDone());
        win.res->sortByColumn(TFrm_Corvane::ColIP, Qt::AscendingOrder);
        win.select(1);
        QCOMPARE(win.info->toPlainText().split(u'\n').value(1).section(u' ', 0, 0), QStringLiteral("BETA"));
        win.type("Ed_Filter", filter);
        QCOMPARE(win.info->toPlainText().split(u'\n').value(1).section(u' ', 0, 0), shown);
        if (!shown.isEmpty()) // the box and the current row name one host
            QCOMPARE(win.cell(win.res->currentIndex().row(), TFrm_Corvane::ColCompName), shown);
        win.type("Ed_Filter", QString()); // all back: the box keeps the host it follows
        QCOMPARE(win.info->toPlainText().split(u'\n').value(1).section(u' ', 0, 0), shown);
    }

    // Within one scan the thread passes each address once, and a second Scan clicked while it runs
    // starts nothing: two scans never deliver into one list, so no host is listed twice.
    void repeatedAnswerDropped_data()
    {
        QTest::addColumn<QString>("secondLast"); // range of the second scan; the first scans .41 alone
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("same host twice in a row") << "127.0.0.41" << QStringList{"127.0.0.41"};
        QTest::newRow("another host in between") << "127.0.0.42" << QStringList{"127.0.0.41"};
    }

    void repeatedAnswerDropped()
    {
        QFETCH(QString, secondLast);
        QFETCH(QStringList, rows);
        // The first query to .41 is answered after 100 ms, .42 after 200 ms, the second to .41 after 300 ms.
        std::mutex m;
        int heard41 = 0;
        NbResponder responder([&](const NbResponder::Query& q) {
            std::lock_guard lock(m);
            if (host_order_dotted(q.to) == QLatin1String("127.0.0.42"))
                return std::vector<NbResponder::Datagram>{
                    {node_status_answer(q.transactionId(), {{"PC42", 0x00, U}}), 0, 200}};
            ++heard41;
            return std::vector<NbResponder::Datagram>{
                {node_status_answer(q.transactionId(), {{"PC41", 0x00, U}}), 0, heard41 == 1 ? 100 : 300}};
        });
        QVERIFY2(responder.start(), qPrintable(responder.lastError()));
        Window win;
        win.scan("127.0.0.41", "127.0.0.41");
        win.scan("127.0.0.41", secondLast);
        QVERIFY(win.waitDone(1));
        QCOMPARE(responder.queryCount(), 1);
        QCOMPARE(columnTexts(win.res, 0), rows);
        QCOMPARE(win.w.statusPanel(1)->text(), QString::number(rows.size()));
    }

    void errorLinesOnErrorsPage()
    {
        Peer peer;
        peer.plan["127.0.0.31"].rawSet = true; // empty datagram
        peer.plan["127.0.0.32"].rawSet = true; // larger than the receive buffer
        peer.plan["127.0.0.32"].raw = QByteArray(1100, '\x20');
        peer.plan["127.0.0.33"].names = {{"PC33", 0x00, U}};
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));
        Window win;
        win.err->setPlainText(QStringLiteral("line of an earlier scan"));
        win.scan("127.0.0.31", "127.0.0.33");
        QVERIFY(win.waitDone());
        QCOMPARE(win.err->toPlainText().split(u'\n'),
                 (QStringList{"Recieved failed from 127.0.0.31", "Recieved failed from 127.0.0.32"}));
        QCOMPARE(allRows(win.res), QStringList{"127.0.0.33|PC33|||00.11.22.AA.BB.CC||False|False"});
        QCOMPARE(win.boxes, QStringList{done(1)});
    }

    void stopDuringScan()
    {
        NbResponder responder([](const NbResponder::Query& q) {
            return std::vector<NbResponder::Datagram>{{node_status_answer(q.transactionId(), {{"HOST", 0x00, U}})}};
        });
        QVERIFY2(responder.start(), qPrintable(responder.lastError()));
        Window win;
        win.scan("127.0.1.1", "127.0.40.254"); // about ten seconds of queries
        QTRY_VERIFY_WITH_TIMEOUT(win.rows() >= 30, 10000);
        QVERIFY(win.w.ScanThread() != nullptr);
        QVERIFY(win.w.progressBar()->isVisible());
        win.click("But_Stop");
        QVERIFY(!win.w.progressBar()->isVisible());
        QVERIFY(win.waitDone(1, 5000));
        const int rows = win.rows();
        QVERIFY2(rows < 10000, qPrintable(QString::number(rows)));
        QVERIFY(responder.queryCount() < 10000);
        // The box says that the scan was stopped, and where.
        QCOMPARE(win.boxes.size(), 1);
        QVERIFY2(win.boxes[0].startsWith(done(rows) + QStringLiteral("\rStopped after "))
                     && win.boxes[0].endsWith(QStringLiteral(" of 10238 addresses.")),
                 qPrintable(win.boxes[0]));
        QCOMPARE(win.w.statusPanel(1)->text(), QString::number(rows));
        QVERIFY(win.w.ScanThread() == nullptr);
    }

    // The bar counts the queries sent, then the wait for late answers; it is gone when the box shows.
    // The panel counts the hosts found as they come.
    void progressBarDuringScan()
    {
        Peer peer;
        peer.plan["127.0.7.220"].names = {{"LAST", 0x00, U}};
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));
        Window win;
        QProgressBar* bar = win.w.progressBar();
        bool shownAtBox = true;
        win.desktop.onBox = [&](QMessageBox::Icon, const QString&) { shownAtBox = bar->isVisible(); };
        QStringList texts;
        QStringList panels;
        QList<int> values;
        QTimer sample;
        QObject::connect(&sample, &QTimer::timeout, [&] {
            if (!bar->isVisible())
                return;
            if (texts.isEmpty() || texts.constLast() != bar->text())
                texts << bar->text();
            values << bar->value();
            panels << win.w.statusPanel(0)->text() + u' ' + win.w.statusPanel(1)->text();
        });
        sample.start(20);
        win.scan("127.0.2.1", "127.0.7.220"); // 1500 addresses, about 1.5 s of queries
        QVERIFY(win.waitDone());
        sample.stop();

        QVERIFY(!shownAtBox);
        QVERIFY(!bar->isVisible());
        QCOMPARE(win.boxes, QStringList{done(1)});
        QCOMPARE(win.w.statusPanel(1)->text(), QStringLiteral("1"));
        QVERIFY2(texts.size() >= 4, qPrintable(texts.join(" | ")));
        const QRegularExpression counting(QStringLiteral("^(\\d+) of 1500$"));
        int inBetween = 0;
        for (const QString& t : texts.mid(0, texts.size() - 1)) {
            const QRegularExpressionMatch m = counting.match(t);
            QVERIFY2(m.hasMatch(), qPrintable(t));
            inBetween += m.captured(1).toInt() > 0 && m.captured(1).toInt() < 1500;
        }
        QVERIFY2(inBetween >= 2, qPrintable(texts.join(" | ")));
        QCOMPARE(texts.constLast(), QStringLiteral("1500 queried, waiting for late answers"));
        QVERIFY(std::is_sorted(values.cbegin(), values.cend()));
        QCOMPARE(values.constLast(), bar->maximum());
        panels.removeDuplicates();
        // Live: the host found at the range's end is counted while late answers are waited for.
        QCOMPARE(panels, (QStringList{"Computers founded: 0", "Computers founded: 1"}));
    }

    // How a scan ended is said in its box and, for a stop, in the status bar too.
    void endBoxes_data()
    {
        QTest::addColumn<QString>("how"); // "end", "Escape" or "Stop"
        QTest::newRow("to its end") << "end";
        QTest::newRow("Escape") << "Escape";
        QTest::newRow("Stop clicked") << "Stop";
    }

    void endBoxes()
    {
        QFETCH(QString, how);
        Peer peer;
        peer.plan["127.0.7.220"].names = {{"LAST", 0x00, U}};
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));
        const Registry registry("Registry,Assignment,Organization Name\r\nMA-L,AABBCC,Maker\r\n"); // read: no note
        Window win;
        win.scan("127.0.2.1", "127.0.7.220"); // 1500 addresses, about 1.5 s of queries
        const bool stopped = how != QLatin1String("end");
        if (stopped) {
            QTRY_VERIFY(win.w.progressBar()->value() > 0);
            if (how == QLatin1String("Escape"))
                QTest::keyClick(&win.w, Qt::Key_Escape);
            else
                win.click("But_Stop");
        }
        QVERIFY(win.waitDone());
        const QString note = win.w.findChild<QLabel*>("StatusPingReason")->text();
        if (!stopped) {
            QCOMPARE(win.boxes, QStringList{done(1)});
            QCOMPARE(note, QString());
            return;
        }
        QCOMPARE(win.boxes.size(), 1);
        const QRegularExpressionMatch m
            = QRegularExpression(QStringLiteral("^Scanning finished\\.\rComputers founded: 0\r"
                                                "(Stopped after (\\d+) of 1500 addresses\\.)$"))
                  .match(win.boxes[0]);
        QVERIFY2(m.hasMatch(), qPrintable(win.boxes[0]));
        QVERIFY2(m.captured(2).toInt() > 0 && m.captured(2).toInt() < 1500, qPrintable(m.captured(2)));
        QCOMPARE(note, m.captured(1));
    }

    // Without a readable registry the Vendor column says why it stays empty, as does the status bar,
    // once; with one it says nothing.
    void vendorNote_data()
    {
        QTest::addColumn<bool>("registry");
        QTest::newRow("registry missing") << false;
        QTest::newRow("registry read") << true;
    }

    void vendorNote()
    {
        QFETCH(bool, registry);
        QTemporaryDir dir;
        if (registry)
            writeFile(dir, QStringLiteral("oui.csv"), "Registry,Assignment,Organization Name\r\nMA-L,001122,Maker A\r\n");
        const QByteArray oldRegistry = qgetenv("CORVANE_IEEE_DATA");
        qputenv("CORVANE_IEEE_DATA", QFile::encodeName(dir.path()));
        const auto restore = qScopeGuard([&] { qputenv("CORVANE_IEEE_DATA", oldRegistry); });
        Peer peer;
        peer.plan["127.0.0.11"].names = {{"PC1", 0x00, U}};
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));
        Window win;
        win.scan("127.0.0.11", "127.0.0.11");
        QVERIFY(win.waitDone());
        const QString expected = registry ? QString()
                                          : "No vendor names: the IEEE registry cannot be read in " + dir.path()
                                                + " (install the package ieee-data)";
        QTRY_COMPARE(win.res->model()->headerData(TFrm_Corvane::ColVendor, Qt::Horizontal, Qt::ToolTipRole).toString(),
                     expected);
        QCOMPARE(win.w.findChild<QLabel*>("StatusPingReason")->text(), expected);
        QCOMPARE(win.cell(0, TFrm_Corvane::ColVendor), registry ? QStringLiteral("Maker A") : QString());
    }

    // The panel counts the rows once the box is closed: a scan started while it is open (Scan is
    // enabled again once the first has ended) can add rows meanwhile. A Scan clicked while the first
    // still runs starts nothing.
    void statusPanelSetAfterBoxCloses()
    {
        NbResponder responder([](const NbResponder::Query& q) {
            const QString to = host_order_dotted(q.to);
            if (to == QLatin1String("127.0.0.51"))
                return std::vector<NbResponder::Datagram>{
                    {node_status_answer(q.transactionId(), {{"PC51", 0x00, U}}), 0, 100}};
            // .52 answers soon and once more (which keeps the second scan alive), then .53 speaks up
            // well after the first scan has ended.
            const QByteArray pc52 = node_status_answer(q.transactionId(), {{"PC52", 0x00, U}});
            return std::vector<NbResponder::Datagram>{
                {pc52, 0, 150},
                {pc52, 0, 900},
                {node_status_answer(q.transactionId(), {{"PC53", 0x00, U}}), dotted_host_order("127.0.0.53"), 1700}};
        });
        QVERIFY2(responder.start(), qPrintable(responder.lastError()));
        WindowDriver win(false);
        TFrm_Corvane& w = win.w;
        const QStringList& boxes = win.boxes;
        QStringList panelDuringBox;
        win.desktop.onBox = [&](QMessageBox::Icon, const QString&) {
            panelDuringBox << w.statusPanel(1)->text();
            if (boxes.size() != 1)
                return;
            // The box stays open until the second scan's late row is in.
            win.click("But_Scan");
            (void)QTest::qWaitFor([&] { return win.rows() == 2; }, 5000);
        };
        win.scan("127.0.0.51", "127.0.0.51");
        QPointer<TNBTscanThread> first = w.ScanThread();
        win.scan("127.0.0.52", "127.0.0.52");
        QVERIFY(first && w.ScanThread() == first);
        QTRY_VERIFY_WITH_TIMEOUT(boxes.size() == 2 && !w.ScanThreadsAlive(), 10000);
        QCOMPARE(boxes, (QStringList{done(1), done(2)}));
        QCOMPARE(panelDuringBox, (QStringList{"1", "2"}));
        QCOMPARE(w.statusPanel(1)->text(), QStringLiteral("2"));
    }

    // The next Scan gives every kept result back (the sanitizer build sees a double or missing
    // release), as does a row deleted on its own, and empties the list and the host box.
    void nextScanReleasesResults()
    {
        Peer peer;
        for (int i = 61; i <= 64; ++i)
            peer.plan[QStringLiteral("127.0.0.%1").arg(i)].names = {{"PC", 0x00, U}, {"WG", 0x00, G}};
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));
        Window win;
        win.scan("127.0.0.61", "127.0.0.64");
        QVERIFY(win.waitDone());
        QCOMPARE(win.rows(), 4);
        win.select(1);
        QVERIFY(!win.info->toPlainText().isEmpty());
        for (int i = 0; i < 4; ++i)
            QVERIFY(win.host(i)->result() != nullptr);
        // A row removed by other means gives its result back too.
        QVERIFY(win.w.results().hosts().removeRows(3, 1));
        QCOMPARE(win.rows(), 3);
        win.scan("127.0.0.70", "127.0.0.70");
        QCOMPARE(win.rows(), 0);
        QVERIFY(win.info->toPlainText().isEmpty());
        QVERIFY(win.waitDone(2));
        QCOMPARE(win.boxes.last(), done(0));
        QCOMPARE(win.w.statusPanel(1)->text(), QStringLiteral("0"));
    }

    void savedFileByteForByte()
    {
        Peer peer;
        peer.plan["127.0.0.11"].names = {{"PC1", 0x00, U}, {"PC1", 0x03, U}, {"PC1", 0x20, U}, {"JOHN", 0x03, U},
                                         {"MARYANNE", 0x03, U}, {"WORKGRP", 0x00, G}};
        peer.plan["127.0.0.12"].names = {{"SERVER", 0x00, U}, {"OFFICE", 0x00, G}, {"OFFICE", 0x1B, U}};
        peer.plan["127.0.0.12"].mac = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString name = dir.filePath("network.txt");
        Window win;
        win.desktop.fileAnswer = [&](const QFileDialog&) { return name; };
        win.scan("127.0.0.11", "127.0.0.12");
        QVERIFY(win.waitDone());
        win.w.findChild<QAction*>("Savenetworklist1")->trigger();
        QCOMPARE(win.boxes.size(), 1);
        QFile f(name);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(),
                 QByteArray("IP               CompName         UserName         WorkGroup        MacAddress         "
                            "FileService    MasterBrowser \r\n"
                            "127.0.0.11       PC1              PC1, JOHN, MARYANNE WORKGRP          "
                            "00.11.22.AA.BB.CC  True           False         \r\n"
                            "127.0.0.12       SERVER                            OFFICE           "
                            "0A.0B.0C.0D.0E.0F  False          True          \r\n"));
    }

    // Names a peer fills with line breaks, tabs and escapes: every row stays one line of its columns,
    // in the list, the host box and the saved file; nothing forges a row.
    void controlCharactersInNames()
    {
        Peer peer;
        peer.plan["127.0.0.31"].names = {{"EV\r\n1.2.3.4\tX", 0x00, U}, {"ADM\x7F\x1B[31m\n", 0x03, U},
                                         {"WG\r\n", 0x00, G}};
        peer.plan["127.0.0.32"].names = {{"PC2", 0x00, U}};
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString name = dir.filePath("network.txt");
        Window win;
        win.desktop.fileAnswer = [&](const QFileDialog&) { return name; };
        win.scan("127.0.0.31", "127.0.0.32");
        QVERIFY(win.waitDone());
        QCOMPARE(allRows(win.res), (QStringList{"127.0.0.31|EV??1.2.3.4?X|ADM??[31m|WG|00.11.22.AA.BB.CC||False|False",
                                                "127.0.0.32|PC2|||00.11.22.AA.BB.CC||False|False"}));
        win.select(0);
        const QStringList box = win.info->toPlainText().split(u'\n');
        QCOMPARE(box.size(), 4);
        QVERIFY2(box[1].startsWith(QStringLiteral("EV??1.2.3.4?X      00 - ")), qPrintable(box[1]));
        QVERIFY2(box[2].startsWith(QStringLiteral("ADM??[31m          03 - ")), qPrintable(box[2]));

        win.w.findChild<QAction*>("Savenetworklist1")->trigger();
        QFile f(name);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 4); // heading, two hosts, nothing after the last CR LF
        QCOMPARE(lines[1], QByteArray("127.0.0.31       EV??1.2.3.4?X    ADM??[31m        WG               "
                                      "00.11.22.AA.BB.CC  False          False         \r"));
        QVERIFY(lines[2].startsWith("127.0.0.32 "));
    }

    // Vendors from a registry written here; then "Compare with saved list..." against an earlier file:
    // .11 changed, .12 new, .13 gone (greyed, not saved); the next Scan clears the marks.
    void vendorsAndComparison()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const auto write = [&](const QString& name, const QByteArray& text) {
            QFile f(dir.filePath(name));
            return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
        };
        QVERIFY(write("oui.csv", "Registry,Assignment,Organization Name,Organization Address\r\n"
                                 "MA-L,001122,Maker A,x\r\n"));
        const QByteArray oldRegistry = qgetenv("CORVANE_IEEE_DATA");
        qputenv("CORVANE_IEEE_DATA", QFile::encodeName(dir.path()));
        const auto restore = qScopeGuard([&] { qputenv("CORVANE_IEEE_DATA", oldRegistry); });
        const QString old = dir.filePath("old.txt");
        QVERIFY(write("old.txt", NetworkListFile({{"127.0.0.11", "PC1", "OLD", "", "00.11.22.AA.BB.CC", "False", "False"},
                                                  {"127.0.0.13", "GONE", "", "WG", "", "False", "False"}})));
        QVERIFY(write("bad.txt", NetworkListHeading().toUtf8() + "\r\n127.0.0.11   PC1\r\n"));
        Peer peer;
        peer.plan["127.0.0.11"].names = {{"PC1", 0x00, U}};
        peer.plan["127.0.0.12"].names = {{"SERVER", 0x00, U}};
        peer.plan["127.0.0.12"].mac = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));

        Window win;
        win.scan("127.0.0.11", "127.0.0.12");
        QVERIFY(win.waitDone());
        QTRY_COMPARE(win.cell(0, TFrm_Corvane::ColVendor), QStringLiteral("Maker A"));
        QCOMPARE(win.res->model()->headerData(TFrm_Corvane::ColVendor, Qt::Horizontal).toString(),
                 QStringLiteral("Vendor"));
        QCOMPARE(win.cell(1, TFrm_Corvane::ColVendor), QString());
        // The whole name; the address is the reported one, not a neighbour's.
        QCOMPARE(win.tip(0, TFrm_Corvane::ColVendor), QStringLiteral("Maker A"));

        QString chosen = dir.filePath("bad.txt");
        win.desktop.fileAnswer = [&](const QFileDialog& dialog) {
            return dialog.acceptMode() == QFileDialog::AcceptOpen ? chosen : QString();
        };
        QAction* compare = win.w.findChild<QAction*>("Comparewithsavedlist1");
        compare->trigger();
        QCOMPARE(win.boxes.value(1), chosen + QStringLiteral(": line 2: not a row of seven columns (truncated?)"));
        chosen = old;
        compare->trigger();
        compare->trigger(); // twice: one gone row, not two
        QCOMPARE(win.boxes.size(), 2);
        QCOMPARE(allRows(win.res), (QStringList{"127.0.0.11|PC1|||00.11.22.AA.BB.CC|Maker A|False|False",
                                                "127.0.0.12|SERVER|||0A.0B.0C.0D.0E.0F||False|False",
                                                "127.0.0.13|GONE||WG|||False|False"}));
        QStringList tips;
        for (int i = 0; i < 3; ++i)
            tips << win.tip(i, 0);
        QCOMPARE(tips, (QStringList{"Changed since old.txt: UserName: OLD -> (none)", "New: not in old.txt",
                                    "Gone: in old.txt, no answer now"}));
        QCOMPARE(win.markShown(0), QStringLiteral("changed"));
        QCOMPARE(win.markShown(1), QStringLiteral("new"));
        QVERIFY(win.host(2)->gone() && !win.host(1)->gone());
        // A gone host has no name table: the box drops the host shown before and says why.
        win.select(0);
        QCOMPARE(win.info->toPlainText().split(u'\n').size(), 2);
        win.select(2);
        QCOMPARE(win.info->toPlainText(),
                 QStringLiteral("No name table: 127.0.0.13 did not answer this scan; it is in old.txt"));
        win.select(1);
        QCOMPARE(win.info->toPlainText().split(u'\n').size(), 2);

        // The filter: only the gone hosts, then a text in any column.
        auto* show = win.w.findChild<QComboBox*>("Cmb_Show");
        QVERIFY(show->isEnabled());
        show->setCurrentIndex(show->findText(QStringLiteral("Gone")));
        QCOMPARE(columnTexts(win.res, 0), QStringList{"127.0.0.13"});
        show->setCurrentIndex(show->findText(QStringLiteral("New, changed and gone")));
        QCOMPARE(win.rows(), 3);
        show->setCurrentIndex(0);
        QTest::keyClicks(win.w.findChild<QLineEdit*>("Ed_Filter"), QStringLiteral("maker"));
        QCOMPARE(columnTexts(win.res, 0), QStringList{"127.0.0.11"});
        win.w.findChild<QLineEdit*>("Ed_Filter")->clear();
        QCOMPARE(win.rows(), 3);

        win.desktop.fileAnswer = [&](const QFileDialog&) { return dir.filePath("saved.txt"); };
        win.w.findChild<QAction*>("Savenetworklist1")->trigger();
        QFile saved(dir.filePath("saved.txt"));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll().count("\r\n"), 3); // heading and the two hosts that answered

        win.scan("127.0.0.11", "127.0.0.12");
        QVERIFY(win.waitDone(3)); // the second box was the bad file's
        QCOMPARE(win.rows(), 2);
        QVERIFY(win.markShown(0).isEmpty() && win.tip(0, 0).isEmpty());
        QVERIFY(!show->isEnabled());
    }

    // "Compare with saved list..." while the scan runs: hosts that answer later are marked as they
    // come, one the file knows takes its gone row's place (the box then shows its name table), and
    // the csv gives every row its own mark.
    void lateHostsCompared()
    {
        QTemporaryDir dir;
        const QString old = writeFile(dir, "old.txt",
                                      NetworkListFile({{"127.0.0.11", "PC11", "", "", "00.11.22.AA.BB.CC", "False", "False"},
                                                       {"127.0.0.13", "OLDNAME", "", "", "00.11.22.AA.BB.CC", "False", "False"},
                                                       {"127.0.0.14", "PC14", "", "", "", "False", "False"}}));
        Peer peer;
        peer.plan["127.0.0.11"].names = {{"PC11", 0x00, U}};
        peer.plan["127.0.0.12"].names = {{"PC12", 0x00, U}};
        peer.plan["127.0.0.12"].delayMs = 600;
        peer.plan["127.0.0.13"].names = {{"PC13", 0x00, U}};
        peer.plan["127.0.0.13"].delayMs = 600;
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));
        Window win;
        win.desktop.fileAnswer = [&](const QFileDialog& dialog) {
            return dialog.acceptMode() == QFileDialog::AcceptOpen ? old : dir.filePath("now.csv");
        };
        win.scan("127.0.0.11", "127.0.0.13");
        QTRY_COMPARE(win.rows(), 1);
        win.w.findChild<QAction*>("Comparewithsavedlist1")->trigger();
        QCOMPARE(columnTexts(win.res, 0), (QStringList{"127.0.0.11", "127.0.0.13", "127.0.0.14"}));
        win.select(1);
        QVERIFY(win.info->toPlainText().startsWith(QStringLiteral("No name table: 127.0.0.13")));
        QVERIFY(win.waitDone());
        QCOMPARE(columnTexts(win.res, 0), (QStringList{"127.0.0.11", "127.0.0.13", "127.0.0.14", "127.0.0.12"}));
        QStringList marks;
        for (int r = 0; r < win.rows(); ++r)
            marks << corvane::change_word(*win.host(r)->change);
        QCOMPARE(marks, (QStringList{"same", "changed", "gone", "new"}));
        QCOMPARE(win.tip(1, 0), QStringLiteral("Changed since old.txt: CompName: OLDNAME -> PC13"));
        QCOMPARE(win.markShown(3), QStringLiteral("new"));
        QCOMPARE(win.info->toPlainText().split(u'\n').value(1).left(4), QStringLiteral("PC13"));

        win.w.findChild<QAction*>("Savenetworklist1")->trigger();
        QFile csv(dir.filePath("now.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QStringList written;
        for (const QByteArray& line : csv.readAll().trimmed().split('\n').mid(1))
            written << QString::fromUtf8(line.trimmed().split(',').last());
        QCOMPARE(written, marks);
    }

    // Headings clicked as a user does: by address as numbers, reversed, arrival order again, by
    // name; Ctrl+A and Ctrl+C copy the rows as shown. Columns fit their contents after the survey, a
    // cut name shows whole in its tool tip, and the name-table box opens at its heading.
    void headingClickSortsAndCopies()
    {
        const Registry registry("MA-L,001122,Vendor Name Incorporated,x\n");
        Peer peer;
        peer.plan["127.0.0.9"].names = {{"beta", 0x00, U}};
        peer.plan["127.0.0.9"].delayMs = 100;
        peer.plan["127.0.0.10"].names = {{"Alpha", 0x00, U}};
        peer.plan["127.0.0.10"].delayMs = 200;
        for (int i = 0; i < 12; ++i) // more names than the box shows at once
            peer.plan["127.0.0.11"].names << NbName{QStringLiteral("GAMMA%1").arg(i).toLatin1(), 0x00, U};
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));
        Window win;
        win.w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&win.w));
        win.scan("127.0.0.9", "127.0.0.11");
        QVERIFY(win.waitDone());
        QCOMPARE(columnTexts(win.res, 0), (QStringList{"127.0.0.11", "127.0.0.9", "127.0.0.10"}));

        QHeaderView* header = win.res->header();
        const auto clickHeading = [&](int column) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(column) + 6, header->height() / 2));
        };
        clickHeading(TFrm_Corvane::ColIP);
        QCOMPARE(columnTexts(win.res, 0), (QStringList{"127.0.0.9", "127.0.0.10", "127.0.0.11"}));
        QVERIFY(header->isSortIndicatorShown());
        QCOMPARE(header->sortIndicatorSection(), int(TFrm_Corvane::ColIP));
        clickHeading(TFrm_Corvane::ColIP);
        QCOMPARE(columnTexts(win.res, 0), (QStringList{"127.0.0.11", "127.0.0.10", "127.0.0.9"}));
        clickHeading(TFrm_Corvane::ColIP);
        QCOMPARE(columnTexts(win.res, 0), (QStringList{"127.0.0.11", "127.0.0.9", "127.0.0.10"}));
        clickHeading(TFrm_Corvane::ColCompName);
        QCOMPARE(columnTexts(win.res, 1), (QStringList{"Alpha", "beta", "GAMMA0"}));

        win.res->setFocus();
        QTest::keyClick(win.res, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(win.res, Qt::Key_C, Qt::ControlModifier);
        const QString vendor = QStringLiteral("\t00.11.22.AA.BB.CC\tVendor Name Incorporated\tFalse\tFalse\n");
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("IP\tCompName\tUserName\tWorkGroup\tMAC\tVendor\tFileService\tMasterBrowser\n")
                     + "127.0.0.10\tAlpha\t\t" + vendor + "127.0.0.9\tbeta\t\t" + vendor + "127.0.0.11\tGAMMA0\t\t"
                     + vendor);

        // The vendor's column grew to the name; a name cut by a narrow column is whole in its tip.
        QVERIFY(win.res->columnWidth(TFrm_Corvane::ColVendor)
                > win.res->fontMetrics().horizontalAdvance(QStringLiteral("Vendor Name Incorporated")));
        win.res->setColumnWidth(TFrm_Corvane::ColCompName, 12);
        const QRect cut = win.res->visualRect(win.res->model()->index(2, TFrm_Corvane::ColCompName));
        QHelpEvent help(QEvent::ToolTip, cut.center(), win.res->viewport()->mapToGlobal(cut.center()));
        QCoreApplication::sendEvent(win.res->viewport(), &help);
        QTRY_COMPARE(QToolTip::text(), QStringLiteral("GAMMA0"));

        win.select(2);
        QCOMPARE(win.info->toPlainText().split(u'\n').size(), 13);
        QVERIFY(win.info->cursorForPosition(QPoint(4, 4)).block().text().startsWith(QStringLiteral("Name ")));
    }

    // "Save network list.." through the real dialog: the suffix typed or the filter chosen picks
    // corvane-scan's csv or json, with vendors and compare marks, in the order shown.
    void exportThroughTheDialog_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("written");
        QTest::newRow("csv by its suffix") << "hosts.csv" << "" << "hosts.csv";
        QTest::newRow("json by the filter") << "hosts" << "JSON (*.json)" << "hosts.json";
    }

    void exportThroughTheDialog()
    {
        QFETCH(QString, typed);
        QFETCH(QString, filter);
        QFETCH(QString, written);
        const Registry registry("MA-L,001122,Maker A,x\n");
        QTemporaryDir dir;
        const QString old = writeFile(dir, "old.txt", NetworkListFile({{"127.0.0.11", "PC1", "OLD", "", "", "False", "False"},
                                                                        {"127.0.0.13", "GONE", "", "WG", "", "False", "False"}}));
        Peer peer;
        peer.plan["127.0.0.11"].names = {{"PC1", 0x00, U}};
        peer.plan["127.0.0.12"].names = {{"=HYPERLINK(1)", 0x00, U}};
        peer.plan["127.0.0.12"].mac = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));
        Window win;
        win.scan("127.0.0.11", "127.0.0.12");
        QVERIFY(win.waitDone());
        QTRY_COMPARE(win.cell(win.cell(0, 0) == "127.0.0.11" ? 0 : 1, TFrm_Corvane::ColVendor), QStringLiteral("Maker A"));
        win.desktop.fileAnswer = [&](const QFileDialog&) { return old; };
        win.w.findChild<QAction*>("Comparewithsavedlist1")->trigger();
        win.res->sortByColumn(TFrm_Corvane::ColIP, Qt::DescendingOrder);

        RealDialog dialog;
        dialog.name = dir.filePath(typed);
        dialog.filter = filter;
        win.desktop.driveDialog = std::ref(dialog);
        win.w.findChild<QAction*>("Savenetworklist1")->trigger();
        QCOMPARE(win.boxes.size(), 1);
        QFile f(dir.filePath(written));
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(f.fileName()));
        const QByteArray bytes = f.readAll();
        // Compared with the file just written: it reads (the gone host left out), and every host is the same.
        const auto compareWithWritten = [&] {
            win.desktop.driveDialog = nullptr;
            win.desktop.fileAnswer = [&](const QFileDialog&) { return f.fileName(); };
            win.w.findChild<QAction*>("Comparewithsavedlist1")->trigger();
            QCOMPARE(win.boxes.size(), 1);
            QCOMPARE(columnTexts(win.res, 0), (QStringList{"127.0.0.12", "127.0.0.11"}));
            QCOMPARE(win.host(0)->change, std::optional<corvane::TChange>(corvane::TChange::Same));
            QCOMPARE(win.host(1)->change, std::optional<corvane::TChange>(corvane::TChange::Same));
        };
        if (written.endsWith(QLatin1String(".csv"))) {
            QCOMPARE(bytes, QByteArray("IP,CompName,UserName,WorkGroup,MacAddress,FileService,MasterBrowser,Vendor,"
                                       "NeighbourMac,Change\r\n"
                                       "127.0.0.13,GONE,,WG,,False,False,,,gone\r\n"
                                       "127.0.0.12,'=HYPERLINK(1),,,0A.0B.0C.0D.0E.0F,False,False,,,new\r\n"
                                       "127.0.0.11,PC1,,,00.11.22.AA.BB.CC,False,False,Maker A,,changed\r\n"));
            compareWithWritten();
            return;
        }
        QJsonParseError error {};
        const QJsonArray hosts = QJsonDocument::fromJson(bytes, &error).array();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QStringList shown;
        for (const QJsonValue& h : hosts)
            shown << h["address"].toString() + u' ' + h["change"].toString() + u' ' + h["computer_name"].toString()
                         + u' ' + h["vendor"].toString();
        QCOMPARE(shown, (QStringList{"127.0.0.13 gone GONE ", "127.0.0.12 new =HYPERLINK(1) ",
                                     "127.0.0.11 changed PC1 Maker A"}));
        QCOMPARE(hosts[2]["names"].toArray().size(), 1);
        compareWithWritten();
    }

    // The marks in a light and in a dark palette, and under a dark style sheet that sets the text
    // colour itself: a new or changed row's text stands out from its tinted background, a gone row's
    // greyed text still shows, and each of the three has its symbol on the address.
    void marksLegibleInPalette_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QString>("sheet");
        QTest::newRow("light") << false << QString();
        QTest::newRow("dark") << true << QString();
        QTest::newRow("dark style sheet") << false << "QTreeView { background-color: #202020; color: #e0e0e0; }";
    }

    void marksLegibleInPalette()
    {
        QFETCH(bool, dark);
        QFETCH(QString, sheet);
        QTemporaryDir dir;
        const QString old = writeFile(dir, "old.txt", NetworkListFile({{"127.0.0.11", "PCONE", "OLD", "", "", "False", "False"},
                                                                        {"127.0.0.13", "PCGONE", "", "", "", "False", "False"}}));
        Peer peer;
        peer.plan["127.0.0.11"].names = {{"PCONE", 0x00, U}};
        peer.plan["127.0.0.12"].names = {{"PCNEW", 0x00, U}};
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));
        Window win;
        QPalette palette = win.res->style()->standardPalette();
        if (dark) { // as a dark desktop theme sets it
            for (const auto& [role, colour] : {std::pair{QPalette::Base, QColor(0x2a, 0x2a, 0x2a)},
                                               std::pair{QPalette::Text, QColor(0xe6, 0xe6, 0xe6)},
                                               std::pair{QPalette::Window, QColor(0x35, 0x35, 0x35)},
                                               std::pair{QPalette::WindowText, QColor(0xe6, 0xe6, 0xe6)}})
                palette.setColor(role, colour);
            palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
        }
        win.res->setPalette(palette);
        win.res->setStyleSheet(sheet);
        win.scan("127.0.0.11", "127.0.0.12");
        QVERIFY(win.waitDone());
        win.res->sortByColumn(TFrm_Corvane::ColIP, Qt::AscendingOrder);
        win.desktop.fileAnswer = [&](const QFileDialog&) { return old; };
        win.w.findChild<QAction*>("Comparewithsavedlist1")->trigger();
        win.res->clearSelection();
        QCOMPARE(columnTexts(win.res, 1), (QStringList{"PCONE", "PCNEW", "PCGONE"}));
        const QList<double> least {4.5, 4.5, 1.5}; // changed, new, gone
        for (int row = 0; row < 3; ++row) {
            const QRect cell = win.res->visualRect(win.res->model()->index(row, TFrm_Corvane::ColCompName));
            const auto [ratio, background] = textContrast(win.res->viewport()->grab(cell).toImage());
            QVERIFY2(ratio >= least[row], qPrintable(QStringLiteral("row %1: %2").arg(row).arg(ratio)));
            if (row < 2) // the mark itself shows: not the plain base colour
                QVERIFY(background != palette.color(QPalette::Base).rgb());
        }
        QCOMPARE((QStringList{win.markShown(0), win.markShown(1), win.markShown(2)}),
                 (QStringList{"changed", "new", "gone"}));
    }

    // A folder that cannot be written (a read-only bind mount: root ignores permission bits) keeps
    // the old file and shows the box.
    void failedSaveKeepsOldFile()
    {
        Peer peer;
        peer.plan["127.0.0.11"].names = {{"PC1", 0x00, U}};
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString name = dir.filePath("network.txt");
        const QByteArray old = "the list saved before\r\n";
        {
            QFile f(name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(old);
        }
        // This thread's own mount namespace, so the mount is seen by nobody else.
        QVERIFY(::unshare(CLONE_NEWNS) == 0);
        QVERIFY(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0);
        const QByteArray path = QFile::encodeName(dir.path());
        QVERIFY(::mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) == 0);
        QVERIFY(::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0);
        const auto unmount = qScopeGuard([&] { ::umount2(path.constData(), MNT_DETACH); });

        Window win;
        win.desktop.fileAnswer = [&](const QFileDialog&) { return name; };
        win.scan("127.0.0.11", "127.0.0.11");
        QVERIFY(win.waitDone());
        QCOMPARE(win.rows(), 1);
        win.w.findChild<QAction*>("Savenetworklist1")->trigger();
        QCOMPARE(win.boxes, (QStringList{done(1), QStringLiteral("Cannot create file ") + name}));
        QFile f(name);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"network.txt"});
        QCOMPARE(win.rows(), 1);
    }

    void sharedFoldersOfSelectedHost_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("parameter");
        QTest::addColumn<QUrl>("url");
        QTest::newRow("PC1") << "127.0.0.11" << "/e, \\\\PC1\\" << QUrl("smb://PC1/");
        QTest::newRow("empty name") << "127.0.0.12" << "/e, \\\\\\" << QUrl();
    }

    void sharedFoldersOfSelectedHost()
    {
        QFETCH(QString, address);
        QFETCH(QString, parameter);
        QFETCH(QUrl, url);
        Peer peer;
        peer.plan["127.0.0.11"].names = {{"PC1", 0x00, U}, {"WORKGRP", 0x00, G}};
        peer.plan["127.0.0.12"].names = {{"WORKGRP", 0x00, G}}; // no computer name
        QVERIFY2(peer.responder.start(), qPrintable(peer.responder.lastError()));
        Window win;
        const QList<QPair<QString, QUrl>>& opened = win.desktop.shares;
        win.scan("127.0.0.11", "127.0.0.12");
        QVERIFY(win.waitDone());
        QCOMPARE(win.rows(), 2);
        const int row = win.cell(0, 0) == address ? 0 : 1;
        QCOMPARE(win.cell(row, 0), address);
        const QRect r = win.res->visualRect(win.res->model()->index(row, 0));
        // A double click's first press selects the row.
        QTest::mouseClick(win.res->viewport(), Qt::LeftButton, {}, r.center());
        QTest::mouseDClick(win.res->viewport(), Qt::LeftButton, {}, r.center());
        win.w.findChild<QAction*>("Opensharedfolders1")->trigger();
        QCOMPARE(opened.size(), 2);
        for (const auto& o : opened) {
            QCOMPARE(o.first, parameter);
            QCOMPARE(o.second, url);
        }
    }

    // Closing releases the rows; hand-overs that come later are dropped, nothing more is shown, and
    // destroying the window under the running scan harms nothing.
    void closeDuringScan()
    {
        NbResponder responder([](const NbResponder::Query& q) {
            return std::vector<NbResponder::Datagram>{{node_status_answer(q.transactionId(), {{"HOST", 0x00, U}})}};
        });
        QVERIFY2(responder.start(), qPrintable(responder.lastError()));
        DesktopStandIn desktop;
        auto w = std::make_unique<TFrm_Corvane>();
        w->setDesktop(&desktop);
        w->show();
        const QAbstractItemModel* res = w->findChild<QTreeView*>("LstVw_Res")->model();
        w->findChild<QLineEdit*>("Ed_IPstart")->setText("127.0.1.1");
        w->findChild<QLineEdit*>("Ed_IPend")->setText("127.0.40.254");
        QTest::mouseClick(w->findChild<QWidget*>("But_Scan"), Qt::LeftButton);
        QPointer<TNBTscanThread> scan = w->ScanThread();
        QTRY_VERIFY_WITH_TIMEOUT(res->rowCount() >= 5, 10000);
        QVERIFY(w->close());
        QCOMPARE(res->rowCount(), 0);
        const std::int64_t answeredAtClose = responder.answersSent();
        QTRY_VERIFY_WITH_TIMEOUT(responder.answersSent() > answeredAtClose + 20, 5000);
        QCOMPARE(res->rowCount(), 0);
        QVERIFY(scan);
        QVERIFY(scan->isRunning());
        w.reset();
        QTest::qWait(100);
        QVERIFY(scan);
        scan->Terminate();
        QTRY_VERIFY_WITH_TIMEOUT(scan.isNull(), 5000);
        QCOMPARE(desktop.boxes.size(), 0);
    }
};

// Loopback peers on port 137 of a namespace of our own: nothing else on the machine interferes.
CORVANE_GUI_TEST_MAIN(TestWindowScan, corvane::test::Loopback::Private)
#include "test_window_scan.moc"
