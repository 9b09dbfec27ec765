#include "records/publishrows.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

const QString NameFormat = u"yyyyMMdd-HHmmss"_s;

// A connection for one call, removed after it.
class Connection
{
public:
    explicit Connection(const QString &path)
        : m_name(u"caiji-publish-"_s + QUuid::createUuid().toString())
    {
        if (!QFileInfo(path).isFile())
            return;
        m_db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_name);
        m_db.setDatabaseName(path);
        m_db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=5000"_s);
        m_db.open();
    }
    ~Connection()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    QSqlDatabase &db() { return m_db; }

private:
    QString m_name;
    QSqlDatabase m_db;
};

bool hasTable(QSqlDatabase &db, const QString &table)
{
    QSqlQuery query(db);
    query.prepare(u"SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"_s);
    query.addBindValue(table);
    return query.exec() && query.next();
}

QDateTime timeOfName(const QString &name)
{
    return QDateTime::fromString(name.left(NameFormat.size()), NameFormat);
}

} // namespace

QString PublishRows::runName(const QString &path, const QString &fallbackName)
{
    Connection connection(path);
    QSqlDatabase &db = connection.db();
    if (!db.isOpen())
        return {};
    QSqlQuery query(db);
    if (query.exec(u"SELECT run FROM caiji_publish"_s) && query.next())
        return query.value(0).toString();
    QString name = fallbackName;
    if (name.isEmpty()) {
        const QFileInfo info(path);
        const QDateTime made = info.birthTime().isValid() ? info.birthTime() : info.lastModified();
        name = made.toString(NameFormat);
    }
    if (!query.exec(u"CREATE TABLE IF NOT EXISTS caiji_publish (run TEXT NOT NULL)"_s))
        return {};
    query.prepare(u"INSERT INTO caiji_publish (run) VALUES (?)"_s);
    query.addBindValue(name);
    return query.exec() ? name : QString();
}

std::optional<QList<PublishRow>> PublishRows::read(const QString &path, const QString &run,
                                                   qint64 afterRow, const QString &fallbackName,
                                                   QString *why)
{
    const bool traced = [&] {
        Connection connection(path);
        return connection.db().isOpen() && hasTable(connection.db(), u"caiji_rows"_s);
    }();
    QString single;
    if (!traced) {
        single = runName(path, fallbackName);
        if (single.isEmpty()) {
            *why = u"无法读写数据库%1"_s.arg(path);
            return std::nullopt;
        }
    }
    Connection connection(path);
    QSqlDatabase &db = connection.db();
    if (!db.isOpen() || !hasTable(db, u"data"_s)) {
        *why = u"没有可发布的数据库：%1"_s.arg(path);
        return std::nullopt;
    }
    QSqlQuery query(db);
    query.setForwardOnly(true);
    int skip = 1; // the columns before the fields
    if (traced) {
        skip = 3;
        query.prepare(u"SELECT d.rowid, r.run, c.started, d.* FROM data d "
                      "LEFT JOIN caiji_rows r ON r.row = d.rowid "
                      "LEFT JOIN caiji_runs c ON c.name = r.run WHERE d.rowid > ?"_s +
                      (run.isEmpty() ? QString() : u" AND r.run = ?"_s) + u" ORDER BY d.rowid"_s);
    } else {
        query.prepare(u"SELECT rowid, * FROM data WHERE rowid > ? ORDER BY rowid"_s);
    }
    query.addBindValue(afterRow);
    if (traced && !run.isEmpty())
        query.addBindValue(run);
    if (!query.exec()) {
        *why = query.lastError().text();
        return std::nullopt;
    }
    QList<PublishRow> rows;
    if (!traced && !run.isEmpty() && run != single)
        return rows;
    const int columns = query.record().count();
    const QDateTime singleTime = timeOfName(single);
    while (query.next()) {
        PublishRow row;
        row.row = query.value(0).toLongLong();
        if (traced) {
            row.run = query.value(1).toString();
            row.collected = QDateTime::fromString(query.value(2).toString(), Qt::ISODate);
            if (row.run.isEmpty())
                row.run = fallbackName.isEmpty() ? u"?"_s : fallbackName;
        } else {
            row.run = single;
            row.collected = singleTime;
        }
        if (!row.collected.isValid())
            row.collected = timeOfName(row.run);
        for (int i = skip; i < columns; ++i)
            row.fields << query.value(i).toString();
        rows << row;
    }
    if (query.lastError().isValid()) {
        *why = query.lastError().text();
        return std::nullopt;
    }
    return rows;
}

QStringList PublishRows::runsOf(const QString &path, const QString &run,
                                const QString &fallbackName)
{
    if (!run.isEmpty())
        return {run};
    {
        Connection connection(path);
        QSqlQuery query(connection.db());
        if (connection.db().isOpen() && hasTable(connection.db(), u"caiji_runs"_s) &&
            query.exec(u"SELECT name FROM caiji_runs ORDER BY rowid"_s)) {
            QStringList names;
            while (query.next())
                names << query.value(0).toString();
            return names;
        }
    }
    const QString single = runName(path, fallbackName);
    return single.isEmpty() ? QStringList() : QStringList{single};
}

qint64 PublishRows::lastRow(const QString &path)
{
    Connection connection(path);
    QSqlQuery query(connection.db());
    if (!connection.db().isOpen() || !query.exec(u"SELECT max(rowid) FROM data"_s) || !query.next())
        return 0;
    return query.value(0).toLongLong();
}

} // namespace caiji
