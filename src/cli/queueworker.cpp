#include "cli/queueworker.h"

#include "engine/collectionengine.h"
#include "engine/networkfetcher.h"
#include "engine/stopsignals.h"
#include "records/failurelog.h"
#include "records/publishrows.h"
#include "tasks/collectsettings.h"
#include "tasks/networksettings.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSysInfo>
#include <QTextStream>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace caiji {

namespace {

// The waits before each new try to publish a job whose server went away;
// after the last the job is left to run out its lease.
const QList<int> PublishRetryMs{1000, 2000, 4000, 8000, 15000};

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

// A name that stays one folder under task/.
bool isFolderName(const QString &name)
{
    return !name.isEmpty() && !name.startsWith(u'.') && !name.contains(u'/') &&
           !name.contains(QChar(0));
}

QString failureText(const QString &database)
{
    QString text;
    for (const FailureEntry &entry : FailureLog::read(database).value_or(QList<FailureEntry>()))
        text += entry.kind + u'\t' + entry.reason + u'\t' + entry.address + u'\n';
    return text;
}

} // namespace

struct QueueWorker::RunningJob
{
    Job job;
    NetworkFetcher listFetcher;
    NetworkFetcher contentFetcher;
    std::unique_ptr<CollectionEngine> engine; // goes before the fetchers it uses
    QTimer renewal;
    QTimer retry;
    bool ended = false;     // the run ended, or never started
    bool dropped = false;   // the lease was lost: neither published nor marked
    bool releasing = false; // stopped by a signal: given back to the queue
    bool finished = false;
    int publishTries = 0;
    JobResult result;
    QList<PublishRow> rows;
};

QueueWorker::QueueWorker(QTextStream &out, QTextStream &err, const CommandLine::Options &options,
                         const ServerAddress &queue)
    : m_out(out), m_err(err), m_options(options), m_workspace(options.workspace),
      m_connection(queue), m_queue(&m_connection), m_worker(workerName())
{
    m_poll.setInterval(PollMs);
    connect(&m_poll, &QTimer::timeout, this, &QueueWorker::poll);
}

QueueWorker::~QueueWorker() = default;

QString QueueWorker::workerName()
{
    return QSysInfo::machineHostName() + u':' + QString::number(::getpid());
}

int QueueWorker::run()
{
    QString why;
    if (!m_queue.prepare(&why)) {
        m_err << "caiji: "
              << tr("cannot use the job queue %1: %2").arg(m_connection.address().display(), why)
              << Qt::endl;
        return 1;
    }
    m_out << "工作进程 " << m_worker << " 开始：队列 " << m_connection.address().display()
          << "，工作目录 " << QDir(m_workspace.root()).absolutePath() << "，同时最多"
          << m_options.jobs << "个作业\n";
    m_out.flush();
    StopSignals stopSignals;
    connect(&stopSignals, &StopSignals::received, this, &QueueWorker::stopAll);
    m_poll.start();
    QTimer::singleShot(0, this, &QueueWorker::poll);
    m_loop.exec();
    // A second signal ends at once: what still runs goes back to the queue
    // when the server can be told, else when its lease runs out.
    for (const auto &[id, running] : m_running) {
        if (!running->finished && !running->dropped)
            m_queue.release(running->job, &why);
    }
    m_running.clear();
    return m_failed ? 1 : 0;
}

void QueueWorker::poll()
{
    if (m_stopping)
        return;
    bool unreachable = false;
    while (int(m_running.size()) < m_options.jobs) {
        QString why;
        const std::optional<Job> job =
            m_queue.claim(m_worker, m_options.leaseSeconds, runningTasks(), &why);
        if (!job) {
            if (!why.isEmpty()) {
                unreachable = true;
                warn(tr("cannot claim a job: %1").arg(why));
            }
            break;
        }
        m_lastWarning.clear();
        start(*job);
    }
    if (!m_options.untilEmpty || !m_running.empty())
        return;
    // A job a dead worker still holds is claimed once its lease runs out:
    // the queue is not empty before.
    QString why;
    const std::optional<int> held = unreachable ? std::nullopt : m_queue.leasesRunning(&why);
    if (held.value_or(0) > 0)
        return;
    m_failed = m_failed || !held;
    m_loop.quit();
}

QStringList QueueWorker::runningTasks() const
{
    QStringList tasks;
    for (const auto &[id, running] : m_running)
        tasks << running->job.task;
    return tasks;
}

void QueueWorker::print(const Job &job, const QString &what)
{
    m_out << "作业" << job.id << ' ' << job.task << ' ' << what << '\n';
    m_out.flush();
}

void QueueWorker::warn(const QString &message)
{
    // A server that stays away is told once, not at every look.
    if (message == m_lastWarning)
        return;
    m_lastWarning = message;
    m_err << "caiji: " << message << Qt::endl;
}

bool QueueWorker::writeTask(const Job &job, QString *why)
{
    if (!isFolderName(job.task)) {
        *why = u"任务名不能用作文件夹名：%1"_s.arg(job.task);
        return false;
    }
    const QString dir = m_workspace.taskDir(job.task);
    const QString dataDir = dir + u"/data"_s;
    for (const QString &folder :
         {dataDir, m_workspace.webDir(job.task), m_workspace.wekDir(job.task)}) {
        if (!QDir().mkpath(folder)) {
            *why = u"无法建立文件夹%1"_s.arg(folder);
            return false;
        }
    }
    // The task file's bytes as they came (GBK stays GBK).
    const QString settings = NetworkSettings::fileIn(dataDir);
    if (!writeFile(m_workspace.taskFile(job.task), job.definition) ||
        (job.settings.isEmpty() ? QFile::exists(settings) && !QFile::remove(settings)
                                : !writeFile(settings, job.settings))) {
        *why = u"无法写入任务文件夹%1"_s.arg(dir);
        return false;
    }
    // Every run of a job is a run of its own: its records are published
    // under the job's run name, and the next run may be on another machine.
    QString error;
    std::optional<CollectSettings> collect = CollectSettings::read(dataDir, &error);
    if (collect && collect->onlyNew) {
        collect->onlyNew = false;
        if (!collect->write(dataDir)) {
            *why = u"无法写入%1"_s.arg(settings);
            return false;
        }
    }
    return true;
}

void QueueWorker::start(const Job &job)
{
    auto owned = std::make_unique<RunningJob>();
    RunningJob &running = *owned;
    running.job = job;
    m_running[job.id] = std::move(owned);
    print(job, u"开始：%1，第%2次领取"_s.arg(job.runName()).arg(job.attempts));
    QString why;
    if (!writeTask(job, &why)) {
        taskEnded(job.id, why);
        return;
    }
    for (NetworkFetcher *fetcher : {&running.listFetcher, &running.contentFetcher})
        fetcher->setStallTimeoutMs(m_options.timeoutSeconds * 1000);
    running.engine = std::make_unique<CollectionEngine>(
        m_workspace, &running.listFetcher, &running.contentFetcher,
        CollectionEngine::Options{m_options.tickMs, true, m_options.keepRuns, false});
    CollectionEngine *engine = running.engine.get();
    const qint64 id = job.id;
    if (!m_options.quiet) {
        connect(engine, &CollectionEngine::runListLineChanged, this,
                [this](int, const QString &line) {
                    m_out << line << '\n';
                    m_out.flush();
                });
    }
    connect(engine, &CollectionEngine::taskWarning, this,
            [this](int, const QString &name, const QString &message) {
                m_err << "caiji: " << name << ": " << message << Qt::endl;
            });
    connect(engine, &CollectionEngine::taskCompleted, this, [this, id] { taskEnded(id, {}); });
    connect(engine, &CollectionEngine::taskNotStarted, this,
            [this, id](int, const QString &, const QString &reason) {
                taskEnded(id, u"未启动："_s + reason);
            });
    running.renewal.setInterval(m_options.leaseSeconds * 1000 / 3);
    connect(&running.renewal, &QTimer::timeout, this, [this, id] { renew(id); });
    running.renewal.start();
    running.retry.setSingleShot(true);
    connect(&running.retry, &QTimer::timeout, this, [this, id] { publish(id); });
    engine->queueTask(job.task);
}

void QueueWorker::renew(qint64 id)
{
    const auto found = m_running.find(id);
    if (found == m_running.end() || found->second->finished)
        return;
    RunningJob &running = *found->second;
    QString why;
    switch (m_queue.renew(running.job, m_options.leaseSeconds, &why)) {
    case JobQueue::Lease::Held:
        return;
    case JobQueue::Lease::Unknown:
        // Tried again at the next renewal; should the lease run out
        // meanwhile, publishing finds out.
        warn(tr("cannot renew the lease of job %1: %2").arg(id).arg(why));
        return;
    case JobQueue::Lease::Lost:
        break;
    }
    running.dropped = true;
    running.renewal.stop();
    running.retry.stop();
    if (running.ended) {
        print(running.job, u"放弃：租约已失去，记录不发布"_s);
        finish(id);
        return;
    }
    running.engine->stop(u"租约已失去"_s);
    if (!running.ended)
        taskEnded(id, {}); // stopped before its task started
}

void QueueWorker::taskEnded(qint64 id, const QString &notStarted)
{
    const auto found = m_running.find(id);
    if (found == m_running.end() || found->second->ended)
        return;
    RunningJob &running = *found->second;
    running.ended = true;
    QString why;
    if (running.releasing) {
        const bool released = m_queue.release(running.job, &why);
        print(running.job, released
                               ? u"交还队列，记录不发布"_s
                               : u"未能交还队列（%1），租约到期后由别的工作进程接手"_s.arg(why));
        finish(id);
        return;
    }
    if (running.dropped) {
        print(running.job, u"放弃：租约已失去，记录不发布"_s);
        finish(id);
        return;
    }
    if (!notStarted.isNull()) {
        m_failed = true;
        if (!m_queue.fail(running.job, notStarted, &why))
            warn(tr("cannot mark job %1 as failed: %2").arg(id).arg(why));
        print(running.job, u"失败："_s + notStarted);
        finish(id);
        return;
    }
    CollectionEngine::RunSummary summary = running.engine->summary(0);
    const QString database = m_workspace.databaseFile(running.job.task);
    const std::optional<QList<PublishRow>> rows =
        PublishRows::read(database, {}, 0, running.job.runName(), &why);
    if (!rows) {
        running.ended = false;
        taskEnded(id, u"无法读出记录："_s + why);
        return;
    }
    running.rows = *rows;
    // Every row of the run is published under the job's run name.
    for (PublishRow &row : running.rows)
        row.run = running.job.runName();
    // Published in the transaction that stores the summary, or neither is.
    summary.published = rows->size();
    running.result.summary = CollectionEngine::describe(summary);
    running.result.failures = failureText(database);
    running.result.records = summary.tally.recordsStored;
    running.result.failed = summary.tally.failures();
    publish(id);
}

void QueueWorker::publish(qint64 id)
{
    const auto found = m_running.find(id);
    if (found == m_running.end() || found->second->finished)
        return;
    RunningJob &running = *found->second;
    QString why;
    switch (m_queue.complete(running.job, running.result, running.rows, &why)) {
    case JobQueue::Completion::Done:
        m_lastWarning.clear();
        print(running.job, u"完成："_s + running.result.summary);
        break;
    case JobQueue::Completion::Lost:
        print(running.job, u"放弃："_s + why + u"，记录不发布"_s);
        break;
    case JobQueue::Completion::Refused: {
        m_failed = true;
        const QString reason = u"记录未能发布：%1"_s.arg(why);
        if (!m_queue.fail(running.job, reason, &why))
            warn(tr("cannot mark job %1 as failed: %2").arg(id).arg(why));
        print(running.job, u"失败："_s + reason);
        break;
    }
    case JobQueue::Completion::Unreachable:
        if (!m_stopping && running.publishTries < PublishRetryMs.size()) {
            warn(tr("cannot publish job %1, trying again: %2").arg(id).arg(why));
            running.retry.start(PublishRetryMs[running.publishTries++]);
            return;
        }
        m_failed = true;
        print(running.job, u"失败：记录未能发布（%1），租约到期后由别的工作进程重做"_s.arg(why));
        break;
    }
    finish(id);
}

void QueueWorker::finish(qint64 id)
{
    const auto found = m_running.find(id);
    if (found == m_running.end() || found->second->finished)
        return;
    found->second->finished = true;
    found->second->renewal.stop();
    found->second->retry.stop();
    // Called from the engine's own signals: it goes once they have returned.
    QTimer::singleShot(0, this, [this, id] {
        m_running.erase(id);
        if (m_stopping) {
            if (m_running.empty())
                m_loop.quit();
            return;
        }
        poll();
    });
}

void QueueWorker::stopAll(int signalNumber)
{
    if (m_stopping) {
        m_loop.quit();
        return;
    }
    m_stopping = true;
    m_poll.stop();
    if (m_running.empty()) {
        m_loop.quit();
        return;
    }
    QList<qint64> ids;
    for (const auto &[id, running] : m_running)
        ids << id;
    for (const qint64 id : ids) {
        RunningJob &running = *m_running.at(id);
        if (running.finished)
            continue;
        running.releasing = true;
        running.renewal.stop();
        running.retry.stop();
        if (running.ended) {
            // Its records wait to be published: it is run again instead.
            running.ended = false;
            taskEnded(id, {});
        } else if (running.engine) {
            running.engine->stop(StopSignals::reason(signalNumber));
            if (!running.ended)
                taskEnded(id, {});
        }
    }
}

} // namespace caiji
