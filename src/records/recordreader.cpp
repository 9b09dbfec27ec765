#include "records/recordreader.h"

#include "records/recordstore.h"

#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

using namespace Qt::StringLiterals;

namespace caiji {

RecordReader::RecordReader() = default;

RecordReader::~RecordReader()
{
    close();
}

void RecordReader::close()
{
    m_query.reset(); // the statement goes before its connection
    if (m_connection.isEmpty())
        return;
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
    m_connection.clear();
}

bool RecordReader::open(const QString &path, const QString &run)
{
    close();
    m_fieldCount = 0;
    m_error.clear();
    if (!QFile::exists(path)) {
        m_error = u"没有记录数据库："_s + path;
        return false;
    }
    m_connection = u"caiji-reader-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_connection);
    db.setDatabaseName(path);
    db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=5000"_s);
    if (!db.open()) {
        m_error = db.lastError().text();
        return false;
    }
    QSqlQuery columns(db);
    if (!columns.exec(u"PRAGMA table_info(data)"_s)) {
        m_error = columns.lastError().text();
        return false;
    }
    static const QRegularExpression fieldName(u"^字段[1-9][0-9]*$"_s);
    while (columns.next())
        m_fieldCount += fieldName.match(columns.value(1).toString()).hasMatch() ? 1 : 0;
    if (columns.lastError().isValid() || m_fieldCount == 0) {
        m_error =
            columns.lastError().isValid() ? columns.lastError().text() : u"数据库没有记录表"_s;
        return false;
    }
    QStringList names;
    for (int i = 0; i < m_fieldCount; ++i)
        names << RecordStore::columnName(i);
    m_query = std::make_unique<QSqlQuery>(db);
    // Forward only: a scrollable query would keep every row it has read.
    m_query->setForwardOnly(true);
    // Prepared, then run: exec(text) makes its result anew and forgets the
    // forward-only setting.
    const QString only =
        run.isEmpty() ? QString() : u" WHERE rowid IN (SELECT row FROM caiji_rows WHERE run = ?)"_s;
    if (!m_query->prepare(u"SELECT "_s + names.join(u',') + u" FROM data"_s + only +
                          u" ORDER BY rowid"_s)) {
        m_error = m_query->lastError().text();
        m_query.reset();
        return false;
    }
    if (!run.isEmpty())
        m_query->bindValue(0, run);
    if (!m_query->exec()) {
        m_error = m_query->lastError().text();
        m_query.reset();
        return false;
    }
    return true;
}

bool RecordReader::next(QStringList *values)
{
    if (!m_query)
        return false;
    if (!m_query->next()) {
        if (m_query->lastError().isValid())
            m_error = m_query->lastError().text();
        m_query.reset();
        return false;
    }
    values->resize(m_fieldCount);
    for (int i = 0; i < m_fieldCount; ++i)
        (*values)[i] = m_query->value(i).toString();
    return true;
}

} // namespace caiji
