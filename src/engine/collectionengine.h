// The collection engine: the scheduler that runs queued tasks one after
// another, with the crawler and the collector it drives. Its three tick
// handlers and two completion handlers are public so tests can drive them;
// the timers only call them. A window observes it through its signals.
#pragma once

#include "engine/collector.h"
#include "engine/crawler.h"
#include "engine/enginestate.h"
#include "engine/enginetimer.h"
#include "records/failurelog.h"
#include "tasks/workspace.h"

#include <QObject>

namespace caiji {

class Fetcher;
class RunHistory;

class CollectionEngine : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        int tickMs = 1000;
        bool driveTimers = true; // false: only direct calls tick
        int keepRuns = 5;        // earlier runs' databases kept per task
        bool onlyNew = false;    // every task as if its settings said onlyNew
    };

    // How one queued run of a task ended (or how far it got).
    struct RunSummary
    {
        QString name;
        bool started = false;
        QString notStartedReason;
        RunTally tally;
        QString reasons; // the commonest failure reasons, "HTTP 404×10，超时×2"
        QStringList notes; // what else the run should be told ("失败清单少记3条（磁盘已满）")
        // Records published to a server database while the run stored them,
        // and those the server did not take (they stay in the database).
        qint64 published = 0;
        qint64 publishFailed = 0;
    };

    // How long records wait for a database another program holds before
    // they are refused.
    static constexpr int RecordWaitMs = 60000;

    // The fetchers are not owned: `listFetcher` serves the crawler's slots,
    // `contentFetcher` the collector's.
    CollectionEngine(const Workspace &workspace, Fetcher *listFetcher, Fetcher *contentFetcher,
                     Options options, QObject *parent = nullptr);
    ~CollectionEngine() override;

    const Workspace &workspace() const { return m_workspace; }
    const EngineState &state() const { return m_state; }
    int tickMs() const { return m_options.tickMs; }

    // Queues every task folder of the workspace (sorted by name) and starts
    // the scheduler; the first task starts at its first tick.
    QStringList startUp();
    void queueTask(const QString &name);

    void pause();
    void resume();
    // Ends the run at once, as on Ctrl-C: the running task completes with its
    // transfers in flight and the pages it never reached counted as failed
    // for `reason` (its finished records are stored), and the tasks still
    // queued do not start.
    void stop(const QString &reason);
    bool isPaused() const;

    void schedulerTick();
    void crawlerTick();
    void collectorTick();
    void listFetchDone(int index, const QString &url, const QString &file, const QString &text,
                       qint64 count, const QString &tag1, const QString &tag2,
                       const QByteArray &body, const QByteArray &charset);
    void contentFetchDone(int index, const QString &url, const QString &file, const QString &text,
                          qint64 count, const QString &tag1, const QString &tag2,
                          const QByteArray &body, const QByteArray &charset);

    // Record lines of the run's stored records `first` to `first + count - 1`
    // (all from `first` when count is negative), read from the database.
    QStringList runRecords(int first = 0, int count = -1) const;
    int runRecordCount() const { return int(m_state.runRowIds.size()); }

    // True once every queued task has been declared complete or refused.
    bool allQueuedComplete() const;
    // The run at `index` of the task queue; the running one as it stands.
    RunSummary summary(int index) const;
    // "页面请求A,失败B,记录存储C,被拒D,下载存储E,下载失败F", ",重试G" and ",乱码H"
    // when fetches were tried again or pages garbled, ",已采页面I" and
    // ",已有记录J" for what only-new runs left out, then the commonest
    // failure reasons and the notes, or why it did not start.
    static QString describe(const RunSummary &summary);

    EngineTimer &timer1() { return m_timer1; }
    EngineTimer &timer2() { return m_timer2; }
    EngineTimer &timer3() { return m_timer3; }

    static QString paddedName(const QString &name);
    static QString completeMarker();
    static QString notStartedMarker();

Q_SIGNALS:
    // A run-list line was added (index == previous count) or rewritten.
    void runListLineChanged(int index, const QString &line);
    void runRecordsCleared();
    // The record at `row` of the run's records was stored.
    void recordStored(int row, const QString &recordLine);
    // The database did not take the record; it is not listed as stored.
    void recordRefused(const QString &recordLine, const QString &reason);
    void fetchFailed(const caiji::FailedFetch &failure);
    // The count shown beside the run's records, refreshed with the status line.
    void recordCountChanged(int count);
    void taskStarted(int index, const QString &name);
    // A download of the running task stored its file (a picture may now show).
    void downloadStored(const QString &url);
    void taskCompleted(int index, const QString &name);
    // The task could not start (its settings cannot give a record table, or
    // the database cannot be made); the next queued task starts at the next tick.
    void taskNotStarted(int index, const QString &name, const QString &reason);
    // Something the user must hear of at once: the failure list cannot be
    // written, the database was deleted under the run.
    void taskWarning(int index, const QString &name, const QString &message);

private:
    void setRunLine(int index, const QString &line);
    void writeStatus();
    // `reason`: why fetches still out, and pages never fetched, failed.
    void completeTask(const QString &reason = QString());
    void startNextTask();
    // Why the task at the current index cannot start, or nothing.
    std::optional<QString> prepareDatabase(const QString &taskText);
    // Only what is new: opens the task's database to add to it, with what it
    // holds. False when there is none to continue.
    bool continueDatabase(const QString &database);
    static QStringList historyNames(const RunHistory &history);
    void refuseTask(const QString &reason);
    void listFailure(const FailedFetch &failure);
    void fillSummary(RunSummary &summary) const;
    QString commonReasons() const;
    QString failureSuffix() const;
    void seedSchemeOne();
    void storeRecord(const RecordToStore &record);
    // False when the database was busy: the record is to be tried again.
    bool tryStore(const RecordToStore &record);
    // Stores the records that waited for a busy database, in order; those
    // that waited too long (or all that are left, `finally`) are refused.
    void retryWaitingRecords(bool finally = false);
    void refuseRecord(const QString &recordLine, const QString &reason);
    void loseDeletedDatabase();
    void abandonFetches();

    Workspace m_workspace;
    Fetcher *m_listFetcher;
    Fetcher *m_contentFetcher;
    Options m_options;
    EngineState m_state;
    Crawler m_crawler;
    Collector m_collector;
    EngineTimer m_timer1;          // collector
    EngineTimer m_timer2;          // crawler
    EngineTimer m_timer3;          // scheduler
    QList<RunSummary> m_summaries; // one per started or refused queue entry
    FailureLog m_failureLog;       // the running task's list of failures
    QString m_failureLogError;     // why the first line it could not take was lost
};

} // namespace caiji
