// Publishes the records of running tasks while they are stored: every few
// seconds and once more when a task ends, in a thread of its own, so that a
// slow or stopped server never holds up collecting. What the server did not
// take stays in the local database for `caiji publish`.
#pragma once

#include "records/recordpublisher.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>

class QThread;

namespace caiji {

class LivePublisher : public QObject
{
    Q_OBJECT

public:
    // Between two looks at a running task's database.
    static constexpr int IntervalMs = 2000;

    explicit LivePublisher(QObject *parent = nullptr);
    ~LivePublisher() override;

    // A task has started storing into `database`: its rows after `afterRow`
    // go to `url`, into `table`.
    void follow(const QString &task, const QString &database, const QString &url,
                const QString &table, qint64 afterRow = 0);
    // The task has ended: its last rows are published, the connection lost
    // before tried again a few times, then finished() says how it went.
    void finish(const QString &task);
    // finish() of every task still followed (a run stopped early).
    void finishAll();
    // Tasks followed and not yet finished.
    bool isBusy() const { return !m_pending.isEmpty(); }
    // Waits (turning the event loop) until every task has finished, at most
    // `timeoutMs`.
    bool waitForFinished(int timeoutMs);

    // The waits before each new try when a task ends (shorter in tests).
    void setFinalRetryDelays(const QList<int> &delaysMs);

Q_SIGNALS:
    void published(const QString &task, qint64 rows);
    void finished(const QString &task, const caiji::PublishOutcome &outcome);

private:
    class Worker;

    QThread *m_thread;
    Worker *m_worker;
    struct Followed
    {
        QString database;
        std::shared_ptr<std::atomic<qint64>> mark;
    };

    QHash<QString, int> m_pending;       // runs followed, finished() not yet come
    QHash<QString, int> m_finishing;     // of those, finish() asked
    QHash<QString, Followed> m_followed; // the newest run of each task
};

} // namespace caiji

Q_DECLARE_METATYPE(caiji::PublishOutcome)
