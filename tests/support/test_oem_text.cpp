#include "platform/OemText.h"

#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace corvane::platform;

class TestOemText : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void codePageForLocale_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<int>("codePage");
        QTest::newRow("US English") << "en_US.UTF-8" << 437;
        QTest::newRow("UK English") << "en_GB.UTF-8" << 850;
        QTest::newRow("German") << "de_DE.UTF-8@euro" << 850;
        QTest::newRow("Polish") << "pl_PL" << 852;
        QTest::newRow("Russian") << "ru_RU.UTF-8" << 866;
        QTest::newRow("C locale") << "C.UTF-8" << 850;
        QTest::newRow("empty") << "" << 850;
    }
    void codePageForLocale()
    {
        QFETCH(QString, locale);
        QFETCH(int, codePage);
        QCOMPARE(oem_code_page_for_locale(locale), codePage);
    }

    void convert_data()
    {
        QTest::addColumn<QByteArray>("oem");
        QTest::addColumn<int>("codePage");
        QTest::addColumn<QString>("text");
        QTest::newRow("cp850 u umlaut") << QByteArray("M\x81LLER") << 850 << QString::fromUtf8("MüLLER");
        QTest::newRow("cp866 cyrillic") << QByteArray("\x8F\x8A") << 866 << QString::fromUtf8("ПК");
        QTest::newRow("stops at zero") << QByteArray("AB\0CD", 5) << 850 << QStringLiteral("AB");
        QTest::newRow("unknown page falls back") << QByteArray("\x81") << 99999 << QString::fromUtf8("ü");
    }
    void convert()
    {
        QFETCH(QByteArray, oem);
        QFETCH(int, codePage);
        QFETCH(QString, text);
        QCOMPARE(oem_to_unicode(oem, codePage), text);
    }

    void longTextIsNotCut()
    {
        // Far beyond any fixed work buffer: every byte must come through.
        QByteArray oem;
        for (int i = 0; i < 5000; ++i)
            oem += "\x81, ";
        const QString text = oem_to_unicode(oem, 850);
        QCOMPARE(text.size(), 15000);
        QCOMPARE(text.count(QChar(0xFC)), 5000);
    }

    void convertersReusedAcrossNamesAndThreads()
    {
        // An incomplete Shift-JIS lead byte between whole names, on several threads at once: each
        // name converts as if it were the first.
        const struct {
            QByteArray oem;
            int codePage;
            QString text;
        } names[] = {
            {QByteArray("M\x81LLER"), 850, QString::fromUtf8("M\u00fcLLER")},
            {QByteArray("\x82"), 932, QString(QChar(0xFFFD))},
            {QByteArray("\x82\xA0"), 932, QString::fromUtf8("\u3042")},
            {QByteArray("\x8F\x8A"), 866, QString::fromUtf8("\u041f\u041a")},
        };
        std::atomic<int> wrong{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                for (int i = 0; i < 2000; ++i)
                    for (const auto& n : names)
                        if (oem_to_unicode(n.oem, n.codePage) != n.text)
                            ++wrong;
            });
        for (std::thread& t : threads)
            t.join();
        QCOMPARE(wrong.load(), 0);
    }

    void userLocaleChoosesPage()
    {
        qputenv("LC_ALL", "ru_RU.UTF-8");
        QCOMPARE(OemNameToAnsi(QByteArray("\x8F")), QString::fromUtf8("П"));
        qputenv("LC_ALL", "de_DE.UTF-8");
        QCOMPARE(OemNameToAnsi(QByteArray("\x81")), QString::fromUtf8("ü"));
        qunsetenv("LC_ALL");
    }
};

QTEST_GUILESS_MAIN(TestOemText)
#include "test_oem_text.moc"
