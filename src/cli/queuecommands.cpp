#include "cli/queuecommands.h"

#include "cli/queueworker.h"
#include "engine/jobqueue.h"
#include "records/serverdatabase.h"
#include "tasks/instancelock.h"
#include "tasks/networksettings.h"
#include "tasks/workspace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

const QString TimeFormat = u"yyyy-MM-dd HH:mm:ss"_s;

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toString(TimeFormat) : u"-"_s;
}

QJsonValue timeJson(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODate)) : QJsonValue();
}

QJsonValue countJson(qint64 count)
{
    return count < 0 ? QJsonValue() : QJsonValue(count);
}

} // namespace

QueueCommands::QueueCommands(QTextStream &out, QTextStream &err) : m_out(out), m_err(err) {}

int QueueCommands::fail(const QString &message)
{
    m_err << "caiji: " << message << Qt::endl;
    return 2;
}

std::optional<ServerAddress> QueueCommands::queueAddress(const QString &command,
                                                         const CommandLine::Options &options)
{
    if (options.queue.isEmpty()) {
        fail(tr("%1 needs --queue postgresql://USER@HOST:PORT/DB").arg(command));
        return std::nullopt;
    }
    QString why;
    const std::optional<ServerAddress> address = ServerAddress::parse(options.queue, &why);
    if (!address) {
        fail(why);
        return std::nullopt;
    }
    if (address->kind != ServerAddress::Kind::PostgreSql) {
        fail(tr("the job queue needs PostgreSQL (postgresql://USER@HOST:PORT/DB): %1")
                 .arg(address->display()));
        return std::nullopt;
    }
    return address;
}

int QueueCommands::enqueue(const CommandLine::Options &options)
{
    const std::optional<ServerAddress> address = queueAddress(u"enqueue"_s, options);
    if (!address)
        return 2;
    if (options.positional.isEmpty())
        return fail(tr("enqueue needs at least one TASK"));
    if (!options.every.isEmpty() && !JobQueue::schedule(options.every))
        return fail(tr("--every takes 30m, 6h, 1d or 08:00,20:00, not %1").arg(options.every));
    const Workspace workspace(options.workspace);
    const QStringList known = workspace.taskNames();
    QList<Job> jobs;
    for (const QString &task : options.positional) {
        if (!known.contains(task))
            return fail(tr("no task named %1 in %2").arg(task, workspace.tasksDir()));
        Job job;
        job.task = task;
        job.table = options.table.isEmpty() ? task : options.table;
        job.every = options.every;
        QFile definition(workspace.taskFile(task));
        if (!definition.open(QIODevice::ReadOnly))
            return fail(tr("cannot read %1").arg(definition.fileName()));
        job.definition = definition.readAll();
        const QString dataDir = QFileInfo(definition.fileName()).absolutePath();
        QFile settings(NetworkSettings::fileIn(dataDir));
        if (settings.exists()) {
            if (!settings.open(QIODevice::ReadOnly))
                return fail(tr("cannot read %1").arg(settings.fileName()));
            job.settings = settings.readAll();
        }
        // Only the two files travel: a file they name must be on the worker.
        const NetworkSettings network = NetworkSettings::readAsWritten(dataDir);
        for (const QString &named : {network.cookiesFile, network.caFile}) {
            if (!named.isEmpty())
                m_err << "caiji: "
                      << tr("%1: the workers need %2 in the task's data folder, it is not copied")
                             .arg(task, named)
                      << Qt::endl;
        }
        jobs << job;
    }

    ServerConnection connection(*address);
    JobQueue queue(&connection);
    QString why;
    if (!queue.prepare(&why)) {
        m_err << "caiji: " << tr("cannot use the job queue %1: %2").arg(address->display(), why)
              << Qt::endl;
        return 1;
    }
    const std::optional<ScheduleSettings> schedule = JobQueue::schedule(options.every);
    for (const Job &job : jobs) {
        const std::optional<qint64> id = queue.enqueue(job, &why);
        if (!id) {
            m_out.flush();
            m_err << "caiji: " << tr("cannot put %1 into the job queue: %2").arg(job.task, why)
                  << Qt::endl;
            return 1;
        }
        m_out << *id << '\t' << job.task;
        if (schedule)
            m_out << '\t' << schedule->describe();
        m_out << '\n';
    }
    m_out.flush();
    return 0;
}

int QueueCommands::worker(const CommandLine::Options &options)
{
    const std::optional<ServerAddress> address = queueAddress(u"worker"_s, options);
    if (!address)
        return 2;
    if (!options.positional.isEmpty())
        return fail(tr("worker takes no arguments, only options"));
    // The default workspace is made here; a named one exists (checked).
    if (!QDir().mkpath(options.workspace))
        return fail(tr("cannot make the workspace %1").arg(options.workspace));
    // The jobs' tasks go into this workspace: nothing else may run there.
    InstanceLock lock(options.workspace);
    switch (lock.tryAcquire()) {
    case InstanceLock::Outcome::Acquired:
        break;
    case InstanceLock::Outcome::HeldByAnother:
        return fail(tr("another caiji is running on the workspace %1").arg(options.workspace));
    case InstanceLock::Outcome::CannotWrite:
        return fail(tr("cannot write the workspace %1 (cannot create %2)")
                        .arg(options.workspace, lock.lockFilePath()));
    }
    QueueWorker worker(m_out, m_err, options, *address);
    return worker.run();
}

int QueueCommands::jobs(const CommandLine::Options &options)
{
    const std::optional<ServerAddress> address = queueAddress(u"jobs"_s, options);
    if (!address)
        return 2;
    if (!options.positional.isEmpty())
        return fail(tr("jobs takes no arguments, only options"));
    ServerConnection connection(*address);
    JobQueue queue(&connection);
    QString why;
    std::optional<QList<Job>> jobs;
    if (queue.prepare(&why))
        jobs = queue.list(&why);
    if (!jobs) {
        m_err << "caiji: " << tr("cannot use the job queue %1: %2").arg(address->display(), why)
              << Qt::endl;
        return 1;
    }
    QMap<Job::State, int> counts;
    QJsonArray list;
    for (const Job &job : *jobs) {
        ++counts[job.state];
        // The next time of a repeating job that waits for it.
        const QDateTime next =
            !job.every.isEmpty() && job.state == Job::State::Waiting ? job.nextAt : QDateTime();
        // A running job's lease: past its end, any worker may claim it.
        const QDateTime lease = job.state == Job::State::Running ? job.leaseUntil : QDateTime();
        if (options.json) {
            list.append(QJsonObject{{u"id"_s, job.id},
                                    {u"task"_s, job.task},
                                    {u"state"_s, Job::stateName(job.state)},
                                    {u"worker"_s, job.worker},
                                    {u"attempts"_s, job.attempts},
                                    {u"cycle"_s, job.cycle},
                                    {u"every"_s, job.every},
                                    {u"table"_s, job.table},
                                    {u"created"_s, timeJson(job.created)},
                                    {u"started"_s, timeJson(job.started)},
                                    {u"ended"_s, timeJson(job.ended)},
                                    {u"next"_s, timeJson(next)},
                                    {u"leaseUntil"_s, timeJson(lease)},
                                    {u"leaseRunOut"_s, lease.isValid() && job.leaseRunOut},
                                    {u"records"_s, countJson(job.records)},
                                    {u"failed"_s, countJson(job.failed)},
                                    {u"summary"_s, job.summary},
                                    {u"failures"_s, job.failures}});
            continue;
        }
        m_out << job.id << '\t' << job.task << '\t' << Job::stateName(job.state) << '\t'
              << (job.worker.isEmpty() ? u"-"_s : job.worker) << '\t' << timeText(job.started)
              << '\t' << timeText(job.ended) << '\t'
              << (job.records < 0 ? u"-"_s : QString::number(job.records)) << '\t'
              << (job.failed < 0 ? u"-"_s : QString::number(job.failed)) << '\t'
              << (next.isValid() ? timeText(next) : u"-"_s) << '\t'
              << (!lease.isValid()  ? u"-"_s
                  : job.leaseRunOut ? tr("%1 (run out)").arg(timeText(lease))
                                    : timeText(lease))
              << '\n';
    }
    const QList<Job::State> states{Job::State::Waiting, Job::State::Running, Job::State::Done,
                                   Job::State::Failed};
    if (options.json) {
        QJsonObject countsJson;
        for (const Job::State state : states)
            countsJson.insert(Job::stateName(state), counts.value(state));
        m_out << QJsonDocument(QJsonObject{{u"jobs"_s, list}, {u"counts"_s, countsJson}})
                     .toJson(QJsonDocument::Indented);
    } else {
        QStringList parts;
        for (const Job::State state : states)
            parts << Job::stateName(state) + u' ' + QString::number(counts.value(state));
        m_out << tr("%1 jobs: %2").arg(jobs->size()).arg(parts.join(u", "_s)) << '\n';
    }
    m_out.flush();
    return 0;
}

} // namespace caiji
