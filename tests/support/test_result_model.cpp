// The result models under the window's lists: sorting (addresses as numbers, names without case,
// arrival order back), the filter after a comparison, copied text and the format a saved name picks.
#include "NbResponder.h"

#include "support/ResultModel.h"

#include <QtTest>

using namespace corvane;
using corvane::test::node_status_answer;

namespace {

constexpr std::uint8_t U = 0x04, G = 0x84;

// "IP|CompName|UserName|WorkGroup": a host answering with those names (the user name with 0x03).
THostRow host(const QString& joined, std::array<std::uint8_t, 6> mac = {0x00, 0x11, 0x22, 0xAA, 0xBB, 0xCC})
{
    const QStringList f = joined.split(u'|');
    QList<test::NbName> names;
    if (!f.value(1).isEmpty())
        names << test::NbName {f.value(1).toLatin1(), 0x00, U} << test::NbName {f.value(1).toLatin1(), 0x20, U};
    if (!f.value(2).isEmpty())
        names << test::NbName {f.value(2).toLatin1(), 0x03, U};
    if (!f.value(3).isEmpty())
        names << test::NbName {f.value(3).toLatin1(), 0x00, G};
    const QByteArray answer = node_status_answer(1, names, mac);
    return THostRow(f[0], TResultPtr(parse_response(answer.constData(), std::int32_t(answer.size()))));
}

QStringList texts_of(const QAbstractItemModel& m, int c)
{
    QStringList texts;
    for (int r = 0; r < m.rowCount(); ++r)
        texts << m.index(r, c).data().toString();
    return texts;
}

// The model filled with the hosts, under the sort model and the filter model as the window stacks them.
struct Stack
{
    THostTableModel hosts;
    TResultSortModel sorted;
    THostFilterModel shown;
    explicit Stack(const QStringList& rows)
    {
        for (const QString& r : rows)
            hosts.append(host(r));
        sorted.setSourceModel(&hosts);
        shown.setSourceModel(&sorted);
    }
};

const QStringList kHosts {"127.1.0.10|beta|JOHN|WG", "127.1.0.9|Alpha|mary|wg", "127.1.1.2|alpha2||OFFICE",
                          "127.0.255.1|Gamma||WG", "10.0.0.1|delta|Ann|WG"};

} // namespace

class TestResultModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sortByColumn_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("order");
        QTest::addColumn<QStringList>("addresses"); // column 0 as shown
        QTest::newRow("arrival") << -1 << int(Qt::AscendingOrder)
                                 << QStringList {"127.1.0.10", "127.1.0.9", "127.1.1.2", "127.0.255.1", "10.0.0.1"};
        QTest::newRow("address across octets")
            << int(HostIP) << int(Qt::AscendingOrder)
            << QStringList {"10.0.0.1", "127.0.255.1", "127.1.0.9", "127.1.0.10", "127.1.1.2"};
        QTest::newRow("address reversed")
            << int(HostIP) << int(Qt::DescendingOrder)
            << QStringList {"127.1.1.2", "127.1.0.10", "127.1.0.9", "127.0.255.1", "10.0.0.1"};
        QTest::newRow("name without case")
            << int(HostCompName) << int(Qt::AscendingOrder)
            << QStringList {"127.1.0.9", "127.1.1.2", "127.1.0.10", "10.0.0.1", "127.0.255.1"};
        // Equal keys keep the arrival order: wg and WG are one workgroup.
        QTest::newRow("workgroup, ties in arrival order")
            << int(HostWorkGroup) << int(Qt::AscendingOrder)
            << QStringList {"127.1.1.2", "127.1.0.10", "127.1.0.9", "127.0.255.1", "10.0.0.1"};
        QTest::newRow("workgroup reversed, ties still in arrival order")
            << int(HostWorkGroup) << int(Qt::DescendingOrder)
            << QStringList {"127.1.0.10", "127.1.0.9", "127.0.255.1", "10.0.0.1", "127.1.1.2"};
        QTest::newRow("empty user names first")
            << int(HostUserName) << int(Qt::AscendingOrder)
            << QStringList {"127.1.1.2", "127.0.255.1", "10.0.0.1", "127.1.0.10", "127.1.0.9"};
    }

    void sortByColumn()
    {
        QFETCH(int, column);
        QFETCH(int, order);
        QFETCH(QStringList, addresses);
        Stack s(kHosts);
        s.shown.sort(HostCompName, Qt::DescendingOrder); // an earlier order, replaced
        s.shown.sort(column, Qt::SortOrder(order));
        QCOMPARE(column_of(s), addresses);
        QCOMPARE(texts_of(s.sorted, HostIP), addresses); // the order saving and exporting follow
    }

    // Rows that arrive while the list is sorted take their place; the arrival order comes back.
    void orderHoldsWhileRowsArrive()
    {
        Stack s({"127.1.0.10|A", "127.1.0.2|B"});
        s.shown.sort(HostIP, Qt::AscendingOrder);
        s.hosts.append(host("127.1.0.9|C"));
        s.hosts.append(host("127.1.0.1|D"));
        QCOMPARE(column_of(s), (QStringList {"127.1.0.1", "127.1.0.2", "127.1.0.9", "127.1.0.10"}));
        s.shown.sort(-1);
        QCOMPARE(column_of(s), (QStringList {"127.1.0.10", "127.1.0.2", "127.1.0.9", "127.1.0.1"}));
    }

    void filter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("marks"); // empty: every mark
        QTest::addColumn<QStringList>("addresses");
        QTest::newRow("nothing") << "" << QList<int> {} << QStringList {"127.1.0.10",  "127.1.0.9", "127.1.1.2",
                                                                        "127.0.255.1", "10.0.0.1",  "127.3.0.1"};
        QTest::newRow("a name without case") << "ALPHA" << QList<int> {} << QStringList {"127.1.0.9", "127.1.1.2"};
        QTest::newRow("part of an address") << "127.1.0" << QList<int> {} << QStringList {"127.1.0.10", "127.1.0.9"};
        QTest::newRow("the vendor") << "maker" << QList<int> {}
                                    << QStringList {"127.1.0.10", "127.1.0.9", "127.1.1.2", "127.0.255.1", "10.0.0.1"};
        QTest::newRow("new") << "" << QList<int> {int(TChange::New)} << QStringList {"127.0.255.1", "10.0.0.1"};
        QTest::newRow("changed") << "" << QList<int> {int(TChange::Changed)} << QStringList {"127.1.0.9"};
        QTest::newRow("gone") << "" << QList<int> {int(TChange::Gone)} << QStringList {"127.3.0.1"};
        QTest::newRow("new, changed and gone")
            << "" << QList<int> {int(TChange::New), int(TChange::Changed), int(TChange::Gone)}
            << QStringList {"127.1.0.9", "127.0.255.1", "10.0.0.1", "127.3.0.1"};
        QTest::newRow("text and mark") << "delta" << QList<int> {int(TChange::New)} << QStringList {"10.0.0.1"};
    }

    // After a comparison with a list that knew .10 and .2 as they are, .9 with another user and .3.1,
    // which did not answer.
    void filter()
    {
        QFETCH(QString, text);
        QFETCH(QList<int>, marks);
        QFETCH(QStringList, addresses);
        Stack s(kHosts);
        TVendorTable vendors;
        vendors.addCsv("MA-L,001122,Maker A,x\r\n");
        s.hosts.showVendors(vendors);
        QList<TNetworkListRow> before {s.hosts.host(0).listRow(), s.hosts.host(2).listRow(), s.hosts.host(1).listRow()};
        before[2][2] = QStringLiteral("OTHER");
        before << TNetworkListRow {"127.3.0.1", "GONE", "", "WG", "", "False", "False"};
        s.hosts.compareWith(before, QStringLiteral("old.txt"));
        s.shown.setText(text);
        if (!marks.isEmpty()) {
            std::set<TChange> wanted;
            for (int m : marks)
                wanted.insert(TChange(m));
            s.shown.setMarks(wanted);
        }
        QCOMPARE(column_of(s), addresses);
        QCOMPARE(s.hosts.answered(), 5);
        // Cleared: the gone row goes, every mark too, and the filter by marks keeps nothing marked.
        s.hosts.clearComparison();
        s.shown.setText({});
        s.shown.setMarks(std::nullopt);
        QCOMPARE(s.hosts.rowCount(), 5);
        QCOMPARE(s.hosts.index(1, 0).data(MarkRole), QVariant());
    }

    // Marks and their tool tips against the file's name.
    void comparisonMarks()
    {
        Stack s({"127.1.0.1|PC1|JOHN|WG", "127.1.0.2|PC2"});
        s.hosts.compareWith({{"127.1.0.1", "PC1", "MARY", "WG", "00.11.22.AA.BB.CC", "True", "False"},
                             {"127.1.0.7", "OLD", "", "", "", "False", "False"}},
                            QStringLiteral("old.txt"));
        QCOMPARE(s.hosts.rowCount(), 3);
        QStringList tips;
        for (int r = 0; r < 3; ++r)
            tips << s.hosts.index(r, HostIP).data(Qt::ToolTipRole).toString();
        QCOMPARE(tips,
                 (QStringList {"Changed since old.txt: UserName: MARY -> JOHN", "New: not in old.txt",
                               "Gone: in old.txt, no answer now"}));
        QVERIFY(s.hosts.host(2).gone() && !s.hosts.host(2).result());
        // Twice: the earlier comparison's gone row is not kept.
        s.hosts.compareWith({}, QStringLiteral("empty.txt"));
        QCOMPARE(s.hosts.rowCount(), 2);
        QCOMPARE(s.hosts.index(0, 0).data(MarkRole).toInt(), int(TChange::New));
    }

    // The copied rows: headings, then the texts of every column, TABs between, one line a row.
    void copiedText()
    {
        Stack s({"127.1.0.10|PC10|JOHN|WG", "127.1.0.9|PC9||WG"});
        s.hosts.append(THostRow(QStringLiteral("127.1.0.11"), TResultPtr()));
        TVendorTable vendors;
        vendors.addCsv("MA-L,001122,\"Maker, Inc.\",x\r\n");
        s.hosts.showVendors(vendors);
        s.shown.sort(HostIP);
        QList<const THostRow*> rows;
        for (int r = 0; r < s.sorted.rowCount(); ++r)
            rows << &s.hosts.host(s.sorted.mapToSource(s.sorted.index(r, 0)).row());
        QCOMPARE(host_list_copy(rows),
                 QStringLiteral("IP\tCompName\tUserName\tWorkGroup\tMAC\tVendor\tFileService\tMasterBrowser\n"
                                "127.1.0.9\tPC9\t\tWG\t00.11.22.AA.BB.CC\tMaker, Inc.\tTrue\tFalse\n"
                                "127.1.0.10\tPC10\tJOHN\tWG\t00.11.22.AA.BB.CC\tMaker, Inc.\tTrue\tFalse\n"
                                "127.1.0.11\t\t\t\t\t\tFalse\tFalse\n"));
    }

    // Removing a row gives its result back (the sanitizer build sees a leak or a double release).
    void removedRowsReleaseResults()
    {
        Stack s(kHosts);
        QVERIFY(s.hosts.removeRows(1, 3));
        QCOMPARE(texts_of(s.hosts, HostIP), (QStringList {"127.1.0.10", "10.0.0.1"}));
        QVERIFY(!s.hosts.removeRows(1, 2));
        s.hosts.clear();
        QCOMPARE(s.shown.rowCount(), 0);
    }

    // A host reporting zeros gets its neighbour's address later; the vendor follows it.
    void neighbourFilledInLater()
    {
        THostTableModel hosts;
        hosts.append(host("127.1.0.1|PC1", {}));
        TVendorTable vendors;
        vendors.addCsv("MA-L,0A0B0C,Late Maker,x\r\n");
        hosts.showVendors(vendors);
        QCOMPARE(hosts.index(0, HostVendor).data().toString(), QString());
        hosts.setNeighbour(QStringLiteral("127.1.0.1"), {0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x03}, &vendors);
        QCOMPARE(hosts.index(0, HostVendor).data().toString(), QStringLiteral("Late Maker"));
        QCOMPARE(hosts.index(0, HostVendor).data(Qt::ToolTipRole).toString(),
                 QStringLiteral("Late Maker\nAdapter address from the neighbour table: 0A.0B.0C.01.02.03"));
        QCOMPARE(hosts.index(0, HostMAC).data().toString(), QStringLiteral("00.00.00.00.00.00"));

        // Asked for behind a gone row; compared again before the answer, that row goes and others
        // come: the answer still reaches its own host.
        hosts.compareWith({{"127.1.0.7", "OLD", "", "", "", "False", "False"}}, QStringLiteral("a.txt"));
        hosts.append(host("127.1.0.2|PC2", {}));
        QCOMPARE(hosts.rowOf(QStringLiteral("127.1.0.2")), 2);
        hosts.compareWith({{"127.1.0.8", "OLD", "", "", "", "False", "False"},
                           {"127.1.0.9", "OLD", "", "", "", "False", "False"}},
                          QStringLiteral("b.txt"));
        hosts.setNeighbour(QStringLiteral("127.1.0.2"), {0x0A, 0x0B, 0x0C, 0x04, 0x05, 0x06}, &vendors);
        QCOMPARE(texts_of(hosts, HostVendor), (QStringList {"Late Maker", "Late Maker", "", ""}));
        QVERIFY(hosts.host(1).neighbour && !hosts.host(2).neighbour);
        // A gone host is no host to give an address to.
        hosts.setNeighbour(QStringLiteral("127.1.0.9"), {0x0A, 0x0B, 0x0C, 0x04, 0x05, 0x06}, &vendors);
        QVERIFY(!hosts.host(3).neighbour);
    }

    // Hosts that answer after "Compare with saved list": marked as they come; one the list gave as
    // gone takes that row's place; csv writes each row's own mark.
    void lateRowsCompared_data()
    {
        QTest::addColumn<QString>("late");
        QTest::addColumn<QStringList>("marks"); // "address mark" in the model's order
        QTest::newRow("a host of the list, as it was")
            << "127.1.0.5|PC5" << QStringList {"127.1.0.1 same", "127.1.0.2 new", "127.1.0.5 same", "127.1.0.6 gone"};
        QTest::newRow("a host of the list, changed")
            << "127.1.0.6|OTHER" << QStringList {"127.1.0.1 same", "127.1.0.2 new", "127.1.0.5 gone", "127.1.0.6 changed"};
        QTest::newRow("a host not in the list") << "127.1.0.9|NEW"
                                                << QStringList {"127.1.0.1 same", "127.1.0.2 new", "127.1.0.5 gone",
                                                                "127.1.0.6 gone", "127.1.0.9 new"};
    }

    void lateRowsCompared()
    {
        QFETCH(QString, late);
        QFETCH(QStringList, marks);
        Stack s({"127.1.0.1|PC1", "127.1.0.2|PC2"});
        THostTableModel& m = s.hosts;
        const THostRow pc5 = host("127.1.0.5|PC5");
        const THostRow pc6 = host("127.1.0.6|PC6");
        m.compareWith({m.host(0).listRow(), pc5.listRow(), pc6.listRow()}, QStringLiteral("old.txt"));
        m.append(host(late));
        QStringList got;
        QList<const THostRow*> rows;
        for (int r = 0; r < m.rowCount(); ++r) {
            rows << &m.host(r);
            got << m.host(r).ip() + u' ' + (m.host(r).change ? change_word(*m.host(r).change) : QStringLiteral("none"));
        }
        QCOMPARE(got, marks);
        QStringList written; // address and Change of each csv line
        for (const QByteArray& line : host_list_csv(rows, true).trimmed().split('\n').mid(1)) {
            const QList<QByteArray> fields = line.trimmed().split(',');
            written << QString::fromUtf8(fields.first() + ' ' + fields.last());
        }
        QCOMPARE(written, marks);
        QCOMPARE(s.shown.rowCount(), marks.size()); // the views hear of it
    }

    // Every format the window saves reads back as the hosts that answered, peers' names as they came.
    void savedListReadBack_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("txt") << int(TListFormat::Txt);
        QTest::newRow("csv") << int(TListFormat::Csv);
        QTest::newRow("json") << int(TListFormat::Json);
    }

    void savedListReadBack()
    {
        QFETCH(int, format);
        Stack s({"127.1.0.1|=HYPERLINK(1)|@ME|WG", "127.1.0.2|PC2|\"A\", B|-WG"});
        s.hosts.compareWith({{"127.1.0.9", "GONE", "", "", "", "False", "False"}}, QStringLiteral("old.txt"));
        QList<const THostRow*> rows;
        for (int r = 0; r < s.hosts.rowCount(); ++r)
            rows << &s.hosts.host(r);
        const QByteArray file = format == int(TListFormat::Txt)   ? network_list_file(rows)
                              : format == int(TListFormat::Csv) ? host_list_csv(rows, true)
                                                                : host_list_json(rows, true);
        const THostListRead read = read_host_list(file);
        QVERIFY2(read.rows, qPrintable(QStringLiteral("line %1: %2").arg(read.line).arg(read.error)));
        QCOMPARE(*read.rows, (QList<TNetworkListRow> {s.hosts.host(0).listRow(), s.hosts.host(1).listRow()}));
    }

    // Copied names from the network are guarded as the csv guards them.
    void copiedPeerNames_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("line"); // the host's copied line
        const QString rest = QStringLiteral("\t00.11.22.AA.BB.CC\t\tTrue\tFalse\n");
        QTest::newRow("computer name") << "127.1.0.1|=HYPERLINK(1)||WG" << "127.1.0.1\t'=HYPERLINK(1)\t\tWG" + rest;
        QTest::newRow("user names") << "127.1.0.1|PC|+SUM(A1)|WG" << "127.1.0.1\tPC\t'+SUM(A1)\tWG" + rest;
        QTest::newRow("workgroup") << "127.1.0.1|PC||@WG" << "127.1.0.1\tPC\t\t'@WG" + rest;
        QTest::newRow("a minus inside stays") << "127.1.0.1|PC-1||WG" << "127.1.0.1\tPC-1\t\tWG" + rest;
    }

    void copiedPeerNames()
    {
        QFETCH(QString, host);
        QFETCH(QString, line);
        const THostRow row = ::host(host);
        QCOMPARE(host_list_copy({&row}).section(u'\n', 1), line);
    }

    void formatOfName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("format");
        QTest::newRow("txt") << "hosts.txt"
                             << "CSV (*.csv)" << int(TListFormat::Txt);
        QTest::newRow("csv") << "hosts.csv"
                             << "TXT (*.txt)" << int(TListFormat::Csv);
        QTest::newRow("JSON capitals") << "HOSTS.JSON"
                                       << "All (*)" << int(TListFormat::Json);
        QTest::newRow("no suffix, csv filter") << "hosts"
                                               << "CSV (*.csv)" << int(TListFormat::Csv);
        QTest::newRow("other suffix, json filter") << "hosts.list"
                                                   << "JSON (*.json)" << int(TListFormat::Json);
        QTest::newRow("other suffix, all") << "hosts.list"
                                           << "All (*)" << int(TListFormat::Txt);
        QTest::newRow("csv in a folder name") << "/tmp/x.csv/hosts"
                                              << "TXT (*.txt)" << int(TListFormat::Txt);
    }

    void formatOfName()
    {
        QFETCH(QString, name);
        QFETCH(QString, filter);
        QFETCH(int, format);
        QCOMPARE(int(list_format_for(name, filter)), format);
    }

private:
    static QStringList column_of(const Stack& s) { return texts_of(s.shown, HostIP); }
};

QTEST_GUILESS_MAIN(TestResultModel)
#include "test_result_model.moc"
