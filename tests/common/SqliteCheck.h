#pragma once
// One query on a plain SQLite connection of the test's own, not the inventory's: what a file holds.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

namespace corvane::test {

inline QVariant sqlite_scalar(const QString& path, const QString& sql)
{
    QVariant out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(sql) && q.next())
                out = q.value(0);
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return out;
}

} // namespace corvane::test
