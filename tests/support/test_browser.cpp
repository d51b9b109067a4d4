#include "platform/Browser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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
        QTest::newRow("snap launcher") << "env BAMF_DESKTOP_FILE_HINT=/x.desktop /snap/bin/firefox %u" << "env";
        QTest::newRow("field code only") << "%u" << "";
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
        const TLauncher record = [&](const QString& p, const QStringList& a) {
            program = p;
            args = a;
            return true;
        };
        QVERIFY(launch_browser(default_browser_exec(), "https://example.org/a/b?x=1", record));
        QCOMPARE(program, QStringLiteral("/opt/test/browser"));
        QCOMPARE(args, (QStringList {"--new", "https://example.org/a/b?x=1"}));

        // Without xdg-mime and without association files nothing is found and nothing starts.
        qputenv("PATH", dir.filePath("none").toUtf8());
        for (const char* var : {"XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_DIRS"})
            qputenv(var, dir.filePath("none").toUtf8());
        program.clear();
        QCOMPARE(get_default_browser(), QString());
        QVERIFY(!launch_browser(default_browser_exec(), "https://example.org/", record));
        QVERIFY(program.isEmpty());
        qputenv("PATH", oldPath);
    }

    // The handler named in mimeapps.list, started for real: each recorder writes the argv it got.
    void launchesTheEntry_data()
    {
        QTest::addColumn<QByteArray>("exec"); // as written in the entry; @REC@ is a recorder's path
        QTest::addColumn<QStringList>("args");
        const QString url = kUrl;
        QTest::newRow("snap") << QByteArray("env BAMF_DESKTOP_FILE_HINT=/var/lib/snapd/desktop/applications/"
                                            "firefox_firefox.desktop @REC@ %u")
                              << QStringList {url};
        QTest::newRow("flatpak") << QByteArray("@REC@ run --branch=stable --arch=x86_64 --command=firefox "
                                               "--file-forwarding org.mozilla.firefox @@u %u @@")
                                 << QStringList {"run", "--branch=stable", "--arch=x86_64", "--command=firefox",
                                                 "--file-forwarding", "org.mozilla.firefox", url};
        QTest::newRow("quoted path with blanks") << QByteArray("\"@DIR@/My Browser/run\" --new-window %U")
                                                 << QStringList {"--new-window", url};
        QTest::newRow("plain name on PATH") << QByteArray("browser %u") << QStringList {url};
        QTest::newRow("no field code") << QByteArray("@REC@ --private") << QStringList {"--private", url};
        // In the file four backslashes are one inside quotes, backslash backslash dollar a dollar; %% a percent.
        QTest::newRow("quoting, escapes, other codes")
            << QByteArray("@REC@ \"say \\\"hi\\\"\" \"back\\\\\\\\slash\" \"cost \\\\$5\" 100%% %i %c %k --url=%u")
            << QStringList {"say \"hi\"", "back\\slash", "cost $5", "100%", "--url=" + url};
    }

    void launchesTheEntry()
    {
        QFETCH(QByteArray, exec);
        QFETCH(QStringList, args);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString out = dir.filePath("argv");
        const auto recorder = [&](const QString& path) {
            QVERIFY(QDir().mkpath(QFileInfo(path).path()));
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + out.toUtf8() + ".part' && mv '" + out.toUtf8() + ".part' '"
                    + out.toUtf8() + "'\n");
            f.close();
            QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        };
        recorder(dir.filePath("bin/recorder"));
        recorder(dir.filePath("bin/browser"));
        recorder(dir.filePath("My Browser/run"));
        exec.replace("@REC@", dir.filePath("bin/recorder").toUtf8()).replace("@DIR@", dir.path().toUtf8());
        QVERIFY(QDir(dir.path()).mkpath("data/applications") && QDir(dir.path()).mkpath("config"));
        QFile entry(dir.filePath("data/applications/rec-browser.desktop"));
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + exec + "\n");
        entry.close();
        QFile mimeapps(dir.filePath("config/mimeapps.list"));
        QVERIFY(mimeapps.open(QIODevice::WriteOnly));
        mimeapps.write("[Default Applications]\ntext/html=rec-browser.desktop;\n");
        mimeapps.close();

        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", dir.filePath("bin").toUtf8() + ":/usr/bin:/bin");
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
        for (const char* var : {"XDG_CONFIG_DIRS", "XDG_DATA_DIRS"})
            qputenv(var, dir.filePath("none").toUtf8());
        qunsetenv("XDG_CURRENT_DESKTOP");
        open_in_browser(kUrl);
        qputenv("PATH", oldPath);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 10000);
        QFile got(out);
        QVERIFY(got.open(QIODevice::ReadOnly));
        QByteArray bytes = got.readAll();
        QVERIFY(bytes.endsWith('\0'));
        bytes.chop(1);
        QStringList argv;
        for (const QByteArray& a : bytes.split('\0'))
            argv << QString::fromUtf8(a);
        QCOMPARE(argv, args);
    }

private:
    // What the window opens: the characters a shell would take apart.
    const QString kUrl = QStringLiteral("https://www.example.com/tools/?fromApp=Corvane&ver=1.1.0.0");
};

QTEST_GUILESS_MAIN(TestBrowser)
#include "test_browser.moc"
