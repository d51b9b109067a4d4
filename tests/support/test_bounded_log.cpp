// The Errors page's log: the newest lines only, a line repeated in a row folded into one.
#include "support/BoundedLog.h"

#include <QTest>

using corvane::TBoundedLog;

class TestBoundedLog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lines_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<QStringList>("appended");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("changes"); // A appended, R last line replaced, one per line appended
        QTest::newRow("distinct") << 3 << QStringList {"a", "b"} << QStringList {"a", "b"} << "AA";
        QTest::newRow("repeat in a row") << 3 << QStringList {"a", "a", "a", "b"}
                                         << QStringList {"a (repeated 3 times)", "b"} << "ARRA";
        QTest::newRow("repeat apart stays apart") << 3 << QStringList {"a", "b", "a"} << QStringList {"a", "b", "a"}
                                                  << "AAA";
        QTest::newRow("oldest go") << 3 << QStringList {"1", "2", "3", "4", "5"} << QStringList {"3", "4", "5"}
                                   << "AAAAA";
        QTest::newRow("repeats take no room") << 2 << QStringList {"x", "y", "y", "y", "y"}
                                              << QStringList {"x", "y (repeated 4 times)"} << "AARRR";
        QTest::newRow("empty lines fold too") << 3 << QStringList {"", ""} << QStringList {" (repeated 2 times)"}
                                              << "AR";
    }

    void lines()
    {
        QFETCH(int, capacity);
        QFETCH(QStringList, appended);
        QFETCH(QStringList, shown);
        QFETCH(QString, changes);
        TBoundedLog log(capacity);
        QString got;
        for (const QString& line : appended)
            got += log.append(line) == TBoundedLog::TChange::Appended ? u'A' : u'R';
        QCOMPARE(got, changes);
        QStringList lines;
        for (int i = 0; i < log.size(); ++i)
            lines << log.line(i);
        QCOMPARE(lines, shown);
        QCOMPARE(log.last(), shown.constLast());
    }

    // One failed send per address of a 16-million range: the log holds the newest 10,000.
    void default_capacity()
    {
        TBoundedLog log;
        for (int i = 0; i < 25000; ++i)
            log.append(QStringLiteral("Send to 10.0.%1.%2 failed").arg(i / 256).arg(i % 256));
        QCOMPARE(log.size(), 10000);
        QCOMPARE(log.line(0), QStringLiteral("Send to 10.0.58.152 failed")); // the 15,001st line
        QCOMPARE(log.last(), QStringLiteral("Send to 10.0.97.167 failed"));
    }
};

QTEST_GUILESS_MAIN(TestBoundedLog)
#include "test_bounded_log.moc"
