// A task's record database: an SQLite file "data/data.mdb" with one table
// "data" of text columns 字段1..字段n, rows in insertion order. The collector
// keeps one connection for a run; the browser opens one per operation.
#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <optional>

class QSqlQuery;

namespace caiji {

class RecordStore
{
public:
    RecordStore();
    ~RecordStore();
    RecordStore(const RecordStore &) = delete;
    RecordStore &operator=(const RecordStore &) = delete;

    // Replaces any database at `path` by a new one with `fieldCount` columns
    // and keeps the connection open. False when the file or the table could
    // not be made (with 0 fields there is no table); the run goes on and
    // every append then fails.
    bool create(const QString &path, int fieldCount);

    // Stores a record line ("^" before every value) as one committed row;
    // values past the last column are dropped. False when the database
    // refused it; lastError() then says why.
    bool append(const QString &recordLine);
    QString lastError() const { return m_lastError; }
    // The last append failed only because another connection held the
    // database: the same record may be tried again later.
    bool lastFailureWasBusy() const { return m_busy; }
    // False once the file the run writes to is gone from its path (deleted,
    // or replaced by another file): what was stored in it is lost.
    bool isFileIntact() const;
    // The row the last successful append made.
    qint64 lastRowId() const { return m_lastRowId; }

    void close();
    bool isOpen() const;

    // How long the run's connection waits for a database another program
    // holds: short, because the wait blocks the event loop; the caller tries
    // the record again later.
    static constexpr int RunBusyTimeoutMs = 100;

    // Browser operations, each on a connection of its own. Nothing when the
    // file is missing or the database fails.
    static std::optional<QStringList> readAll(const QString &path, int fieldCount);
    static std::optional<QString> read(const QString &path, int fieldCount, int position);
    // Up to `count` rows from `position` on, in order.
    static std::optional<QStringList> readRange(const QString &path, int fieldCount, int position,
                                                int count);
    // The rows with these ids, in the order given; a row that is gone reads
    // as an empty line.
    static std::optional<QStringList> readRows(const QString &path, int fieldCount,
                                               const QList<qint64> &rowIds);
    static bool update(const QString &path, int position, const QMap<int, QString> &values);
    static bool remove(const QString &path, int position);
    static std::optional<qint64> count(const QString &path);

    static QStringList valuesOf(const QString &recordLine);
    static QString columnName(int index);

private:
    QString m_connection;
    QString m_path;
    quint64 m_device = 0;
    quint64 m_inode = 0;
    bool m_busy = false;
    // Prepared inserts by number of values, kept for the run.
    std::map<qsizetype, std::unique_ptr<QSqlQuery>> m_inserts;
    int m_fieldCount = 0;
    bool m_hasTable = false;
    QString m_lastError;
    qint64 m_lastRowId = -1;
};

} // namespace caiji
