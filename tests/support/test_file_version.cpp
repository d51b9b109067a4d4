#include "platform/FileVersion.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestFileVersion : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void ownFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << "";
        QTest::newRow("blanks and controls") << " \t\n ";
    }
    void ownFile()
    {
        QFETCH(QString, name);
        QCOMPARE(get_file_version(name), QStringLiteral("1.1.0.0"));
        QCOMPARE(get_file_version(QCoreApplication::applicationFilePath()), QStringLiteral("1.1.0.0"));
    }
    void withoutNote()
    {
        QCOMPARE(get_file_version(QStringLiteral(CORVANE_PLAIN_EXE)), QString());
        QCOMPARE(get_file_version(QStringLiteral("/nonexistent/file")), QString());
    }
    void damagedFiles()
    {
        // Truncated copies of a file that does carry the note must give nothing, not garbage.
        QFile self(QCoreApplication::applicationFilePath());
        QVERIFY(self.open(QIODevice::ReadOnly));
        const QByteArray bytes = self.readAll();
        QTemporaryDir dir;
        for (qsizetype len : {qsizetype(0), qsizetype(10), qsizetype(64), bytes.size() / 2}) {
            QFile out(dir.filePath("cut"));
            QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(bytes.left(len));
            out.close();
            QCOMPARE(get_file_version(out.fileName()), QString());
        }
    }
};

QTEST_GUILESS_MAIN(TestFileVersion)
#include "test_file_version.moc"
