// The inventory on a PostgreSQL server of the test's own: the event rules, two scanners writing at
// once, and the server killed in the middle of a survey.

#include "InventoryCases.h"
#include "PgServer.h"
#include "TestSupport.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include <memory>
#include <thread>

using namespace corvane::test;
using namespace corvane::inventory;

namespace {

// Devices 10.0.x.y with MACs 00.1B.21.00.x.y, one name each.
TSurveyRecord big_survey(int size, const QString& scanner, qint64 when)
{
    QString text = QStringLiteral("10.0.0.0-10.0.255.255;");
    for (int i = 1; i <= size; ++i)
        text += QStringLiteral(" 10.0.%1.%2 00.1B.21.00.%3.%4 host-%5,")
                    .arg(i >> 8)
                    .arg(i & 0xFF)
                    .arg(i >> 8, 2, 16, QLatin1Char('0'))
                    .arg(i & 0xFF, 2, 16, QLatin1Char('0'))
                    .arg(i);
    return parse_survey(text, when, scanner);
}

} // namespace

class TestInventoryPg : public QObject
{
    Q_OBJECT

    std::unique_ptr<PgServer> m_server;
    int m_schema = 0;

    // A user with a schema of its own for each case (its tables go there), so each starts empty.
    QString freshUrl()
    {
        const QString name = QStringLiteral("case%1").arg(++m_schema);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("admin"));
        const auto url = parse_db_url(m_server->url());
        db.setHostName(url->host);
        db.setPort(url->port);
        db.setUserName(url->user);
        db.setDatabaseName(url->database);
        bool made = db.open() && QSqlQuery(db).exec(QStringLiteral("CREATE ROLE %1 LOGIN").arg(name))
            && QSqlQuery(db).exec(QStringLiteral("CREATE SCHEMA AUTHORIZATION ") + name);
        if (!made)
            qWarning() << db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("admin"));
        if (!made)
            return {};
        return m_server->url().replace(QLatin1String("corvane@"), name + u'@');
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (PgServer::binDir().isEmpty())
            CORVANE_SKIP_OR_FAIL("needs PostgreSQL's initdb and pg_ctl (Debian: postgresql)");
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
            CORVANE_SKIP_OR_FAIL("needs Qt's PostgreSQL driver (Debian: libqt6sql6-psql)");
        m_server = std::make_unique<PgServer>();
        const QString why = m_server->start();
        QVERIFY2(why.isEmpty(), qPrintable(why));
    }
    void cleanupTestCase() { m_server.reset(); }

    void event_rules_data() { corvane::test::event_rules_data(); }
    void event_rules()
    {
        const QString url = freshUrl();
        QVERIFY(!url.isEmpty());
        check_event_rules(url);
    }

    void big_surveys_data() { corvane::test::big_surveys_data(); }
    void big_surveys()
    {
        const QString url = freshUrl();
        QVERIFY(!url.isEmpty());
        check_big_surveys(url);
    }

    // Two scanners, each its own connection and thread, record the same 300 devices 10 times at once.
    void two_scanners()
    {
        const QString url = freshUrl();
        QVERIFY(!url.isEmpty());
        QString errors[2];
        auto scanner = [&](int which) {
            TInventory inventory;
            errors[which] = inventory.open(url);
            for (int i = 0; i < 10 && errors[which].isEmpty(); ++i)
                errors[which]
                    = inventory.record(big_survey(300, QString::number(which), 1'800'000'000 + 300 * i)).error;
        };
        std::thread a(scanner, 0), b(scanner, 1);
        a.join();
        b.join();
        QCOMPARE(errors[0], QString());
        QCOMPARE(errors[1], QString());
        TInventory inventory;
        QCOMPARE(inventory.open(url), QString());
        const auto devices = inventory.devices();
        QVERIFY(devices);
        QCOMPARE(devices->size(), std::size_t(300));
        qint64 seen = 0;
        for (const auto& d : *devices)
            seen += d.timesSeen;
        QCOMPARE(seen, qint64(6000));
        QCOMPARE(inventory.sightingCount(), qint64(6000));
    }

    // The server is killed while a large survey is being written: an error, nothing of that survey
    // kept, and once the server is back the next survey is recorded on a new connection.
    void server_killed_mid_survey()
    {
        const QString url = freshUrl();
        QVERIFY(!url.isEmpty());
        TInventory inventory;
        QCOMPARE(inventory.open(url), QString());
        QVERIFY(inventory.record(big_survey(100, QStringLiteral("s"), 1'800'000'000)).ok());
        std::thread killer([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            m_server->kill();
        });
        const TRecordResult r = inventory.record(big_survey(30000, QStringLiteral("s"), 1'800'000'300));
        killer.join();
        QVERIFY(!r.ok());
        QVERIFY2(r.error.contains(QLatin1String("not updated")), qPrintable(r.error));
        QVERIFY2(m_server->start().isEmpty(), "the server did not come back");
        const TRecordResult again = inventory.record(big_survey(100, QStringLiteral("s"), 1'800'000'600));
        QVERIFY2(again.ok(), qPrintable(again.error));
        QCOMPARE(again.events.size(), std::size_t(0)); // the 29,900 of the lost survey never were
        QCOMPARE(inventory.sightingCount(), qint64(200));
        const auto devices = inventory.devices();
        QVERIFY(devices);
        QCOMPARE(devices->size(), std::size_t(100));
    }
};

QTEST_GUILESS_MAIN(TestInventoryPg)
#include "tst_inventory_pg.moc"
