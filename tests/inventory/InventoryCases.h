#pragma once
// Surveys written as short texts and the event-rule table both inventory tests run, one over SQLite
// and one over a PostgreSQL server of their own.
//
// A survey: "RANGE[,RANGE]; ADDRESS MAC NAME, ..." where MAC is "-" for none and NAME may be absent.
// Its events: "KIND ADDRESS MAC NAME PREVIOUS" joined by ", ", with "-" for an empty field.

#include "inventory/Inventory.h"

#include <QStringList>
#include <QTest>

namespace corvane::test {

using namespace corvane::inventory;

inline corvane::ipv4::THostAddr addr(const QString& text)
{
    return *corvane::ipv4::parse_strict(text);
}

inline TSurveyRecord parse_survey(const QString& text, qint64 when, const QString& scanner = QStringLiteral("lab"))
{
    TSurveyRecord s;
    s.time = QDateTime::fromSecsSinceEpoch(when, Qt::UTC);
    s.scanner = scanner;
    const QString ranges = text.section(u';', 0, 0).trimmed();
    for (const QString& r : ranges.split(u',', Qt::SkipEmptyParts))
        s.ranges.push_back({addr(r.section(u'-', 0, 0).trimmed()), addr(r.section(u'-', 1, 1).trimmed())});
    for (const QString& d : text.section(u';', 1).split(u',', Qt::SkipEmptyParts)) {
        const QStringList f = d.split(u' ', Qt::SkipEmptyParts);
        corvane::discovery::TDevice device;
        device.address = addr(f.value(0));
        if (f.value(1) != QLatin1String("-")) {
            TMacAddress mac {};
            const QStringList octets = f.value(1).split(u'.');
            for (int i = 0; i < 6; ++i)
                mac[i] = static_cast<std::uint8_t>(octets.value(i).toUInt(nullptr, 16));
            device.mac = mac;
        }
        if (f.size() > 2)
            device.names.push_back({f.value(2).toUtf8(), corvane::discovery::name_source::mdns});
        s.devices.push_back(device);
    }
    return s;
}

inline QString event_text(const TEvent& e)
{
    auto dash = [](const QString& s) { return s.isEmpty() ? QStringLiteral("-") : s; };
    return QStringList {QString::fromLatin1(event_word(e.kind)), corvane::ipv4::dotted(e.address),
                        e.mac ? mac_address_text(*e.mac) : QStringLiteral("-"), dash(QString::fromUtf8(e.name.name)),
                        dash(e.previous)}
        .join(u' ');
}

// Columns: the surveys in order, the events each made, the gone-after count.
inline void event_rules_data()
{
    QTest::addColumn<QStringList>("surveys");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("goneAfter");
    const QString r = QStringLiteral("10.0.0.1-10.0.0.254");
    const QString a = QStringLiteral("10.0.0.5 00.1B.21.00.00.0D pc");
    QTest::newRow("new carries its name")
        << QStringList {r + "; " + a} << QStringList {"new 10.0.0.5 00.1B.21.00.00.0D pc -"} << 2;
    QTest::newRow("seen again: nothing") << QStringList {r + "; " + a, r + "; " + a}
                                         << QStringList {"new 10.0.0.5 00.1B.21.00.00.0D pc -", ""} << 2;
    QTest::newRow("gone after 2") << QStringList {r + "; " + a, r + ";", r + ";", r + ";"}
                                  << QStringList {"new 10.0.0.5 00.1B.21.00.00.0D pc -", "",
                                                  "gone 10.0.0.5 00.1B.21.00.00.0D pc -", ""}
                                  << 2;
    QTest::newRow("gone after 3") << QStringList {r + "; " + a, r + ";", r + ";", r + ";"}
                                  << QStringList {"new 10.0.0.5 00.1B.21.00.00.0D pc -", "", "",
                                                  "gone 10.0.0.5 00.1B.21.00.00.0D pc -"}
                                  << 3;
    QTest::newRow("missed once, seen: not gone")
        << QStringList {r + "; " + a, r + ";", r + "; " + a, r + ";"}
        << QStringList {"new 10.0.0.5 00.1B.21.00.00.0D pc -", "", "", ""} << 2;
    QTest::newRow("back after gone") << QStringList {r + "; " + a, r + ";", r + "; " + a}
                                     << QStringList {"new 10.0.0.5 00.1B.21.00.00.0D pc -",
                                                     "gone 10.0.0.5 00.1B.21.00.00.0D pc -",
                                                     "back 10.0.0.5 00.1B.21.00.00.0D pc -"}
                                     << 1;
    QTest::newRow("address changed") << QStringList {r + "; " + a, r + "; 10.0.0.9 00.1B.21.00.00.0D pc"}
                                     << QStringList {"new 10.0.0.5 00.1B.21.00.00.0D pc -",
                                                     "address-changed 10.0.0.9 00.1B.21.00.00.0D pc 10.0.0.5"}
                                     << 2;
    QTest::newRow("name changed") << QStringList {r + "; " + a, r + "; 10.0.0.5 00.1B.21.00.00.0D laptop"}
                                  << QStringList {"new 10.0.0.5 00.1B.21.00.00.0D pc -",
                                                  "name-changed 10.0.0.5 00.1B.21.00.00.0D laptop pc"}
                                  << 2;
    QTest::newRow("names silent: no change") << QStringList {r + "; " + a, r + "; 10.0.0.5 00.1B.21.00.00.0D"}
                                             << QStringList {"new 10.0.0.5 00.1B.21.00.00.0D pc -", ""} << 2;
    QTest::newRow("randomised MAC with a known name")
        << QStringList {r + "; 10.0.0.7 3A.00.00.00.00.01 phone", r + "; 10.0.0.7 5E.00.00.00.00.02 phone"}
        << QStringList {"new 10.0.0.7 3A.00.00.00.00.01 phone -",
                        "mac-changed 10.0.0.7 5E.00.00.00.00.02 phone 3A.00.00.00.00.01"}
        << 2;
    QTest::newRow("randomised MAC, unknown name: new")
        << QStringList {r + "; 10.0.0.7 3A.00.00.00.00.01 phone",
                        r + "; 10.0.0.7 3A.00.00.00.00.01 phone, 10.0.0.8 5E.00.00.00.00.02 tablet"}
        << QStringList {"new 10.0.0.7 3A.00.00.00.00.01 phone -", "new 10.0.0.8 5E.00.00.00.00.02 tablet -"} << 2;
    QTest::newRow("known name, its own MAC also present: new")
        << QStringList {r + "; " + a, r + "; " + a + ", 10.0.0.6 5E.00.00.00.00.02 pc"}
        << QStringList {"new 10.0.0.5 00.1B.21.00.00.0D pc -", "new 10.0.0.6 5E.00.00.00.00.02 pc -"} << 2;
    QTest::newRow("outside the survey's range: never gone")
        << QStringList {r + "; " + a, "10.0.1.1-10.0.1.254;", "10.0.1.1-10.0.1.254;", "10.0.1.1-10.0.1.254;"}
        << QStringList {"new 10.0.0.5 00.1B.21.00.00.0D pc -", "", "", ""} << 2;
    QTest::newRow("two ranges, one covers it")
        << QStringList {r + "; " + a, "10.0.1.1-10.0.1.254, 10.0.0.1-10.0.0.9;", "10.0.0.1-10.0.0.9;"}
        << QStringList {"new 10.0.0.5 00.1B.21.00.00.0D pc -", "", "gone 10.0.0.5 00.1B.21.00.00.0D pc -"} << 2;
    QTest::newRow("no MAC: keyed by address")
        << QStringList {"10.9.0.1-10.9.0.9; 10.9.0.2 - router", "10.9.0.1-10.9.0.9; 10.9.0.3 - router"}
        << QStringList {"new 10.9.0.2 - router -", "new 10.9.0.3 - router -"} << 2;
}

// Records each survey of the row, five minutes apart, opening the inventory anew each time.
inline void check_event_rules(const QString& url)
{
    QFETCH(QStringList, surveys);
    QFETCH(QStringList, events);
    QFETCH(int, goneAfter);
    qint64 when = 1'800'000'000;
    for (int i = 0; i < surveys.size(); ++i) {
        TInventoryOptions options;
        options.goneAfter = goneAfter;
        TInventory inventory(options);
        QCOMPARE(inventory.open(url), QString());
        const TRecordResult r = inventory.record(parse_survey(surveys[i], when += 300));
        QVERIFY2(r.ok(), qPrintable(r.error));
        QStringList got;
        for (const TEvent& e : r.events)
            got << event_text(e);
        QCOMPARE(got.join(QStringLiteral(", ")), events[i]);
    }
}

// Surveys larger than one statement takes (SQLite: 999 bound values; PostgreSQL: 30,000): every
// event and every device checked exactly.
inline void big_surveys_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("2,500 devices") << 2500;
    QTest::newRow("3,500 devices") << 3500;
}

// Devices 1..size at 10.0.x.y, MAC 00.1B.21.00.x.y, name host-N; then the second survey: every tenth
// under a randomised MAC with its name, every tenth plus five missing (gone after one), of the rest
// a third moved to 10.1.x.y and a third renamed node-N, and size / 2 new ones at 10.2.x.y.
inline void check_big_surveys(const QString& url)
{
    QFETCH(int, size);
    auto at = [](int net, int i) { return QStringLiteral("10.%1.%2.%3").arg(net).arg(i >> 8).arg(i & 0xFF); };
    auto mac = [](const char* prefix, int i) {
        return QStringLiteral("%1.%2.%3")
            .arg(QLatin1String(prefix))
            .arg(i >> 8, 2, 16, QLatin1Char('0'))
            .arg(i & 0xFF, 2, 16, QLatin1Char('0'))
            .toUpper();
    };
    const QString range = QStringLiteral("10.0.0.0-10.3.255.255;");
    QString first = range, second = range;
    QStringList firstEvents, secondEvents, gone, devices;
    for (int i = 1; i <= size; ++i) {
        const QString a = at(0, i), m = mac("00.1B.21.00", i), name = QStringLiteral("host-%1").arg(i);
        first += QStringLiteral(" %1 %2 %3,").arg(a, m, name);
        firstEvents << QStringLiteral("new %1 %2 %3 -").arg(a, m, name);
        if (i % 10 == 0) {
            const QString random = mac("02.00.00.00", i);
            second += QStringLiteral(" %1 %2 %3,").arg(a, random, name);
            secondEvents << QStringLiteral("mac-changed %1 %2 %3 %4").arg(a, random, name, m);
            devices << QStringLiteral("%1 %2 %3 2 present").arg(random, a, name);
        } else if (i % 10 == 5) {
            gone << QStringLiteral("gone %1 %2 %3 -").arg(a, m, name);
            devices << QStringLiteral("%1 %2 %3 1 gone").arg(m, a, name);
        } else if (i % 3 == 0) {
            second += QStringLiteral(" %1 %2 %3,").arg(at(1, i), m, name);
            secondEvents << QStringLiteral("address-changed %1 %2 %3 %4").arg(at(1, i), m, name, a);
            devices << QStringLiteral("%1 %2 %3 2 present").arg(m, at(1, i), name);
        } else if (i % 3 == 1) {
            const QString renamed = QStringLiteral("node-%1").arg(i);
            second += QStringLiteral(" %1 %2 %3,").arg(a, m, renamed);
            secondEvents << QStringLiteral("name-changed %1 %2 %3 %4").arg(a, m, renamed, name);
            devices << QStringLiteral("%1 %2 %3 2 present").arg(m, a, renamed);
        } else {
            second += QStringLiteral(" %1 %2 %3,").arg(a, m, name);
            devices << QStringLiteral("%1 %2 %3 2 present").arg(m, a, name);
        }
    }
    for (int j = 1; j <= size / 2; ++j) {
        const QString a = at(2, j), m = mac("00.1B.21.01", j), name = QStringLiteral("fresh-%1").arg(j);
        second += QStringLiteral(" %1 %2 %3,").arg(a, m, name);
        secondEvents << QStringLiteral("new %1 %2 %3 -").arg(a, m, name);
        devices << QStringLiteral("%1 %2 %3 1 present").arg(m, a, name);
    }
    TInventoryOptions options;
    options.goneAfter = 1;
    TInventory inventory(options);
    QCOMPARE(inventory.open(url), QString());
    const QString surveys[] = {first, second};
    const QStringList expected[] = {firstEvents, secondEvents + gone};
    for (int s = 0; s < 2; ++s) {
        const TRecordResult r = inventory.record(parse_survey(surveys[s], 1'800'000'000 + 300 * s));
        QVERIFY2(r.ok(), qPrintable(r.error));
        QStringList got;
        for (const TEvent& e : r.events)
            got << event_text(e);
        QCOMPARE(got, expected[s]);
    }
    const auto all = inventory.devices();
    QVERIFY(all);
    QStringList got;
    for (const TInventoryDevice& d : *all)
        got << QStringLiteral("%1 %2 %3 %4 %5")
                   .arg(d.mac ? mac_address_text(*d.mac) : QStringLiteral("-"), corvane::ipv4::dotted(d.lastAddress),
                        QString::fromUtf8(d.name.name), QString::number(d.timesSeen),
                        QLatin1String(d.gone ? "gone" : "present"));
    got.sort();
    devices.sort();
    QCOMPARE(got, devices);
    QCOMPARE(inventory.sightingCount(), qint64(size + size - size / 10 + size / 2));
}

} // namespace corvane::test
