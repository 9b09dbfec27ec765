// Reads a record database row by row for an export, so memory stays the same
// whatever the number of records. The columns are the database's own, never a
// task file's: a run keeps the columns it was collected with.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class QSqlQuery;

namespace caiji {

class RecordReader
{
public:
    RecordReader();
    ~RecordReader();
    RecordReader(const RecordReader &) = delete;
    RecordReader &operator=(const RecordReader &) = delete;

    // False (error() says why) when the file is missing, is no database or
    // has no record table. With `run`, only the rows that run stored.
    bool open(const QString &path, const QString &run = QString());
    // The number of 字段N columns of the table.
    int fieldCount() const { return m_fieldCount; }
    // The next row's fieldCount() values, NULL read as empty. False at the
    // end, and when reading failed: error() is then set.
    bool next(QStringList *values);
    QString error() const { return m_error; }

private:
    void close();

    QString m_connection;
    std::unique_ptr<QSqlQuery> m_query;
    int m_fieldCount = 0;
    QString m_error;
};

} // namespace caiji
