// Copies records into one table of a server database: columns source, task,
// run, row_id, collected and f1..fN (the task's fields as text), one row per
// record, with (source, run, row_id) as the primary key, so publishing the
// same rows again adds nothing, and tasks, workspaces and machines sharing a
// table never overwrite each other's rows. The table is made on first use; a
// task with more fields than the table gets the missing columns added, and a
// table of an earlier version gets source and task.
#pragma once

#include "records/serverdatabase.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class QSqlQuery;

namespace caiji {

struct PublishRow
{
    QString run;
    qint64 row = 0; // the record's rowid in its local database
    QDateTime collected;
    QStringList fields;
};

struct PublishOutcome
{
    qint64 added = 0;
    qint64 updated = 0;
    qint64 removed = 0;
    qint64 failed = 0; // rows the server did not take; they stay local
    QString error;     // the server's reason for the first failure

    bool isClean() const { return failed == 0 && error.isEmpty(); }
};

class RecordPublisher
{
public:
    // `table` is the task's name unless the user chose another. `source`
    // tells the rows' local database from every other (RecordStore::
    // identity()); `task` is written beside it for the reader.
    RecordPublisher(ServerConnection *connection, const QString &table, const QString &task,
                    const QString &source);

    // The waits before each new try after the connection was lost (the
    // server stopped, the network failed): a row the server refuses is not
    // tried again.
    void setRetryDelays(const QList<int> &delaysMs) { m_retryDelaysMs = delaysMs; }
    // Called while waiting between tries (a caller that keeps an event loop
    // turning); by default the thread sleeps.
    void setWait(std::function<void(int ms)> wait) { m_wait = std::move(wait); }

    // Adds rows that are new and replaces the values of rows already there.
    PublishOutcome upsert(const QList<PublishRow> &rows);
    // Makes the server's rows of `runs` those of `rows`: adds the new ones,
    // updates the ones whose values differ, deletes the ones no longer
    // there (edited and deleted in the record browser since).
    PublishOutcome sync(const QStringList &runs, const QList<PublishRow> &rows);
    // Inserts rows inside a transaction the caller holds, trying nothing
    // again: false, with `why` set, at the first failure. prepare() first.
    // Rows already there (same source, run and row) are replaced.
    bool insertInTransaction(const QList<PublishRow> &rows, QString *why);

    // Publishes what the local database at `path` holds (every run of it,
    // or only `run`, an only-new run inside it) with sync(). `fallbackName`
    // names a database of one run that has no name yet (a history run's own
    // name). A database that cannot be read gives failed = -1 and the
    // reason in error.
    static PublishOutcome publishDatabase(const ServerAddress &address, const QString &table,
                                          const QString &task, const QString &path,
                                          const QString &run, const QString &fallbackName);

    // Makes the table, or adds the columns it lacks, once per connection,
    // also while another publisher prepares the same table; false with `why`
    // set when the server refused.
    bool prepare(int fieldCount, QString *why);

    QString table() const { return m_table; }

private:
    bool upsertOnce(const QList<PublishRow> &rows, bool transaction, PublishOutcome *outcome);
    bool syncOnce(const QStringList &runs, const QList<PublishRow> &rows, PublishOutcome *outcome);
    PublishOutcome withRetries(qint64 total, const std::function<bool(PublishOutcome *)> &attempt);
    // prepare(), its reason kept as the connection's last error.
    bool prepareOrSay(int fieldCount);
    // prepare() while holding the server's lock on the table's name.
    bool prepareUnderLock(int fieldCount, QString *why);
    bool makeTable(int fieldCount, QString *why);
    // Gives a table of an earlier version, keyed by (run, row_id), the
    // columns source and task and the key (source, run, row_id); its rows
    // keep an empty source until their database publishes them again.
    bool addSource(QString *why);
    QString upsertStatement(int fieldCount) const;
    void bindRow(QSqlQuery &query, const PublishRow &row, int width) const;
    // Why the server cannot take the row as it is, said before it is sent;
    // empty when it can be sent.
    QString refusalBeforeSending(const PublishRow &row) const;
    // The server's refusal of the row in the user's words.
    QString refusalOf(const QSqlQuery &query, const PublishRow &row) const;

    ServerConnection *m_connection;
    QString m_table;
    QString m_task;
    QString m_source;
    int m_tableFields = -1;      // columns f1..fN the table is known to have
    qint64 m_maxPacketBytes = 0; // MySQL's max_allowed_packet; 0: no limit known
    QList<int> m_retryDelaysMs{1000, 2000, 4000, 8000};
    std::function<void(int)> m_wait;
};

} // namespace caiji
