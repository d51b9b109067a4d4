#include "platform/Browser.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace corvane::platform;

class TestBrowser : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cut_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("program");
        QTest::newRow("quoted with args") << "\"C:\\Some Path\\browser.exe\" -osint -url \"%1\""
                                          << "C:\\Some Path\\browser.exe";
        QTest::newRow("unquoted exe keeps case") << "C:\\Tools\\Browser.EXE -nohome" << "C:\\Tools\\Browser.EXE";
        QTest::newRow("unclosed quote") << "\"C:\\Tools\\browser.exe -x" << "";
        QTest::newRow("no exe, no blank") << "/usr/bin/firefox-esr" << "/usr/bin/firefox-esr";
        QTest::newRow("desktop exec line") << "firefox-esr %u" << "firefox-esr";
        QTest::newRow("quoted linux path") << "\"/opt/My Browser/run\" %U" << "/opt/My Browser/run";
        QTest::newRow("empty") << "" << "";
    }
    void cut()
    {
        QFETCH(QString, line);
        QTEST(cut_browser_command(line), "program");
    }

    void lookupThroughXdgMime()
    {
        // A real xdg-mime answer and desktop entry, laid out in private directories.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkpath("bin"));
        QVERIFY(QDir(dir.path()).mkpath("share/applications"));
        QFile tool(dir.filePath("bin/xdg-mime"));
        QVERIFY(tool.open(QIODevice::WriteOnly));
        tool.write("#!/bin/sh\necho testbrowser.desktop\n");
        tool.close();
        tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile entry(dir.filePath("share/applications/testbrowser.desktop"));
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nName=Test\n[Desktop Action New]\nExec=wrong\n");
        entry.close();
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nName=Test\nExec=/opt/test/browser --new %u\n");
        entry.close();
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", dir.filePath("bin").toUtf8() + ":" + oldPath);
        qputenv("XDG_DATA_HOME", dir.filePath("share").toUtf8());
        QCOMPARE(get_default_browser(), QStringLiteral("/opt/test/browser"));

        QString program;
        QStringList args;
        set_browser_launcher([&](const QString& p, const QStringList& a) { program = p; args = a; return true; });
        open_in_browser("https://example.org/a/b?x=1");
        QCOMPARE(program, QStringLiteral("/opt/test/browser"));
        QCOMPARE(args, QStringList {"https://example.org/a/b?x=1"});

        // Without xdg-mime nothing is found and nothing starts.
        qputenv("PATH", dir.filePath("none").toUtf8());
        program.clear();
        QCOMPARE(get_default_browser(), QString());
        open_in_browser("https://example.org/");
        QVERIFY(program.isEmpty());
        qputenv("PATH", oldPath);
        set_browser_launcher({});
    }
};

QTEST_GUILESS_MAIN(TestBrowser)
#include "test_browser.moc"
