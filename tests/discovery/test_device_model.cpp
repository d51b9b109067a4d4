// The devices list's model: one row per address, a device known better changes its row where it
// stands, the address sorts as a number, and a list emptied starts over.
#include "discovery/DeviceModel.h"

#include <QSignalSpy>
#include <QtTest>

using namespace corvane;
using namespace corvane::discovery;

namespace {

// "ADDRESS WORD,WORD NAME": evidence words as the list shows them, a NetBIOS name when given;
// "clear" empties the list.
TDevice device(const QString& step)
{
    static const QMap<QString, unsigned> words {{"arp", EvidenceArp},
                                                {"netbios", EvidenceNetbios},
                                                {"echo", EvidenceEcho},
                                                {"icmp-error", EvidenceIcmpError},
                                                {"neighbour", EvidenceNeighbour}};
    const QStringList f = step.split(u' ');
    TDevice d;
    d.address = *ipv4::parse_strict(f[0]);
    for (const QString& w : f.value(1).split(u',', Qt::SkipEmptyParts))
        d.evidence |= words.value(w);
    if (f.size() > 2)
        d.names.push_back({f[2].toLatin1(), name_source::netbios});
    return d;
}

QStringList column(const QAbstractItemModel& m, int c)
{
    QStringList texts;
    for (int r = 0; r < m.rowCount(); ++r)
        texts << m.index(r, c).data().toString();
    return texts;
}

} // namespace

class TestDeviceModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keyedByAddress_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("rows"); // "IP|Name|Found by" in arrival order
        QTest::addColumn<QStringList>("sorted"); // the addresses sorted by the IP heading
        QTest::addColumn<int>("inserted"); // rows added, as the views heard it
        QTest::newRow("one row per address")
            << QStringList {"10.0.0.2 arp", "10.0.0.1 echo"} << QStringList {"10.0.0.2||arp", "10.0.0.1||echo"}
            << QStringList {"10.0.0.1", "10.0.0.2"} << 2;
        QTest::newRow("known better: its row in place")
            << QStringList {"10.0.0.9 arp", "10.0.0.10 echo", "10.0.0.9 arp,netbios PC9"}
            << QStringList {"10.0.0.9|PC9|arp, netbios", "10.0.0.10||echo"} << QStringList {"10.0.0.9", "10.0.0.10"}
            << 2;
        QTest::newRow("address as a number, not as text")
            << QStringList {"10.0.0.100 echo", "9.255.255.255 echo", "10.0.0.20 echo"}
            << QStringList {"10.0.0.100||echo", "9.255.255.255||echo", "10.0.0.20||echo"}
            << QStringList {"9.255.255.255", "10.0.0.20", "10.0.0.100"} << 3;
        QTest::newRow("emptied, then the same address again")
            << QStringList {"10.0.0.5 arp", "10.0.0.6 arp", "clear", "10.0.0.6 echo", "10.0.0.6 echo,neighbour"}
            << QStringList {"10.0.0.6||echo, neighbour"} << QStringList {"10.0.0.6"} << 3;
    }

    void keyedByAddress()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, rows);
        QFETCH(QStringList, sorted);
        QFETCH(int, inserted);
        TDeviceTableModel model;
        TResultSortModel sort;
        sort.setSourceModel(&model);
        QSignalSpy added(&model, &QAbstractItemModel::rowsInserted);
        for (const QString& step : steps) {
            if (step == QLatin1String("clear"))
                model.clear();
            else
                model.update(device(step));
        }
        QStringList shown;
        for (int r = 0; r < model.rowCount(); ++r)
            shown << QStringList {model.index(r, DeviceIP).data().toString(),
                                  model.index(r, DeviceName).data().toString(),
                                  model.index(r, DeviceFoundBy).data().toString()}
                         .join(u'|');
        QCOMPARE(shown, rows);
        QCOMPARE(added.size(), inserted);
        for (int r = 0; r < model.rowCount(); ++r)
            QCOMPARE(model.rowOf(model.device(r).address), r);
        sort.sort(DeviceIP, Qt::AscendingOrder);
        QCOMPARE(column(sort, DeviceIP), sorted);
    }
};

QTEST_GUILESS_MAIN(TestDeviceModel)
#include "test_device_model.moc"
