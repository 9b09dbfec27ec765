#include "records/recordpublisher.h"

#include "records/publishrows.h"
#include "records/recordstore.h"

#include <QCryptographicHash>
#include <QHash>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

// Rows sent in one transaction.
constexpr qsizetype BatchRows = 500;

QString columnName(int index)
{
    return u"f"_s + QString::number(index + 1);
}

qsizetype widest(const QList<PublishRow> &rows)
{
    qsizetype width = 0;
    for (const PublishRow &row : rows)
        width = std::max(width, row.fields.size());
    return width;
}

QString errorText(const QSqlQuery &query)
{
    const QSqlError error = query.lastError();
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.text().trimmed();
    return text;
}

bool hasFourByteCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.isHighSurrogate(); });
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024 * 1024), 'f', 1) + u"MB"_s;
}

// MySQL's "Incorrect string value" (1366) and "Data too long" (1406) name
// the column: `db`.`table`.`f2` (MariaDB) or 'f2' (MySQL).
QString columnOfRefusal(const QString &text)
{
    static const QRegularExpression column(uR"(for column (?:`[^`]*`\.)*[`']?([^`'\s]+)[`']?)"_s);
    const QRegularExpressionMatch match = column.match(text);
    return match.hasMatch() ? match.captured(1) : QString();
}

} // namespace

RecordPublisher::RecordPublisher(ServerConnection *connection, const QString &table,
                                 const QString &task, const QString &source)
    : m_connection(connection), m_table(table), m_task(task), m_source(source),
      m_wait([](int ms) { QThread::msleep(ulong(ms)); })
{
}

void RecordPublisher::bindRow(QSqlQuery &query, const PublishRow &row, int width) const
{
    query.addBindValue(m_source);
    query.addBindValue(m_task);
    query.addBindValue(row.run);
    query.addBindValue(row.row);
    query.addBindValue(row.collected.isValid() ? row.collected : QDateTime::currentDateTime());
    for (int i = 0; i < width; ++i)
        query.addBindValue(row.fields.value(i, u""_s));
}

QString RecordPublisher::refusalBeforeSending(const PublishRow &row) const
{
    if (m_maxPacketBytes <= 0)
        return {};
    // The statement's packet holds every value, and a little more.
    qint64 bytes = 1024 + (m_source.size() + m_task.size() + row.run.size()) * 4;
    for (const QString &field : row.fields)
        bytes += field.toUtf8().size() + 9;
    if (bytes <= m_maxPacketBytes)
        return {};
    return u"第%1行（%2）：记录有%3，超过服务器一次能收的%4（max_allowed_packet）"_s.arg(row.row)
        .arg(row.run, megabytes(bytes), megabytes(m_maxPacketBytes));
}

QString RecordPublisher::refusalOf(const QSqlQuery &query, const PublishRow &row) const
{
    const QString text = errorText(query);
    const QString prefix = u"第%1行（%2）："_s.arg(row.row).arg(row.run);
    const int code = query.lastError().nativeErrorCode().toInt();
    const QString column = columnOfRefusal(text);
    if (m_connection->address().kind != ServerAddress::Kind::MySql || code != 1366 ||
        column.isEmpty())
        return prefix + text;
    // The column's character set says why: utf8mb3 holds no four-byte
    // character (emoji, the rarer CJK), latin1 no Chinese at all.
    QSqlQuery charset(m_connection->database());
    charset.prepare(u"SELECT CHARACTER_SET_NAME FROM information_schema.COLUMNS WHERE "
                    "TABLE_SCHEMA = DATABASE() AND TABLE_NAME = ? AND COLUMN_NAME = ?"_s);
    charset.addBindValue(m_table);
    charset.addBindValue(column);
    const QString set = charset.exec() && charset.next() ? charset.value(0).toString() : QString();
    const qsizetype index = column.startsWith(u'f') ? column.mid(1).toInt() - 1 : -1;
    const bool fourByte = set.startsWith(u"utf8"_s) && set != u"utf8mb4" &&
                          (index < 0 ? true : hasFourByteCharacter(row.fields.value(index)));
    return prefix + (fourByte
                         ? u"列%1不能存四字节字符（%2）"_s.arg(column, set)
                         : u"列%1不能存这些字符（%2）"_s.arg(column, set.isEmpty() ? text : set));
}

bool RecordPublisher::prepare(int fieldCount, QString *why)
{
    if (m_tableFields >= fieldCount)
        return true;
    // A program that changes the table without our lock may still come
    // first: the second look finds its change made.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (prepareUnderLock(fieldCount, why))
            return true;
        if (m_connection->isLost())
            return false;
    }
    return false;
}

bool RecordPublisher::prepareUnderLock(int fieldCount, QString *why)
{
    QSqlDatabase db = m_connection->database();
    const bool postgres = m_connection->address().kind == ServerAddress::Kind::PostgreSql;
    // Another publisher may make or change the same table at this moment:
    // one at a time, each looking at the table anew once it holds the lock.
    const QString lockName =
        u"caiji-"_s +
        QString::fromLatin1(
            QCryptographicHash::hash(m_table.toUtf8(), QCryptographicHash::Sha1).toHex().left(32));
    if (postgres && !db.transaction()) {
        *why = u"无法建立数据表%1：%2"_s.arg(m_table, db.lastError().text());
        return false;
    }
    QSqlQuery lock(db);
    lock.prepare(postgres ? u"SELECT pg_advisory_xact_lock(hashtext(?))"_s
                          : u"SELECT GET_LOCK(?, 60)"_s);
    lock.addBindValue(lockName);
    if (!lock.exec() || !lock.next() || (!postgres && lock.value(0).toInt() != 1)) {
        *why = u"无法建立数据表%1：%2"_s.arg(m_table, errorText(lock));
        if (postgres)
            db.rollback();
        return false;
    }
    const bool prepared = makeTable(fieldCount, why);
    if (postgres) {
        if (!prepared || !db.commit()) {
            if (prepared)
                *why = u"无法建立数据表%1：%2"_s.arg(m_table, db.lastError().text());
            db.rollback();
            m_tableFields = -1;
            return false;
        }
    } else {
        lock.prepare(u"SELECT RELEASE_LOCK(?)"_s);
        lock.addBindValue(lockName);
        lock.exec();
    }
    return prepared;
}

bool RecordPublisher::makeTable(int fieldCount, QString *why)
{
    const ServerAddress &address = m_connection->address();
    const bool postgres = address.kind == ServerAddress::Kind::PostgreSql;
    const QString table = address.quoted(m_table);
    QSqlQuery query(m_connection->database());
    const QString fieldType = postgres ? u" TEXT"_s : u" LONGTEXT"_s;
    QStringList columns{
        postgres ? u"source TEXT NOT NULL DEFAULT ''"_s
                 : u"source VARCHAR(40) NOT NULL DEFAULT ''"_s,
        postgres ? u"task TEXT NOT NULL DEFAULT ''"_s : u"task VARCHAR(255) NOT NULL DEFAULT ''"_s,
        postgres ? u"run TEXT NOT NULL"_s : u"run VARCHAR(64) NOT NULL"_s,
        u"row_id BIGINT NOT NULL"_s,
        postgres ? u"collected TIMESTAMPTZ NOT NULL"_s : u"collected DATETIME NOT NULL"_s};
    for (int i = 0; i < fieldCount; ++i)
        columns << columnName(i) + fieldType;
    columns << u"PRIMARY KEY (source, run, row_id)"_s;
    const QString create = u"CREATE TABLE IF NOT EXISTS "_s + table + u" ("_s +
                           columns.join(u", "_s) + u')' +
                           (postgres ? QString()
                                     : u" ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 "
                                       "COLLATE=utf8mb4_bin"_s);
    if (!query.exec(create) || !query.exec(u"SELECT * FROM "_s + table + u" WHERE 1 = 0"_s)) {
        *why = u"无法建立数据表%1：%2"_s.arg(m_table, errorText(query));
        return false;
    }
    const QSqlRecord record = query.record();
    for (const char *needed : {"run", "row_id", "collected"}) {
        if (record.indexOf(QLatin1StringView(needed)) < 0) {
            *why = u"数据表%1已有，但没有%2列，不是本程序建立的"_s.arg(m_table,
                                                                       QLatin1StringView(needed));
            return false;
        }
    }
    if (record.indexOf(u"source"_s) < 0 && !addSource(why))
        return false;
    // A task given more fields since the table was made.
    for (int i = 0; i < fieldCount; ++i) {
        if (record.indexOf(columnName(i)) >= 0)
            continue;
        if (!query.exec(u"ALTER TABLE "_s + table + u" ADD COLUMN "_s + columnName(i) +
                        fieldType)) {
            *why = u"无法给数据表%1加上%2列：%3"_s.arg(m_table, columnName(i), errorText(query));
            return false;
        }
    }
    if (!postgres && query.exec(u"SELECT @@max_allowed_packet"_s) && query.next())
        m_maxPacketBytes = query.value(0).toLongLong();
    m_tableFields = fieldCount;
    return true;
}

bool RecordPublisher::addSource(QString *why)
{
    const ServerAddress &address = m_connection->address();
    const QString table = address.quoted(m_table);
    QSqlQuery query(m_connection->database());
    QString alter;
    if (address.kind == ServerAddress::Kind::PostgreSql) {
        query.prepare(u"SELECT conname FROM pg_constraint WHERE conrelid = to_regclass(?) AND "
                      "contype = 'p'"_s);
        query.addBindValue(table);
        if (!query.exec()) {
            *why = u"无法给数据表%1加上source列：%2"_s.arg(m_table, errorText(query));
            return false;
        }
        const QString key = query.next() ? query.value(0).toString() : QString();
        alter = u"ALTER TABLE "_s + table +
                u" ADD COLUMN source TEXT NOT NULL DEFAULT '', "
                "ADD COLUMN task TEXT NOT NULL DEFAULT ''"_s +
                (key.isEmpty() ? QString() : u", DROP CONSTRAINT "_s + address.quoted(key)) +
                u", ADD PRIMARY KEY (source, run, row_id)"_s;
    } else {
        alter = u"ALTER TABLE "_s + table +
                u" ADD COLUMN source VARCHAR(40) NOT NULL DEFAULT '' FIRST, "
                "ADD COLUMN task VARCHAR(255) NOT NULL DEFAULT '' AFTER source, "
                "DROP PRIMARY KEY, ADD PRIMARY KEY (source, run, row_id)"_s;
    }
    if (!query.exec(alter)) {
        *why = u"无法给数据表%1加上source列：%2"_s.arg(m_table, errorText(query));
        return false;
    }
    return true;
}

bool RecordPublisher::prepareOrSay(int fieldCount)
{
    QString why;
    if (prepare(fieldCount, &why))
        return true;
    m_connection->setLastError(why);
    return false;
}

QString RecordPublisher::upsertStatement(int fieldCount) const
{
    const ServerAddress &address = m_connection->address();
    QStringList names{u"source"_s, u"task"_s, u"run"_s, u"row_id"_s, u"collected"_s};
    QStringList assignments;
    QStringList mine;
    QStringList theirs;
    QStringList updated{u"task"_s};
    for (int i = 0; i < fieldCount; ++i) {
        names << columnName(i);
        updated << columnName(i);
    }
    for (const QString &name : updated) {
        if (address.kind == ServerAddress::Kind::PostgreSql) {
            assignments << name + u" = EXCLUDED."_s + name;
            mine << u"t."_s + name;
            theirs << u"EXCLUDED."_s + name;
        } else {
            assignments << name + u" = VALUES("_s + name + u')';
        }
    }
    QString statement = u"INSERT INTO "_s + address.quoted(m_table) + u" AS t ("_s +
                        names.join(u", "_s) + u") VALUES ("_s +
                        QStringList(names.size(), u"?"_s).join(u", "_s) + u')';
    if (address.kind == ServerAddress::Kind::MySql) {
        statement.replace(u" AS t ("_s, u" ("_s);
        return statement + u" ON DUPLICATE KEY UPDATE "_s + assignments.join(u", "_s);
    }
    // Only a row whose values changed is written; xmax is 0 for a new one.
    return statement + u" ON CONFLICT (source, run, row_id) DO UPDATE SET "_s +
           assignments.join(u", "_s) + u" WHERE ROW("_s + mine.join(u", "_s) +
           u") IS DISTINCT FROM ROW("_s + theirs.join(u", "_s) + u") RETURNING (xmax = 0)"_s;
}

bool RecordPublisher::upsertOnce(const QList<PublishRow> &rows, bool transaction,
                                 PublishOutcome *outcome)
{
    const int width = int(widest(rows));
    if (!prepareOrSay(width))
        return false;
    QSqlDatabase db = m_connection->database();
    const bool postgres = m_connection->address().kind == ServerAddress::Kind::PostgreSql;
    QSqlQuery query(db);
    if (!query.prepare(upsertStatement(width))) {
        m_connection->setLastError(errorText(query));
        return false;
    }
    if (transaction && !db.transaction()) {
        m_connection->setLastError(db.lastError().text());
        return false;
    }
    PublishOutcome done;
    const auto refuse = [&done](const QString &reason) {
        ++done.failed;
        if (done.error.isEmpty())
            done.error = reason;
    };
    for (const PublishRow &row : rows) {
        // A row the server would drop the connection for fails alone, and
        // the rest of the batch goes.
        if (const QString tooLarge = refusalBeforeSending(row); !tooLarge.isEmpty()) {
            refuse(tooLarge);
            continue;
        }
        bindRow(query, row, width);
        if (!query.exec()) {
            const QString error = errorText(query);
            if (transaction) {
                db.rollback();
                if (m_connection->isLost()) {
                    m_connection->setLastError(error);
                    return false;
                }
                // A refused row aborts the batch: each row alone, so only
                // the refused ones stay behind.
                return upsertOnce(rows, false, outcome);
            }
            if (m_connection->isLost()) {
                m_connection->setLastError(error);
                return false;
            }
            refuse(refusalOf(query, row));
            continue;
        }
        if (postgres) {
            if (query.next())
                ++(query.value(0).toBool() ? done.added : done.updated);
        } else {
            const int affected = query.numRowsAffected();
            if (affected == 1)
                ++done.added;
            else if (affected == 2)
                ++done.updated;
        }
    }
    if (transaction && !db.commit()) {
        m_connection->setLastError(db.lastError().text());
        db.rollback();
        return false;
    }
    outcome->added += done.added;
    outcome->updated += done.updated;
    outcome->failed += done.failed;
    if (outcome->error.isEmpty())
        outcome->error = done.error;
    return true;
}

PublishOutcome RecordPublisher::withRetries(qint64 total,
                                            const std::function<bool(PublishOutcome *)> &attempt)
{
    for (qsizetype tried = 0;; ++tried) {
        if (m_connection->isOpen() || m_connection->open()) {
            PublishOutcome outcome;
            if (attempt(&outcome))
                return outcome;
        }
        // A server that answers refused: trying again changes nothing.
        if (m_connection->isOpen() && !m_connection->isLost())
            break;
        // The server did not answer: anew on a fresh connection, after a
        // wait.
        m_connection->close();
        m_tableFields = -1;
        if (tried >= m_retryDelaysMs.size())
            break;
        m_wait(m_retryDelaysMs[tried]);
    }
    PublishOutcome lost;
    lost.failed = total;
    lost.error = m_connection->lastError();
    return lost;
}

PublishOutcome RecordPublisher::upsert(const QList<PublishRow> &rows)
{
    PublishOutcome total;
    for (qsizetype start = 0; start < rows.size(); start += BatchRows) {
        const QList<PublishRow> batch = rows.mid(start, BatchRows);
        const PublishOutcome done = withRetries(batch.size(), [&](PublishOutcome *outcome) {
            return upsertOnce(batch, true, outcome);
        });
        total.added += done.added;
        total.updated += done.updated;
        total.failed += done.failed;
        if (total.error.isEmpty())
            total.error = done.error;
        // A server that stays away takes the rest with it.
        if (done.failed == batch.size() && done.added == 0 && m_connection->isLost()) {
            total.failed += rows.size() - start - batch.size();
            break;
        }
    }
    return total;
}

bool RecordPublisher::syncOnce(const QStringList &runs, const QList<PublishRow> &rows,
                               PublishOutcome *outcome)
{
    const int width = int(widest(rows));
    if (!prepareOrSay(width))
        return false;
    const QString table = m_connection->address().quoted(m_table);
    QSqlQuery query(m_connection->database());
    query.setForwardOnly(true);
    const auto failed = [&] {
        m_connection->setLastError(errorText(query));
        return false;
    };
    QStringList columns{u"run"_s, u"row_id"_s};
    for (int i = 0; i < width; ++i)
        columns << columnName(i);
    QHash<QString, QHash<qint64, QStringList>> stored;
    for (const QString &run : runs) {
        // Rows an earlier version published without a source are this
        // database's when they carry one of its runs.
        if (!query.prepare(u"UPDATE "_s + table +
                           u" SET source = ?, task = ? WHERE source = '' AND run = ?"_s))
            return failed();
        query.addBindValue(m_source);
        query.addBindValue(m_task);
        query.addBindValue(run);
        if (!query.exec() || !query.prepare(u"SELECT "_s + columns.join(u", "_s) + u" FROM "_s +
                                            table + u" WHERE source = ? AND run = ?"_s))
            return failed();
        query.addBindValue(m_source);
        query.addBindValue(run);
        if (!query.exec())
            return failed();
        QHash<qint64, QStringList> &ofRun = stored[run];
        while (query.next()) {
            QStringList values;
            for (int i = 0; i < width; ++i)
                values << query.value(2 + i).toString();
            ofRun.insert(query.value(1).toLongLong(), values);
        }
    }
    QList<PublishRow> changed;
    for (const PublishRow &row : rows) {
        QHash<qint64, QStringList> &ofRun = stored[row.run];
        const auto there = ofRun.constFind(row.row);
        QStringList values = row.fields;
        while (values.size() < width)
            values << QString();
        if (there == ofRun.cend() || *there != values)
            changed << row;
        ofRun.remove(row.row);
    }
    if (!changed.isEmpty() && !upsertOnce(changed, true, outcome))
        return false;
    // What is left on the server was deleted here.
    QSqlDatabase db = m_connection->database();
    if (!query.prepare(u"DELETE FROM "_s + table +
                       u" WHERE source = ? AND run = ? AND row_id = ?"_s) ||
        !db.transaction())
        return failed();
    qint64 removed = 0;
    for (auto run = stored.cbegin(); run != stored.cend(); ++run) {
        for (auto row = run->cbegin(); row != run->cend(); ++row) {
            query.addBindValue(m_source);
            query.addBindValue(run.key());
            query.addBindValue(row.key());
            if (!query.exec()) {
                m_connection->setLastError(errorText(query));
                db.rollback();
                return false;
            }
            ++removed;
        }
    }
    if (!db.commit()) {
        m_connection->setLastError(db.lastError().text());
        db.rollback();
        return false;
    }
    outcome->removed += removed;
    return true;
}

PublishOutcome RecordPublisher::sync(const QStringList &runs, const QList<PublishRow> &rows)
{
    return withRetries(rows.size(), [&](PublishOutcome *outcome) {
        *outcome = PublishOutcome();
        return syncOnce(runs, rows, outcome);
    });
}

bool RecordPublisher::insertInTransaction(const QList<PublishRow> &rows, QString *why)
{
    if (rows.isEmpty())
        return true;
    QSqlQuery query(m_connection->database());
    const int width = int(widest(rows));
    if (m_tableFields < width) {
        *why = u"数据表%1没有先准备好"_s.arg(m_table);
        return false;
    }
    if (!query.prepare(upsertStatement(width))) {
        *why = errorText(query);
        return false;
    }
    for (const PublishRow &row : rows) {
        *why = refusalBeforeSending(row);
        if (!why->isEmpty())
            return false;
        bindRow(query, row, width);
        if (!query.exec()) {
            *why = refusalOf(query, row);
            return false;
        }
    }
    return true;
}

PublishOutcome RecordPublisher::publishDatabase(const ServerAddress &address, const QString &table,
                                                const QString &task, const QString &path,
                                                const QString &run, const QString &fallbackName)
{
    PublishOutcome outcome;
    QString why;
    const std::optional<QList<PublishRow>> rows =
        PublishRows::read(path, run, 0, fallbackName, &why);
    const QStringList runs = PublishRows::runsOf(path, run, fallbackName);
    const QString source = RecordStore::identity(path);
    if (!rows || runs.isEmpty() || source.isEmpty()) {
        outcome.failed = -1;
        outcome.error = rows ? u"无法读写数据库%1"_s.arg(path) : why;
        return outcome;
    }
    ServerConnection connection(address);
    RecordPublisher publisher(&connection, table, task, source);
    return publisher.sync(runs, *rows);
}

} // namespace caiji
