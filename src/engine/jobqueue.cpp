#include "engine/jobqueue.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

// The columns a job is read with, in the order readJob() takes them.
const QString JobColumns =
    u"id, task, publish_table, every, state, worker, attempts, cycle, created, started, "
    "ended, next_at, lease_until, summary, failures, records, failed"_s;

Job::State stateOf(const QString &name)
{
    if (name == u"running")
        return Job::State::Running;
    if (name == u"done")
        return Job::State::Done;
    if (name == u"failed")
        return Job::State::Failed;
    return Job::State::Waiting;
}

QDateTime timeOf(const QVariant &value)
{
    return value.isNull() ? QDateTime() : value.toDateTime().toLocalTime();
}

Job readJob(const QSqlQuery &query)
{
    Job job;
    job.id = query.value(0).toLongLong();
    job.task = query.value(1).toString();
    job.table = query.value(2).toString();
    job.every = query.value(3).toString();
    job.state = stateOf(query.value(4).toString());
    job.worker = query.value(5).toString();
    job.attempts = query.value(6).toInt();
    job.cycle = query.value(7).toInt();
    job.created = timeOf(query.value(8));
    job.started = timeOf(query.value(9));
    job.ended = timeOf(query.value(10));
    job.nextAt = timeOf(query.value(11));
    job.leaseUntil = timeOf(query.value(12));
    job.summary = query.value(13).toString();
    job.failures = query.value(14).toString();
    job.records = query.value(15).isNull() ? -1 : query.value(15).toLongLong();
    job.failed = query.value(16).isNull() ? -1 : query.value(16).toLongLong();
    return job;
}

QString errorText(const QSqlError &error)
{
    QString text = error.databaseText().trimmed();
    return text.isEmpty() ? error.text().trimmed() : text;
}

// The claim that holds a job: bound after "WHERE id = ? AND worker = ? AND
// attempts = ? AND state = 'running'".
void bindHolder(QSqlQuery &query, const Job &job)
{
    query.addBindValue(job.id);
    query.addBindValue(job.worker);
    query.addBindValue(job.attempts);
}

const QString HeldBy = u"id = ? AND worker = ? AND attempts = ? AND state = 'running'"_s;

// When a repeating job runs next after the run that started at `started`;
// an invalid time for a job that runs once.
QDateTime nextRun(const Job &job)
{
    const std::optional<ScheduleSettings> schedule = JobQueue::schedule(job.every);
    if (!schedule)
        return {};
    return schedule->nextDue(job.started.toLocalTime(), QDateTime::currentDateTime())
        .value_or(QDateTime());
}

} // namespace

QString Job::runName() const
{
    return u"job%1-%2"_s.arg(id).arg(cycle);
}

QString Job::stateName(State state)
{
    switch (state) {
    case State::Waiting:
        return u"waiting"_s;
    case State::Running:
        return u"running"_s;
    case State::Done:
        return u"done"_s;
    case State::Failed:
        return u"failed"_s;
    }
    return {};
}

JobQueue::JobQueue(ServerConnection *connection) : m_connection(connection) {}

std::optional<ScheduleSettings> JobQueue::schedule(const QString &every)
{
    ScheduleSettings schedule;
    if (const std::optional<int> minutes = ScheduleSettings::parseEvery(every)) {
        schedule.everyMinutes = *minutes;
    } else if (const std::optional<QList<QTime>> daily = ScheduleSettings::parseDaily(every)) {
        schedule.daily = *daily;
    }
    if (!schedule.isSet())
        return std::nullopt;
    return schedule;
}

bool JobQueue::connected(QString *why)
{
    if (m_connection->isOpen())
        return true;
    if (!m_connection->open()) {
        *why = m_connection->lastError();
        return false;
    }
    // The server's notices ("already exists, skipping") are no news to a
    // worker's log.
    QSqlQuery(m_connection->database()).exec(u"SET client_min_messages TO warning"_s);
    return true;
}

bool JobQueue::exec(QSqlQuery &query, QString *why)
{
    if (query.exec())
        return true;
    *why = errorText(query.lastError());
    if (m_connection->isLost())
        m_connection->close();
    return false;
}

bool JobQueue::prepare(QString *why)
{
    if (!connected(why))
        return false;
    QSqlDatabase db = m_connection->database();
    QSqlQuery query(db);
    if (query.exec(u"SELECT to_regclass('caiji_jobs') IS NOT NULL"_s) && query.next() &&
        query.value(0).toBool())
        return true;
    // Workers starting together make the table one after the other.
    if (!db.transaction()) {
        *why = errorText(db.lastError());
        return false;
    }
    const bool made =
        query.exec(u"SELECT pg_advisory_xact_lock(hashtext('caiji_jobs'))"_s) &&
        query.exec(u"CREATE TABLE IF NOT EXISTS caiji_jobs ("
                   "id BIGSERIAL PRIMARY KEY, "
                   "task TEXT NOT NULL, "
                   "definition BYTEA NOT NULL, "
                   "settings BYTEA NOT NULL DEFAULT ''::bytea, "
                   "publish_table TEXT NOT NULL, "
                   "every TEXT NOT NULL DEFAULT '', "
                   "state TEXT NOT NULL DEFAULT 'waiting' "
                   "CHECK (state IN ('waiting', 'running', 'done', 'failed')), "
                   "worker TEXT NOT NULL DEFAULT '', "
                   "lease_until TIMESTAMPTZ, "
                   "attempts INTEGER NOT NULL DEFAULT 0, "
                   "cycle INTEGER NOT NULL DEFAULT 1, "
                   "created TIMESTAMPTZ NOT NULL DEFAULT now(), "
                   "started TIMESTAMPTZ, "
                   "ended TIMESTAMPTZ, "
                   "next_at TIMESTAMPTZ NOT NULL DEFAULT now(), "
                   "summary TEXT NOT NULL DEFAULT '', "
                   "failures TEXT NOT NULL DEFAULT '', "
                   "records BIGINT, "
                   "failed BIGINT)"_s) &&
        query.exec(u"CREATE INDEX IF NOT EXISTS caiji_jobs_due ON caiji_jobs (state, next_at)"_s);
    if (!made) {
        *why = u"无法建立作业表caiji_jobs：%1"_s.arg(errorText(query.lastError()));
        db.rollback();
        return false;
    }
    if (!db.commit()) {
        *why = errorText(db.lastError());
        db.rollback();
        return false;
    }
    return true;
}

std::optional<qint64> JobQueue::enqueue(const Job &job, QString *why)
{
    if (!connected(why))
        return std::nullopt;
    QSqlQuery query(m_connection->database());
    query.prepare(
        u"INSERT INTO caiji_jobs (task, definition, settings, publish_table, every, "
        "next_at) VALUES (?, COALESCE(?::bytea, ''::bytea), COALESCE(?::bytea, ''::bytea), ?, "
        "COALESCE(?, ''), COALESCE(?::timestamptz, now())) RETURNING id"_s);
    query.addBindValue(job.task);
    query.addBindValue(job.definition);
    query.addBindValue(job.settings);
    query.addBindValue(job.table);
    query.addBindValue(job.every);
    // A daily job waits for its first time; any other is due at once.
    const std::optional<ScheduleSettings> schedule = JobQueue::schedule(job.every);
    QDateTime first;
    if (schedule && !schedule->daily.isEmpty())
        first = schedule->nextDue({}, QDateTime::currentDateTime()).value_or(QDateTime());
    query.addBindValue(first.isValid() ? QVariant(first)
                                       : QVariant(QMetaType::fromType<QDateTime>()));
    if (!exec(query, why) || !query.next())
        return std::nullopt;
    return query.value(0).toLongLong();
}

std::optional<Job> JobQueue::claim(const QString &worker, int leaseSeconds,
                                   const QStringList &excluded, QString *why)
{
    why->clear();
    if (!connected(why))
        return std::nullopt;
    // One statement, one transaction: the row is locked by the inner SELECT
    // (other workers skip it rather than wait) and taken by the UPDATE.
    QString exclude;
    if (!excluded.isEmpty())
        exclude =
            u" AND task NOT IN ("_s + QStringList(excluded.size(), u"?"_s).join(u", "_s) + u')';
    QSqlQuery query(m_connection->database());
    query.prepare(u"UPDATE caiji_jobs SET state = 'running', worker = ?, attempts = attempts + 1, "
                  "lease_until = now() + make_interval(secs => ?), started = now(), ended = NULL "
                  "WHERE id = (SELECT id FROM caiji_jobs WHERE ((state = 'waiting' AND next_at "
                  "<= now()) OR (state = 'running' AND lease_until < now()))"_s +
                  exclude + u" ORDER BY next_at, id LIMIT 1 FOR UPDATE SKIP LOCKED) RETURNING "_s +
                  JobColumns + u", definition, settings"_s);
    query.addBindValue(worker);
    query.addBindValue(leaseSeconds);
    for (const QString &task : excluded)
        query.addBindValue(task);
    if (!exec(query, why) || !query.next())
        return std::nullopt;
    Job job = readJob(query);
    job.definition = query.value(17).toByteArray();
    job.settings = query.value(18).toByteArray();
    return job;
}

JobQueue::Lease JobQueue::renew(const Job &job, int leaseSeconds, QString *why)
{
    if (!connected(why))
        return Lease::Unknown;
    QSqlQuery query(m_connection->database());
    query.prepare(u"UPDATE caiji_jobs SET lease_until = now() + make_interval(secs => ?) WHERE "_s +
                  HeldBy);
    query.addBindValue(leaseSeconds);
    bindHolder(query, job);
    if (!exec(query, why))
        return Lease::Unknown;
    return query.numRowsAffected() == 1 ? Lease::Held : Lease::Lost;
}

std::optional<int> JobQueue::leasesRunning(QString *why)
{
    if (!connected(why))
        return std::nullopt;
    QSqlQuery query(m_connection->database());
    query.prepare(u"SELECT count(*) FROM caiji_jobs WHERE state = 'running' AND lease_until >= "
                  "now()"_s);
    if (!exec(query, why) || !query.next())
        return std::nullopt;
    return query.value(0).toInt();
}

bool JobQueue::completedByThisClaim(const Job &job)
{
    QSqlQuery query(m_connection->database());
    query.prepare(u"SELECT 1 FROM caiji_jobs WHERE id = ? AND worker = ? AND attempts = ? AND "
                  "(state = 'done' OR state <> 'running' AND cycle > ?)"_s);
    bindHolder(query, job);
    query.addBindValue(job.cycle);
    return query.exec() && query.next();
}

JobQueue::Completion JobQueue::complete(const Job &job, const JobResult &result,
                                        const QList<PublishRow> &rows, QString *why)
{
    if (!connected(why))
        return Completion::Unreachable;
    const auto failure = [&](const QString &reason) {
        *why = reason;
        if (!m_connection->isLost())
            return Completion::Refused;
        m_connection->close();
        return Completion::Unreachable;
    };
    RecordPublisher publisher(m_connection, job.table, job.task, QString::fromLatin1(RowSource));
    qsizetype fieldCount = 0;
    for (const PublishRow &row : rows)
        fieldCount = std::max(fieldCount, row.fields.size());
    if (!rows.isEmpty() && !publisher.prepare(int(fieldCount), why))
        return failure(*why);

    QSqlDatabase db = m_connection->database();
    if (!db.transaction())
        return failure(errorText(db.lastError()));
    // Rolled back before the connection is looked at: a statement in an
    // aborted transaction fails whatever the connection.
    const auto abandon = [&](const QString &reason) {
        db.rollback();
        return failure(reason);
    };
    const auto run = [&](QSqlQuery &query) {
        if (query.exec())
            return true;
        *why = errorText(query.lastError());
        return false;
    };
    // Locked first: a worker claiming the job after its lease ran out waits
    // for this transaction, or takes it before and this one publishes nothing.
    QSqlQuery query(db);
    query.prepare(u"SELECT 1 FROM caiji_jobs WHERE "_s + HeldBy + u" FOR UPDATE"_s);
    bindHolder(query, job);
    if (!run(query))
        return abandon(*why);
    if (!query.next()) {
        db.rollback();
        if (completedByThisClaim(job))
            return Completion::Done; // the commit went through, its answer did not
        *why = u"作业%1已由别的工作进程接手"_s.arg(job.id);
        return Completion::Lost;
    }
    if (!publisher.insertInTransaction(rows, why))
        return abandon(*why);
    const QDateTime next = nextRun(job);
    query.prepare(u"UPDATE caiji_jobs SET state = ?, cycle = cycle + ?, next_at = COALESCE(?, "
                  "next_at), ended = now(), lease_until = NULL, summary = COALESCE(?, ''), "
                  "failures = COALESCE(?, ''), records = ?, failed = ? WHERE id = ?"_s);
    query.addBindValue(next.isValid() ? u"waiting"_s : u"done"_s);
    query.addBindValue(next.isValid() ? 1 : 0);
    query.addBindValue(next.isValid() ? QVariant(next)
                                      : QVariant(QMetaType::fromType<QDateTime>()));
    query.addBindValue(result.summary);
    query.addBindValue(result.failures);
    query.addBindValue(result.records);
    query.addBindValue(result.failed);
    query.addBindValue(job.id);
    if (!run(query))
        return abandon(*why);
    // When the answer to the commit is lost, the next try reads back
    // whether it went through.
    if (!db.commit())
        return abandon(errorText(db.lastError()));
    return Completion::Done;
}

bool JobQueue::fail(const Job &job, const QString &reason, QString *why)
{
    if (!connected(why))
        return false;
    const QDateTime next = nextRun(job);
    QSqlQuery query(m_connection->database());
    query.prepare(u"UPDATE caiji_jobs SET state = ?, cycle = cycle + ?, next_at = COALESCE(?, "
                  "next_at), ended = now(), lease_until = NULL, summary = ?, records = NULL, "
                  "failed = NULL WHERE "_s +
                  HeldBy);
    query.addBindValue(next.isValid() ? u"waiting"_s : u"failed"_s);
    query.addBindValue(next.isValid() ? 1 : 0);
    query.addBindValue(next.isValid() ? QVariant(next)
                                      : QVariant(QMetaType::fromType<QDateTime>()));
    query.addBindValue(QString(u"失败："_s + reason));
    bindHolder(query, job);
    if (!exec(query, why))
        return false;
    if (query.numRowsAffected() != 1) {
        *why = u"作业%1已由别的工作进程接手"_s.arg(job.id);
        return false;
    }
    return true;
}

bool JobQueue::release(const Job &job, QString *why)
{
    if (!connected(why))
        return false;
    QSqlQuery query(m_connection->database());
    query.prepare(u"UPDATE caiji_jobs SET state = 'waiting', lease_until = NULL, next_at = now() "
                  "WHERE "_s +
                  HeldBy);
    bindHolder(query, job);
    if (!exec(query, why))
        return false;
    return query.numRowsAffected() == 1;
}

std::optional<QList<Job>> JobQueue::list(QString *why)
{
    if (!connected(why))
        return std::nullopt;
    QSqlQuery query(m_connection->database());
    query.setForwardOnly(true);
    query.prepare(u"SELECT "_s + JobColumns +
                  u", coalesce(lease_until < now(), false) FROM caiji_jobs ORDER BY id"_s);
    if (!exec(query, why))
        return std::nullopt;
    QList<Job> jobs;
    while (query.next()) {
        jobs << readJob(query);
        jobs.last().leaseRunOut = query.value(17).toBool();
    }
    return jobs;
}

} // namespace caiji
