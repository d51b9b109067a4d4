// Reading a network list back (the window's own files, corvane-scan txt and json) and comparing it
// with a new scan.
#include "support/ListCompare.h"

#include <QtTest>

using namespace corvane;

namespace {

TNetworkListRow row(const QString& joined)
{
    const QStringList f = joined.split(u'|');
    TNetworkListRow r;
    for (std::size_t i = 0; i < r.size(); ++i)
        r[i] = f.value(qsizetype(i));
    return r;
}

QStringList joined(const QList<TNetworkListRow>& rows)
{
    QStringList out;
    for (const TNetworkListRow& r : rows)
        out << QStringList(r.begin(), r.end()).join(u'|');
    return out;
}

const QString kPc1 = QStringLiteral("10.0.0.1|PC1|PC1, JOHN|WORKGRP|00.11.22.AA.BB.CC|True|False");
const QString kLongUsers
    = QStringLiteral("10.0.0.2|SERVER|ADMINISTRATOR, BACKUP, JOHN|OFFICE NET||False|True"); // overflows its column
const QString kUtf8 = QString::fromUtf8("10.0.0.3|MÜLLER-PC|MÜLLER|ÄRGER|0A.0B.0C.0D.0E.0F|False|False");

QByteArray saved(const QStringList& rows)
{
    QList<TNetworkListRow> r;
    for (const QString& s : rows)
        r << row(s);
    return NetworkListFile(r);
}

} // namespace

class TestListCompare : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reader_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("errorLine"); // 0: read
        const QByteArray file = saved({kPc1, kLongUsers, kUtf8});
        QByteArray lf = file;
        lf.replace("\r\n", "\n");
        // An editor that drops the blanks at line ends.
        const QByteArray stripped = QString::fromUtf8(file).replace(QRegularExpression(" +\r\n"), "\r\n").toUtf8();
        const QByteArray heading = saved({});

        QTest::newRow("the window's file") << file << QStringList{kPc1, kLongUsers, kUtf8} << 0;
        QTest::newRow("LF only") << lf << QStringList{kPc1, kLongUsers, kUtf8} << 0;
        QTest::newRow("blanks lost at line end") << stripped << QStringList{kPc1, kLongUsers, kUtf8} << 0;
        // A peer's OEM byte 0xFF is a no-break space: part of the name, as are blanks before it.
        const QString nbsp = QString::fromUtf8("10.0.0.5|PC5\u00a0|J\u00a0, \u00a0K|WG  \u00a0|0A.0B.0C.0D.0E.0F|False|False");
        QTest::newRow("names ending in a no-break space") << saved({nbsp, kPc1}) << QStringList{nbsp, kPc1} << 0;
        QTest::newRow("empty file") << QByteArray() << QStringList{} << 0;
        QTest::newRow("heading only") << heading << QStringList{} << 0;
        QTest::newRow("heading without line break") << heading.chopped(2) << QStringList{} << 0;
        QTest::newRow("txt with name tables")
            << saved({kPc1}) + "\r\n10.0.0.1\r\nName               Service    Flags \r\nPC1   00 - x\r\n"
            << QStringList{kPc1} << 0;
        QTest::newRow("truncated line") << file.left(file.indexOf(kLongUsers.left(8).toUtf8()) + 60) << QStringList{}
                                        << 3;
        QTest::newRow("cut in the last column") << saved({kPc1}).chopped(14) + "\r\n" << QStringList{} << 2;
        QTest::newRow("not a list") << QByteArray("hello\r\n") << QStringList{} << 1;
        QTest::newRow("json, gone host left out")
            << QByteArray("[\n {\"address\": \"10.0.0.1\", \"computer_name\": \"PC1\", \"user_names\": \"PC1, JOHN\",\n"
                          "  \"workgroup\": \"WORKGRP\", \"mac\": \"00.11.22.AA.BB.CC\", \"file_service\": true,\n"
                          "  \"master_browser\": false, \"vendor\": \"\", \"names\": []},\n"
                          " {\"address\": \"10.0.0.9\", \"change\": \"gone\"}\n]\n")
            << QStringList{kPc1} << 0;
        QTest::newRow("json host without a field")
            << QByteArray("[\n  {\"address\": \"10.0.0.1\", \"computer_name\": \"PC1\", \"user_names\": \"\",\n"
                          "   \"workgroup\": \"W\", \"mac\": \"\", \"file_service\": true, \"master_browser\": false},\n"
                          "  {\"address\": \"10.0.0.2\"}\n]")
            << QStringList{} << 4;
        const QByteArray csvHeading = "IP,CompName,UserName,WorkGroup,MacAddress,FileService,MasterBrowser,Vendor,"
                                      "NeighbourMac";
        QTest::newRow("csv, names guarded and quoted, gone host left out")
            << csvHeading + ",Change\r\n10.0.0.1,'=PC,\"PC1, \"\"J\"\"\",WG,,True,False,Maker,,same\r\n"
                            "10.0.0.9,OLD,,WG,,False,False,,,gone\r\n"
            << QStringList{"10.0.0.1|=PC|PC1, \"J\"|WG||True|False"} << 0;
        QTest::newRow("csv with an unquoted comma") << csvHeading + "\n10.0.0.1,PC1,PC1, JOHN,WORKGRP,00.11.22.AA.BB.CC,True,False,,\n"
                                                << QStringList{} << 2;
        QTest::newRow("csv quote not closed") << csvHeading + "\r\n10.0.0.1,\"PC1,,,,True,False,,\r\n"
                                              << QStringList{} << 2;
        QTest::newRow("json syntax") << QByteArray("[\n{\"address\": }\n]") << QStringList{} << 2;
    }

    void reader()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, rows);
        QFETCH(int, errorLine);
        const THostListRead read = read_host_list(text);
        QCOMPARE(read.line, errorLine);
        QCOMPARE(read.rows.has_value(), errorLine == 0);
        if (read.rows)
            QCOMPARE(joined(*read.rows), rows);
        else
            QVERIFY(!read.error.isEmpty());
    }

    void fileErrorsNameFileAndLine()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("old.txt"));
        QCOMPARE(read_host_list_file(name).error.left(name.size() + 16), name + QStringLiteral(": cannot be read"));
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(saved({kPc1}) + "10.0.0.2   PC2\r\n");
        f.close();
        const THostListFile read = read_host_list_file(name);
        QVERIFY(!read.rows);
        QVERIFY2(read.error.startsWith(name + QStringLiteral(": line 3: ")), qPrintable(read.error));
    }

    void comparison_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("now");
        QTest::addColumn<QStringList>("changes"); // per host of now: word, and the fields for changed
        QTest::addColumn<QStringList>("gone");
        const QString pc1b = QStringLiteral("10.0.0.1|PC1|PC1, MARY|WORKGRP|00.11.22.AA.BB.CC|True|True");
        QTest::newRow("same") << QStringList{kPc1} << QStringList{kPc1} << QStringList{"same"} << QStringList{};
        QTest::newRow("new and gone") << QStringList{kPc1} << QStringList{kUtf8} << QStringList{"new"}
                                      << QStringList{kPc1};
        QTest::newRow("changed fields")
            << QStringList{kPc1} << QStringList{pc1b}
            << QStringList{"changed UserName: PC1, JOHN -> PC1, MARY, MasterBrowser: False -> True"} << QStringList{};
        QTest::newRow("value emptied")
            << QStringList{kPc1} << QStringList{"10.0.0.1|PC1|PC1, JOHN|WORKGRP||True|False"}
            << QStringList{"changed MacAddress: 00.11.22.AA.BB.CC -> (none)"} << QStringList{};
        QTest::newRow("order of the new scan") << QStringList{kPc1, kLongUsers} << QStringList{kLongUsers, kUtf8, kPc1}
                                               << QStringList{"same", "new", "same"} << QStringList{};
        QTest::newRow("first of a repeated address counts")
            << QStringList{kPc1, pc1b, kUtf8} << QStringList{kPc1} << QStringList{"same"} << QStringList{kUtf8};
        QTest::newRow("empty earlier list") << QStringList{} << QStringList{kPc1} << QStringList{"new"} << QStringList{};
    }

    void comparison()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, now);
        QFETCH(QStringList, changes);
        QFETCH(QStringList, gone);
        QList<TNetworkListRow> b, n;
        for (const QString& s : before)
            b << row(s);
        for (const QString& s : now)
            n << row(s);
        const TListComparison c = compare_host_lists(b, n);
        QStringList got;
        for (const THostChange& h : c.hosts)
            got << QString(change_word(h.change) + u' ' + field_changes_text(h.fields)).trimmed();
        QCOMPARE(got, changes);
        QCOMPARE(joined(c.gone), gone);
    }

    void report()
    {
        const QList<TNetworkListRow> now {row(kLongUsers), row(kUtf8),
                                          row("10.0.0.1|PC1|PC1, JOHN|WORKGRP|00.11.22.AA.BB.CC|False|False")};
        const TListComparison c = compare_host_lists({row(kPc1), row(kLongUsers), row("10.0.0.9|OLD||||False|False")}, now);
        QCOMPARE(comparison_report(c, now, QStringLiteral("old.txt")),
                 (QStringList{QString(), "Compared with old.txt: 1 new, 1 changed, 1 same, 1 gone",
                              QString::fromUtf8("new     10.0.0.3         MÜLLER-PC"),
                              "changed 10.0.0.1         PC1              FileService: True -> False",
                              "gone    10.0.0.9         OLD"}));
    }
};

QTEST_GUILESS_MAIN(TestListCompare)
#include "test_list_compare.moc"
