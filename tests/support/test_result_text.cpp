#include "support/ResultText.h"

#include <QTest>

#include <cstring>
#include <vector>

Q_DECLARE_METATYPE(TNetworkListRow)

namespace {

nb_name_entry entry(const char* name, std::uint8_t suffix, std::uint8_t flags)
{
    nb_name_entry e {};
    std::memset(e.name, ' ', sizeof e.name);
    std::memcpy(e.name, name, std::min(std::strlen(name), sizeof e.name));
    e.suffix = suffix;
    e.flags[0] = flags;
    return e;
}

// Owns the blocks of one result built for a test.
struct Result
{
    nb_status_header header {};
    std::vector<nb_name_entry> names;
    nb_adapter_stats stats {};
    nb_status_result r {};
    Result(std::vector<nb_name_entry> table, bool withHeader = true, bool withTable = true, bool withStats = true)
        : names(std::move(table))
    {
        header.name_count = static_cast<std::uint8_t>(names.size());
        r.status_header = withHeader ? &header : nullptr;
        r.name_table = withTable ? names.data() : nullptr;
        r.adapter_stats = withStats ? &stats : nullptr;
    }
};

constexpr std::uint8_t U = 0x04, G = 0x84;

} // namespace

class TestResultText : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { qputenv("LC_ALL", "de_DE.UTF-8"); }

    // The name field of an entry, apart from its suffix; the display text keeps a suffix above 32.
    void entry_name_data()
    {
        QTest::addColumn<QByteArray>("raw"); // the 15 name bytes, padded with blanks when shorter
        QTest::addColumn<int>("suffix");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("display");
        QTest::newRow("suffix j") << QByteArray("PC5") << 0x6A << QByteArray("PC5") << QByteArray("PC5            j");
        QTest::newRow("suffix 20") << QByteArray("PC5") << 0x20 << QByteArray("PC5") << QByteArray("PC5");
        QTest::newRow("no-break space at the end")
            << QByteArray("PC5\xFF") << 0x00 << QByteArray("PC5\xFF") << QByteArray("PC5\xFF");
        QTest::newRow("blanks inside") << QByteArray("A B  C") << 0x00 << QByteArray("A B  C") << QByteArray("A B  C");
        QTest::newRow("all 15 bytes") << QByteArray("ABCDEFGHIJKLMNO") << 0x41 << QByteArray("ABCDEFGHIJKLMNO")
                                      << QByteArray("ABCDEFGHIJKLMNOA");
        QTest::newRow("control codes kept") << QByteArray("\x01\x02__MSBROWSE__\x02") << 0x01
                                            << QByteArray("\x01\x02__MSBROWSE__\x02") << QByteArray("__MSBROWSE__");
        QTest::newRow("zero byte ends it") << QByteArray("AB\0CD", 5) << 0x00 << QByteArray("AB") << QByteArray("AB");
    }

    void entry_name()
    {
        QFETCH(QByteArray, raw);
        QFETCH(int, suffix);
        nb_name_entry e = entry("", std::uint8_t(suffix), U);
        std::memcpy(e.name, raw.constData(), size_t(raw.size()));
        QTEST(nb_entry_name(e), "name");
        QTEST(nb_entry_display_name(e), "display");
    }

    void summarize_data()
    {
        QTest::addColumn<std::vector<nb_name_entry>>("table");
        QTest::addColumn<QByteArray>("comp");
        QTest::addColumn<QByteArray>("users");
        QTest::addColumn<QByteArray>("group");
        QTest::addColumn<bool>("file");
        QTest::addColumn<bool>("master");
        QTest::newRow("example") << std::vector {entry("PC1", 0, U), entry("PC1", 3, U), entry("PC1", 0x20, U),
                                                 entry("JOHN", 3, U), entry("WORKGRP", 0, G)}
                                 << QByteArray("PC1") << QByteArray("PC1, JOHN") << QByteArray("WORKGRP") << true
                                 << false;
        QTest::newRow("first unique 00 wins") << std::vector {entry("A", 0, U), entry("B", 0, U)} << QByteArray("A")
                                              << QByteArray() << QByteArray() << false << false;
        QTest::newRow("last group 00 wins") << std::vector {entry("A", 0, G), entry("B", 0, G)} << QByteArray()
                                            << QByteArray() << QByteArray("B") << false << false;
        QTest::newRow("group 01 master") << std::vector {entry("X", 1, G)} << QByteArray() << QByteArray()
                                         << QByteArray() << false << true;
        QTest::newRow("unique 1B master") << std::vector {entry("X", 0x1B, U)} << QByteArray() << QByteArray()
                                          << QByteArray() << false << true;
        QTest::newRow("unique 1D master") << std::vector {entry("X", 0x1D, U)} << QByteArray() << QByteArray()
                                          << QByteArray() << false << true;
        QTest::newRow("group 1B/1D, unique 01: none")
            << std::vector {entry("X", 0x1B, G), entry("X", 0x1D, G), entry("X", 1, U)} << QByteArray()
            << QByteArray() << QByteArray() << false << false;
        QTest::newRow("group 20/03: none") << std::vector {entry("X", 0x20, G), entry("X", 3, G)} << QByteArray()
                                           << QByteArray() << QByteArray() << false << false;
        QTest::newRow("control codes trimmed") << std::vector {entry("\x01\x02PC9\x1F", 0, U)} << QByteArray("PC9")
                                               << QByteArray() << QByteArray() << false << false;
    }
    void summarize()
    {
        QFETCH(std::vector<nb_name_entry>, table);
        Result res(table);
        const TNameTableSummary s = SummarizeNameTable(&res.r);
        QTEST(s.computer_name, "comp");
        QTEST(s.user_names, "users");
        QTEST(s.workgroup, "group");
        QTEST(s.file_service, "file");
        QTEST(s.master_browser, "master");
        QCOMPARE(s.mac_text, QStringLiteral("00.00.00.00.00.00"));
    }

    void missingBlocks()
    {
        QCOMPARE(SummarizeNameTable(nullptr).mac_text, QString());
        Result noHeader({entry("PC1", 0, U)}, false);
        QCOMPARE(SummarizeNameTable(&noHeader.r).computer_name, QByteArray());
        QVERIFY(!HostInfoLines(&noHeader.r).has_value());
        Result noTable({entry("PC1", 0, U)}, true, false);
        QCOMPARE(SummarizeNameTable(&noTable.r).computer_name, QByteArray());
        QCOMPARE(HostInfoLines(&noTable.r)->size(), 1);
        Result noStats({entry("PC1", 0, U)}, true, true, false);
        QCOMPARE(SummarizeNameTable(&noStats.r).mac_text, QString());
        Result mac({});
        const std::uint8_t bytes[6] = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
        std::memcpy(mac.stats.mac_address, bytes, 6);
        QCOMPARE(SummarizeNameTable(&mac.r).mac_text, QStringLiteral("0A.0B.0C.0D.0E.0F"));
    }

    void oemNameShownAsLetters()
    {
        Result res({entry("M\x81LLER", 3, U)});
        QCOMPARE(NetBiosRowTexts(SummarizeNameTable(&res.r)).at(1), QString::fromUtf8("MüLLER"));
    }

    void hostInfo()
    {
        Result res({entry("PC1", 0x20, U), entry("WORKGRP", 0, G)});
        const QStringList lines = *HostInfoLines(&res.r);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("Name") + QString(15, u' ') + QStringLiteral("Service") + QString(41, u' ')
                               + QStringLiteral("Flags "));
        QCOMPARE(lines[1], QStringLiteral("PC1                20 - File Server Service") + QString(23, u' ')
                               + QStringLiteral(" UNIQUE B-node  Registered Active "));
        QVERIFY(lines[2].startsWith(QStringLiteral("WORKGRP            00 - Workgroup/Domain Name")));
    }

    void savedFile()
    {
        const QByteArray heading = "IP               CompName         UserName         WorkGroup        "
                                   "MacAddress         FileService    MasterBrowser \r\n";
        QCOMPARE(NetworkListFile({}), heading);
        const TNetworkListRow longRow {"10.0.0.1", "PC1", "PC1, JOHN, MARY, PAUL", "WG", "00.00.00.00.00.00",
                                       "True", "False"};
        const TNetworkListRow accented {QString::fromUtf8("10.0.0.2"), QString::fromUtf8("MÜLLER"), "", "WG",
                                        "", "False", "False"};
        const QByteArray file = NetworkListFile({longRow, accented});
        const QList<QByteArray> lines = file.split('\n');
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[1], QByteArray("10.0.0.1         PC1              PC1, JOHN, MARY, PAUL WG               "
                                      "00.00.00.00.00.00  True           False         \r"));
        // Columns count characters: the accented line has as many as the heading.
        QCOMPARE(QString::fromUtf8(lines[2]).size(), QString::fromUtf8(lines[0]).size());
        QVERIFY(file.endsWith("\r\n"));
    }

    void pingRow()
    {
        int lookups = 0;
        auto resolve = [&](const QString&) { ++lookups; return QString(); };
        TPingRowTexts ok = PingRowTexts("127.0.0.1", 1, 0, 56, 0, resolve);
        QCOMPARE(ok.caption, QStringLiteral("127.0.0.1 "));
        QCOMPARE(ok.status, QStringLiteral("Received"));
        QCOMPARE(ok.data_size, QStringLiteral("56"));
        TPingRowTexts lost = PingRowTexts("10.1.1.1", 0, 11010, 0, 0, resolve);
        QCOMPARE(lost.caption, QStringLiteral("10.1.1.1"));
        QCOMPARE(lost.status, QStringLiteral("Cannot ping, status=11010"));
        QCOMPARE(lost.time, QString());
        QCOMPARE(lookups, 1);
    }

    void shares()
    {
        QCOMPARE(SharedFoldersParameter("PC1"), QStringLiteral("/e, \\\\PC1\\"));
        QCOMPARE(SharedFoldersParameter("PC1").size(), 10);
        QCOMPARE(SharedFoldersParameter(""), QStringLiteral("/e, \\\\\\"));
        QCOMPARE(SharedFoldersUrl(SharedFoldersParameter("PC1")), QUrl("smb://PC1/"));
        QVERIFY(SharedFoldersUrl(SharedFoldersParameter("")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestResultText)
#include "test_result_text.moc"
