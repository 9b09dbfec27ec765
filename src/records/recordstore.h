// A task's record database: an SQLite file "data/data.mdb" with one table
// "data" of text columns 字段1..字段n, rows in insertion order. The collector
// keeps one connection for a run; the browser opens one per operation.
// A database that runs add to (only what is new) also has caiji_runs, which
// names each run that wrote into it, and caiji_rows, which says which run
// stored each row, from which page: a run that continues it leaves out what
// an earlier one stored. Other databases hold the one table.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <optional>

class QSqlQuery;

namespace caiji {

// One run's part of a database.
struct StoredRun
{
    QString name; // "yyyyMMdd-HHmmss" of its start, "-2", "-3" when two share a second
    QDateTime started;
    QDateTime ended;      // invalid while it runs, or when it never ended
    qint64 added = 0;     // its rows still in the table
    qint64 failures = -1; // as counted when it ended; -1: not known
};

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
    // `traced`: with the tables of runs and rows, so later runs can add to it.
    bool create(const QString &path, int fieldCount, bool traced = false);
    // Opens the database at `path` to add to it. False, with `why` set and
    // nothing changed, when it cannot be continued: it is missing or cannot
    // be read, has other columns than `fieldCount`, or was made before
    // rows were traced to their pages.
    bool continueExisting(const QString &path, int fieldCount, QString *why);
    // Names the run now writing into a traced database (see
    // StoredRun::name), never one of `taken` (the history's runs, which
    // `--run` names alike); its rows carry it.
    QString startRun(const QStringList &taken = {});
    // Records the end of the run and its count of failures.
    void finishRun(qint64 failures);
    // The pages and the records (by recordKey) of the rows in the table.
    QSet<QString> storedPages() const;
    QSet<QByteArray> storedRecords() const;
    static QByteArray recordKey(const QString &recordLine);

    // Stores a record line ("^" before every value) as one committed row;
    // values past the last column are dropped. False when the database
    // refused it; lastError() then says why.
    // `page` is the page whose record it is (empty for one of several
    // records cut from a page).
    bool append(const QString &recordLine, const QString &page = QString());
    QString lastError() const { return m_lastError; }
    // The last append failed only because another connection held the
    // database: the same record may be tried again later.
    bool lastFailureWasBusy() const { return m_busy; }
    // False once the file the run writes to is gone from its path (deleted,
    // or replaced by another file): what was stored in it is lost.
    bool isFileIntact() const;
    // The row the last successful append made. Row ids are never used
    // twice in one database, also after the newest row was deleted.
    qint64 lastRowId() const { return m_lastRowId; }

    // What tells the database at `path` from every other (a random id made
    // with it, or on first use for an older one, and kept inside it); empty
    // when it cannot be read or written.
    static QString identity(const QString &path);

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
    // The runs that wrote into the database, oldest first; empty for a
    // database made before runs were named.
    static std::optional<QList<StoredRun>> runs(const QString &path);
    // When the newest run of the database started (for a database without
    // runs, its last change); invalid when there is no database.
    static QDateTime lastRunStarted(const QString &path);
    // The rows the run named `run` added that are still in the table, by
    // rowid, in order.
    static std::optional<QList<qint64>> rowsOfRun(const QString &path, const QString &run);
    // update() and remove() of the row with this rowid, for a list that is
    // not every row of the table.
    static bool updateRow(const QString &path, qint64 rowId, const QMap<int, QString> &values);
    static bool removeRow(const QString &path, qint64 rowId);

    static QStringList valuesOf(const QString &recordLine);
    static QString columnName(int index);

private:
    bool open(const QString &path);
    bool prepareTrace();

    QString m_connection;
    QString m_path;
    quint64 m_device = 0;
    quint64 m_inode = 0;
    bool m_busy = false;
    // Prepared inserts by number of values, kept for the run.
    std::map<qsizetype, std::unique_ptr<QSqlQuery>> m_inserts;
    std::unique_ptr<QSqlQuery> m_trace; // the row's run and page
    QString m_run;
    int m_fieldCount = 0;
    bool m_hasTable = false;
    QString m_lastError;
    qint64 m_lastRowId = -1;
    qint64 m_nextRowId = 1;
};

} // namespace caiji
