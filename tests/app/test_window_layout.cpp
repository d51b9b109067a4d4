// The header at sizes the window allows and on a 1366x768 screen at scale 1 and 2: no two header
// controls overlap, every control lies inside the window, and the window opens within the screen.
// Each row runs this program again on an offscreen screen of that size and scale.
#include "GuiTestMain.h"
#include "ProgramRun.h"
#include "TestSupport.h"

#include "app/Umain.h"

#include <QRect>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstring>

using namespace corvane::test;

namespace {

const QStringList kHeader {"Ed_IPstart_Label", "Ed_IPstart", "Ed_IPend_Label", "Ed_IPend", "But_getLocalIPrange",
                           "But_Scan", "But_Stop", "Lbwww"};

QRect rect_of(const QString& line)
{
    const QStringList v = line.split(u' ');
    return v.size() == 5 ? QRect(v[1].toInt(), v[2].toInt(), v[3].toInt(), v[4].toInt()) : QRect();
}

} // namespace

class TestWindowLayout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void header_data()
    {
        QTest::addColumn<QString>("scale");
        QTest::addColumn<QString>("size"); // "start": as the window opens
        QTest::newRow("opens at scale 1") << "1" << "start";
        QTest::newRow("800x500") << "1" << "800x500";
        QTest::newRow("500x300") << "1" << "500x300";
        QTest::newRow("opens at scale 2") << "2" << "start";
        QTest::newRow("500x300 at scale 2") << "2" << "500x300";
    }

    void header()
    {
        QFETCH(QString, scale);
        QFETCH(QString, size);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString screen = writeFile(dir, QStringLiteral("screen.json"),
                                         R"({"screens": [{"name": "laptop", "x": 0, "y": 0, "width": 1366,
                                             "height": 768, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        const ProgramRun r = runProgram(QCoreApplication::applicationFilePath(), {"--layout", size},
                                        ProgramOptions().env({{"QT_QPA_PLATFORM", "offscreen:configfile=" + screen},
                                                              {"QT_SCALE_FACTOR", scale}}));
        QVERIFY2(r.code == 0, r.err.constData());
        QMap<QString, QRect> at;
        for (const QString& line : QString::fromUtf8(r.out).split(u'\n', Qt::SkipEmptyParts))
            at[line.section(u' ', 0, 0)] = rect_of(line);
        const QRect window = at.value("window");
        const QRect inside(QPoint(0, 0), at.value("client").size());
        // The screen in the window's own pixels: 683x384 at scale 2.
        QCOMPARE(at.value("screen"), scale == "1" ? QRect(0, 0, 1366, 768) : QRect(0, 0, 683, 384));
        QVERIFY2(at.value("screen").contains(window), qPrintable(r.out));
        if (size == "start" && scale == "1")
            QCOMPARE(at.value("client").size(), QSize(834, 642));
        for (const QString& name : kHeader + QStringList {"PnlHeader", "PageCtrlRes", "StatusBar1"}) {
            QVERIFY2(at.contains(name), qPrintable(name));
            QVERIFY2(inside.contains(at[name]), qPrintable(name + u'\n' + r.out));
        }
        for (int i = 0; i < kHeader.size(); ++i) {
            QVERIFY2(at.value("PnlHeader").contains(at[kHeader[i]]), qPrintable(kHeader[i] + u'\n' + r.out));
            for (int j = i + 1; j < kHeader.size(); ++j)
                QVERIFY2(!at[kHeader[i]].intersects(at[kHeader[j]]),
                         qPrintable(kHeader[i] + " covers " + kHeader[j] + u'\n' + r.out));
        }
        QVERIFY2(at.value("PageCtrlRes").top() > at.value("PnlHeader").bottom(), r.out.constData());
    }
};

// The window shown at a size: the screen, the window and each control in the window's pixels.
static int layoutChild(int, char* argv[])
{
    TFrm_Corvane w;
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return 2;
    const QString size = QString::fromLatin1(argv[2]);
    if (size != QLatin1String("start")) {
        w.resize(size.section(u'x', 0, 0).toInt(), size.section(u'x', 1, 1).toInt());
        QTest::qWait(100);
    }
    const auto print = [](const char* name, const QRect& r) {
        std::printf("%s %d %d %d %d\n", name, r.x(), r.y(), r.width(), r.height());
    };
    print("screen", w.screen()->availableGeometry());
    print("window", w.frameGeometry());
    print("client", w.geometry());
    for (const QString& name : kHeader + QStringList {"PnlHeader", "PageCtrlRes", "StatusBar1"}) {
        const QWidget* c = w.findChild<QWidget*>(name);
        print(qPrintable(name), QRect(c->mapTo(&w, QPoint(0, 0)), c->size()));
    }
    return 0;
}

CORVANE_GUI_TEST_MAIN(
    TestWindowLayout, corvane::test::Loopback::Machine,
    [](int argc, char** argv) { return argc == 3 && std::strcmp(argv[1], "--layout") == 0; }, layoutChild)
#include "test_window_layout.moc"
