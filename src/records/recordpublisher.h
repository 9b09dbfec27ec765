// Copies records into one table of a server database: columns run, row_id,
// collected and f1..fN (the task's fields as text), one row per record, with
// (run, row_id) as the primary key, so publishing the same rows again adds
// nothing. The table is made on first use; a task with more fields than the
// table gets the missing columns added.
#pragma once

#include "records/serverdatabase.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

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
    // `table` is the task's name unless the user chose another.
    RecordPublisher(ServerConnection *connection, const QString &table);

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
    bool insertInTransaction(const QList<PublishRow> &rows, QString *why);

    // Publishes what the local database at `path` holds (every run of it,
    // or only `run`, an only-new run inside it) with sync(). `fallbackName`
    // names a database of one run that has no name yet (a history run's own
    // name). A database that cannot be read gives failed = -1 and the
    // reason in error.
    static PublishOutcome publishDatabase(const ServerAddress &address, const QString &table,
                                          const QString &path, const QString &run,
                                          const QString &fallbackName);

    // Makes the table, or adds the columns it lacks, once per connection;
    // false with `why` set when the server refused.
    bool prepare(int fieldCount, QString *why);

    QString table() const { return m_table; }

private:
    bool upsertOnce(const QList<PublishRow> &rows, bool transaction, PublishOutcome *outcome);
    bool syncOnce(const QStringList &runs, const QList<PublishRow> &rows, PublishOutcome *outcome);
    PublishOutcome withRetries(qint64 total, const std::function<bool(PublishOutcome *)> &attempt);
    // prepare(), its reason kept as the connection's last error.
    bool prepareOrSay(int fieldCount);
    QString upsertStatement(int fieldCount) const;

    ServerConnection *m_connection;
    QString m_table;
    int m_tableFields = -1; // columns f1..fN the table is known to have
    QList<int> m_retryDelaysMs{1000, 2000, 4000, 8000};
    std::function<void(int)> m_wait;
};

} // namespace caiji
