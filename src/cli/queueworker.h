// `caiji worker`: claims jobs from the PostgreSQL job queue, runs each as
// `caiji run` would in task/NAME of its workspace while renewing the job's
// lease, then publishes the records and marks the job done in one
// transaction. Up to N jobs run at once, never two of one task.
#pragma once

#include "cli/commandline.h"
#include "engine/jobqueue.h"
#include "records/serverdatabase.h"
#include "tasks/workspace.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <map>
#include <memory>

class QTextStream;

namespace caiji {

class QueueWorker : public QObject
{
    Q_OBJECT

public:
    // Between two looks for a job while fewer than N run.
    static constexpr int PollMs = 1000;

    QueueWorker(QTextStream &out, QTextStream &err, const CommandLine::Options &options,
                const ServerAddress &queue);
    ~QueueWorker() override;

    // Runs until stopped by a signal or, with --until-empty, until no job
    // can be claimed and none runs. 0, or 1 when a job could not be run or
    // published, or the queue could not be reached at the start.
    int run();

    // "host:pid".
    static QString workerName();

private:
    struct RunningJob;

    void poll();
    void start(const Job &job);
    // Writes the job's task file and settings into task/NAME; false with
    // `why` set.
    bool writeTask(const Job &job, QString *why);
    void renew(qint64 id);
    void taskEnded(qint64 id, const QString &notStarted);
    void publish(qint64 id);
    // The job leaves this worker: its objects go once the event loop is back.
    void finish(qint64 id);
    void stopAll(int signalNumber);
    void print(const Job &job, const QString &what);
    void warn(const QString &message);
    QStringList runningTasks() const;

    QTextStream &m_out;
    QTextStream &m_err;
    CommandLine::Options m_options;
    Workspace m_workspace;
    ServerConnection m_connection;
    JobQueue m_queue;
    QString m_worker;
    std::map<qint64, std::unique_ptr<RunningJob>> m_running;
    QTimer m_poll;
    QEventLoop m_loop;
    QString m_lastWarning; // said once until the next success
    bool m_stopping = false;
    bool m_failed = false;
};

} // namespace caiji
