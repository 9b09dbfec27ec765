#include "records/recordstore.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
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

// The identity of a database: made with it and kept inside it, so that the
// rows it publishes never collide with another database's.
// Why it could not be written; empty when it was.
QString writeIdentity(QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (query.exec(u"CREATE TABLE IF NOT EXISTS caiji_source (id TEXT NOT NULL)"_s) &&
        query.prepare(u"INSERT INTO caiji_source (id) VALUES (?)"_s)) {
        query.addBindValue(QUuid::createUuid().toString(QUuid::WithoutBraces));
        if (query.exec())
            return {};
    }
    return query.lastError().text();
}

QString readIdentity(QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (query.exec(u"SELECT id FROM caiji_source ORDER BY rowid LIMIT 1"_s) && query.next())
        return query.value(0).toString();
    return {};
}

// The row after the highest one the database ever held: a deleted row's
// trace stays, so its id is never given to another record.
qint64 nextRowOf(QSqlDatabase &db, bool traced)
{
    QSqlQuery query(db);
    const QString highest = traced ? u"SELECT max(coalesce((SELECT max(rowid) FROM data), 0), "
                                     "coalesce((SELECT max(row) FROM caiji_rows), 0))"_s
                                   : u"SELECT coalesce(max(rowid), 0) FROM data"_s;
    if (!query.exec(highest) || !query.next())
        return 1;
    return query.value(0).toLongLong() + 1;
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

bool RecordStore::open(const QString &path)
{
    close();
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
    return true;
}

bool RecordStore::create(const QString &path, int fieldCount, bool traced)
{
    close();
    for (const QString &suffix : {QString(), u"-wal"_s, u"-shm"_s, u"-journal"_s})
        QFile::remove(path + suffix);
    if (!open(path))
        return false;
    m_fieldCount = std::max(0, fieldCount);
    if (m_fieldCount == 0) {
        m_lastError = u"没有字段（uc为0）"_s; // a table needs at least one column
        return false;
    }
    QStringList columns;
    for (int i = 0; i < m_fieldCount; ++i)
        columns << columnName(i) + u" TEXT"_s;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    m_hasTable = query.exec(u"CREATE TABLE data ("_s + columns.join(u',') + u')');
    m_nextRowId = 1;
    if (!m_hasTable) {
        m_lastError = query.lastError().text();
        return false;
    }
    if (!traced)
        return true;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    const QString identityError = writeIdentity(db);
    m_hasTable = identityError.isEmpty() &&
                 query.exec(u"CREATE TABLE caiji_runs (name TEXT PRIMARY KEY, started TEXT, "
                            "ended TEXT, failures INTEGER)"_s) &&
                 query.exec(u"CREATE TABLE caiji_rows (row INTEGER PRIMARY KEY, run TEXT NOT "
                            "NULL, page TEXT NOT NULL, record BLOB NOT NULL)"_s) &&
                 query.exec(u"CREATE INDEX caiji_rows_run ON caiji_rows (run)"_s);
    if (!m_hasTable)
        m_lastError = identityError.isEmpty() ? query.lastError().text() : identityError;
    return m_hasTable && prepareTrace();
}

bool RecordStore::continueExisting(const QString &path, int fieldCount, QString *why)
{
    close();
    if (!QFileInfo(path).isFile()) {
        *why = u"还没有数据库"_s;
        return false;
    }
    if (!open(path)) {
        *why = m_lastError;
        return false;
    }
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    int columns = 0;
    bool traced = false;
    if (query.exec(u"SELECT name FROM pragma_table_info('data')"_s)) {
        while (query.next())
            ++columns;
    }
    if (query.exec(u"SELECT count(*) FROM sqlite_master WHERE name IN "
                   "('caiji_runs', 'caiji_rows')"_s) &&
        query.next())
        traced = query.value(0).toInt() == 2;
    query.finish();
    if (columns == 0)
        *why = u"数据库无法读取或没有记录表"_s;
    else if (columns != fieldCount)
        *why = u"数据库有%1个字段，任务现在是%2个"_s.arg(columns).arg(fieldCount);
    else if (!traced)
        *why = u"它不是只采新内容的采集建的，没有记下每条记录来自哪个页面"_s;
    if (columns == 0 || columns != fieldCount || !traced) {
        close();
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    // Databases made before they had an identity get theirs now.
    if (readIdentity(db).isEmpty()) {
        if (const QString error = writeIdentity(db); !error.isEmpty()) {
            *why = u"无法写入数据库：%1"_s.arg(error);
            close();
            return false;
        }
    }
    m_fieldCount = fieldCount;
    m_hasTable = true;
    m_nextRowId = nextRowOf(db, true);
    return prepareTrace();
}

bool RecordStore::prepareTrace()
{
    m_trace = std::make_unique<QSqlQuery>(QSqlDatabase::database(m_connection, false));
    if (m_trace->prepare(u"INSERT OR REPLACE INTO caiji_rows (row, run, page, record) "
                         "VALUES (?, ?, ?, ?)"_s))
        return true;
    m_lastError = m_trace->lastError().text();
    m_trace.reset();
    m_hasTable = false;
    return false;
}

QString RecordStore::startRun(const QStringList &takenElsewhere)
{
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    const QDateTime now = QDateTime::currentDateTime();
    const QString stem = now.toString(u"yyyyMMdd-HHmmss"_s);
    QSet<QString> taken(takenElsewhere.cbegin(), takenElsewhere.cend());
    query.prepare(u"SELECT name FROM caiji_runs WHERE name LIKE ?"_s);
    query.bindValue(0, QString(stem + u'%'));
    if (query.exec()) {
        while (query.next())
            taken.insert(query.value(0).toString());
    }
    m_run = stem;
    for (int n = 2; taken.contains(m_run); ++n)
        m_run = stem + u'-' + QString::number(n); // runs of the same second
    query.prepare(u"INSERT INTO caiji_runs (name, started) VALUES (?, ?)"_s);
    query.bindValue(0, m_run);
    query.bindValue(1, now.toString(Qt::ISODate));
    query.exec();
    return m_run;
}

void RecordStore::finishRun(qint64 failures)
{
    if (m_run.isEmpty() || !isOpen())
        return;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(u"UPDATE caiji_runs SET ended = ?, failures = ? WHERE name = ?"_s);
    query.addBindValue(QDateTime::currentDateTime().toString(Qt::ISODate));
    query.addBindValue(failures);
    query.addBindValue(m_run);
    query.exec();
}

QSet<QString> RecordStore::storedPages() const
{
    QSet<QString> pages;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (query.exec(u"SELECT r.page FROM caiji_rows r JOIN data d ON d.rowid = r.row "
                   "WHERE r.page <> ''"_s)) {
        while (query.next())
            pages.insert(query.value(0).toString());
    }
    return pages;
}

QSet<QByteArray> RecordStore::storedRecords() const
{
    QSet<QByteArray> records;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (query.exec(u"SELECT r.record FROM caiji_rows r JOIN data d ON d.rowid = r.row"_s)) {
        while (query.next())
            records.insert(query.value(0).toByteArray());
    }
    return records;
}

QByteArray RecordStore::recordKey(const QString &recordLine)
{
    return QCryptographicHash::hash(recordLine.toUtf8(), QCryptographicHash::Md5);
}

bool RecordStore::append(const QString &recordLine, const QString &page)
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
        // The row id is given, never left to SQLite, which would hand a
        // deleted last row's id to the next record.
        QStringList columns{u"rowid"_s}, marks{u"?"_s};
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
    const qint64 row = m_nextRowId;
    query->bindValue(0, row);
    for (int i = 0; i < values.size(); ++i)
        query->bindValue(i + 1, values[i]);
    if (!m_trace) {
        if (!query->exec()) {
            m_lastError = query->lastError().text();
            m_busy = isBusyError(query->lastError());
            return false;
        }
        m_lastRowId = row;
        ++m_nextRowId;
        return true;
    }
    // The row and its trace are one commit: a row is never of no run.
    if (!db.transaction()) {
        m_lastError = db.lastError().text();
        m_busy = isBusyError(db.lastError());
        return false;
    }
    const auto fail = [&](const QSqlError &error) {
        m_lastError = error.text();
        m_busy = isBusyError(error);
        db.rollback();
        return false;
    };
    if (!query->exec())
        return fail(query->lastError());
    m_trace->bindValue(0, row);
    m_trace->bindValue(1, m_run.isNull() ? u""_s : m_run);
    m_trace->bindValue(2, page.isNull() ? u""_s : page); // a null string binds as NULL
    m_trace->bindValue(3, recordKey(recordLine));
    if (!m_trace->exec())
        return fail(m_trace->lastError());
    if (!db.commit())
        return fail(db.lastError());
    m_lastRowId = row;
    ++m_nextRowId;
    return true;
}

QString RecordStore::identity(const QString &path)
{
    OperationConnection connection(path);
    if (!connection.isOpen())
        return {};
    const QString known = readIdentity(connection.db());
    if (!known.isEmpty() || !writeIdentity(connection.db()).isEmpty())
        return known;
    return readIdentity(connection.db());
}

void RecordStore::close()
{
    m_inserts.clear(); // statements go before their connection
    m_trace.reset();
    m_run.clear();
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

std::optional<QList<StoredRun>> RecordStore::runs(const QString &path)
{
    OperationConnection connection(path);
    if (!connection.isOpen())
        return std::nullopt;
    QSqlQuery query(connection.db());
    QList<StoredRun> runs;
    // A database of an older version has no runs: it is one run of its own.
    if (!query.exec(u"SELECT count(*) FROM sqlite_master WHERE name = 'caiji_runs'"_s) ||
        !query.next())
        return std::nullopt;
    if (query.value(0).toInt() == 0)
        return runs;
    if (!query.exec(u"SELECT n.name, n.started, n.ended, n.failures, (SELECT count(*) FROM "
                    "caiji_rows r JOIN data d ON d.rowid = r.row WHERE r.run = n.name) FROM "
                    "caiji_runs n ORDER BY n.started, n.rowid"_s))
        return std::nullopt;
    while (query.next()) {
        StoredRun run;
        run.name = query.value(0).toString();
        run.started = QDateTime::fromString(query.value(1).toString(), Qt::ISODate);
        run.ended = QDateTime::fromString(query.value(2).toString(), Qt::ISODate);
        run.failures = query.value(3).isNull() ? -1 : query.value(3).toLongLong();
        run.added = query.value(4).toLongLong();
        runs << run;
    }
    return runs;
}

QDateTime RecordStore::lastRunStarted(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return {};
    const std::optional<QList<StoredRun>> stored = runs(path);
    if (stored && !stored->isEmpty() && stored->last().started.isValid())
        return stored->last().started;
    return QFileInfo(path).lastModified();
}

std::optional<QList<qint64>> RecordStore::rowsOfRun(const QString &path, const QString &run)
{
    OperationConnection connection(path);
    if (!connection.isOpen())
        return std::nullopt;
    QSqlQuery query(connection.db());
    query.prepare(u"SELECT d.rowid FROM data d JOIN caiji_rows r ON r.row = d.rowid "
                  "WHERE r.run = ? ORDER BY d.rowid"_s);
    query.addBindValue(run);
    if (!query.exec())
        return std::nullopt;
    QList<qint64> rows;
    while (query.next())
        rows << query.value(0).toLongLong();
    return rows;
}

bool RecordStore::updateRow(const QString &path, qint64 rowId, const QMap<int, QString> &values)
{
    OperationConnection connection(path);
    if (!connection.isOpen())
        return false;
    QStringList assignments;
    for (auto it = values.begin(); it != values.end(); ++it)
        assignments << columnName(it.key()) + u" = ?"_s;
    // With nothing to write, the row must still be there.
    QSqlQuery query(connection.db());
    query.prepare(values.isEmpty()
                      ? u"SELECT rowid FROM data WHERE rowid = ?"_s
                      : u"UPDATE data SET "_s + assignments.join(u',') + u" WHERE rowid = ?"_s);
    for (const QString &value : values)
        query.addBindValue(value);
    query.addBindValue(rowId);
    if (!query.exec())
        return false;
    return values.isEmpty() ? query.next() : query.numRowsAffected() == 1;
}

bool RecordStore::removeRow(const QString &path, qint64 rowId)
{
    OperationConnection connection(path);
    if (!connection.isOpen())
        return false;
    QSqlQuery query(connection.db());
    query.prepare(u"DELETE FROM data WHERE rowid = ?"_s);
    query.addBindValue(rowId);
    return query.exec() && query.numRowsAffected() == 1;
}

} // namespace caiji
