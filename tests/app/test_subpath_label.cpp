#include "GuiTestMain.h"
#include "app/SubPathLabel.h"

#include <QApplication>
#include <QEnterEvent>
#include <QSignalSpy>
#include <QTest>

namespace {

void enter(TSubPathLabel& l)
{
    QEnterEvent e(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(&l, &e);
}

void leave(TSubPathLabel& l)
{
    QEvent e(QEvent::Leave);
    QCoreApplication::sendEvent(&l, &e);
}

// x just inside the end of the caption's first len characters (with the first "//" measured as "++").
int xAtPrefix(const TSubPathLabel& l, const QString& caption, int len)
{
    QString copy = caption;
    const qsizetype d = copy.indexOf(QLatin1String("//"));
    if (d >= 0)
        copy.replace(d, 2, QStringLiteral("++"));
    return l.fontMetrics().horizontalAdvance(copy.left(len)) - 1;
}

void move(TSubPathLabel& l, QPoint at)
{
    QMouseEvent e(QEvent::MouseMove, QPointF(at), l.mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(&l, &e);
}

} // namespace

class TestSubPathLabel : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void subPath_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("mouseAtLen"); // mouse x at the end of this prefix; -1: far right
        QTest::addColumn<QString>("expected");
        const QString path = QStringLiteral("C:\\Data\\Reports\\May.txt");
        QTest::newRow("path: on Reports") << path << 12 << "C:\\Data\\Reports\\";
        QTest::newRow("path: on file name") << path << -1 << path;
        QTest::newRow("path: left edge") << path << 1 << "C:\\";
        const QString url = QStringLiteral("https://www.example.com/corvane/index.html");
        QTest::newRow("url: shortest") << url << 1 << "https://www.example.com/";
        QTest::newRow("url: folder") << url << 26 << "https://www.example.com/corvane/";
        QTest::newRow("url: last") << url << -1 << url;
        QTest::newRow("short caption") << "a/b" << 1 << "a/b";
        QTest::newRow("no separator") << "example" << 1 << "example";
        const QString second = QStringLiteral("smb://host//share/x");
        QTest::newRow("second // counts") << second << 11 << "smb://host/";
        QTest::newRow("second // second slash") << second << 12 << "smb://host//";
    }
    void subPath()
    {
        QFETCH(QString, caption);
        QFETCH(int, mouseAtLen);
        TSubPathLabel l;
        l.setCaption(caption);
        l.show();
        QVERIFY(QTest::qWaitForWindowExposed(&l));
        enter(l);
        const int x = mouseAtLen < 0 ? l.width() - 1 : std::max(0, xAtPrefix(l, caption, mouseAtLen));
        move(l, QPoint(x, l.height() / 2));

        QTEST(l.GetSubPath(), "expected");
    }

    void highlightPaintedAndLeaveKeepsSubPath()
    {
        TSubPathLabel l;
        l.setCaption(QStringLiteral("C:\\Data\\Reports\\May.txt"));
        l.show();
        QVERIFY(QTest::qWaitForWindowExposed(&l));
        QSignalSpy entered(&l, &TSubPathLabel::OnMouseEnter), left(&l, &TSubPathLabel::OnMouseLeave);
        enter(l);
        move(l, QPoint(xAtPrefix(l, l.caption(), 5), l.height() / 2));
        QCOMPARE(l.GetSubPath(), QStringLiteral("C:\\Data\\"));
        auto blueRight = [&] {
            const QImage img = l.grab().toImage();
            int right = -1;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x) {
                    const QColor c = img.pixelColor(x, y);
                    if (c.blue() > 150 && c.red() < 100 && c.green() < 100)
                        right = std::max(right, x);
                }
            return right;
        };
        const int right = blueRight();
        QVERIFY(right >= 0);
        QVERIFY(right <= l.fontMetrics().horizontalAdvance(QStringLiteral("C:\\Data\\")) + 1);
        leave(l);
        QCOMPARE(blueRight(), -1);
        QCOMPARE(l.GetSubPath(), QStringLiteral("C:\\Data\\"));
        QCOMPARE(entered.count(), 1);
        QCOMPARE(left.count(), 1);
    }

    void captionChangeWhileHovered()
    {
        TSubPathLabel l;
        l.setCaption(QStringLiteral("C:\\Data\\Reports\\May.txt"));
        l.show();
        QVERIFY(QTest::qWaitForWindowExposed(&l));
        QSignalSpy changed(&l, &TSubPathLabel::OnChange);
        enter(l);
        const QPoint at(xAtPrefix(l, l.caption(), 5), l.height() / 2);
        move(l, at);
        l.setCaption(QStringLiteral("D:\\Other\\Place\\file"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(l.GetSubPath(), QStringLiteral("C:\\Data\\")); // kept until the next move
        move(l, at + QPoint(1, 0));
        QVERIFY(l.GetSubPath().startsWith(QStringLiteral("D:\\")));
        QCOMPARE(l.width(), l.sizeHint().width()); // sizes itself to the new text
    }

    void clickHandsOverSubPath()
    {
        TSubPathLabel l;
        l.setCaption(QStringLiteral("https://www.example.com/corvane/index.html"));
        l.show();
        QVERIFY(QTest::qWaitForWindowExposed(&l));
        QString seen;
        connect(&l, &TSubPathLabel::clicked, &l, [&] { seen = l.GetSubPath(); });
        enter(l);
        const QPoint at(xAtPrefix(l, l.caption(), 26), l.height() / 2);
        move(l, at);
        QTest::mouseClick(&l, Qt::LeftButton, {}, at);
        QCOMPARE(seen, QStringLiteral("https://www.example.com/corvane/"));
        seen.clear();
        QTest::mouseClick(&l, Qt::RightButton, {}, at);
        QVERIFY(seen.isEmpty());
    }
};

CORVANE_GUI_TEST_MAIN(TestSubPathLabel)
#include "test_subpath_label.moc"
