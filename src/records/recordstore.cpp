#include "records/recordstore.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>
#include <QVariant>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

QString newConnectionName()
{
    return u"caiji-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QSqlDatabase openDatabase(const QString &connection, const QString &path, int busyTimeoutMs = 5000)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, connection);
    db.setDatabaseName(path);
    db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT="_s + QString::number(busyTimeoutMs));
    db.open();
    return db;
}

// SQLITE_BUSY and SQLITE_LOCKED, with any extended code.
bool isBusyError(const QSqlError &error)
{
    const int code = error.nativeErrorCode().toInt();
    return (code & 0xff) == 5 || (code & 0xff) == 6;
}

std::optional<std::pair<quint64, quint64>> fileIdentity(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return std::pair<quint64, quint64>(info.st_dev, info.st_ino);
}

void removeConnection(const QString &connection)
{
    {
        QSqlDatabase db = QSqlDatabase::database(connection, false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

// One connection for the length of one browser operation.
class OperationConnection
{
public:
    explicit OperationConnection(const QString &path) : m_name(newConnectionName())
    {
        if (QFile::exists(path))
            m_db = openDatabase(m_name, path);
    }
    ~OperationConnection()
    {
        m_db = QSqlDatabase();
        removeConnection(m_name);
    }
    bool isOpen() const { return m_db.isOpen(); }
    QSqlDatabase &db() { return m_db; }

private:
    QString m_name;
    QSqlDatabase m_db;
};

std::optional<qint64> rowidAt(QSqlDatabase &db, int position)
{
    if (position < 0)
        return std::nullopt;
    QSqlQuery query(db);
    query.prepare(u"SELECT rowid FROM data ORDER BY rowid LIMIT 1 OFFSET ?"_s);
    query.addBindValue(position);
    if (!query.exec() || !query.next())
        return std::nullopt;
    return query.value(0).toLongLong();
}

QString recordLineOf(const QSqlQuery &query, int fieldCount)
{
    QString line;
    const QSqlRecord record = query.record();
    for (int k = 0; k < fieldCount; ++k)
        line += u'^' + (k < record.count() ? query.value(k).toString() : QString());
    return line;
}

} // namespace

RecordStore::RecordStore() = default;

RecordStore::~RecordStore()
{
    close();
}

QString RecordStore::columnName(int index)
{
    return u"\"字段"_s + QString::number(index + 1) + u'"';
}

QStringList RecordStore::valuesOf(const QString &recordLine)
{
    return recordLine.mid(1).split(u'^');
}

bool RecordStore::create(const QString &path, int fieldCount)
{
    close();
    for (const QString &suffix : {QString(), u"-wal"_s, u"-shm"_s, u"-journal"_s})
        QFile::remove(path + suffix);
    m_connection = newConnectionName();
    QSqlDatabase db = openDatabase(m_connection, path, RunBusyTimeoutMs);
    if (!db.isOpen()) {
        m_lastError = db.lastError().text();
        return false;
    }
    QSqlQuery pragma(db);
    pragma.exec(u"PRAGMA journal_mode=WAL"_s);
    pragma.exec(u"PRAGMA synchronous=NORMAL"_s);
    m_path = path;
    const auto identity = fileIdentity(path);
    std::tie(m_device, m_inode) = identity.value_or(std::pair<quint64, quint64>(0, 0));

    m_fieldCount = std::max(0, fieldCount);
    if (m_fieldCount == 0) {
        m_lastError = u"没有字段（uc为0）"_s; // a table needs at least one column
        return false;
    }
    QStringList columns;
    for (int i = 0; i < m_fieldCount; ++i)
        columns << columnName(i) + u" TEXT"_s;
    QSqlQuery query(db);
    m_hasTable = query.exec(u"CREATE TABLE data ("_s + columns.join(u',') + u')');
    if (!m_hasTable)
        m_lastError = query.lastError().text();
    return m_hasTable;
}

bool RecordStore::append(const QString &recordLine)
{
    m_busy = false;
    if (!m_hasTable) {
        m_lastError = u"数据库没有记录表"_s;
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.isOpen()) {
        m_lastError = u"数据库未打开"_s;
        return false;
    }
    QStringList values = valuesOf(recordLine);
    if (values.size() > m_fieldCount)
        values.resize(m_fieldCount);
    std::unique_ptr<QSqlQuery> &query = m_inserts[values.size()];
    if (!query) {
        QStringList columns, marks;
        for (int i = 0; i < values.size(); ++i) {
            columns << columnName(i);
            marks << u"?"_s;
        }
        query = std::make_unique<QSqlQuery>(db);
        if (!query->prepare(u"INSERT INTO data ("_s + columns.join(u',') + u") VALUES ("_s +
                            marks.join(u',') + u')')) {
            m_lastError = query->lastError().text();
            m_busy = isBusyError(query->lastError());
            query.reset();
            return false;
        }
    }
    for (int i = 0; i < values.size(); ++i)
        query->bindValue(i, values[i]);
    if (!query->exec()) {
        m_lastError = query->lastError().text();
        m_busy = isBusyError(query->lastError());
        return false;
    }
    m_lastRowId = query->lastInsertId().toLongLong();
    return true;
}

void RecordStore::close()
{
    m_inserts.clear(); // statements go before their connection
    if (m_connection.isEmpty())
        return;
    removeConnection(m_connection);
    m_connection.clear();
    m_hasTable = false;
    m_inode = 0;
}

bool RecordStore::isFileIntact() const
{
    if (m_connection.isEmpty() || m_inode == 0)
        return true;
    const auto identity = fileIdentity(m_path);
    return identity && identity->first == m_device && identity->second == m_inode;
}

bool RecordStore::isOpen() const
{
    return !m_connection.isEmpty() && QSqlDatabase::database(m_connection, false).isOpen();
}

std::optional<QStringList> RecordStore::readAll(const QString &path, int fieldCount)
{
    OperationConnection connection(path);
    if (!connection.isOpen())
        return std::nullopt;
    QSqlQuery query(connection.db());
    if (!query.exec(u"SELECT * FROM data ORDER BY rowid"_s))
        return std::nullopt;
    QStringList lines;
    while (query.next())
        lines << recordLineOf(query, fieldCount);
    return lines;
}

std::optional<QString> RecordStore::read(const QString &path, int fieldCount, int position)
{
    OperationConnection connection(path);
    if (!connection.isOpen())
        return std::nullopt;
    const std::optional<qint64> rowid = rowidAt(connection.db(), position);
    if (!rowid)
        return std::nullopt;
    QSqlQuery query(connection.db());
    query.prepare(u"SELECT * FROM data WHERE rowid = ?"_s);
    query.addBindValue(*rowid);
    if (!query.exec() || !query.next())
        return std::nullopt;
    return recordLineOf(query, fieldCount);
}

std::optional<QStringList> RecordStore::readRange(const QString &path, int fieldCount, int position,
                                                  int count)
{
    OperationConnection connection(path);
    if (!connection.isOpen() || position < 0 || count < 0)
        return std::nullopt;
    QSqlQuery query(connection.db());
    query.prepare(u"SELECT * FROM data ORDER BY rowid LIMIT ? OFFSET ?"_s);
    query.addBindValue(count);
    query.addBindValue(position);
    if (!query.exec())
        return std::nullopt;
    QStringList lines;
    while (query.next())
        lines << recordLineOf(query, fieldCount);
    return lines;
}

std::optional<QStringList> RecordStore::readRows(const QString &path, int fieldCount,
                                                 const QList<qint64> &rowIds)
{
    OperationConnection connection(path);
    if (!connection.isOpen())
        return std::nullopt;
    QSqlQuery query(connection.db());
    if (!query.prepare(u"SELECT * FROM data WHERE rowid = ?"_s))
        return std::nullopt;
    QStringList lines;
    for (qint64 rowId : rowIds) {
        query.bindValue(0, rowId);
        if (!query.exec())
            return std::nullopt;
        lines << (query.next() ? recordLineOf(query, fieldCount) : QString());
    }
    return lines;
}

bool RecordStore::update(const QString &path, int position, const QMap<int, QString> &values)
{
    OperationConnection connection(path);
    if (!connection.isOpen())
        return false;
    const std::optional<qint64> rowid = rowidAt(connection.db(), position);
    if (!rowid)
        return false;
    if (values.isEmpty())
        return true;
    QStringList assignments;
    for (auto it = values.begin(); it != values.end(); ++it)
        assignments << columnName(it.key()) + u" = ?"_s;
    QSqlQuery query(connection.db());
    query.prepare(u"UPDATE data SET "_s + assignments.join(u',') + u" WHERE rowid = ?"_s);
    for (const QString &value : values)
        query.addBindValue(value);
    query.addBindValue(*rowid);
    return query.exec();
}

bool RecordStore::remove(const QString &path, int position)
{
    OperationConnection connection(path);
    if (!connection.isOpen())
        return false;
    const std::optional<qint64> rowid = rowidAt(connection.db(), position);
    if (!rowid)
        return false;
    QSqlQuery query(connection.db());
    query.prepare(u"DELETE FROM data WHERE rowid = ?"_s);
    query.addBindValue(*rowid);
    return query.exec() && query.numRowsAffected() == 1;
}

std::optional<qint64> RecordStore::count(const QString &path)
{
    OperationConnection connection(path);
    if (!connection.isOpen())
        return std::nullopt;
    QSqlQuery query(connection.db());
    if (!query.exec(u"SELECT COUNT(*) FROM data"_s) || !query.next())
        return std::nullopt;
    return query.value(0).toLongLong();
}

} // namespace caiji
