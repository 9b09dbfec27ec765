// The job table that many workers share in one PostgreSQL database: tasks
// put in by `caiji enqueue` (definition and settings copied), claimed one at
// a time with SELECT … FOR UPDATE SKIP LOCKED under a lease the worker
// renews, and marked done in the transaction that publishes the job's
// records, so a job whose worker died is run again by another and its
// records are published once.
#pragma once

#include "records/recordpublisher.h"
#include "records/serverdatabase.h"
#include "tasks/schedulesettings.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

class QSqlQuery;

namespace caiji {

struct Job
{
    enum class State { Waiting, Running, Done, Failed };

    qint64 id = 0;
    QString task;
    QByteArray definition; // the task file's bytes as written (GBK too)
    QByteArray settings;   // data/settings.ini's bytes; empty: none
    QString table;         // the table its records are published into
    QString every;         // "6h", "08:00,20:00"; empty: the job runs once
    State state = State::Waiting;
    QString worker;   // the one that holds it, or ran it last
    int attempts = 0; // claims so far: with the worker, it names the holder
    int cycle = 1;    // the run of a repeating job
    QDateTime created;
    QDateTime started;
    QDateTime ended;
    QDateTime nextAt;
    QDateTime leaseUntil;
    bool leaseRunOut = false; // by the server's clock; read by list() only
    QString summary;
    QString failures;    // the run's failure list, "kind\treason\taddress" a line
    qint64 records = -1; // -1: not run yet
    qint64 failed = -1;

    // The name its records are published under: "job12-1" (job 12, first run).
    QString runName() const;
    static QString stateName(State state);
};

// What a run of a job gave.
struct JobResult
{
    QString summary;
    QString failures;
    qint64 records = 0;
    qint64 failed = 0;
};

class JobQueue
{
public:
    // How complete() went.
    enum class Completion {
        Done,        // the records are published and the job is done (or waits for its next run)
        Lost,        // another worker holds the job now: nothing was published
        Refused,     // the server refused the records or the job: nothing was published
        Unreachable, // the connection failed: nothing is known to be published; try again
    };
    // How renew() went.
    enum class Lease { Held, Lost, Unknown };

    explicit JobQueue(ServerConnection *connection);

    // Opens the connection when it is not open and makes the job table when
    // it is missing; false with `why` set.
    bool prepare(QString *why);
    // Puts in a job (task, definition, settings, table, every); its id.
    std::optional<qint64> enqueue(const Job &job, QString *why);
    // Claims the first job that waits and is due, or whose worker's lease
    // ran out, for `worker`, leaving out the tasks named in `excluded`.
    // Nothing with `why` empty when no job can be claimed.
    std::optional<Job> claim(const QString &worker, int leaseSeconds, const QStringList &excluded,
                             QString *why);
    // Extends the lease of a job this worker holds.
    Lease renew(const Job &job, int leaseSeconds, QString *why);
    // In one transaction: publishes `rows` into the job's table and marks
    // the job done (a repeating one waits for its next time, as the
    // following cycle), but only while this worker still holds it.
    Completion complete(const Job &job, const JobResult &result, const QList<PublishRow> &rows,
                        QString *why);
    // Marks a job this worker holds as failed (a repeating one waits for
    // its next time); false when it does not hold it or the server failed.
    bool fail(const Job &job, const QString &reason, QString *why);
    // Gives a job this worker holds back, to be claimed at once by any worker.
    bool release(const Job &job, QString *why);
    // Jobs some worker holds under a lease that has not run out: a worker
    // that died leaves its job so until the lease ends, and another then
    // claims it.
    std::optional<int> leasesRunning(QString *why);
    // Every job, in the order they were put in (without their task files).
    std::optional<QList<Job>> list(QString *why);

    // The schedule of `every` ("30m", "6h", "1d" or "08:00,20:00"); nothing
    // when it is none of those.
    static std::optional<ScheduleSettings> schedule(const QString &every);

    static constexpr const char *Table = "caiji_jobs";
    // The source its jobs' records are published under: run names
    // ("job12-1") are unique in the queue's database, which holds the tables.
    static constexpr const char *RowSource = "queue";

private:
    // Opens the connection when it is closed; false with `why` set.
    bool connected(QString *why);
    // Runs the statement; on failure sets `why` and closes a connection that
    // is gone, so the next call opens it anew. Not inside a transaction.
    bool exec(QSqlQuery &query, QString *why);
    // Whether the job, no longer running under this claim, was completed by
    // it (a commit whose answer was lost).
    bool completedByThisClaim(const Job &job);

    ServerConnection *m_connection;
};

} // namespace caiji
